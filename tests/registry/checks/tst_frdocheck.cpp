// The FRDO rules one by one, the check of many documents on a real registry file, and the
// orvane-export tool's list of problems.

#include "coreregistry.h"
#include "frdocheck.h"
#include "frdoexport.h"
#include "registrybackup.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QProcess>
#include <QSet>
#include <QtTest>

namespace {
const qint64 bigId = (Q_INT64_C(1) << 31) + 5;

// A document the registry accepts and whose certificate prints right.
QVariantMap goodRow() {
    return {{"doctype", "Свидетельство о профессии рабочего, должности служащего"},
            {"docnumber", "000123"},
            {"issuedatefrdo", "2016-04-08"},
            {"regnumberfrdo", "15-П"},
            {"frdo13", "Программа профессиональной подготовки"},
            {"frdo14", "Повар"},
            {"frdo15", "Повар"},
            {"frdo16", "3 разряд"},
            {"begindate", "2016-01-11"},
            {"enddate", "2016-04-01"},
            {"studycount", 480},
            {"fio1", "Иванова"},
            {"fio2", "Мария"},
            {"birthdatefrdo", "2000-04-08"},
            {"sexismale", -1},
            {"snils", "112-233-445 95"},
            {"frdo21", "643"},
            {"frdo22", "Очная"},
            {"frdo23", "Платное обучение"},
            {"stateduplicate", 0},
            {"startdate", "2016-01-11"},
            {"finishdate", "2016-04-01"},
            {"issuedate", "2016-04-08"},
            {"fio3", "Петровна"},
            {"qual", "Повар 3 разряда"},
            {"showtotalcount", 1},
            {"totalhours", 480},
            {"hassubjects", true}};
}

QSet<QString> failedRules(const QVariantMap& row, const QVector<FrdoRule>& rules) {
    QSet<QString> ids;
    for (const FrdoProblem& problem : FrdoCheck::problems(row, rules))
        ids.insert(problem.ruleId);
    return ids;
}

// The row with one column changed (an invalid value for NULL).
QVariantMap changed(QVariantMap row, const QVariantMap& changes) {
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        row.insert(it.key(), it.value());
    return row;
}

void insert(const char* table, const QVariantMap& values) {
    QStringList marks;
    for (int i = 0; i < values.size(); ++i)
        marks.append(QStringLiteral("?"));
    const QSqlQuery query = sql(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                    .arg(QLatin1String(table), values.keys().join(QLatin1Char(',')), marks.join(',')),
                                values.values());
    QVERIFY2(query.isActive(), qPrintable(query.lastError().text()));
}

// A document with its FRDO row taken from goodRow(), `frdo` changed.
void insertDocument(qint64 id, const QString& fio1, const QVariantMap& frdo, bool withFrdo = true) {
    insert("ProfDocuments", {{"profId", id},
                             {"isTemplate", 0},
                             {"fio1", fio1},
                             {"fio2", "Мария"},
                             {"fio3", "Петровна"},
                             {"attNumber", QStringLiteral("СВ %1").arg(id)}});
    if (!withFrdo)
        return;
    QVariantMap row = changed(goodRow(), frdo);
    for (const char* certificateOnly :
         {"startdate", "finishdate", "issuedate", "fio3", "qual", "showtotalcount", "totalhours", "hassubjects"})
        row.remove(QLatin1String(certificateOnly));
    row.remove(QStringLiteral("fio1"));
    row.remove(QStringLiteral("fio2"));
    row.insert(QStringLiteral("profId"), id);
    insert("ProfFrdo", row);
}
} // namespace

class TestFrdoCheck : public QObject {
    Q_OBJECT

    CoreRegistry registry;

private slots:
    void initTestCase() { registry.setUp(); }
    void init() { QVERIFY(registry.open()); }
    void cleanup() { registry.close(); }

