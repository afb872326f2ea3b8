// The one filter rule: as the core states it (DocumentFilter, its SQL condition, the shown ids)
// and as the list applies it (its proxy over its model), on one temporary registry. No widgets.
#include "documentfilter.h"
#include "documentsmodel.h"
#include "myfiltermodel.h"
#include "testdatabase.h"
#include "testregistry.h"
#include "valuetext.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>
#include <algorithm>
#include <memory>

namespace {
const QVariant null;
const QDate first(2016, 4, 1), last(2016, 4, 10);
const qint64 farId = Q_INT64_C(4611686018427387904);

// id, isTemplate, fio1, fio2, fio3, qual, issueDate, editDate, attNumber
const QList<QVariantList> documents = {
    {1, null, "Иванов", "Иван", "Иванович", "Сварщик", "2016-04-01", "2016-04-01 09:00:00", "000001"},
    {2, 0, "ИВАНОВА", "Мария", "Петровна", "Повар\nтретьего разряда", "2016-04-10", "2016-04-10 15:30:00", "АБ 2"},
    {3, null, "O'Brien", "John", null, "Электромонтёр", "2016-03-31", "2016-04-10T15:30:00", null},
    {4, 0, "Д'Артаньян", "Шарль", "", "100% мушкетёр", "2016-04-11", "2016-04-11 00:00:00", ""},
    {5, null, "Петров_Водкин", "Кузьма", "Сергеевич", "Художник_оформитель", "2016-04-05", null, "b"},
    {6, null, "ёлкина", null, null, null, null, "2016-04-11T01:00:00+03:00", "B"},
    {7, 1, "Иванов", "Шаблон", "Иванович", "Сварщик", "2016-04-05", "2016-04-05 10:00:00", "a"},
    {8, 0, "иванов", "Иван", "Иванович", "сварщик", "2016-04-01", "2016-04-01", "000001"},
    {farId, 0, "Дальний", "", "", "Сварщик", "2016-04-10", "2016-04-12", "9"},
};
// Read as the file gives them: bytes that are no UTF-8, numbers in text columns, a very long name.
const QStringList oddRows = {
    "INSERT INTO ProfDocuments (profId, fio1, qual, issueDate, editDate) "
    "VALUES (9, CAST(x'D0FFD0B8D0B2' AS TEXT), 42000, 20160405, 2016.5)",
    "INSERT INTO ProfDocuments (profId, fio1, qual, issueDate) "
    "VALUES (10, replace(hex(zeroblob(20000)), '00', 'Ж') || 'ИВАНОВ', X'00', '2016-04-05')",
};

// The panel's list: a range only when one of its ends is given.
FilterListType panel(const QString& fio, const QString& qual = {}, const QDate& from = {}, const QDate& to = {},
                     const QDate& editFrom = {}, const QDate& editTo = {}) {
    FilterListType list;
    if (from.isValid() || to.isValid())
        list << qMakePair(FilterKeys::dateFrom, QVariant(from)) << qMakePair(FilterKeys::dateTo, QVariant(to));
    if (editFrom.isValid() || editTo.isValid())
        list << qMakePair(FilterKeys::editDateFrom, QVariant(editFrom))
             << qMakePair(FilterKeys::editDateTo, QVariant(editTo));
    return list << qMakePair(FilterKeys::fio, QVariant(fio)) << qMakePair(FilterKeys::qual, QVariant(qual));
}

QList<qint64> sorted(QList<qint64> ids) {
    std::sort(ids.begin(), ids.end());
    return ids;
}

// The rows the list's proxy shows over the list's model, in its order.
QList<qint64> proxyIds(const MyFilterModel& proxy) {
    QList<qint64> ids;
    for (int row = 0; row < proxy.rowCount(); ++row)
        ids << proxy.index(row, 0).data().toLongLong();
    return ids;
}

// The documents a query on ProfDocuments selects with the filter's SQL condition.
QList<qint64> sqlIds(const DocumentFilter& filter) {
    QSqlQuery query(QSqlDatabase::database());
    if (!query.exec(QStringLiteral("SELECT profId FROM ProfDocuments WHERE IFNULL(isTemplate,0) != 1") +
                    filter.sqlCondition()))
        return {-1};
    QList<qint64> ids;
    while (query.next())
        ids << query.value(0).toLongLong();
    return sorted(ids);
}
} // namespace

class TestDocumentFilter : public QObject {
    Q_OBJECT

