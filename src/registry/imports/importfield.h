#pragma once

#include <QString>

// What a column of an imported table holds. Every field but FullName is one value of a document;
// FullName is split into Surname, Name and Patronymic.
enum class ImportField {
    Ignore = -1,
    Surname,
    Name,
    Patronymic,
    BirthDate,
    Sex,
    Snils,
    AttNumber,
    RegNumber,
    IssueDate,
    StartDate,
    FinishDate,
    ProtocolNumber,
    ProtocolDate,
    Profession,
    Qual,
    ProgName,
    PrevEducation,
    FullName,
};

namespace ImportFields {
// The fields a document holds (FullName and Ignore excluded), in the preview's column order.
constexpr int documentFieldCount = int(ImportField::FullName);
// The Russian title of a field, as the column choice and the preview show it.
QString title(ImportField field);
// The stable name under which a column choice is remembered ("surname", "birthDate", ...).
QString key(ImportField field);
ImportField fromKey(const QString& key);
// The field a header text names, case, blanks, "ё" and punctuation ignored ("ФИО", "Ф.И.О.",
// "Фамилия", "Дата  рождения", "СНИЛС", "Номер свидетельства", "Серия и номер", "Рег. номер"...);
// Ignore when none.
ImportField fromHeader(const QString& header);
// A header text as fromHeader compares it: lower case, "ё" as "е", letters and digits only.
QString normalisedHeader(const QString& header);
bool isDate(ImportField field);
// Whether the field's text may run over several lines (and hold a tab), as the qualification does
// in the document dialog; a name, a number or a date never does.
bool mayHoldLineBreaks(ImportField field);
} // namespace ImportFields
