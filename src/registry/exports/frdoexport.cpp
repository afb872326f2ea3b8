#include "frdoexport.h"

#include "valuetext.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <memory>

namespace {
// The columns the computed values read; their positions are found once per export.
enum Source {
    StateDuplicate,
    Frdo18,
    Frdo19,
    Frdo20,
    IssueDateFrdo,
    BeginDate,
    EndDate,
    StudyCount,
    BirthDateFrdo,
    SexIsMale,
    Snils,
    DocNameOrig,
    DocSerialOrig,
    DocNumberOrig,
    RegNumberOrig,
    IssueDateOrig,
    Fio1Orig,
    Fio2Orig,
    Fio3Orig,
    ProfId,
    Fio1,
    Fio2,
    Fio3,
    SourceCount
};
const char* const sourceNames[SourceCount] = {
    "StateDuplicate", "frdo18",        "frdo19",        "frdo20",        "issueDateFrdo", "beginDate",
    "endDate",        "studyCount",    "birthDateFrdo", "sexIsMale",     "snils",         "DocNameOrig",
    "docSerialOrig",  "docNumberOrig", "regNumberOrig", "issueDateOrig", "fio1Orig",      "fio2Orig",
    "fio3Orig",       "profId",        "fio1",          "fio2",          "fio3"};

struct Positions {
    int at[SourceCount];
    Positions() { std::fill(std::begin(at), std::end(at), -1); }
    void find(const QSqlRecord& record) {
        for (int s = 0; s < SourceCount; ++s)
            at[s] = record.indexOf(QLatin1String(sourceNames[s])); // without regard to case
    }
    // A missing column reads as NULL.
    QVariant value(const QSqlQuery& query, Source s) const { return at[s] < 0 ? QVariant() : query.value(at[s]); }
    QString text(const QSqlQuery& query, Source s) const { return value(query, s).toString(); }
    bool duplicate(const QSqlQuery& query) const { return value(query, StateDuplicate).toInt() >= 1; }
    QString date(const QSqlQuery& query, Source s, const QString& format) const {
        const QVariant stored = value(query, s);
        // Reading a blank through every date layout costs more than the rest of the row.
        if (stored.toString().trimmed().isEmpty())
            return QString();
        return ValueText::dateFromValue(stored).toString(format);
    }
};

using Compute = std::function<QString(const QSqlQuery&)>;

XlsxExportColumn keyColumn(const char* header, int width, const char* key) {
    return {QString::fromUtf8(header), width, QLatin1String(key), {}};
}

XlsxExportColumn computedColumn(const char* header, int width, Compute compute) {
    return {QString::fromUtf8(header), width, QString(), std::move(compute)};
}
} // namespace

