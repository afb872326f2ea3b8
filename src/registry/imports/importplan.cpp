#include "importplan.h"

#include "nameparts.h"
#include "numbersequence.h"
#include "plausibleyears.h"
#include "profschema.h"
#include "snils.h"
#include "valuetext.h"

#include <QDate>
#include <QHash>
#include <cmath>

namespace {
const QString dateFormat = QStringLiteral("dd.MM.yyyy");
// How many non-blank rows are searched for a header: a title and a few notes may stand above it.
constexpr int headerSearchRows = 30;
// No name, number or title of a document is this long; a longer cell is a pasting mistake.
constexpr int maxTextLength = 1000;
// Longer than any header a list is given.
constexpr int maxHeaderLength = 200;

// The ProfDocuments column each field is written to; none for the FRDO's SNILS and sex.
QString columnOf(ImportField field) {
    switch (field) {
    case ImportField::Surname:
        return QStringLiteral("fio1");
    case ImportField::Name:
        return QStringLiteral("fio2");
    case ImportField::Patronymic:
        return QStringLiteral("fio3");
    case ImportField::BirthDate:
        return QStringLiteral("birthDate");
    case ImportField::AttNumber:
        return QStringLiteral("attNumber");
    case ImportField::RegNumber:
        return QStringLiteral("regNumber");
    case ImportField::IssueDate:
        return QStringLiteral("issueDate");
    case ImportField::StartDate:
        return QStringLiteral("startDate");
    case ImportField::FinishDate:
        return QStringLiteral("finishDate");
    case ImportField::ProtocolNumber:
        return QStringLiteral("protocolNumber");
    case ImportField::ProtocolDate:
        return QStringLiteral("protocolDate");
    case ImportField::Profession:
        return QStringLiteral("profession");
    case ImportField::Qual:
        return QStringLiteral("qual");
    case ImportField::ProgName:
        return QStringLiteral("profProgName");
    case ImportField::PrevEducation:
        return QStringLiteral("prevEducation");
    default:
        return QString();
    }
}

bool isNameField(ImportField field) {
    return field == ImportField::Surname || field == ImportField::Name || field == ImportField::Patronymic;
}

// The layouts the preview writes and the registry stores are read by hand: the checks of a large
// table read every date several times and a format parse costs microseconds each.
QDate readDate(const QString& text) {
    if (text.size() == 10) {
        const QChar* c = text.constData();
        if (c[2] == QLatin1Char('.') && c[5] == QLatin1Char('.')) {
            const int day = ValueText::digits(c, 2), month = ValueText::digits(c + 3, 2),
                      year = ValueText::digits(c + 6, 4);
            if (day >= 0 && month >= 0 && year >= 0)
                return QDate(year, month, day);
        }
        if (c[4] == QLatin1Char('-') && c[7] == QLatin1Char('-')) {
            const int year = ValueText::digits(c, 4), month = ValueText::digits(c + 5, 2),
                      day = ValueText::digits(c + 8, 2);
            if (day >= 0 && month >= 0 && year >= 0)
                return QDate(year, month, day);
        }
    }
    return ValueText::dateFromText(text);
}

// A cell of a date column as the preview shows it: a date as "dd.MM.yyyy", anything unreadable as
// it was typed, so that the check can point at it.
QString dateText(const QVariant& cell, const QString& text) {
    QDate date;
    if (cell.type() == QVariant::Date)
        date = cell.toDate();
    else if (cell.type() == QVariant::Double && std::isfinite(cell.toDouble()) && std::fabs(cell.toDouble()) < 1e9)
        // A day number with a time of day: the day is what counts.
        date = ValueText::dateFromText(QString::number(qint64(std::floor(cell.toDouble()))));
    else
        date = readDate(text);
    return date.isValid() ? date.toString(dateFormat) : text;
}

// A value for a problem's text: a pasted megabyte must not become a megabyte of message.
QString shown(const QString& text) {
    constexpr int maxShown = 40;
    return text.size() <= maxShown ? text : text.left(maxShown) + QChar(0x2026);
}

// 1 male, 0 female, -1 not recognised.
int sexOf(const QString& text) {
    if (text.size() > 20)
        return -1;
    QString t = text.trimmed().toLower();
    while (t.endsWith(QLatin1Char('.')))
        t.chop(1);
    static const QStringList male = {QStringLiteral("м"),       QStringLiteral("муж"), QStringLiteral("мужской"),
                                     QStringLiteral("мужчина"), QStringLiteral("m"),   QStringLiteral("male"),
                                     QStringLiteral("1")};
    static const QStringList female = {QStringLiteral("ж"),       QStringLiteral("жен"), QStringLiteral("женский"),
                                       QStringLiteral("женщина"), QStringLiteral("f"),   QStringLiteral("female"),
                                       QStringLiteral("0")};
    if (male.contains(t))
        return 1;
    if (female.contains(t))
        return 0;
    return -1;
}

bool isDuplicateTemplate(const ImportOptions& options) {
    return options.templateRow.value(QStringLiteral("isDuplicate")).toInt() > 0;
}

void addProblem(ImportDocument* document, ImportField field, const QString& text) {
    document->problems.append(ImportProblem{field, text});
}

QString codeText(int code) {
    return QStringLiteral("U+%1").arg(code, 4, 16, QLatin1Char('0')).toUpper();
}

// A clerk reads "Мамедов Эльдар Рашид оглы" as four words at most; more is a name run together
// with another column, one word a name cut short.
void checkNameWords(ImportDocument* document, const ImportOptions& options) {
    const QString name = document->effectiveText(ImportField::Surname, options) + QLatin1Char(' ') +
                         document->effectiveText(ImportField::Name, options) + QLatin1Char(' ') +
                         document->effectiveText(ImportField::Patronymic, options);
    const int words = NameParts::words(name).size();
    if (words > 4)
        document->warnings.append({ImportField::Surname, QStringLiteral("Проверьте ФИО: больше четырёх слов")});
    else if (words == 1 && document->nameFromFullName)
        document->warnings.append({ImportField::Surname, QStringLiteral("Проверьте ФИО: одно слово")});
}

void checkTexts(ImportDocument* document, const ImportOptions& options) {
    if (document->effectiveText(ImportField::Surname, options).isEmpty())
        addProblem(document, ImportField::Surname, QStringLiteral("Не указана фамилия"));
    // As in the document dialog: a certificate names its holder by the first name too; many have
    // no patronymic.
    if (document->effectiveText(ImportField::Name, options).isEmpty())
        addProblem(document, ImportField::Name, QStringLiteral("Не указано имя"));
    for (int f = 0; f < ImportFields::documentFieldCount; ++f) {
        const auto field = ImportField(f);
        const QString text = document->text(field);
        if (text.size() > maxTextLength)
            addProblem(document, field, QStringLiteral("Слишком длинный текст: %1").arg(ImportFields::title(field)));
        const int forbidden = ImportPlan::forbiddenCharacter(text, field);
        if (forbidden >= 0)
            addProblem(document, field,
                       QStringLiteral("Недопустимый символ в поле «%1»: %2")
                           .arg(ImportFields::title(field), codeText(forbidden)));
    }
    const QString snils = document->text(ImportField::Snils).trimmed();
    if (!snils.isEmpty() && !Snils::isValid(snils))
        addProblem(document, ImportField::Snils, QStringLiteral("Неверный СНИЛС: %1").arg(shown(snils)));
    const QString sex = document->text(ImportField::Sex).trimmed();
    if (!sex.isEmpty() && sexOf(sex) < 0)
        addProblem(document, ImportField::Sex, QStringLiteral("Пол не распознан: %1").arg(shown(sex)));
}

void checkDates(ImportDocument* document, const ImportOptions& options) {
    QDate birth, issue;
    for (int f = 0; f < ImportFields::documentFieldCount; ++f) {
        const auto field = ImportField(f);
        if (!ImportFields::isDate(field))
            continue;
        const QString text = document->effectiveText(field, options);
        if (text.isEmpty())
            continue;
        const QDate date = readDate(text);
        if (!date.isValid()) {
            addProblem(document, field, QStringLiteral("Дата не распознана: %1").arg(shown(text)));
            continue;
        }
        if (!PlausibleYears::contains(date)) {
            addProblem(document, field, QStringLiteral("Дата вне допустимого диапазона: %1").arg(shown(text)));
            continue;
        }
        if (field == ImportField::BirthDate)
            birth = date;
        else if (field == ImportField::IssueDate)
            issue = date;
    }
    if (birth.isValid() && issue.isValid() && birth > issue)
        addProblem(document, ImportField::BirthDate, QStringLiteral("Дата рождения позже даты выдачи"));
}

// Marks every included document whose number of `field` another one holds too, and, when `taken`
// is given, those whose number the registry already has.
void checkUnique(QVector<ImportDocument>* documents, const ImportOptions& options, ImportField field,
                 const QString& twiceText, const QSet<QString>* taken, const QString& takenText) {
    QHash<QString, int> counts;
    QVector<QString> numbers(documents->size());
    for (int i = 0; i < documents->size(); ++i) {
        const ImportDocument& document = documents->at(i);
        if (!document.included)
            continue;
        numbers[i] = document.effectiveText(field, options).trimmed();
        if (!numbers[i].isEmpty())
            ++counts[numbers[i]];
    }
    for (int i = 0; i < documents->size(); ++i) {
        const QString& number = numbers.at(i);
        if (number.isEmpty())
            continue;
        ImportDocument* document = &(*documents)[i];
        if (counts.value(number) > 1)
            addProblem(document, field, twiceText.arg(shown(number)));
        if (taken && taken->contains(number))
            addProblem(document, field, takenText.arg(shown(number)));
    }
}

// A part of a name as people compare it: case, runs of blanks and "ё" do not make another person.
QString namePart(const QString& text) {
    QString part = text.simplified().toLower();
    part.replace(QChar(0x0451), QChar(0x0435));
    return part;
}

QString nameKey(const RegistryPerson& person) {
    return namePart(person.surname) + QChar(0x1f) + namePart(person.name) + QChar(0x1f) + namePart(person.patronymic);
}

// Surname, name, patronymic and birth date: what makes the same person in a warning.
QString personKey(const RegistryPerson& person) {
    return nameKey(person) + QChar(0x1f) + (person.birthDate.isValid() ? person.birthDate.toString(Qt::ISODate) : "");
}

// "Иванов Иван Иванович, 01.02.2001" for a message.
QString personText(const RegistryPerson& person) {
    QStringList parts;
    for (const QString& part : {person.surname, person.name, person.patronymic})
        if (!part.trimmed().isEmpty())
            parts << part.simplified();
    QString text = shown(parts.join(QLatin1Char(' ')));
    if (person.birthDate.isValid())
        text += QStringLiteral(", ") + person.birthDate.toString(dateFormat);
    return text;
}

// "строки 4, 7" (1-based), a long list cut.
QString rowsText(const QVector<int>& rows) {
    constexpr int maxRows = 10;
    QStringList numbers;
    for (int i = 0; i < rows.size() && i < maxRows; ++i)
        numbers << QString::number(rows.at(i) + 1);
    if (rows.size() > maxRows)
        numbers << QString(QChar(0x2026));
    return QStringLiteral("строки ") + numbers.join(QStringLiteral(", "));
}

// The same person twice in the file is a warning; one SNILS for two people, a problem.
void checkPeople(QVector<ImportDocument>* documents, const ImportOptions& options) {
    QVector<RegistryPerson> people(documents->size());
    QHash<QString, QVector<int>> byPerson;
    QHash<QString, QVector<int>> bySnils;
    for (int i = 0; i < documents->size(); ++i) {
        const ImportDocument& document = documents->at(i);
        if (!document.included)
            continue;
        people[i] = ImportPlan::personOf(document, options);
        if (!people.at(i).surname.isEmpty())
            byPerson[personKey(people.at(i))].append(i);
        if (!people.at(i).snils.isEmpty())
            bySnils[people.at(i).snils].append(i);
    }
    for (const QVector<int>& same : qAsConst(byPerson)) {
        if (same.size() < 2)
            continue;
        QVector<int> rows;
        for (int i : same)
            rows << documents->at(i).sourceRow;
        const QString text =
            QStringLiteral("Повторяется в файле: %1 (%2)").arg(personText(people.at(same.first())), rowsText(rows));
        for (int i : same)
            (*documents)[i].warnings.append({ImportField::Surname, text});
    }
    for (auto it = bySnils.cbegin(); it != bySnils.cend(); ++it) {
        // Some two of them differ when their names do, or two known birth dates.
        QSet<QString> names;
        QSet<QDate> dates;
        for (int i : it.value()) {
            names.insert(nameKey(people.at(i)));
            if (people.at(i).birthDate.isValid())
                dates.insert(people.at(i).birthDate);
        }
        if (names.size() < 2 && dates.size() < 2)
            continue;
        const QString text =
            QStringLiteral("СНИЛС повторяется в файле у разных людей: %1").arg(Snils::written(it.key()));
        for (int i : it.value())
            addProblem(&(*documents)[i], ImportField::Snils, text);
    }
}

// How many cells of the row name a field.
int namedCells(const ImportTable& table, int row) {
    int named = 0;
    for (int column = 0; column < table.rows.at(row).size(); ++column)
        if (ImportFields::fromHeader(table.text(row, column)) != ImportField::Ignore)
            ++named;
    return named;
}

// A row of field titles: at least two cells name a field, and every other cell is empty or
// repeats the header's text of its column ("№ п/п" of a header printed again on each page). Two
// titles, so that a person called "Имя" stays a person; no data, so that one whose cells happen
// to be titles besides their own values does too.
bool isTitleRow(const ImportTable& table, int row, const QVector<QStringList>& headerKeys = {}) {
    const QVector<QVariant>& cells = table.rows.at(row);
    int named = 0;
    for (int column = 0; column < cells.size(); ++column) {
        const QString text = table.text(row, column);
        if (text.trimmed().isEmpty())
            continue;
        // A megabyte of name is no header, and is not normalised for nothing.
        if (text.size() > maxHeaderLength)
            return false;
        if (ImportFields::fromHeader(text) != ImportField::Ignore) {
            ++named;
            continue;
        }
        const QString key = ImportFields::normalisedHeader(text);
        if (key.isEmpty() || column >= headerKeys.size() || !headerKeys.at(column).contains(key))
            return false;
    }
    return named >= 2;
}

// Whether the header row is the lower of two: a row of titles right below a row that names fields.
bool spansTwoRows(const ImportTable& table, int headerRow) {
    return headerRow > 0 && headerRow < table.rows.size() && isTitleRow(table, headerRow) &&
           namedCells(table, headerRow - 1) >= 2;
}

// The text naming a column under the header row, the upper row's where the lower one is empty.
QString headerCell(const ImportTable& table, int headerRow, int column, bool twoRows) {
    const QString own = table.text(headerRow, column);
    return twoRows && own.trimmed().isEmpty() ? table.text(headerRow - 1, column) : own;
}

// The field of each column under the header row; a field named twice is held by its first column.
QVector<ImportField> headerFields(const ImportTable& table, int headerRow, int* named) {
    QVector<ImportField> fields(table.columnCount(), ImportField::Ignore);
    QSet<int> seen;
    *named = 0;
    const bool twoRows = spansTwoRows(table, headerRow);
    for (int column = 0; column < fields.size(); ++column) {
        const ImportField field = ImportFields::fromHeader(headerCell(table, headerRow, column, twoRows));
        if (field == ImportField::Ignore || seen.contains(int(field)))
            continue;
        seen.insert(int(field));
        fields[column] = field;
        ++*named;
    }
    return fields;
}

// The normalised header texts of each column, of both rows when the header spans two.
QVector<QStringList> headerKeys(const ImportTable& table, int headerRow) {
    QVector<QStringList> keys(table.columnCount());
    if (headerRow < 0 || headerRow >= table.rows.size())
        return keys;
    const bool twoRows = spansTwoRows(table, headerRow);
    for (int column = 0; column < keys.size(); ++column) {
        keys[column] << ImportFields::normalisedHeader(table.text(headerRow, column));
        if (twoRows)
            keys[column] << ImportFields::normalisedHeader(table.text(headerRow - 1, column));
        keys[column].removeAll(QString());
    }
    return keys;
}
} // namespace