    std::unique_ptr<TestDatabase> data;
    std::unique_ptr<DocumentsModel> model;

private slots:
    void initTestCase() {
        data = std::make_unique<TestDatabase>();
        QVERIFY(data->open() && data->db()->isValid());
        for (const QVariantList& d : documents)
            QVERIFY(runSql("INSERT INTO ProfDocuments (profId, isTemplate, fio1, fio2, fio3, qual, issueDate, "
                           "editDate, attNumber) VALUES (?,?,?,?,?,?,?,?,?)",
                           d)
                        .isActive());
        for (const QString& sql : oddRows)
            QVERIFY(runSql(sql).isActive());
        model = std::make_unique<DocumentsModel>();
        QVERIFY(model->reload());
    }
    void cleanupTestCase() {
        model.reset();
        data.reset();
    }

    // Only the panel's keys with valid values count; a range needs both ends.
    void fromList() {
        FilterListType list = panel("  Иван ", "\tповар ", first, last);
        list << qMakePair(QStringLiteral("other"), QVariant(5)) << qMakePair(FilterKeys::editDateFrom, QVariant());
        const DocumentFilter filter = DocumentFilter::fromList(list);
        QCOMPARE(filter.fio(), QStringLiteral("Иван"));
        QCOMPARE(filter.qual(), QStringLiteral("повар"));
        QCOMPARE(filter.dateFrom(), first);
        QVERIFY(!filter.editDateFrom().isValid());
        QVERIFY(!filter.acceptsIssueDay(first.addDays(-1).toJulianDay()));
        QVERIFY(filter.acceptsEditDay(ValueText::noDay));
        QVERIFY(DocumentFilter::fromList(panel(" ", "", first, {})).isEmpty());
        QVERIFY(DocumentFilter().isEmpty());
    }

    // The core's shown ids, the SQL condition and the list's proxy let the same documents through.
    void sameRule_data() {
        QTest::addColumn<FilterListType>("filters");
        QTest::addColumn<QList<qint64>>("expected");
        using L = QList<qint64>;
        const QDate next = last.addDays(1);
        QTest::newRow("no filter") << panel("") << L{1, 2, 3, 4, 5, 6, 8, 9, 10, farId};
        QTest::newRow("lower-case Cyrillic") << panel("иванов") << L{1, 2, 8, 10};
        QTest::newRow("upper-case Cyrillic") << panel("ИВАН") << L{1, 2, 8, 10};
        QTest::newRow("ё in the other case") << panel("ЁЛКИН") << L{6};
        QTest::newRow("name across its parts") << panel("иван иванович") << L{1, 8};
        QTest::newRow("blanks around") << panel("  иван  ", "  ") << L{1, 2, 8, 10};
        QTest::newRow("apostrophe") << panel("o'brien") << L{3};
        QTest::newRow("Cyrillic apostrophe") << panel("Д'АРТ") << L{4};
        QTest::newRow("a lone quote") << panel("'") << L{3, 4};
        QTest::newRow("quote ending the literal") << panel("') OR 1=1 --") << L{};
        QTest::newRow("NUL character") << panel(QStringLiteral("ab") + QChar(0) + QStringLiteral("c")) << L{};
        QTest::newRow("percent") << panel("", "%") << L{4};
        QTest::newRow("underscore") << panel("_") << L{5};
        QTest::newRow("placeholder-like text") << panel("%1") << L{};
        QTest::newRow("number stored in a text column") << panel("", "4200") << L{9};
        QTest::newRow("after bytes that are no UTF-8") << panel("ив") << L{1, 2, 8, 9, 10};
        QTest::newRow("qualification over a line break") << panel("", "ПОВАР ТРЕТЬЕГО") << L{2};
        QTest::newRow("issue range, ends inclusive") << panel("", "", first, last) << L{1, 2, 5, 8, 10, farId};
        QTest::newRow("issue on one day") << panel("", "", last, last) << L{2, farId};
        QTest::newRow("one end only") << panel("", "", first, {}) << L{1, 2, 3, 4, 5, 6, 8, 9, 10, farId};
        QTest::newRow("edit range to the last afternoon") << panel("", "", {}, {}, first, last) << L{1, 2, 3, 8};
        QTest::newRow("edit on the day after") << panel("", "", {}, {}, next, next) << L{4, 6};
        QTest::newRow("everything") << panel("ИВАНОВ", "сварщик", first, last, first, first) << L{1, 8};
    }
    void sameRule() {
        QFETCH(FilterListType, filters);
        QFETCH(QList<qint64>, expected);
        const DocumentFilter filter = DocumentFilter::fromList(filters);
        QString error = "stale";
        QCOMPARE(sorted(filter.shownIds({}, &error)), expected);
        QCOMPARE(error, QString());
        QCOMPARE(sqlIds(filter), expected);
        MyFilterModel proxy;
        proxy.setSourceModel(model.get());
        proxy.setFilter(filter);
        QCOMPARE(sorted(proxyIds(proxy)), expected);
    }

