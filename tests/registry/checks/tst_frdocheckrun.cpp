// The FRDO check of a whole registry as orvane-export runs it: the same lines, in the same order,
// with the same exit code as the check gave before it read the registry in one pass; the same
// documents as the check by ids; and what a damaged registry or a full output gives.
//
// tests/data/frdocheck/*.txt were printed by the earlier orvane-export on the registry that
// fillRegistry() builds; ORVANE_KEEP_CHECK_REGISTRY=FILE keeps a copy of it to print them again.

#include "coreregistry.h"
#include "documentfilter.h"
#include "filterlisttype.h"
#include "frdocheck.h"
#include "registrybackup.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QFile>
#include <QProcess>
#include <QtTest>

namespace {
void insert(const char* table, const QVariantMap& values) {
    QStringList marks;
    for (int i = 0; i < values.size(); ++i)
        marks.append(QStringLiteral("?"));
    const QSqlQuery query = sql(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                    .arg(QLatin1String(table), values.keys().join(QLatin1Char(',')), marks.join(',')),
                                values.values());
    QVERIFY2(query.isActive(), qPrintable(query.lastError().text()));
}

QVariantMap changed(QVariantMap row, const QVariantMap& changes) {
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        row.insert(it.key(), it.value());
    return row;
}

// A document whose certificate and FRDO row pass every rule.
QVariantMap goodDocument() {
    return {{"isTemplate", 0},
            {"fio1", "Иванова"},
            {"fio2", "Мария"},
            {"fio3", "Петровна"},
            {"qual", "Повар 3 разряда"},
            {"issueDate", "2016-04-08"},
            {"editDate", "2020-01-15 10:00:00"}};
}

QVariantMap goodFrdo() {
    return {{"docType", "Свидетельство о профессии рабочего, должности служащего"},
            {"docNumber", "000123"},
            {"issueDateFrdo", "2016-04-08"},
            {"RegNumberFrdo", "15-П"},
            {"frdo13", "Программа профессиональной подготовки"},
            {"frdo14", "Повар"},
            {"frdo15", "Повар"},
            {"beginDate", "2016-01-11"},
            {"endDate", "2016-04-01"},
            {"studyCount", 480},
            {"birthDateFrdo", "2000-04-08"},
            {"sexIsMale", -1},
            {"snils", "112-233-445 95"},
            {"frdo21", "643"},
            {"frdo22", "Очная"},
            {"frdo23", "Платное обучение"},
            {"StateDuplicate", 0}};
}

const QVariantMap noFrdo{{"-", "-"}};

void addDocument(qint64 id, const QVariantMap& document, const QVariantMap& frdo) {
    insert(
        "ProfDocuments",
        changed(changed(goodDocument(), {{"profId", id}, {"attNumber", QStringLiteral("СВ %1").arg(id)}}), document));
    if (frdo != noFrdo)
        insert("ProfFrdo", changed(changed(goodFrdo(), {{"profId", id}}), frdo));
}

// Each way of failing a rule, and ways of passing it, one document each.
const QVector<QVariantMap> breaks{
    {},
    {{"docType", QVariant()}},
    {{"docNumber", " \t"}},
    {{"issueDateFrdo", "2016-02-30"}},
    {{"RegNumberFrdo", ""}},
    {{"frdo13", QVariant()}, {"frdo14", QVariant()}, {"frdo15", QVariant()}},
    {{"beginDate", QVariant()}, {"endDate", QVariant()}},
    {{"studyCount", QVariant()}},
    {{"studyCount", 0}},
    {{"studyCount", 12.5}},
    {{"studyCount", "сорок"}},
    {{"studyCount", Q_INT64_C(99999999999)}},
    {{"birthDateFrdo", "восьмое"}},
    {{"birthDateFrdo", "1899-12-31"}},
    {{"birthDateFrdo", "2016-01-11"}, {"issueDateFrdo", "2030-01-11"}},
    {{"birthDateFrdo", "2002-04-09"}},
    {{"sexIsMale", 0}},
    {{"sexIsMale", "Жен"}},
    {{"frdo21", QVariant()}, {"frdo22", "  "}, {"frdo23", ""}},
    {{"issueDateFrdo", "9999-12-31"}},
    {{"endDate", "01.01.2101"}, {"issueDateFrdo", "2101-01-01"}},
    {{"beginDate", "11.01.2016"}, {"endDate", "01.04.2016"}},
    {{"beginDate", "2016-04-02"}},
    {{"endDate", "2016-04-09"}},
    {{"snils", QVariant()}},
    {{"snils", "112-233-445 96"}},
    {{"snils", "000-000-000 00"}},
    {{"snils", "112-233-445"}},
    {{"snils", "820981233 100"}},
    {{"StateDuplicate", 1}},
    {{"StateDuplicate", 1},
     {"docNameOrig", "Свидетельство"},
     {"docNumberOrig", "000100"},
     {"regNumberOrig", "3-П"},
     {"issueDateOrig", "31.02.2015"},
     {"fio1orig", "Петрова"},
     {"fio2orig", "Мария"}},
    {{"StateDuplicate", 2}, {"issueDateOrig", "9999-01-01"}, {"docNameOrig", " "}},
    {{"StateDuplicate", QVariant()}},
};

// The registry every comparison runs on: the documents above, names and numbers as a clerk or an
// import may leave them, ids beyond 32 bits, templates, and a mix of all of it by a fixed sequence.
void fillRegistry() {
    QVERIFY(sql(QStringLiteral("BEGIN")).isActive());
    qint64 id = 1;
    for (const QVariantMap& frdo : breaks)
        addDocument(id++, {}, frdo);
    addDocument(id++, {}, noFrdo);
    addDocument(id++, {{"isTemplate", 1}}, {{"docType", QVariant()}});
    addDocument(id++, {{"isTemplate", 1}}, noFrdo);
    addDocument(id++, {{"isTemplate", QVariant()}}, {{"docNumber", QVariant()}});
    addDocument(id++, {{"isTemplate", 2}}, {{"docNumber", QVariant()}});
    addDocument(id++, {{"fio1", "О'Нил"}, {"fio2", "\"Ёжик\""}, {"attNumber", "СВ \"12\""}}, {{"snils", "1"}});
    addDocument(id++, {{"fio1", "Дальняя\tТаб"}, {"fio3", "Много\nстрок\r"}, {"attNumber", "СВ\t7\r\n"}}, noFrdo);
    addDocument(id++, {{"fio1", QVariant()}, {"fio2", QVariant()}, {"fio3", QVariant()}, {"attNumber", QVariant()}},
                {});
    addDocument(id++, {{"fio1", "  "}, {"fio2", " Ёлкина "}, {"attNumber", "  СВ 1  "}}, {{"docNumber", QVariant()}});
    addDocument(id++, {{"fio1", "Годная"}}, {});
    addDocument(id++, {{"fio3", QString(1 << 20, QChar(0x044F))}}, {});
    addDocument(id++, {}, {{"docNumber", QString(1 << 20, QLatin1Char(' '))}});
    addDocument(id++, {{"qual", QString(1 << 20, QChar(0x0416))}}, {{"frdo14", QString(1 << 20, QChar(0x0416))}});
    addDocument(id++, {{"issueDate", "2016-02-30"}, {"editDate", QVariant()}}, {{"frdo22", QVariant()}});
    addDocument(id++, {{"issueDate", 20160408}, {"editDate", "15.01.2020"}}, {{"frdo22", QVariant()}});
    // Texts beyond the usual letters: four-byte characters, a byte order mark, a noncharacter and
    // bytes that are no UTF-8 at all, as a damaged import may leave them.
    for (const char* hex :
         {"F09F988020D0AF", "EFBBBFD098D0B2D0B0D0BD", "D098EFBFBFD0B2", "D0FF41C3", "E282", "ED A080"}) {
        const qint64 odd = id++;
        addDocument(odd, {}, noFrdo);
        sql(QStringLiteral("UPDATE ProfDocuments SET fio2 = CAST(X'%1' AS TEXT) WHERE profId = ?")
                .arg(QString::fromLatin1(hex).remove(QLatin1Char(' '))),
            {odd});
    }
    addDocument(Q_INT64_C(2147483653), {{"fio1", "Дальняя"}}, {{"snils", "112-233-445 96"}});
    addDocument(Q_INT64_C(5000000000), {}, {});
    addDocument(Q_INT64_C(9007199254740993), {{"fio1", "Далёкая"}}, noFrdo);

    // The mix: each column from a few values, good and bad, chosen by a fixed sequence.
    const QVariantList dates{"2016-04-08", QVariant(),   "",           "2016-02-30", "08.04.2016",
                             "9999-01-01", "1899-05-05", "2015-01-01", "2016-04-09", "2017-06-30 12:00"};
    const QVariantList snils{"112-233-445 95", "112-233-445 96", "000-000-000 00", "11223344595", QVariant(), "12"};
    const QVariantList hours{480, 0, -3, QVariant(), "сорок", 12.5, " 72 "};
    const QVariantList texts{"Повар", "", "  ", QVariant(), "Сварщик\nручной дуговой сварки"};
    const QVariantList names{"Ёлкина", "Иванов", "Соловьёва", "Орлов", QVariant(), "Ким"};
    const QVariantList states{0, 1, QVariant(), 1};
    quint32 seed = 12345;
    const auto pick = [&seed](const QVariantList& values) {
        seed = seed * 1103515245u + 12345u;
        return values.at(int((seed >> 16) % quint32(values.size())));
    };
    for (int i = 0; i < 150; ++i) {
        const QVariantMap document{{"fio1", pick(names)},
                                   {"fio2", pick(names)},
                                   {"fio3", pick(texts)},
                                   {"qual", pick(texts)},
                                   {"issueDate", pick(dates)},
                                   {"editDate", pick(dates)},
                                   {"isTemplate", i % 37 == 0 ? 1 : 0}};
        QVariantMap frdo{{"issueDateFrdo", pick(dates)}, {"beginDate", pick(dates)},       {"endDate", pick(dates)},
                         {"birthDateFrdo", pick(dates)}, {"snils", pick(snils)},           {"studyCount", pick(hours)},
                         {"frdo14", pick(texts)},        {"StateDuplicate", pick(states)}, {"docNameOrig", pick(texts)},
                         {"issueDateOrig", pick(dates)}, {"fio1orig", pick(names)},        {"sexIsMale", i % 5 - 2}};
        addDocument(1000 + i, document, i % 29 == 0 ? noFrdo : frdo);
    }
    QVERIFY(sql(QStringLiteral("COMMIT")).isActive());
}

// The argument sets whose output was kept, and the exit code each gave.
void argumentSets() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("every shown document") << QStringList{} << "all.txt" << 8;
    QTest::newRow("part of the name") << QStringList{"--fio", "ов"} << "fio.txt" << 8;
    QTest::newRow("name with ё in capitals") << QStringList{"--fio", "ЁЛКИНА"} << "fio-yo.txt" << 8;
    QTest::newRow("qualification across a line break") << QStringList{"--qual", "сварщик ручной"} << "qual.txt" << 8;
    QTest::newRow("issued in a year") << QStringList{"--issued", "2016-01-01", "2016-12-31"} << "issued.txt" << 8;
    QTest::newRow("edited in a range") << QStringList{"--edited", "2016-04-08", "2017-06-30"} << "edited.txt" << 8;
    QTest::newRow("every filter at once")
        << QStringList{"--fio",      "а",          "--qual",   "повар",      "--issued",
                       "2015-01-01", "2017-12-31", "--edited", "2000-01-01", "2030-01-01"}
        << "combined.txt" << 8;
    QTest::newRow("no document fails") << QStringList{"--fio", "годная", "--issued", "2016-04-08", "2016-04-08"}
                                       << "none.txt" << 0;
    QTest::newRow("no document shown") << QStringList{"--fio", "Нет такого"} << "none.txt" << 0;
}

