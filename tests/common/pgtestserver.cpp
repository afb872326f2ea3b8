#include "pgtestserver.h"

#include "serverschema.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString serverUser = QStringLiteral("postgres");

bool asRoot() {
    return geteuid() == 0;
}

// The newest installed server's programs (/usr/lib/postgresql/<version>/bin).
QString findBinFolder() {
    QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(found.begin(), found.end(), [](const QString& a, const QString& b) { return a.toInt() > b.toInt(); });
    for (const QString& version : found) {
        const QString bin = versions.filePath(version + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")))
            return bin;
    }
    return QString();
}

// Gives the folder to the server's user, so that the server (never root) can write there.
bool giveToServerUser(const QString& path) {
    const passwd* user = getpwnam("postgres");
    return user && ::chown(QFile::encodeName(path).constData(), user->pw_uid, user->pw_gid) == 0;
}

PgTestServer* sharedServer = nullptr;

void removeShared() {
    delete sharedServer;
    sharedServer = nullptr;
}
} // namespace

PgTestServer::PgTestServer() = default;

PgTestServer::~PgTestServer() {
    removeAll();
}

PgTestServer* PgTestServer::shared(QString* error) {
    static QString failure;
    if (!sharedServer && failure.isEmpty()) {
        auto server = std::make_unique<PgTestServer>();
        if (server->start(&failure)) {
            sharedServer = server.release();
            qAddPostRoutine(removeShared);
        }
    }
    if (!sharedServer && error)
        *error = failure;
    return sharedServer;
}

QString PgTestServer::socketFolder() const {
    return _folder ? _folder->path() : QString();
}

QString PgTestServer::dataFolder() const {
    return socketFolder() + QStringLiteral("/data");
}

QString PgTestServer::binary(const QString& name) const {
    return _binFolder + QLatin1Char('/') + name;
}

bool PgTestServer::run(const QString& program, const QStringList& arguments, QString* error, int timeoutMs) const {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    // A working folder the server's user may enter.
    process.setWorkingDirectory(socketFolder());
    if (asRoot())
        process.start(QStringLiteral("runuser"), QStringList{"-u", serverUser, "--", program} + arguments);
    else
        process.start(program, arguments);
    const bool finished = process.waitForFinished(timeoutMs);
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    if (!finished)
        process.kill();
    if (error)
        *error = QStringLiteral("%1 failed (%2): %3")
                     .arg(QFileInfo(program).fileName(),
                          finished ? QString::number(process.exitCode()) : QStringLiteral("timed out"),
                          QString::fromLocal8Bit(process.readAll()).trimmed());
    return false;
}

bool PgTestServer::start(QString* error) {
    const auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        removeAll();
        return false;
    };
    _binFolder = findBinFolder();
    if (_binFolder.isEmpty())
        return fail(QStringLiteral("no PostgreSQL server installed (/usr/lib/postgresql/*/bin/initdb)"));
    // Under /tmp whatever TMPDIR says: the server's user must be able to reach the folder.
    _folder = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/orvane-pg-XXXXXX"));
    if (!_folder->isValid())
        return fail(QStringLiteral("no temporary folder for the server: %1").arg(_folder->errorString()));
    if (asRoot() && !giveToServerUser(_folder->path()))
        return fail(QStringLiteral("cannot give %1 to the user postgres").arg(_folder->path()));
    startWatchdog();
    QString reason;
    if (!run(binary(QStringLiteral("initdb")),
             {"-D", dataFolder(), "-U", superUser(), "-A", "trust", "-E", "UTF8", "--locale=C.UTF-8", "--no-sync"},
             &reason))
        return fail(reason);
    // Only the socket: no network address is ever opened.
    QFile conf(dataFolder() + QStringLiteral("/postgresql.conf"));
    if (!conf.open(QIODevice::Append))
        return fail(conf.errorString());
    conf.write(QStringLiteral("listen_addresses = ''\nunix_socket_directories = '%1'\nport = %2\n"
                              "fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n"
                              "max_connections = 40\nshared_buffers = 32MB\n")
                   .arg(socketFolder())
                   .arg(_port)
                   .toUtf8());
    conf.close();
    _running = true;
    if (!resume(&reason))
        return fail(reason);
    return true;
}

bool PgTestServer::pause(QString* error) {
    if (!_running)
        return true;
    if (!run(binary(QStringLiteral("pg_ctl")), {"-D", dataFolder(), "-m", "fast", "-w", "stop"}, error))
        return false;
    _running = false;
    return true;
}

bool PgTestServer::resume(QString* error) {
    if (!run(binary(QStringLiteral("pg_ctl")),
             {"-D", dataFolder(), "-l", socketFolder() + QStringLiteral("/server.log"), "-w", "-t", "60", "start"},
             error))
        return false;
    _running = true;
    return true;
}

