#include "serveraddress.h"

#include "mzlog.h"

#include <cctype>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#ifndef Q_OS_WIN
#include <pwd.h>
#include <unistd.h>
#endif

namespace {
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
