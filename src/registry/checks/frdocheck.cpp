#include "frdocheck.h"

#include "database.h"
#include "documentfilter.h"
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
#include <algorithm>
#include <memory>
#include <sqlite3.h>

namespace {
// What a row carries of the document's appendix.
const QString totalHours = QStringLiteral("totalhours");
const QString hasSubjects = QStringLiteral("hassubjects");

// Every column a rule or the check list reads. A row of the check holds its cells in this order, so
// that a rule finds its cell by place: a check of a million rows would otherwise look names up
// tens of millions of times.
const char* const readColumns[] = {
    "fio1",          "fio2",          "fio3",          "attnumber",      "doctype",    "docnumber",  "issuedatefrdo",
    "regnumberfrdo", "frdo13",        "frdo14",        "frdo15",         "begindate",  "enddate",    "studycount",
    "birthdatefrdo", "sexismale",     "frdo21",        "frdo22",         "frdo23",     "snils",      "stateduplicate",
    "docnameorig",   "docnumberorig", "regnumberorig", "issuedateorig",  "fio1orig",   "fio2orig",   "startdate",
    "finishdate",    "issuedate",     "qual",          "showtotalcount", "totalhours", "hassubjects"};
constexpr int columnCount = int(sizeof(readColumns) / sizeof(*readColumns));

static_assert(columnCount <= 64, "the dates worked out are marked in one 64-bit word");

bool isBlank(const QVariant& value) {
    if (value.type() == QVariant::String) {
        const QString& text = *static_cast<const QString*>(value.constData());
        return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSpace(); });
    }
    return value.toString().trimmed().isEmpty();
}

