// The history a server registry keeps by itself: the entries its triggers write for changes made
// as psql makes them, merged per transaction, with the kind and source a program announces, none
// for a failed write, refused writes for a login that may not write the history, the structure
// check bringing it back, and the move, the backup and the restore carrying it unchanged.
#include "documenthistory.h"
#include "fileschema.h"
#include "pgtestserver.h"
#include "profschema.h"
#include "registrymove.h"
#include "serverconnection.h"
#include "serverhistory.h"
#include "serverschema.h"
#include "testregistry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const qint64 documentId = 7;

// Document 7 with two subjects and an FRDO row, as every case starts.
const QStringList baseDocument = {
    "INSERT INTO ProfDocuments (profId, fio1, fio2, fio3, attNumber, editDate) "
    "VALUES (7, 'Иванов', 'Пётр', 'Ильич', '000123', '2024-01-01')",
    "INSERT INTO ProfDetails (detId, profId, name, count, rate) VALUES (17, 7, 'Охрана труда', 72, 'зачтено'), "
    "(18, 7, 'Физика', 36, '5')",
    "INSERT INTO ProfFrdo (profId, snils, RegNumberFrdo) VALUES (7, '112-233-445 95', 'Р-1')"};

// What a deletion of document 7 keeps: every column but the keys, editDate included.
QJsonObject baseSnapshot() {
    const QVariantMap document = {
        {"fio1", "Иванов"}, {"fio2", "Пётр"}, {"fio3", "Ильич"}, {"attNumber", "000123"}, {"editDate", "2024-01-01"}};
    const QVariantMap frdo = {{"snils", "112-233-445 95"}, {"RegNumberFrdo", "Р-1"}};
    const auto row = [](const QString& table, const QVariantMap& values) {
        QJsonObject object;
        const DBTable schema = ProfSchema::tables().value(table);
        for (const DBColumn& column : schema.columns)
            if (column.name != schema.sequence_col && column.name != ProfSchema::mainPrimaryKeyName())
                object.insert(column.name, QJsonValue::fromVariant(values.value(column.name)));
        return object;
    };
    return {{"ProfDocuments", row("ProfDocuments", document)},
            {"ProfDetails", QJsonArray{QJsonObject{{"name", "Охрана труда"}, {"count", 72}, {"rate", "зачтено"}},
                                       QJsonObject{{"name", "Физика"}, {"count", 36}, {"rate", "5"}}}},
            {"ProfFrdo", row("ProfFrdo", frdo)}};
}

const char* const historyColumns =
    "historyId, profId, changedAt, kind, login, osUser, host, source, docName, attNumber, changes, snapshot, xact";

QSqlQuery exec(QSqlDatabase db, const QString& statement, const QVariantList& values = {}) {
    return PgTestServer::run(db, statement, values);
}

QVariant scalar(QSqlDatabase db, const QString& statement, const QVariantList& values = {}) {
    QSqlQuery query = exec(db, statement, values);
    return query.next() ? query.value(0) : QVariant();
}

// Every row of a statement, NULL told apart from "".
QStringList rows(QSqlDatabase db, const QString& statement) {
    QSqlQuery query = exec(db, statement);
    QStringList result;
    while (query.next()) {
        QStringList cells;
        for (int i = 0; i < query.record().count(); ++i)
            cells << (query.isNull(i) ? QStringLiteral("NULL") : query.value(i).toString());
        result << cells.join(QLatin1Char('|'));
    }
    return result;
}

QStringList historyRows(QSqlDatabase db) {
    return rows(db, QStringLiteral("SELECT %1 FROM DocumentHistory ORDER BY historyId").arg(historyColumns));
}

// `statements` in one transaction, as psql would run them between BEGIN and COMMIT; false with the
// server's reason when one fails (the transaction is then rolled back).
bool inTransaction(QSqlDatabase db, const QStringList& statements, QString* error = nullptr) {
    if (!db.transaction())
        return false;
    for (const QString& statement : statements) {
        QSqlQuery query(db);
        if (!query.exec(statement)) {
            if (error)
                *error = query.lastError().text();
            db.rollback();
            return false;
        }
    }
    return db.commit();
}