QString ImportDocument::text(ImportField field) const {
    const int index = int(field);
    return index >= 0 && index < texts.size() ? texts.at(index) : QString();
}

QString ImportDocument::effectiveText(ImportField field, const ImportOptions& options) const {
    const QString own = text(field).trimmed();
    if (!own.isEmpty())
        return own;
    if (field == ImportField::AttNumber && !numberedAttNumber.isEmpty())
        return numberedAttNumber;
    if (field == ImportField::RegNumber && !numberedRegNumber.isEmpty())
        return numberedRegNumber;
    // A name and a number belong to a person, never to the template.
    if (isNameField(field) || field == ImportField::AttNumber || field == ImportField::RegNumber)
        return QString();
    const QString column = columnOf(field);
    if (column.isEmpty())
        return QString();
    const QVariant value = options.templateRow.value(column);
    if (value.isNull())
        return QString();
    if (ImportFields::isDate(field)) {
        const QDate date = value.type() == QVariant::Date ? value.toDate() : readDate(value.toString());
        return date.isValid() ? date.toString(dateFormat) : value.toString().trimmed();
    }
    return value.toString().trimmed();
}

bool ImportDocument::hasProblem(ImportField field) const {
    for (const ImportProblem& problem : problems)
        if (problem.field == field)
            return true;
    return false;
}