QString textOf(const QVariant& value) {
    return value.toString().trimmed();
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

// What the SNILS rules ask of one number, by the import's own rules.
struct SnilsFacts {
    bool empty = true;    // nothing but blanks
    bool noDigits = true; // not eleven digits with blanks and dashes
    bool placeholder = false;
    bool valid = false;
};

SnilsFacts snilsFacts(const QVariant& value) {
    SnilsFacts facts;
    const QString text = textOf(value);
    facts.empty = text.isEmpty();
    const QString digits = Snils::digits(text);
    facts.noDigits = digits.isEmpty();
    // The digits are their own digits: the import's rules read them as they read the text.
    facts.placeholder = !facts.noDigits && Snils::isPlaceholder(digits);
    facts.valid = !facts.noDigits && !facts.placeholder && Snils::isValid(digits);
    return facts;
}

// A document's cells by their place in readColumns, NULL (or a column not read) as an invalid
// variant, and what several rules derive from the same cell, worked out once per document.
class Cells {
public:
    Cells() : _values(columnCount) {}
    const QVariant& at(int place) const { return _values.at(place); }
    // The cell to replace; what was derived from the document before is forgotten.
    QVariant& replace(int place) {
        _datesKnown = 0;
        _snilsKnown = false;
        return _values[place];
    }
    QDate date(int place) const {
        const quint64 bit = quint64(1) << place;
        if (!(_datesKnown & bit)) {
            _dates[place] = dateOf(_values.at(place));
            _datesKnown |= bit;
        }
        return _dates[place];
    }
    const SnilsFacts& snils(int place) const {
        if (!_snilsKnown) {
            _snils = snilsFacts(_values.at(place));
            _snilsKnown = true;
        }
        return _snils;
    }

private:
    QVector<QVariant> _values;
    mutable QDate _dates[columnCount];
    mutable quint64 _datesKnown = 0;
    mutable SnilsFacts _snils;
    mutable bool _snilsKnown = false;
};

int placeOf(const QString& column) {
    for (int i = 0; i < columnCount; ++i)
        if (column == QLatin1String(readColumns[i]))
            return i;
    qFatal("an FRDO rule reads a column the check does not read: %s", qPrintable(column));
    return 0;
}

Cells cellsOf(const QVariantMap& row) {
    Cells cells;
    for (int i = 0; i < columnCount; ++i) {
        const auto it = row.constFind(QLatin1String(readColumns[i]));
        if (it != row.cend())
            cells.replace(i) = *it;
    }
    return cells;
}

// The export writes the hours as a 32-bit number: anything else would reach the registry as 0.
bool isPositiveWhole(const QString& text) {
    bool ok = false;
    const int hours = text.toInt(&ok);
    return ok && hours > 0;
}

using Check = std::function<bool(const Cells&)>;

// A rule as the check runs it: its columns already resolved to places.
struct Rule {
    QString id;
    QString text;
    QStringList columns;
    Check passes;
};

Rule rule(const QString& id, const QString& text, const QStringList& columns, Check passes) {
    return {id, text, columns, std::move(passes)};
}

Rule rule(const char* id, const QString& text, const QStringList& columns, Check passes) {
    return rule(QLatin1String(id), text, columns, std::move(passes));
}

// `earlier` must come before `later` (or be the same day when `sameDayPasses`). A date that is
// not set or cannot be read is not compared: its own rule reports it.
Check inOrder(const QString& earlier, const QString& later, bool sameDayPasses) {
    return [first = placeOf(earlier), second = placeOf(later), sameDayPasses](const Cells& row) {
        const QDate from = row.date(first);
        const QDate to = row.date(second);
        if (!from.isValid() || !to.isValid())
            return true;
        return sameDayPasses ? from <= to : from < to;
    };
}

Check filled(const QString& column) {
    return [at = placeOf(column)](const Cells& row) { return !isBlank(row.at(at)); };
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

void addDateRules(QVector<Rule>* rules) {
    for (const FrdoColumn& c : dateColumns) {
        const QString column = QLatin1String(c.column);
        const int at = placeOf(column);
        rules->append(rule(ruleId("date", c.column), QStringLiteral("Не читается дата: ") + QString::fromUtf8(c.header),
                           {column}, [at](const Cells& row) {
                               const QVariant& value = row.at(at);
                               return isBlank(value) || row.date(at).isValid();
                           }));
        rules->append(rule(ruleId("range", c.column),
                           QStringLiteral("Дата вне допустимого диапазона: ") + QString::fromUtf8(c.header), {column},
                           [at](const Cells& row) {
                               const QDate date = row.date(at);
                               return !date.isValid() || PlausibleYears::contains(date);
                           }));
    }
}

void addSnilsRules(QVector<Rule>* rules) {
    const QString snils = QStringLiteral("snils");
    const int at = placeOf(snils);
    rules->append(rule("snilsDigits", QStringLiteral("СНИЛС не из одиннадцати цифр"), {snils},
                       [at](const Cells& row) { return row.snils(at).empty || !row.snils(at).noDigits; }));
    rules->append(
        rule("snilsCheck", QStringLiteral("Неверное контрольное число СНИЛС"), {snils}, [at](const Cells& row) {
            const SnilsFacts& facts = row.snils(at);
            return facts.noDigits || facts.placeholder || facts.valid;
        }));
    rules->append(rule("snilsPlaceholder", QStringLiteral("СНИЛС из одних нулей"), {snils},
                       [at](const Cells& row) { return !row.snils(at).placeholder; }));
}

void addOrderRules(QVector<Rule>* rules) {
    const QString birth = QStringLiteral("birthdatefrdo"), begin = QStringLiteral("begindate"),
                  end = QStringLiteral("enddate"), issue = QStringLiteral("issuedatefrdo");
    rules->append(rule("birthNotBeforeStart", QStringLiteral("Дата рождения не раньше начала обучения"), {birth, begin},
                       inOrder(birth, begin, false)));
    rules->append(rule("startAfterEnd", QStringLiteral("Начало обучения позже его окончания"), {begin, end},
                       inOrder(begin, end, true)));
    rules->append(rule("endAfterIssue", QStringLiteral("Дата выдачи раньше окончания обучения"), {end, issue},
                       inOrder(end, issue, true)));
    rules->append(rule("tooYoung", QStringLiteral("На дату выдачи получателю нет 14 лет"), {birth, issue},
                       [born = placeOf(birth), issued = placeOf(issue)](const Cells& row) {
                           const QDate birthDay = row.date(born);
                           const QDate issueDay = row.date(issued);
                           return !birthDay.isValid() || !issueDay.isValid() || birthDay.addYears(14) <= issueDay;
                       }));
}

void addDuplicateRules(QVector<Rule>* rules) {
    const QString duplicate = QStringLiteral("stateduplicate");
    const int state = placeOf(duplicate);
    const auto isDuplicate = [state](const Cells& row) { return row.at(state).toInt() >= 1; };
    for (const FrdoColumn& c : originalColumns) {
        const QString column = QLatin1String(c.column);
        rules->append(rule(ruleId("original", c.column),
                           QStringLiteral("Дубликат без данных оригинала: ") + QString::fromUtf8(c.header),
                           {column, duplicate}, [isDuplicate, at = placeOf(column)](const Cells& row) {
                               return !isDuplicate(row) || !isBlank(row.at(at));
                           }));
    }
    const QString originalIssue = QStringLiteral("issuedateorig");
    const int at = placeOf(originalIssue);
    rules->append(rule("date:issuedateorig", QStringLiteral("Не читается дата: Дата выдачи (оригинала)"),
                       {originalIssue, duplicate}, [isDuplicate, at](const Cells& row) {
                           return !isDuplicate(row) || isBlank(row.at(at)) || row.date(at).isValid();
                       }));
    rules->append(rule("range:issuedateorig", QStringLiteral("Дата вне допустимого диапазона: Дата выдачи (оригинала)"),
                       {originalIssue, duplicate}, [isDuplicate, at](const Cells& row) {
                           return !isDuplicate(row) || !row.date(at).isValid() ||
                                  PlausibleYears::contains(row.date(at));
                       }));
}

QVector<Rule> makeRegistryRules() {
    QVector<Rule> rules;
    for (const FrdoColumn& c : requiredColumns) {
        const QString column = QLatin1String(c.column);
        // Sex is stored as +1 / -1; 0 writes an empty cell.
        Check passes = column == QLatin1String("sexismale")
                           ? Check([at = placeOf(column)](const Cells& row) { return row.at(at).toInt() != 0; })
                           : filled(column);
        rules.append(rule(ruleId("filled", c.column), QStringLiteral("Не заполнено: ") + QString::fromUtf8(c.header),
                          {column}, std::move(passes)));
    }
    addDateRules(&rules);
    addSnilsRules(&rules);
    addOrderRules(&rules);
    addDuplicateRules(&rules);
    const QString hours = QStringLiteral("studycount");
    // An empty count is reported as not filled, once.
    rules.append(rule("hoursWhole", QStringLiteral("Срок обучения не целое положительное число часов"), {hours},
                      [at = placeOf(hours)](const Cells& row) {
                          const QString text = textOf(row.at(at));
                          return text.isEmpty() || isPositiveWhole(text);
                      }));
    return rules;
}

QVector<Rule> makeCertificateRules() {
    const QString start = QStringLiteral("startdate"), finish = QStringLiteral("finishdate"),
                  issue = QStringLiteral("issuedate"), name = QStringLiteral("fio2"),
                  patronymic = QStringLiteral("fio3"), qual = QStringLiteral("qual"),
                  showTotal = QStringLiteral("showtotalcount");
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
             [shown = placeOf(showTotal), total = placeOf(totalHours), any = placeOf(hasSubjects)](const Cells& row) {
                 return row.at(shown).toInt() <= 0 || (row.at(any).toBool() && row.at(total).toDouble() > 0);
             }),
    };
}

