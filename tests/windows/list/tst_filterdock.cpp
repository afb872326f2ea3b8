#include "database.h"
#include "filterdockwidget.h"
#include "testdatabase.h"
#include "testregistry.h"
#include "textmatch.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>
#include <functional>
#include <memory>

namespace {
const QDate today = QDate::currentDate();
const QDate first(2016, 4, 1), last(2016, 4, 10);

template <typename T> T& child(const QObject& dock, const char* name) {
    T* widget = dock.findChild<T*>(QLatin1String(name));
    if (!widget)
        qFatal("no %s named %s", T::staticMetaObject.className(), name);
    return *widget;
}

// A range is on when its ends are valid.
struct Filters {
    QString fio, qual;
    QDate from, to, editFrom, editTo;
};

// In the order the partner limits allow, whatever the current range.
void setRange(const QObject& dock, const char* fromName, const char* toName, const QDate& from, const QDate& to) {
    if (from > child<QDateEdit>(dock, toName).date())
        child<QDateEdit>(dock, toName).setDate(to);
    child<QDateEdit>(dock, fromName).setDate(from);
    child<QDateEdit>(dock, toName).setDate(to);
}

void setFilters(FilterDockWidget& dock, const Filters& f) {
    child<QLineEdit>(dock, "lineEditFio1").setText(f.fio);
    child<QLineEdit>(dock, "lineEditQual").setText(f.qual);
    child<QCheckBox>(dock, "checkBox").setChecked(f.from.isValid());
    child<QCheckBox>(dock, "checkBox_2").setChecked(f.editFrom.isValid());
    if (f.from.isValid())
        setRange(dock, "dateEditFrom", "dateEditTo", f.from, f.to);
    if (f.editFrom.isValid())
        setRange(dock, "dateEditFrom_2", "dateEditTo_2", f.editFrom, f.editTo);
}

QStringList describe(const FilterListType& list) {
    QStringList items;
    for (const auto& entry : list)
        items << QStringLiteral("%1=%2 %3").arg(entry.first, entry.second.typeName(), entry.second.toString());
    return items;
}
QStringList texts(const QString& fio = {}, const QString& qual = {}) {
    return {QStringLiteral("fio=QString ") + fio, QStringLiteral("qual=QString ") + qual};
}
QStringList range(const QString& key, const QDate& from, const QDate& to) {
    return {QStringLiteral("%1From=QDate %2").arg(key, from.toString(Qt::ISODate)),
            QStringLiteral("%1To=QDate %2").arg(key, to.toString(Qt::ISODate))};
}

// The ids (first column) of the rows of `sql` that `accept` lets through.
QString ids(const QString& sql, const std::function<bool(const QSqlQuery&)>& accept = {}) {
    QSqlQuery query(QSqlDatabase::database());
    if (!query.exec(sql))
        return QStringLiteral("error: ") + query.lastError().text();
    QStringList ids;
    while (query.next())
        if (!accept || accept(query))
            ids << query.value(0).toString();
    return ids.join(QLatin1Char(' '));
}

// The rows the document list shows under these filters: its acceptance rule over the view.
QString listedIds(const FilterListType& filters) {
    QMap<QString, QVariant> f;
    for (const auto& entry : filters)
        f.insert(entry.first, entry.second);
    const QString fio = f.value(QStringLiteral("fio")).toString();
    const QString qual = f.value(QStringLiteral("qual")).toString();
    const auto inRange = [&f](const QVariant& value, const QString& key) {
        const QDate from = f.value(key + QStringLiteral("From")).toDate();
        const QDate to = f.value(key + QStringLiteral("To")).toDate();
        const QDate day = QDate::fromString(value.toString().left(10), Qt::ISODate);
        return !from.isValid() || !to.isValid() || (day.isValid() && from <= day && day <= to);
    };
    return ids(QStringLiteral("SELECT * FROM ViewProfDocuments ORDER BY profId"), [&](const QSqlQuery& q) {
        return (fio.isEmpty() || TextMatch::contains(q.value(1).toString(), fio)) &&
               (qual.isEmpty() || TextMatch::contains(q.value(2).toString(), qual)) &&
               inRange(q.value(5), QStringLiteral("date")) && inRange(q.value(6), QStringLiteral("editDate"));
    });
}

const QVariant null;
// id, isTemplate, fio1, fio2, fio3, qual, issueDate, editDate; the ranges of the cases run from
// `first` to `last`.
const QList<QVariantList> documents = {
    {1, null, "Иванов", "Иван", "Иванович", "Сварщик", "2016-04-01", "2016-04-01 09:00:00"},
    {2, 0, "ИВАНОВА", "Мария", "Петровна", "Повар\nтретьего разряда", "2016-04-10", "2016-04-10 15:30:00"},
    {3, null, "O'Brien", "John", null, "Электромонтёр", "2016-03-31", "2016-04-10T15:30:00"},
    {4, 0, "Д'Артаньян", "Шарль", "", "100% мушкетёр", "2016-04-11", "2016-04-11 00:00:00"},
    {5, null, "Петров_Водкин", "Кузьма", "Сергеевич", "Художник_оформитель", "2016-04-05", null},
    {6, null, "ёлкина", null, null, null, null, "2016-04-11T01:00:00+03:00"},
    {7, 1, "Иванов", "Шаблон", "Иванович", "Сварщик", "2016-04-05", "2016-04-05 10:00:00"},
};
} // namespace

