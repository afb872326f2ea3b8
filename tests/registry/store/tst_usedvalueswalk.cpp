#include "database.h"
#include "testdatabase.h"
#include "testregistry.h"
#include "usedvalues.h"
#include "usedvalueswalk.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

namespace {
using Counts = UsedValues::Counts;

// Rows for `column`: each text value as often as it is listed, NULL as an invalid QVariant.
void insertValues(const QString& table, const QString& column, const QVariantList& values) {
    for (const QVariant& value : values) {
        QVariantMap row{{column, value}};
        if (table == QLatin1String("ProfFrdo"))
            row.insert(QStringLiteral("profId"), insertRow(QStringLiteral("ProfDocuments"), {{"fio1", "Иванов"}}));
        insertRow(table, row);
    }
}

// Walks to the end in slices of `rows`; the counts, or a failed test.
Counts walked(const QString& table, const QStringList& columns, int rows, bool* ok) {
    QSqlDatabase db = QSqlDatabase::database();
    UsedValuesWalk walk(table, columns, 0);
    QSqlError error;
    *ok = false;
    for (int slices = 0; !walk.done(); ++slices) {
        if (slices > 100000 || !walk.step(db, rows, &error)) {
            qWarning() << "walk stopped:" << slices << error.text();
            return {};
        }
    }
    *ok = true;
    return walk.takeCounts();
}

Counts counted(const QString& table, const QStringList& columns) {
    QSqlDatabase db = QSqlDatabase::database();
    Counts counts;
    QSqlError error;
    if (!UsedValues::count(db, table, columns, &counts, &error))
        qWarning() << error.text();
    return counts;
}

// Documents of "Повар", every hundredth of "Токарь", each with a number of its own: more than a
// walk's first slice.
void insertManyDocuments(int count) {
    runSql(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?) "
                          "INSERT INTO ProfDocuments (profession, attNumber) SELECT CASE WHEN i % 100 = 0 "
                          "THEN 'Токарь' ELSE 'Повар' END, 'СВ ' || i FROM n"),
           {count});
}
} // namespace

