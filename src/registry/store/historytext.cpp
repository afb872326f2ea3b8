#include "historytext.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace {
const QString nothing = QStringLiteral("—");
const QString arrow = QStringLiteral(" → ");
const QString wholeDocument = QStringLiteral("Весь документ");

using Captions = QHash<QString, QString>;

const Captions& documentCaptions() {
    static const Captions captions = {
        {"isTemplate", "Шаблон"},
        {"isDuplicate", "Дубликат"},
        {"isExcellent", "С отличием"},
        {"fio1", "Фамилия"},
        {"fio2", "Имя"},
        {"fio3", "Отчество"},
        {"birthDate", "Дата рождения"},
        {"prevEducation", "Предыдущее образование"},
        {"certificateType", "Вид документа"},
        {"profession", "Профессия"},
        {"qual", "Квалификация"},
        {"protocolNumber", "Номер протокола"},
        {"protocolDate", "Дата протокола"},
        {"regNumber", "Рег. номер"},
        {"issueDate", "Дата выдачи"},
        {"comment", "Комментарий"},
        {"attNumber", "Номер свидетельства"},
        {"addInfo", "Дополнительные сведения"},
        {"showTotalCount", "Общее количество часов"},
        {"hideTotalCountInAdd", "Без общего количества часов в приложении"},
        {"profProgName", "Программа обучения"},
        {"startDate", "Начало обучения"},
        {"finishDate", "Окончание обучения"},
    };
    return captions;
}

const Captions& subjectCaptions() {
    static const Captions captions = {{"name", "Предмет"}, {"count", "Часы"}, {"rate", "Оценка"}};
    return captions;
}

const Captions& frdoCaptions() {
    static const Captions captions = {
        {"sexIsMale", "Пол мужской"},
        {"snils", "СНИЛС"},
        {"studyPeriod", "Срок обучения"},
        {"docSerial", "Серия документа"},
        {"docNumber", "Номер документа"},
        {"RegNumberFrdo", "Рег. номер"},
        {"docName", "Наименование документа"},
        {"docType", "Вид документа"},
        {"educationLevel", "Уровень образования"},
        {"StateDuplicate", "Дубликат"},
        {"docNameOrig", "Наименование оригинала"},
        {"issueDateOrig", "Дата выдачи оригинала"},
        {"docSerialOrig", "Серия оригинала"},
        {"docNumberOrig", "Номер оригинала"},
        {"regNumberOrig", "Рег. номер оригинала"},
        {"fio1orig", "Фамилия в оригинале"},
        {"fio2orig", "Имя в оригинале"},
        {"fio3orig", "Отчество в оригинале"},
        {"studyCount", "Количество часов"},
        {"birthDateFrdo", "Дата рождения"},
        {"beginDate", "Начало обучения"},
        {"endDate", "Окончание обучения"},
        {"issueDateFrdo", "Дата выдачи"},
    };
    return captions;
}

// Columns holding 0 or 1 for no and yes.
bool isFlag(const QString& field) {
    static const QSet<QString> flags = {"isTemplate",          "isDuplicate", "isExcellent",   "showTotalCount",
                                        "hideTotalCountInAdd", "sexIsMale",   "StateDuplicate"};
    return flags.contains(field);
}

QString documentText(const HistoryJournal::Entry& entry) {
    QString text = entry.docName.trimmed();
    if (!entry.attNumber.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral(", ")) + QStringLiteral("№ ") + entry.attNumber;
    return text.isEmpty() ? QStringLiteral("документ %1").arg(entry.profId) : text;
}

// A subject added or removed whole: its values other than the name, which the row already says.
QString subjectText(const QJsonObject& subject) {
    QStringList parts;
    for (const char* field : {"count", "rate"}) {
        const QString column = QLatin1String(field);
        if (subject.contains(column))
            parts << QStringLiteral("%1: %2").arg(
                subjectCaptions().value(column),
                HistoryText::valueText(QStringLiteral("ProfDetails"), column, subject.value(column)));
    }
    return parts.isEmpty() ? QStringLiteral("есть") : parts.join(QStringLiteral(", "));
}