const QVector<Rule>& checkedRegistryRules() {
    static const QVector<Rule> rules = makeRegistryRules();
    return rules;
}

QVector<FrdoRule> asFrdoRules(const QVector<Rule>& rules) {
    QVector<FrdoRule> found;
    for (const Rule& r : rules)
        found.append(
            {r.id, r.text, r.columns, [passes = r.passes](const QVariantMap& row) { return passes(cellsOf(row)); }});
    return found;
}

// The columns a check statement reads besides the rules' own: the document's name and number for
// the list.
const char* const listedColumns[] = {"fio1", "fio2", "fio3", "attnumber"};

// The columns of the registry rules and the list, each once, in the order the statement reads them.
QStringList checkedColumns() {
    QStringList columns;
    for (const char* column : listedColumns)
        columns.append(QLatin1String(column));
    for (const Rule& r : checkedRegistryRules())
        for (const QString& column : r.columns)
            if (!columns.contains(column))
                columns.append(column);
    return columns;
}

QString noFrdoText() {
    return QStringLiteral("Нет данных ФРДО");
}

// What a statement of the check reads of one document.
struct CheckRow {
    qint64 id = 0;
    bool hasFrdo = false;
    Cells cells;
    // The list's own texts of the name, the qualification and the issue and edit dates, as
    // DocumentFilter::shownIds() reads them (read only when a filter needs them).
    QString shown[4];
};
enum { ShownFio, ShownQual, ShownIssue, ShownEdit, ShownCount };
// The check by ids reads profid and hasfrdo before the cells.
constexpr int firstCell = 2;

