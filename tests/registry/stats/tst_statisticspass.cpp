// The one pass over a registry file against the grouped statements a server gets, on a registry
// with every kind of odd value, for the id lists the document list gives under each filter; and a
// pass that fails half way.

#include "chosenids.h"
#include "coreregistry.h"
#include "documentfilter.h"
#include "registrystatistics.h"
#include "testregistry.h"

#include <QtTest>
#include <sqlite3.h>

namespace {
const qint64 boundary = Q_INT64_C(1) << 31;
// Far from the rest, so that a list holding them is read id by id.
const QList<qint64> farIds{1, Q_INT64_C(1) << 40, Q_INT64_C(1) << 62};

// The stored values cycle through these, each column at its own pace, so that the groups mix.
const QVariantList dates{"2016-04-08",
                         "2016-02-30",
                         QVariant(),
                         "",
                         "08.04.2016",
                         42468,
                         42468.5,
                         "2019-12-31 23:59:59",
                         "2019-12-31T10:00:00",
                         "вчера",
                         QByteArray("\xff\xfe\x00", 3),
                         "0000-01-01",
                         "2021-07-15",
                         Q_INT64_C(9223372036854775807)};
const QVariantList names{
    "Сварщик", QVariant(), "", "  Сварщик  ", "Повар\nшестого разряда", 5, "5", "Повар шестого разряда"};
const QVariantList kinds{1, 2, QVariant(), 2.0, "2", 0, "служащий"};
const QVariantList duplicates{0, 1, QVariant(), 2, "да", 0.5, 0, 0};
const QVariantList hours{72, QVariant(), "abc", "12abc", -8, 36, 1.5, "40"};
const QStringList surnames{"Иванов", "Петров", "Сидорова", "Козлов"};

void insertDocument(qint64 id, int i) {
    const QVariant isTemplate = i % 11 == 3 ? QVariant(1) : i % 13 == 0 ? QVariant() : QVariant(0);
    sql(QStringLiteral("INSERT INTO ProfDocuments (profId, isTemplate, isDuplicate, fio1, fio2, fio3, certificateType, "
                       "profession, qual, regNumber, issueDate, editDate, attNumber) "
                       "VALUES (?, ?, ?, ?, 'Анна', NULL, ?, ?, ?, '', ?, ?, '')"),
        {id, isTemplate, duplicates.at(i % duplicates.size()), surnames.at(i % surnames.size()),
         kinds.at(i % kinds.size()), names.at(i % names.size()), names.at((i / 3) % names.size()),
         dates.at(i % dates.size()), QDate(2020, 1, 1).addDays(i).toString(Qt::ISODate)});
    // Appendix rows in the documents' order, as the program writes them.
    for (int n = 0; n < i % 4; ++n)
        sql(QStringLiteral("INSERT INTO ProfDetails (profId, name, count) VALUES (?, 'Предмет', ?)"),
            {id, hours.at((i + n) % hours.size())});
}

// Four hundred documents across the 32-bit boundary, and three far away.
void fillRegistry() {
    sql(QStringLiteral("BEGIN"));
    insertDocument(farIds.at(0), 0);
    for (int i = 0; i < 400; ++i)
        insertDocument(boundary - 200 + i, i + 1);
    insertDocument(farIds.at(1), 1);
    insertDocument(farIds.at(2), 5);
    // Far beyond any real sum, and only here, so that the other sums stay exact.
    sql(QStringLiteral("INSERT INTO ProfDetails (profId, name, count) VALUES (?, 'Предмет', ?)"),
        {farIds.at(2), Q_INT64_C(4611686018427387904)});
    sql(QStringLiteral("COMMIT"));
}

QList<qint64> listed(const FilterListType& conditions) {
    QString error;
    const QList<qint64> ids = DocumentFilter::fromList(conditions).shownIds({}, &error);
    if (!error.isEmpty())
        qWarning() << error;
    return ids;
}

QList<qint64> storedIds() {
    return idsFrom(QStringLiteral("SELECT profId FROM ProfDocuments"));
}

QList<qint64> withoutFar(QList<qint64> ids) {
    for (qint64 id : farIds)
        ids.removeAll(id);
    return ids;
}

void compareFigures(const RegistryStatistics& pass, const RegistryStatistics& grouped) {
    QCOMPARE(pass.documentCount(), grouped.documentCount());
    QCOMPARE(pass.datedYears(), grouped.datedYears());
    const QVector<PeriodCounts> years = pass.years(), groupedYears = grouped.years();
    QCOMPARE(years.size(), groupedYears.size());
    for (int i = 0; i < years.size(); ++i) {
        QCOMPARE(years.at(i).period, groupedYears.at(i).period);
        QCOMPARE(years.at(i).counts, groupedYears.at(i).counts);
        for (int month = 0; month < 12; ++month)
            QCOMPARE(pass.months(years.at(i).period).at(month).counts,
                     grouped.months(years.at(i).period).at(month).counts);
    }
    const auto sameNames = [](const QVector<NamedCount>& a, const QVector<NamedCount>& b) {
        QCOMPARE(a.size(), b.size());
        for (int i = 0; i < a.size(); ++i) {
            QCOMPARE(a.at(i).name, b.at(i).name);
            QCOMPARE(a.at(i).count, b.at(i).count);
        }
    };
    sameNames(pass.professions(), grouped.professions());
    sameNames(pass.qualifications(), grouped.qualifications());
    QCOMPARE(pass.totalHours(), grouped.totalHours());
}

// Interrupts the statements once the handler has been called `left` times.
int interruptAfter(void* left) {
    return --*static_cast<int*>(left) < 0;
}
} // namespace

