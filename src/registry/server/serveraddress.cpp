#include "serveraddress.h"

#include "mzlog.h"

#include <cctype>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>

#ifndef Q_OS_WIN
#include <pwd.h>
#include <unistd.h>
#endif

namespace {
const QString driverName = QStringLiteral("QPSQL");
const QString defaultDatabaseHost = QStringLiteral("localhost");

// The folder a Debian server puts its socket in: libpq's default host on this platform, and the
// one socket folder that "localhost" in the password file stands for.
QString defaultSocketFolder() {
#ifdef Q_OS_WIN
    return QString();
#else
    return QStringLiteral("/var/run/postgresql");
#endif
}

// libpq's default user: the name this computer's user logged in with.
QString loginName() {
#ifdef Q_OS_WIN
    return qEnvironmentVariable("USERNAME");
#else
    if (const passwd* entry = getpwuid(geteuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
#endif
}

QString passwordFilePath() {
    const QString fromEnvironment = qEnvironmentVariable("PGPASSFILE");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
#ifdef Q_OS_WIN
    return qEnvironmentVariable("APPDATA") + QStringLiteral("/postgresql/pgpass.conf");
#else
    return QDir::homePath() + QStringLiteral("/.pgpass");
#endif
}

// A password file others may read is ignored, as libpq ignores it (not checked on Windows).
bool passwordFileUsable(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    if (!info.isFile()) {
        MZ_LOG() << "password file is not a plain file, ignored:" << path;
        return false;
    }
#ifndef Q_OS_WIN
    const QFile::Permissions others =
        QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    if (info.permissions() & others) {
        MZ_LOG() << "password file readable by group or others, ignored:" << path;
        return false;
    }
#endif
    return true;
}

// Whether the field at `pos` of a password file line is "*" or `token` (with "\:" and "\\"
// escapes); on a match `pos` moves past the field's colon.
bool fieldMatches(const QByteArray& line, int* pos, const QByteArray& token) {
    int i = *pos;
    if (line.mid(i, 2) == "*:") {
        *pos = i + 2;
        return true;
    }
    int t = 0;
    while (i < line.size()) {
        bool escaped = false;
        if (line[i] == '\\' && i + 1 < line.size()) {
            ++i;
            escaped = true;
        }
        if (!escaped && line[i] == ':') {
            if (t != token.size())
                return false;
            *pos = i + 1;
            return true;
        }
        if (t >= token.size() || line[i] != token[t])
            return false;
        ++i;
        ++t;
    }
    return false;
}

QString passwordFromLine(const QByteArray& line, int pos) {
    QByteArray password;
    for (int i = pos; i < line.size() && line[i] != ':'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size())
            ++i;
        password += line[i];
    }
    return QString::fromUtf8(password);
}

QString passwordFromFile(const ServerAddress& address) {
    const QString path = passwordFilePath();
    if (!passwordFileUsable(path))
        return QString();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        MZ_LOG() << "password file unreadable:" << path << file.errorString();
        return QString();
    }
    QString host = address.host;
    if (host.isEmpty() || (host == defaultSocketFolder() && !host.isEmpty()))
        host = defaultDatabaseHost;
    const QList<QByteArray> tokens{host.toUtf8(), QByteArray::number(address.port), address.database.toUtf8(),
                                   address.user.toUtf8()};
    for (QByteArray line : file.readAll().split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        int pos = 0;
        bool matches = true;
        for (const QByteArray& token : tokens)
            matches = matches && fieldMatches(line, &pos, token);
        if (matches)
            return passwordFromLine(line, pos);
    }
    return QString();
}

// A percent-encoded part of the address; false for a broken or NUL escape and for bytes that are
// no UTF-8.
bool percentDecoded(const QString& text, QString* decoded) {
    const QByteArray bytes = text.toUtf8();
    QByteArray out;
    for (int i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '%') {
            out += bytes[i];
            continue;
        }
        const QByteArray hex = bytes.mid(i + 1, 2);
        if (hex.size() != 2 || !isxdigit(static_cast<unsigned char>(hex[0])) ||
            !isxdigit(static_cast<unsigned char>(hex[1])) || hex == "00")
            return false;
        out += static_cast<char>(hex.toInt(nullptr, 16));
        i += 2;
    }
    *decoded = QString::fromUtf8(out);
    return decoded->toUtf8() == out;
}

