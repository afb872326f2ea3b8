#include "coreregistry.h"
#include "importfield.h"
#include "importplan.h"
#include "importregistry.h"
#include "nameparts.h"
#include "numbersequence.h"
#include "pgtestserver.h"
#include "snils.h"
#include "testenvironment.h"
#include "testregistry.h"
#include "xlsxreader.h"

#include <QDate>
#include <QScopeGuard>
#include <QtTest>

Q_DECLARE_METATYPE(ImportField)

namespace {
using Rows = QList<QVariantList>;

ImportTable tableOf(const Rows& rows) {
    ImportTable table;
    for (const QVariantList& row : rows)
        table.rows.append(row.toVector());
    return table;
}

// A document as the preview holds it: texts by field key.
ImportDocument documentOf(const QVariantMap& texts, bool included = true) {
    ImportDocument document;
    document.included = included;
    document.texts.resize(ImportFields::documentFieldCount);
    for (auto it = texts.cbegin(); it != texts.cend(); ++it)
        document.texts[int(ImportFields::fromKey(it.key()))] = it.value().toString();
    return document;
}

QStringList problemTexts(const ImportDocument& document) {
    QStringList texts;
    for (const ImportProblem& problem : document.problems)
        texts << problem.text;
    return texts;
}

// Problems, then warnings marked "!", of each document: "a|!b" per document.
QStringList findings(const QVector<ImportDocument>& documents) {
    QStringList found;
    for (const ImportDocument& document : documents) {
        QStringList texts = problemTexts(document);
        for (const ImportProblem& warning : document.warnings)
            texts << QLatin1Char('!') + warning.text;
        found << texts.join(QLatin1Char('|'));
    }
    return found;
}

// People as rows of a table: surname, name, patronymic, birth date, SNILS, registration number;
// a row starting with "-" is left out. Source rows are numbered from 0.
QVector<ImportDocument> peopleOf(const QList<QStringList>& rows) {
    const char* keys[] = {"surname", "name", "patronymic", "birthDate", "snils", "regNumber"};
    QVector<ImportDocument> documents;
    for (QStringList row : rows) {
        const bool included = !row.first().startsWith('-');
        if (!included)
            row.first().remove(0, 1);
        QVariantMap texts;
        for (int i = 0; i < row.size(); ++i)
            if (!row.at(i).isEmpty())
                texts.insert(QLatin1String(keys[i]), row.at(i));
        documents << documentOf(texts, included);
        documents.last().sourceRow = documents.size() - 1;
    }
    return documents;
}

// The documents a table gives under the header found in it: "row:surname/name/patronymic/birthDate".
QStringList documentSummary(const ImportTable& table, ImportOptions* options) {
    options->headerRow = ImportPlan::findHeaderRow(table, &options->columns);
    QStringList summary;
    for (const ImportDocument& d : ImportPlan::documents(table, *options))
        summary << QStringLiteral("%1:%2/%3/%4/%5")
                       .arg(d.sourceRow)
                       .arg(d.text(ImportField::Surname), d.text(ImportField::Name), d.text(ImportField::Patronymic),
                            d.text(ImportField::BirthDate));
    return summary;
}

RegistryPerson person(const char* surname, const char* name, const char* patronymic, const QDate& born,
                      const char* snils) {
    return {QString::fromUtf8(surname), QString::fromUtf8(name), QString::fromUtf8(patronymic), born,
            QString::fromUtf8(snils)};
}
} // namespace

class TestImportPlan : public QObject {
    Q_OBJECT

private slots:
    void headerText_data();
    void headerText();
    void everyFieldByKeyAndTitle();
    void headerRow_data();
    void headerRow();
    void cellsToTexts();
    void layouts_data();
    void layouts();
    void twoLevelHeaderWorkbook();
    void nameSplit_data();
    void nameSplit();
    void cleanedTexts_data();
    void cleanedTexts();
    void invisibleDifferences_data();
    void invisibleDifferences();
    void snils_data();
    void snils();
    void counting_data();
    void counting();
    void numberingSkipsLeftOutAndOwnNumbers();
    void problems_data();
    void problems();
    void duplicateNumbers_data();
    void duplicateNumbers();
    void writtenColumns();
    void samePeopleInTheFile_data();
    void samePeopleInTheFile();
    void peopleInTheRegistry_data();
    void peopleInTheRegistry();
    void registryLookup_data();
    void registryLookup();
};

void TestImportPlan::headerText_data() {
    QTest::addColumn<QString>("header");
    QTest::addColumn<ImportField>("field");
    QTest::newRow("initials with dots") << "Ф.И.О." << ImportField::FullName;
    QTest::newRow("full name spelled out") << "Фамилия, имя, отчество" << ImportField::FullName;
    QTest::newRow("case and blanks") << "  ДАТА   рождения " << ImportField::BirthDate;
    QTest::newRow("abbreviation") << "Дата рожд." << ImportField::BirthDate;
    QTest::newRow("yo as ye") << "Документ о предыдущём образовании" << ImportField::PrevEducation;
    QTest::newRow("short registration") << "Рег. номер" << ImportField::RegNumber;
    QTest::newRow("series and number") << "Серия и номер" << ImportField::AttNumber;
    QTest::newRow("dialog label") << "Профессия (должность)" << ImportField::Profession;
    QTest::newRow("end of training") << "Окончание" << ImportField::FinishDate;
    QTest::newRow("insurance number") << "Страховой номер" << ImportField::Snils;
    QTest::newRow("line number") << "№ п/п" << ImportField::Ignore;
    QTest::newRow("empty") << "" << ImportField::Ignore;
    QTest::newRow("a megabyte") << QString(1 << 20, QLatin1Char('x')) << ImportField::Ignore;
}

void TestImportPlan::headerText() {
    QFETCH(QString, header);
    QFETCH(ImportField, field);
    QCOMPARE(ImportFields::fromHeader(header), field);
}

