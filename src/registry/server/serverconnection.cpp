#include "serverconnection.h"

#include "mzlog.h"
#include "workstation.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace {
const QString driverName = QStringLiteral("QPSQL");
} // namespace

namespace ServerConnection {
namespace {
// Long enough for a slow network, short enough that a wrong name does not freeze the window. The
// application name tells this program's connections from the other programs'.
QString connectOptions() {
    return QStringLiteral("connect_timeout=5;client_encoding=UTF8;application_name=") + applicationName();
}

QVariant scalar(QSqlDatabase& db, const QString& sql, const QVariantList& values, QSqlError* error) {
    QSqlQuery query(db);
    query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec() || !query.next()) {
        *error = query.lastError();
        return QVariant();
    }
    return query.value(0);
}

QString hostText(const ServerAddress& address) {
    return QStringLiteral("%1, порт %2").arg(address.host).arg(address.port);
}

// The thing a problem concerns, for problemText.
QString detailFor(ServerProblem problem, const ServerAddress& address, const QSqlError& error) {
    switch (problem) {
    case ServerProblem::HostNotFound:
        return hostText(address);
    case ServerProblem::DatabaseMissing:
    case ServerProblem::NoRights:
        return address.database;
    case ServerProblem::Other:
        return error.text().trimmed();
    default:
        return QString();
    }
}

void report(ServerProblem found, const QString& text, ServerProblem* problem, QString* error) {
    if (problem)
        *problem = found;
    if (error)
        *error = text;
}

bool failedStatement(const QSqlError& failure, const ServerAddress& address, ServerProblem* problem, QString* text) {
    MZ_LOG() << "server check failed:" << address.toUrl() << failure.text();
    ServerProblem found = problemOf(failure);
    if (found == ServerProblem::None)
        found = ServerProblem::Other;
    report(found, problemText(found, detailFor(found, address, failure)), problem, text);
    return false;
}

// What an open connection offers the registry: room to create it, or an existing one to work on.
bool checkRegistry(QSqlDatabase& db, const ServerAddress& address, ServerProblem* problem, QString* text) {
    QSqlError failure;
    const QString version = scalar(db, QStringLiteral("SELECT current_setting('server_version')"), {}, &failure)
                                .toString()
                                .section(QLatin1Char(' '), 0, 0);
    // pg_tables lists every table; information_schema would hide one the user has no rights on.
    const QVariant tables = scalar(db,
                                   QStringLiteral("SELECT count(*) FROM pg_catalog.pg_tables "
                                                  "WHERE schemaname = 'public' AND tablename = 'profdocuments'"),
                                   {}, &failure);
    if (version.isEmpty() || !tables.isValid())
        return failedStatement(failure, address, problem, text);
    const bool hasRegistry = tables.toInt() > 0;
    // Each privilege on its own: listed together, any one of them would do. A login that may read
    // the registry but not write it (a reader) is no failure: the program opens it for reading.
    const QString rights =
        hasRegistry ? QStringLiteral("SELECT has_table_privilege(current_user, 'public.profdocuments', 'SELECT'), "
                                     "has_table_privilege(current_user, 'public.profdocuments', 'INSERT') "
                                     "AND has_table_privilege(current_user, 'public.profdocuments', 'UPDATE') "
                                     "AND has_table_privilege(current_user, 'public.profdocuments', 'DELETE') "
                                     // Every write adds to the history (an older registry has none yet).
                                     "AND CASE WHEN to_regclass('public.documenthistory') IS NULL THEN true ELSE "
                                     "has_table_privilege(current_user, 'public.documenthistory', 'SELECT') "
                                     "AND has_table_privilege(current_user, 'public.documenthistory', 'INSERT') "
                                     "AND has_table_privilege(current_user, 'public.documenthistory', 'UPDATE') "
                                     "AND has_table_privilege(current_user, 'public.documenthistory', 'DELETE') END")
                    : QStringLiteral("SELECT has_schema_privilege(current_user, 'public', 'CREATE'), true");
    QSqlQuery query(db);
    if (!query.exec(rights) || !query.next()) {
        failure = query.lastError();
        return failedStatement(failure, address, problem, text);
    }
    const bool mayRead = query.value(0).toBool(), mayWrite = query.value(1).toBool();
    if (!mayRead) {
        const QString need = hasRegistry ? QStringLiteral("В базе данных есть реестр, но пользователь не может "
                                                          "читать его таблицы.")
                                         : QStringLiteral("Пользователь не может создавать таблицы в схеме public.");
        report(ServerProblem::NoRights,
               problemText(ServerProblem::NoRights, address.database) + QLatin1Char(' ') + need, problem, text);
        return false;
    }
    QString found = QStringLiteral("база данных пуста");
    if (hasRegistry) {
        // Counted as the list counts: a template is no document.
        const QVariant documents = scalar(
            db, QStringLiteral("SELECT count(*) FROM profdocuments WHERE coalesce(istemplate, 0) <> 1"), {}, &failure);
        const QVariant templates = scalar(
            db, QStringLiteral("SELECT count(*) FROM profdocuments WHERE coalesce(istemplate, 0) = 1"), {}, &failure);
        if (!documents.isValid() || !templates.isValid())
            return failedStatement(failure, address, problem, text);
        found = QStringLiteral("в базе данных есть реестр (документов: %1, шаблонов: %2)")
                    .arg(documents.toLongLong())
                    .arg(templates.toLongLong());
        if (!mayWrite)
            found += QStringLiteral("; пользователь может только читать реестр, программа откроет его только для "
                                    "чтения");
    }
    report(ServerProblem::None, QStringLiteral("Подключение установлено. PostgreSQL %1; %2.").arg(version, found),
           problem, text);
    return true;
}
} // namespace