// One statement over the chosen documents. The appendix is never read: no registry rule needs it,
// and summing a large registry's appendices costs more than the rest of the check.
QString idsStatement(const QStringList& columns) {
    const QString ids = SqlDialect::idsFromJson(QSqlDatabase::database(), QStringLiteral("?"));
    return QStringLiteral("WITH chosen AS (SELECT DISTINCT value AS id FROM (%1) AS ids) SELECT d.profId AS profid, "
                          "f.profId IS NOT NULL AS hasfrdo, ")
               .arg(ids) +
           columns.join(QStringLiteral(", ")) +
           QStringLiteral(" FROM chosen INNER JOIN ProfDocuments d ON d.profId = chosen.id "
                          "LEFT JOIN ProfFrdo f ON f.profId = d.profId");
}

// The list's columns are the only ones of ProfDocuments the check reads; the rest are ProfFrdo's.
bool isDocumentColumn(const QString& column) {
    return std::any_of(std::begin(listedColumns), std::end(listedColumns),
                       [&column](const char* own) { return column == QLatin1String(own); });
}

// The documents the list shows, newest first, as shownIds() orders them. With a filter the list's
// view is joined, so that both agree on the texts the filter reads; its columns are renamed so that
// they cannot be taken for the table's. Without one the view's own condition is enough, and the
// rows come in the table's order with no lookup.
QString shownDocumentsStatement(const QStringList& columns, bool filtered) {
    if (!filtered)
        return QStringLiteral("SELECT profId, %1 FROM ProfDocuments WHERE IFNULL(isTemplate, 0) != 1 "
                              "ORDER BY profId DESC")
            .arg(columns.join(QStringLiteral(", ")));
    return QStringLiteral("SELECT d.profId, %1, v.shownfio, v.shownqual, v.shownissue, v.shownedit FROM "
                          "(SELECT profId AS shownid, fio AS shownfio, qual AS shownqual, issueDate AS shownissue, "
                          "editDate AS shownedit FROM ViewProfDocuments) v "
                          "INNER JOIN ProfDocuments d ON d.profId = v.shownid ORDER BY v.shownid DESC")
        .arg(columns.join(QStringLiteral(", ")));
}

// The FRDO rows in the same order, merged with the documents' instead of looked up one by one.
QString frdoRowsStatement(const QStringList& columns) {
    return QStringLiteral("SELECT profId, %1 FROM ProfFrdo ORDER BY profId DESC")
        .arg(columns.join(QStringLiteral(", ")));
}