bool ImportDocument::hasWarning(ImportField field) const {
    for (const ImportProblem& warning : warnings)
        if (warning.field == field)
            return true;
    return false;
}

int ImportPlan::findHeaderRow(const ImportTable& table, QVector<ImportField>* columns) {
    const int columnCount = table.columnCount();
    int searched = 0;
    for (int row = 0; row < table.rows.size() && searched < headerSearchRows; ++row) {
        if (table.isBlankRow(row))
            continue;
        ++searched;
        int named = 0;
        QVector<ImportField> fields = headerFields(table, row, &named);
        const bool singleNameColumn = columnCount == 1 && named == 1 &&
                                      (fields.at(0) == ImportField::FullName || fields.at(0) == ImportField::Surname);
        if (named >= 2 || singleNameColumn) {
            if (spansTwoRows(table, row + 1))
                fields = headerFields(table, ++row, &named);
            if (columns)
                *columns = fields;
            return row;
        }
    }
    if (columns)
        columns->clear();
    return -1;
}

QString ImportPlan::headerText(const ImportTable& table, int headerRow, int column) {
    if (headerRow < 0 || headerRow >= table.rows.size())
        return QString();
    return headerCell(table, headerRow, column, spansTwoRows(table, headerRow));
}

QString ImportPlan::cleanedText(const QString& text) {
    const QChar* begin = text.constData();
    const QChar* end = begin + text.size();
    const QChar* c = begin;
    while (c != end && c->unicode() < 0x80)
        ++c;
    if (c == end)
        return text.trimmed();
    QString result(begin, int(c - begin));
    result.reserve(text.size());
    for (; c != end; ++c) {
        if (c->unicode() < 0x80) {
            result.append(*c);
            continue;
        }
        switch (c->unicode()) {
        case 0x00AD: // soft hyphen
        case 0x200B: // zero-width space
        case 0x200C: // zero-width non-joiner
        case 0x200D: // zero-width joiner
        case 0x2060: // word joiner
        case 0xFEFF: // byte order mark
            continue;
        default:
            break;
        }
        switch (c->category()) {
        case QChar::Separator_Space:
            result.append(QLatin1Char(' '));
            break;
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            result.append(QLatin1Char('\n'));
            break;
        default:
            result.append(*c);
        }
    }
    return result.trimmed();
}