void TestImportPlan::everyFieldByKeyAndTitle() {
    for (int f = 0; f <= int(ImportField::FullName); ++f) {
        const auto field = ImportField(f);
        QCOMPARE(ImportFields::fromKey(ImportFields::key(field)), field);
        QCOMPARE(ImportFields::fromHeader(ImportFields::title(field)), field);
    }
    QCOMPARE(ImportFields::fromKey(QStringLiteral("nonsense")), ImportField::Ignore);
}

void TestImportPlan::headerRow_data() {
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<int>("headerRow");
    QTest::addColumn<QVector<ImportField>>("columns");
    const QVector<ImportField> nameAndDate = {ImportField::FullName, ImportField::BirthDate};
    QTest::newRow("first row") << Rows{{"ФИО", "Дата рождения"}, {"Иванов Иван", "01.01.2000"}} << 0 << nameAndDate;
    QTest::newRow("merged title and blank rows above")
        << Rows{{"Список группы 12 (ФИО)", QVariant()}, {}, {QVariant(), ""}, {"ФИО", "Дата рождения"}} << 3
        << nameAndDate;
    QTest::newRow("field named twice") << Rows{{"Фамилия", "Имя", "фамилия"}} << 0
                                       << QVector<ImportField>{ImportField::Surname, ImportField::Name,
                                                               ImportField::Ignore};
    QTest::newRow("single name column") << Rows{{"ФИО"}, {"Иванов"}} << 0
                                        << QVector<ImportField>{ImportField::FullName};
    QTest::newRow("single other column") << Rows{{"Пол"}, {"м"}} << -1 << QVector<ImportField>{};
    QTest::newRow("no header") << Rows{{"Иванов", "01.01.2000"}} << -1 << QVector<ImportField>{};
    Rows late;
    for (int i = 0; i < 30; ++i)
        late << QVariantList{"Иванов", "м"};
    late << QVariantList{"Фамилия", "Пол"};
    QTest::newRow("below the searched rows") << late << -1 << QVector<ImportField>{};
    QTest::newRow("header over two rows")
        << Rows{{"Список группы"},
                {"№ п/п", "Ф.И.О.", "", "", "Дата рождения", "СНИЛС"},
                {"", "Фамилия", "Имя", "Отчество"},
                {1, "Иванов", "Иван", "Иванович", "01.01.2000", ""}}
        << 2 << QVector<ImportField>{ImportField::Ignore,     ImportField::Surname,   ImportField::Name,
                                     ImportField::Patronymic, ImportField::BirthDate, ImportField::Snils};
    QTest::newRow("the row below holds one title")
        << Rows{{"ФИО", "Дата рождения"}, {"Имя", "01.01.2000"}} << 0 << nameAndDate;
}

void TestImportPlan::headerRow() {
    QFETCH(Rows, rows);
    QFETCH(int, headerRow);
    QFETCH(QVector<ImportField>, columns);
    QVector<ImportField> found = {ImportField::Sex};
    QCOMPARE(ImportPlan::findHeaderRow(tableOf(rows), &found), headerRow);
    QCOMPARE(found, columns);
}

// Each kind of cell of a date column, a full name beside its own name column, a blank row, a
// megabyte of surname.
void TestImportPlan::cellsToTexts() {
    const QString huge(1 << 20, QChar(0x0416));
    const ImportTable table = tableOf({{"ФИО", "Имя", "Дата рождения"},
                                       {" Петров  Пётр Петрович ", "Павел", QDate(2001, 2, 3)},
                                       {"", QVariant(), QVariant()},
                                       {"Сидоров Семён", QVariant(), 36892.75},
                                       {huge, QVariant(), "2001-12-31"},
                                       {"Кто-то", QVariant(), "31.02.2001"},
                                       {"Древний", QVariant(), "01.01.0001"}});
    ImportOptions options;
    options.headerRow = ImportPlan::findHeaderRow(table, &options.columns);
    const QVector<ImportDocument> documents = ImportPlan::documents(table, options);
    QCOMPARE(documents.size(), 5);
    const auto texts = [&](int i) {
        const ImportDocument& d = documents.at(i);
        return QStringList{d.text(ImportField::Surname), d.text(ImportField::Name), d.text(ImportField::Patronymic),
                           d.text(ImportField::BirthDate)};
    };
    QCOMPARE(texts(0), (QStringList{"Петров", "Павел", "Петрович", "03.02.2001"}));
    QCOMPARE(documents.at(1).sourceRow, 3);
    QCOMPARE(texts(1), (QStringList{"Сидоров", "Семён", QString(), "01.01.2001"}));
    QCOMPARE(texts(2), (QStringList{huge, QString(), QString(), "31.12.2001"}));
    QCOMPARE(texts(3).last(), QStringLiteral("31.02.2001"));
    QCOMPARE(texts(4).last(), QStringLiteral("01.01.0001"));
}