    // Each rule: the good row passes every rule, the row broken in one column fails that one.
    void registryRules_data() {
        QTest::addColumn<QVariantMap>("change");
        QTest::addColumn<QStringList>("failing");
        const auto row = [](const char* name, const QVariantMap& change, const QStringList& failing) {
            QTest::newRow(name) << change << failing;
        };
        row("good", {}, {});
        for (const char* column :
             {"doctype", "docnumber", "issuedatefrdo", "regnumberfrdo", "frdo13", "frdo14", "frdo15", "begindate",
              "enddate", "studycount", "fio1", "fio2", "birthdatefrdo", "sexismale", "frdo21", "frdo22", "frdo23"})
            row(column, {{column, QVariant()}}, {QStringLiteral("filled:") + column});
        row("no grade, it is asked if any", {{"frdo16", QVariant()}}, {});
        row("blank number", {{"docnumber", " \t"}}, {"filled:docnumber"});
        row("no sex", {{"sexismale", 0}}, {"filled:sexismale"});
        row("sex as text", {{"sexismale", "Жен"}}, {"filled:sexismale"});
        row("day after February", {{"issuedatefrdo", "2016-02-30"}}, {"date:issuedatefrdo"});
        row("unreadable birth", {{"birthdatefrdo", "восьмое"}}, {"date:birthdatefrdo"});
        // The import's own range of years: what it refuses, the check reports.
        row("issued in 9999", {{"issuedatefrdo", "9999-12-31"}}, {"range:issuedatefrdo"});
        row("issued in 2100", {{"issuedatefrdo", "2100-12-31"}}, {});
        row("born in 1899", {{"birthdatefrdo", "1899-12-31"}}, {"range:birthdatefrdo"});
        row("born in 1900", {{"birthdatefrdo", "1900-01-01"}}, {});
        row("ended in 2101, dotted", {{"enddate", "01.01.2101"}, {"issuedatefrdo", "2101-01-01"}},
            {"range:enddate", "range:issuedatefrdo"});
        row("dotted dates", {{"begindate", "11.01.2016"}, {"enddate", "01.04.2016"}}, {});
        row("start is end", {{"begindate", "2016-04-01"}}, {});
        row("start after end", {{"begindate", "2016-04-02"}}, {"startAfterEnd"});
        row("end after issue", {{"enddate", "2016-04-09"}}, {"endAfterIssue"});
        row("issued on the last day", {{"enddate", "2016-04-08"}}, {});
        row("born at the start", {{"birthdatefrdo", "2016-01-11"}, {"issuedatefrdo", "2030-01-11"}},
            {"birthNotBeforeStart"});
        row("fourteen on the day", {{"birthdatefrdo", "2002-04-08"}}, {});
        row("a day short of fourteen", {{"birthdatefrdo", "2002-04-09"}}, {"tooYoung"});
        row("no snils", {{"snils", QVariant()}}, {});
        row("snils sum 100", {{"snils", "050234316 00"}}, {});
        row("snils sum 101", {{"snils", "016-103-396 00"}}, {});
        row("snils sum 150", {{"snils", "136571200 49"}}, {});
        row("snils sum 201", {{"snils", "820981233 00"}}, {});
        row("snils without check", {{"snils", "001-001-998 77"}}, {});
        row("snils wrong check", {{"snils", "112-233-445 96"}}, {"snilsCheck"});
        row("snils of zeros", {{"snils", "000-000-000 00"}}, {"snilsPlaceholder"});
        row("snils of zeros, digits only", {{"snils", "00000000000"}}, {"snilsPlaceholder"});
        row("snils sum 201 as 100", {{"snils", "820981233 100"}}, {"snilsDigits"});
        row("snils short", {{"snils", "112-233-445"}}, {"snilsDigits"});
        row("hours fraction", {{"studycount", 12.5}}, {"hoursWhole"});
        row("hours zero", {{"studycount", 0}}, {"hoursWhole"});
        row("hours negative", {{"studycount", "-3"}}, {"hoursWhole"});
        row("hours beyond 32 bits", {{"studycount", Q_INT64_C(99999999999)}}, {"hoursWhole"});
        row("hours as text", {{"studycount", "сорок"}}, {"hoursWhole"});
        const QVariantMap original{
            {"stateduplicate", 1},    {"docnameorig", "Свидетельство"}, {"docnumberorig", "000100"},
            {"regnumberorig", "3-П"}, {"issuedateorig", "2015-06-01"},  {"fio1orig", "Петрова"},
            {"fio2orig", "Мария"}};
        row("duplicate", original, {});
        for (const char* column :
             {"docnameorig", "docnumberorig", "regnumberorig", "issuedateorig", "fio1orig", "fio2orig"})
            row(QByteArray("duplicate without ").append(column).constData(), changed(original, {{column, ""}}),
                {QStringLiteral("original:") + column});
        row("duplicate of an unreadable day", changed(original, {{"issuedateorig", "31.02.2015"}}),
            {"date:issuedateorig"});
        row("duplicate of the year 9999", changed(original, {{"issuedateorig", "9999-01-01"}}),
            {"range:issuedateorig"});
        row("original without duplicate details", {{"stateduplicate", QVariant()}}, {});
    }
    void registryRules() {
        QFETCH(QVariantMap, change);
        QFETCH(QStringList, failing);
        const QSet<QString> expected(failing.cbegin(), failing.cend());
        QCOMPARE(failedRules(changed(goodRow(), change), FrdoCheck::registryRules()), expected);
    }