// UTF-8 of one to three bytes a character into `text`, reusing its buffer: a check reads tens of
// millions of cells, and allocating each costs more than the rules. False for anything else (four
// bytes, a byte order mark, a noncharacter, a broken sequence), which QString::fromUtf8 reads its
// own way.
bool decodeInto(const uchar* bytes, int size, QString* text) {
    text->resize(size);
    QChar* out = text->data();
    int n = 0;
    const auto follows = [&](int at) { return at < size && (bytes[at] & 0xC0) == 0x80; };
    for (int i = 0; i < size;) {
        const uint c = bytes[i];
        uint code = 0;
        if (c < 0x80) {
            code = c;
            i += 1;
        } else if (c >= 0xC2 && c <= 0xDF && follows(i + 1)) {
            code = ((c & 0x1F) << 6) | (bytes[i + 1] & 0x3F);
            i += 2;
        } else if (c >= 0xE0 && c <= 0xEF && follows(i + 1) && follows(i + 2)) {
            code = ((c & 0x0F) << 12) | ((bytes[i + 1] & 0x3F) << 6) | (bytes[i + 2] & 0x3F);
            if (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFEFF ||
                (code >= 0xFDD0 && (code <= 0xFDEF || code >= 0xFFFE)))
                return false;
            i += 3;
        } else {
            return false;
        }
        out[n++] = QChar(ushort(code));
    }
    text->resize(n);
    return true;
}

// A value as the rules read it into `cell`: NULL as an invalid variant.
void readCell(sqlite3_stmt* statement, int column, QVariant* cell) {
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_NULL:
        *cell = QVariant();
        return;
    case SQLITE_INTEGER:
        *cell = qlonglong(sqlite3_column_int64(statement, column));
        return;
    case SQLITE_FLOAT:
        *cell = sqlite3_column_double(statement, column);
        return;
    default:
        break;
    }
    const unsigned char* bytes = sqlite3_column_text(statement, column);
    if (!bytes) {
        *cell = QString();
        return;
    }
    const int size = sqlite3_column_bytes(statement, column);
    if (cell->type() != QVariant::String)
        *cell = QString();
    auto* text = static_cast<QString*>(cell->data());
    if (!decodeInto(bytes, size, text))
        *text = QString::fromUtf8(reinterpret_cast<const char*>(bytes), size);
}

// As the list reads a cell: SQLite's own text of the value, a NULL as a null string.
QString cellText(sqlite3_stmt* statement, int column) {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return bytes ? QString::fromUtf8(bytes, sqlite3_column_bytes(statement, column)) : QString();
}

QVector<int> placesOf(const QStringList& columns) {
    QVector<int> places;
    for (const QString& column : columns)
        places.append(placeOf(column));
    return places;
}

using TakeRow = std::function<void(const CheckRow&)>;

// The same through the driver, for a registry on a server.
bool readServerRows(const QString& sql, const QString& ids, const QVector<int>& places, const TakeRow& take,
                    QString* error) {
    QSqlQuery query(QSqlDatabase::database());
    query.setForwardOnly(true);
    if (!StoreQuery::prepare(query, sql, error))
        return false;
    query.addBindValue(ids);
    if (!StoreQuery::write(query, error))
        return false;
    CheckRow row;
    while (query.next()) {
        row.id = query.value(0).toLongLong();
        row.hasFrdo = query.value(1).toInt() != 0;
        for (int i = 0; i < places.size(); ++i)
            row.cells.replace(places.at(i)) = query.isNull(firstCell + i) ? QVariant() : query.value(firstCell + i);
        take(row);
    }
    return !query.lastError().isValid() || StoreQuery::failed(query, error);
}