    // For every sort the list offers, the core gives the ids in the list's own order, equal
    // values included.
    void listOrder_data() {
        QTest::addColumn<FilterListType>("filters");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("order");
        QTest::addColumn<int>("caseSensitivity");
        QTest::addColumn<bool>("localeAware");
        const QList<QPair<const char*, FilterListType>> filters = {{"all", panel("")}, {"иван", panel("иван")}};
        for (const auto& f : filters) {
            QTest::addRow("%s, unsorted", f.first)
                << f.second << -1 << int(Qt::AscendingOrder) << int(Qt::CaseSensitive) << false;
            for (int column = 0; column < DocumentsModel::ColumnCount; ++column)
                for (int order : {Qt::AscendingOrder, Qt::DescendingOrder})
                    for (int cs : {Qt::CaseSensitive, Qt::CaseInsensitive})
                        QTest::addRow("%s, column %d, order %d, case %d", f.first, column, order, cs)
                            << f.second << column << order << cs << false;
            QTest::addRow("%s, names locale-aware", f.first)
                << f.second << int(DocumentsModel::Fio) << int(Qt::DescendingOrder) << int(Qt::CaseSensitive) << true;
        }
    }
    void listOrder() {
        QFETCH(FilterListType, filters);
        QFETCH(int, column);
        QFETCH(int, order);
        QFETCH(int, caseSensitivity);
        QFETCH(bool, localeAware);
        MyFilterModel proxy;
        proxy.setSourceModel(model.get());
        proxy.setSortCaseSensitivity(Qt::CaseSensitivity(caseSensitivity));
        proxy.setSortLocaleAware(localeAware);
        proxy.setFilter(DocumentFilter::fromList(filters));
        proxy.sort(column, Qt::SortOrder(order));
        QString error;
        const QList<qint64> shown = proxy.filter().shownIds(proxy.order(), &error);
        QCOMPARE(error, QString());
        QCOMPARE(shown, proxyIds(proxy));
    }

    // A list that cannot be read gives no ids and says why.
    void unreadable_data() {
        QTest::addColumn<QString>("view");
        QTest::newRow("columns missing") << "SELECT profId FROM ProfDocuments";
        // abs() of the smallest integer is an error, raised once the rows reach id 4.
        QTest::newRow("fails on a row")
            << "SELECT profId, fio1 AS fio, qual, issueDate, editDate, attNumber, regNumber FROM ProfDocuments "
               "WHERE CASE WHEN profId > 3 THEN abs(-9223372036854775808 + 0 * profId) ELSE 1 END";
    }
    void unreadable() {
        QFETCH(QString, view);
        // A temporary view of that name hides the registry's own on this connection.
        QVERIFY(runSql(QStringLiteral("CREATE TEMP VIEW ViewProfDocuments AS ") + view).isActive());
        QString error;
        const QList<qint64> ids = DocumentFilter().shownIds({}, &error);
        runSql(QStringLiteral("DROP VIEW temp.ViewProfDocuments"));
        QVERIFY(ids.isEmpty());
        QVERIFY2(error.startsWith(QStringLiteral("Не удалось прочитать записи из базы данных:\n")), qPrintable(error));
        QCOMPARE(DocumentFilter().shownIds().size(), documents.size() - 1 + oddRows.size());
    }
};

// The list's proxy and model against the core's plain reading of the rule, on a registry of ten
// thousand documents with many distinct and many repeated texts: every filter of the panel typed
// on one after another, each under every order the list offers.
class TestFilterAtScale : public QObject {
    Q_OBJECT