    // A rule that names a column of the FRDO table names it as the export's header does.
    void ruleTextsNameExportColumns() {
        QSet<QString> headers;
        for (const XlsxExportColumn& column : FrdoExport::layout().columns)
            headers.insert(column.header);
        for (const FrdoRule& rule : FrdoCheck::registryRules()) {
            const int colon = rule.text.indexOf(QStringLiteral(": "));
            if (colon > 0)
                QVERIFY2(headers.contains(rule.text.mid(colon + 2)), qPrintable(rule.text));
        }
    }

    void certificateRules_data() {
        QTest::addColumn<QVariantMap>("change");
        QTest::addColumn<QStringList>("failing");
        const auto row = [](const char* name, const QVariantMap& change, const QStringList& failing) {
            QTest::newRow(name) << change << failing;
        };
        row("good", {}, {});
        row("ends before it starts", {{"startdate", "2026-12-07"}, {"finishdate", "2026-01-01"}},
            {"finishBeforeStart", "issueBeforeFinish"});
        row("ends the day it starts", {{"startdate", "2016-04-01"}}, {});
        row("issued before the end", {{"issuedate", "2016-03-31"}}, {"issueBeforeFinish"});
        row("no start", {{"startdate", QVariant()}}, {});
        row("unreadable finish", {{"finishdate", "2016-02-30"}}, {});
        row("no name", {{"fio2", " "}}, {"noName"});
        row("no patronymic", {{"fio3", QVariant()}}, {"noPatronymic"});
        row("no qualification", {{"qual", ""}}, {"noQualification"});
        row("total of 0 hours", {{"totalhours", 0}}, {"zeroTotalHours"});
        row("total of no appendix", {{"hassubjects", false}, {"totalhours", 0}}, {"zeroTotalHours"});
        row("no total, no appendix", {{"showtotalcount", 0}, {"hassubjects", false}, {"totalhours", 0}}, {});
    }
    void certificateRules() {
        QFETCH(QVariantMap, change);
        QFETCH(QStringList, failing);
        const QSet<QString> expected(failing.cbegin(), failing.cend());
        QCOMPARE(failedRules(changed(goodRow(), change), FrdoCheck::certificateRules()), expected);
    }