struct Entry {
    QString kind, login, osUser, host, source, docName, attNumber, changedAt;
    QJsonArray changes;
    QJsonValue snapshot;
    qint64 xact = 0;
};

QVector<Entry> entriesOf(QSqlDatabase db, qint64 profId) {
    QSqlQuery query = exec(db,
                           "SELECT kind, login, osUser, host, source, docName, attNumber, changedAt, changes, "
                           "snapshot, xact FROM DocumentHistory WHERE profId = ? ORDER BY historyId",
                           {profId});
    QVector<Entry> entries;
    while (query.next()) {
        Entry e{query.value(0).toString(), query.value(1).toString(), query.value(2).toString(),
                query.value(3).toString(), query.value(4).toString(), query.value(5).toString(),
                query.value(6).toString(), query.value(7).toString()};
        e.changes = QJsonDocument::fromJson(query.value(8).toByteArray()).array();
        e.snapshot = query.isNull(9) ? QJsonValue() : QJsonDocument::fromJson(query.value(9).toByteArray()).object();
        e.xact = query.value(10).toLongLong();
        entries << e;
    }
    return entries;
}

QJsonArray json(const char* text) {
    return QJsonDocument::fromJson(QByteArray(text)).array();
}
} // namespace

class TestServerHistory : public QObject {
    Q_OBJECT
    PgTestServer* _server = nullptr;
    QTemporaryDir _dir;
    int _connections = 0;
    QStringList _opened;

    // A new server registry holding document 7 and no entries, opened as the program opens one.
    QSqlDatabase freshRegistry(QString* name = nullptr) {
        QString error;
        const QString database = _server->createDatabase(&error);
        if (name)
            *name = database;
        const QString connection = QStringLiteral("history%1").arg(++_connections);
        _opened << connection;
        ServerProblem problem = ServerProblem::None;
        if (!ServerConnection::open(_server->addressOf(database), connection, &problem, &error))
            qWarning() << error;
        QSqlDatabase db = QSqlDatabase::database(connection, false);
        if (!ServerSchema::create(db, &error) || !inTransaction(db, baseDocument, &error) ||
            !exec(db, "DELETE FROM DocumentHistory").isActive())
            qWarning() << error;
        return db;
    }

    QSqlDatabase plainConnection(const QString& database, const QString& user = QString()) {
        const QString connection = QStringLiteral("plain%1").arg(++_connections);
        _opened << connection;
        QString error;
        QSqlDatabase db = _server->connect(connection, database, &error, user);
        if (!db.isOpen())
            qWarning() << error;
        return db;
    }

    // A registry file as the program makes one, with `statements` run on it.
    QString makeFile(const QStringList& statements) {
        const QString path = _dir.filePath(QStringLiteral("registry%1.sqlite").arg(++_connections));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "maker");
            db.setDatabaseName(path);
            db.open();
            QString error;
            for (const DBTable& table : ProfSchema::tables())
                if (!FileSchema::createTable(db, table, &error))
                    qWarning() << error;
            for (const QString& statement : statements)
                exec(db, statement);
            db.close();
        }
        QSqlDatabase::removeDatabase("maker");
        return path;
    }

