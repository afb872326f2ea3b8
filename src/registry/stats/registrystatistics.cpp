#include "registrystatistics.h"

#include "database.h"
#include "documentfilter.h"
#include "mzlog.h"
#include "sqldialect.h"
#include "storequery.h"
#include "valuetext.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <sqlite3.h>
#include <string>
#include <unordered_map>

namespace {
// The figures' failure, with the database's reason after the clerk's words.
QString readFailedText(const QString& reason) {
    return QStringLiteral("Не удалось прочитать документы: %1").arg(reason);
}

// The chosen ids, once, in a temporary table every statement joins: the list's 100,000 ids parsed
// from text for each statement cost more than the figures themselves.
const QString chosenTable = QStringLiteral("statisticsIds");

bool fillChosen(const QString& ids, QString* error) {
    QSqlDatabase db = QSqlDatabase::database();
    // Statements without values go as they are: the server prepares no table statements.
    if (!StoreQuery::run(db,
                         QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS statisticsIds (id %1 PRIMARY KEY)")
                             .arg(SqlDialect::idType(db)),
                         error) ||
        !StoreQuery::run(db, QStringLiteral("DELETE FROM %1").arg(chosenTable), error))
        return false;
    QSqlQuery query(db);
    if (!StoreQuery::prepare(query,
                             QStringLiteral("INSERT INTO %1 SELECT DISTINCT value FROM (%2) AS ids")
                                 .arg(chosenTable, SqlDialect::idsFromJson(db, QStringLiteral(":ids"))),
                             error))
        return false;
    query.bindValue(QStringLiteral(":ids"), ids);
    return StoreQuery::write(query, error);
}

void emptyChosen() {
    QSqlQuery query(QSqlDatabase::database());
    if (!query.exec(QStringLiteral("DELETE FROM %1").arg(chosenTable)))
        MZ_LOG() << "cannot empty the statistics' ids" << query.lastError().text();
}

// Names differing only in blanks and line breaks are one name, as the list shows them.
// A sum of hours as a whole number: a stray huge value must not wrap around.
qint64 hoursOf(double sum) {
    // Below the largest qint64, which a double cannot hold exactly.
    const double limit = 9.0e18;
    return std::isfinite(sum) ? qint64(qBound(-limit, std::round(sum), limit)) : 0;
}

QString nameKey(const QVariant& value) {
    const QString name = value.toString().simplified();
    return name.isEmpty() ? RegistryStatistics::blankText() : name;
}

// The topCount most frequent names (ties by name), then the rest in one line.
QVector<NamedCount> topNames(const QHash<QString, qint64>& counts) {
    QVector<NamedCount> all;
    all.reserve(counts.size());
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        all.append({it.key(), it.value()});
    std::sort(all.begin(), all.end(), [](const NamedCount& a, const NamedCount& b) {
        return a.count != b.count ? a.count > b.count : a.name < b.name;
    });
    if (all.size() > RegistryStatistics::topCount) {
        qint64 rest = 0;
        for (int i = RegistryStatistics::topCount; i < all.size(); ++i)
            rest += all.at(i).count;
        all.resize(RegistryStatistics::topCount);
        all.append({RegistryStatistics::restText(), rest});
    }
    return all;
}

// A stored issue date as the list reads it ("yyyy-MM-dd" with or without a time), else in any of
// the layouts people type.
QDate issueDate(const QVariant& value) {
    if (value.isNull())
        return QDate();
    const int day = ValueText::dayNumber(value.toString());
    if (day != ValueText::noDay)
        return QDate::fromJulianDay(day);
    const QDate date = ValueText::dateFromValue(value);
    return date.isValid() && date.year() > 0 ? date : QDate();
}

void add(KindCounts* counts, bool employee, bool duplicate, qint64 n) {
    (duplicate ? counts->duplicates : employee ? counts->employees : counts->workers) += n;
}

void add(KindCounts* counts, const KindCounts& more) {
    counts->workers += more.workers;
    counts->employees += more.employees;
    counts->duplicates += more.duplicates;
}

// --- the pass over a registry file ---------------------------------------------------------------

// The documents' columns the figures need; the kinds as the grouped statements compare them.
const char* const documentsScan =
    "SELECT profId, issueDate, COALESCE(certificateType, 0) = 2, COALESCE(isDuplicate, 0) >= 1, profession, qual "
    "FROM ProfDocuments WHERE COALESCE(isTemplate, 0) != 1 AND profId BETWEEN ?1 AND ?2";
const char* const documentLookup =
    "SELECT profId, issueDate, COALESCE(certificateType, 0) = 2, COALESCE(isDuplicate, 0) >= 1, profession, qual "
    "FROM ProfDocuments WHERE COALESCE(isTemplate, 0) != 1 AND profId = ?1";
const char* const hoursScan = "SELECT profId, count FROM ProfDetails WHERE detId BETWEEN ?1 AND ?2";
const char* const hoursLookup = "SELECT profId, count FROM ProfDetails WHERE profId = ?1";
// Each end on its own: both in one SELECT read the whole table.
const char* const hoursSpan = "SELECT (SELECT MIN(detId) FROM ProfDetails), (SELECT MAX(detId) FROM ProfDetails)";
// Appendix rows (or documents looked up one by one) per slice of the hours: a few tens of
// milliseconds each.
constexpr qint64 hoursSliceRows = 200000;
constexpr qint64 hoursSliceIds = 20000;

using Statement = StoreQuery::SqliteStatement;

// `sql` prepared on the file; null with the reason in `error`.
Statement prepared(sqlite3* db, const char* sql, QString* error) {
    if (!db) {
        StoreQuery::keep(error, QStringLiteral("no open database"));
        return StoreQuery::prepareSqlite(nullptr, sql);
    }
    Statement statement = StoreQuery::prepareSqlite(db, sql);
    if (!statement)
        StoreQuery::keep(error, QString::fromUtf8(sqlite3_errmsg(db)));
    return statement;
}

// Holds the file's read lock across a run of lookups: without it every lookup takes and drops the
// lock and checks the file again, which costs more than the lookup. A statement that has given a
// row and is not reset keeps the read open.
Statement readPin(sqlite3* db) {
    Statement pin = StoreQuery::prepareSqlite(db, "SELECT profId FROM ProfDocuments");
    if (pin)
        sqlite3_step(pin.get());
    return pin;
}

// Steps `statement` to its end, handing each row to `row`; false with SQLite's reason.
template <typename Row> bool stepAll(sqlite3_stmt* statement, Row row, QString* error) {
    int result;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW)
        row(statement);
    if (result == SQLITE_DONE)
        return true;
    StoreQuery::keep(error, QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(statement))));
    return false;
}

