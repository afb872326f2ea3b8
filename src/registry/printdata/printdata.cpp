#include "printdata.h"

#include "appkeys.h"
#include "database.h"
#include "mzlog.h"
#include "settingsregistry.h"
#include "storequery.h"
#include "valuetext.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

namespace {
bool hideZeroInDate() {
    return SettingsRegistry::instance()->value(Keys::hideZeroInDate).toBool();
}

QString format(const QDate& date, const char* pattern) {
    return date.isValid() ? date.toString(QLatin1String(pattern)) : QString();
}

// Runs `sql` with `value` bound (when valid) and moves to the first row. A statement that cannot
// be prepared keeps SQLite's reason, which running it would replace by a parameter mismatch.
bool first(QSqlQuery& query, const QString& sql, const QVariant& value) {
    query.setForwardOnly(true);
    if (!StoreQuery::prepare(query, sql, nullptr))
        return false;
    if (value.isValid())
        query.addBindValue(value);
    return StoreQuery::exec(query) && query.next();
}

enum DatePart { Words = 1, Digits = 2, Day = 4, Month = 8, Year = 16, YearShort = 32 };

// Collects the variables of one document in the order a page gets them.
class Values {
public:
    explicit Values(PrintValues* out) : _out(out) {}
    void set(const QString& name, const QVariant& value, bool markup = false) {
        _out->variables.append(PrintValues::Variable{name, value, markup});
    }
    void set(const char* name, const QVariant& value) { set(QLatin1String(name), value); }
    // The variables of one date: `base` in words, then "_digit", "_day", "_month", "_year" and
    // "_year_short" as `parts` asks.
    void setDate(const QString& base, const QDate& date, bool hideZero, int parts) {
        if (parts & Words)
            set(base, PrintData::dateInWords(date, hideZero));
        if (parts & Digits)
            set(base + QStringLiteral("_digit"), format(date, "dd.MM.yyyy"));
        if (parts & Day)
            set(base + QStringLiteral("_day"), PrintData::dayText(date, hideZero));
        if (parts & Month)
            set(base + QStringLiteral("_month"), PrintData::monthName(date));
        if (parts & Year)
            set(base + QStringLiteral("_year"), format(date, "yyyy"));
        if (parts & YearShort)
            set(base + QStringLiteral("_year_short"), format(date, "yy"));
    }

private:
    PrintValues* _out;
};

// The sum of the document's appendix hours, as the forms state it.
QVariant totalHours(const QVariant& profId, QString* error) {
    QSqlQuery query(QSqlDatabase::database());
    const bool read =
        first(query, QStringLiteral("SELECT SUM(COALESCE(count,0)) FROM ProfDetails WHERE profId = ?;"), profId);
    if (query.lastError().isValid()) {
        *error = StoreQuery::reasonOf(query);
        return QVariant();
    }
    return read ? query.value(0) : QVariant();
}

template <typename Value> void setRecordValues(Values& values, const Value& value, const QVariant& total) {
    const auto text = [&](const char* column) { return value(column).toString(); };
    const bool hideZero = hideZeroInDate();

    const QString fullName = text("fio1") + QLatin1Char(' ') + text("fio2") + QLatin1Char(' ') + text("fio3");
    values.set("Last_Name", text("fio1"));
    values.set("First_Name", text("fio2"));
    values.set("Middle_Name", text("fio3"));
    values.set("Full_Name", fullName);
    values.set("Full_Name_short", PrintData::shortName(fullName));

    values.setDate(QStringLiteral("birth"), value("birthDate").toDate(), hideZero,
                   Words | Day | Month | Year | YearShort | Digits);

    values.set("protocol_Number", text("protocolNumber"));
    values.set("reg_Number", text("regNumber"));
    values.setDate(QStringLiteral("protocol_Date"), value("protocolDate").toDate(), hideZero, Words | Digits);

    values.setDate(QStringLiteral("Issue_Out"), value("issueDate").toDate(), hideZero,
                   Words | Digits | Day | Month | Year | YearShort);

    values.set("Reg_Number", text("regNumber"));
    values.set("att_Number", text("attNumber"));
    values.set("comment", text("comment"));
    values.set("add_info", text("addInfo"));
    values.set("qual", text("qual"));
    values.set("profession", text("profession"));
    values.set("prev_education", text("prevEducation"));
    values.set("is_excellent", value("isExcellent").toBool() ? QStringLiteral("с отличием") : QString());
    values.set("is_duplicate", value("isDuplicate").toBool() ? QStringLiteral("ДУБЛИКАТ") : QString());
    values.set("Certificate_type", value("certificateType").toInt() == 2 ? QStringLiteral("по должности служащего")
                                                                         : QStringLiteral("по профессии рабочего"));

    for (const char* column : {"startDate", "finishDate"})
        values.setDate(QLatin1String(column), ValueText::dateFromValue(value(column)), hideZero,
                       Words | Digits | Day | Month | Year);

    const qint64 hours = total.toLongLong();
    // The line break is markup on purpose.
    values.set(QStringLiteral("total_count"),
               value("showTotalCount").toInt() > 0
                   ? QStringLiteral("в объёме:<br>%1 %2").arg(hours).arg(PrintData::hoursWord(hours))
                   : QString(),
               true);
}

// The organisation's values from the data store; the first failure goes to `error`.
void setOrganisationValues(Values& values, QString* error) {
    Database* db = Database::instance();
    QHash<QString, QString> read;
    const auto organisation = [&](const char* variable, const char* key, bool shortened) {
        const QString name = QLatin1String(key);
        if (!read.contains(name))
            read.insert(name, db->variable(name, error->isEmpty() ? error : nullptr));
        const QString v = read.value(name);
        values.set(variable, shortened ? PrintData::shortName(v) : v);
    };
    organisation("Boss", "Data/Boss", false);
    organisation("Boss_short", "Data/Boss", true);
    organisation("Boss2", "Data/Boss_2", false);
    organisation("Boss2_short", "Data/Boss_2", true);
    organisation("Boss3", "Data/Boss_3", false);
    organisation("Boss3_short", "Data/Boss_3", true);
    organisation("City", "Data/City", false);
    organisation("Org_Name", "Data/OrgName_1", false);
    organisation("Org_Name_short", "Data/OrgName_2", false);
}

bool readAppendix(qint64 sqlDocId, PrintValues* out, QString* error) {
    QSqlQuery query(QSqlDatabase::database());
    query.setForwardOnly(true);
    if (StoreQuery::run(query, PrintData::appendixQuery(sqlDocId), error)) {
        const QSqlRecord record = query.record();
        for (int i = 0; i < record.count(); ++i)
            out->appendixColumns << record.fieldName(i);
        while (query.next()) {
            QVariantList row;
            row.reserve(record.count());
            for (int i = 0; i < record.count(); ++i)
                row << query.value(i);
            out->appendixRows << row;
        }
    }
    return !query.lastError().isValid() || StoreQuery::failed(query, error);
}
} // namespace