    std::unique_ptr<TestDatabase> data;
    std::unique_ptr<DocumentsModel> model;
    std::unique_ptr<MyFilterModel> proxy;

private slots:
    void initTestCase() {
        data = std::make_unique<TestDatabase>();
        QVERIFY(data->open() && data->db()->isValid());
        QVERIFY(runSql("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) "
                       "INSERT INTO ProfDocuments (profId, isTemplate, fio1, fio2, fio3, qual, attNumber, regNumber, "
                       "issueDate, editDate) SELECT i + CASE WHEN i % 1000 = 0 THEN 5000000000 ELSE 0 END, "
                       "CASE WHEN i % 97 = 0 THEN 1 ELSE 0 END, "
                       "CASE i % 9 WHEN 0 THEN NULL WHEN 1 THEN 'ИВАНОВ' WHEN 2 THEN 'иванова' || (i % 50) "
                       "WHEN 3 THEN 'Ёлкин' WHEN 4 THEN 'O''Brien' WHEN 5 THEN 'Петров_Водкин' WHEN 6 THEN '' "
                       "ELSE 'Фамилия' || i END, CASE i % 4 WHEN 0 THEN NULL ELSE 'Иван' END, "
                       "CASE i % 3 WHEN 0 THEN 'Иванович' WHEN 1 THEN 'ивановна' ELSE NULL END, "
                       "CASE i % 5 WHEN 0 THEN NULL WHEN 1 THEN 'Повар' || char(10) || 'третьего разряда' "
                       "WHEN 2 THEN '100% сварщик' WHEN 3 THEN 'сварщик' ELSE 'Электромонтёр ' || (i % 7) END, "
                       "CASE i % 11 WHEN 0 THEN NULL ELSE printf('%06d', 10000 - i) END, "
                       "CASE i % 6 WHEN 0 THEN NULL WHEN 1 THEN 'a' WHEN 2 THEN 'B' ELSE 'Рег ' || (i % 300) END, "
                       "CASE i % 13 WHEN 0 THEN NULL WHEN 1 THEN '2016-02-30' WHEN 2 THEN '' "
                       "ELSE date('2016-01-01', '+' || (i % 400) || ' days') END, "
                       "CASE i % 8 WHEN 0 THEN NULL WHEN 1 THEN 'x' WHEN 2 THEN date('2016-03-01', '+' || (i % 90) "
                       "|| ' days') || 'T10:00:00' ELSE datetime('2016-03-01 08:00:00', '+' || (i * 37) || "
                       "' minutes') END FROM n")
                    .isActive());
        model = std::make_unique<DocumentsModel>();
        QVERIFY(model->reload());
        QCOMPARE(model->rowCount(), 10000 - 10000 / 97);
        proxy = std::make_unique<MyFilterModel>();
        proxy->setSourceModel(model.get());
    }
    void cleanupTestCase() {
        proxy.reset();
        model.reset();
        data.reset();
    }

    void everyFilterUnderEveryOrder_data() {
        QTest::addColumn<FilterListType>("filters");
        const QDate from(2016, 3, 1), to(2016, 5, 31), day(2016, 4, 12);
        QTest::newRow("no filter") << panel("");
        QTest::newRow("typing: и") << panel("и");
        QTest::newRow("typing: ив") << panel("ив");
        QTest::newRow("typing: иван") << panel("иван");
        QTest::newRow("typing: иванова1") << panel("иванова1");
        QTest::newRow("upper case") << panel("ИВАНОВА");
        QTest::newRow("ё against Ё") << panel("ёлкин");
        QTest::newRow("across the name's parts") << panel("иван иванович");
        QTest::newRow("apostrophe") << panel("o'b");
        QTest::newRow("underscore") << panel("_");
        QTest::newRow("quote ending a literal") << panel("') OR 1=1 --");
        QTest::newRow("percent in the qualification") << panel("", "%");
        QTest::newRow("qualification over a line break") << panel("", "повар ТРЕТЬЕГО");
        QTest::newRow("name and qualification") << panel("фамилия1", "электромонтёр 3");
        QTest::newRow("issue range") << panel("", "", from, to);
        QTest::newRow("issue on one day") << panel("", "", day, day);
        QTest::newRow("issue, one end only") << panel("", "", from, {});
        QTest::newRow("edit range") << panel("", "", {}, {}, from, to);
        QTest::newRow("everything") << panel("иван", "сварщик", from, to, from, to);
        QTest::newRow("nothing matches") << panel("нет такого");
    }
    void everyFilterUnderEveryOrder() {
        QFETCH(FilterListType, filters);
        const DocumentFilter filter = DocumentFilter::fromList(filters);
        proxy->setFilter(filter);
        for (int column = -1; column < DocumentsModel::ColumnCount; ++column)
            for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder})
                for (Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
                    proxy->setSortCaseSensitivity(cs);
                    proxy->sort(column, order);
                    QString error;
                    const QList<qint64> plain = filter.shownIds(proxy->order(), &error);
                    QCOMPARE(error, QString());
                    QVERIFY2(plain == proxyIds(*proxy),
                             qPrintable(QStringLiteral("column %1, order %2, case %3").arg(column).arg(order).arg(cs)));
                }
    }
};

ORVANE_TEST(TestDocumentFilter)
ORVANE_TEST(TestFilterAtScale)
#include "tst_filter.moc"