using DockAction = std::function<void(FilterDockWidget&)>;
Q_DECLARE_METATYPE(DockAction)
Q_DECLARE_METATYPE(Filters)

class TestFilterDock : public QObject {
    Q_OBJECT

    std::unique_ptr<TestDatabase> data;

private slots:
    void initTestCase() {
        data = std::make_unique<TestDatabase>();
        QVERIFY(data->open() && data->db()->isValid());
        for (const QVariantList& document : documents) {
            QSqlQuery query(QSqlDatabase::database());
            query.prepare(QStringLiteral("INSERT INTO ProfDocuments (profId, isTemplate, fio1, fio2, fio3, qual, "
                                         "issueDate, editDate, regNumber, attNumber) VALUES (?,?,?,?,?,?,?,?,'','')"));
            for (const QVariant& value : document)
                query.addBindValue(value);
            QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
        }
    }
    void cleanupTestCase() { data.reset(); }

    void controls() {
        // Top to bottom; no text for the date edits.
        const QList<QStringList> controls = {
            {"QLabel", "label", "ФИО "},
            {"QLineEdit", "lineEditFio1", ""},
            {"QLabel", "label_4", "Квалификация"},
            {"QLineEdit", "lineEditQual", ""},
            {"QCheckBox", "checkBox", "По дате выдачи:"},
            {"QLabel", "label_2", "С"},
            {"QDateEdit", "dateEditFrom"},
            {"QLabel", "label_3", "По"},
            {"QDateEdit", "dateEditTo"},
            {"QCheckBox", "checkBox_2", "По дате редактирования:"},
            {"QLabel", "label_5", "С"},
            {"QDateEdit", "dateEditFrom_2"},
            {"QLabel", "label_6", "По"},
            {"QDateEdit", "dateEditTo_2"},
            {"QPushButton", "pushButtonClear", "Сбросить фильтры"},
        };
        FilterDockWidget dock;
        dock.resize(260, 600);
        dock.show();
        QCOMPARE(dock.windowTitle(), QStringLiteral("Фильтры"));
        int lastCentre = -1;
        for (const QStringList& c : controls) {
            auto* widget = dock.findChild<QWidget*>(c[1]);
            QVERIFY2(widget, qPrintable(c[1]));
            QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), c[0]);
            if (auto* date = qobject_cast<QDateEdit*>(widget))
                QCOMPARE(date->date(), today);
            else
                QCOMPARE(widget->property("text").toString(), c[2]);
            if (auto* box = qobject_cast<QCheckBox*>(widget))
                QVERIFY(!box->isChecked());
            // A label and its date edit share a row.
            const int centre = widget->mapTo(&dock, widget->rect().center()).y();
            QVERIFY2(centre >= lastCentre - 1, qPrintable(c[1]));
            lastCentre = centre;
        }
        QCOMPARE(describe(dock.filterList()), texts());
        QCOMPARE(dock.sqlCondition(), QString());
    }

    void filterList_data() {
        QTest::addColumn<Filters>("filters");
        QTest::addColumn<QStringList>("expected");
        const QDate d1(2016, 5, 2), d2(2016, 5, 3);
        QTest::newRow("nothing") << Filters{} << texts();
        QTest::newRow("texts trimmed") << Filters{"  Иванов  ", "\tповар "} << texts("Иванов", "повар");
        QTest::newRow("blanks only") << Filters{"   ", " "} << texts();
        QTest::newRow("issue range") << Filters{"Иванов", "", first, last}
                                     << range("date", first, last) + texts("Иванов");
        QTest::newRow("edit range") << Filters{"", "повар", {}, {}, d1, d2}
                                    << range("editDate", d1, d2) + texts("", "повар");
        QTest::newRow("both ranges") << Filters{" a ", " b ", first, last, d1, d2}
                                     << range("date", first, last) + range("editDate", d1, d2) + texts("a", "b");
    }
    void filterList() {
        QFETCH(Filters, filters);
        QFETCH(QStringList, expected);
        FilterDockWidget dock;
        setFilters(dock, filters);
        QCOMPARE(describe(dock.filterList()), expected);
    }

    void clearButton_data() {
        QTest::addColumn<Filters>("filters");
        QTest::newRow("no range on") << Filters{"Иванов", "повар"};
        QTest::newRow("both ranges on") << Filters{"Иванов", "повар", first, last, first, last};
    }
    void clearButton() {
        QFETCH(Filters, filters);
        FilterDockWidget dock;
        setFilters(dock, filters);
        QSignalSpy spy(&dock, &FilterDockWidget::filtersChanged);
        QTest::mouseClick(&child<QPushButton>(dock, "pushButtonClear"), Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(describe(spy.at(0).at(0).value<FilterListType>()), texts());
        QCOMPARE(describe(dock.filterList()), texts());
        QVERIFY(child<QLineEdit>(dock, "lineEditFio1").text().isEmpty());
        QVERIFY(child<QLineEdit>(dock, "lineEditQual").text().isEmpty());
        QCOMPARE(child<QDateEdit>(dock, "dateEditFrom").date(), filters.from.isValid() ? first : today);
        QCOMPARE(child<QDateEdit>(dock, "dateEditTo_2").date(), filters.editFrom.isValid() ? last : today);
    }

    void partnerLimits_data() {
        QTest::addColumn<QString>("moved");
        QTest::addColumn<QString>("partner");
        QTest::addColumn<QDate>("target");
        QTest::newRow("issue start past its end") << "dateEditFrom"
                                                  << "dateEditTo" << last.addDays(5);
        QTest::newRow("issue end before its start") << "dateEditTo"
                                                    << "dateEditFrom" << first.addDays(-5);
        QTest::newRow("edit start past its end") << "dateEditFrom_2"
                                                 << "dateEditTo_2" << last.addDays(5);
        QTest::newRow("edit end before its start") << "dateEditTo_2"
                                                   << "dateEditFrom_2" << first.addDays(-5);
    }
    void partnerLimits() {
        QFETCH(QString, moved);
        QFETCH(QString, partner);
        QFETCH(QDate, target);
        FilterDockWidget dock;
        // Reaching 2016 from today already needs each end's limit to follow its partner.
        setFilters(dock, Filters{"", "", first, last, first, last});
        QDateEdit& partnerEdit = child<QDateEdit>(dock, qPrintable(partner));
        const QDate partnerDate = partnerEdit.date();
        child<QDateEdit>(dock, qPrintable(moved)).setDate(target);
        QCOMPARE(child<QDateEdit>(dock, qPrintable(moved)).date(), partnerDate);
        QCOMPARE(partnerEdit.date(), partnerDate);
    }

    void changesEmit_data() {
        QTest::addColumn<DockAction>("action");
        QTest::addColumn<int>("emissions");
        QTest::addColumn<QStringList>("last");
        QTest::newRow("typing a name") << DockAction([](FilterDockWidget& d) {
            QTest::keyClicks(&child<QLineEdit>(d, "lineEditFio1"), "O'Br");
        }) << 4 << texts("O'Br");
        QTest::newRow("typing a qualification")
            << DockAction([](FilterDockWidget& d) { QTest::keyClicks(&child<QLineEdit>(d, "lineEditQual"), " cook "); })
            << 6 << texts("", "cook");
        QTest::newRow("erasing a character") << DockAction([](FilterDockWidget& d) {
            child<QLineEdit>(d, "lineEditFio1").setText("abc");
            QTest::keyClick(&child<QLineEdit>(d, "lineEditFio1"), Qt::Key_Backspace);
        }) << 1 << texts("ab");
        QTest::newRow("texts set by the program") << DockAction([](FilterDockWidget& d) {
            child<QLineEdit>(d, "lineEditFio1").setText("abc");
            child<QLineEdit>(d, "lineEditQual").setText("def");
        }) << 0 << QStringList();
        QTest::newRow("issue range on") << DockAction([](FilterDockWidget& d) {
            QTest::keyClick(&child<QCheckBox>(d, "checkBox"), Qt::Key_Space);
        }) << 1 << range("date", today, today) + texts();
        QTest::newRow("edit range on and off") << DockAction([](FilterDockWidget& d) {
            child<QCheckBox>(d, "checkBox_2").setChecked(true);
            child<QCheckBox>(d, "checkBox_2").setChecked(false);
        }) << 2 << texts();
        // A date of a range that is off: applied, nothing filtered.
        for (const auto& change : QList<QPair<const char*, int>>{
                 {"dateEditFrom", -3}, {"dateEditTo", 3}, {"dateEditFrom_2", -3}, {"dateEditTo_2", 3}})
            QTest::newRow(change.first) << DockAction([change](FilterDockWidget& d) {
                child<QDateEdit>(d, change.first).setDate(today.addDays(change.second));
            }) << 1 << texts();
    }
    void changesEmit() {
        QFETCH(DockAction, action);
        QFETCH(int, emissions);
        QFETCH(QStringList, last);
        FilterDockWidget dock;
        QSignalSpy spy(&dock, &FilterDockWidget::filtersChanged);
        action(dock);
        QCOMPARE(spy.count(), emissions);
        if (emissions > 0)
            QCOMPARE(describe(spy.last().at(0).value<FilterListType>()), last);
    }

    void sqlCondition_data() {
        QTest::addColumn<Filters>("filters");
        QTest::addColumn<QString>("expected");
        const QDate next = last.addDays(1);
        QTest::newRow("no filter") << Filters{} << "1 2 3 4 5 6";
        QTest::newRow("lower-case Cyrillic") << Filters{"иванов"} << "1 2";
        QTest::newRow("upper-case Cyrillic") << Filters{"ИВАН"} << "1 2";
        QTest::newRow("ё in the other case") << Filters{"ЁЛКИН"} << "6";
        QTest::newRow("name across its parts") << Filters{"иван иванович"} << "1";
        QTest::newRow("blanks around") << Filters{"  иван  ", "  "} << "1 2";
        QTest::newRow("apostrophe") << Filters{"o'brien"} << "3";
        QTest::newRow("Cyrillic apostrophe") << Filters{"Д'АРТ"} << "4";
        QTest::newRow("a lone quote") << Filters{"'"} << "3 4";
        QTest::newRow("quote ending the literal") << Filters{"') OR 1=1 --"} << "";
        QTest::newRow("NUL character") << Filters{QStringLiteral("ab") + QChar(0) + QStringLiteral("c")} << "";
        QTest::newRow("percent") << Filters{"", "%"} << "4";
        QTest::newRow("underscore") << Filters{"_"} << "5";
        QTest::newRow("placeholder-like text") << Filters{"%1"} << "";
        QTest::newRow("qualification over a line break") << Filters{"", "ПОВАР ТРЕТЬЕГО"} << "2";
        QTest::newRow("issue range, ends inclusive") << Filters{"", "", first, last} << "1 2 5";
        QTest::newRow("issue on one day") << Filters{"", "", last, last} << "2";
        QTest::newRow("edit range to the last afternoon") << Filters{"", "", {}, {}, first, last} << "1 2 3";
        QTest::newRow("edit on the day after") << Filters{"", "", {}, {}, next, next} << "4 6";
        QTest::newRow("everything") << Filters{"ИВАНОВ", "повар", first, last, last, last} << "2";
    }
    void sqlCondition() {
        QFETCH(Filters, filters);
        QFETCH(QString, expected);
        FilterDockWidget dock;
        setFilters(dock, filters);
        const QString condition = dock.sqlCondition();
        QVERIFY2(condition.isEmpty() || (condition.startsWith(QLatin1String(" AND ")) && condition.endsWith(' ')),
                 qPrintable(condition));
        QCOMPARE(listedIds(dock.filterList()), expected);
        QCOMPARE(ids(QStringLiteral("SELECT profId FROM ProfDocuments WHERE IFNULL(isTemplate,0) != 1") + condition +
                     QStringLiteral(" ORDER BY profId")),
                 expected);
    }
};

ORVANE_TEST(TestFilterDock)
#include "tst_filterdock.moc"
