#pragma once

#include "pgtestserver.h"

#include <QString>
#include <QStringList>

// The two roles the server guide has an administrator make, and logins holding one of them, on a
// registry database of the test server.
namespace RegistryRoles {
// Each statement takes the role's name for %1.
inline QStringList readerRights() {
    return {QStringLiteral("GRANT SELECT ON ALL TABLES IN SCHEMA public TO %1")};
}
inline QStringList documentWrites() {
    return {QStringLiteral("GRANT INSERT, UPDATE, DELETE ON ProfDocuments, ProfDetails, ProfFrdo, Bosses, Variables "
                           "TO %1")};
}
inline QStringList historyWrites() {
    return {QStringLiteral("GRANT INSERT, UPDATE, DELETE ON DocumentHistory TO %1")};
}
inline QStringList logWrites() {
    return {QStringLiteral("GRANT INSERT, DELETE ON orvane_list_log TO %1"),
            QStringLiteral("GRANT UPDATE ON orvane_list_pruned TO %1")};
}
inline QStringList sequenceUse() {
    return {QStringLiteral("GRANT USAGE ON ALL SEQUENCES IN SCHEMA public TO %1")};
}
inline QStringList editorRights() {
    return readerRights() + documentWrites() + historyWrites() + logWrites() + sequenceUse();
}

// A password login `user` on `database` holding `rights` through a role of its own; its address,
// or an empty one with the reason.
inline ServerAddress addLogin(PgTestServer* server, const QString& database, const QString& user,
                              const QStringList& rights, QString* error) {
    const QString role = user + QStringLiteral("_role");
    const QString password = QStringLiteral("пароль'1");
    QStringList statements = {QStringLiteral("CREATE ROLE %1 NOLOGIN").arg(role)};
    for (const QString& right : rights)
        statements << right.arg(role);
    statements << QStringLiteral("GRANT %1 TO %2").arg(role, user);
    if (!server->addPasswordRole(user, password, error) || !server->exec(database, statements, error))
        return ServerAddress();
    ServerAddress login = server->addressOf(database);
    login.user = user;
    login.password = password;
    return login;
}
} // namespace RegistryRoles