// Each kind of layout: the documents it gives, the header's own rows never among them.
void TestImportPlan::layouts_data() {
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QStringList>("documents");
    const QVariantList upper = {"№ п/п", "Ф.И.О.", QVariant(), QVariant(), "Дата рождения"};
    const QVariantList lower = {QVariant(), "Фамилия", "Имя", "Отчество", QVariant()};
    QTest::newRow("single header") << Rows{{"Фамилия", "Имя", "Дата рождения"}, {"Иванов", "Иван", "01.02.2001"}}
                                   << QStringList{"1:Иванов/Иван//01.02.2001"};
    QTest::newRow("header over two rows")
        << Rows{upper, lower, {1, "Иванов", "Иван", "Иванович", "01.02.2001"}, {2, "Петрова", "Анна", "", QVariant()}}
        << QStringList{"2:Иванов/Иван/Иванович/01.02.2001", "3:Петрова/Анна//"};
    QTest::newRow("title lines above") << Rows{{"Приложение 1"},
                                               {"Список группы 12", QVariant(), "утверждаю"},
                                               {},
                                               {"ФИО", "Дата рождения"},
                                               {"Сидоров Олег Петрович", "15.05.2000"}}
                                       << QStringList{"4:Сидоров/Олег/Петрович/15.05.2000"};
    QTest::newRow("header again on the next page")
        << Rows{{"№ п/п", "ФИО", "Дата рождения"},
                {1, "Иванов Иван", "01.02.2001"},
                {},
                {"№ п/п", "Ф. И. О.", "Дата  рождения"},
                {2, "Петров Пётр", "03.04.2002"}}
        << QStringList{"1:Иванов/Иван//01.02.2001", "4:Петров/Пётр//03.04.2002"};
    QTest::newRow("header over two rows again")
        << Rows{upper, lower, {1, "Иванов", "Иван", "", "01.02.2001"}, upper, lower, {2, "Петров", "Пётр"}}
        << QStringList{"2:Иванов/Иван//01.02.2001", "5:Петров/Пётр//"};
    // A title word in one cell is a name; so are two beside a value that is no title.
    QTest::newRow("people called by title words")
        << Rows{{"Фамилия", "Имя", "Отчество", "Дата рождения"},
                {"Имя", "Иван", "Иванович", "01.02.2001"},
                {"Пол", "Имя", "Петрович", QVariant()},
                {"Пол", "Имя", QVariant(), "03.04.2002"}}
        << QStringList{"1:Имя/Иван/Иванович/01.02.2001", "2:Пол/Имя/Петрович/", "3:Пол/Имя//03.04.2002"};
    QTest::newRow("a row of titles with something else")
        << Rows{{"Фамилия", "Имя"}, {"Фамилия", "Имя", "подпись"}} << QStringList{"1:Фамилия/Имя//"};
    Rows late;
    QStringList unnamed;
    for (int i = 0; i < 31; ++i) {
        late << QVariantList{QStringLiteral("Иванов%1").arg(i), "м"};
        unnamed << QStringLiteral("%1:///").arg(i);
    }
    late << QVariantList{"Фамилия", "Пол"};
    QTest::newRow("no header, a row of titles below the searched rows") << late << unnamed;
}

void TestImportPlan::layouts() {
    QFETCH(Rows, rows);
    QFETCH(QStringList, documents);
    ImportOptions options;
    QCOMPARE(documentSummary(tableOf(rows), &options), documents);
}

// A workbook LibreOffice made with its header merged over two rows and printed again below.
void TestImportPlan::twoLevelHeaderWorkbook() {
    XlsxReader reader;
    QString error;
    QVERIFY2(reader.open(testDataPath(QStringLiteral("imports/layouts/twolevelheader.xlsx")), &error),
             qPrintable(error));
    ImportTable table;
    QVERIFY2(reader.readSheet(0, &table, &error), qPrintable(error));
    ImportOptions options;
    QCOMPARE(documentSummary(table, &options),
             (QStringList{"3:Иванов/Иван/Иванович/03.02.2001", "4:Мамедов/Эльдар/Рашид оглы/30.11.2000",
                          "7:Алиева/Лейла/Гасан кызы/06.05.2002"}));
    QCOMPARE(options.headerRow, 2);
    QCOMPARE(options.columns,
             (QVector<ImportField>{ImportField::Ignore, ImportField::Surname, ImportField::Name,
                                   ImportField::Patronymic, ImportField::BirthDate, ImportField::Snils}));
    QCOMPARE(ImportPlan::headerText(table, options.headerRow, 4), QStringLiteral("Дата рождения"));
    QVector<ImportDocument> documents = ImportPlan::documents(table, options);
    ImportPlan::check(&documents, options, {});
    QCOMPARE(findings(documents), (QStringList{"", "", ""}));
    QCOMPARE(documents.at(0).text(ImportField::Snils), QStringLiteral("112-233-445 95"));
}

// NameParts splits a pasted name as the import splits a full-name column; the import warns of a
// name that is too long or a single word.
void TestImportPlan::nameSplit_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("parts");
    QTest::addColumn<QString>("warning");
    const QString oneWord = QStringLiteral("!Проверьте ФИО: одно слово");
    const QString tooLong = QStringLiteral("!Проверьте ФИО: больше четырёх слов");
    QTest::newRow("one word") << "Иванов" << QStringList{"Иванов", "", ""} << "Не указано имя|" + oneWord;
    QTest::newRow("two words") << "Иванов Иван" << QStringList{"Иванов", "Иван", ""} << "";
    QTest::newRow("three words, extra blanks")
        << "  Иванов \t Иван   Иванович " << QStringList{"Иванов", "Иван", "Иванович"} << "";
    QTest::newRow("double surname") << "Петров Водкин Кузьма Сергеевич"
                                    << QStringList{"Петров Водкин", "Кузьма", "Сергеевич"} << "";
    QTest::newRow("hyphenated surname") << "Петрова-Водкина Анна Сергеевна"
                                        << QStringList{"Петрова-Водкина", "Анна", "Сергеевна"} << "";
    QTest::newRow("оглы") << "Алиев Гасан Мамед оглы" << QStringList{"Алиев", "Гасан", "Мамед оглы"} << "";
    QTest::newRow("кызы") << "Алиева Лейла Гасан кызы" << QStringList{"Алиева", "Лейла", "Гасан кызы"} << "";
    QTest::newRow("capitals and blanks") << " МАМЕДОВ  Эльдар Рашид   ОГЛЫ "
                                         << QStringList{"МАМЕДОВ", "Эльдар", "Рашид ОГЛЫ"} << "";
    QTest::newRow("улы") << "Нурланов Ерлан Нурлан Улы" << QStringList{"Нурланов", "Ерлан", "Нурлан Улы"} << "";
    QTest::newRow("уулу") << "Асанов Бакыт Асан уулу" << QStringList{"Асанов", "Бакыт", "Асан уулу"} << "";
    QTest::newRow("угли") << "Каримов Азиз Карим угли" << QStringList{"Каримов", "Азиз", "Карим угли"} << "";
    QTest::newRow("double surname and оглы")
        << "Мамедов Алиев Эльдар Рашид оглы" << QStringList{"Мамедов Алиев", "Эльдар", "Рашид оглы"} << "";
    QTest::newRow("оглы, no first name") << "Мамедов Рашид оглы" << QStringList{"Мамедов", "", "Рашид оглы"}
                                         << "Не указано имя";
    QTest::newRow("a word that only ends so")
        << "Кызылов Иван Иванович" << QStringList{"Кызылов", "Иван", "Иванович"} << "";
    QTest::newRow("five words") << "Иванов Петров Сидоров Иван Иванович"
                                << QStringList{"Иванов Петров Сидоров", "Иван", "Иванович"} << tooLong;
    QTest::newRow("blank") << "   " << QStringList{"", "", ""} << "";
}

