#include "frdocheck.h"

#include "database.h"
#include "mzlog.h"
#include "plausibleyears.h"
#include "snils.h"
#include "sqldialect.h"
#include "storequery.h"
#include "valuetext.h"

#include <QDate>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>
#include <memory>
#include <sqlite3.h>

namespace {
// What a row carries of the document's appendix.
const QString totalHours = QStringLiteral("totalhours");
const QString hasSubjects = QStringLiteral("hassubjects");

// The row's value of a column, not copied: a check of 100,000 rows reads millions of them.
const QVariant& cell(const QVariantMap& row, const QString& column) {
    static const QVariant null;
    const auto it = row.constFind(column);
    return it == row.cend() ? null : *it;
}

bool isBlank(const QVariant& value) {
    if (value.type() == QVariant::String) {
        const QString& text = *static_cast<const QString*>(value.constData());
        return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSpace(); });
    }
    return value.toString().trimmed().isEmpty();
}

QString textOf(const QVariantMap& row, const QString& column) {
    return cell(row, column).toString().trimmed();
}

bool isFilled(const QVariantMap& row, const QString& column) {
    return !isBlank(cell(row, column));
}

// Stored dates are nearly always "yyyy-MM-dd"; only the rest goes through every accepted layout.
QDate dateOf(const QVariant& value) {
    if (value.isNull())
        return QDate();
    if (value.type() == QVariant::String) {
        const int day = ValueText::dayNumber(*static_cast<const QString*>(value.constData()));
        if (day != ValueText::noDay)
            return QDate::fromJulianDay(day);
    }
    return ValueText::dateFromValue(value);
}

QDate dateOf(const QVariantMap& row, const QString& column) {
    return dateOf(cell(row, column));
}

bool isDuplicate(const QVariantMap& row) {
    return cell(row, QStringLiteral("stateduplicate")).toInt() >= 1;
}

// The export writes the hours as a 32-bit number: anything else would reach the registry as 0.
bool isPositiveWhole(const QString& text) {
    bool ok = false;
    const int hours = text.toInt(&ok);
    return ok && hours > 0;
}

using Check = std::function<bool(const QVariantMap&)>;

FrdoRule rule(const char* id, const QString& text, const QStringList& columns, Check passes) {
    return {QLatin1String(id), text, columns, std::move(passes)};
}

// `earlier` must come before `later` (or be the same day when `sameDayPasses`). A date that is
// not set or cannot be read is not compared: its own rule reports it.
Check inOrder(const QString& earlier, const QString& later, bool sameDayPasses) {
    return [earlier, later, sameDayPasses](const QVariantMap& row) {
        const QDate first = dateOf(row, earlier);
        const QDate second = dateOf(row, later);
        if (!first.isValid() || !second.isValid())
            return true;
        return sameDayPasses ? first <= second : first < second;
    };
}

// A column of the FRDO table and the column of the registry it is written from (lower case, as
// the rows carry them). The headers are the export's own.
struct FrdoColumn {
    const char* column;
    const char* header;
};

// What the FRDO table always needs filled for a certificate of a worker's profession or an
// employee's position. The document's status is not here: the export derives it from
// StateDuplicate, so it is always given. The qualification grade is asked "if any".
const FrdoColumn requiredColumns[] = {
    {"doctype", "Вид документа"},
    {"docnumber", "Номер документа"},
    {"issuedatefrdo", "Дата выдачи документа"},
    {"regnumberfrdo", "Регистрационный номер"},
    {"frdo13", "Программа профессионального обучения, направление подготовки"},
    {"frdo14", "Наименование программы профессионального обучения"},
    {"frdo15", "Наименование профессий рабочих, должностей служащих"},
    {"begindate", "Год начала обучения"},
    {"enddate", "Год окончания обучения"},
    {"studycount", "Срок обучения, часов"},
    {"fio1", "Фамилия получателя"},
    {"fio2", "Имя получателя"},
    {"birthdatefrdo", "Дата рождения получателя"},
    {"sexismale", "Пол получателя"},
    {"frdo21", "Гражданство получателя (код страны по ОКСМ)"},
    {"frdo22", "Форма обучения"},
    {"frdo23", "Источник финансирования обучения"},
};

