// Two programs on one server registry: a document's version tells a save apart from another
// program's save of the same document (its row, subjects or FRDO row), and one certificate
// number saved by two programs at once ends up on one document only.
#include "database.h"
#include "documentrecords.h"
#include "fileschema.h"
#include "pgtestserver.h"
#include "profschema.h"
#include "serverschema.h"
#include "testregistry.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QSqlError>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using Outcome = DocumentRecords::SaveOutcome;
Q_DECLARE_METATYPE(Outcome)

namespace {
const QString clerkB = QStringLiteral("clerkB");

QVariant scalar(QSqlDatabase db, const QString& statement, const QVariantList& values = {}) {
    QSqlQuery query = PgTestServer::run(db, statement, values);
    return query.next() ? query.value(0) : QVariant();
}

QVariantMap valuesWith(const QString& fio1, const QString& attNumber = QString()) {
    QVariantMap values;
    for (const QString& column : DocumentRecords::formColumns())
        values.insert(column, QVariant());
    values.insert(QStringLiteral("fio1"), fio1);
    values.insert(QStringLiteral("attNumber"), attNumber);
    return values;
}
} // namespace

class TestDocumentVersions : public QObject {
    Q_OBJECT

    PgTestServer* _server = nullptr;
    QString _database;

    QSqlDatabase a() const { return QSqlDatabase::database(); }
    QSqlDatabase b() const { return QSqlDatabase::database(clerkB); }

    // A document with one subject and FRDO data, made by clerk B.
    qint64 newDocument(const QString& attNumber = QString()) {
        const qint64 id =
            scalar(b(), "INSERT INTO ProfDocuments (fio1, attNumber) VALUES ('Иванов', ?) RETURNING profId",
                   {attNumber})
                .toLongLong();
        PgTestServer::run(b(), "INSERT INTO ProfDetails (profId, name, count) VALUES (?, 'Черчение', 10)", {id});
        PgTestServer::run(b(), "INSERT INTO ProfFrdo (profId, snils) VALUES (?, '112-233-445 95')", {id});
        return id;
    }

    QString storedName(qint64 id) {
        return scalar(b(), "SELECT fio1 FROM ProfDocuments WHERE profId = ?", {id}).toString();
    }

private slots:
    void initTestCase() {
        QString error;
        _server = PgTestServer::shared(&error);
        QVERIFY2(_server, qPrintable(error));
        _database = _server->createDatabase(&error);
        QVERIFY2(!_database.isEmpty(), qPrintable(error));
        QSqlDatabase db = _server->connect(QLatin1String(QSqlDatabase::defaultConnection), _database, &error);
        QVERIFY2(db.isOpen(), qPrintable(error));
        QVERIFY2(ServerSchema::create(db, &error), qPrintable(error));
        QVERIFY2(_server->connect(clerkB, _database, &error).isOpen(), qPrintable(error));
    }
    void cleanupTestCase() {
        QSqlDatabase::removeDatabase(clerkB);
        QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    }

    // What clerk B did after clerk A read the version decides A's conditional save; a refused
    // save writes nothing.
    void conditionalSave_data() {
        QTest::addColumn<QString>("byB");
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("nothing") << QString() << Outcome::Saved;
        QTest::newRow("document") << "UPDATE ProfDocuments SET fio1 = 'Петров' WHERE profId = ?" << Outcome::Changed;
        QTest::newRow("same values again")
            << "UPDATE ProfDocuments SET fio1 = fio1 WHERE profId = ?" << Outcome::Changed;
        QTest::newRow("subject added") << "INSERT INTO ProfDetails (profId, name) VALUES (?, 'Охрана труда')"
                                       << Outcome::Changed;
        QTest::newRow("subject changed") << "UPDATE ProfDetails SET count = 12 WHERE profId = ?" << Outcome::Changed;
        QTest::newRow("subject deleted") << "DELETE FROM ProfDetails WHERE profId = ?" << Outcome::Changed;
        QTest::newRow("FRDO changed") << "UPDATE ProfFrdo SET snils = '' WHERE profId = ?" << Outcome::Changed;
        QTest::newRow("FRDO deleted") << "DELETE FROM ProfFrdo WHERE profId = ?" << Outcome::Changed;
        QTest::newRow("document deleted") << "DELETE FROM ProfDocuments WHERE profId = ?" << Outcome::Deleted;
    }
    void conditionalSave() {
        QFETCH(QString, byB);
        QFETCH(Outcome, outcome);
        const qint64 id = newDocument();
        const qint64 version = DocumentRecords::version(id);
        QVERIFY(version > 0);
        QString before = storedName(id);
        if (!byB.isEmpty()) {
            PgTestServer::run(b(), byB, {id});
            before = storedName(id);
        }
        QString error;
        QCOMPARE(DocumentRecords::update(id, valuesWith(QStringLiteral("Сидоров")), version, &error), outcome);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        if (outcome != Outcome::Saved) {
            QCOMPARE(storedName(id), before);
            return;
        }
        QCOMPARE(storedName(id), QStringLiteral("Сидоров"));
        QCOMPARE(DocumentRecords::version(id), version + 1);
        // Two saves in one second: the second with the first's version goes, a stale one does not.
        QCOMPARE(DocumentRecords::update(id, valuesWith(QStringLiteral("Второй")), version + 1, &error),
                 Outcome::Saved);
        QCOMPARE(DocumentRecords::update(id, valuesWith(QStringLiteral("Третий")), version + 1, &error),
                 Outcome::Changed);
        QCOMPARE(storedName(id), QStringLiteral("Второй"));
        // Version 0 is "whatever it is": the user chose to overwrite.
        QCOMPARE(DocumentRecords::update(id, valuesWith(QStringLiteral("Моё")), 0, &error), Outcome::Saved);
        QCOMPARE(storedName(id), QStringLiteral("Моё"));
    }