void TestImportPlan::nameSplit() {
    QFETCH(QString, text);
    QFETCH(QStringList, parts);
    QFETCH(QString, warning);
    const NameParts split = NameParts::split(text);
    QCOMPARE((QStringList{split.surname, split.name, split.patronymic}), parts);
    if (text.trimmed().isEmpty())
        return;
    ImportOptions options;
    const ImportTable table = tableOf({{"ФИО", "Пол"}, {text, "м"}});
    options.headerRow = ImportPlan::findHeaderRow(table, &options.columns);
    QVector<ImportDocument> documents = ImportPlan::documents(table, options);
    ImportPlan::check(&documents, options, {});
    QCOMPARE(documents.size(), 1);
    const ImportDocument& d = documents.first();
    QCOMPARE((QStringList{d.text(ImportField::Surname), d.text(ImportField::Name), d.text(ImportField::Patronymic)}),
             parts);
    QCOMPARE(findings(documents), QStringList{warning});
}

// What a cell's text becomes and the problem it leaves: noise goes, what cannot be seen and is not
// noise is named by its code.
void TestImportPlan::cleanedTexts_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("cleaned");
    QTest::addColumn<QString>("problem");
    const auto bad = [](const char* title, const char* code) {
        return QStringLiteral("Недопустимый символ в поле «%1»: %2").arg(QString::fromUtf8(title), code);
    };
    QTest::newRow("zero-width space") << "attNumber"
                                      << "N4\u200B"
                                      << "N4"
                                      << "";
    QTest::newRow("no-break space inside") << "attNumber"
                                           << "N\u00A05"
                                           << "N 5"
                                           << "";
    QTest::newRow("narrow, figure, wide spaces") << "regNumber"
                                                 << "1\u202F2\u20073\u30004"
                                                 << "1 2 3 4"
                                                 << "";
    QTest::newRow("no-break spaces around") << "surname"
                                            << "\u00A0Иванов\u00A0\u2003"
                                            << "Иванов"
                                            << "";
    QTest::newRow("byte order mark") << "surname"
                                     << "\uFEFFИванов"
                                     << "Иванов"
                                     << "";
    QTest::newRow("joiners and soft hyphen") << "name"
                                             << "Ив\u200Cа\u200Dн\u2060\u00AD"
                                             << "Иван"
                                             << "";
    QTest::newRow("NUL") << "surname" << QStringLiteral("Ива") + QChar(0) + QStringLiteral("нов")
                         << QStringLiteral("Ива") + QChar(0) + QStringLiteral("нов") << bad("Фамилия", "U+0000");
    QTest::newRow("bell") << "name"
                          << "Иван\x07"
                          << "Иван\x07" << bad("Имя", "U+0007");
    QTest::newRow("DEL") << "patronymic"
                         << "И\x7Fв"
                         << "И\x7Fв" << bad("Отчество", "U+007F");
    QTest::newRow("C1") << "patronymic"
                        << "И\xC2\x85в"
                        << "И\xC2\x85в" << bad("Отчество", "U+0085");
    QTest::newRow("right-to-left override") << "surname"
                                            << "\u202EвонавИ"
                                            << "\u202EвонавИ" << bad("Фамилия", "U+202E");
    QTest::newRow("isolate") << "attNumber"
                             << "\u2066СВ 1\u2069"
                             << "\u2066СВ 1\u2069" << bad("Серия/номер свидетельства", "U+2066");
    QTest::newRow("tag beyond the first plane") << "name"
                                                << "Иван\U000E0041"
                                                << "Иван\U000E0041" << bad("Имя", "U+E0041");
    QTest::newRow("half a surrogate pair")
        << "profession" << QStringLiteral("Токарь") + QChar(0xD800) << QStringLiteral("Токарь") + QChar(0xD800)
        << bad("Профессия (должность)", "U+D800");
    QTest::newRow("line break in a name") << "surname"
                                          << "Петрова\n(Иванова)"
                                          << "Петрова\n(Иванова)" << bad("Фамилия", "U+000A");
    QTest::newRow("tab in a number") << "regNumber"
                                     << "15\t16"
                                     << "15\t16" << bad("Регистрационный номер", "U+0009");
    QTest::newRow("lines of a qualification") << "qual"
                                              << "Сварщик\r\n3 разряда\tГОСТ"
                                              << "Сварщик\r\n3 разряда\tГОСТ"
                                              << "";
    QTest::newRow("line separator") << "qual"
                                    << "Сварщик\u20283 разряда"
                                    << "Сварщик\n3 разряда"
                                    << "";
    QTest::newRow("NUL in a qualification")
        << "qual" << QStringLiteral("Сварщик") + QChar(0) << QStringLiteral("Сварщик") + QChar(0)
        << bad("Квалификация (разряд)", "U+0000");
    QTest::newRow("a picture") << "name"
                               << "Иван\U0001F600"
                               << "Иван\U0001F600"
                               << "";
}