HistoryText::Row rowOf(const QJsonObject& change) {
    const QString table = change.value(QLatin1String("table")).toString();
    const QString field = change.value(QLatin1String("field")).toString();
    const QJsonValue before = change.value(QLatin1String("old"));
    const QJsonValue after = change.value(QLatin1String("new"));
    HistoryText::Row row;
    if (table == QLatin1String("ProfDetails")) {
        row.what = QStringLiteral("Приложение, «%1»").arg(change.value(QLatin1String("name")).toString());
        if (field.isEmpty()) {
            row.change = (before.isObject() ? subjectText(before.toObject()) : nothing) + arrow +
                         (after.isObject() ? subjectText(after.toObject()) : nothing);
            return row;
        }
        row.what += QStringLiteral(": ") + HistoryText::fieldCaption(table, field);
    } else {
        row.what = HistoryText::fieldCaption(table, field);
    }
    row.change = HistoryText::valueText(table, field, before) + arrow + HistoryText::valueText(table, field, after);
    return row;
}
} // namespace

QString HistoryText::fieldCaption(const QString& table, const QString& field) {
    if (table == QLatin1String("ProfDetails"))
        return subjectCaptions().value(field, field);
    if (table == QLatin1String("ProfFrdo")) {
        QString caption = frdoCaptions().value(field);
        if (caption.isEmpty() && field.startsWith(QLatin1String("frdo")))
            caption = QStringLiteral("графа %1").arg(field.mid(4));
        return QStringLiteral("ФРДО: ") + (caption.isEmpty() ? field : caption);
    }
    return documentCaptions().value(field, field);
}

QString HistoryText::valueText(const QString& table, const QString& field, const QJsonValue& value) {
    Q_UNUSED(table)
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString().isEmpty() ? nothing : value.toString();
    case QJsonValue::Double: {
        const double number = value.toDouble();
        if (isFlag(field) && (number == 0 || number == 1))
            return number == 1 ? QStringLiteral("да") : QStringLiteral("нет");
        return qint64(number) == number ? QString::number(qint64(number)) : QString::number(number);
    }
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("да") : QStringLiteral("нет");
    case QJsonValue::Object:
    case QJsonValue::Array:
        return QString::fromUtf8(
            QJsonDocument(value.isObject() ? QJsonDocument(value.toObject()) : QJsonDocument(value.toArray()))
                .toJson(QJsonDocument::Compact));
    default:
        return nothing;
    }
}

QVector<HistoryText::Row> HistoryText::rowsOf(const HistoryJournal::Entry& entry) {
    const bool known = DocumentHistory::code(entry.kind) == entry.kindCode;
    if (known && entry.kind == DocumentHistory::Kind::Deleted)
        return {{wholeDocument, documentText(entry) + arrow + nothing}};
    if (known && entry.kind == DocumentHistory::Kind::Restored)
        return {{wholeDocument, nothing + arrow + documentText(entry)}};
    QVector<Row> rows;
    for (const QJsonValue& change : entry.changes)
        if (change.isObject())
            rows.append(rowOf(change.toObject()));
    if (rows.isEmpty())
        rows.append({wholeDocument, documentText(entry)});
    return rows;
}

QString HistoryText::summary(const HistoryJournal::Entry& entry) {
    QStringList parts;
    for (const Row& row : rowsOf(entry))
        parts << row.what + QStringLiteral(": ") + row.change;
    return parts.join(QStringLiteral("; "));
}

QString HistoryText::who(const HistoryJournal::Entry& entry) {
    QString computer = entry.osUser;
    if (!computer.isEmpty() && !entry.host.isEmpty())
        computer += QLatin1Char('@') + entry.host;
    if (entry.login.isEmpty())
        return computer.isEmpty() ? nothing : computer;
    return computer.isEmpty() ? entry.login : QStringLiteral("%1 (%2)").arg(entry.login, computer);
}

QString HistoryText::when(const HistoryJournal::Entry& entry) {
    return entry.changedAt.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

QString HistoryText::action(const HistoryJournal::Entry& entry) {
    const bool known = DocumentHistory::code(entry.kind) == entry.kindCode;
    const QString name = known ? DocumentHistory::text(entry.kind) : entry.kindCode;
    return entry.source.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, entry.source);
}