class TestStatisticsPass : public QObject {
    Q_OBJECT
    CoreRegistry _registry;

    sqlite3* handle() const { return Database::sqliteHandle(QSqlDatabase::database()); }

private slots:
    void initTestCase() { _registry.setUp(); }
    void init() {
        QVERIFY(_registry.open());
        fillRegistry();
    }
    void cleanup() {
        sqlite3_progress_handler(handle(), 0, nullptr, nullptr);
        _registry.close();
    }

    // Whatever the ids, both readings give the same figures, templates left out by both.
    void passEqualsGroupedStatements_data() {
        QTest::addColumn<FilterListType>("conditions");
        QTest::addColumn<QString>("ids"); // which ids besides the list's
        QTest::addColumn<int>("documents");
        // As many as the list shows under the filter: 366 documents, 37 templates among 403 rows.
        const int shownCount = -1;
        const FilterListType none;
        QTest::newRow("whole list, far ids too") << none << "listed" << 366;
        QTest::newRow("whole list near 2^31") << none << "near" << 363;
        QTest::newRow("name") << FilterListType{{"fio", "иванов"}} << "listed" << shownCount;
        QTest::newRow("qualification") << FilterListType{{"qual", "повар шестого"}} << "listed" << shownCount;
        QTest::newRow("issue dates") << FilterListType{{"dateFrom", QDate(2016, 1, 1)}, {"dateTo", QDate(2016, 12, 31)}}
                                     << "listed" << shownCount;
        QTest::newRow("edit dates") << FilterListType{{"editDateFrom", QDate(2020, 3, 1)},
                                                      {"editDateTo", QDate(2020, 6, 30)}}
                                    << "listed" << shownCount;
        QTest::newRow("templates given too") << none << "stored" << 366;
        QTest::newRow("templates given too, near 2^31") << none << "stored near" << 363;
        QTest::newRow("a few") << none << "few" << 3;
        QTest::newRow("repeated and unknown") << none << "repeated" << 50;
        QTest::newRow("none") << FilterListType{{"fio", "нет такого"}} << "listed" << 0;
    }
    void passEqualsGroupedStatements() {
        QFETCH(FilterListType, conditions);
        QFETCH(QString, ids);
        QFETCH(int, documents);
        QList<qint64> chosen = listed(conditions);
        if (ids == "near")
            chosen = withoutFar(chosen);
        else if (ids == "stored")
            chosen = storedIds();
        else if (ids == "stored near")
            chosen = withoutFar(storedIds());
        else if (ids == "few")
            chosen = {boundary - 1, boundary, boundary + 7, farIds.at(1)};
        else if (ids == "repeated")
            chosen = chosen.mid(0, 50) + chosen.mid(0, 50) + QList<qint64>{-5, boundary * 4};
        RegistryStatistics pass, grouped(RegistryStatistics::Reading::Grouped);
        QString error;
        QVERIFY2(pass.read(chosen, &error), qPrintable(error));
        QVERIFY2(grouped.read(chosen, &error), qPrintable(error));
        QCOMPARE(pass.documentCount(), documents < 0 ? qint64(chosen.size()) : qint64(documents));
        QVERIFY(documents >= 0 || !chosen.isEmpty());
        compareFigures(pass, grouped);
    }