void TestImportPlan::cleanedTexts() {
    QFETCH(QString, field);
    QFETCH(QString, raw);
    QFETCH(QString, cleaned);
    QFETCH(QString, problem);
    const ImportField f = ImportFields::fromKey(field);
    QVariantList header{"Фамилия", "Имя"}, row{"Иванов", "Иван"};
    const int column = f == ImportField::Surname ? 0 : f == ImportField::Name ? 1 : 2;
    if (column == 2) {
        header << ImportFields::title(f);
        row << QVariant();
    }
    row[column] = raw;
    const ImportTable table = tableOf({header, row});
    ImportOptions options;
    options.headerRow = ImportPlan::findHeaderRow(table, &options.columns);
    QVector<ImportDocument> documents = ImportPlan::documents(table, options);
    QCOMPARE(documents.size(), 1);
    QCOMPARE(documents.first().text(f), cleaned);
    ImportPlan::check(&documents, options, {});
    QCOMPARE(problemTexts(documents.first()), problem.isEmpty() ? QStringList{} : QStringList{problem});
    QCOMPARE(documents.first().hasProblem(f), !problem.isEmpty());
    if (f == ImportField::Snils || f == ImportField::Sex)
        return;
    // What is written is what was checked.
    const QVariantMap written = ImportPlan::records(documents, options).first().document;
    QCOMPARE(written
                 .value(QStringList{"fio1", "fio2", "fio3", "", "", "", "attNumber", "regNumber", "", "", "", "", "",
                                    "profession", "qual"}
                            .value(int(f)))
                 .toString(),
             cleaned);
}

// Numbers and people that differ only by what cannot be seen are the same.
void TestImportPlan::invisibleDifferences_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QStringList>("expected"); // of the second document
    QTest::newRow("zero-width space") << "N4"
                                      << "N4\u200B"
                                      << QStringList{"Номер свидетельства повторяется в файле: N4",
                                                     "Номер свидетельства уже есть в реестре: N4",
                                                     "Регистрационный номер повторяется в файле: N4"};
    QTest::newRow("no-break space") << "N 5"
                                    << "N\u00A05"
                                    << QStringList{"Номер свидетельства повторяется в файле: N 5",
                                                   "Регистрационный номер повторяется в файле: N 5"};
    QTest::newRow("different numbers") << "N 5"
                                       << "N 6" << QStringList{};
}

void TestImportPlan::invisibleDifferences() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QStringList, expected);
    const ImportTable table = tableOf({{"Фамилия", "Имя", "Серия и номер", "Рег. номер"},
                                       {"Иванов", "Иван", first, first},
                                       {"Петров\u200B", "Пётр", second, second}});
    ImportOptions options;
    options.headerRow = ImportPlan::findHeaderRow(table, &options.columns);
    QVector<ImportDocument> documents = ImportPlan::documents(table, options);
    ImportPlan::check(&documents, options, {QStringLiteral("N4")});
    QCOMPARE(problemTexts(documents.at(1)), expected);
    ImportPlan::checkAgainstRegistry(&documents, options, {{person("Петров", "Пётр", "", QDate(), "")}, {}});
    QCOMPARE(documents.at(1).warnings.size(), 1);
    QCOMPARE(documents.at(1).warnings.first().text, QStringLiteral("Уже есть в реестре: Петров Пётр"));
}

void TestImportPlan::snils_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("written with separators") << "112-233-445 95" << true;
    QTest::newRow("digits only") << "11223344595" << true;
    QTest::newRow("wrong check number") << "112-233-445 96" << false;
    QTest::newRow("sum of 100 checks 00") << "050234316 00" << true;
    QTest::newRow("sum of 100 is not 100") << "050234316 10" << false;
    QTest::newRow("sum of 101 checks 00") << "016103396 00" << true;
    QTest::newRow("sum of 150 checks 49") << "136571200 49" << true;
    QTest::newRow("remainder of 100 checks 00") << "820981233 00" << true;
    QTest::newRow("before checking began") << "001-001-998 17" << true;
    QTest::newRow("zeros, a placeholder") << "000-000-000 00" << false;
    QTest::newRow("zeros, digits only") << "00000000000" << false;
    QTest::newRow("first checked number") << "001-001-999 17" << false;
    QTest::newRow("other separator") << "112.233.445 95" << false;
    QTest::newRow("ten digits") << "1122334459" << false;
    QTest::newRow("twelve digits") << "112233445950" << false;
    QTest::newRow("empty") << "" << false;
}

void TestImportPlan::snils() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(Snils::isValid(text), valid);
}

void TestImportPlan::counting_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<int>("steps");
    QTest::addColumn<QString>("result");
    QTest::newRow("series kept") << "СВ 100051" << 1 << "СВ 100052";
    QTest::newRow("leading zeros kept") << "0099" << 1 << "0100";
    QTest::newRow("widened on overflow") << "999" << 1 << "1000";
    QTest::newRow("last digits only") << "12-0007/а" << 95 << "12-0102/а";
    QTest::newRow("first itself") << "№ 5" << 0 << "№ 5";
    QTest::newRow("longer than any integer") << "99999999999999999999999" << 100001 << "100000000000000000100000";
    QTest::newRow("no digits") << "СВ" << 3 << "";
}

void TestImportPlan::counting() {
    QFETCH(QString, first);
    QFETCH(int, steps);
    QFETCH(QString, result);
    QCOMPARE(NumberSequence::nth(first, steps), result);
}

void TestImportPlan::numberingSkipsLeftOutAndOwnNumbers() {
    QVector<ImportDocument> documents = {documentOf({}), documentOf({{"attNumber", "СВ 7"}}), documentOf({}, false),
                                         documentOf({{"regNumber", "Р-1"}})};
    documents[2].numberedAttNumber = QStringLiteral("stale");
    ImportOptions options;
    options.firstAttNumber = QStringLiteral(" СВ 0099 ");
    options.firstRegNumber = QStringLiteral("15");
    ImportPlan::number(&documents, options);
    QStringList att, reg;
    for (const ImportDocument& d : documents) {
        att << d.effectiveText(ImportField::AttNumber, options);
        reg << d.effectiveText(ImportField::RegNumber, options);
    }
    QCOMPARE(att, (QStringList{"СВ 0099", "СВ 7", "", "СВ 0100"}));
    QCOMPARE(reg, (QStringList{"15", "16", "", "Р-1"}));
}

