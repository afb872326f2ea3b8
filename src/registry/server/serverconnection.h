#pragma once

#include "serveraddress.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

// What went wrong reaching a server, for a message the clerk understands.
enum class ServerProblem {
    None,
    HostNotFound,    // the name does not resolve, or nothing listens there
    WrongPassword,   // authentication refused (or a password is needed and none was given)
    DatabaseMissing, // the server has no database of that name
    ServerTooOld,    // older than the oldest version the registry's statements run on
    NoRights,        // connected, but the user may not read or create the registry's tables
    NoDriver,        // this computer lacks Qt's PostgreSQL driver (package libqt5sql5-psql)
    Other,
};

namespace ServerConnection {
// The oldest server version the registry supports (server_version_num).
constexpr int minimumVersion = 120000;
// Whether a server reporting `versionNum` (server_version_num) runs the registry's statements.
bool versionSupported(int versionNum);

// Opens `address` under `connectionName` (added, or reused when it exists): on success the open
// connection; otherwise *problem and *error say why in words (Russian, for the clerk), and the
// connection is closed. A server older than minimumVersion counts as a failure.
bool open(const ServerAddress& address, const QString& connectionName, ServerProblem* problem, QString* error);

// "Проверить подключение": connects on a connection of its own, checks the version and that the
// user may create tables in the database (or read an existing registry there), and lets go.
// The text says what is wrong, or what was found ("Подключение установлено. …").
bool check(const ServerAddress& address, ServerProblem* problem, QString* text);

// The name every connection of this program gives the server ("orvane-" and an id of the run).
QString applicationName();
// How many other programs are connected to the database of `db` (our own connections left out);
// -1 with the reason when the server cannot say.
int otherPrograms(QSqlDatabase& db, QString* error = nullptr);

// The problem a failed open or statement means, from the driver's error (SQLSTATE and text).
ServerProblem problemOf(const QSqlError& error);
// The clerk's words for a problem; `detail` is added where it helps: the host and port of a server
// not found, the database missing or refused, the driver's own text of any other failure.
QString problemText(ServerProblem problem, const QString& detail = QString());
} // namespace ServerConnection

// A connection of its own for one piece of work: opened under `connectionName` at construction,
// closed and removed when it goes. Whatever uses it (queries, copies of database()) must be gone
// by then: declare them after it. Used from the thread that made it only.
class ScopedServerConnection {
public:
    ScopedServerConnection(const ServerAddress& address, const QString& connectionName);
    ~ScopedServerConnection();
    ScopedServerConnection(const ScopedServerConnection&) = delete;
    ScopedServerConnection& operator=(const ScopedServerConnection&) = delete;

    bool isOpen() const { return _open; }
    QSqlDatabase database() const { return QSqlDatabase::database(_name, false); }
    ServerProblem problem() const { return _problem; }
    // Why it did not open, in the clerk's words.
    const QString& error() const { return _error; }

private:
    QString _name;
    bool _open = false;
    ServerProblem _problem = ServerProblem::None;
    QString _error;
};