// The conditions as orvane-export hands them to the list.
DocumentFilter filterOf(const QStringList& args) {
    FilterListType filters;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        const auto date = [&](int ahead) { return QDate::fromString(args.value(i + ahead), Qt::ISODate); };
        if (arg == QLatin1String("--fio"))
            filters.append({FilterKeys::fio, args.value(i + 1)});
        else if (arg == QLatin1String("--qual"))
            filters.append({FilterKeys::qual, args.value(i + 1)});
        else if (arg == QLatin1String("--issued"))
            filters << qMakePair(FilterKeys::dateFrom, QVariant(date(1)))
                    << qMakePair(FilterKeys::dateTo, QVariant(date(2)));
        else if (arg == QLatin1String("--edited"))
            filters << qMakePair(FilterKeys::editDateFrom, QVariant(date(1)))
                    << qMakePair(FilterKeys::editDateTo, QVariant(date(2)));
    }
    return DocumentFilter::fromList(filters);
}

struct ToolResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ToolResult runTool(const QStringList& args, const QString& outputFile = QString()) {
    QProcess process;
    if (!outputFile.isEmpty())
        process.setStandardOutputFile(outputFile);
    process.start(binaryPath(QStringLiteral("orvane-export")), args);
    ToolResult result;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// Overwrites a leaf page of ProfFrdo in the middle of the file, so that a read of every document
// fails half-way; false when the file cannot be changed.
bool damageMiddle(const QString& path, QString* why) {
    int page = 0, pageSize = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("damage"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(db);
            QVector<int> pages;
            if (query.exec(QStringLiteral("SELECT pageno FROM dbstat WHERE name = 'ProfFrdo' AND pagetype = 'leaf' "
                                          "ORDER BY pageno")))
                while (query.next())
                    pages.append(query.value(0).toInt());
            if (!pages.isEmpty())
                page = pages.at(pages.size() / 2);
            if (query.exec(QStringLiteral("PRAGMA page_size")) && query.next())
                pageSize = query.value(0).toInt();
            *why = query.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("damage"));
    QFile file(path);
    if (page < 2 || pageSize <= 0 || !file.open(QIODevice::ReadWrite) || !file.seek(qint64(page - 1) * pageSize))
        return false;
    return file.write(QByteArray(pageSize, '\xff')) == pageSize;
}
} // namespace

