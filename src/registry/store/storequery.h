#pragma once

#include <QSqlQuery>
#include <QString>

class QSqlError;
class QSqlRecord;
class QSqlTableModel;

// What the registry's stores share: statements on the main connection, and the reason SQLite
// gave for a failure, without the driver's own words (the second line of the dialogs' boxes).
namespace StoreQuery {
QSqlQuery prepared(const QString& sql);
// Runs a prepared query; false (logged) on failure. Works before the process-wide database
// exists, for tools and tests that open a registry on the default connection themselves.
bool exec(QSqlQuery& query);
// As exec(), keeping the reason of a failure in `error`.
bool write(QSqlQuery& query, QString* error);

QString reasonOf(const QSqlError& error);
QString reasonOf(const QSqlQuery& query);
QString reasonOf(const QSqlTableModel* model);
// Sets `*error` (when given) to `reason` unless an earlier reason is there: the first one counts.
void keep(QString* error, const QString& reason);
// The row of `table` that belongs to document `profId`; false with no reason when there is none,
// false with the reason when it cannot be read. `table` is one of the registry's own.
bool readDocumentRow(const QString& table, qint64 profId, QSqlRecord* row, QString* error);
// The reason of a write tried while no registry is open.
QString notOpenText();
} // namespace StoreQuery
