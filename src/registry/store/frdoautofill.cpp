#include "frdoautofill.h"

#include <QSqlRecord>
#include <algorithm>

namespace {
bool isDuplicate(const AutoFillSource& source) {
    return source(QStringLiteral("isDuplicate")).toInt() > 0;
}

using Compute = std::function<QVariant(const AutoFillSource&, const AutoFillStored&)>;

AutoFillField copied(const char* target, const char* source) {
    return {QLatin1String(target), QLatin1String(source), {}};
}

AutoFillField computed(const char* target, Compute compute) {
    return {QLatin1String(target), QString(), std::move(compute)};
}

// A rule of the source record alone.
AutoFillField computed(const char* target, QVariant (*compute)(const AutoFillSource&)) {
    return computed(target, [compute](const AutoFillSource& source, const AutoFillStored&) { return compute(source); });
}

// A duplicate carries the name it is issued to into the original's name columns.
AutoFillField originalName(const char* target, const char* nameColumn) {
    const QString column = QLatin1String(target);
    const QString name = QLatin1String(nameColumn);
    return computed(target, [column, name](const AutoFillSource& source, const AutoFillStored& stored) {
        return isDuplicate(source) ? QVariant(source(name).toString()) : stored.target(column);
    });
}

// The duplicate's answers stay as entered; an original answers "Нет".
AutoFillField duplicateAnswer(const char* target) {
    const QString column = QLatin1String(target);
    return computed(target, [column](const AutoFillSource& source, const AutoFillStored& stored) {
        return isDuplicate(source) ? stored.target(column) : QVariant(QStringLiteral("Нет"));
    });
}

QVariant sexIsMale(const AutoFillSource& source) {
    const QString patronymic = source(QStringLiteral("fio3")).toString().trimmed();
    return patronymic.endsWith(QStringLiteral("а"), Qt::CaseInsensitive) ? -1 : 1;
}

// Both kinds of certificate this registry issues, of a worker's profession (certificateType 1, and
// anything but 2) and of an employee's position (2), are one kind in FRDO. A kind the clerk chose
// ("Справка об обучении") stays.
QVariant frdoDocumentKind(const AutoFillSource&, const AutoFillStored& stored) {
    const QVariant kind = stored.target(QStringLiteral("DocType"));
    if (!kind.toString().trimmed().isEmpty())
        return kind;
    return QStringLiteral("Свидетельство о профессии рабочего, должности служащего");
}

bool isAsciiDigit(QChar c) {
    return c.unicode() >= '0' && c.unicode() <= '9';
}

// Where a number written without a blank is split: where the digits begin after letters
// ("СВ100051"), nowhere in six digits or fewer (all number), else after the sixth character.
int splitWithoutBlank(const QString& number) {
    const auto firstDigit = std::find_if(number.cbegin(), number.cend(), isAsciiDigit);
    const int digitsAt = int(firstDigit - number.cbegin());
    const bool digitsToTheEnd = std::all_of(firstDigit, number.cend(), isAsciiDigit);
    if (digitsAt > 0 && digitsAt < number.size() && digitsToTheEnd)
        return digitsAt;
    if (digitsAt == 0 && digitsToTheEnd && number.size() <= 6)
        return 0;
    return 6;
}

QVariant studyCount(const AutoFillSource&, const AutoFillStored& stored) {
    return stored.appendixHours();
}

AutoFillSpec makeRules() {
    AutoFillSpec frdo;
    frdo.table = QStringLiteral("ProfFrdo");
    frdo.insertSql = QStringLiteral("INSERT INTO ProfFrdo (profId) SELECT :id WHERE NOT EXISTS(SELECT 1 FROM "
                                    "ProfFrdo WHERE profId = :id) ON CONFLICT DO NOTHING;");
    frdo.selectSql = QStringLiteral("SELECT * FROM ProfDocuments WHERE profId=:id;");
    const auto attNumber = [](const AutoFillSource& source) {
        return FrdoAutoFill::attNumberParts(source(QStringLiteral("attNumber")));
    };
    frdo.fields = {
        copied("issueDateFrdo", "issueDate"),
        copied("RegNumberFrdo", "regNumber"),
        copied("birthDateFrdo", "birthDate"),
        computed("SexIsMale", sexIsMale),
        computed("DocSerial",
                 [attNumber](const AutoFillSource& source, const AutoFillStored&) { return attNumber(source).first; }),
        computed("DocNumber",
                 [attNumber](const AutoFillSource& source, const AutoFillStored&) { return attNumber(source).second; }),
        computed("DocType", frdoDocumentKind),
        copied("StateDuplicate", "isDuplicate"),
        copied("beginDate", "startDate"),
        copied("endDate", "finishDate"),
        copied("frdo15", "profession"),
        originalName("fio1orig", "fio1"),
        originalName("fio2orig", "fio2"),
        originalName("fio3orig", "fio3"),
        duplicateAnswer("frdo18"),
        duplicateAnswer("frdo19"),
        duplicateAnswer("frdo20"),
        computed("studyCount", studyCount),
        copied("frdo14", "profProgName"),
        copied("frdo16", "qual"),
    };
    return frdo;
}
} // namespace

QMap<QString, QVariant> AutoFillSpec::values(const AutoFillSource& source, const AutoFillStored& stored) const {
    QMap<QString, QVariant> values;
    for (const AutoFillField& field : fields) {
        QVariant value;
        if (field.source.isEmpty()) {
            value = field.compute ? field.compute(source, stored) : QVariant();
        } else {
            const QVariant copied = source(field.source);
            if (!copied.isNull()) // a NULL number stays NULL, not "0"
                value = copied.toString();
        }
        values.insert(field.target, value);
    }
    return values;
}

QMap<QString, QVariant> AutoFillSpec::values(const QSqlRecord& source, const AutoFillStored& stored) const {
    return values([&source](const QString& column) { return source.value(column); }, stored);
}

const AutoFillSpec& FrdoAutoFill::rules() {
    static const AutoFillSpec frdo = makeRules();
    return frdo;
}

QPair<QVariant, QVariant> FrdoAutoFill::attNumberParts(const QVariant& stored) {
    if (stored.isNull())
        return {QVariant(QVariant::String), QVariant(QVariant::String)};
    const QString number = stored.toString().trimmed();
    const auto blank = std::find_if(number.cbegin(), number.cend(), [](QChar c) { return c.isSpace(); });
    const int at = blank == number.cend() ? -1 : int(blank - number.cbegin());
    const int cut = at < 0 ? splitWithoutBlank(number) : at;
    const QString series = number.left(cut);
    const QString rest = at < 0 ? number.mid(cut) : number.mid(at + 1).trimmed();
    // A null text would be bound as NULL.
    return {series.isNull() ? QStringLiteral("") : series, rest.isNull() ? QStringLiteral("") : rest};
}