    // A write the server refuses is a failure with its reason, not "changed" or "saved".
    void refusedWriteFails() {
        const qint64 id = newDocument();
        const qint64 version = DocumentRecords::version(id);
        PgTestServer::run(b(), "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ "
                               "BEGIN RAISE EXCEPTION 'запись запрещена'; END $$");
        PgTestServer::run(b(), "CREATE TRIGGER refuse BEFORE UPDATE ON ProfDocuments FOR EACH ROW EXECUTE FUNCTION "
                               "refuse()");
        QString error;
        const Outcome outcome = DocumentRecords::update(id, valuesWith(QStringLiteral("Сидоров")), version, &error);
        PgTestServer::run(b(), "DROP TRIGGER refuse ON ProfDocuments");
        QCOMPARE(outcome, Outcome::Failed);
        QVERIFY2(error.contains(QStringLiteral("запись запрещена")), qPrintable(error));
        QCOMPARE(storedName(id), QStringLiteral("Иванов"));
        QCOMPARE(DocumentRecords::version(id), version);
        QCOMPARE(DocumentRecords::version(id + 1000), qint64(0));
    }

    // Clerk B saves a number and commits a moment later; clerk A, saving the same number to another
    // document meanwhile, waits for B and then finds the number taken. While B holds it too long,
    // A gives up with a reason instead of waiting on.
    void concurrentNumber_data() {
        QTest::addColumn<bool>("bCommits");
        QTest::newRow("B commits") << true;
        QTest::newRow("B holds on") << false;
    }
    void concurrentNumber() {
        QFETCH(bool, bCommits);
        const QString number = QStringLiteral("СВ %1").arg(bCommits);
        const qint64 idA = newDocument();
        const qint64 idB = newDocument();
        QSemaphore holding, release;
        bool bTaken = true;
        QString bError;
        QThread* thread = QThread::create([&] {
            const QString name = QStringLiteral("clerkB-thread");
            {
                QSqlDatabase db = _server->connect(name, _database, &bError);
                bool ok = db.transaction() && DocumentRecords::claimAttNumber(db, number, idB, &bTaken, &bError);
                PgTestServer::run(db, "UPDATE ProfDocuments SET attNumber = ? WHERE profId = ?", {number, idB});
                holding.release();
                if (bCommits)
                    QThread::msleep(700);
                else
                    release.acquire();
                ok = ok && (bCommits ? db.commit() : db.rollback());
                if (!ok)
                    bError += db.lastError().text();
                db.close();
            }
            QSqlDatabase::removeDatabase(name);
        });
        thread->start();
        QVERIFY(holding.tryAcquire(1, 10000));
        QVERIFY(a().transaction());
        QElapsedTimer timer;
        timer.start();
        bool aTaken = false;
        QString aError;
        const bool claimed = DocumentRecords::claimAttNumber(number, idA, &aTaken, &aError);
        const qint64 waited = timer.elapsed();
        a().rollback();
        release.release();
        QVERIFY(thread->wait(20000));
        delete thread;
        QVERIFY2(bError.isEmpty(), qPrintable(bError));
        QVERIFY(!bTaken);
        if (bCommits) {
            QVERIFY2(claimed, qPrintable(aError));
            QVERIFY(aTaken);
            QVERIFY2(waited >= 400, qPrintable(QString::number(waited)));
        } else {
            QVERIFY(!claimed);
            QVERIFY2(aError.contains(QStringLiteral("Номер свидетельства сохраняет другой пользователь")),
                     qPrintable(aError));
            QVERIFY2(waited >= 4000 && waited < 15000, qPrintable(QString::number(waited)));
        }
        // Afterwards the number is taken when B kept it; another number is no bother.
        bool taken = false;
        QVERIFY(DocumentRecords::claimAttNumber(number, idA, &taken, &aError));
        QCOMPARE(taken, bCommits);
        QVERIFY(DocumentRecords::claimAttNumber(QStringLiteral("другой"), idA, &taken, &aError) && !taken);
    }

