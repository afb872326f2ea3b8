// The server's address as the settings and the tools take it, the password as libpq finds it,
// the connection check's words against a real throwaway server, and the settings that keep them.
#include "appkeys.h"
#include "appsettings.h"
#include "pgtestserver.h"
#include "scratchfilesystem.h"
#include "serverconnection.h"
#include "serversettings.h"
#include "settingsregistry.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(ServerProblem)
Q_DECLARE_METATYPE(ServerAddress)
Q_DECLARE_METATYPE(QSqlError)

namespace {
// Sets (or with a null value removes) an environment variable for one scope.
class EnvironmentValue {
public:
    EnvironmentValue(const char* name, const QByteArray& value)
        : _name(name), _old(qgetenv(name)), _had(qEnvironmentVariableIsSet(name)) {
        value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }
    ~EnvironmentValue() { _had ? qputenv(_name, _old) : qunsetenv(_name); }

private:
    const char* _name;
    QByteArray _old;
    bool _had;
};

const QString loginUser = QStringLiteral("<login>");

ServerAddress addressOf(const QString& host, int port, const QString& database, const QString& user,
                        const QString& password = QString()) {
    ServerAddress address;
    address.host = host;
    address.port = port;
    address.database = database;
    address.user = user;
    address.password = password;
    return address;
}

PgTestServer* server() {
    QString error;
    PgTestServer* shared = PgTestServer::shared(&error);
    if (!shared)
        qWarning() << error;
    return shared;
}

// "clerk_a", who logs in with the password "верный" only, once per run.
bool passwordRole(QString* error) {
    static bool added = false;
    if (added)
        return true;
    if (!server()->addPasswordRole(QStringLiteral("clerk_a"), QStringLiteral("верный"), error))
        return false;
    // The server reads its access rules again a moment after being told to.
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        QString refused;
        server()->connect(QStringLiteral("role-probe"), QStringLiteral("postgres"), &refused,
                          QStringLiteral("clerk_a"));
        QSqlDatabase::removeDatabase(QStringLiteral("role-probe"));
        if (!refused.isEmpty())
            return added = true;
        QTest::qWait(50);
    }
    *error = QStringLiteral("the password rule did not take effect");
    return false;
}

QFile::Permissions permissionsOf(int mode) {
    const int owner = (mode >> 6) & 7;
    return QFile::Permissions((owner << 12) | (owner << 8) | (((mode >> 3) & 7) << 4) | (mode & 7));
}

ServerAddress onServer(const QString& database, const QString& user = QStringLiteral("postgres"),
                       const QString& password = QString()) {
    return addressOf(server()->socketFolder(), server()->port(), database, user, password);
}
} // namespace