QString encoded(const QString& part) {
    return QString::fromLatin1(QUrl::toPercentEncoding(part));
}

bool fail(QString* error, const QString& text) {
    if (error)
        *error = text;
    return false;
}

bool portFrom(const QString& text, int* port) {
    if (text.isEmpty())
        return false;
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1 || value > 65535 || !text.at(0).isDigit())
        return false;
    *port = value;
    return true;
}

const QString passwordInAddress =
    QStringLiteral("Пароль в адресе не указывается: он берётся из переменной PGPASSWORD или из файла паролей "
                   "(~/.pgpass).");

// "host", "[v6]", each optionally with ":port".
bool parseHostPort(const QString& text, ServerAddress* address, QString* error) {
    QString host = text;
    QString rest; // ":port" or nothing
    if (text.startsWith(QLatin1Char('['))) {
        const int close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return fail(error, QStringLiteral("В адресе не закрыта скобка «]» после адреса IPv6."));
        host = text.mid(1, close - 1);
        rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return fail(error, QStringLiteral("После адреса IPv6 в скобках может стоять только порт."));
    } else if (text.contains(QLatin1Char(':'))) {
        host = text.section(QLatin1Char(':'), 0, 0);
        rest = text.mid(host.size());
    }
    if (!rest.isEmpty() && !portFrom(rest.mid(1), &address->port))
        return fail(error, QStringLiteral("Неверный номер порта в адресе: «%1».").arg(rest.mid(1)));
    if (!percentDecoded(host, &address->host))
        return fail(error, QStringLiteral("Неверная %-последовательность в имени сервера."));
    return true;
}

bool applyParameter(const QString& pair, ServerAddress* address, QString* error) {
    const int equals = pair.indexOf(QLatin1Char('='));
    if (equals <= 0)
        return fail(error, QStringLiteral("Неверный параметр в адресе: «%1».").arg(pair));
    const QString key = pair.left(equals);
    QString value;
    if (!percentDecoded(pair.mid(equals + 1), &value))
        return fail(error, QStringLiteral("Неверная %-последовательность в параметре «%1».").arg(key));
    if (key == QLatin1String("host"))
        address->host = value;
    else if (key == QLatin1String("port")) {
        if (!portFrom(value, &address->port))
            return fail(error, QStringLiteral("Неверный номер порта в адресе: «%1».").arg(value));
    } else if (key == QLatin1String("user"))
        address->user = value;
    else if (key == QLatin1String("dbname"))
        address->database = value;
    else if (key == QLatin1String("password"))
        return fail(error, passwordInAddress);
    else
        return fail(error, QStringLiteral("Параметр «%1» в адресе не поддерживается.").arg(key));
    return true;
}
} // namespace

QString ServerAddress::toUrl() const {
    QString host = encoded(this->host);
    if (this->host.contains(QLatin1Char(':')) && !this->host.contains(QLatin1Char('/')))
        host = QLatin1Char('[') + this->host + QLatin1Char(']');
    const QString userPart = user.isEmpty() ? QString() : encoded(user) + QLatin1Char('@');
    // Concatenated: the encoded parts hold "%" signs that arg() would take for its own.
    return QStringLiteral("postgresql://") + userPart + host + QLatin1Char(':') + QString::number(port) +
           QLatin1Char('/') + encoded(database);
}

QString ServerAddress::displayText() const {
    // A socket folder is a path, and read as one; a name or a number goes into the address as it is.
    if (host.startsWith(QLatin1Char('/'))) {
        const QString userPart = user.isEmpty() ? QString() : user + QStringLiteral(", ");
        return QStringLiteral("%1 (%2сокет в папке %3, порт %4)").arg(database, userPart, host).arg(port);
    }
    const QString hostPart = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    const QString userPart = user.isEmpty() ? QString() : user + QLatin1Char('@');
    return QStringLiteral("postgresql://") + userPart + hostPart + QLatin1Char(':') + QString::number(port) +
           QLatin1Char('/') + database;
}