XlsxExportSpec FrdoExport::layout() {
    const auto p = std::make_shared<Positions>();
    const QString day = QStringLiteral("dd.MM.yyyy");
    const QString year = QStringLiteral("yyyy");
    // The stored confirmation of a loss, exchange or destruction; an original has none to confirm.
    const auto confirmation = [p](Source s) {
        return [p, s](const QSqlQuery& q) {
            const QString stored = p->text(q, s);
            return !p->duplicate(q) && !stored.isEmpty() ? QStringLiteral("Нет") : stored;
        };
    };
    const auto ofDuplicate = [p](Source s) {
        return [p, s](const QSqlQuery& q) { return p->duplicate(q) ? p->text(q, s) : QString(); };
    };
    const auto date = [p](Source s, const QString& format) {
        return [p, s, format](const QSqlQuery& q) { return p->date(q, s, format); };
    };

    XlsxExportSpec layout;
    layout.title = QStringLiteral("FRDO");
    layout.sheetName = QStringLiteral("ФРДО");
    // Only the names come from the document: every column read is converted on every row.
    layout.selectSql = QStringLiteral("SELECT ProfFrdo.*, ProfDocuments.fio1, ProfDocuments.fio2, ProfDocuments.fio3 "
                                      "FROM ProfDocuments INNER JOIN ProfFrdo ON ProfDocuments.profId = "
                                      "ProfFrdo.profId WHERE 1=1 ");
    layout.idColumn = QStringLiteral("ProfDocuments.profId");
    layout.nameColumns = QStringList{QStringLiteral("ProfDocuments.fio1"), QStringLiteral("ProfDocuments.fio2"),
                                     QStringLiteral("ProfDocuments.fio3")};
    layout.rowName = [p](const QSqlQuery& q) {
        const QStringList parts = {p->text(q, Fio1), p->text(q, Fio2), p->text(q, Fio3)};
        return XlsxExport::documentName(parts.join(QLatin1Char(' ')), p->value(q, ProfId).toLongLong());
    };
    layout.prepare = [p](const QSqlRecord& record) { p->find(record); };
    layout.columns = {
        keyColumn("Вид документа", 50, "docType"),
        computedColumn("Статус документа", 10,
                       [p](const QSqlQuery& q) {
                           return p->duplicate(q) ? QStringLiteral("Дубликат") : QStringLiteral("Оригинал");
                       }),
        computedColumn("Подтверждение утраты", 7, confirmation(Frdo18)),
        computedColumn("Подтверждение обмена", 7, confirmation(Frdo19)),
        computedColumn("Подтверждение уничтожения", 7, confirmation(Frdo20)),
        keyColumn("Серия документа", 8, "docSerial"),
        keyColumn("Номер документа", 8, "docNumber"),
        computedColumn("Дата выдачи документа", 10, date(IssueDateFrdo, day)),
        keyColumn("Регистрационный номер", 9, "regNumberFrdo"),
        keyColumn("Программа профессионального обучения, направление подготовки", 9, "frdo13"),
        keyColumn("Наименование программы профессионального обучения", 9, "frdo14"),
        keyColumn("Наименование профессий рабочих, должностей служащих", 9, "frdo15"),
        keyColumn("Присвоенный квалификационный разряд, класс, категория (при наличии)", 9, "frdo16"),
        computedColumn("Год начала обучения", 10, date(BeginDate, year)),
        computedColumn("Год окончания обучения", 10, date(EndDate, year)),
        computedColumn("Срок обучения, часов", 9,
                       [p](const QSqlQuery& q) { return QString::number(p->value(q, StudyCount).toInt()); }),
        keyColumn("Фамилия получателя", 12, "fio1"),
        keyColumn("Имя получателя", 12, "fio2"),
        keyColumn("Отчество получателя", 12, "fio3"),
        computedColumn("Дата рождения получателя", 10, date(BirthDateFrdo, day)),
        computedColumn("Пол получателя", 10,
                       [p](const QSqlQuery& q) {
                           const int sex = p->value(q, SexIsMale).toInt();
                           return sex > 0 ? QStringLiteral("Муж") : sex < 0 ? QStringLiteral("Жен") : QString();
                       }),
        computedColumn("СНИЛС", 10, [p](const QSqlQuery& q) { return ValueText::digitsOnly(p->text(q, Snils)); }),
        keyColumn("Гражданство получателя (код страны по ОКСМ)", 10, "frdo21"),
        keyColumn("Форма обучения", 10, "frdo22"),
        keyColumn("Источник финансирования обучения", 10, "frdo23"),
        keyColumn("Форма получения образования на момент прекращения образовательных отношений", 10, "frdo24"),
        computedColumn("Наименование документа об образовании (оригинала)", 10, ofDuplicate(DocNameOrig)),
        computedColumn("Серия (оригинала)", 10, ofDuplicate(DocSerialOrig)),
        computedColumn("Номер (оригинала)", 10, ofDuplicate(DocNumberOrig)),
        computedColumn("Регистрационный N (оригинала)", 10, ofDuplicate(RegNumberOrig)),
        computedColumn(
            "Дата выдачи (оригинала)", 10,
            [p, day](const QSqlQuery& q) { return p->duplicate(q) ? p->date(q, IssueDateOrig, day) : QString(); }),
        computedColumn("Фамилия получателя (оригинала)", 10, ofDuplicate(Fio1Orig)),
        computedColumn("Имя получателя (оригинала)", 10, ofDuplicate(Fio2Orig)),
        computedColumn("Отчество получателя (оригинала)", 10, ofDuplicate(Fio3Orig)),
        computedColumn("Номер документа для изменения", 10, [](const QSqlQuery&) { return QString(); }),
    };
    return layout;
}
