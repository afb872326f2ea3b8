#include "database.h"
#include "documentcount.h"
#include "testdatabase.h"
#include "testregistry.h"

#include <QSqlQuery>
#include <QtTest>

namespace {
// What the list would count itself.
qint64 counted() {
    QSqlQuery query = runSql(QStringLiteral("SELECT COUNT(*) FROM ViewProfDocuments"));
    return query.next() ? query.value(0).toLongLong() : -1;
}

qint64 kept() {
    QSqlQuery query = runSql(QStringLiteral("SELECT documents FROM ProfDocumentCount"));
    return query.next() ? query.value(0).toLongLong() : -1;
}

// Documents 1-3 (the third marked 0, not a template) and templates 4 and 5.
void fill() {
    runSql(QStringLiteral("INSERT INTO ProfDocuments (profId, fio1, isTemplate) VALUES (1, 'Иванов', NULL), "
                          "(2, 'Петров', NULL), (3, 'Сидоров', 0), (4, 'Шаблон', 1), (5, 'Шаблон 2', 1)"));
}

const QString refuse = QStringLiteral("BEGIN SELECT RAISE(ABORT, 'отказано'); END");
} // namespace

class TestDocumentCount : public QObject {
    Q_OBJECT

private slots:
    // Whatever is written, by the program or anyone else, the kept number is the list's count.
    void followsWrites_data() {
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<qint64>("documents");
        QTest::newRow("nothing") << QStringList() << qint64(3);
        QTest::newRow("a document added")
            << QStringList{"INSERT INTO ProfDocuments (fio1) VALUES ('Новый')"} << qint64(4);
        QTest::newRow("a template added")
            << QStringList{"INSERT INTO ProfDocuments (fio1, isTemplate) VALUES ('Ш', 1)"} << qint64(3);
        QTest::newRow("a row marked 2 is a document")
            << QStringList{"INSERT INTO ProfDocuments (fio1, isTemplate) VALUES ('Д', 2)"} << qint64(4);
        QTest::newRow("a document deleted") << QStringList{"DELETE FROM ProfDocuments WHERE profId = 1"} << qint64(2);
        QTest::newRow("a template deleted") << QStringList{"DELETE FROM ProfDocuments WHERE profId = 4"} << qint64(3);
        QTest::newRow("everything deleted") << QStringList{"DELETE FROM ProfDocuments"} << qint64(0);
        QTest::newRow("a document made a template")
            << QStringList{"UPDATE ProfDocuments SET isTemplate = 1 WHERE profId = 2"} << qint64(2);
        QTest::newRow("a template made a document")
            << QStringList{"UPDATE ProfDocuments SET isTemplate = NULL WHERE profId = 4"} << qint64(4);
        QTest::newRow("every row's mark set at once")
            << QStringList{"UPDATE ProfDocuments SET isTemplate = 1 - IFNULL(isTemplate, 0)"} << qint64(2);
        QTest::newRow("a mark changed from NULL to 0")
            << QStringList{"UPDATE ProfDocuments SET isTemplate = 0 WHERE profId = 1"} << qint64(3);
        QTest::newRow("another column changed")
            << QStringList{"UPDATE ProfDocuments SET fio1 = 'Ф' WHERE profId < 5"} << qint64(3);
        QTest::newRow("a transaction rolled back")
            << QStringList{"SAVEPOINT s", "INSERT INTO ProfDocuments (fio1) VALUES ('Отменён')",
                           "DELETE FROM ProfDocuments WHERE profId = 1", "ROLLBACK TO s", "RELEASE s"}
            << qint64(3);
        QTest::newRow("an insert refused") << QStringList{"CREATE TRIGGER t AFTER INSERT ON ProfDocuments " + refuse,
                                                          "INSERT INTO ProfDocuments (fio1) VALUES ('Отказ')"}
                                           << qint64(3);
        QTest::newRow("a delete refused after the count moved")
            << QStringList{"CREATE TRIGGER t AFTER DELETE ON ProfDocuments WHEN OLD.profId = 3 " + refuse,
                           "DELETE FROM ProfDocuments WHERE profId IN (1, 3)"}
            << qint64(3);
    }

    void followsWrites() {
        QFETCH(QStringList, statements);
        QFETCH(qint64, documents);
        TestDatabase data;
        QVERIFY(data.open()->isValid());
        fill();
        for (const QString& statement : statements)
            runSql(statement);
        QVERIFY(DocumentCount::isKept(QSqlDatabase::database()));
        QCOMPARE(counted(), documents);
        QCOMPARE(kept(), documents);
        QString error;
        QCOMPARE(DocumentCount::read(&error), documents);
        QVERIFY(error.isEmpty());
    }