// The dates the export writes; one that is set but cannot be read would be written empty, one
// outside the plausible years is a typing slip the import would have refused.
const FrdoColumn dateColumns[] = {
    {"issuedatefrdo", "Дата выдачи документа"},
    {"begindate", "Год начала обучения"},
    {"enddate", "Год окончания обучения"},
    {"birthdatefrdo", "Дата рождения получателя"},
};

// What a duplicate must say of the document it replaces.
const FrdoColumn originalColumns[] = {
    {"docnameorig", "Наименование документа об образовании (оригинала)"},
    {"docnumberorig", "Номер (оригинала)"},
    {"regnumberorig", "Регистрационный N (оригинала)"},
    {"issuedateorig", "Дата выдачи (оригинала)"},
    {"fio1orig", "Фамилия получателя (оригинала)"},
    {"fio2orig", "Имя получателя (оригинала)"},
};

QString ruleId(const char* kind, const char* column) {
    return QLatin1String(kind) + QLatin1Char(':') + QLatin1String(column);
}

QVector<FrdoRule> makeRegistryRules() {
    QVector<FrdoRule> rules;
    for (const FrdoColumn& c : requiredColumns) {
        const QString column = QLatin1String(c.column);
        // Sex is stored as +1 / -1; 0 writes an empty cell.
        Check filled = column == QLatin1String("sexismale")
                           ? Check([column](const QVariantMap& row) { return cell(row, column).toInt() != 0; })
                           : Check([column](const QVariantMap& row) { return isFilled(row, column); });
        rules.append({ruleId("filled", c.column),
                      QStringLiteral("Не заполнено: ") + QString::fromUtf8(c.header),
                      {column},
                      std::move(filled)});
    }
    for (const FrdoColumn& c : dateColumns) {
        const QString column = QLatin1String(c.column);
        rules.append({ruleId("date", c.column),
                      QStringLiteral("Не читается дата: ") + QString::fromUtf8(c.header),
                      {column},
                      [column](const QVariantMap& row) {
                          const QVariant& value = cell(row, column);
                          return isBlank(value) || dateOf(value).isValid();
                      }});
        rules.append({ruleId("range", c.column),
                      QStringLiteral("Дата вне допустимого диапазона: ") + QString::fromUtf8(c.header),
                      {column},
                      [column](const QVariantMap& row) {
                          const QDate date = dateOf(row, column);
                          return !date.isValid() || PlausibleYears::contains(date);
                      }});
    }
    const QString snils = QStringLiteral("snils");
    rules.append(
        rule("snilsDigits", QStringLiteral("СНИЛС не из одиннадцати цифр"), {snils}, [snils](const QVariantMap& row) {
            const QString text = textOf(row, snils);
            return text.isEmpty() || !Snils::digits(text).isEmpty();
        }));
    rules.append(rule("snilsCheck", QStringLiteral("Неверное контрольное число СНИЛС"), {snils},
                      [snils](const QVariantMap& row) {
                          const QString text = textOf(row, snils);
                          return Snils::digits(text).isEmpty() || Snils::isPlaceholder(text) || Snils::isValid(text);
                      }));
    rules.append(rule("snilsPlaceholder", QStringLiteral("СНИЛС из одних нулей"), {snils},
                      [snils](const QVariantMap& row) { return !Snils::isPlaceholder(textOf(row, snils)); }));
    const QString birth = QStringLiteral("birthdatefrdo"), begin = QStringLiteral("begindate"),
                  end = QStringLiteral("enddate"), issue = QStringLiteral("issuedatefrdo");
    rules.append(rule("birthNotBeforeStart", QStringLiteral("Дата рождения не раньше начала обучения"), {birth, begin},
                      inOrder(birth, begin, false)));
    rules.append(rule("startAfterEnd", QStringLiteral("Начало обучения позже его окончания"), {begin, end},
                      inOrder(begin, end, true)));
    rules.append(rule("endAfterIssue", QStringLiteral("Дата выдачи раньше окончания обучения"), {end, issue},
                      inOrder(end, issue, true)));
    rules.append(rule("tooYoung", QStringLiteral("На дату выдачи получателю нет 14 лет"), {birth, issue},
                      [birth, issue](const QVariantMap& row) {
                          const QDate born = dateOf(row, birth);
                          const QDate issued = dateOf(row, issue);
                          return !born.isValid() || !issued.isValid() || born.addYears(14) <= issued;
                      }));
    const QString duplicate = QStringLiteral("stateduplicate");
    for (const FrdoColumn& c : originalColumns) {
        const QString column = QLatin1String(c.column);
        rules.append({ruleId("original", c.column),
                      QStringLiteral("Дубликат без данных оригинала: ") + QString::fromUtf8(c.header),
                      {column, duplicate},
                      [column](const QVariantMap& row) { return !isDuplicate(row) || isFilled(row, column); }});
    }
    const QString originalIssue = QStringLiteral("issuedateorig");
    rules.append(rule("date:issuedateorig", QStringLiteral("Не читается дата: Дата выдачи (оригинала)"),
                      {originalIssue, duplicate}, [originalIssue](const QVariantMap& row) {
                          return !isDuplicate(row) || !isFilled(row, originalIssue) ||
                                 dateOf(row, originalIssue).isValid();
                      }));
    rules.append(rule("range:issuedateorig", QStringLiteral("Дата вне допустимого диапазона: Дата выдачи (оригинала)"),
                      {originalIssue, duplicate}, [originalIssue](const QVariantMap& row) {
                          const QDate date = dateOf(row, originalIssue);
                          return !isDuplicate(row) || !date.isValid() || PlausibleYears::contains(date);
                      }));
    const QString hours = QStringLiteral("studycount");
    // An empty count is reported as not filled, once.
    rules.append(rule("hoursWhole", QStringLiteral("Срок обучения не целое положительное число часов"), {hours},
                      [hours](const QVariantMap& row) {
                          const QString text = textOf(row, hours);
                          return text.isEmpty() || isPositiveWhole(text);
                      }));
    return rules;
}