class TestFrdoCheckRun : public QObject {
    Q_OBJECT

    CoreRegistry registry;
    QTemporaryDir root;
    QString copy; // the registry of fillRegistry(), as a file the tool opens

private slots:
    void initTestCase() {
        registry.setUp();
        QVERIFY(registry.open());
        fillRegistry();
        copy = root.filePath(QStringLiteral("registry.db"));
        QVERIFY(RegistryBackup(*registry.database()).backup(copy));
        const QByteArray keep = qgetenv("ORVANE_KEEP_CHECK_REGISTRY");
        if (!keep.isEmpty())
            QVERIFY(QFile::copy(copy, QString::fromLocal8Bit(keep)));
    }
    void cleanupTestCase() { registry.close(); }

    // The tool prints exactly what it printed before, byte for byte, with the same exit code.
    void sameLinesAsBefore_data() { argumentSets(); }
    void sameLinesAsBefore() {
        QFETCH(QStringList, args);
        QFETCH(QString, expected);
        QFETCH(int, exitCode);
        const ToolResult result = runTool(QStringList{"--db", copy, "--frdo", "--check"} + args);
        QVERIFY2(result.err.isEmpty(), result.err.constData());
        QCOMPARE(result.exitCode, exitCode);
        const QByteArray before = readFileBytes(testDataPath(QStringLiteral("frdocheck/") + expected));
        QVERIFY(!before.isEmpty() || exitCode == 0);
        QCOMPARE(result.out, before);
    }