// A cell's type and bytes, the key under which equal values are counted together before any is
// made a date or a name: numbers by their 8 bytes, texts and blobs by theirs.
void cellKey(sqlite3_stmt* statement, int column, std::string* key) {
    const int type = sqlite3_column_type(statement, column);
    key->assign(1, char(type));
    if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
        char bytes[8];
        if (type == SQLITE_INTEGER) {
            const qint64 value = sqlite3_column_int64(statement, column);
            std::memcpy(bytes, &value, sizeof bytes);
        } else {
            const double value = sqlite3_column_double(statement, column);
            std::memcpy(bytes, &value, sizeof bytes);
        }
        key->append(bytes, sizeof bytes);
    } else if (type != SQLITE_NULL) {
        const void* bytes = type == SQLITE_BLOB ? sqlite3_column_blob(statement, column)
                                                : static_cast<const void*>(sqlite3_column_text(statement, column));
        key->append(static_cast<const char*>(bytes), size_t(sqlite3_column_bytes(statement, column)));
    }
}

// The value of a key as the database driver gives the cell, for the readings shared with the
// grouped statements.
QVariant keyValue(const std::string& key) {
    const char* bytes = key.data() + 1;
    switch (int(key.at(0))) {
    case SQLITE_INTEGER: {
        qint64 value;
        std::memcpy(&value, bytes, sizeof value);
        return qlonglong(value);
    }
    case SQLITE_FLOAT: {
        double value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }
    case SQLITE_BLOB:
        return QByteArray(bytes, int(key.size() - 1));
    case SQLITE_TEXT:
        return QString::fromUtf8(bytes, int(key.size() - 1));
    default:
        return QVariant();
    }
}