QVector<FrdoRule> makeCertificateRules() {
    const QString start = QStringLiteral("startdate"), finish = QStringLiteral("finishdate"),
                  issue = QStringLiteral("issuedate"), name = QStringLiteral("fio2"),
                  patronymic = QStringLiteral("fio3"), qual = QStringLiteral("qual"),
                  showTotal = QStringLiteral("showtotalcount");
    const auto filled = [](const QString& column) {
        return [column](const QVariantMap& row) { return isFilled(row, column); };
    };
    return {
        rule("finishBeforeStart", QStringLiteral("Обучение заканчивается раньше, чем начинается"), {start, finish},
             inOrder(start, finish, true)),
        rule("issueBeforeFinish", QStringLiteral("Дата выдачи раньше окончания обучения"), {finish, issue},
             inOrder(finish, issue, true)),
        rule("noName", QStringLiteral("Не указано имя"), {name}, filled(name)),
        rule("noPatronymic", QStringLiteral("Не указано отчество"), {patronymic}, filled(patronymic)),
        rule("noQualification", QStringLiteral("Не указана квалификация"), {qual}, filled(qual)),
        // The total is printed from the appendix: without hours it prints 0.
        rule("zeroTotalHours", QStringLiteral("Печатается итог часов, а в приложении их 0"),
             {showTotal, totalHours, hasSubjects},
             [showTotal](const QVariantMap& row) {
                 return cell(row, showTotal).toInt() <= 0 ||
                        (cell(row, hasSubjects).toBool() && cell(row, totalHours).toDouble() > 0);
             }),
    };
}