QVariant PrintValues::value(const QString& name) const {
    for (auto it = variables.crbegin(); it != variables.crend(); ++it) {
        if (it->name.compare(name, Qt::CaseInsensitive) == 0)
            return it->value;
    }
    return QVariant();
}

QString PrintData::appendixModelName() {
    return QStringLiteral("ViewProfDetails");
}

bool PrintData::read(qint64 sqlDocId, bool forPrinting, PrintValues* out, QString* error) {
    *out = PrintValues();
    QString failure;
    const auto fail = [&](const QString& reason) {
        MZ_LOG() << "document" << sqlDocId << "not read:" << reason;
        if (error)
            *error = reason;
        return false;
    };
    QSqlQuery row(QSqlDatabase::database());
    const bool found = forPrinting
                           ? first(row, QStringLiteral("SELECT * FROM ProfDocuments WHERE profId = ?;"), sqlDocId)
                           : first(row, QStringLiteral("SELECT * FROM ProfDocuments LIMIT 1;"), QVariant());
    if (row.lastError().isValid())
        return fail(StoreQuery::reasonOf(row));
    if (!found && forPrinting)
        return true;
    out->found = found;
    const QSqlRecord record = row.record();
    const auto value = [&](const char* column) {
        return found ? row.value(record.indexOf(QLatin1String(column))) : QVariant();
    };
    const QVariant total = found ? totalHours(value("profId"), &failure) : QVariant();
    Values values(out);
    setRecordValues(values, value, total);
    setOrganisationValues(values, &failure);
    values.set("prof_Prog_Name", value("profProgName").toString());
    QString appendixFailure;
    if (!readAppendix(sqlDocId, out, &appendixFailure) && failure.isEmpty())
        failure = appendixFailure;
    return failure.isEmpty() || fail(failure);
}