private slots:
    void initTestCase() {
        QString error;
        _server = PgTestServer::shared(&error);
        QVERIFY2(_server, qPrintable(error));
    }

    // The test server takes few connections at once.
    void cleanup() {
        for (const QString& name : qAsConst(_opened)) {
            QSqlDatabase::database(name, false).close();
            QSqlDatabase::removeDatabase(name);
        }
        _opened.clear();
    }

    // Each change made in one transaction of plain SQL and the one entry it leaves (none: kind "").
    void plainSqlLeavesOneEntry_data() {
        QTest::addColumn<QStringList>("setup");
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<qint64>("profId");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("docName");
        QTest::addColumn<QJsonArray>("changes"); // compared unless empty
        QTest::addColumn<bool>("snapshot");
        const QStringList none;
        const QJsonArray unchecked;
        QTest::newRow("new document")
            << none
            << QStringList{"INSERT INTO ProfDocuments (profId, fio1, fio2, attNumber) "
                           "VALUES (5000000000, '  Сидорова ', 'Анна', '000124')"}
            << Q_INT64_C(5000000000) << "create"
            << "Сидорова Анна" << json(R"([{"table":"ProfDocuments","field":"fio1","old":null,"new":"  Сидорова "},
                        {"table":"ProfDocuments","field":"fio2","old":null,"new":"Анна"},
                        {"table":"ProfDocuments","field":"attNumber","old":null,"new":"000124"}])")
            << false;
        QTest::newRow("fields changed, editDate not listed")
            << none
            << QStringList{"UPDATE ProfDocuments SET fio1 = 'Петров', editDate = '2025-01-01', "
                           "comment = 'O''Neil «Ёж»' WHERE profId = 7"}
            << documentId << "edit"
            << "Петров Пётр Ильич" << json(R"([{"table":"ProfDocuments","field":"fio1","old":"Иванов","new":"Петров"},
                        {"table":"ProfDocuments","field":"comment","old":null,"new":"O\u0027Neil «Ёж»"}])")
            << false;
        QTest::newRow("nothing but editDate changed")
            << none << QStringList{"UPDATE ProfDocuments SET fio1 = fio1, editDate = '2025-01-02' WHERE profId = 7"}
            << documentId << ""
            << "" << unchecked << false;
        QTest::newRow("changed and changed back")
            << none
            << QStringList{"UPDATE ProfDocuments SET fio1 = 'X' WHERE profId = 7",
                           "UPDATE ProfDocuments SET fio1 = 'Иванов' WHERE profId = 7"}
            << documentId << ""
            << "" << unchecked << false;
        QTest::newRow("changed twice")
            << none
            << QStringList{"UPDATE ProfDocuments SET fio1 = 'А', attNumber = '9' WHERE profId = 7",
                           "UPDATE ProfDocuments SET fio1 = 'Б', attNumber = '000123' WHERE profId = 7"}
            << documentId << "edit"
            << "Б Пётр Ильич" << json(R"([{"table":"ProfDocuments","field":"fio1","old":"Иванов","new":"Б"}])")
            << false;
        // Integers a double cannot hold are kept as text.
        QTest::newRow("subject added")
            << none
            << QStringList{"INSERT INTO ProfDetails (detId, profId, name, count) "
                           "VALUES (4611686018427387904, 7, 'Химия', 9007199254740993)"}
            << documentId << "edit"
            << "Иванов Пётр Ильич"
            << json(R"([{"table":"ProfDetails","row":"4611686018427387904","name":"Химия","field":"","old":null,
                         "new":{"name":"Химия","count":"9007199254740993","rate":null}}])")
            << false;
        QTest::newRow("subject without a name added")
            << none << QStringList{"INSERT INTO ProfDetails (detId, profId, count) VALUES (19, 7, 10)"} << documentId
            << "edit"
            << "Иванов Пётр Ильич" << json(R"([{"table":"ProfDetails","row":19,"name":"","field":"","old":null,
                         "new":{"name":null,"count":10,"rate":null}}])")
            << false;
        QTest::newRow("subject changed")
            << none << QStringList{"UPDATE ProfDetails SET count = 80 WHERE detId = 17"} << documentId << "edit"
            << "Иванов Пётр Ильич"
            << json(R"([{"table":"ProfDetails","row":17,"name":"Охрана труда","field":"count","old":72,"new":80}])")
            << false;
        QTest::newRow("subject renamed")
            << none << QStringList{"UPDATE ProfDetails SET name = 'Охрана' WHERE detId = 17"} << documentId << "edit"
            << "Иванов Пётр Ильич"
            << json(R"([{"table":"ProfDetails","row":17,"name":"Охрана","field":"name","old":"Охрана труда",
                         "new":"Охрана"}])")
            << false;
        QTest::newRow("subject removed")
            << none << QStringList{"DELETE FROM ProfDetails WHERE detId = 18"} << documentId << "edit"
            << "Иванов Пётр Ильич"
            << json(R"([{"table":"ProfDetails","row":18,"name":"Физика","field":"","old":{"name":"Физика","count":36,
                         "rate":"5"},"new":null}])")
            << false;
        QTest::newRow("subject added and changed")
            << none
            << QStringList{"INSERT INTO ProfDetails (detId, profId, name, count) VALUES (19, 7, 'Химия', 10)",
                           "UPDATE ProfDetails SET count = 12 WHERE detId = 19"}
            << documentId << "edit"
            << "Иванов Пётр Ильич" << json(R"([{"table":"ProfDetails","row":19,"name":"Химия","field":"","old":null,
                         "new":{"name":"Химия","count":12,"rate":null}}])")
            << false;
        QTest::newRow("subject changed and removed")
            << none
            << QStringList{"UPDATE ProfDetails SET count = 80 WHERE detId = 17",
                           "DELETE FROM ProfDetails WHERE detId = 17"}
            << documentId << "edit"
            << "Иванов Пётр Ильич" << json(R"([{"table":"ProfDetails","row":17,"name":"Охрана труда","field":"",
                         "old":{"name":"Охрана труда","count":72,"rate":"зачтено"},"new":null}])")
            << false;
        QTest::newRow("subject added and removed")
            << none
            << QStringList{"INSERT INTO ProfDetails (detId, profId, name) VALUES (19, 7, 'Химия')",
                           "DELETE FROM ProfDetails WHERE detId = 19"}
            << documentId << ""
            << "" << unchecked << false;
        QTest::newRow("FRDO value cleared")
            << none << QStringList{"UPDATE ProfFrdo SET snils = NULL WHERE profId = 7"} << documentId << "edit"
            << "Иванов Пётр Ильич"
            << json(R"([{"table":"ProfFrdo","field":"snils","old":"112-233-445 95","new":null}])") << false;
        QTest::newRow("FRDO row written again")
            << none
            << QStringList{"DELETE FROM ProfFrdo WHERE profId = 7",
                           "INSERT INTO ProfFrdo (profId, snils, RegNumberFrdo) VALUES (7, '112-233-445 95', 'Р-2')"}
            << documentId << "edit"
            << "Иванов Пётр Ильич" << json(R"([{"table":"ProfFrdo","field":"RegNumberFrdo","old":"Р-1","new":"Р-2"}])")
            << false;
        QTest::newRow("deleted after its rows")
            << none
            << QStringList{"DELETE FROM ProfFrdo WHERE profId = 7", "DELETE FROM ProfDetails WHERE profId = 7",
                           "DELETE FROM ProfDocuments WHERE profId = 7"}
            << documentId << "delete"
            << "Иванов Пётр Ильич" << unchecked << true;
        QTest::newRow("deleted before its rows")
            << none
            << QStringList{"DELETE FROM ProfDocuments WHERE profId = 7", "DELETE FROM ProfDetails WHERE profId = 7",
                           "DELETE FROM ProfFrdo WHERE profId = 7"}
            << documentId << "delete"
            << "Иванов Пётр Ильич" << unchecked << true;
        QTest::newRow("deleted by a cascade")
            << QStringList{"ALTER TABLE ProfDetails ADD FOREIGN KEY (profId) REFERENCES ProfDocuments(profId) "
                           "ON DELETE CASCADE",
                           "ALTER TABLE ProfFrdo ADD FOREIGN KEY (profId) REFERENCES ProfDocuments(profId) "
                           "ON DELETE CASCADE"}
            << QStringList{"DELETE FROM ProfDocuments WHERE profId = 7"} << documentId << "delete"
            << "Иванов Пётр Ильич" << unchecked << true;
        QTest::newRow("deleted alone, its rows left behind")
            << none << QStringList{"DELETE FROM ProfDocuments WHERE profId = 7"} << documentId << "delete"
            << "Иванов Пётр Ильич" << unchecked << true;
    }

    void plainSqlLeavesOneEntry() {
        QFETCH(QStringList, setup);
        QFETCH(QStringList, statements);
        QFETCH(qint64, profId);
        QFETCH(QString, kind);
        QFETCH(QString, docName);
        QFETCH(QJsonArray, changes);
        QFETCH(bool, snapshot);
        QString name;
        QSqlDatabase db = freshRegistry(&name);
        QVERIFY2(_server->exec(name, setup), "setup");
        QSqlDatabase psql = plainConnection(name);
        QString error;
        QVERIFY2(inTransaction(psql, statements, &error), qPrintable(error));
        const QVector<Entry> entries = entriesOf(db, profId);
        QCOMPARE(entries.size(), kind.isEmpty() ? 0 : 1);
        QCOMPARE(scalar(db, "SELECT count(*) FROM DocumentHistory").toInt(), entries.size());
        if (kind.isEmpty())
            return;
        const Entry& entry = entries.first();
        QCOMPARE(entry.kind, kind);
        QCOMPARE(entry.docName, docName);
        QCOMPARE(entry.login, QStringLiteral("postgres"));
        if (!changes.isEmpty())
            QCOMPARE(entry.changes, changes);
        QCOMPARE(entry.snapshot.isObject(), snapshot);
        if (snapshot) {
            QCOMPARE(entry.snapshot.toObject(), baseSnapshot());
            QCOMPARE(entry.attNumber, QStringLiteral("000123"));
        }
    }

    // Who and when: the login always; the computer's user and name from a connection the program
    // opened, none from psql's. Two transactions are two entries.
    void entryNamesWhoAndWhen_data() {
        QTest::addColumn<bool>("program");
        QTest::newRow("the program") << true;
        QTest::newRow("psql") << false;
    }

    void entryNamesWhoAndWhen() {
        QFETCH(bool, program);
        QString name;
        QSqlDatabase db = freshRegistry(&name);
        QSqlDatabase writer = program ? db : plainConnection(name);
        QVERIFY(inTransaction(writer, {"UPDATE ProfDocuments SET fio3 = NULL WHERE profId = 7"}));
        QVERIFY(inTransaction(writer, {"UPDATE ProfDetails SET rate = 'зачёт' WHERE detId = 17"}));
        // Set by the program even when the computer does not tell its user or name.
        QCOMPARE(scalar(writer, "SELECT current_setting('orvane.os_user', true) IS NOT NULL AND "
                                "current_setting('orvane.host', true) IS NOT NULL")
                     .toBool(),
                 program);
        const QVector<Entry> entries = entriesOf(db, documentId);
        QCOMPARE(entries.size(), 2);
        QVERIFY(entries[0].xact != entries[1].xact);
        QCOMPARE(entries[1].docName, QStringLiteral("Иванов Пётр"));
        for (const Entry& entry : entries) {
            QCOMPARE(entry.login, QStringLiteral("postgres"));
            QCOMPARE(entry.osUser, program ? DocumentHistory::osUser() : QString());
            QCOMPARE(entry.host, program ? DocumentHistory::hostName() : QString());
            QVERIFY2(
                QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$").match(entry.changedAt).hasMatch(),
                qPrintable(entry.changedAt));
        }
    }

    // The kind and source a program announces for its transaction, and the silent one of a move.
    void announcedKindAndSource_data() {
        QTest::addColumn<QString>("announced");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("kind");
        QTest::newRow("none") << ""
                              << ""
                              << "create";
        QTest::newRow("import") << "import"
                                << "группа 'А'.xlsx"
                                << "import";
        QTest::newRow("copy") << "copy"
                              << "из документа 7"
                              << "copy";
        QTest::newRow("restore") << "restore"
                                 << ""
                                 << "restore";
        QTest::newRow("move") << ServerHistory::silentKind << ""
                              << "";
    }

    void announcedKindAndSource() {
        QFETCH(QString, announced);
        QFETCH(QString, source);
        QFETCH(QString, kind);
        QSqlDatabase db = freshRegistry();
        QVERIFY(db.transaction());
        QVERIFY(exec(db, "SELECT set_config('orvane.kind', ?, true), set_config('orvane.source', ?, true)",
                     {announced, source})
                    .isActive());
        QVERIFY(exec(db, "INSERT INTO ProfDocuments (profId, fio1) VALUES (8, 'Копия')").isActive());
        QVERIFY(exec(db, "INSERT INTO ProfDetails (profId, name) VALUES (8, 'Физика')").isActive());
        QVERIFY(db.commit());
        // Announced for the transaction only: the next one is told by its statement.
        QVERIFY(inTransaction(db, {"UPDATE ProfDocuments SET fio2 = 'Б' WHERE profId = 8"}));
        const QVector<Entry> entries = entriesOf(db, 8);
        QCOMPARE(entries.size(), kind.isEmpty() ? 1 : 2);
        QCOMPARE(entries.last().kind, QStringLiteral("edit"));
        QCOMPARE(entries.last().source, QString());
        if (kind.isEmpty())
            return;
        QCOMPARE(entries.first().kind, kind);
        QCOMPARE(entries.first().source, source);
        QCOMPARE(entries.first().changes.size(), 2);
    }

    // A write that fails leaves neither its change nor an entry; work undone to a savepoint leaves
    // no trace in the entry of what is kept.
    void failedWriteLeavesNoEntry_data() {
        QTest::addColumn<QStringList>("setup");
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<QJsonArray>("changes"); // empty: the transaction fails
        QTest::newRow("check refuses the second statement")
            << QStringList{"ALTER TABLE ProfDetails ADD CHECK (count >= 0)"}
            << QStringList{"UPDATE ProfDocuments SET fio1 = 'Петров' WHERE profId = 7",
                           "INSERT INTO ProfDetails (profId, name, count) VALUES (7, 'Химия', -1)"}
            << QJsonArray();
        QTest::newRow("trigger raises")
            << QStringList{"CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                           "$$ BEGIN RAISE EXCEPTION 'отказ'; END $$",
                           "CREATE TRIGGER refuse BEFORE UPDATE ON ProfFrdo FOR EACH ROW EXECUTE FUNCTION refuse()"}
            << QStringList{"DELETE FROM ProfDetails WHERE detId = 18", "UPDATE ProfFrdo SET snils = NULL"}
            << QJsonArray();
        QTest::newRow("history refuses its entry")
            << QStringList{"CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                           "$$ BEGIN RAISE EXCEPTION 'отказ'; END $$",
                           "CREATE TRIGGER refuse BEFORE INSERT ON DocumentHistory FOR EACH ROW "
                           "EXECUTE FUNCTION refuse()"}
            << QStringList{"UPDATE ProfDocuments SET fio1 = 'Петров' WHERE profId = 7"} << QJsonArray();
        QTest::newRow("savepoint rolled back")
            << QStringList()
            << QStringList{"SAVEPOINT s", "UPDATE ProfDocuments SET fio1 = 'Петров' WHERE profId = 7",
                           "ROLLBACK TO SAVEPOINT s", "UPDATE ProfDocuments SET fio2 = 'Павел' WHERE profId = 7"}
            << json(R"([{"table":"ProfDocuments","field":"fio2","old":"Пётр","new":"Павел"}])");
    }

    void failedWriteLeavesNoEntry() {
        QFETCH(QStringList, setup);
        QFETCH(QStringList, statements);
        QFETCH(QJsonArray, changes);
        QString name;
        QSqlDatabase db = freshRegistry(&name);
        QVERIFY2(_server->exec(name, setup), "setup");
        const QString written = "SELECT fio1 || ' ' || fio2 FROM ProfDocuments UNION ALL SELECT name FROM ProfDetails "
                                "UNION ALL SELECT snils FROM ProfFrdo ORDER BY 1";
        const QStringList before = rows(db, written);
        QCOMPARE(before.size(), 4);
        QString error;
        QCOMPARE(inTransaction(db, statements, &error), !changes.isEmpty());
        const QVector<Entry> entries = entriesOf(db, documentId);
        if (changes.isEmpty()) {
            QVERIFY2(error.contains(QStringLiteral("отказ")) || error.contains(QStringLiteral("check")),
                     qPrintable(error));
            QCOMPARE(rows(db, written), before);
            QCOMPARE(entries.size(), 0);
            return;
        }
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().changes, changes);
    }

    // The triggers write with the rights of whoever writes: a login that may change documents but
    // not add to their history changes none.
    void writerNeedsTheRightToTheHistory_data() {
        QTest::addColumn<bool>("mayAdd");
        QTest::newRow("without INSERT on the history") << false;
        QTest::newRow("with it") << true;
    }

    void writerNeedsTheRightToTheHistory() {
        QFETCH(bool, mayAdd);
        QString name;
        QSqlDatabase db = freshRegistry(&name);
        const QString role = QStringLiteral("clerk_h%1").arg(_connections);
        QStringList grants = {
            QStringLiteral("CREATE ROLE %1 LOGIN").arg(role),
            QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA public TO %1").arg(role),
            QStringLiteral("GRANT USAGE ON ALL SEQUENCES IN SCHEMA public TO %1").arg(role)};
        if (!mayAdd)
            grants << QStringLiteral("REVOKE INSERT ON DocumentHistory FROM %1").arg(role);
        QVERIFY(_server->exec(name, grants));
        QSqlDatabase clerk = plainConnection(name, role);
        QVERIFY(clerk.isOpen());
        QString error;
        QCOMPARE(inTransaction(clerk, {"UPDATE ProfDocuments SET fio1 = 'Петров' WHERE profId = 7"}, &error), mayAdd);
        QCOMPARE(scalar(db, "SELECT fio1 FROM ProfDocuments WHERE profId = 7").toString(),
                 mayAdd ? QStringLiteral("Петров") : QStringLiteral("Иванов"));
        const QVector<Entry> entries = entriesOf(db, documentId);
        QCOMPARE(entries.size(), mayAdd ? 1 : 0);
        if (mayAdd)
            QCOMPARE(entries.first().login, role);
        else
            QVERIFY2(error.contains(QStringLiteral("documenthistory")), qPrintable(error));
    }

    // A registry made by an older program, or one whose triggers were dropped, gets the table, its
    // indexes and the triggers back from the structure check; the entries start empty.
    void checkBringsTheHistoryBack_data() {
        QTest::addColumn<QString>("damage");
        QTest::newRow("no history table") << "DROP TABLE DocumentHistory";
        QTest::newRow("no triggers") << "DROP FUNCTION orvane_history() CASCADE";
        QTest::newRow("no index") << "DROP INDEX DocumentHistory_changedAt";
    }

    void checkBringsTheHistoryBack() {
        QFETCH(QString, damage);
        QSqlDatabase db = freshRegistry();
        QVERIFY(exec(db, damage).isActive());
        QString error;
        QVERIFY2(ServerSchema::check(db, &error), qPrintable(error));
        QCOMPARE(scalar(db, "SELECT count(*) FROM DocumentHistory").toInt(), 0);
        QCOMPARE(rows(db, "SELECT indexname FROM pg_indexes WHERE tablename = 'documenthistory' "
                          "AND indexname NOT LIKE '%_pkey' ORDER BY 1"),
                 (QStringList{"documenthistory_changedat", "documenthistory_profid"}));
        QVERIFY(inTransaction(db, {"UPDATE ProfDetails SET count = 80 WHERE detId = 17"}));
        QCOMPARE(entriesOf(db, documentId).size(), 1);
    }

    // The entries of a file arrive with their ids, none is added for the move's own rows, and the
    // server numbers its own past them.
    void moveCarriesTheEntries() {
        const QString file = makeFile(
            baseDocument +
            QStringList{"INSERT INTO DocumentHistory (historyId, profId, changedAt, kind, osUser, host, docName, "
                        "attNumber, changes) VALUES (3, 7, '2024-01-01T10:00:00', 'create', 'anna', 'pc-1', "
                        "'Иванов Пётр Ильич', '000123', '[{\"table\":\"ProfDocuments\",\"field\":\"fio1\","
                        "\"old\":null,\"new\":\"Иванов\"}]')",
                        "INSERT INTO DocumentHistory (historyId, profId, changedAt, kind, docName, changes, snapshot) "
                        "VALUES (5000000000, 9, '2024-02-01T11:00:00', 'delete', 'Петров', '[]', "
                        "'{\"ProfDocuments\":{\"fio1\":\"Петров\"},\"ProfDetails\":[],\"ProfFrdo\":null}')"});
        QSqlDatabase sqlite = QSqlDatabase::addDatabase("QSQLITE", "moved");
        sqlite.setDatabaseName(file);
        QVERIFY(sqlite.open());
        const QStringList fileRows = historyRows(sqlite);
        sqlite.close();
        sqlite = QSqlDatabase();
        QSqlDatabase::removeDatabase("moved");
        QCOMPARE(fileRows.size(), 2);

        QString error;
        const QString database = _server->createDatabase(&error);
        QSqlDatabase db = plainConnection(database);
        QVERIFY2(RegistryMove::toServer(file, db, nullptr, &error), qPrintable(error));
        QCOMPARE(historyRows(db), fileRows);
        QVERIFY(inTransaction(db, {"UPDATE ProfDocuments SET fio1 = 'Петров' WHERE profId = 7"}));
        QCOMPARE(scalar(db, "SELECT max(historyId) FROM DocumentHistory").toLongLong(), Q_INT64_C(5000000001));
    }

    // The server's backup holds its entries as they are, and a restore puts back the copy's entries
    // only: neither the rows it removes nor those it brings are recorded. A restore the server
    // refuses keeps the entries as they were.
    void backupAndRestoreKeepTheEntries_data() {
        QTest::addColumn<bool>("refused");
        QTest::newRow("restored") << false;
        QTest::newRow("refused") << true;
    }

    void backupAndRestoreKeepTheEntries() {
        QFETCH(bool, refused);
        QString name;
        QSqlDatabase db = freshRegistry(&name);
        QVERIFY(inTransaction(db, {"UPDATE ProfDocuments SET fio1 = 'Петров' WHERE profId = 7"}));
        QVERIFY(inTransaction(db, {"DELETE FROM ProfDetails WHERE detId = 18"}));
        const QStringList backedUp = historyRows(db);
        QCOMPARE(backedUp.size(), 2);
        const QString file = _dir.filePath(QStringLiteral("backup%1.sqlite").arg(++_connections));
        QString error;
        QVERIFY2(RegistryMove::toFile(db, file, &error), qPrintable(error));
        {
            QSqlDatabase sqlite = QSqlDatabase::addDatabase("QSQLITE", "backup");
            sqlite.setDatabaseName(file);
            QVERIFY(sqlite.open());
            QCOMPARE(historyRows(sqlite), backedUp);
            sqlite.close();
        }
        QSqlDatabase::removeDatabase("backup");

        QVERIFY(inTransaction(db, {"DELETE FROM ProfDocuments WHERE profId = 7"}));
        const QStringList later = historyRows(db);
        QCOMPARE(later.size(), 3);
        if (refused)
            QVERIFY(_server->exec(name, {"CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                                         "$$ BEGIN RAISE EXCEPTION 'отказ'; END $$",
                                         "CREATE TRIGGER refuse BEFORE INSERT ON ProfFrdo FOR EACH ROW "
                                         "EXECUTE FUNCTION refuse()"}));
        QCOMPARE(RegistryMove::replaceOnServer(file, db, nullptr, &error), !refused);
        QCOMPARE(historyRows(db), refused ? later : backedUp);
        if (refused)
            return;
        // Recorded again from the next change on, numbered past the entries put back.
        QVERIFY(inTransaction(db, {"UPDATE ProfDocuments SET fio2 = 'Павел' WHERE profId = 7"}));
        const QStringList now = historyRows(db);
        QCOMPARE(now.mid(0, 2), backedUp);
        QCOMPARE(now.size(), 3);
        QVERIFY(now.last().section(QLatin1Char('|'), 0, 0).toLongLong() >
                backedUp.last().section(QLatin1Char('|'), 0, 0).toLongLong());
    }
};

ORVANE_TEST(TestServerHistory)
#include "tst_serverhistory.moc"