// Runs `sql` (with `json` bound to its one parameter, when given) and hands each row to `take` in
// one CheckRow whose cells are replaced in place, so that no row allocates its vector.
bool readRows(const QString& sql, const QByteArray& json, const QVector<int>& places, const TakeRow& take,
              QString* error) {
    sqlite3* db = StoreQuery::mainFileHandle();
    if (!db)
        return StoreQuery::fail(error, QStringLiteral("no open registry"));
    const auto fail = [&] { return StoreQuery::fail(error, QString::fromUtf8(sqlite3_errmsg(db))); };
    const StoreQuery::SqliteStatement statement = StoreQuery::prepareSqlite(db, sql.toUtf8().constData());
    if (!statement)
        return fail();
    sqlite3_stmt* raw = statement.get();
    if (!json.isNull() && sqlite3_bind_text(raw, 1, json.constData(), json.size(), SQLITE_STATIC) != SQLITE_OK)
        return fail();
    CheckRow row;
    int result = SQLITE_OK;
    while ((result = sqlite3_step(raw)) == SQLITE_ROW) {
        row.id = sqlite3_column_int64(raw, 0);
        row.hasFrdo = sqlite3_column_int(raw, 1) != 0;
        for (int i = 0; i < places.size(); ++i)
            readCell(raw, firstCell + i, &row.cells.replace(places.at(i)));
        take(row);
    }
    return result == SQLITE_DONE || fail();
}

// The documents the list shows and their FRDO rows, two scans in the same order merged into one
// CheckRow per document.
bool readShownRows(bool filtered, const TakeRow& take, QString* error) {
    sqlite3* db = StoreQuery::mainFileHandle();
    if (!db)
        return StoreQuery::fail(error, QStringLiteral("no open registry"));
    const auto fail = [&] { return StoreQuery::fail(error, QString::fromUtf8(sqlite3_errmsg(db))); };
    QStringList ownColumns, frdoColumns;
    for (const QString& column : checkedColumns())
        (isDocumentColumn(column) ? ownColumns : frdoColumns).append(column);
    const StoreQuery::SqliteStatement documents =
        StoreQuery::prepareSqlite(db, shownDocumentsStatement(ownColumns, filtered).toUtf8().constData());
    if (!documents)
        return fail();
    const StoreQuery::SqliteStatement frdo =
        StoreQuery::prepareSqlite(db, frdoRowsStatement(frdoColumns).toUtf8().constData());
    if (!frdo)
        return fail();
    const QVector<int> ownPlaces = placesOf(ownColumns), frdoPlaces = placesOf(frdoColumns);
    const int shownAt = 1 + ownPlaces.size();
    CheckRow row;
    int frdoStep = sqlite3_step(frdo.get());
    int step = SQLITE_OK;
    while ((step = sqlite3_step(documents.get())) == SQLITE_ROW) {
        row.id = sqlite3_column_int64(documents.get(), 0);
        for (int i = 0; i < ownPlaces.size(); ++i)
            readCell(documents.get(), 1 + i, &row.cells.replace(ownPlaces.at(i)));
        if (filtered)
            for (int i = 0; i < ShownCount; ++i)
                row.shown[i] = cellText(documents.get(), shownAt + i);
        while (frdoStep == SQLITE_ROW && sqlite3_column_int64(frdo.get(), 0) > row.id)
            frdoStep = sqlite3_step(frdo.get());
        if (frdoStep != SQLITE_ROW && frdoStep != SQLITE_DONE)
            return fail();
        row.hasFrdo = frdoStep == SQLITE_ROW && sqlite3_column_int64(frdo.get(), 0) == row.id;
        if (row.hasFrdo)
            for (int i = 0; i < frdoPlaces.size(); ++i)
                readCell(frdo.get(), 1 + i, &row.cells.replace(frdoPlaces.at(i)));
        take(row);
    }
    return step == SQLITE_DONE || fail();
}

QString joinedName(const Cells& row) {
    QStringList parts;
    for (const char* column : {"fio1", "fio2", "fio3"}) {
        const QString part = textOf(row.at(placeOf(QLatin1String(column))));
        if (!part.isEmpty())
            parts.append(part);
    }
    return parts.join(QLatin1Char(' '));
}

