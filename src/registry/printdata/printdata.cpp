#include "printdata.h"

#include "appkeys.h"
#include "reportpage.h"
#include "database.h"
#include "mzlog.h"
#include "valuetext.h"
#include "settingsregistry.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QSqlRecord>
#include <QStringList>

namespace {
bool hideZeroInDate() {
    return SettingsRegistry::instance()->value(Keys::hideZeroInDate).toBool();
}

QString format(const QDate& date, const char* pattern) {
    return date.isValid() ? date.toString(QLatin1String(pattern)) : QString();
}

enum DatePart { Words = 1, Digits = 2, Day = 4, Month = 8, Year = 16, YearShort = 32 };

// The variables of one date: `base` in words, then "_digit", "_day", "_month", "_year" and
// "_year_short" as `parts` asks.
void setDate(ReportPage* page, const QString& base, const QDate& date, bool hideZero, int parts) {
    if (parts & Words)
        page->setVariable(base, PrintData::dateInWords(date, hideZero));
    if (parts & Digits)
        page->setVariable(base + QStringLiteral("_digit"), format(date, "dd.MM.yyyy"));
    if (parts & Day)
        page->setVariable(base + QStringLiteral("_day"), PrintData::dayText(date, hideZero));
    if (parts & Month)
        page->setVariable(base + QStringLiteral("_month"), PrintData::monthName(date));
    if (parts & Year)
        page->setVariable(base + QStringLiteral("_year"), format(date, "yyyy"));
    if (parts & YearShort)
        page->setVariable(base + QStringLiteral("_year_short"), format(date, "yy"));
}
} // namespace

QString PrintData::fillDocument(ReportPage* page, qint64 sqlDocId, bool forPrinting) {
    if (!page)
        return QString();
    QString sql = QStringLiteral("SELECT *, (SELECT SUM(IFNULL(count,0)) AS totalCount FROM ProfDetails WHERE "
                                 "ProfDetails.profId = ProfDocuments.profId) AS totalCount FROM ProfDocuments");
    sql += forPrinting ? QStringLiteral(" WHERE profId=%1;").arg(sqlDocId) : QStringLiteral(";");
    Database* db = Database::instance();
    QSqlQuery query = db->execSql(sql);
    if (query.lastError().type() != QSqlError::NoError)
        return query.lastError().text().trimmed();
    const bool found = query.next();
    if (query.lastError().type() != QSqlError::NoError)
        return query.lastError().text().trimmed();
    if (!found && forPrinting)
        return QString();
    const QSqlRecord record = query.record();
    const auto value = [&](const char* column) {
        return found ? query.value(record.indexOf(QLatin1String(column))) : QVariant();
    };
    const auto text = [&](const char* column) { return value(column).toString(); };
    const bool hideZero = hideZeroInDate();

    const QString fullName = text("fio1") + QLatin1Char(' ') + text("fio2") + QLatin1Char(' ') + text("fio3");
    page->setVariable(QStringLiteral("Last_Name"), text("fio1"));
    page->setVariable(QStringLiteral("First_Name"), text("fio2"));
    page->setVariable(QStringLiteral("Middle_Name"), text("fio3"));
    page->setVariable(QStringLiteral("Full_Name"), fullName);
    page->setVariable(QStringLiteral("Full_Name_short"), shortName(fullName));

    setDate(page, QStringLiteral("birth"), value("birthDate").toDate(), hideZero,
            Words | Day | Month | Year | YearShort | Digits);

    page->setVariable(QStringLiteral("protocol_Number"), text("protocolNumber"));
    page->setVariable(QStringLiteral("reg_Number"), text("regNumber"));
    setDate(page, QStringLiteral("protocol_Date"), value("protocolDate").toDate(), hideZero, Words | Digits);

    setDate(page, QStringLiteral("Issue_Out"), value("issueDate").toDate(), hideZero,
            Words | Digits | Day | Month | Year | YearShort);

    page->setVariable(QStringLiteral("Reg_Number"), text("regNumber"));
    page->setVariable(QStringLiteral("att_Number"), text("attNumber"));
    page->setVariable(QStringLiteral("comment"), text("comment"));
    page->setVariable(QStringLiteral("add_info"), text("addInfo"));
    page->setVariable(QStringLiteral("qual"), text("qual"));
    page->setVariable(QStringLiteral("profession"), text("profession"));
    page->setVariable(QStringLiteral("prev_education"), text("prevEducation"));
    page->setVariable(QStringLiteral("is_excellent"),
                      value("isExcellent").toBool() ? QStringLiteral("с отличием") : QString());
    page->setVariable(QStringLiteral("is_duplicate"),
                      value("isDuplicate").toBool() ? QStringLiteral("ДУБЛИКАТ") : QString());
    page->setVariable(QStringLiteral("Certificate_type"), value("certificateType").toInt() == 2
                                                              ? QStringLiteral("по должности служащего")
                                                              : QStringLiteral("по профессии рабочего"));

    for (const char* column : {"startDate", "finishDate"})
        setDate(page, QLatin1String(column), ValueText::dateFromValue(value(column)), hideZero,
                Words | Digits | Day | Month | Year);

    const qint64 total = value("totalCount").toLongLong();
    // The line break is markup on purpose.
    page->setVariable(QStringLiteral("total_count"),
                      value("showTotalCount").toInt() > 0
                          ? QStringLiteral("в объёме:<br>%1 %2").arg(total).arg(hoursWord(total))
                          : QString(),
                      true);

    QString error;
    const auto organisation = [&](const char* variable, const char* key, bool shortened) {
        const QString v = db->variable(QLatin1String(key), &error);
        page->setVariable(QLatin1String(variable), shortened ? shortName(v) : v);
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
    page->setVariable(QStringLiteral("prof_Prog_Name"), text("profProgName"));

    // The model lives as long as the page that shows it.
    auto* model = new QSqlQueryModel(page);
    model->setQuery(appendixQuery(sqlDocId), QSqlDatabase::database());
    while (model->canFetchMore())
        model->fetchMore();
    page->setModel(QStringLiteral("ViewProfDetails"), model, false);
    for (const QSqlError& failure : {model->lastError(), model->query().lastError()}) {
        if (error.isEmpty() && failure.type() != QSqlError::NoError)
            error = failure.text().trimmed();
    }
    if (!error.isEmpty())
        MZ_LOG() << "document" << sqlDocId << "not filled:" << error;
    return error;
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

QString PrintData::appendixQuery(qint64 sqlDocId) {
    return QStringLiteral(
               "SELECT profId, col1, col2, col3 FROM(SELECT profId, name AS col1, count AS col2, rate AS col3, "
               "1 AS order1, detId AS order2 FROM ProfDetails WHERE profId = %1 UNION SELECT Det.profId, 'ВСЕГО:' "
               "AS col1, SUM(IFNULL(count,0))AS col2, '' AS col3, 2 AS order1, 0 AS order2 FROM ProfDetails Det "
               "INNER JOIN ProfDocuments Doc ON Det.profId=doc.ProfId WHERE Det.profId = %1 AND "
               "IFNULL(hideTotalCountInAdd,0)=0 GROUP BY Det.profId ORDER BY order1, order2);")
        .arg(sqlDocId);
}