    // A file of an earlier version, or one whose kept number was tampered with, is counted till
    // the program gives it the number again, once, at its next start.
    void incompleteFileIsCountedThenKept_data() {
        QTest::addColumn<QStringList>("damage");
        QTest::newRow("no table (an earlier version's file)")
            << QStringList{"DROP TRIGGER ProfDocumentCount_insert", "DROP TRIGGER ProfDocumentCount_delete",
                           "DROP TRIGGER ProfDocumentCount_template", "DROP TABLE ProfDocumentCount"};
        QTest::newRow("an insert trigger missing") << QStringList{"DROP TRIGGER ProfDocumentCount_insert"};
        QTest::newRow("the mark's trigger missing") << QStringList{"DROP TRIGGER ProfDocumentCount_template"};
        QTest::newRow("the row missing") << QStringList{"DELETE FROM ProfDocumentCount"};
        QTest::newRow("two rows") << QStringList{"INSERT INTO ProfDocumentCount VALUES (7)"};
        QTest::newRow("a negative number") << QStringList{"UPDATE ProfDocumentCount SET documents = -20"};
    }

    void incompleteFileIsCountedThenKept() {
        QFETCH(QStringList, damage);
        TestDatabase data;
        QVERIFY(data.open()->isValid());
        fill();
        runSql("INSERT INTO ProfDocuments (fio1) VALUES ('До')");
        for (const QString& statement : damage)
            runSql(statement);
        // Written while the number is not kept.
        runSql("INSERT INTO ProfDocuments (fio1) VALUES ('Без счёта')");
        QVERIFY(!DocumentCount::isKept(QSqlDatabase::database()));
        QString error;
        QCOMPARE(DocumentCount::read(&error), qint64(5));
        data.close();

        QVERIFY(data.open()->isValid());
        QVERIFY(DocumentCount::isKept(QSqlDatabase::database()));
        QCOMPARE(kept(), qint64(5));
        runSql("DELETE FROM ProfDocuments WHERE profId = 2");
        QCOMPARE(DocumentCount::read(&error), qint64(4));
        QCOMPARE(counted(), qint64(4));
    }

    // A file opened for reading only (the export tool's) reads the kept number, or counts; it
    // cannot be given one.
    void readOnlyConnection_data() {
        QTest::addColumn<bool>("keptBefore");
        QTest::newRow("kept") << true;
        QTest::newRow("not kept") << false;
    }

    void readOnlyConnection() {
        QFETCH(bool, keptBefore);
        TestDatabase data;
        QVERIFY(data.open()->isValid());
        fill();
        if (!keptBefore)
            runSql("DROP TABLE ProfDocumentCount");
        data.close();
        const QString path = data.filePath();
        const auto schema = [&path] { return queryFile(path, "SELECT type, name FROM sqlite_master ORDER BY name"); };
        const QList<QVariantList> before = schema();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QCOMPARE(DocumentCount::isKept(db), keptBefore);
            QString error;
            QCOMPARE(DocumentCount::read(&error), qint64(3));
            QCOMPARE(DocumentCount::keep(db, &error), keptBefore);
            if (!keptBefore)
                QVERIFY2(error.contains("readonly"), qPrintable(error));
            db.close();
        }
        QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
        QCOMPARE(schema(), before);
    }

    // The two writes: giving a file its number, and correcting a wrong one. Refused, they leave
    // the file as it was and say why; the list's count stays right, counted.
    void failedWritesKeepTheFile_data() {
        QTest::addColumn<QString>("write");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("reason");
        QTest::newRow("keep, read-only connection") << "keep"
                                                    << "PRAGMA query_only = 1"
                                                    << "readonly";
        QTest::newRow("keep, the table's name taken by a view")
            << "keep"
            << "CREATE VIEW ProfDocumentCount AS SELECT 1 AS documents"
            << "DROP VIEW";
        QTest::newRow("recount, read-only connection") << "recount"
                                                       << "PRAGMA query_only = 1"
                                                       << "readonly";
        QTest::newRow("recount, refused by a trigger")
            << "recount"
            << "CREATE TRIGGER t BEFORE UPDATE ON ProfDocumentCount " + refuse << "отказано";
    }

    void failedWritesKeepTheFile() {
        QFETCH(QString, write);
        QFETCH(QString, failure);
        QFETCH(QString, reason);
        TestDatabase data;
        QVERIFY(data.open()->isValid());
        fill();
        if (write == "keep") {
            for (const char* name :
                 {"ProfDocumentCount_insert", "ProfDocumentCount_delete", "ProfDocumentCount_template"})
                runSql(QStringLiteral("DROP TRIGGER %1").arg(QLatin1String(name)));
            runSql("DROP TABLE ProfDocumentCount");
        } else {
            runSql("UPDATE ProfDocumentCount SET documents = 40");
        }
        runSql(failure);
        const QList<QVariantList> schemaBefore = queryFile(data.filePath(), "SELECT type, name FROM sqlite_master");
        QString error;
        QSqlDatabase db = QSqlDatabase::database();
        const bool done = write == "keep" ? DocumentCount::keep(db, &error) : DocumentCount::recount(&error);
        runSql("PRAGMA query_only = 0");
        QVERIFY(!done);
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(queryFile(data.filePath(), "SELECT type, name FROM sqlite_master"), schemaBefore);
        if (write == "recount")
            QCOMPARE(kept(), qint64(40));
        else
            QCOMPARE(DocumentCount::read(&error), qint64(3));
    }
};

ORVANE_TEST(TestDocumentCount)
#include "tst_documentcount.moc"
