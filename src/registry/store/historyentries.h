#pragma once

#include "documenthistory.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

// The entries of one write on a registry file (DocumentHistory::record): their statement is
// prepared once and their time taken once, so that what one transaction changes is recorded at
// one moment, as a server records it, and an import of many documents pays for one statement.
class HistoryEntries {
public:
    explicit HistoryEntries(const QSqlDatabase& db);
    // The entry of the change of `profId` from `before` to `after` (none for an edit that changed
    // nothing); false with the reason when it cannot be written.
    bool record(qint64 profId, DocumentHistory::Kind kind, const DocumentHistory::State& before,
                const DocumentHistory::State& after, const QString& source, QString* error);

private:
    QSqlQuery _insert;
    bool _prepared = false;
    const QString _changedAt;
};