    // The hours read slice by slice add up to the hours read at once.
    void hoursInSlicesEqualOneRead() {
        const QList<qint64> ids = withoutFar(listed({}));
        RegistryStatistics sliced, whole;
        QVERIFY(sliced.readCounts(ids, nullptr));
        QVERIFY(whole.read(ids, nullptr));
        int slices = 0;
        while (!sliced.hoursRead() && slices < 1000) {
            QVERIFY(sliced.readHoursSlice(nullptr));
            ++slices;
        }
        QCOMPARE(sliced.totalHours(), whole.totalHours());
        QVERIFY(whole.totalHours() != 0);
    }

    // A pass stopped half way by the database gives the clerk's words and SQLite's, no half
    // figures; a second try after it reads the same figures as a clean read, not twice the hours.
    void failingPassGivesReason_data() {
        QTest::addColumn<bool>("few");    // few ids, read one by one, else a pass
        QTest::addColumn<bool>("counts"); // the counts fail, else the hours
        QTest::addColumn<int>("steps");   // how far the statements get: some rows in
        QTest::newRow("counts, pass") << false << true << 2000;
        QTest::newRow("counts, one by one") << true << true << 40;
        QTest::newRow("hours, pass") << false << false << 2000;
        QTest::newRow("hours, one by one") << true << false << 80;
    }
    void failingPassGivesReason() {
        QFETCH(bool, few);
        QFETCH(bool, counts);
        QFETCH(int, steps);
        const QList<qint64> ids =
            few ? QList<qint64>{boundary - 3, boundary + 2, farIds.at(2)} : withoutFar(listed({}));
        RegistryStatistics clean;
        QVERIFY(clean.read(ids, nullptr));
        RegistryStatistics stats;
        int left = steps / 5;
        if (!counts)
            QVERIFY(stats.readCounts(ids, nullptr));
        sqlite3_progress_handler(handle(), 5, interruptAfter, &left);
        QString error;
        const bool ok = counts ? stats.readCounts(ids, &error) : stats.readHours(&error);
        sqlite3_progress_handler(handle(), 0, nullptr, nullptr);
        QVERIFY(!ok);
        QCOMPARE(error, QStringLiteral("Не удалось прочитать документы: interrupted"));
        QVERIFY(!stats.hoursRead());
        if (counts) {
            QCOMPARE(stats.documentCount(), qint64(0));
            QVERIFY(stats.years().isEmpty() && stats.professions().isEmpty() && stats.qualifications().isEmpty());
            QVERIFY(stats.readCounts(ids, nullptr));
        }
        QVERIFY(stats.readHours(&error));
        compareFigures(stats, clean);
    }

    // Membership at the edges of 64 bits and of the bitmap, with and without one.
    void chosenIdsMembership_data() {
        QTest::addColumn<QList<qint64>>("ids");
        QTest::addColumn<bool>("sparse");
        const qint64 max = std::numeric_limits<qint64>::max(), min = std::numeric_limits<qint64>::min();
        QTest::newRow("compact") << QList<qint64>{boundary + 3, boundary - 2, boundary, boundary + 3, boundary + 1}
                                 << false;
        QTest::newRow("both ends of 64 bits") << QList<qint64>{min, -1, 0, 1, max} << true;
        QTest::newRow("top of 64 bits") << QList<qint64>{max, max - 1, max - 63, max - 64} << false;
        QTest::newRow("scattered") << QList<qint64>{7, 1000000, Q_INT64_C(1) << 40} << true;
        QTest::newRow("one") << QList<qint64>{-42} << false;
    }
    void chosenIdsMembership() {
        QFETCH(QList<qint64>, ids);
        QFETCH(bool, sparse);
        const ChosenIds set(ids);
        QCOMPARE(set.sparse(), sparse);
        QCOMPARE(set.size(), qint64(QSet<qint64>(ids.begin(), ids.end()).size()));
        const qint64 max = std::numeric_limits<qint64>::max(), min = std::numeric_limits<qint64>::min();
        for (qint64 id : ids) {
            QVERIFY(set.contains(id));
            if (id > min && !ids.contains(id - 1))
                QVERIFY2(!set.contains(id - 1), qPrintable(QString::number(id - 1)));
            if (id < max && !ids.contains(id + 1))
                QVERIFY2(!set.contains(id + 1), qPrintable(QString::number(id + 1)));
        }
    }
};

ORVANE_TEST(TestStatisticsPass)
#include "tst_statisticspass.moc"