// The columns a check statement reads besides the rules' own: the document's name and number for
// the list, whether it has an FRDO row, and its appendix.
const char* const listedColumns[] = {"fio1", "fio2", "fio3", "attnumber"};

QString noFrdoText() {
    return QStringLiteral("Нет данных ФРДО");
}

// One statement over the chosen documents. The appendix is summed only when a rule reads it:
// summing a large registry's appendices costs more than the rest of the check.
QString checkStatement(QStringList columns) {
    const bool appendix = columns.removeAll(totalHours) + columns.removeAll(hasSubjects) > 0;
    QStringList selected{QStringLiteral("d.profId AS profid"), QStringLiteral("f.profId IS NOT NULL AS hasfrdo")};
    if (appendix)
        selected << QStringLiteral("COALESCE(s.total, 0) AS totalhours")
                 << QStringLiteral("COALESCE(s.n, 0) > 0 AS hassubjects");
    selected += columns;
    const QString ids = SqlDialect::idsFromJson(QSqlDatabase::database(), QStringLiteral("?"));
    QString statement =
        QStringLiteral("WITH chosen AS (SELECT DISTINCT value AS id FROM (%1) AS ids) SELECT ").arg(ids) +
        selected.join(QStringLiteral(", ")) +
        QStringLiteral(" FROM chosen INNER JOIN ProfDocuments d ON d.profId = chosen.id "
                       "LEFT JOIN ProfFrdo f ON f.profId = d.profId");
    if (appendix)
        statement += QStringLiteral(" LEFT JOIN (SELECT profId, SUM(COALESCE(count, 0)) AS total, COUNT(*) AS n "
                                    "FROM ProfDetails WHERE profId IN (SELECT id FROM chosen) GROUP BY profId) s "
                                    "ON s.profId = d.profId");
    return statement;
}

// A value as the rules read it: NULL as an invalid variant.
QVariant cellValue(sqlite3_stmt* statement, int column) {
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_NULL:
        return QVariant();
    case SQLITE_INTEGER:
        return qlonglong(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(statement, column);
    default: {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        return bytes ? QString::fromUtf8(bytes, sqlite3_column_bytes(statement, column)) : QString();
    }
    }
}

// Runs `sql` over the ids and hands each row to `take` in one map whose values are replaced in
// place, so that no row allocates its keys. The driver's own rows cost more than the rules.
// The same through the driver, for a registry on a server.
bool readServerRows(const QString& sql, const QList<qint64>& ids, const std::function<void(const QVariantMap&)>& take,
                    QString* error) {
    QSqlQuery query(QSqlDatabase::database());
    query.setForwardOnly(true);
    if (!StoreQuery::prepare(query, sql, error))
        return false;
    query.addBindValue(SqlDialect::jsonIds(ids));
    if (!StoreQuery::write(query, error))
        return false;
    QVariantMap row;
    QVector<QVariantMap::iterator> cells;
    const QSqlRecord record = query.record();
    for (int i = 0; i < record.count(); ++i)
        cells.append(row.insert(record.fieldName(i).toLower(), QVariant()));
    while (query.next()) {
        for (int i = 0; i < cells.size(); ++i)
            *cells.at(i) = query.isNull(i) ? QVariant() : query.value(i);
        take(row);
    }
    return !query.lastError().isValid() || StoreQuery::failed(query, error);
}

