// What a server login may do decides whether the program writes: a login that may only read, or
// may write the documents but not what the server's triggers write with them, gets a registry that
// is read-only with the reason, and every save is refused in those words before it reaches the
// server; a login with the editors' rights writes.
#include "appsettings.h"
#include "database.h"
#include "documentstore.h"
#include "pgtestserver.h"
#include "registryroles.h"
#include "serverprivileges.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QSqlQuery>
#include <QtTest>
#include <memory>

namespace {
using namespace RegistryRoles;

qint64 scalar(const QString& sql) {
    QSqlQuery query = PgTestServer::run(QSqlDatabase::database(), sql);
    return query.next() ? query.value(0).toLongLong() : -1;
}
} // namespace

class TestServerPrivileges : public QObject {
    Q_OBJECT

    PgTestServer* _server = nullptr;
    std::unique_ptr<TestEnvironment> _env;
    int _roles = 0;

    // A registry with one document, made by its owner, and a login holding `rights`.
    ServerAddress registryFor(const QStringList& rights, QString* error) {
        const QString database = _server->createDatabase(error);
        Database::useServer(_server->addressOf(database));
        if (database.isEmpty() || !Database::instance()->isValid())
            return ServerAddress();
        PgTestServer::run(QSqlDatabase::database(), "INSERT INTO ProfDocuments (fio1) VALUES ('Иванов')");
        Database::shutdown();
        return addLogin(_server, database, QStringLiteral("clerk_%1").arg(++_roles), rights, error);
    }

private slots:
    void initTestCase() {
        setUpAsTheProgram();
        QString error;
        _server = PgTestServer::shared(&error);
        if (!_server)
            QSKIP(qPrintable(QStringLiteral("no test server: ") + error));
    }

    void init() {
        _env = std::make_unique<TestEnvironment>();
        AppSettings::setup();
    }

    void cleanup() {
        Database::shutdown();
        Database::useFile(_env->defaultDataFolder() + QStringLiteral("/unused.db"));
        _env.reset();
    }

    void loginRights_data() {
        QTest::addColumn<QStringList>("rights");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("missing"); // one right the log names, for a read-only login
        const QStringList editor = editorRights();
        const QStringList readers = readerRights(), documents = documentWrites();
        QTest::newRow("reader") << readers << true << "INSERT ON profdocuments";
        QTest::newRow("editor") << editor << false << "";
        QTest::newRow("editor without the history")
            << readers + documents + logWrites() + sequenceUse() << true << "INSERT ON documenthistory";
        QTest::newRow("editor without the list's change log")
            << readers + documents + historyWrites() + sequenceUse() << true << "INSERT ON orvane_list_log";
        QTest::newRow("editor without the sequences") << readers + documents + historyWrites() + logWrites() << true
                                                      << "USAGE ON public.profdocuments_profid_seq";
        QTest::newRow("editor who may only add to the history")
            << editor + QStringList{QStringLiteral("REVOKE UPDATE, DELETE ON DocumentHistory FROM %1")} << true
            << "UPDATE ON documenthistory";
        QTest::newRow("editor who may not delete subjects")
            << editor + QStringList{QStringLiteral("REVOKE DELETE ON ProfDetails FROM %1")} << true
            << "DELETE ON profdetails";
    }

    void loginRights() {
        QFETCH(QStringList, rights);
        QFETCH(bool, readOnly);
        QFETCH(QString, missing);
        QString error;
        const ServerAddress login = registryFor(rights, &error);
        QVERIFY2(login.isComplete(), qPrintable(error));
        Database::useServer(login);
        Database* db = Database::instance();
        QVERIFY2(db->isValid(), qPrintable(db->startupProblem().text));
        QCOMPARE(db->isReadOnly(), readOnly);
        QCOMPARE(db->readOnlyReason(), readOnly ? ServerPrivileges::readOnlyText(login.user) : QString());
        if (readOnly)
            QVERIFY2(db->readOnlyReason().contains(login.user), qPrintable(db->readOnlyReason()));

        ServerPrivileges privileges;
        QSqlDatabase connection = QSqlDatabase::database();
        QVERIFY2(privileges.read(connection, db->tables(), &error), qPrintable(error));
        QCOMPARE(privileges.mayWrite(), !readOnly);
        if (readOnly)
            QVERIFY2(privileges.missing().contains(missing), qPrintable(privileges.missing().join(", ")));

        // A save of either kind: refused in the reason's words before the server sees it, or written.
        const qint64 id = scalar("SELECT max(profId) FROM ProfDocuments");
        const qint64 copy = DocumentStore::duplicateDocument(id, &error);
        QCOMPARE(copy > 0, !readOnly);
        if (readOnly)
            QCOMPARE(error, db->readOnlyReason());
        QCOMPARE(DocumentStore::deleteDocuments({id}, &error), !readOnly);
        QCOMPARE(scalar("SELECT count(*) FROM ProfDocuments"), 1);
        QCOMPARE(scalar("SELECT max(profId) FROM ProfDocuments"), readOnly ? id : copy);
        // The list still reads what the others write.
        QCOMPARE(scalar("SELECT count(*) FROM ViewProfDocuments"), 1);
    }
};

ORVANE_TEST(TestServerPrivileges)
#include "tst_serverprivileges.moc"