int ImportPlan::forbiddenCharacter(const QString& text, ImportField field) {
    const bool lines = ImportFields::mayHoldLineBreaks(field);
    for (int i = 0; i < text.size(); ++i) {
        const ushort u = text.at(i).unicode();
        if (u >= 0x20 && u < 0x7F)
            continue;
        if (lines && (u == '\t' || u == '\n' || u == '\r'))
            continue;
        uint code = u;
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            code = QChar::surrogateToUcs4(u, text.at(++i).unicode());
        else if (QChar::isSurrogate(u))
            return int(code);
        const QChar::Category category = QChar::category(code);
        if (category == QChar::Other_Control || category == QChar::Other_Format)
            return int(code);
    }
    return -1;
}

QVector<ImportDocument> ImportPlan::documents(const ImportTable& table, const ImportOptions& options) {
    QVector<ImportDocument> result;
    const int first = options.headerRow < 0 ? 0 : options.headerRow + 1;
    const QVector<QStringList> keys = headerKeys(table, options.headerRow);
    for (int row = first; row < table.rows.size(); ++row) {
        if (table.isBlankRow(row) || isTitleRow(table, row, keys))
            continue;
        ImportDocument document;
        document.sourceRow = row;
        document.texts.resize(ImportFields::documentFieldCount);
        QString fullName;
        for (int column = 0; column < options.columns.size(); ++column) {
            const ImportField field = options.columns.at(column);
            if (field == ImportField::Ignore)
                continue;
            QString text = cleanedText(table.text(row, column));
            if (text.isEmpty())
                continue;
            if (field == ImportField::FullName) {
                if (fullName.isEmpty())
                    fullName = text;
                continue;
            }
            QString& slot = document.texts[int(field)];
            if (!slot.isNull())
                continue; // the first column of a field chosen twice holds it
            if (ImportFields::isDate(field))
                text = dateText(table.rows.at(row).value(column), text);
            slot = text;
        }
        if (!fullName.isEmpty()) {
            // A column of its own for a part of the name wins over the split.
            const NameParts parts = NameParts::split(fullName);
            document.nameFromFullName = document.texts.at(int(ImportField::Surname)).isNull();
            const std::pair<ImportField, QString> split[] = {{ImportField::Surname, parts.surname},
                                                             {ImportField::Name, parts.name},
                                                             {ImportField::Patronymic, parts.patronymic}};
            for (const auto& [field, text] : split)
                if (document.texts.at(int(field)).isNull() && !text.isEmpty())
                    document.texts[int(field)] = text;
        }
        result.append(document);
    }
    return result;
}

