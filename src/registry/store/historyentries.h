#pragma once

#include "documenthistory.h"
#include "storequery.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVector>

// The entries of one write on a registry file (DocumentHistory::record): their statement is
// prepared once and their time taken once, so that what one transaction changes is recorded at
// one moment, as a server records it, and an import of many documents pays for one statement.
// They are written through SQLite's own interface: an import's entries are most of what it writes,
// and the driver would hand each one over as UTF-16 for SQLite to convert.
class HistoryEntries {
public:
    explicit HistoryEntries(const QSqlDatabase& db);
    // The entry of the change of `profId` from `before` to `after` (none for an edit that changed
    // nothing); false with the reason when it cannot be written.
    bool record(qint64 profId, DocumentHistory::Kind kind, const DocumentHistory::State& before,
                const DocumentHistory::State& after, const QString& source, QString* error);

    // A row as an import wrote it: its columns in the order of their names, as a QVariantMap holds
    // them, and the values written (NULL: none).
    struct Row {
        QStringList columns;
        QVector<QVariant> values;
        QVariant value(const QString& column) const;
    };
    // The "import" entry of a document an import made: its own row and its FRDO row (no columns
    // when none) as written, and its appendix as addedSubjects() gave it once for the whole import.
    // Every value is new: its changes leave "old" out.
    bool recordImported(qint64 profId, const Row& document, const Row& frdo, const QString& subjects,
                        const QString& source, QString* error);
    // The changes that add these subjects, each without its key ("row") and "old": an import
    // copies the same appendix to every document and does not read back the keys the copies got.
    static QString addedSubjects(const QVector<QVariantMap>& subjects);

private:
    // `docName` and `attNumber` name the document in the journal's list.
    bool write(qint64 profId, DocumentHistory::Kind kind, const QString& docName, const QVariant& attNumber,
               const QString& changes, const QVariant& snapshot, const QString& source, QString* error);

    const QSqlDatabase _db;
    StoreQuery::SqliteStatement _insert;
    QString _changes; // an import's entries, one after the other
    const QString _changedAt;
};
