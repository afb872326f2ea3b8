// SQLite's own statements as the import and the history entries write through them: what they
// store must be what the driver's binding stores, and their failures must come back as reasons.
#include "fileschema.h"
#include "storequery.h"
#include "testregistry.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <sqlite3.h>

namespace {
const QString connectionName = QStringLiteral("storequery");
// One column of each affinity a registry's tables use.
const QStringList columns = {"i", "t", "n", "b"};

QString stored(QSqlDatabase& db, qint64 row) {
    QSqlQuery query(db);
    query.exec(QStringLiteral("SELECT typeof(i)||':'||quote(i), typeof(t)||':'||quote(t), typeof(n)||':'||quote(n), "
                              "typeof(b)||':'||quote(b) FROM t WHERE rowid=%1")
                   .arg(row));
    if (!query.next())
        return QStringLiteral("no row");
    QStringList values;
    for (int i = 0; i < columns.size(); ++i)
        values << query.value(i).toString().left(300);
    return values.join(QLatin1Char('|'));
}
} // namespace

class TestStoreQuery : public QObject {
    Q_OBJECT

    QTemporaryDir _dir;
    QSqlDatabase _db;
    sqlite3* _handle = nullptr;

    void run(const QString& statement) { QVERIFY2(QSqlQuery(_db).exec(statement), qPrintable(statement)); }

private slots:
    void init() {
        _db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        _db.setDatabaseName(_dir.filePath(QStringLiteral("bind.db")));
        QVERIFY(_db.open());
        run(QStringLiteral("DROP TABLE IF EXISTS t"));
        run(QStringLiteral("CREATE TABLE t (i INTEGER, t TEXT, n NUMERIC, b)"));
        _handle = FileSchema::sqliteHandle(_db);
        QVERIFY(_handle);
    }

    void cleanup() {
        _handle = nullptr;
        _db.close();
        _db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
    }

    // The same value in every column, once through the driver and once through bindSqlite: the
    // two rows hold the same types and bytes. A broken UTF-16 text (a damaged old workbook's) is
    // the exception: SQLite's conversion of the driver's text pairs a lone surrogate with the next
    // letter and loses that letter; the UTF-8 binding keeps the letter and marks the break "?".
    void bindsAsTheDriverBinds_data() {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("unlikeTheDriver");
        QTest::newRow("no value") << QVariant() << QString();
        QTest::newRow("NULL text") << QVariant(QVariant::String) << QString();
        QTest::newRow("NULL date") << QVariant(QVariant::Date) << QString();
        QTest::newRow("empty text") << QVariant(QStringLiteral("")) << QString();
        QTest::newRow("Cyrillic, quotes, backslash, tab")
            << QVariant(QStringLiteral("О'Нил \"Кавычкин\" \\ \t ё")) << QString();
        QTest::newRow("text with a NUL") << QVariant(QStringLiteral("до") + QChar(0) + QStringLiteral("после"))
                                         << QString();
        QTest::newRow("number as text, blanks around") << QVariant(QStringLiteral("  42 ")) << QString();
        QTest::newRow("real as text") << QVariant(QStringLiteral("1.50")) << QString();
        QTest::newRow("1 MB text") << QVariant(QString(1 << 20, QChar(0x0416))) << QString();
        QTest::newRow("4-byte character") << QVariant(QString::fromUcs4(U"\U0001F600 смайлик")) << QString();
        QTest::newRow("lone surrogate") << QVariant(QStringLiteral("а") + QChar(0xD800) + QStringLiteral("б"))
                                        << QStringLiteral("text:'а?б'");
        QTest::newRow("int") << QVariant(-7) << QString();
        QTest::newRow("bool") << QVariant(true) << QString();
        QTest::newRow("unsigned above 2^31") << QVariant(4000000000u) << QString();
        QTest::newRow("above 2^62") << QVariant((Q_INT64_C(1) << 62) + 3) << QString();
        QTest::newRow("unsigned above 2^63") << QVariant(Q_UINT64_C(9223372036854775813)) << QString();
        QTest::newRow("real") << QVariant(1.5) << QString();
        QTest::newRow("whole real") << QVariant(2.0) << QString();
        QTest::newRow("date") << QVariant(QDate(2016, 2, 29)) << QString();
        QTest::newRow("first date of year 1") << QVariant(QDate(1, 1, 1)) << QString();
        QTest::newRow("last date of year 9999") << QVariant(QDate(9999, 12, 31)) << QString();
        QTest::newRow("date of year 10000") << QVariant(QDate(10000, 1, 1)) << QString();
        QTest::newRow("date before year 1") << QVariant(QDate(-5, 3, 1)) << QString();
        QTest::newRow("invalid date") << QVariant(QDate(2016, 2, 30)) << QString();
        QTest::newRow("date and time") << QVariant(QDateTime(QDate(2024, 6, 30), QTime(9, 5, 7, 45))) << QString();
        QTest::newRow("time") << QVariant(QTime(23, 59, 1, 2)) << QString();
        QTest::newRow("blob") << QVariant(QByteArray("\x00\x01\xff", 3)) << QString();
    }