class TestServerConnection : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // No password of the machine's user may leak into the cases.
        qunsetenv("PGPASSWORD");
        qputenv("PGPASSFILE", QFile::encodeName(_home.path() + QStringLiteral("/none")));
    }

    void readsAddresses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("looksLikeUrl");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("error"); // a part of the reason; empty when the address is good
        auto good = [](const char* name, const QString& text, const QString& host, int port, const QString& db,
                       const QString& user) {
            QTest::newRow(name) << text << true << host << port << db << user << QString();
        };
        auto bad = [](const char* name, const QString& text, const QString& error, bool looksLikeUrl = true) {
            QTest::newRow(name) << text << looksLikeUrl << QString() << 0 << QString() << QString() << error;
        };
        good("all parts", "postgresql://clerk@db.college.local:5433/registry", "db.college.local", 5433, "registry",
             "clerk");
        good("short scheme, default port", "postgres://clerk@db/registry", "db", 5432, "registry", "clerk");
        good("no user", "postgresql://db/registry", "db", 5432, "registry", loginUser);
        good("socket folder", "postgresql://clerk@%2Ftmp%2Fx:5432/registry", "/tmp/x", 5432, "registry", "clerk");
        good("IPv6", "postgresql://clerk@[fe80::1%25eth0]:6000/registry", "fe80::1%eth0", 6000, "registry", "clerk");
        good("Cyrillic encoded", "postgresql://%D0%B8%D0%B2%D0%B0%D0%BD@db/%D1%80%D0%B5%D0%B5%D1%81%D1%82%D1%80", "db",
             5432, "реестр", "иван");
        good("Cyrillic raw", "postgresql://иван@db/реестр", "db", 5432, "реестр", "иван");
        good("parameters", "postgresql:///registry?host=%2Frun%2Fpg&port=5440&user=u", "/run/pg", 5440, "registry",
             "u");
        good("no host: the local socket", "postgresql:///registry", "/var/run/postgresql", 5432, "registry", loginUser);
        good("spaces and upper case", "  POSTGRESQL://clerk@db/registry ", "db", 5432, "registry", "clerk");
        bad("password in the user part", "postgresql://clerk:secret@db/registry", "PGPASSWORD");
        bad("password parameter", "postgresql://clerk@db/registry?password=x", "PGPASSWORD");
        bad("unknown parameter", "postgresql://clerk@db/registry?sslmode=require", "«sslmode»");
        bad("no database", "postgresql://clerk@db/", "база данных");
        bad("port zero", "postgresql://clerk@db:0/registry", "порта");
        bad("port too big", "postgresql://clerk@db:65536/registry", "порта");
        bad("port not a number", "postgresql://clerk@db:5x/registry", "порта");
        bad("empty port", "postgresql://clerk@db:/registry", "порта");
        bad("other scheme", "mysql://clerk@db/registry", "mysql://");
        bad("open bracket", "postgresql://clerk@[::1/registry", "]");
        bad("text after bracket", "postgresql://clerk@[::1]x/registry", "IPv6");
        bad("several hosts", "postgresql://clerk@db1,db2/registry", "несколько");
        bad("broken escape", "postgresql://clerk@db/reg%zzistry", "%-последовательность");
        bad("signed escape", "postgresql://clerk@db/reg%+1istry", "%-последовательность");
        bad("NUL escape", "postgresql://clerk@db/reg%00istry", "%-последовательность");
        bad("a file name", "/home/clerk/registry.sqlite", "postgresql://", false);
    }
    void readsAddresses() {
        QFETCH(QString, text);
        QFETCH(bool, looksLikeUrl);
        QFETCH(QString, error);
        QCOMPARE(ServerAddress::looksLikeUrl(text), looksLikeUrl);
        ServerAddress address;
        address.host = QStringLiteral("untouched");
        QString reason;
        const bool ok = ServerAddress::fromUrl(text, &address, &reason);
        QVERIFY2(ok == error.isEmpty(), qPrintable(reason));
        if (!ok) {
            QVERIFY2(reason.contains(error), qPrintable(reason));
            QCOMPARE(address.host, QStringLiteral("untouched"));
            return;
        }
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, database);
        QFETCH(QString, user);
        QCOMPARE(address.host, host);
        QCOMPARE(address.port, port);
        QCOMPARE(address.database, database);
        if (user == loginUser)
            QVERIFY(!address.user.isEmpty());
        else
            QCOMPARE(address.user, user);
        QVERIFY(address.isComplete());
    }

    // What toUrl writes reads back as the same address.
    void writesAddressesBack_data() {
        QTest::addColumn<ServerAddress>("address");
        QTest::addColumn<QString>("url");
        QTest::newRow("name") << addressOf("db.local", 5432, "registry", "clerk")
                              << "postgresql://clerk@db.local:5432/registry";
        QTest::newRow("socket folder") << addressOf("/tmp/x", 5433, "registry", "clerk")
                                       << "postgresql://clerk@%2Ftmp%2Fx:5433/registry";
        QTest::newRow("IPv6") << addressOf("::1", 5432, "registry", "clerk")
                              << "postgresql://clerk@[::1]:5432/registry";
        QTest::newRow("Cyrillic and reserved characters")
            << addressOf("db", 5432, "реестр 2026/осень?", "a@b:c")
            << "postgresql://a%40b%3Ac@db:5432/"
               "%D1%80%D0%B5%D0%B5%D1%81%D1%82%D1%80%202026%2F%D0%BE%D1%81%D0%B5%D0%BD%D1%8C%3F";
    }
    void writesAddressesBack() {
        QFETCH(ServerAddress, address);
        QFETCH(QString, url);
        QCOMPARE(address.toUrl(), url);
        ServerAddress back;
        QString error;
        QVERIFY2(ServerAddress::fromUrl(url, &back, &error), qPrintable(error));
        QCOMPARE(back, address);
    }

    // The password comes from PGPASSWORD, else from the password file, as libpq finds it there.
    void findsThePassword_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QByteArray>("environment"); // PGPASSWORD; null when unset
        QTest::addColumn<QString>("password");
        const QString url = QStringLiteral("postgresql://clerk@db:5432/registry");
        const QByteArray exact("db:5432:registry:clerk:secret\n");
        QTest::newRow("exact line") << exact << 0600 << url << QByteArray() << "secret";
        QTest::newRow("PGPASSWORD wins") << exact << 0600 << url << QByteArray("from env") << "from env";
        QTest::newRow("empty PGPASSWORD: the file") << exact << 0600 << url << QByteArray("") << "secret";
        QTest::newRow("readable by others: ignored") << exact << 0644 << url << QByteArray() << "";
        QTest::newRow("readable by the group: ignored") << exact << 0640 << url << QByteArray() << "";
        QTest::newRow("no file") << QByteArray() << 0 << url << QByteArray() << "";
        QTest::newRow("first match wins")
            << QByteArray("*:*:*:clerk:any\ndb:5432:registry:clerk:exact\n") << 0600 << url << QByteArray() << "any";
        QTest::newRow("other port, database, user skipped")
            << QByteArray("db:5433:registry:clerk:a\ndb:5432:other:clerk:b\ndb:5432:registry:boss:c\n*:*:*:*:d\n")
            << 0600 << url << QByteArray() << "d";
        QTest::newRow("comment and CRLF") << QByteArray("# db:5432:registry:clerk:old\r\n\r\ndb:*:registry:*:new\r\n")
                                          << 0600 << url << QByteArray() << "new";
        QTest::newRow("escapes") << QByteArray("\\:\\:1:5432:registry:clerk:p\\:a\\\\ss:ignored\n") << 0600
                                 << "postgresql://clerk@[::1]/registry" << QByteArray() << "p:a\\ss";
        QTest::newRow("a half escape does not match")
            << QByteArray("db\\:5432:registry:clerk:wrong\n") << 0600 << url << QByteArray() << "";
        QTest::newRow("localhost is the default socket")
            << QByteArray("localhost:5432:registry:clerk:local\n") << 0600
            << "postgresql://clerk@%2Fvar%2Frun%2Fpostgresql/registry" << QByteArray() << "local";
        QTest::newRow("localhost is not another socket folder")
            << QByteArray("localhost:5432:registry:clerk:local\n%2Ftmp%2Fx:5432:registry:clerk:no\n/tmp/"
                          "x:5432:registry:clerk:folder\n")
            << 0600 << "postgresql://clerk@%2Ftmp%2Fx/registry" << QByteArray() << "folder";
        QTest::newRow("Cyrillic") << QByteArray("db:5432:реестр:иван:пароль\n") << 0600 << "postgresql://иван@db/реестр"
                                  << QByteArray() << "пароль";
    }
    void findsThePassword() {
        QFETCH(QByteArray, file);
        QFETCH(int, mode);
        QFETCH(QString, url);
        QFETCH(QByteArray, environment);
        QFETCH(QString, password);
        QTemporaryDir home;
        const QString path = home.path() + QStringLiteral("/.pgpass");
        if (!file.isNull()) {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
            out.close();
            QVERIFY(QFile::setPermissions(path, permissionsOf(mode)));
        }
        // Through PGPASSFILE, and as ~/.pgpass of a home without one.
        for (bool throughVariable : {true, false}) {
            EnvironmentValue passFile("PGPASSFILE", throughVariable ? QFile::encodeName(path) : QByteArray());
            EnvironmentValue homeFolder("HOME", QFile::encodeName(home.path()));
            EnvironmentValue variable("PGPASSWORD", environment);
            ServerAddress address;
            QString error;
            QVERIFY2(ServerAddress::fromUrl(url, &address, &error), qPrintable(error));
            QCOMPARE(address.password, password);
        }
    }

    // A good connection: the version checked, UTF-8 spoken, the name reused; the check says what it found.
    void connectsAndSaysWhatItFound() {
        QVERIFY(server());
        QString error;
        const QString database = server()->createDatabase(&error);
        QVERIFY2(!database.isEmpty(), qPrintable(error));
        const QStringList before = QSqlDatabase::connectionNames();
        for (int round = 0; round < 2; ++round) {
            ServerProblem problem = ServerProblem::Other;
            QVERIFY2(ServerConnection::open(onServer(database), "reused", &problem, &error), qPrintable(error));
            QCOMPARE(problem, ServerProblem::None);
            QSqlQuery query(QSqlDatabase::database("reused", false));
            QVERIFY(query.exec("SELECT pg_client_encoding()") && query.next());
            QCOMPARE(query.value(0).toString(), QStringLiteral("UTF8"));
        }
        QSqlDatabase::removeDatabase("reused");

        ServerProblem problem = ServerProblem::Other;
        QString text;
        QVERIFY2(ServerConnection::check(onServer(database), &problem, &text), qPrintable(text));
        QCOMPARE(problem, ServerProblem::None);
        QVERIFY2(QRegularExpression("^Подключение установлено\\. PostgreSQL \\d+\\.\\d+; база данных пуста\\.$")
                     .match(text)
                     .hasMatch(),
                 qPrintable(text));
        // Templates are counted apart, as the list leaves them out.
        QVERIFY2(server()->exec(database,
                                {"CREATE TABLE profdocuments (id BIGINT PRIMARY KEY, istemplate INTEGER)",
                                 "INSERT INTO profdocuments SELECT i, CASE WHEN i > 3 THEN 1 WHEN i = 3 THEN 0 END "
                                 "FROM generate_series(1, 5) AS i"},
                                &error),
                 qPrintable(error));
        QVERIFY2(ServerConnection::check(onServer(database), &problem, &text), qPrintable(text));
        QVERIFY2(text.endsWith("; в базе данных есть реестр (документов: 3, шаблонов: 2)."), qPrintable(text));
        QCOMPARE(QSqlDatabase::connectionNames(), before);
    }

    // The other programs on the database: this program's connections are one program, ours and
    // left out; a client of another kind counts once per connection.
    void countsOtherPrograms() {
        QVERIFY(server());
        QString error;
        const QString database = server()->createDatabase(&error);
        ServerProblem problem = ServerProblem::Other;
        QVERIFY2(ServerConnection::open(onServer(database), "ours-1", &problem, &error), qPrintable(error));
        QVERIFY2(ServerConnection::open(onServer(database), "ours-2", &problem, &error), qPrintable(error));
        {
            QSqlDatabase ours = QSqlDatabase::database("ours-1", false);
            QCOMPARE(ServerConnection::otherPrograms(ours, &error), 0);
            QSqlDatabase other = server()->connect("other-client", database, &error);
            QVERIFY2(other.isOpen(), qPrintable(error));
            QCOMPARE(ServerConnection::otherPrograms(ours, &error), 1);
            other.close();
        }
        for (const char* name : {"ours-1", "ours-2", "other-client"})
            QSqlDatabase::removeDatabase(QLatin1String(name));
    }

    // A socket folder is shown as the path it is; nothing is percent-encoded.
    void displayText_data() {
        QTest::addColumn<ServerAddress>("address");
        QTest::addColumn<QString>("text");
        QTest::newRow("socket folder") << addressOf("/run/postgresql", 5433, "реестр", "clerk")
                                       << "реестр (clerk, сокет в папке /run/postgresql, порт 5433)";
        QTest::newRow("name") << addressOf("db.local", 5432, "реестр 2026", "a@b")
                              << "postgresql://a@b@db.local:5432/реестр 2026";
    }
    void displayText() {
        QFETCH(ServerAddress, address);
        QFETCH(QString, text);
        QCOMPARE(address.displayText(), text);
    }

    void saysWhatIsWrong_data() {
        QTest::addColumn<QString>("setup"); // what the case prepares on the server
        QTest::addColumn<ServerAddress>("address");
        QTest::addColumn<ServerProblem>("problem");
        QTest::addColumn<QString>("text");
        if (!server())
            QSKIP("no test server");
        const QString socket = server()->socketFolder();
        const int port = server()->port();
        const QString wrongPassword = QStringLiteral("Неверное имя пользователя или пароль.");
        QTest::newRow("wrong password") << "role" << onServer("", "clerk_a", "не тот") << ServerProblem::WrongPassword
                                        << wrongPassword;
        QTest::newRow("no password") << "role" << onServer("", "clerk_a") << ServerProblem::WrongPassword
                                     << wrongPassword;
        QTest::newRow("unknown user") << "" << onServer("", "nobody_here", "x") << ServerProblem::WrongPassword
                                      << wrongPassword;
        QTest::newRow("database missing") << "" << onServer("нет_такой") << ServerProblem::DatabaseMissing
                                          << "На сервере нет базы данных «нет_такой».";
        QTest::newRow("no CREATE on public") << "role" << onServer("", "clerk_a", "верный") << ServerProblem::NoRights
                                             << "Пользователь не может создавать таблицы в схеме public.";
        QTest::newRow("registry not readable") << "role,registry" << onServer("", "clerk_a", "верный")
                                               << ServerProblem::NoRights << "не может читать его таблицы";
        // A login that may read but not write is told so, and the registry opens for reading.
        const QString readerOnly = QStringLiteral("пользователь может только читать реестр");
        QTest::newRow("reader") << "role,registry,reader" << onServer("", "clerk_a", "верный") << ServerProblem::None
                                << readerOnly;
        QTest::newRow("history not writable")
            << "role,registry,history" << onServer("", "clerk_a", "верный") << ServerProblem::None << readerOnly;
        QTest::newRow("no CONNECT") << "role,noconnect" << onServer("", "clerk_a", "верный") << ServerProblem::NoRights
                                    << "У пользователя нет прав на базу данных «";
        QTest::newRow("socket folder missing")
            << "" << addressOf(socket + "-missing", port, "x", "postgres") << ServerProblem::HostNotFound
            << QStringLiteral("Сервер не найден или не отвечает: %1-missing, порт %2.").arg(socket).arg(port);
        QTest::newRow("nothing listens") << "" << addressOf("127.0.0.1", 1, "x", "postgres")
                                         << ServerProblem::HostNotFound << "127.0.0.1, порт 1";
    }
    void saysWhatIsWrong() {
        QFETCH(QString, setup);
        QFETCH(ServerAddress, address);
        QFETCH(ServerProblem, problem);
        QFETCH(QString, text);
        QString error;
        if (address.database.isEmpty()) {
            address.database = server()->createDatabase(&error);
            QVERIFY2(!address.database.isEmpty(), qPrintable(error));
        }
        if (setup.contains("role"))
            QVERIFY2(passwordRole(&error), qPrintable(error));
        QStringList statements;
        if (setup.contains("registry"))
            statements << "CREATE TABLE profdocuments (id BIGINT PRIMARY KEY, istemplate INTEGER)";
        if (setup.contains("reader"))
            statements << "GRANT SELECT ON profdocuments TO clerk_a";
        // The documents may be written, their history not.
        if (setup.contains("history"))
            statements << "GRANT ALL ON profdocuments TO clerk_a"
                       << "CREATE TABLE documenthistory (id BIGINT)";
        if (setup.contains("noconnect"))
            statements << QStringLiteral("REVOKE CONNECT ON DATABASE \"%1\" FROM PUBLIC").arg(address.database);
        if (!statements.isEmpty())
            QVERIFY2(server()->exec(address.database, statements, &error), qPrintable(error));

        ServerProblem found = ServerProblem::None;
        QString said;
        QCOMPARE(ServerConnection::check(address, &found, &said), problem == ServerProblem::None);
        QVERIFY2(said.contains(text), qPrintable(said));
        QCOMPARE(found, problem);
        QVERIFY(!QSqlDatabase::connectionNames().contains("orvane-server-check"));
    }

    // A stopped server: no new connection, and the open one's failures mean the same.
    void serverGone() {
        QVERIFY(server());
        QString error;
        const QString database = server()->createDatabase(&error);
        QVERIFY2(!database.isEmpty(), qPrintable(error));
        ServerProblem problem = ServerProblem::None;
        QVERIFY2(ServerConnection::open(onServer(database), "gone", &problem, &error), qPrintable(error));
        QVERIFY2(server()->pause(&error), qPrintable(error));
        auto resume = qScopeGuard([] { server()->resume(); });
        {
            QSqlQuery query(QSqlDatabase::database("gone", false));
            QVERIFY(!query.exec("SELECT 1"));
            QCOMPARE(ServerConnection::problemOf(query.lastError()), ServerProblem::HostNotFound);
        }
        QVERIFY(!ServerConnection::check(onServer(database), &problem, &error));
        QCOMPARE(problem, ServerProblem::HostNotFound);
        resume.dismiss();
        QVERIFY2(server()->resume(&error), qPrintable(error));
        QVERIFY2(ServerConnection::open(onServer(database), "gone", &problem, &error), qPrintable(error));
        QSqlDatabase::removeDatabase("gone");
    }

    // Texts the test server does not give: an old server, a translated libpq, bare SQLSTATEs.
    void namesOtherProblems_data() {
        QTest::addColumn<QSqlError>("error");
        QTest::addColumn<ServerProblem>("problem");
        const auto connection = QSqlError::ConnectionError;
        QTest::newRow("no error") << QSqlError() << ServerProblem::None;
        QTest::newRow("SQLSTATE password") << QSqlError("", "x", connection, "28P01") << ServerProblem::WrongPassword;
        QTest::newRow("SQLSTATE database") << QSqlError("", "x", connection, "3D000") << ServerProblem::DatabaseMissing;
        QTest::newRow("SQLSTATE rights") << QSqlError("", "x", QSqlError::StatementError, "42501")
                                         << ServerProblem::NoRights;
        QTest::newRow("Russian password")
            << QSqlError("", "ВАЖНО:  пользователь \"x\" не прошёл проверку подлинности (по паролю)", connection)
            << ServerProblem::WrongPassword;
        QTest::newRow("Russian host") << QSqlError("", "преобразовать имя \"db\" в адрес не удалось", connection)
                                      << ServerProblem::HostNotFound;
        QTest::newRow("Russian database")
            << QSqlError("",
                         "подключиться к серверу через сокет \"/s\" не удалось: ВАЖНО:  база данных \"r\" не "
                         "существует",
                         connection)
            << ServerProblem::DatabaseMissing;
        QTest::newRow("timeout") << QSqlError("", "timeout expired", connection) << ServerProblem::HostNotFound;
        QTest::newRow("unknown") << QSqlError("", "SSL error: certificate verify failed", connection)
                                 << ServerProblem::Other;
    }
    void namesOtherProblems() {
        QFETCH(QSqlError, error);
        QFETCH(ServerProblem, problem);
        QCOMPARE(ServerConnection::problemOf(error), problem);
        QCOMPARE(ServerConnection::problemText(problem).isEmpty(), problem == ServerProblem::None);
    }

    void refusesOldServers() {
        QVERIFY(!ServerConnection::versionSupported(110022));
        QVERIFY(ServerConnection::versionSupported(120000));
        QVERIFY(ServerConnection::versionSupported(150004));
        QCOMPARE(ServerConnection::problemText(ServerProblem::ServerTooOld),
                 QStringLiteral("Версия сервера PostgreSQL слишком старая: нужна 12 или новее."));
    }

    // The file stays the default; a password to remember needs the keyring, which these tests do not
    // reach: refused with the reason and nothing changed. The settings file never holds a password.
    void settingsKeepTheServer() {
        TestEnvironment env;
        AppSettings::setup();
        auto release = qScopeGuard([] { AppSettings::release(); });
        QVERIFY(!ServerSettings::usesServer());
        QCOMPARE(ServerSettings::address().port, 5432);

        const ServerAddress address = addressOf("db.college.local", 5433, "реестр", "clerk", "пароль:1");
        QString error;
        QVERIFY(!ServerSettings::save(address, true, &error));
        QVERIFY2(error.startsWith(QStringLiteral("Параметры базы данных не изменены.\nХранилище паролей")),
                 qPrintable(error));
        QVERIFY(!ServerSettings::usesServer());
        QVERIFY(ServerSettings::address().host.isEmpty());

        QVERIFY(ServerSettings::save(address, false));
        QVERIFY(ServerSettings::usesServer());
        ServerAddress expected = address;
        expected.password.clear();
        QCOMPARE(ServerSettings::address(), expected);
        const QString file = AppSettings::dataPath() + QStringLiteral("/settings.ini");
        QSettings stored(file, QSettings::IniFormat);
        QCOMPARE(stored.value("Database/store").toString(), QStringLiteral("server"));
        QVERIFY(!stored.contains("Database/password"));
        QVERIFY(!readFileBytes(file).contains(QByteArray("password")));
        QVERIFY(ServerSettings::useFile());
        QVERIFY(!ServerSettings::usesServer());
        QCOMPARE(ServerSettings::address().host, address.host);
    }

    // A data folder that takes no writes: the switch is not reported as made.
    void settingsNotWritten() {
        TestEnvironment env;
        ScratchFileSystem folder(env.root() + QStringLiteral("/scratch"), 1 << 20);
        if (!folder.canBeReadOnly())
            QSKIP("writes cannot be refused here");
        AppSettings::setDataPathOverride(folder.path());
        AppSettings::setup();
        auto release = qScopeGuard([&folder] {
            folder.setReadOnly(false);
            AppSettings::release();
            AppSettings::setDataPathOverride(QString());
        });
        QVERIFY(folder.setReadOnly(true));
        QVERIFY(!ServerSettings::save(addressOf("db", 5432, "registry", "clerk"), false));
    }

private:
    QTemporaryDir _home;
};

ORVANE_TEST(TestServerConnection)
#include "tst_serverconnection.moc"