QString applicationName() {
    static const QString name = QStringLiteral("orvane-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    return name;
}

int otherPrograms(QSqlDatabase& db, QString* error) {
    // Each of our programs has several connections under one name; a client of another kind counts
    // once per connection.
    QSqlError failure;
    const QVariant count = scalar(
        db,
        QStringLiteral("SELECT count(DISTINCT CASE WHEN application_name LIKE 'orvane-%' THEN application_name "
                       "ELSE pid::text END) FROM pg_stat_activity WHERE datname = current_database() "
                       "AND backend_type = 'client backend' AND application_name <> ? AND pid <> pg_backend_pid()"),
        {applicationName()}, &failure);
    if (count.isValid())
        return count.toInt();
    if (error)
        *error = failure.text().trimmed();
    return -1;
}

bool versionSupported(int versionNum) {
    return versionNum >= minimumVersion;
}

bool open(const ServerAddress& address, const QString& connectionName, ServerProblem* problem, QString* error) {
    if (!QSqlDatabase::isDriverAvailable(driverName)) {
        report(ServerProblem::NoDriver, problemText(ServerProblem::NoDriver), problem, error);
        return false;
    }
    QSqlDatabase db = QSqlDatabase::contains(connectionName) ? QSqlDatabase::database(connectionName, false)
                                                             : QSqlDatabase::addDatabase(driverName, connectionName);
    if (db.driverName() != driverName) {
        MZ_LOG() << "connection name taken by another driver:" << connectionName << db.driverName();
        report(ServerProblem::Other, problemText(ServerProblem::Other), problem, error);
        return false;
    }
    db.close();
    db.setHostName(address.host);
    db.setPort(address.port);
    db.setDatabaseName(address.database);
    db.setUserName(address.user);
    db.setPassword(address.password);
    db.setConnectOptions(connectOptions());
    if (!db.open()) {
        const QSqlError failure = db.lastError();
        MZ_LOG() << "server connection failed:" << address.toUrl() << failure.text();
        const ServerProblem found = problemOf(failure);
        report(found, problemText(found, detailFor(found, address, failure)), problem, error);
        db.close();
        return false;
    }
    QSqlError failure;
    const QVariant version =
        scalar(db, QStringLiteral("SELECT current_setting('server_version_num')::int"), {}, &failure);
    if (!version.isValid() || !versionSupported(version.toInt())) {
        const ServerProblem found = version.isValid() ? ServerProblem::ServerTooOld : problemOf(failure);
        MZ_LOG() << "server refused:" << address.toUrl() << version << failure.text();
        report(found, problemText(found, detailFor(found, address, failure)), problem, error);
        db.close();
        return false;
    }
    // Who works on this connection, for the history the server's triggers write; for the session.
    if (!scalar(db,
                QStringLiteral("SELECT set_config('orvane.os_user', coalesce(?, ''), false), "
                               "set_config('orvane.host', coalesce(?, ''), false)"),
                {Workstation::user(), Workstation::name()}, &failure)
             .isValid()) {
        ServerProblem found = problemOf(failure);
        if (found == ServerProblem::None)
            found = ServerProblem::Other;
        MZ_LOG() << "server refused the connection's settings:" << address.toUrl() << failure.text();
        report(found, problemText(found, detailFor(found, address, failure)), problem, error);
        db.close();
        return false;
    }
    report(ServerProblem::None, QString(), problem, error);
    return true;
}

ServerProblem problemOf(const QSqlError& error) {
    if (error.type() == QSqlError::NoError)
        return ServerProblem::None;
    const QString code = error.nativeErrorCode();
    if (code == QLatin1String("28P01") || code == QLatin1String("28000"))
        return ServerProblem::WrongPassword;
    if (code == QLatin1String("3D000"))
        return ServerProblem::DatabaseMissing;
    if (code == QLatin1String("42501"))
        return ServerProblem::NoRights;
    if (code.startsWith(QLatin1String("08")) || code.startsWith(QLatin1String("57P")))
        return ServerProblem::HostNotFound;
    // A failed connect carries no SQLSTATE: libpq's and the server's texts, in English or Russian.
    struct Pattern {
        const char* text;
        ServerProblem problem;
    };
    static const Pattern patterns[] = {
        {"driver not loaded", ServerProblem::NoDriver},
        {"password authentication failed", ServerProblem::WrongPassword},
        {"не прошёл проверку подлинности", ServerProblem::WrongPassword},
        {"no password supplied", ServerProblem::WrongPassword},
        {"authentication failed", ServerProblem::WrongPassword},
        {"role \"", ServerProblem::WrongPassword}, // "role "x" does not exist"
        {"роль \"", ServerProblem::WrongPassword},
        {"pg_hba.conf", ServerProblem::WrongPassword},
        {"permission denied", ServerProblem::NoRights},
        {"доступ к базе", ServerProblem::NoRights},
        {"database \"", ServerProblem::DatabaseMissing}, // "database "x" does not exist"
        {"база данных \"", ServerProblem::DatabaseMissing},
        {"could not translate host name", ServerProblem::HostNotFound},
        {"преобразовать имя", ServerProblem::HostNotFound},
        {"connection refused", ServerProblem::HostNotFound},
        {"no such file or directory", ServerProblem::HostNotFound},
        {"timeout expired", ServerProblem::HostNotFound},
        {"тайм-аут", ServerProblem::HostNotFound},
        {"could not connect to server", ServerProblem::HostNotFound},
        {"connection to server", ServerProblem::HostNotFound},
        {"подключиться к серверу", ServerProblem::HostNotFound},
        {"server closed the connection", ServerProblem::HostNotFound},
        {"сервер неожиданно закрыл соединение", ServerProblem::HostNotFound},
        {"no connection to the server", ServerProblem::HostNotFound},
        {"нет соединения с сервером", ServerProblem::HostNotFound},
        {"terminating connection", ServerProblem::HostNotFound},
        {"database system is", ServerProblem::HostNotFound}, // starting up, shutting down
        {"система баз данных", ServerProblem::HostNotFound},
    };
    const QString text = (error.driverText() + QLatin1Char(' ') + error.databaseText()).toLower();
    for (const Pattern& pattern : patterns)
        if (text.contains(QString::fromUtf8(pattern.text)))
            return pattern.problem;
    return ServerProblem::Other;
}

} // namespace ServerConnection