    // A registry with known faults: only the failing documents come back, in the order asked.
    void checkDocuments() {
        insertDocument(1, "Годная", {});
        insertDocument(2, "Безфрдо", {}, false);
        insertDocument(3, "Бездат", {{"issuedatefrdo", QVariant()}, {"begindate", QVariant()}});
        insertDocument(4, "Февральская", {{"issuedatefrdo", "2016-02-30"}});
        insertDocument(bigId, "Дальняя\tТаб", {{"snils", "112-233-445 96"}});
        insertDocument(6, "Неспрошенная", {{"docnumber", QVariant()}});
        QVector<FrdoCheck::FailingDocument> failing{{}};
        QString error;
        QVERIFY(FrdoCheck::checkDocuments({4, bigId, 1, 2, 3, 999, 4}, &failing, &error));
        QStringList found;
        for (const auto& document : failing) {
            QStringList rules;
            for (const FrdoProblem& problem : document.problems)
                rules.append(problem.ruleId);
            found.append(QStringLiteral("%1 %2").arg(document.id).arg(rules.join(QLatin1Char(','))));
        }
        QCOMPARE(found,
                 QStringList({QStringLiteral("4 date:issuedatefrdo"), QStringLiteral("2147483653 snilsCheck"),
                              QStringLiteral("2 noFrdo"), QStringLiteral("3 filled:issuedatefrdo,filled:begindate")}));
        const QStringList lines = FrdoCheck::reportLines(failing);
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines.at(2), QStringLiteral("2\tБезфрдо Мария Петровна\tСВ 2\tНет данных ФРДО"));
        QCOMPARE(
            lines.at(1),
            QStringLiteral("2147483653\tДальняя Таб Мария Петровна\tСВ 2147483653\tНеверное контрольное число СНИЛС"));

        QVERIFY(FrdoCheck::checkDocuments({}, &failing, &error));
        QVERIFY(failing.isEmpty());
        sql(QStringLiteral("ALTER TABLE ProfFrdo RENAME TO Gone;"));
        QVERIFY(!FrdoCheck::checkDocuments({1}, &failing, &error));
        QVERIFY(error.contains(QStringLiteral("ProfFrdo")));
    }

    // orvane-export --frdo --check: the same lines on stdout, exit 8 when any document fails.
    void tool_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("lines");
        QTest::newRow("faults") << QStringList{"--frdo", "--check"} << 8 << 3;
        QTest::newRow("check before the name") << QStringList{"--check", "--frdo", "--fio", "ФЕВРАЛЬ"} << 8 << 2;
        QTest::newRow("none fail") << QStringList{"--frdo", "--check", "--fio", "годная"} << 0 << 0;
        QTest::newRow("a workbook named too") << QStringList{"--frdo", "OUT", "--check"} << 8 << 3;
        QTest::newRow("with the book") << QStringList{"--book", "OUT", "--check"} << 2 << 0;
        QTest::newRow("check alone") << QStringList{"--check"} << 2 << 0;
        QTest::newRow("frdo without a file") << QStringList{"--frdo"} << 2 << 0;
        QTest::newRow("the book without a check") << QStringList{"--book", "OUT"} << 0 << 0;
    }
    void tool() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(int, lines);
        insertDocument(1, "Годная", {});
        insertDocument(2, "Безфрдо", {}, false);
        insertDocument(4, "Февральская", {{"issuedatefrdo", "2016-02-30"}, {"begindate", "2016-05-01"}});
        QTemporaryDir root;
        const QString db = root.filePath(QStringLiteral("copy.db"));
        const QString out = root.filePath(QStringLiteral("out.xlsx"));
        QVERIFY(RegistryBackup(*registry.database()).backup(db));
        for (QString& arg : args)
            if (arg == QLatin1String("OUT"))
                arg = out;
        QProcess process;
        process.start(binaryPath(QStringLiteral("orvane-export")), QStringList{"--db", db} + args);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), exitCode);
        const QString output = QString::fromUtf8(process.readAllStandardOutput());
        QStringList printed = output.split(QLatin1Char('\n'));
        QCOMPARE(printed.takeLast(), QString());
        QCOMPARE(printed.size(), lines);
        QCOMPARE(QFileInfo::exists(out), args.contains(QStringLiteral("--book")) && exitCode == 0);
        // In the list's order, newest first; a document's problems in the order of the rules.
        if (lines == 3)
            QCOMPARE(printed,
                     QStringList({"4\tФевральская Мария Петровна\tСВ 4\tНе читается дата: Дата выдачи документа",
                                  "4\tФевральская Мария Петровна\tСВ 4\tНачало обучения позже его окончания",
                                  "2\tБезфрдо Мария Петровна\tСВ 2\tНет данных ФРДО"}));
    }
};

ORVANE_TEST(TestFrdoCheck)
#include "tst_frdocheck.moc"