void PgTestServer::startWatchdog() {
    // Stops the server and removes its folder once this process is gone, however it ended.
    const QString stop = QStringLiteral("%1%2 -D '%3' -m immediate stop")
                             .arg(asRoot() ? QStringLiteral("runuser -u postgres -- ") : QString(),
                                  binary(QStringLiteral("pg_ctl")), dataFolder());
    const QString script = QStringLiteral("while kill -0 %1 2>/dev/null; do sleep 1; done; %2 >/dev/null 2>&1; "
                                          "rm -rf '%3'")
                               .arg(QCoreApplication::applicationPid())
                               .arg(stop, socketFolder());
    QProcess::startDetached(QStringLiteral("/bin/sh"), {"-c", script}, QString(), &_watchdog);
}

void PgTestServer::removeAll() {
    if (_running)
        run(binary(QStringLiteral("pg_ctl")), {"-D", dataFolder(), "-m", "immediate", "-w", "stop"}, nullptr);
    _running = false;
    if (_watchdog > 0)
        ::kill(pid_t(_watchdog), SIGKILL);
    _watchdog = 0;
    _folder.reset();
}

QString PgTestServer::createDatabase(QString* error) {
    const QString name = QStringLiteral("registry_%1").arg(++_databases);
    if (!exec(QStringLiteral("postgres"), {QStringLiteral("CREATE DATABASE %1").arg(name)}, error))
        return QString();
    return name;
}

bool PgTestServer::addPasswordRole(const QString& role, const QString& password, QString* error) {
    QString escaped = password;
    escaped.replace(QLatin1Char('\''), QStringLiteral("''"));
    if (!exec(QStringLiteral("postgres"),
              {QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2'").arg(role, escaped),
               QStringLiteral("GRANT ALL ON SCHEMA public TO %1").arg(role)},
              error))
        return false;
    // Checked before the "trust" lines initdb wrote.
    QFile hba(dataFolder() + QStringLiteral("/pg_hba.conf"));
    if (!hba.open(QIODevice::ReadOnly)) {
        if (error)
            *error = hba.errorString();
        return false;
    }
    const QByteArray rest = hba.readAll();
    hba.close();
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = hba.errorString();
        return false;
    }
    hba.write(QStringLiteral("local all %1 scram-sha-256\n").arg(role).toUtf8() + rest);
    hba.close();
    return exec(QStringLiteral("postgres"), {QStringLiteral("SELECT pg_reload_conf()")}, error);
}

QSqlDatabase PgTestServer::connect(const QString& connectionName, const QString& database, QString* error,
                                   const QString& user, const QString& password) const {
    QSqlDatabase db = QSqlDatabase::contains(connectionName) ? QSqlDatabase::database(connectionName, false)
                                                             : QSqlDatabase::addDatabase("QPSQL", connectionName);
    db.setHostName(socketFolder());
    db.setPort(_port);
    db.setDatabaseName(database);
    db.setUserName(user.isEmpty() ? superUser() : user);
    db.setPassword(password);
    if (!db.open() && error)
        *error = db.lastError().text();
    return db;
}

QString PgTestServer::createRegistryAsProgram(QString* error) {
    QString reason;
    const QString database = createDatabase(&reason);
    if (!database.isEmpty()) {
        QSqlDatabase::database().close();
        QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
        QSqlDatabase db = connect(QLatin1String(QSqlDatabase::defaultConnection), database, &reason);
        if (db.isOpen() && ServerSchema::create(db, &reason))
            return database;
    }
    if (error)
        *error = reason;
    return QString();
}

QSqlQuery PgTestServer::run(QSqlDatabase db, const QString& statement, const QVariantList& values) {
    QSqlQuery query(db);
    bool ok = false;
    if (values.isEmpty()) {
        ok = query.exec(statement);
    } else {
        query.prepare(statement);
        for (int i = 0; i < values.size(); ++i)
            query.bindValue(i, values[i]);
        ok = query.exec();
    }
    if (!ok)
        qWarning() << query.lastError().text() << statement;
    return query;
}

bool PgTestServer::exec(const QString& database, const QStringList& statements, QString* error) const {
    const QString name = QStringLiteral("pgtestserver-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    bool ok = true;
    {
        QSqlDatabase db = connect(name, database, error);
        ok = db.isOpen();
        for (const QString& statement : statements) {
            if (!ok)
                break;
            QSqlQuery query(db);
            ok = query.exec(statement);
            if (!ok && error)
                *error = statement + QStringLiteral(": ") + query.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

ServerAddress PgTestServer::addressOf(const QString& database) const {
    ServerAddress address;
    address.host = socketFolder();
    address.port = port();
    address.database = database;
    address.user = superUser();
    return address;
}