bool readRows(const QString& sql, const QList<qint64>& ids, const std::function<void(const QVariantMap&)>& take,
              QString* error) {
    if (SqlDialect::isServer())
        return readServerRows(sql, ids, take, error);
    sqlite3* db = Database::sqliteHandle(QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false));
    if (!db)
        return StoreQuery::fail(error, QStringLiteral("no open registry"));
    const auto fail = [&] { return StoreQuery::fail(error, QString::fromUtf8(sqlite3_errmsg(db))); };
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        return fail();
    }
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
    const QByteArray json = SqlDialect::jsonIds(ids).toLatin1();
    if (sqlite3_bind_text(raw, 1, json.constData(), json.size(), SQLITE_STATIC) != SQLITE_OK)
        return fail();
    QVariantMap row;
    QVector<QVariantMap::iterator> cells;
    for (int i = 0; i < sqlite3_column_count(raw); ++i)
        cells.append(row.insert(QString::fromUtf8(sqlite3_column_name(raw, i)).toLower(), QVariant()));
    int result = SQLITE_OK;
    while ((result = sqlite3_step(raw)) == SQLITE_ROW) {
        for (int i = 0; i < cells.size(); ++i)
            *cells.at(i) = cellValue(raw, i);
        take(row);
    }
    return result == SQLITE_DONE || fail();
}

QString joinedName(const QVariantMap& row) {
    QStringList parts;
    for (const char* column : {"fio1", "fio2", "fio3"}) {
        const QString part = textOf(row, QLatin1String(column));
        if (!part.isEmpty())
            parts.append(part);
    }
    return parts.join(QLatin1Char(' '));
}

// One line of the report stays one line with its four fields.
QString oneField(QString text) {
    for (QChar& c : text)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    return text;
}
} // namespace

const QVector<FrdoRule>& FrdoCheck::registryRules() {
    static const QVector<FrdoRule> rules = makeRegistryRules();
    return rules;
}

const QVector<FrdoRule>& FrdoCheck::certificateRules() {
    static const QVector<FrdoRule> rules = makeCertificateRules();
    return rules;
}

QVector<FrdoProblem> FrdoCheck::problems(const QVariantMap& row, const QVector<FrdoRule>& rules) {
    QVector<FrdoProblem> found;
    for (const FrdoRule& r : rules)
        if (!r.passes(row))
            found.append({r.id, r.text, r.columns});
    return found;
}

bool FrdoCheck::checkDocuments(const QList<qint64>& ids, QVector<FailingDocument>* failing, QString* error) {
    failing->clear();
    if (ids.isEmpty())
        return true;
    const QVector<FrdoRule>& rules = registryRules();
    QStringList columns;
    for (const char* column : listedColumns)
        columns.append(QLatin1String(column));
    for (const FrdoRule& r : rules)
        for (const QString& column : r.columns)
            if (!columns.contains(column))
                columns.append(column);

    QHash<qint64, int> order;
    order.reserve(ids.size());
    for (int i = ids.size() - 1; i >= 0; --i)
        order.insert(ids.at(i), i); // a repeated id keeps its first place; it is reported once
    QVector<QPair<int, FailingDocument>> found;
    const QString profId = QStringLiteral("profid"), hasFrdo = QStringLiteral("hasfrdo"),
                  attNumber = QStringLiteral("attnumber");
    const auto take = [&](const QVariantMap& row) {
        QVector<FrdoProblem> problems = cell(row, hasFrdo).toInt() != 0
                                            ? FrdoCheck::problems(row, rules)
                                            : QVector<FrdoProblem>{{QStringLiteral("noFrdo"), noFrdoText(), {}}};
        if (problems.isEmpty())
            return;
        FailingDocument document;
        document.id = cell(row, profId).toLongLong();
        document.name = joinedName(row);
        document.attNumber = textOf(row, attNumber);
        document.problems = std::move(problems);
        found.append({order.value(document.id), std::move(document)});
    };
    if (!readRows(checkStatement(columns), ids, take, error))
        return false;
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    failing->reserve(found.size());
    for (auto& f : found)
        failing->append(std::move(f.second));
    return true;
}

QStringList FrdoCheck::reportLines(const QVector<FailingDocument>& failing) {
    QStringList lines;
    for (const FailingDocument& document : failing) {
        const QString head = QString::number(document.id) + QLatin1Char('\t') + oneField(document.name) +
                             QLatin1Char('\t') + oneField(document.attNumber) + QLatin1Char('\t');
        for (const FrdoProblem& problem : document.problems)
            lines.append(head + oneField(problem.text));
    }
    return lines;
}
