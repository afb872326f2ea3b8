// The registry's figures on made-up registries, each checked against a direct count in SQL or
// against the rows the test wrote.

#include "coreregistry.h"
#include "documentfilter.h"
#include "filterlisttype.h"
#include "registrystatistics.h"
#include "testregistry.h"

#include <QtTest>

namespace {
const qint64 bigId = Q_INT64_C(1) << 40;

struct Doc {
    QVariant issueDate;
    int certificateType;
    int duplicate;
    QVariant profession;
    QVariant qual;
};

void insert(qint64 id, const Doc& d) {
    sql(QStringLiteral("INSERT INTO ProfDocuments (profId, isTemplate, isDuplicate, fio1, fio2, fio3, "
                       "certificateType, profession, qual, regNumber, issueDate, attNumber) "
                       "VALUES (?, 0, ?, 'Ф', 'И', 'О', ?, ?, ?, '', ?, '')"),
        {id, d.duplicate, d.certificateType, d.profession, d.qual, d.issueDate});
}

QList<qint64> allIds() {
    return idsFrom(QStringLiteral("SELECT profId FROM ProfDocuments"));
}

// The SQL side of the comparison, for the dated documents in "yyyy-MM-dd" form.
KindCounts sqlCounts(const QString& condition) {
    const QString base = QStringLiteral("SELECT COUNT(*) FROM ProfDocuments WHERE (%1) AND ").arg(condition);
    KindCounts c;
    c.workers = scalar(base + "IFNULL(isDuplicate,0) < 1 AND IFNULL(certificateType,0) <> 2").toLongLong();
    c.employees = scalar(base + "IFNULL(isDuplicate,0) < 1 AND certificateType = 2").toLongLong();
    c.duplicates = scalar(base + "IFNULL(isDuplicate,0) >= 1").toLongLong();
    return c;
}
} // namespace

class TestStatistics : public QObject {
    Q_OBJECT
    CoreRegistry _registry;

private slots:
    void initTestCase() { _registry.setUp(); }
    void init() { QVERIFY(_registry.open()); }
    void cleanup() { _registry.close(); }

    // A spread of kinds, duplicates, years and months: every year and month as SQL counts them.
    void countsPerYearAndMonthMatchSql() {
        qint64 id = bigId;
        for (int i = 0; i < 300; ++i) {
            const QDate date = QDate(2019, 1, 1).addDays(i * 7);
            insert(id++, {date.toString(Qt::ISODate), i % 3 == 0 ? 2 : i % 5, i % 7 == 0 ? 1 + i % 2 : 0, QString(),
                          QString()});
        }
        RegistryStatistics stats;
        QString error;
        QVERIFY2(stats.read(allIds(), &error), qPrintable(error));
        QCOMPARE(stats.documentCount(), qint64(300));
        qint64 sum = 0;
        for (const PeriodCounts& year : stats.years()) {
            QVERIFY(year.period != RegistryStatistics::noDate);
            QCOMPARE(year.counts, sqlCounts(QStringLiteral("substr(issueDate,1,4) = '%1'").arg(year.period)));
            sum += year.counts.total();
            for (const PeriodCounts& month : stats.months(year.period))
                QCOMPARE(month.counts, sqlCounts(QStringLiteral("substr(issueDate,1,7) = '%1-%2'")
                                                     .arg(year.period)
                                                     .arg(month.period, 2, 10, QLatin1Char('0'))));
        }
        QCOMPARE(sum, qint64(300));
        QCOMPARE(stats.datedYears(), (QList<int>{2019, 2020, 2021, 2022, 2023, 2024}));
    }

    // Only the given documents count, ids beyond 32 bits included.
    void onlyTheGivenIdsCount() {
        insert(bigId * 1000, {"2020-05-01", 1, 0, "Сварщик", "А"});
        insert(1, {"2020-05-01", 2, 0, "Повар", "Б"});
        insert(2, {"2021-05-01", 2, 0, "Повар", "Б"});
        RegistryStatistics stats;
        QVERIFY(stats.read({bigId * 1000, 2, 99}, nullptr));
        QCOMPARE(stats.documentCount(), qint64(2));
        QCOMPARE(stats.years().size(), 2);
        QCOMPARE(stats.years().at(0).counts.workers, qint64(1));
        QCOMPARE(stats.years().at(1).counts.employees, qint64(1));
        QVERIFY(stats.read({}, nullptr));
        QCOMPARE(stats.documentCount(), qint64(0));
        QVERIFY(stats.years().isEmpty());
    }