void TestImportPlan::problems_data() {
    QTest::addColumn<QVariantMap>("texts");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("sound") << QVariantMap{{"birthDate", "01.01.2000"}, {"snils", "112-233-445 95"}, {"sex", "Жен."}}
                           << QStringList{};
    QTest::newRow("no surname") << QVariantMap{{"surname", " "}} << QStringList{"Не указана фамилия"};
    QTest::newRow("no first name") << QVariantMap{{"name", " "}} << QStringList{"Не указано имя"};
    QTest::newRow("no patronymic") << QVariantMap{{"patronymic", ""}} << QStringList{};
    QTest::newRow("snils of zeros") << QVariantMap{{"snils", "000-000-000 00"}}
                                    << QStringList{"Неверный СНИЛС: 000-000-000 00"};
    QTest::newRow("unreadable date") << QVariantMap{{"startDate", "31.02.2021"}}
                                     << QStringList{"Дата не распознана: 31.02.2021"};
    QTest::newRow("year 0001") << QVariantMap{{"protocolDate", "01.01.0001"}}
                               << QStringList{"Дата вне допустимого диапазона: 01.01.0001"};
    QTest::newRow("year 9999") << QVariantMap{{"issueDate", "31.12.9999"}}
                               << QStringList{"Дата вне допустимого диапазона: 31.12.9999"};
    QTest::newRow("born after the row's issue") << QVariantMap{{"birthDate", "02.02.2020"}, {"issueDate", "01.02.2020"}}
                                                << QStringList{"Дата рождения позже даты выдачи"};
    QTest::newRow("born after the template's issue")
        << QVariantMap{{"birthDate", "01.07.2021"}} << QStringList{"Дата рождения позже даты выдачи"};
    QTest::newRow("impossible snils") << QVariantMap{{"snils", "112-233-445 96"}}
                                      << QStringList{"Неверный СНИЛС: 112-233-445 96"};
    QTest::newRow("unknown sex") << QVariantMap{{"sex", "x"}} << QStringList{"Пол не распознан: x"};
    QTest::newRow("a megabyte of name") << QVariantMap{{"surname", QString(1 << 20, QLatin1Char('a'))}}
                                        << QStringList{"Слишком длинный текст: Фамилия"};
}

void TestImportPlan::problems() {
    QFETCH(QVariantMap, texts);
    QFETCH(QStringList, expected);
    ImportOptions options;
    options.templateRow = {{"issueDate", "2021-06-30"}};
    if (!texts.contains("surname"))
        texts.insert("surname", "Иванов");
    if (!texts.contains("name"))
        texts.insert("name", "Иван");
    QVector<ImportDocument> documents = {documentOf(texts), documentOf(texts, false)};
    ImportPlan::check(&documents, options, {});
    QCOMPARE(problemTexts(documents.at(0)), expected);
    QVERIFY(documents.at(1).problems.isEmpty());
    QCOMPARE(ImportPlan::problemCount(documents), expected.isEmpty() ? 0 : 1);
}

void TestImportPlan::duplicateNumbers_data() {
    QTest::addColumn<int>("isDuplicate");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("new certificates") << 0
                                      << QStringList{"Номер свидетельства повторяется в файле: А1",
                                                     "Номер свидетельства повторяется в файле: А1|"
                                                     "Регистрационный номер повторяется в файле: 5",
                                                     "Номер свидетельства уже есть в реестре: В2",
                                                     "Регистрационный номер повторяется в файле: 5", ""};
    QTest::newRow("duplicates") << 1
                                << QStringList{"", "Регистрационный номер повторяется в файле: 5", "",
                                               "Регистрационный номер повторяется в файле: 5", ""};
}

// Numbers are compared trimmed; a left-out document neither has nor causes a problem.
void TestImportPlan::duplicateNumbers() {
    QFETCH(int, isDuplicate);
    QFETCH(QStringList, expected);
    ImportOptions options;
    options.templateRow = {{"isDuplicate", isDuplicate}};
    QVector<ImportDocument> documents = {
        documentOf({{"surname", "А"}, {"name", "А"}, {"attNumber", "А1"}}),
        documentOf({{"surname", "Б"}, {"name", "Б"}, {"attNumber", " А1 "}, {"regNumber", "5"}}),
        documentOf({{"surname", "В"}, {"name", "В"}, {"attNumber", "В2"}}),
        documentOf({{"surname", "Г"}, {"name", "Г"}, {"regNumber", "5"}}),
        documentOf({{"surname", "Д"}, {"name", "Д"}, {"attNumber", "В1"}, {"regNumber", "5"}}, false)};
    ImportPlan::check(&documents, options, {QStringLiteral("В2"), QStringLiteral("В1")});
    QStringList found;
    for (const ImportDocument& d : documents)
        found << problemTexts(d).join(QLatin1Char('|'));
    QCOMPARE(found, expected);
}