QString PrintData::dayText(const QDate& date) {
    return dayText(date, hideZeroInDate());
}

QString PrintData::dayText(const QDate& date, bool hideZero) {
    if (!date.isValid())
        return QString();
    const QString day = QString::number(date.day());
    return date.day() < 10 && !hideZero ? QStringLiteral("0") + day : day;
}

QString PrintData::monthName(const QDate& date) {
    static const char* const months[] = {"января", "февраля", "марта",    "апреля",  "мая",    "июня",
                                         "июля",   "августа", "сентября", "октября", "ноября", "декабря"};
    return date.isValid() ? QString::fromUtf8(months[date.month() - 1]) : QString();
}

QString PrintData::dateInWords(const QDate& date) {
    return dateInWords(date, hideZeroInDate());
}

QString PrintData::dateInWords(const QDate& date, bool hideZero) {
    if (!date.isValid())
        return QString();
    return QStringLiteral("%1 %2 %3").arg(dayText(date, hideZero), monthName(date)).arg(date.year());
}

QString PrintData::hoursWord(qint64 n) {
    const qint64 r = n % 100;
    if (r >= 5 && r <= 20)
        return QStringLiteral("академических часов");
    switch (n % 10) {
    case 1:
        return QStringLiteral("академический час");
    case 2:
    case 3:
    case 4:
        return QStringLiteral("академических часа");
    default:
        return QStringLiteral("академических часов");
    }
}

QString PrintData::shortName(const QString& fullName) {
    QStringList parts = fullName.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const int n = parts.size();
    if (n > 1)
        parts[n - 1] = parts[n - 1].left(1).toUpper() + QLatin1Char('.');
    if (n > 2) {
        parts[n - 2] = parts[n - 2].left(1).toUpper() + QLatin1Char('.') + parts[n - 1];
        parts.removeLast();
    }
    return parts.join(QLatin1Char(' '));
}

// The id's name is quoted: the server would give it in lower case, and a form's table looks
// columns up as written. The order is the outer query's, where both stores keep it.
QString PrintData::appendixQuery(qint64 sqlDocId) {
    return QStringLiteral(
               "SELECT profId AS \"profId\", col1, col2, col3 FROM(SELECT profId, name AS col1, count AS col2, "
               "rate AS col3, 1 AS order1, detId AS order2 FROM ProfDetails WHERE profId = %1 UNION SELECT "
               "Det.profId, 'ВСЕГО:' AS col1, SUM(COALESCE(count,0))AS col2, '' AS col3, 2 AS order1, 0 AS order2 "
               "FROM ProfDetails Det INNER JOIN ProfDocuments Doc ON Det.profId=doc.ProfId WHERE Det.profId = %1 AND "
               "COALESCE(hideTotalCountInAdd,0)=0 GROUP BY Det.profId) AS rows ORDER BY order1, order2;")
        .arg(sqlDocId);
}