// The document of a row with its problems by the registry rules; no problems when it passes.
FrdoCheck::FailingDocument documentOf(const CheckRow& row) {
    FrdoCheck::FailingDocument document;
    if (!row.hasFrdo) {
        document.problems.append({QStringLiteral("noFrdo"), noFrdoText(), {}});
    } else {
        for (const Rule& r : checkedRegistryRules())
            if (!r.passes(row.cells))
                document.problems.append({r.id, r.text, r.columns});
        if (document.problems.isEmpty())
            return document;
    }
    document.id = row.id;
    document.name = joinedName(row.cells);
    static const int attNumber = placeOf(QStringLiteral("attnumber"));
    document.attNumber = textOf(row.cells.at(attNumber));
    return document;
}

// One line of the report stays one line with its four fields.
QString oneField(QString text) {
    for (QChar& c : text)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    return text;
}

QString reportHead(const FrdoCheck::FailingDocument& document) {
    return QString::number(document.id) + QLatin1Char('\t') + oneField(document.name) + QLatin1Char('\t') +
           oneField(document.attNumber) + QLatin1Char('\t');
}
} // namespace

const QVector<FrdoRule>& FrdoCheck::registryRules() {
    static const QVector<FrdoRule> rules = asFrdoRules(checkedRegistryRules());
    return rules;
}

const QVector<FrdoRule>& FrdoCheck::certificateRules() {
    static const QVector<FrdoRule> rules = asFrdoRules(makeCertificateRules());
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
    const QStringList columns = checkedColumns();
    QHash<qint64, int> order;
    order.reserve(ids.size());
    for (int i = ids.size() - 1; i >= 0; --i)
        order.insert(ids.at(i), i); // a repeated id keeps its first place; it is reported once
    QVector<QPair<int, FailingDocument>> found;
    const auto take = [&](const CheckRow& row) {
        FailingDocument document = documentOf(row);
        if (!document.problems.isEmpty())
            found.append({order.value(document.id), std::move(document)});
    };
    const QString sql = idsStatement(columns);
    const QString json = SqlDialect::jsonIds(ids);
    const bool read = SqlDialect::isServer() ? readServerRows(sql, json, placesOf(columns), take, error)
                                             : readRows(sql, json.toLatin1(), placesOf(columns), take, error);
    if (!read)
        return false;
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    failing->reserve(found.size());
    for (auto& f : found)
        failing->append(std::move(f.second));
    return true;
}

bool FrdoCheck::checkShown(const DocumentFilter& filter, const std::function<void(const FailingDocument&)>& take,
                           QString* error) {
    if (SqlDialect::isServer()) {
        // The list's own reading and the check by ids: a server gives no rows by rowid order.
        QString reason;
        const QList<qint64> ids = filter.shownIds({}, &reason);
        if (!reason.isEmpty())
            return StoreQuery::fail(error, reason);
        QVector<FailingDocument> failing;
        if (!checkDocuments(ids, &failing, error))
            return false;
        for (const FailingDocument& document : failing)
            take(document);
        return true;
    }
    const bool filtered = !filter.isEmpty();
    const auto takeRow = [&](const CheckRow& row) {
        // The conditions exactly as shownIds() applies them to the same texts.
        if (filtered && !(filter.acceptsFio(row.shown[ShownFio]) && filter.acceptsQual(row.shown[ShownQual]) &&
                          filter.acceptsIssueDay(ValueText::dayNumber(row.shown[ShownIssue])) &&
                          filter.acceptsEditDay(ValueText::dayNumber(row.shown[ShownEdit]))))
            return;
        const FailingDocument document = documentOf(row);
        if (!document.problems.isEmpty())
            take(document);
    };
    return readShownRows(filtered, takeRow, error);
}

QStringList FrdoCheck::reportLines(const QVector<FailingDocument>& failing) {
    QStringList lines;
    for (const FailingDocument& document : failing) {
        const QString head = reportHead(document);
        for (const FrdoProblem& problem : document.problems)
            lines.append(head + oneField(problem.text));
    }
    return lines;
}

void FrdoCheck::appendReport(const FailingDocument& document, QByteArray* out) {
    const QByteArray head = reportHead(document).toUtf8();
    for (const FrdoProblem& problem : document.problems) {
        out->append(head);
        out->append(oneField(problem.text).toUtf8());
        out->append('\n');
    }
}