void ImportPlan::number(QVector<ImportDocument>* documents, const ImportOptions& options) {
    const QString firstAtt = options.firstAttNumber.trimmed();
    const QString firstReg = options.firstRegNumber.trimmed();
    int attSteps = 0, regSteps = 0;
    for (ImportDocument& document : *documents) {
        document.numberedAttNumber.clear();
        document.numberedRegNumber.clear();
        if (!document.included)
            continue;
        if (!firstAtt.isEmpty() && document.text(ImportField::AttNumber).trimmed().isEmpty())
            document.numberedAttNumber = NumberSequence::nth(firstAtt, attSteps++);
        if (!firstReg.isEmpty() && document.text(ImportField::RegNumber).trimmed().isEmpty())
            document.numberedRegNumber = NumberSequence::nth(firstReg, regSteps++);
    }
}

void ImportPlan::check(QVector<ImportDocument>* documents, const ImportOptions& options, const QSet<QString>& taken) {
    for (ImportDocument& document : *documents) {
        document.problems.clear();
        document.warnings.clear();
        if (!document.included)
            continue;
        checkTexts(&document, options);
        checkNameWords(&document, options);
        checkDates(&document, options);
    }
    checkPeople(documents, options);
    // A duplicate repeats the number of the certificate it replaces.
    if (!isDuplicateTemplate(options))
        checkUnique(documents, options, ImportField::AttNumber,
                    QStringLiteral("Номер свидетельства повторяется в файле: %1"), &taken,
                    QStringLiteral("Номер свидетельства уже есть в реестре: %1"));
    checkUnique(documents, options, ImportField::RegNumber,
                QStringLiteral("Регистрационный номер повторяется в файле: %1"), nullptr, QString());
}

