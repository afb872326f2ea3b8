#include "appkeys.h"
#include "database.h"
#include "engine.h"
#include "printdata.h"
#include "reportlist.h"
#include "reportpage.h"
#include "settingsregistry.h"
#include "testdatabase.h"
#include "testregistry.h"

#include <QAbstractItemModel>
#include <QSqlQuery>
#include <QtTest>

namespace {
// Inserts one document with the given column values and returns its id.
qint64 insertDocument(Database* db, const QVariantMap& columns) {
    QSqlQuery query(QSqlDatabase::database());
    QStringList names, marks;
    for (auto it = columns.constBegin(); it != columns.constEnd(); ++it) {
        names << it.key();
        marks << QStringLiteral("?");
    }
    query.prepare(QStringLiteral("INSERT INTO ProfDocuments (%1) VALUES (%2)")
                      .arg(names.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
    for (const QVariant& v : columns)
        query.addBindValue(v);
    if (!db->execPrepared(query))
        return -1;
    return query.lastInsertId().toLongLong();
}

void addSubject(Database* db, qint64 profId, const QString& name, const QVariant& hours, const QString& grade) {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(QStringLiteral("INSERT INTO ProfDetails (profId, name, count, rate) VALUES (?, ?, ?, ?)"));
    query.addBindValue(profId);
    query.addBindValue(name);
    query.addBindValue(hours);
    query.addBindValue(grade);
    QVERIFY(db->execPrepared(query));
}

QString var(const ReportPage& page, const char* name) {
    return page.variable(QLatin1String(name)).toString();
}
} // namespace

class TestPrintData : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { ReportList::build(); }

    void reportList() {
        const QList<ReportList::ReportInfo>& reports = ReportList::reports();
        QCOMPARE(reports.size(), 8);
        const QList<int> types = {701, 702, 703, 704, 705, 706, 707, 708};
        const QStringList files = {"id130", "id133", "id139", "id142", "id145", "id148", "id150", "id151"};
        for (int i = 0; i < reports.size(); ++i) {
            QCOMPARE(int(reports[i].type), types[i]);
            QCOMPARE(reports[i].fileName, files[i]);
            QCOMPARE(reports[i].description, reports[i].title + QStringLiteral(" (установленный образец)"));
            QCOMPARE(ReportList::info(types[i]), &reports[i]);
        }
        QCOMPARE(ReportList::info(701)->description,
                 QStringLiteral("Бланк свидетельства о профессии рабочего, должности служащего (установленный "
                                "образец)"));
        QCOMPARE(ReportList::info(708)->title,
                 QStringLiteral("Бланк приложения к свидетельству о должности служащего"));
        QVERIFY(!ReportList::info(700));
        ReportList::build(); // a second build keeps the list
        QCOMPARE(ReportList::reports().size(), 8);
    }

    void hoursWord_data() {
        QTest::addColumn<qint64>("n");
        QTest::addColumn<QString>("word");
        const QString one = QStringLiteral("академический час");
        const QString few = QStringLiteral("академических часа");
        const QString many = QStringLiteral("академических часов");
        for (auto c :
             {qMakePair(1, one), qMakePair(2, few), qMakePair(4, few), qMakePair(5, many), qMakePair(11, many),
              qMakePair(14, many), qMakePair(20, many), qMakePair(21, one), qMakePair(22, few), qMakePair(104, few),
              qMakePair(111, many), qMakePair(112, many), qMakePair(0, many), qMakePair(1001, one)})
            QTest::newRow(qPrintable(QString::number(c.first))) << qint64(c.first) << c.second;
    }

    void hoursWord() {
        QFETCH(qint64, n);
        QFETCH(QString, word);
        QCOMPARE(PrintData::hoursWord(n), word);
    }

    void shortName_data() {
        QTest::addColumn<QString>("full");
        QTest::addColumn<QString>("expected");
        QTest::newRow("three") << QStringLiteral("Иванов Иван Иванович") << QStringLiteral("Иванов И.И.");
        QTest::newRow("two") << QStringLiteral("Иванов Иван") << QStringLiteral("Иванов И.");
        QTest::newRow("one") << QStringLiteral("Иванов") << QStringLiteral("Иванов");
        QTest::newRow("four") << QStringLiteral("Мария Анна Петрова Сидоровна") << QStringLiteral("Мария Анна П.С.");
        QTest::newRow("blanks") << QStringLiteral("  петров   пётр\tпетрович ") << QStringLiteral("петров П.П.");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("no surname") << QStringLiteral(" Иван Иванович") << QStringLiteral("Иван И.");
    }

    void shortName() {
        QFETCH(QString, full);
        QFETCH(QString, expected);
        QCOMPARE(PrintData::shortName(full), expected);
    }

    void dates() {
        const QDate d(1991, 1, 5);
        QCOMPARE(PrintData::dateInWords(d, false), QStringLiteral("05 января 1991"));
        QCOMPARE(PrintData::dateInWords(d, true), QStringLiteral("5 января 1991"));
        QCOMPARE(PrintData::dayText(QDate(2024, 12, 31), false), QStringLiteral("31"));
        QCOMPARE(PrintData::monthName(QDate(2024, 5, 1)), QStringLiteral("мая"));
        QCOMPARE(PrintData::monthName(QDate(2024, 12, 1)), QStringLiteral("декабря"));
        QCOMPARE(PrintData::dateInWords(QDate()), QString());
        QCOMPARE(PrintData::dayText(QDate()), QString());
    }

    void fillDocument_data() {
        QTest::addColumn<bool>("hideZero");
        QTest::newRow("leading zero") << false;
        QTest::newRow("HideZeroInDate") << true;
    }

    void fillDocument() {
        QFETCH(bool, hideZero);
        TestDatabase t;
        Database* db = t.open();
        QVERIFY(SettingsRegistry::instance()->setValue(Keys::hideZeroInDate, hideZero));
        db->setVariable(QStringLiteral("Data/Boss"), QStringLiteral("Кузнецова Анна Сергеевна"));
        db->setVariable(QStringLiteral("Data/Boss_2"), QStringLiteral("Д'Артаньян Шарль"));
        db->setVariable(QStringLiteral("Data/City"), QStringLiteral("г. Тверь"));
        db->setVariable(QStringLiteral("Data/OrgName_1"), QStringLiteral("ГБПОУ «Колледж»"));
        const qint64 id = insertDocument(db, {{"fio1", "Иванов"},
                                              {"fio2", "Иван"},
                                              {"fio3", "Иванович"},
                                              {"birthDate", "1991-01-05"},
                                              {"protocolNumber", "12-к"},
                                              {"protocolDate", "2024-06-28"},
                                              {"regNumber", "0457"},
                                              {"issueDate", "2024-07-01"},
                                              {"attNumber", "69 0001234"},
                                              {"addInfo", "Практика на заводе"},
                                              {"qual", "Сварщик\n3 разряд"},
                                              {"profession", "Сварщик"},
                                              {"isExcellent", 1},
                                              {"isDuplicate", 0},
                                              {"certificateType", 2},
                                              {"showTotalCount", 1},
                                              {"profProgName", "Сварщик ручной сварки"},
                                              {"startDate", "09.01.2024"},
                                              {"finishDate", "2024-06-28"}});
        addSubject(db, id, QStringLiteral("Охрана труда"), 20, QStringLiteral("зачтено"));
        addSubject(db, id, QStringLiteral("Практика"), QVariant(), QStringLiteral("5"));
        addSubject(db, id, QStringLiteral("Черчение"), 2, QStringLiteral("4"));

        ReportPage page;
        Engine::fillPage(&page, id, true, nullptr);
        const QString day = hideZero ? QStringLiteral("5") : QStringLiteral("05");
        QCOMPARE(var(page, "Full_Name"), QStringLiteral("Иванов Иван Иванович"));
        QCOMPARE(var(page, "Full_Name_short"), QStringLiteral("Иванов И.И."));
        QCOMPARE(var(page, "birth"), day + QStringLiteral(" января 1991"));
        QCOMPARE(var(page, "birth_day"), day);
        QCOMPARE(var(page, "birth_month"), QStringLiteral("января"));
        QCOMPARE(var(page, "birth_year"), QStringLiteral("1991"));
        QCOMPARE(var(page, "birth_year_short"), QStringLiteral("91"));
        QCOMPARE(var(page, "birth_digit"), QStringLiteral("05.01.1991"));
        QCOMPARE(var(page, "protocol_Date"), QStringLiteral("28 июня 2024"));
        QCOMPARE(var(page, "Issue_Out"), day.left(day.size() - 1) + QStringLiteral("1 июля 2024"));
        QCOMPARE(var(page, "Issue_Out_year_short"), QStringLiteral("24"));
        QCOMPARE(var(page, "reg_Number"), QStringLiteral("0457"));
        QCOMPARE(var(page, "att_Number"), QStringLiteral("69 0001234"));
        QCOMPARE(var(page, "is_excellent"), QStringLiteral("с отличием"));
        QCOMPARE(var(page, "is_duplicate"), QString());
        QCOMPARE(var(page, "Certificate_type"), QStringLiteral("по должности служащего"));
        QCOMPARE(var(page, "startDate"), (hideZero ? QStringLiteral("9") : QStringLiteral("09")) +
                                             QStringLiteral(" января 2024")); // read tolerantly
        QCOMPARE(var(page, "startDate_digit"), QStringLiteral("09.01.2024"));
        QCOMPARE(var(page, "finishDate_month"), QStringLiteral("июня"));
        QCOMPARE(var(page, "total_count"), QStringLiteral("в объёме:<br>22 академических часа"));
        QCOMPARE(var(page, "Boss_short"), QStringLiteral("Кузнецова А.С."));
        QCOMPARE(var(page, "Boss2_short"), QStringLiteral("Д'Артаньян Ш."));
        QCOMPARE(var(page, "Boss3"), QString());
        QCOMPARE(var(page, "City"), QStringLiteral("г. Тверь"));
        QCOMPARE(var(page, "Org_Name"), QStringLiteral("ГБПОУ «Колледж»"));
        QCOMPARE(var(page, "prof_Prog_Name"), QStringLiteral("Сварщик ручной сварки"));

        // The appendix: subjects in detId order, then the total row.
        QAbstractItemModel* model = page.model(QStringLiteral("viewprofdetails"));
        QVERIFY(model);
        QCOMPARE(model->rowCount(), 4);
        QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("col1"));
        QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("Охрана труда"));
        QCOMPARE(model->index(3, 1).data().toString(), QStringLiteral("ВСЕГО:"));
        QCOMPARE(model->index(3, 2).data().toInt(), 22);
    }

    void flagsAndTotals_data() {
        QTest::addColumn<QVariant>("certificateType");
        QTest::addColumn<QVariant>("showTotalCount");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("total");
        const QString worker = QStringLiteral("по профессии рабочего");
        QTest::newRow("NULL type, NULL show") << QVariant() << QVariant() << worker << QString();
        QTest::newRow("type 0, show 0") << QVariant(0) << QVariant(0) << worker << QString();
        QTest::newRow("type 1, shown") << QVariant(1) << QVariant(1) << worker
                                       << QStringLiteral("в объёме:<br>0 академических часов");
        QTest::newRow("type 2") << QVariant(2) << QVariant(0) << QStringLiteral("по должности служащего") << QString();
    }

    void flagsAndTotals() {
        QFETCH(QVariant, certificateType);
        QFETCH(QVariant, showTotalCount);
        QFETCH(QString, kind);
        QFETCH(QString, total);
        TestDatabase t;
        Database* db = t.open();
        const qint64 id = insertDocument(db, {{"fio2", "Иван"},
                                              {"certificateType", certificateType},
                                              {"showTotalCount", showTotalCount},
                                              {"isDuplicate", 1}});
        ReportPage page;
        Engine::fillPage(&page, id, true, nullptr);
        QCOMPARE(var(page, "Certificate_type"), kind);
        QCOMPARE(var(page, "total_count"), total);
        QCOMPARE(var(page, "is_duplicate"), QStringLiteral("ДУБЛИКАТ"));
        QCOMPARE(var(page, "Full_Name"), QStringLiteral(" Иван ")); // blanks kept for missing parts
        QCOMPARE(var(page, "Full_Name_short"), QStringLiteral("Иван"));
        QCOMPARE(var(page, "birth"), QString());
        QCOMPARE(page.model(QStringLiteral("ViewProfDetails"))->rowCount(), 0); // no subjects, no total row
    }

    void missingDocumentAndDesigner() {
        TestDatabase t;
        Database* db = t.open();
        db->setVariable(QStringLiteral("Data/City"), QStringLiteral("Тверь"));
        ReportPage empty;
        Engine::fillPage(&empty, 4242, true, nullptr);
        QVERIFY(empty.variables().isEmpty());
        QVERIFY(!empty.model(QStringLiteral("viewprofdetails")));

        // Not printing: the first row of the table gives sample values, a template row included.
        insertDocument(db, {{"isTemplate", 1}, {"fio1", "Шаблон сварщиков"}});
        const int second = insertDocument(db, {{"fio1", "Петров"}});
        addSubject(db, second, QStringLiteral("Черчение"), 4, QStringLiteral("5"));
        ReportPage designer;
        Engine::fillPage(&designer, 0, false, nullptr);
        QCOMPARE(var(designer, "Last_Name"), QStringLiteral("Шаблон сварщиков"));
        QCOMPARE(var(designer, "City"), QStringLiteral("Тверь"));
        QCOMPARE(designer.model(QStringLiteral("viewprofdetails"))->rowCount(), 0);

        // Not printing on an empty table: every value empty, the names still listed.
        t.close();
        TestDatabase other;
        other.open();
        ReportPage blank;
        Engine::fillPage(&blank, 0, false, nullptr);
        QVERIFY(blank.variables().contains(QStringLiteral("full_name")));
        QCOMPARE(var(blank, "Full_Name"), QStringLiteral("  "));
    }

    void appendixQueryMatchesTheView() {
        TestDatabase t;
        Database* db = t.open();
        const qint64 a = insertDocument(db, {{"fio1", "А"}});
        const qint64 b = insertDocument(db, {{"fio1", "Б"}, {"hideTotalCountInAdd", 1}});
        // Beyond 32 bits: as an int it would read as 0.
        const qint64 huge = insertDocument(db, {{"profId", Q_INT64_C(1) << 62}, {"fio1", "В"}});
        QCOMPARE(huge, Q_INT64_C(4611686018427387904));
        for (int i = 0; i < 5; ++i) {
            addSubject(db, a, QStringLiteral("Предмет %1").arg(i), i ? QVariant(i * 3) : QVariant(),
                       QStringLiteral("5"));
            addSubject(db, b, QStringLiteral("Дисциплина %1").arg(i), i, QStringLiteral("4"));
            addSubject(db, huge, QStringLiteral("Курс %1").arg(i), i + 1, QStringLiteral("3"));
        }
        ReportPage page;
        QVERIFY(Engine::fillPage(&page, huge, true, nullptr));
        QCOMPARE(var(page, "Last_Name"), QStringLiteral("В"));
        QCOMPARE(page.model(QStringLiteral("ViewProfDetails"))->rowCount(), 6);
        for (qint64 id : {a, b, huge, qint64(999)}) {
            QStringList viaView, viaQuery;
            for (auto* rows : {&viaView, &viaQuery}) {
                QSqlQuery q = db->execSql(
                    rows == &viaView ? QStringLiteral("SELECT * FROM ViewProfDetails WHERE profId = %1;").arg(id)
                                     : PrintData::appendixQuery(id));
                while (q.next())
                    *rows << QStringLiteral("%1|%2|%3|%4")
                                 .arg(q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                                      q.value(3).toString());
            }
            QCOMPARE(viaQuery, viaView);
        }
    }
};

ORVANE_TEST(TestPrintData)
#include "tst_printdata.moc"