class TestUsedValuesWalk : public QObject {
    Q_OBJECT

private slots:
    // The walk in slices gives what one count of the whole column gives, whichever way the slices
    // fall: along an index (ProfDocuments' profession and attNumber) or along the table (ProfFrdo).
    void sameAsWholeCount_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<QVariantList>("values");
        const QString megabyte = QString(1 << 20, QChar(0x44F));
        const QVariantList mixed{"Повар",  "Сварщик",   "Повар",   QVariant(), "",       "  ",       " Повар ",
                                 "Токарь", "Сварщик",   "Токарь",  "Повар",    megabyte, megabyte,   "Ёж",
                                 "ёж",     "'кавычки'", "Повар\t", "Z",        "a",      QVariant(), "Ёж"};
        QVariantList many;
        for (int i = 0; i < 300; ++i)
            many << (i % 7 == 0 ? QVariant(QStringLiteral("Сварщик")) : QVariant(QStringLiteral("Повар")));
        for (const char* table : {"ProfDocuments", "ProfFrdo"}) {
            const QString column = QLatin1String(table) == QLatin1String("ProfDocuments") ? "profession" : "frdo15";
            QTest::addRow("%s: ties, NULL, blanks, 1 MB values", table) << table << QStringList{column} << mixed;
            QTest::addRow("%s: one value in many slices", table) << table << QStringList{column} << many;
            QTest::addRow("%s: nothing", table) << table << QStringList{column} << QVariantList{};
            QTest::addRow("%s: only NULL and blanks", table)
                << table << QStringList{column} << QVariantList{QVariant(), "", " "};
        }
        QTest::newRow("two columns summed") << "ProfDocuments" << QStringList{"profession", "qual"} << mixed;
    }
    void sameAsWholeCount() {
        QFETCH(QString, table);
        QFETCH(QStringList, columns);
        QFETCH(QVariantList, values);
        TestDatabase data;
        QVERIFY(data.open());
        for (const QString& column : columns)
            insertValues(table, column, values);
        // Rows left out between the others: the table walk's ranges of rowids have gaps.
        runSql(QStringLiteral("DELETE FROM %1 WHERE rowid % 5 = 3").arg(table));
        const Counts whole = counted(table, columns);
        for (int rows : {1, 2, 3, 7, 64, 100000}) {
            bool ok = false;
            QCOMPARE(walked(table, columns, rows, &ok), whole);
            QVERIFY(ok);
        }
    }

    // The walk only reads: a registry that may not be written counts the same, between events too.
    void readOnlyRegistry() {
        TestDatabase data;
        QVERIFY(data.open());
        insertManyDocuments(20000);
        runSql("PRAGMA query_only = 1");
        bool ok = false;
        QCOMPARE(walked("ProfDocuments", {"profession"}, 1000, &ok), (Counts{{"Повар", 19800}, {"Токарь", 200}}));
        QVERIFY(ok);
        QObject waiter;
        QVERIFY(UsedValues::usedValuesComing("ProfDocuments", {"profession"}, &waiter));
        QTRY_VERIFY_WITH_TIMEOUT(!UsedValues::usedValuesComing("ProfDocuments", {"profession"}, &waiter), 30000);
        QCOMPARE(UsedValues::mostFrequentValues("ProfDocuments", {"profession"}, 0, false),
                 (QStringList{"Повар", "Токарь"}));
        runSql("PRAGMA query_only = 0");
    }

    // A read that fails says so.
    void failedRead() {
        TestDatabase data;
        QVERIFY(data.open());
        insertValues("ProfDocuments", "profession", {"Повар"});
        QSqlDatabase db = QSqlDatabase::database();
        UsedValuesWalk walk("ProfDocuments", {"nosuchcolumn"}, 0);
        QSqlError error;
        QVERIFY(!walk.step(db, 10, &error));
        QVERIFY(error.type() != QSqlError::NoError);
    }

    // The registry's counts between events: a document written while they are counted is in them
    // once they arrive, whether it came before the walk reached its value or after.
    void changeWhileCounting_data() {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("a new value") << "Акушер" << QStringList{"Повар", "Токарь", "Акушер"};
        QTest::newRow("one more of a value") << "Токарь" << QStringList{"Повар", "Токарь"};
    }
    void changeWhileCounting() {
        QFETCH(QString, written);
        QFETCH(QStringList, expected);
        TestDatabase data;
        QVERIFY(data.open());
        insertManyDocuments(20000);
        QObject waiter;
        QVERIFY(UsedValues::usedValuesComing("ProfDocuments", {"profession"}, &waiter));
        QVERIFY(UsedValues::countingUnderWay());
        QCoreApplication::processEvents();
        runSql("INSERT INTO ProfDocuments (profession) VALUES (?)", {written});
        QTRY_VERIFY_WITH_TIMEOUT(!UsedValues::usedValuesComing("ProfDocuments", {"profession"}, &waiter), 30000);
        QVERIFY(!UsedValues::countingUnderWay());
        QCOMPARE(UsedValues::mostFrequentValues("ProfDocuments", {"profession"}, 0, false), expected);
        QCOMPARE(UsedValues::mostFrequentValues("ProfDocuments", {"AttNumber"}, 0, false).size(), 20000);
    }

    // A read failing between events ends the wait with no values rather than some, and nothing
    // goes on counting.
    void failedReadBetweenEvents() {
        TestDatabase data;
        QVERIFY(data.open());
        insertManyDocuments(20000);
        QObject waiter;
        QVERIFY(UsedValues::usedValuesComing("ProfDocuments", {"profession"}, &waiter));
        runSql("ALTER TABLE ProfDocuments RENAME TO Moved");
        QTRY_VERIFY(!UsedValues::countingUnderWay());
        QVERIFY(!UsedValues::usedValuesComing("ProfDocuments", {"profession"}, &waiter));
        QCOMPARE(UsedValues::mostFrequentValues("ProfDocuments", {"profession"}, 0, false), QStringList());
        runSql("ALTER TABLE Moved RENAME TO ProfDocuments");
    }

    // Nobody waiting: the walk stops at its next slice, and a later waiter has the counts all the same.
    void waiterGone() {
        TestDatabase data;
        QVERIFY(data.open());
        insertManyDocuments(20000);
        auto* waiter = new QObject;
        QVERIFY(UsedValues::usedValuesComing("ProfDocuments", {"attNumber"}, waiter));
        delete waiter;
        QTRY_VERIFY(!UsedValues::countingUnderWay());
        QObject again;
        QTRY_VERIFY_WITH_TIMEOUT(!UsedValues::usedValuesComing("ProfDocuments", {"attNumber"}, &again), 30000);
        const QStringList numbers = UsedValues::mostFrequentValues("ProfDocuments", {"attNumber"}, 0, true);
        QCOMPARE(numbers.size(), 20000);
        QCOMPARE(numbers.first(), QStringLiteral("СВ 1"));
    }

    // Names not of the registry are never formatted into a walk's statements.
    void unknownColumn() {
        TestDatabase data;
        QVERIFY(data.open());
        QObject waiter;
        QVERIFY(!UsedValues::usedValuesComing("ProfDocuments", {"profession FROM ProfDocuments; --"}, &waiter));
        QVERIFY(!UsedValues::countingUnderWay());
    }
};

ORVANE_TEST(TestUsedValuesWalk)

#include "tst_usedvalueswalk.moc"
