#include "importfield.h"

#include <QHash>

namespace {
struct FieldInfo {
    ImportField field;
    const char* key;
    const char* title;
    // Header texts that name the field besides its title; compared after normalisation.
    std::initializer_list<const char*> synonyms;
};

// The titles are the document dialog's labels, so that the preview reads like the dialog.
const std::initializer_list<FieldInfo>& fieldTable() {
    static const std::initializer_list<FieldInfo> table = {
        {ImportField::Surname, "surname", "Фамилия", {"фамилия"}},
        {ImportField::Name, "name", "Имя", {"имя"}},
        {ImportField::Patronymic, "patronymic", "Отчество", {"отчество"}},
        {ImportField::BirthDate, "birthDate", "Дата рождения", {"дата рождения", "дата рожд"}},
        {ImportField::Sex, "sex", "Пол", {"пол"}},
        {ImportField::Snils, "snils", "СНИЛС", {"снилс", "страховой номер"}},
        {ImportField::AttNumber,
         "attNumber",
         "Серия/номер свидетельства",
         {"номер свидетельства", "серия и номер", "серия номер", "серия и номер свидетельства", "номер документа"}},
        {ImportField::RegNumber, "regNumber", "Регистрационный номер", {"регистрационный номер", "рег номер"}},
        {ImportField::IssueDate, "issueDate", "Дата выдачи", {"дата выдачи"}},
        {ImportField::StartDate, "startDate", "Начало обучения", {"дата начала обучения", "начало обучения"}},
        {ImportField::FinishDate,
         "finishDate",
         "Завершение обучения",
         {"дата окончания", "дата окончания обучения", "завершение обучения", "окончание", "окончание обучения"}},
        {ImportField::ProtocolNumber, "protocolNumber", "Номер протокола", {"номер протокола"}},
        {ImportField::ProtocolDate, "protocolDate", "Дата протокола", {"дата протокола"}},
        {ImportField::Profession, "profession", "Профессия (должность)", {"профессия", "должность"}},
        {ImportField::Qual, "qual", "Квалификация (разряд)", {"квалификация", "разряд"}},
        {ImportField::ProgName,
         "progName",
         "Наименование программы проф. обучения",
         {"программа", "наименование программы"}},
        {ImportField::PrevEducation,
         "prevEducation",
         "Документ о предыдущем обр.",
         {"предыдущее образование", "документ о предыдущем образовании"}},
        {ImportField::FullName,
         "fullName",
         "ФИО",
         {"фио", "фамилия имя отчество", "фио полностью", "фамилия, имя, отчество"}},
    };
    return table;
}

const FieldInfo* info(ImportField field) {
    for (const FieldInfo& i : fieldTable())
        if (i.field == field)
            return &i;
    return nullptr;
}

const QHash<QString, ImportField>& headerTable() {
    static const QHash<QString, ImportField> table = [] {
        QHash<QString, ImportField> t;
        for (const FieldInfo& i : fieldTable()) {
            t.insert(ImportFields::normalisedHeader(QString::fromUtf8(i.title)), i.field);
            for (const char* synonym : i.synonyms)
                t.insert(ImportFields::normalisedHeader(QString::fromUtf8(synonym)), i.field);
        }
        return t;
    }();
    return table;
}
} // namespace

QString ImportFields::title(ImportField field) {
    const FieldInfo* i = info(field);
    return i ? QString::fromUtf8(i->title) : QStringLiteral("Не загружать");
}

QString ImportFields::key(ImportField field) {
    const FieldInfo* i = info(field);
    return i ? QString::fromLatin1(i->key) : QStringLiteral("ignore");
}

ImportField ImportFields::fromKey(const QString& key) {
    for (const FieldInfo& i : fieldTable())
        if (key == QLatin1String(i.key))
            return i.field;
    return ImportField::Ignore;
}

ImportField ImportFields::fromHeader(const QString& header) {
    // No header is this long; a cell of a megabyte is not normalised for nothing.
    if (header.size() > 200)
        return ImportField::Ignore;
    return headerTable().value(ImportFields::normalisedHeader(header), ImportField::Ignore);
}

bool ImportFields::isDate(ImportField field) {
    switch (field) {
    case ImportField::BirthDate:
    case ImportField::IssueDate:
    case ImportField::StartDate:
    case ImportField::FinishDate:
    case ImportField::ProtocolDate:
        return true;
    default:
        return false;
    }
}

bool ImportFields::mayHoldLineBreaks(ImportField field) {
    return field == ImportField::Qual;
}

// "Ф.И.О." and "фио" are the same header.
QString ImportFields::normalisedHeader(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (!c.isLetterOrNumber())
            continue;
        const QChar lower = c.toLower();
        result.append(lower == QChar(0x0451) ? QChar(0x0435) : lower);
    }
    return result;
}
