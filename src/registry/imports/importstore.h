#pragma once

#include "importplan.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>

// The registry's side of an import: what the plan needs to know, and the one write that makes
// the documents.
namespace ImportStore {
// Every series/number held by a document that is not a duplicate (templates excluded), trimmed.
bool takenNumbers(QSet<QString>* numbers, QString* error);
// The template's own row of ProfDocuments (column name to value); false when there is none.
bool templateRow(qint64 templateId, QVariantMap* row, QString* error);

// Makes one document per record, in order, all or none, in one savepoint: the document's row
// (the record's document columns, editDate now), the template's appendix subjects
// with its appendix text and total flag, the template's FRDO values completed by the FRDO
// auto-fill rules and the record's own FRDO columns (SNILS, sex). `progress` (may be empty) is told the count made
// so far and the total now and then and returns false to cancel: everything is then rolled back,
// `*cancelled` is set and the result is false with no reason. The new ids in order go to `ids`.
// Before anything is written the records' certificate numbers are checked again inside the write's
// transaction, on a server under the lock a document's save takes for its number: numbers another
// program saved since the preview was read go to `taken` (sorted), and nothing is written.
// Each document gets an "import" entry naming `source`, the group list's file (its name only).
bool write(const QVector<ImportRecord>& records, qint64 templateId, QList<qint64>* ids, QString* error,
           const std::function<bool(int done, int total)>& progress = {}, bool* cancelled = nullptr,
           QStringList* taken = nullptr, const QString& source = QString());
} // namespace ImportStore