void TestImportPlan::writtenColumns() {
    ImportOptions options;
    options.templateRow = {{"profId", 5},
                           {"isDuplicate", 1},
                           {"fio1", "Шаблон"},
                           {"attNumber", "Т 1"},
                           {"regNumber", "Т-1"},
                           {"qual", "3 разряд"},
                           {"profession", "Сварщик"},
                           {"issueDate", "2021-06-30"},
                           {"startDate", "garbage"},
                           {"comment", "к"},
                           {"editDate", "2020-01-01 10:00:00"}};
    const QVector<ImportDocument> documents = {
        documentOf({{"surname", "Иванов"}, {"profession", " Токарь "}, {"sex", "м"}, {"snils", "112-233-445 95"}}),
        documentOf({{"surname", "Пропущен"}}, false), documentOf({{"surname", "Петрова"}, {"sex", "ж"}})};
    const QVector<ImportRecord> records = ImportPlan::records(documents, options);
    QCOMPARE(records.size(), 2);
    const QVariantMap& written = records.at(0).document;
    QCOMPARE(written.value("fio1").toString(), QStringLiteral("Иванов"));
    QCOMPARE(written.value("profession").toString(), QStringLiteral("Токарь"));
    QCOMPARE(written.value("qual").toString(), QStringLiteral("3 разряд"));
    QCOMPARE(written.value("issueDate"), QVariant(QDate(2021, 6, 30)));
    QCOMPARE(written.value("isDuplicate").toInt(), 1);
    QCOMPARE(written.value("comment").toString(), QStringLiteral("к"));
    QCOMPARE(written.value("isTemplate").toInt(), 0);
    for (const char* empty : {"attNumber", "regNumber", "fio2", "birthDate", "startDate"})
        QVERIFY2(written.contains(empty) && written.value(empty).isNull(), empty);
    QCOMPARE(written.value("birthDate").type(), QVariant::Date);
    QVERIFY(!written.contains("profId") && !written.contains("editDate"));
    QCOMPARE(records.at(0).frdo, (QVariantMap{{"snils", "112-233-445 95"}, {"sexIsMale", 1}}));
    QCOMPARE(records.at(1).frdo, (QVariantMap{{"sexIsMale", 0}}));
}

void TestImportPlan::samePeopleInTheFile_data() {
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::addColumn<QStringList>("expected");
    const QString twice = QStringLiteral("!Повторяется в файле: Иванов Иван Иванович, 01.02.2001 (строки 1, 2)");
    const QString snils = QStringLiteral("СНИЛС повторяется в файле у разных людей: 112-233-445 95");
    QTest::newRow("the same person twice") << QList<QStringList>{{"Иванов", "Иван", "Иванович", "01.02.2001"},
                                                                 {"Иванов", "Иван", "Иванович", "2001-02-01"}}
                                           << QStringList{twice, twice};
    QTest::newRow("case, blanks and yo aside")
        << QList<QStringList>{{"Семёнов", "Иван", "Иванович", "01.02.2001"},
                              {"СЕМЕНОВ", " Иван ", "иванович", "01.02.2001"},
                              {"Семенов", "Иван", "Иванович", "02.02.2001"}}
        << QStringList{"!Повторяется в файле: Семёнов Иван Иванович, 01.02.2001 (строки 1, 2)",
                       "!Повторяется в файле: Семёнов Иван Иванович, 01.02.2001 (строки 1, 2)", ""};
    QTest::newRow("no patronymic, no birth date") << QList<QStringList>{{"Иванов", "Иван"}, {"Иванов", "Иван"}}
                                                  << QStringList{"!Повторяется в файле: Иванов Иван (строки 1, 2)",
                                                                 "!Повторяется в файле: Иванов Иван (строки 1, 2)"};
    QTest::newRow("left out once") << QList<QStringList>{{"Иванов", "Иван", "Иванович", "01.02.2001"},
                                                         {"-Иванов", "Иван", "Иванович", "01.02.2001"}}
                                   << QStringList{"", ""};
    QTest::newRow("one snils, two names") << QList<QStringList>{{"Иванов", "Иван", "", "01.02.2001", "112-233-445 95"},
                                                                {"Петров", "Иван", "", "01.02.2001", "11223344595"},
                                                                {"Сидоров", "Олег", "", "", "1122334459"}}
                                          << QStringList{snils, snils, "Неверный СНИЛС: 1122334459"};
    QTest::newRow("one snils, two birth dates")
        << QList<QStringList>{{"Иванов", "Иван", "", "01.02.2001", "112-233-445 95"},
                              {"Иванов", "Иван", "", "01.02.2002", "112-233-445 95"}}
        << QStringList{snils, snils};
    QTest::newRow("one snils, one person, a birth date unknown")
        << QList<QStringList>{{"Иванов", "Иван", "", "01.02.2001", "112-233-445 95"},
                              {"иванов", "Иван", "", "", "112-233-445 95"},
                              {"-Петров", "Пётр", "", "", "112-233-445 95"}}
        << QStringList{"", "", ""};
    QTest::newRow("zeros are no one's snils")
        << QList<QStringList>{{"Иванов", "Иван", "", "", "000-000-000 00"}, {"Петров", "Пётр", "", "", "00000000000"}}
        << QStringList{"Неверный СНИЛС: 000-000-000 00", "Неверный СНИЛС: 00000000000"};
}

void TestImportPlan::samePeopleInTheFile() {
    QFETCH(QList<QStringList>, rows);
    QFETCH(QStringList, expected);
    QVector<ImportDocument> documents = peopleOf(rows);
    ImportPlan::check(&documents, {}, {});
    QCOMPARE(findings(documents), expected);
    QCOMPARE(ImportPlan::warningCount(documents),
             int(std::count_if(expected.cbegin(), expected.cend(), [](const QString& e) { return e.contains('!'); })));
    // Checked again, nothing is found twice.
    ImportPlan::check(&documents, {}, {});
    QCOMPARE(findings(documents), expected);
}