// What one pass gathers: counts by raw issue date and by raw name.
struct ScanCounts {
    std::unordered_map<std::string, KindCounts> dates;
    std::unordered_map<std::string, qint64> professions, qualifications;
    std::vector<qint64> counted;
    std::string key; // reused, so that a row allocates nothing

    void take(sqlite3_stmt* row) {
        counted.push_back(sqlite3_column_int64(row, 0));
        cellKey(row, 1, &key);
        add(&dates[key], sqlite3_column_int(row, 2) != 0, sqlite3_column_int(row, 3) != 0, 1);
        cellKey(row, 4, &key);
        ++professions[key];
        cellKey(row, 5, &key);
        ++qualifications[key];
    }
};

QHash<QString, qint64> namesOf(const std::unordered_map<std::string, qint64>& raw) {
    QHash<QString, qint64> names;
    for (const auto& entry : raw)
        names[nameKey(keyValue(entry.first))] += entry.second;
    return names;
}
} // namespace

void RegistryStatistics::clear() {
    _counted = ChosenIds();
    _groupedIds.clear();
    restartHours();
    _documents = 0;
    _hours = 0;
    _hoursRead = false;
    _years.clear();
    _months.clear();
    _professions.clear();
    _qualifications.clear();
}

bool RegistryStatistics::grouped() const {
    return _reading == Reading::Grouped || SqlDialect::isServer();
}

bool RegistryStatistics::read(const QList<qint64>& ids, QString* error) {
    if (readCounts(ids, error) && readHours(error))
        return true;
    clear();
    return false;
}

bool RegistryStatistics::readCounts(const QList<qint64>& ids, QString* error) {
    clear();
    QString reason;
    bool ok;
    if (grouped()) {
        ok = fillChosen(SqlDialect::jsonIds(ids), &reason) && readDates(&reason) && readNames(&reason);
        emptyChosen();
        _groupedIds = ids;
    } else {
        ok = scanCounts(ChosenIds(ids), &reason);
    }
    if (ok)
        return true;
    clear();
    StoreQuery::keep(error, readFailedText(reason));
    return false;
}

bool RegistryStatistics::readHours(QString* error) {
    while (!_hoursRead)
        if (!readHoursSlice(error))
            return false;
    return true;
}

bool RegistryStatistics::readHoursSlice(QString* error) {
    if (_hoursRead)
        return true;
    QString reason;
    bool ok;
    if (grouped()) {
        ok = fillChosen(SqlDialect::jsonIds(_groupedIds), &reason) && sumHours(&reason);
        emptyChosen();
    } else {
        ok = scanHoursSlice(&reason);
    }
    if (ok)
        return true;
    // A later call starts over rather than adding to half a sum.
    restartHours();
    StoreQuery::keep(error, readFailedText(reason));
    return false;
}

// One pass over the chosen span in id order, or a lookup per id when they are few in their span.
bool RegistryStatistics::scanCounts(const ChosenIds& chosen, QString* error) {
    if (chosen.isEmpty())
        return true;
    sqlite3* db = StoreQuery::mainFileHandle();
    const bool lookups = chosen.sparse();
    const Statement statement = prepared(db, lookups ? documentLookup : documentsScan, error);
    if (!statement)
        return false;
    ScanCounts scan;
    scan.counted.reserve(size_t(chosen.size()));
    sqlite3_stmt* raw = statement.get();
    if (lookups) {
        const Statement pin = readPin(db);
        for (qint64 id : chosen.ids()) {
            sqlite3_reset(raw);
            sqlite3_bind_int64(raw, 1, id);
            if (!stepAll(
                    raw, [&](sqlite3_stmt* row) { scan.take(row); }, error))
                return false;
        }
    } else {
        sqlite3_bind_int64(raw, 1, chosen.first());
        sqlite3_bind_int64(raw, 2, chosen.last());
        const auto row = [&](sqlite3_stmt* row) {
            if (chosen.contains(sqlite3_column_int64(row, 0)))
                scan.take(row);
        };
        if (!stepAll(raw, row, error))
            return false;
    }
    _documents = qint64(scan.counted.size());
    for (const auto& entry : scan.dates) {
        const QDate date = issueDate(keyValue(entry.first));
        const KindCounts& n = entry.second;
        add(&_years[date.isValid() ? date.year() : noDate], n);
        if (date.isValid())
            add(&_months[date.year()][date.month()], n);
    }
    _professions = topNames(namesOf(scan.professions));
    _qualifications = topNames(namesOf(scan.qualifications));
    _counted = ChosenIds::fromAscending(std::move(scan.counted));
    return true;
}

