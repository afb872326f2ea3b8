#pragma once

#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// The statements of the FRDO dialog on ProfFrdo: the one row of a stored document, keyed by its
// profId, read as the file holds it and written back from values keyed by column name.
namespace FrdoRecords {
// The columns a save writes.
QStringList columns();
// Every column of the row (names found in any case, as SQLite does); false when the document has none or it cannot be
// read.
bool read(qint64 profId, QSqlRecord* row, QString* error = nullptr);
// Makes sure the document has its row; an existing one stays as it is.
bool ensureRow(qint64 profId, QString* error);
// The row is made when missing, then every column of columns() is written from `values` (one
// missing from it becomes NULL); both or neither.
bool write(qint64 profId, const QVariantMap& values, QString* error);
} // namespace FrdoRecords