ScopedServerConnection::ScopedServerConnection(const ServerAddress& address, const QString& connectionName)
    : _name(connectionName) {
    _open = ServerConnection::open(address, _name, &_problem, &_error);
}

ScopedServerConnection::~ScopedServerConnection() {
    if (!QSqlDatabase::contains(_name))
        return;
    QSqlDatabase::database(_name, false).close();
    QSqlDatabase::removeDatabase(_name);
}

namespace ServerConnection {
bool check(const ServerAddress& address, ServerProblem* problem, QString* text) {
    ScopedServerConnection connection(address, QStringLiteral("orvane-server-check"));
    if (!connection.isOpen()) {
        report(connection.problem(), connection.error(), problem, text);
        return false;
    }
    QSqlDatabase db = connection.database();
    return checkRegistry(db, address, problem, text);
}

QString problemText(ServerProblem problem, const QString& detail) {
    switch (problem) {
    case ServerProblem::None:
        return QString();
    case ServerProblem::HostNotFound:
        return detail.isEmpty() ? QStringLiteral("Сервер не найден или не отвечает.")
                                : QStringLiteral("Сервер не найден или не отвечает: %1.").arg(detail);
    case ServerProblem::WrongPassword:
        return QStringLiteral("Неверное имя пользователя или пароль.");
    case ServerProblem::DatabaseMissing:
        return QStringLiteral("На сервере нет базы данных «%1».").arg(detail);
    case ServerProblem::ServerTooOld:
        return QStringLiteral("Версия сервера PostgreSQL слишком старая: нужна %1 или новее.")
            .arg(minimumVersion / 10000);
    case ServerProblem::NoRights:
        return detail.isEmpty() ? QStringLiteral("У пользователя нет прав на базу данных.")
                                : QStringLiteral("У пользователя нет прав на базу данных «%1».").arg(detail);
    case ServerProblem::NoDriver:
        return QStringLiteral("Не установлен драйвер PostgreSQL для Qt (пакет libqt5sql5-psql).");
    case ServerProblem::Other:
        break;
    }
    return detail.isEmpty() ? QStringLiteral("Не удалось подключиться к серверу PostgreSQL.")
                            : QStringLiteral("Не удалось подключиться к серверу PostgreSQL: %1").arg(detail);
}
} // namespace ServerConnection
