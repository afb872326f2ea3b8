#pragma once

#include "dbtable.h"

#include <QMap>
#include <QString>
#include <QStringList>

class QSqlDatabase;

// What the login of a server connection may do with the registry: a login that cannot write every
// table a save touches (the documents and their rows, the signatories, the variables, the history
// and the list's change log the server's triggers write in the same transaction, and the sequences
// that number new rows) gets a program that only reads, instead of saves that fail one by one.
class ServerPrivileges {
public:
    // Reads the rights of the connection's login on the registry's `tables`; false with the
    // reason when the server could not say.
    bool read(QSqlDatabase& db, const QMap<QString, DBTable>& tables, QString* error = nullptr);

    bool mayWrite() const { return _missing.isEmpty(); }
    // The rights a save would need and the login lacks ("INSERT ON profdocuments", "USAGE ON
    // profdocuments_profid_seq"), for the log and the administrator.
    QStringList missing() const { return _missing; }

    // Why the program only reads, for the title's tooltip and every disabled action.
    static QString readOnlyText(const QString& login);

private:
    bool check(QSqlDatabase& db, const QString& table, const QStringList& rights, QString* error);
    bool checkSequence(QSqlDatabase& db, const QString& table, const QString& key, QString* error);

    QStringList _missing;
};