    // The edit dialogs keep their transaction open after a save is undone: the number the undone
    // save claimed is free for another program at once.
    void undoneSaveLetsGoOfItsNumber() {
        const qint64 id = newDocument();
        QVERIFY(a().transaction());
        PgTestServer::run(a(), "SAVEPOINT save");
        bool taken = true;
        QString error;
        QVERIFY(DocumentRecords::claimAttNumber(QStringLiteral("СВ 9"), id, &taken, &error) && !taken);
        PgTestServer::run(a(), "ROLLBACK TO save");
        QElapsedTimer timer;
        timer.start();
        QVERIFY(b().transaction());
        const bool claimed = DocumentRecords::claimAttNumber(b(), QStringLiteral("СВ 9"), id + 1, &taken, &error);
        b().rollback();
        a().rollback();
        QVERIFY2(claimed, qPrintable(error));
        QVERIFY(timer.elapsed() < 2000);
    }

    // A registry made before row versions gets them from the check, its documents at version 1.
    void checkAddsRowVersions() {
        QString error;
        const QString database = _server->createDatabase(&error);
        {
            QSqlDatabase db = _server->connect(QStringLiteral("older"), database, &error);
            QVERIFY2(ServerSchema::create(db, &error), qPrintable(error));
            for (const char* table : {"ProfDetails", "ProfFrdo"})
                for (const char* event : {"insert", "update", "delete"})
                    PgTestServer::run(db, QStringLiteral("DROP TRIGGER %1_touch_%2 ON %1").arg(table, event));
            PgTestServer::run(db, "ALTER TABLE ProfDocuments DROP COLUMN rowVersion");
            PgTestServer::run(db, "INSERT INTO ProfDocuments (profId, fio1) VALUES (5, 'Иванов')");
            QVERIFY2(ServerSchema::check(db, &error), qPrintable(error));
            QVERIFY2(ServerSchema::check(db, &error), qPrintable(error));
            QCOMPARE(scalar(db, "SELECT rowVersion FROM ProfDocuments WHERE profId = 5").toLongLong(), qint64(1));
            PgTestServer::run(db, "INSERT INTO ProfDetails (profId, name) VALUES (5, 'Черчение')");
            PgTestServer::run(db, "INSERT INTO ProfFrdo (profId) VALUES (5)");
            PgTestServer::run(db, "UPDATE ProfDocuments SET fio2 = 'Иван' WHERE profId = 5");
            QCOMPARE(scalar(db, "SELECT rowVersion FROM ProfDocuments WHERE profId = 5").toLongLong(), qint64(4));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("older"));
    }

    // On a file one program works at a time: no versions, every save goes, a missing row is said.
    void fileIgnoresVersions() {
        QTemporaryDir folder;
        const QString connection = QLatin1String(QSqlDatabase::defaultConnection);
        {
            QSqlDatabase server = QSqlDatabase::database();
            server.close();
        }
        QSqlDatabase::removeDatabase(connection);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
            db.setDatabaseName(folder.filePath(QStringLiteral("registry.db")));
            QVERIFY(db.open());
            QString error;
            for (const DBTable& table : ProfSchema::tables())
                QVERIFY2(FileSchema::createTable(db, table, &error), qPrintable(error));
            PgTestServer::run(db, "INSERT INTO ProfDocuments (profId, fio1, attNumber) VALUES (3, 'Иванов', 'СВ')");
            QCOMPARE(DocumentRecords::version(3), qint64(0));
            QCOMPARE(DocumentRecords::update(3, valuesWith(QStringLiteral("Петров"), "СВ"), 7, &error), Outcome::Saved);
            QCOMPARE(DocumentRecords::update(4, valuesWith(QStringLiteral("Петров")), 0, &error), Outcome::Deleted);
            bool taken = true;
            QVERIFY(DocumentRecords::claimAttNumber(QStringLiteral("СВ"), 3, &taken, &error) && !taken);
            QVERIFY(DocumentRecords::claimAttNumber(QStringLiteral("СВ"), 4, &taken, &error) && taken);
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);
    }
};

ORVANE_TEST(TestDocumentVersions)
#include "tst_documentversions.moc"