// The appendix rows of the counted documents, a slice per call: in row order over the whole
// table when the documents are many, document by document when they are few. Summed in the order
// and the precision of SQLite's total(), which the grouped statements use.
bool RegistryStatistics::scanHoursSlice(QString* error) {
    sqlite3* db = StoreQuery::mainFileHandle();
    if (!_hoursStarted && !startHours(db, error))
        return false;
    const auto addHours = [this](sqlite3_stmt* row) {
        if (sqlite3_column_type(row, 1) != SQLITE_NULL)
            _hoursSum += sqlite3_column_double(row, 1);
    };
    const Statement statement = prepared(db, _hoursByLookup ? hoursLookup : hoursScan, error);
    if (!statement)
        return false;
    sqlite3_stmt* raw = statement.get();
    if (_hoursByLookup) {
        const Statement pin = readPin(db);
        const qint64 end = std::min(_counted.size(), _hoursCursor + hoursSliceIds);
        for (; _hoursCursor < end; ++_hoursCursor) {
            sqlite3_reset(raw);
            sqlite3_bind_int64(raw, 1, _counted.ids().at(size_t(_hoursCursor)));
            if (!stepAll(raw, addHours, error))
                return false;
        }
        if (_hoursCursor >= _counted.size())
            finishHours();
        return true;
    }
    // The slice's end by subtraction, so that the last one cannot overflow.
    const qint64 last = _hoursEnd - _hoursCursor < hoursSliceRows ? _hoursEnd : _hoursCursor + hoursSliceRows - 1;
    sqlite3_bind_int64(raw, 1, _hoursCursor);
    sqlite3_bind_int64(raw, 2, last);
    const auto row = [&](sqlite3_stmt* row) {
        if (_counted.contains(sqlite3_column_int64(row, 0)))
            addHours(row);
    };
    if (!stepAll(raw, row, error))
        return false;
    if (last >= _hoursEnd)
        finishHours();
    else
        _hoursCursor = last + 1;
    return true;
}

// Chooses between the pass and the lookups by the appendix rows' span: a lookup reads its
// document's dozen rows where the pass reads everyone's.
bool RegistryStatistics::startHours(sqlite3* db, QString* error) {
    const Statement span = prepared(db, hoursSpan, error);
    if (!span)
        return false;
    qint64 first = 0, last = -1;
    const auto row = [&](sqlite3_stmt* row) {
        if (sqlite3_column_type(row, 1) != SQLITE_NULL) {
            first = sqlite3_column_int64(row, 0);
            last = sqlite3_column_int64(row, 1);
        }
    };
    if (!stepAll(span.get(), row, error))
        return false;
    const quint64 rows = quint64(last) - quint64(first) + 1;
    _hoursByLookup = last < first || quint64(_counted.size()) < rows / 32;
    _hoursCursor = _hoursByLookup ? 0 : first;
    _hoursEnd = last;
    _hoursStarted = true;
    return true;
}

void RegistryStatistics::finishHours() {
    _hours = hoursOf(_hoursSum);
    _hoursRead = true;
    restartHours();
    _counted = ChosenIds();
}

void RegistryStatistics::restartHours() {
    _hoursByLookup = false;
    _hoursStarted = false;
    _hoursCursor = 0;
    _hoursEnd = -1;
    _hoursSum = 0;
}

bool RegistryStatistics::readDates(QString* error) {
    QSqlQuery query(QSqlDatabase::database());
    const QString statement =
        QStringLiteral(
            "SELECT d.issueDate, COALESCE(d.certificateType, 0) = 2, COALESCE(d.isDuplicate, 0) >= 1, COUNT(*) "
            "FROM ProfDocuments d WHERE d.profId IN (SELECT id FROM %1) AND COALESCE(d.isTemplate, 0) != 1 "
            "GROUP BY 1, 2, 3")
            .arg(chosenTable);
    query.setForwardOnly(true);
    if (!StoreQuery::run(query, statement, error))
        return false;
    while (query.next()) {
        const QDate date = issueDate(query.value(0));
        const bool employee = query.value(1).toBool(), duplicate = query.value(2).toBool();
        const qint64 n = query.value(3).toLongLong();
        _documents += n;
        add(&_years[date.isValid() ? date.year() : noDate], employee, duplicate, n);
        if (date.isValid())
            add(&_months[date.year()][date.month()], employee, duplicate, n);
    }
    return true;
}