    // Stored dates in other forms are read as the list reads them; the rest go under "(без даты)".
    void issueDatesInEveryForm_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("year");
        QTest::addColumn<int>("month");
        QTest::newRow("iso") << QVariant("2016-04-08") << 2016 << 4;
        QTest::newRow("with time") << QVariant("2016-04-08 15:30:00") << 2016 << 4;
        QTest::newRow("T time") << QVariant("2016-04-08T15:30:00") << 2016 << 4;
        QTest::newRow("dotted") << QVariant("08.04.2016") << 2016 << 4;
        QTest::newRow("spreadsheet day") << QVariant(42468) << 2016 << 4;
        QTest::newRow("null") << QVariant() << 0 << 0;
        QTest::newRow("empty") << QVariant("") << 0 << 0;
        QTest::newRow("text") << QVariant("вчера") << 0 << 0;
        QTest::newRow("30 February") << QVariant("2016-02-30") << 0 << 0;
        QTest::newRow("year 0") << QVariant("0000-01-01") << 0 << 0;
        QTest::newRow("blob") << QVariant(QByteArray("\xff\xfe\x00", 3)) << 0 << 0;
        QTest::newRow("huge") << QVariant(Q_INT64_C(9223372036854775807)) << 0 << 0;
    }
    void issueDatesInEveryForm() {
        QFETCH(QVariant, stored);
        QFETCH(int, year);
        QFETCH(int, month);
        insert(5, {stored, 1, 0, QVariant(), QVariant()});
        RegistryStatistics stats;
        QVERIFY(stats.read({5}, nullptr));
        QCOMPARE(stats.years().size(), 1);
        QCOMPARE(stats.years().at(0).period, year);
        QCOMPARE(stats.years().at(0).counts.workers, qint64(1));
        if (year != 0)
            QCOMPARE(stats.months(year).at(month - 1).counts.workers, qint64(1));
        else
            QVERIFY(stats.datedYears().isEmpty());
    }

    // The top 20 names by count, ties by name, the others under "Прочие"; blanks as one name.
    void professionsTopAndRest() {
        qint64 id = 1;
        for (int p = 0; p < 25; ++p)
            for (int n = 0; n <= p; ++n)
                insert(id++, {"2020-01-01", 1, 0, QStringLiteral("Профессия %1").arg(p, 2, 10, QLatin1Char('0')),
                              QStringLiteral("Квалификация\n%1").arg(p % 2)});
        for (const QVariant& blank : {QVariant(), QVariant(""), QVariant("  \n ")})
            for (int n = 0; n < 10; ++n)
                insert(id++, {"2020-01-01", 1, 0, blank, blank});
        RegistryStatistics stats;
        QVERIFY(stats.read(allIds(), nullptr));
        const QVector<NamedCount> professions = stats.professions();
        QCOMPARE(professions.size(), RegistryStatistics::topCount + 1);
        QCOMPARE(professions.at(0).name, RegistryStatistics::blankText());
        QCOMPARE(professions.at(0).count, qint64(30));
        QCOMPARE(professions.at(1).name, QStringLiteral("Профессия 24"));
        QCOMPARE(professions.at(1).count, qint64(25));
        // 25 names and the blank: the smallest six (1 to 6 documents) are the rest.
        QCOMPARE(professions.last().name, RegistryStatistics::restText());
        QCOMPARE(professions.last().count, qint64(1 + 2 + 3 + 4 + 5 + 6));
        qint64 sum = 0;
        for (const NamedCount& p : professions)
            sum += p.count;
        QCOMPARE(sum, scalar("SELECT COUNT(*) FROM ProfDocuments").toLongLong());

        const QVector<NamedCount> quals = stats.qualifications();
        QCOMPARE(quals.size(), 3);
        QCOMPARE(quals.at(0).name, QStringLiteral("Квалификация 0"));
        QCOMPARE(quals.at(0).count, scalar("SELECT COUNT(*) FROM ProfDocuments WHERE qual LIKE '%0'").toLongLong());
        QCOMPARE(quals.at(2).name, RegistryStatistics::blankText());
    }

    // Hours are the sum of the appendix rows of the given documents; odd values do not stop it.
    void totalHours_data() {
        QTest::addColumn<QVariantList>("counts");
        QTest::addColumn<qint64>("hours");
        QTest::newRow("numbers") << QVariantList{72, 144, 8} << qint64(224);
        QTest::newRow("null and text") << QVariantList{QVariant(), "abc", 10} << qint64(10);
        QTest::newRow("overflowing SUM") << QVariantList{Q_INT64_C(9223372036854775807), 1}
                                         << Q_INT64_C(9000000000000000000);
        QTest::newRow("none") << QVariantList{} << qint64(0);
    }
    void totalHours() {
        QFETCH(QVariantList, counts);
        QFETCH(qint64, hours);
        insert(bigId, {"2020-01-01", 1, 0, "П", "К"});
        insert(7, {"2020-01-01", 1, 0, "П", "К"});
        for (const QVariant& count : counts)
            sql(QStringLiteral("INSERT INTO ProfDetails (profId, name, count) VALUES (?, 'Предмет', ?)"),
                {bigId, count});
        sql(QStringLiteral("INSERT INTO ProfDetails (profId, name, count) VALUES (7, 'Чужой', 1000)"));
        RegistryStatistics stats;
        QVERIFY(stats.read({bigId}, nullptr));
        QCOMPARE(stats.totalHours(), hours);
    }

    // Years without documents inside the range are rows of zeros; the undated stay last.
    void emptyYearsInsideTheRange() {
        insert(1, {"2017-05-01", 1, 0, "П", "К"});
        insert(2, {"2021-05-01", 2, 0, "П", "К"});
        insert(3, {"не дата", 2, 0, "П", "К"});
        RegistryStatistics stats;
        QVERIFY(stats.read({1, 2, 3}, nullptr));
        QList<int> years;
        qint64 total = 0;
        for (const PeriodCounts& year : stats.years()) {
            years << year.period;
            total += year.counts.total();
            if (year.period > 2017 && year.period < 2021)
                QCOMPARE(year.counts, KindCounts());
        }
        QCOMPARE(years, (QList<int>{2017, 2018, 2019, 2020, 2021, RegistryStatistics::noDate}));
        QCOMPARE(total, qint64(3));
    }

    // The filter line names every condition the list applies, as the clerk typed it.
    void filterLineNamesTheConditions_data() {
        QTest::addColumn<QString>("fio");
        QTest::addColumn<QString>("qual");
        QTest::addColumn<bool>("dates");
        QTest::addColumn<QString>("line");
        QTest::newRow("none") << ""
                              << "" << false << "Фильтр: нет";
        QTest::newRow("name") << "  козлов "
                              << "" << false << "Фильтр: ФИО содержит «козлов»";
        QTest::newRow("all") << "Козлов"
                             << "Сварщик \"А\"" << true
                             << "Фильтр: ФИО содержит «Козлов»; квалификация содержит «Сварщик \"А\"»; "
                                "дата выдачи с 01.02.2020 по 31.12.2021";
    }
    void filterLineNamesTheConditions() {
        QFETCH(QString, fio);
        QFETCH(QString, qual);
        QFETCH(bool, dates);
        QFETCH(QString, line);
        FilterListType list;
        if (dates)
            list << qMakePair(FilterKeys::dateFrom, QVariant(QDate(2020, 2, 1)))
                 << qMakePair(FilterKeys::dateTo, QVariant(QDate(2021, 12, 31)));
        list << qMakePair(FilterKeys::fio, QVariant(fio.trimmed())) << qMakePair(FilterKeys::qual, QVariant(qual));
        QCOMPARE(RegistryStatistics::filterText(DocumentFilter::fromList(list)), line);
    }

    // A registry that cannot be read gives the reason, the clerk's words first and SQLite's own
    // after them, and no half figures.
    void unreadableRegistryGivesReason_data() {
        QTest::addColumn<QString>("table");
        QTest::newRow("hours") << QStringLiteral("ProfDetails");
        QTest::newRow("documents") << QStringLiteral("ProfDocuments");
    }

    void unreadableRegistryGivesReason() {
        QFETCH(QString, table);
        insert(1, {"2020-01-01", 1, 0, "П", "К"});
        RegistryStatistics stats;
        QVERIFY(stats.read({1}, nullptr));
        sql(QStringLiteral("PRAGMA foreign_keys = OFF"));
        sql(QStringLiteral("DROP TABLE %1").arg(table));
        QString error;
        QVERIFY(!stats.read({1}, &error));
        QCOMPARE(error, QStringLiteral("Не удалось прочитать документы: no such table: ") + table);
        QCOMPARE(stats.documentCount(), qint64(0));
        QVERIFY(stats.years().isEmpty() && stats.professions().isEmpty());
    }
};

ORVANE_TEST(TestStatistics)
#include "tst_statistics.moc"
