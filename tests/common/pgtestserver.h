#pragma once

#include "serveraddress.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <memory>

class QTemporaryDir;

// A throwaway PostgreSQL server for the tests: a cluster of its own in a folder under /tmp,
// listening only on a Unix socket in that folder (never on a network address), run as the
// package's "postgres" user when the tests run as root (the server refuses to run as root).
// stop() and the destructor shut it down and remove the folder; should the test process die
// first, a watchdog started with the server does the same within a second.
class PgTestServer {
public:
    PgTestServer();
    ~PgTestServer();
    PgTestServer(const PgTestServer&) = delete;
    PgTestServer& operator=(const PgTestServer&) = delete;

    // One server for the whole test process, started on first use and removed when the
    // application object goes; null with the reason when it cannot be started.
    static PgTestServer* shared(QString* error = nullptr);

    // initdb and start; false with the reason (the programs' output) otherwise.
    bool start(QString* error);
    // Shuts the server down (fast mode: open connections are cut) and keeps the cluster, so that
    // resume() brings the same data back: the tests' "connection lost".
    bool pause(QString* error = nullptr);
    bool resume(QString* error = nullptr);
    bool isRunning() const { return _running; }

    // Where the socket is (libpq's host for it) and its number (libpq's port).
    QString socketFolder() const;
    int port() const { return _port; }
    QString superUser() const { return QStringLiteral("postgres"); }
    // The program's address of `database` on this server, as the superuser.
    ServerAddress addressOf(const QString& database) const;

    // A new empty database with a name no other test used; empty with the reason otherwise.
    QString createDatabase(QString* error = nullptr);
    // A role that logs in with a password only (scram-sha-256), for the connection checks.
    bool addPasswordRole(const QString& role, const QString& password, QString* error = nullptr);
    // An open QPSQL connection to `database` under `connectionName`; the superuser when `user` is empty.
    QSqlDatabase connect(const QString& connectionName, const QString& database, QString* error = nullptr,
                         const QString& user = QString(), const QString& password = QString()) const;
    // A new database holding an empty registry, opened as the program's own connection (the default
    // one, closed and replaced first); its name, or empty with the reason.
    QString createRegistryAsProgram(QString* error = nullptr);
    // Runs one statement on `db` with its values bound, warning with the reason when it fails. The
    // server prepares no utility statements (SET, DDL), so one without values goes as it is.
    static QSqlQuery run(QSqlDatabase db, const QString& statement, const QVariantList& values = {});
    // Runs statements as the superuser on `database`, each in its own round trip.
    bool exec(const QString& database, const QStringList& statements, QString* error = nullptr) const;

private:
    // Runs a server program (as "postgres" when we are root); false with its output otherwise.
    bool run(const QString& program, const QStringList& arguments, QString* error, int timeoutMs = 120000) const;
    QString binary(const QString& name) const;
    QString dataFolder() const;
    void startWatchdog();
    void removeAll();

    std::unique_ptr<QTemporaryDir> _folder;
    QString _binFolder;
    int _port = 5432;
    bool _running = false;
    qint64 _watchdog = 0;
    mutable int _databases = 0;
};