void TestImportPlan::peopleInTheRegistry_data() {
    QTest::addColumn<QStringList>("row");
    QTest::addColumn<QString>("expected");
    const QString ivanov = QStringLiteral("Иванов Иван Иванович, 01.02.2001");
    QTest::newRow("a stranger") << QStringList{"Петров", "Пётр", "Петрович", "01.02.2001", "", "16-П"} << "";
    QTest::newRow("already there") << QStringList{"иванов", "Иван", "Иванович", "01.02.2001"}
                                   << "!Уже есть в реестре: иванов Иван Иванович, 01.02.2001";
    QTest::newRow("another birth date") << QStringList{"Иванов", "Иван", "Иванович", "02.02.2001"} << "";
    QTest::newRow("his snils, another name")
        << QStringList{"Петров", "Пётр", "Петрович", "01.02.2001", "112-233-445 95"}
        << "СНИЛС уже есть в реестре у другого человека: " + ivanov;
    QTest::newRow("his snils, another birth date")
        << QStringList{"Иванов", "Иван", "Иванович", "02.02.2001", "11223344595"}
        << "СНИЛС уже есть в реестре у другого человека: " + ivanov;
    QTest::newRow("his snils, birth date not given")
        << QStringList{"Иванов", "Иван", "Иванович", "", "11223344595"} << "";
    QTest::newRow("his registration number")
        << QStringList{"Петров", "Пётр", "", "", "", " 15-П "} << "Регистрационный номер уже есть в реестре: 15-П";
    QTest::newRow("left out") << QStringList{"-Иванов", "Иван", "Иванович", "01.02.2001", "", "15-П"} << "";
    QTest::newRow("his duplicate") << QStringList{"Иванов", "Иван", "Иванович", "01.02.2001", "", "", "1"} << "";
    QTest::newRow("a duplicate under his snils")
        << QStringList{"Петров", "Пётр", "Петрович", "01.02.2001", "112-233-445 95", "", "1"}
        << "СНИЛС уже есть в реестре у другого человека: " + ivanov;
}

void TestImportPlan::peopleInTheRegistry() {
    QFETCH(QStringList, row);
    QFETCH(QString, expected);
    RegistryMatches registry;
    registry.people = {person("Иванов", "Иван", "Иванович", QDate(2001, 2, 1), "11223344595"),
                       person("Иванова", "Мария", "", QDate(), "")};
    registry.regNumbers = {QStringLiteral("15-П")};
    ImportOptions options;
    options.templateRow = {{"isDuplicate", row.value(6).toInt()}}; // a duplicate by its template
    QVector<ImportDocument> documents = peopleOf({row.mid(0, 6)});
    ImportPlan::check(&documents, options, {});
    ImportPlan::checkAgainstRegistry(&documents, options, registry);
    QCOMPARE(findings(documents), QStringList{expected});
}

// The lookup finds the documents by surname in any usual spelling or by SNILS, never a template,
// and the registration numbers the registry holds; a registry that cannot be read says why.
void TestImportPlan::registryLookup_data() {
    QTest::addColumn<bool>("server");
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::addColumn<QStringList>("found"); // surname|birth date|snils, sorted
    QTest::addColumn<QStringList>("regNumbers");
    QTest::addColumn<bool>("readable");
    for (const bool server : {false, true}) {
        const auto row = [server](const char* name) {
            return &(QTest::addRow("%s, %s", server ? "server" : "file", name) << server);
        };
        *row("by surname, in capitals and with yo")
            << QList<QStringList>{{"ИВАНОВ", "Иван"}, {"Семёнов", "Семён"}}
            << QStringList{"Иванов|2001-02-01|11223344595", "Семенов||"} << QStringList{} << true;
        *row("by snils under another name") << QList<QStringList>{{"Петров", "Пётр", "", "", "112-233-445 95"}}
                                            << QStringList{"Иванов|2001-02-01|11223344595"} << QStringList{} << true;
        *row("the written snils of an older row") << QList<QStringList>{{"Петров", "Пётр", "", "", "136-571-200 49"}}
                                                  << QStringList{"Сидоров||13657120049"} << QStringList{} << true;
        *row("registration numbers") << QList<QStringList>{{"Петров", "Пётр", "", "", "", "15-П"},
                                                           {"Петров", "Пётр", "", "", "", "Т-1"},
                                                           {"-Петров", "Пётр", "", "", "", "16-П"}}
                                     << QStringList{} << QStringList{"15-П"} << true;
    }
    QTest::newRow("file, unreadable") << false << QList<QStringList>{{"Иванов", "Иван"}} << QStringList{}
                                      << QStringList{} << false;
}

void TestImportPlan::registryLookup() {
    QFETCH(bool, server);
    QFETCH(QList<QStringList>, rows);
    QFETCH(QStringList, found);
    QFETCH(QStringList, regNumbers);
    QFETCH(bool, readable);
    CoreRegistry file;
    file.setUp();
    QString error;
    if (server) {
        PgTestServer* pg = PgTestServer::shared(&error);
        QVERIFY2(pg, qPrintable(error));
        QVERIFY2(!pg->createRegistryAsProgram(&error).isEmpty(), qPrintable(error));
    } else {
        QVERIFY(file.open());
    }
    const auto done = qScopeGuard([&] {
        if (!server)
            return file.close();
        QSqlDatabase::database().close();
        QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    });
    sql("INSERT INTO ProfDocuments (profId, fio1, fio2, fio3, birthDate, regNumber, isTemplate) VALUES "
        "(1, 'Иванов', 'Иван', 'Иванович', '2001-02-01', '15-П', 0), (2, 'Семенов', 'Семён', NULL, NULL, '16-П', "
        "NULL), (3, 'Иванов', 'Шаблон', NULL, NULL, 'Т-1', 1), (4, 'Сидоров', 'Олег', NULL, NULL, NULL, 0)");
    sql("INSERT INTO ProfFrdo (profId, snils) VALUES (1, '11223344595'), (3, '136-571-200 49'), "
        "(4, '136-571-200 49')");
    if (!readable)
        sql("DROP TABLE ProfFrdo");
    const QVector<ImportDocument> documents = peopleOf(rows);
    ImportRegistry lookup;
    QCOMPARE(lookup.update(documents, {}, &error), readable);
    QCOMPARE(error.isEmpty(), readable);
    QStringList people;
    for (const RegistryPerson& p : lookup.matches().people)
        people << QStringList{p.surname, p.birthDate.toString(Qt::ISODate), p.snils}.join('|');
    people.sort();
    QCOMPARE(people, found);
    QStringList numbers = lookup.matches().regNumbers.values();
    numbers.sort();
    QCOMPARE(numbers, regNumbers);
}

ORVANE_TEST(TestImportPlan)
#include "tst_importplan.moc"