bool ServerAddress::looksLikeUrl(const QString& text) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    return scheme.match(text.trimmed()).hasMatch();
}

bool ServerAddress::fromUrl(const QString& text, ServerAddress* address, QString* error) {
    const QString trimmed = text.trimmed();
    QString rest;
    for (const QString scheme : {QStringLiteral("postgresql://"), QStringLiteral("postgres://")})
        if (trimmed.startsWith(scheme, Qt::CaseInsensitive))
            rest = trimmed.mid(scheme.size());
    if (rest.isNull() && !trimmed.contains(QLatin1String("://")))
        return fail(error, QStringLiteral("Адрес сервера должен начинаться с «postgresql://»."));
    if (rest.isNull())
        return fail(error, QStringLiteral("Адрес «%1» не адрес сервера PostgreSQL: он должен начинаться с "
                                          "«postgresql://».")
                               .arg(trimmed.section(QLatin1String("://"), 0, 0) + QLatin1String("://")));
    ServerAddress result;
    QString query;
    const int question = rest.indexOf(QLatin1Char('?'));
    if (question >= 0) {
        query = rest.mid(question + 1);
        rest.truncate(question);
    }
    const int slash = rest.indexOf(QLatin1Char('/'));
    QString authority = slash >= 0 ? rest.left(slash) : rest;
    if (slash >= 0 && !percentDecoded(rest.mid(slash + 1), &result.database))
        return fail(error, QStringLiteral("Неверная %-последовательность в имени базы данных."));
    const int at = authority.indexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString userPart = authority.left(at);
        if (userPart.contains(QLatin1Char(':')))
            return fail(error, passwordInAddress);
        if (!percentDecoded(userPart, &result.user))
            return fail(error, QStringLiteral("Неверная %-последовательность в имени пользователя."));
        authority = authority.mid(at + 1);
    }
    if (authority.contains(QLatin1Char(',')))
        return fail(error, QStringLiteral("В адресе указано несколько серверов; нужен один."));
    if (!parseHostPort(authority, &result, error))
        return false;
    if (!query.isEmpty())
        for (const QString& pair : query.split(QLatin1Char('&')))
            if (!applyParameter(pair, &result, error))
                return false;
    if (result.database.isEmpty())
        return fail(error, QStringLiteral("В адресе сервера не указана база данных: "
                                          "postgresql://пользователь@сервер:порт/база."));
    if (result.host.isEmpty())
        result.host = defaultSocketFolder().isEmpty() ? defaultDatabaseHost : defaultSocketFolder();
    if (result.user.isEmpty())
        result.user = loginName();
    result.password = qEnvironmentVariable("PGPASSWORD");
    if (result.password.isEmpty())
        result.password = passwordFromFile(result);
    *address = result;
    return true;
}

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
    // Each privilege on its own: listed together, any one of them would do.
    const QString rights =
        hasRegistry ? QStringLiteral("SELECT has_table_privilege(current_user, 'public.profdocuments', 'SELECT') "
                                     "AND has_table_privilege(current_user, 'public.profdocuments', 'INSERT') "
                                     "AND has_table_privilege(current_user, 'public.profdocuments', 'UPDATE') "
                                     "AND has_table_privilege(current_user, 'public.profdocuments', 'DELETE')")
                    : QStringLiteral("SELECT has_schema_privilege(current_user, 'public', 'CREATE')");
    const QVariant allowed = scalar(db, rights, {}, &failure);
    if (!allowed.isValid())
        return failedStatement(failure, address, problem, text);
    if (!allowed.toBool()) {
        const QString need = hasRegistry ? QStringLiteral("В базе данных есть реестр, но пользователь не может "
                                                          "читать и изменять его таблицы.")
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

Scoped::Scoped(const ServerAddress& address, const QString& connectionName) : _name(connectionName) {
    _open = open(address, _name, &_problem, &_error);
}

Scoped::~Scoped() {
    if (!QSqlDatabase::contains(_name))
        return;
    QSqlDatabase::database(_name, false).close();
    QSqlDatabase::removeDatabase(_name);
}

bool check(const ServerAddress& address, ServerProblem* problem, QString* text) {
    Scoped connection(address, QStringLiteral("orvane-server-check"));
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