bool RegistryStatistics::readNames(QString* error) {
    QSqlQuery query(QSqlDatabase::database());
    // Professions and qualifications in one pass: their pairs are few. The documents are reached
    // from the ids: joined the other way, the planner walks the profession index instead.
    const QString statement = QStringLiteral("SELECT d.profession, d.qual, COUNT(*) FROM ProfDocuments d "
                                             "WHERE d.profId IN (SELECT id FROM %1) AND COALESCE(d.isTemplate, 0) != 1 "
                                             "GROUP BY 1, 2")
                                  .arg(chosenTable);
    query.setForwardOnly(true);
    if (!StoreQuery::run(query, statement, error))
        return false;
    QHash<QString, qint64> professions, qualifications;
    while (query.next()) {
        const qint64 n = query.value(2).toLongLong();
        professions[nameKey(query.value(0))] += n;
        qualifications[nameKey(query.value(1))] += n;
    }
    _professions = topNames(professions);
    _qualifications = topNames(qualifications);
    return true;
}

bool RegistryStatistics::sumHours(QString* error) {
    QSqlDatabase db = QSqlDatabase::database();
    QSqlQuery query(db);
    // A floating-point sum: a stray huge value must not stop the figures with an overflow.
    const QString statement = QStringLiteral("SELECT %1 FROM %2 c INNER JOIN ProfDocuments d ON d.profId = c.id "
                                             "INNER JOIN ProfDetails s ON s.profId = c.id "
                                             "WHERE COALESCE(d.isTemplate, 0) != 1")
                                  .arg(SqlDialect::floatSum(db, QStringLiteral("s.count")), chosenTable);
    query.setForwardOnly(true);
    if (!StoreQuery::run(query, statement, error))
        return false;
    _hoursSum = query.next() ? query.value(0).toDouble() : 0;
    finishHours();
    return true;
}

QVector<PeriodCounts> RegistryStatistics::years() const {
    QVector<PeriodCounts> rows;
    // A year without documents inside the range is a gap on the axis, not a missing column.
    if (!_months.isEmpty())
        for (int year = _months.firstKey(); year <= _months.lastKey(); ++year)
            rows.append({year, _years.value(year)});
    if (_years.contains(noDate))
        rows.append({noDate, _years.value(noDate)});
    return rows;
}

QList<int> RegistryStatistics::datedYears() const {
    return _months.keys();
}

QVector<PeriodCounts> RegistryStatistics::months(int year) const {
    const QMap<int, KindCounts> byMonth = _months.value(year);
    QVector<PeriodCounts> rows;
    for (int month = 1; month <= 12; ++month)
        rows.append({month, byMonth.value(month)});
    return rows;
}

QString RegistryStatistics::filterText(const DocumentFilter& filter) {
    const auto range = [](const QString& name, const QDate& from, const QDate& to) {
        const QString format = QStringLiteral("dd.MM.yyyy");
        return QStringLiteral("%1 с %2 по %3").arg(name, from.toString(format), to.toString(format));
    };
    // As the filter applies them: a range only with both ends.
    QStringList conditions;
    if (!filter.fio().isEmpty())
        conditions << QStringLiteral("ФИО содержит «%1»").arg(filter.fio());
    if (!filter.qual().isEmpty())
        conditions << QStringLiteral("квалификация содержит «%1»").arg(filter.qual());
    if (filter.dateFrom().isValid() && filter.dateTo().isValid())
        conditions << range(QStringLiteral("дата выдачи"), filter.dateFrom(), filter.dateTo());
    if (filter.editDateFrom().isValid() && filter.editDateTo().isValid())
        conditions << range(QStringLiteral("дата редактирования"), filter.editDateFrom(), filter.editDateTo());
    return QStringLiteral("Фильтр: ") +
           (conditions.isEmpty() ? QStringLiteral("нет") : conditions.join(QStringLiteral("; ")));
}