void ImportPlan::checkAgainstRegistry(QVector<ImportDocument>* documents, const ImportOptions& options,
                                      const RegistryMatches& registry) {
    const bool duplicates = isDuplicateTemplate(options);
    QHash<QString, const RegistryPerson*> byPerson;
    QHash<QString, QVector<const RegistryPerson*>> bySnils;
    for (const RegistryPerson& person : registry.people) {
        if (!person.surname.trimmed().isEmpty())
            byPerson.insert(personKey(person), &person);
        if (!person.snils.isEmpty())
            bySnils[person.snils].append(&person);
    }
    for (ImportDocument& document : *documents) {
        if (!document.included)
            continue;
        const RegistryPerson person = personOf(document, options);
        // A duplicate is issued to someone the registry holds.
        if (!duplicates && !person.surname.isEmpty() && byPerson.contains(personKey(person)))
            document.warnings.append(
                {ImportField::Surname, QStringLiteral("Уже есть в реестре: %1").arg(personText(person))});
        for (const RegistryPerson* other : bySnils.value(person.snils)) {
            if (samePerson(person, *other))
                continue;
            addProblem(&document, ImportField::Snils,
                       QStringLiteral("СНИЛС уже есть в реестре у другого человека: %1").arg(personText(*other)));
            break;
        }
        const QString regNumber = document.effectiveText(ImportField::RegNumber, options);
        if (!regNumber.isEmpty() && registry.regNumbers.contains(regNumber))
            addProblem(&document, ImportField::RegNumber,
                       QStringLiteral("Регистрационный номер уже есть в реестре: %1").arg(shown(regNumber)));
    }
}