    // The one pass reports the documents the list shows, as the check of their ids does.
    void sameAsTheCheckByIds_data() { argumentSets(); }
    void sameAsTheCheckByIds() {
        QFETCH(QStringList, args);
        const DocumentFilter filter = filterOf(args);
        QString error;
        const QList<qint64> ids = filter.shownIds({}, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVector<FrdoCheck::FailingDocument> byIds, shown;
        QVERIFY2(FrdoCheck::checkDocuments(ids, &byIds, &error), qPrintable(error));
        QVERIFY2(FrdoCheck::checkShown(
                     filter, [&](const FrdoCheck::FailingDocument& document) { shown.append(document); }, &error),
                 qPrintable(error));
        QCOMPARE(FrdoCheck::reportLines(shown), FrdoCheck::reportLines(byIds));
        QByteArray lines;
        for (const FrdoCheck::FailingDocument& document : shown)
            FrdoCheck::appendReport(document, &lines);
        const QStringList joined = FrdoCheck::reportLines(byIds);
        QCOMPARE(QString::fromUtf8(lines), joined.isEmpty() ? QString() : joined.join(QLatin1Char('\n')) + "\n");
    }

    // A registry that breaks half-way through the documents: the reason, exit 6, and no list that
    // would pass for the whole one.
    void damagedHalfWay() {
        const QString damaged = root.filePath(QStringLiteral("damaged.db"));
        QVERIFY(QFile::copy(copy, damaged));
        QString why;
        QVERIFY2(damageMiddle(damaged, &why), qPrintable(why));
        for (const QStringList& filter : {QStringList(), QStringList{"--fio", "а"}}) {
            const ToolResult result = runTool(QStringList{"--db", damaged, "--frdo", "--check"} + filter);
            QCOMPARE(result.exitCode, 6);
            QCOMPARE(result.out, QByteArray());
            QVERIFY2(result.err.contains("orvane-export: database not usable: "), result.err.constData());
            QVERIFY2(result.err.contains("malformed"), result.err.constData());
        }

        // In the program: some documents were read before the failure, and it is reported.
        registry.close();
        QString error;
        QVERIFY2(Database::openForReading(damaged, &error), qPrintable(error));
        int taken = 0;
        const bool checked = FrdoCheck::checkShown(
            DocumentFilter(), [&](const FrdoCheck::FailingDocument&) { ++taken; }, &error);
        Database::shutdown();
        QVERIFY(!checked);
        QVERIFY(taken > 0);
        QVERIFY2(error.contains(QStringLiteral("malformed")), qPrintable(error));
        QVERIFY(registry.open());
    }

    // A file that is no registry, or only part of one: the reason and exit 6, no line.
    void unusableRegistry_data() {
        QTest::addColumn<qint64>("keep"); // bytes of the registry kept, -1 for none
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("cut in half") << qint64(-2) << QByteArray();
        QTest::newRow("empty") << qint64(0) << QByteArray();
        QTest::newRow("a text file") << qint64(-1) << QByteArray("Фамилия;Имя\nИванова;Мария\n");
    }
    void unusableRegistry() {
        QFETCH(qint64, keep);
        QFETCH(QByteArray, text);
        const QString path = root.filePath(QStringLiteral("unusable.db"));
        QFile::remove(path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray whole = readFileBytes(copy);
        file.write(keep == -2 ? whole.left(whole.size() / 2) : keep >= 0 ? whole.left(int(keep)) : text);
        file.close();
        const ToolResult result = runTool({"--db", path, "--frdo", "--check"});
        QCOMPARE(result.exitCode, 6);
        QCOMPARE(result.out, QByteArray());
        QVERIFY2(result.err.contains("orvane-export: database not usable: "), result.err.constData());
    }

    // An output that cannot take the list: exit 4 and the reason, never "nothing fails".
    void outputNotWritten() {
        if (!QFileInfo::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full here");
        const ToolResult result = runTool({"--db", copy, "--frdo", "--check"}, QStringLiteral("/dev/full"));
        QCOMPARE(result.exitCode, 4);
        QVERIFY2(result.err.startsWith("orvane-export: the list of problems not written: "), result.err.constData());
    }
};

ORVANE_TEST(TestFrdoCheckRun)
#include "tst_frdocheckrun.moc"