    void bindsAsTheDriverBinds() {
        QFETCH(QVariant, value);
        QFETCH(QString, unlikeTheDriver);
        QSqlQuery driver(_db);
        QVERIFY(driver.prepare(QStringLiteral("INSERT INTO t (i, t, n, b) VALUES (?, ?, ?, ?)")));
        for (int i = 0; i < columns.size(); ++i)
            driver.bindValue(i, value);
        QVERIFY2(driver.exec(), qPrintable(driver.lastError().text()));
        const auto own = StoreQuery::prepareSqlite(_handle, "INSERT INTO t (i, t, n, b) VALUES (?, ?, ?, ?)");
        QVERIFY(own);
        const QVariant values[] = {value, value, value, value};
        QString error;
        QVERIFY2(StoreQuery::runSqlite(own.get(), values, 4, &error), qPrintable(error));
        const QString written = stored(_db, 2);
        if (unlikeTheDriver.isEmpty())
            QCOMPARE(written, stored(_db, 1));
        else
            QCOMPARE(written, QVector<QString>(columns.size(), unlikeTheDriver).toList().join(QLatin1Char('|')));
    }

    // A refused run gives SQLite's reason once and leaves the statement to run again; a value
    // bound once stays for the next run.
    void failureIsAReason_data() {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<QString>("reason");
        QTest::newRow("trigger") << QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON t BEGIN SELECT RAISE(ABORT, "
                                                   "'отказано \"всё\"'); END")
                                 << QStringLiteral("отказано \"всё\"");
        QTest::newRow("read-only") << QStringLiteral("PRAGMA query_only = 1")
                                   << QStringLiteral("attempt to write a readonly database");
        QTest::newRow("constraint") << QStringLiteral("CREATE UNIQUE INDEX one ON t (t)")
                                    << QStringLiteral("UNIQUE constraint failed: t.t");
        QTest::newRow("value too long") << QStringLiteral("limit") << QStringLiteral("string or blob too big");
    }

    void failureIsAReason() {
        QFETCH(QString, trouble);
        QFETCH(QString, reason);
        const auto insert = StoreQuery::prepareSqlite(_handle, "INSERT INTO t (i, t) VALUES (?, ?)");
        QVERIFY(insert);
        QVERIFY(StoreQuery::bindSqlite(insert.get(), 2, QStringLiteral("одно и то же")));
        QString error;
        QVERIFY(StoreQuery::stepSqlite(insert.get(), &error)); // a row for the unique index to meet
        if (trouble == QLatin1String("limit"))
            sqlite3_limit(_handle, SQLITE_LIMIT_LENGTH, 100);
        else
            run(trouble);
        const QVariant values[] = {1, QString(200, QLatin1Char('x'))};
        const auto refused = [&](QString* reasonGiven) {
            return trouble == QLatin1String("limit") ? !StoreQuery::runSqlite(insert.get(), values, 2, reasonGiven)
                                                     : !StoreQuery::stepSqlite(insert.get(), reasonGiven);
        };
        QVERIFY(refused(&error));
        QCOMPARE(error, reason);
        QString again = QStringLiteral("earlier");
        QVERIFY(refused(&again));
        QCOMPARE(again, QStringLiteral("earlier")); // a reason already there stays
        QVERIFY(refused(nullptr));
        sqlite3_limit(_handle, SQLITE_LIMIT_LENGTH, 1000000000);
        run(QStringLiteral("PRAGMA query_only = 0"));
        run(QStringLiteral("DROP TRIGGER IF EXISTS refuse"));
        run(QStringLiteral("DROP INDEX IF EXISTS one"));
        error.clear();
        QVERIFY2(StoreQuery::bindSqlite(insert.get(), 2, QStringLiteral("одно и то же")), "bound again");
        QVERIFY2(StoreQuery::stepSqlite(insert.get(), &error), qPrintable(error));
        QSqlQuery rows(_db);
        QVERIFY(rows.exec(QStringLiteral("SELECT COUNT(*), COUNT(DISTINCT t) FROM t")) && rows.next());
        QCOMPARE(rows.value(0).toInt(), 2);
        QCOMPARE(rows.value(1).toInt(), 1);
    }
};

ORVANE_TEST(TestStoreQuery)
#include "tst_storequery.moc"