bool ImportPlan::samePerson(const RegistryPerson& a, const RegistryPerson& b) {
    if (nameKey(a) != nameKey(b))
        return false;
    return !a.birthDate.isValid() || !b.birthDate.isValid() || a.birthDate == b.birthDate;
}

RegistryPerson ImportPlan::personOf(const ImportDocument& document, const ImportOptions& options) {
    RegistryPerson person;
    person.surname = document.effectiveText(ImportField::Surname, options);
    person.name = document.effectiveText(ImportField::Name, options);
    person.patronymic = document.effectiveText(ImportField::Patronymic, options);
    person.birthDate = readDate(document.effectiveText(ImportField::BirthDate, options));
    const QString snils = document.text(ImportField::Snils).trimmed();
    if (Snils::isValid(snils))
        person.snils = Snils::digits(snils);
    return person;
}

QVariantMap ImportPlan::documentColumns(const ImportDocument& document, const ImportOptions& options) {
    static const DBTable table = ProfSchema::tables().value(QStringLiteral("ProfDocuments"));
    QVariantMap columns;
    for (const DBColumn& column : table.columns) {
        // The edit date is the import's own, stamped when the row is written.
        if (!column.copyable || column.name == QLatin1String("editDate"))
            continue;
        const auto it = options.templateRow.constFind(column.name);
        if (it != options.templateRow.constEnd())
            columns.insert(column.name, it.value());
    }
    for (int f = 0; f < ImportFields::documentFieldCount; ++f) {
        const auto field = ImportField(f);
        const QString column = columnOf(field);
        if (column.isEmpty())
            continue;
        const QString text = document.effectiveText(field, options);
        if (ImportFields::isDate(field)) {
            const QDate date = readDate(text);
            columns.insert(column, date.isValid() ? QVariant(date) : QVariant(QVariant::Date));
        } else {
            columns.insert(column, text.isEmpty() ? QVariant(QVariant::String) : QVariant(text));
        }
    }
    columns.insert(QStringLiteral("isTemplate"), 0);
    return columns;
}

QVariantMap ImportPlan::frdoColumns(const ImportDocument& document) {
    QVariantMap columns;
    const QString snils = document.text(ImportField::Snils).trimmed();
    if (!snils.isEmpty())
        columns.insert(QStringLiteral("snils"), snils);
    const int sex = sexOf(document.text(ImportField::Sex));
    if (sex >= 0)
        columns.insert(QStringLiteral("sexIsMale"), sex);
    return columns;
}

QVector<ImportRecord> ImportPlan::records(const QVector<ImportDocument>& documents, const ImportOptions& options) {
    QVector<ImportRecord> result;
    result.reserve(includedCount(documents));
    for (const ImportDocument& document : documents)
        if (document.included)
            result.append(
                ImportRecord{documentColumns(document, options), frdoColumns(document), document.sourceRow + 1});
    return result;
}

int ImportPlan::includedCount(const QVector<ImportDocument>& documents) {
    int count = 0;
    for (const ImportDocument& document : documents)
        count += document.included ? 1 : 0;
    return count;
}

int ImportPlan::problemCount(const QVector<ImportDocument>& documents) {
    int count = 0;
    for (const ImportDocument& document : documents)
        count += document.included && !document.problems.isEmpty() ? 1 : 0;
    return count;
}

int ImportPlan::warningCount(const QVector<ImportDocument>& documents) {
    int count = 0;
    for (const ImportDocument& document : documents)
        count += document.included && !document.warnings.isEmpty() ? 1 : 0;
    return count;
}
