#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// The history of the documents on a server, written by the server itself: row triggers on the
// documents, their subjects and FRDO rows add the entries to DocumentHistory in the transaction of
// the change, whoever makes it (this program, another one, psql), with the rights of whoever makes
// it. The entries of one transaction and one document merge into one.
class ServerHistory {
public:
    // The functions and triggers (part of the server schema's derived structure).
    static QStringList statements();

    // The kind that tells the triggers to record nothing of the transaction: the move of a
    // registry and the restore put rows back, they change no document.
    static constexpr const char* silentKind = "move";
    // Inside a transaction: `silent` makes the triggers record nothing until it ends (or until
    // called again with false). False with the reason.
    static bool setSilent(QSqlDatabase& db, bool silent, QString* error);
};
