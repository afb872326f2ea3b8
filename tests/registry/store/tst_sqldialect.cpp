// The statements the store writes once for both stores, run on a registry file and on a registry
// on a throwaway server: the few places where the dialects differ give the same answers.
#include "database.h"
#include "fileschema.h"
#include "pgtestserver.h"
#include "profschema.h"
#include "serverschema.h"
#include "sqldialect.h"
#include "testregistry.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const qint64 bigId = Q_INT64_C(1) << 62;

QStringList column(QSqlDatabase db, const QString& statement, const QVariantList& values = {}) {
    QSqlQuery query = PgTestServer::run(db, statement, values);
    QStringList found;
    while (query.next())
        found << (query.isNull(0) ? QStringLiteral("NULL") : query.value(0).toString());
    return found;
}
} // namespace

class TestSqlDialect : public QObject {
    Q_OBJECT

    QTemporaryDir _folder;
    QSqlDatabase _file, _server;

    QSqlDatabase store(const QString& name) { return name == QLatin1String("file") ? _file : _server; }

private slots:
    void initTestCase() {
        QString error;
        PgTestServer* server = PgTestServer::shared(&error);
        QVERIFY2(server, qPrintable(error));
        const QString database = server->createDatabase(&error);
        QVERIFY2(!database.isEmpty(), qPrintable(error));
        _server = server->connect(QStringLiteral("server"), database, &error);
        QVERIFY2(_server.isOpen(), qPrintable(error));
        QVERIFY2(ServerSchema::create(_server, &error), qPrintable(error));

        _file = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("file"));
        _file.setDatabaseName(_folder.filePath(QStringLiteral("registry.db")));
        QVERIFY(_file.open());
        for (const DBTable& table : ProfSchema::tables())
            QVERIFY2(FileSchema::createTable(_file, table, &error), qPrintable(error));
        QVERIFY(SqlDialect::isServer(_server) && !SqlDialect::isServer(_file));
    }

    void init() {
        for (QSqlDatabase db : {_file, _server})
            for (const char* table : {"ProfDetails", "ProfFrdo", "ProfDocuments"})
                PgTestServer::run(db, QStringLiteral("DELETE FROM %1").arg(QLatin1String(table)));
    }

    void cleanupTestCase() {
        _file.close();
        _server.close();
        _file = _server = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("file"));
        QSqlDatabase::removeDatabase(QStringLiteral("server"));
    }

    void dialects_data() {
        QTest::addColumn<QString>("store");
        QTest::newRow("file") << "file";
        QTest::newRow("server") << "server";
    }

    // Ids beyond 2^53 travel as JSON exactly; repeated ids are one row.
    void dialects() {
        QFETCH(QString, store);
        QSqlDatabase db = this->store(store);
        const QString json = QStringLiteral("[5, 2147483653, %1, %1]").arg(bigId + 7);
        QCOMPARE(column(db,
                        QStringLiteral("SELECT DISTINCT value FROM (%1) AS ids ORDER BY value")
                            .arg(SqlDialect::idsFromJson(db, QStringLiteral("?"))),
                        {json}),
                 QStringList({"5", "2147483653", QString::number(bigId + 7)}));

        // Hours: NULLs skipped, huge values summed without an overflow, no rows giving 0.
        const QString sum =
            QStringLiteral("SELECT %1 FROM ProfDetails").arg(SqlDialect::floatSum(db, QStringLiteral("count")));
        QCOMPARE(PgTestServer::run(db, sum).next(), true);
        QCOMPARE(column(db, sum).value(0).toDouble(), 0.0);
        for (const QVariant& hours : {QVariant(), QVariant(12), QVariant(Q_INT64_C(9000000000000000000)),
                                      QVariant(Q_INT64_C(9000000000000000000))})
            PgTestServer::run(
                db, QStringLiteral("INSERT INTO ProfDetails (profId, name, count) VALUES (1, 'Черчение', ?)"), {hours});
        QCOMPARE(column(db, sum).value(0).toDouble(), 1.8e19 + 12);

        // A new document's id, past an id above 2^31 given explicitly.
        PgTestServer::run(db, QStringLiteral("INSERT INTO ProfDocuments (profId, fio1) VALUES (?, 'Первый')"),
                          {QVariant(Q_INT64_C(3000000000))});
        if (SqlDialect::isServer(db))
            PgTestServer::run(
                db, QStringLiteral("SELECT setval(pg_get_serial_sequence('profdocuments', 'profid'), 3000000000)"));
        QSqlQuery insert(db);
        QVERIFY(insert.prepare(QStringLiteral("INSERT INTO ProfDocuments (comment) VALUES ('')") +
                               SqlDialect::returningId(db, QStringLiteral("profId"))));
        QVERIFY2(insert.exec(), qPrintable(insert.lastError().text()));
        QCOMPARE(SqlDialect::insertedId(insert), Q_INT64_C(3000000001));

        // Ensuring a row exists twice leaves one, in the two forms the store uses.
        for (int i = 0; i < 2; ++i) {
            PgTestServer::run(db, QStringLiteral("INSERT INTO ProfFrdo (profId) VALUES (?) ON CONFLICT DO NOTHING"),
                              {5});
            PgTestServer::run(
                db,
                QStringLiteral("INSERT INTO ProfFrdo (profId) SELECT ? WHERE NOT EXISTS(SELECT 1 FROM ProfFrdo "
                               "WHERE profId = ?) ON CONFLICT DO NOTHING"),
                {6, 6});
        }
        QCOMPARE(column(db, QStringLiteral("SELECT profId FROM ProfFrdo ORDER BY profId")), QStringList({"5", "6"}));
    }

    // A day range reads the first ten characters as the file's date() does, on both stores.
    void days_data() {
        QTest::addColumn<QString>("store");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("day");
        for (const char* store : {"file", "server"}) {
            QTest::addRow("%s: day", store) << store << QVariant("2016-02-28") << "2016-02-28";
            QTest::addRow("%s: with time", store) << store << QVariant("2016-02-28 10:00:00") << "2016-02-28";
            QTest::addRow("%s: T time", store) << store << QVariant("2016-02-28T10:00") << "2016-02-28";
            QTest::addRow("%s: 30 February", store) << store << QVariant("2016-02-30") << "2016-02-30";
            QTest::addRow("%s: month 13", store) << store << QVariant("2016-13-01") << "NULL";
            QTest::addRow("%s: short", store) << store << QVariant("2016-2-3") << "NULL";
            QTest::addRow("%s: text", store) << store << QVariant("не дата") << "NULL";
            QTest::addRow("%s: NULL", store) << store << QVariant() << "NULL";
        }
    }
    void days() {
        QFETCH(QString, store);
        QFETCH(QVariant, stored);
        QFETCH(QString, day);
        QSqlDatabase db = this->store(store);
        PgTestServer::run(db, QStringLiteral("INSERT INTO ProfDocuments (profId, issueDate) VALUES (1, ?)"), {stored});
        QCOMPARE(column(db, QStringLiteral("SELECT %1 FROM ProfDocuments")
                                .arg(SqlDialect::dayOf(db, QStringLiteral("issueDate")))),
                 QStringList{day});
    }
};

ORVANE_TEST(TestSqlDialect)
#include "tst_sqldialect.moc"
