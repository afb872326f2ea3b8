#include "registrystatistics.h"

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
} // namespace

void RegistryStatistics::clear() {
    _documents = 0;
    _hours = 0;
    _hoursRead = false;
    _years.clear();
    _months.clear();
    _professions.clear();
    _qualifications.clear();
}

bool RegistryStatistics::read(const QList<qint64>& ids, QString* error) {
    if (readCounts(ids, error) && readHours(ids, error))
        return true;
    clear();
    return false;
}

bool RegistryStatistics::readCounts(const QList<qint64>& ids, QString* error) {
    clear();
    QString reason;
    const bool ok = fillChosen(SqlDialect::jsonIds(ids), &reason) && readDates(&reason) && readNames(&reason);
    emptyChosen();
    if (ok)
        return true;
    clear();
    StoreQuery::keep(error, readFailedText(reason));
    return false;
}

bool RegistryStatistics::readHours(const QList<qint64>& ids, QString* error) {
    _hours = 0;
    _hoursRead = false;
    QString reason;
    const bool ok = fillChosen(SqlDialect::jsonIds(ids), &reason) && sumHours(&reason);
    emptyChosen();
    if (!ok)
        StoreQuery::keep(error, readFailedText(reason));
    return ok;
}

bool RegistryStatistics::readDates(QString* error) {
    QSqlQuery query(QSqlDatabase::database());
    const QString statement =
        QStringLiteral(
            "SELECT d.issueDate, COALESCE(d.certificateType, 0) = 2, COALESCE(d.isDuplicate, 0) >= 1, COUNT(*) "
            "FROM ProfDocuments d WHERE d.profId IN (SELECT id FROM %1) GROUP BY 1, 2, 3")
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
                                             "WHERE d.profId IN (SELECT id FROM %1) GROUP BY 1, 2")
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
    const QString statement = QStringLiteral("SELECT %1 FROM %2 c INNER JOIN ProfDetails s ON s.profId = c.id")
                                  .arg(SqlDialect::floatSum(db, QStringLiteral("s.count")), chosenTable);
    query.setForwardOnly(true);
    if (!StoreQuery::run(query, statement, error))
        return false;
    const double hours = query.next() ? query.value(0).toDouble() : 0;
    // Below the largest qint64, which a double cannot hold exactly.
    const double limit = 9.0e18;
    _hours = std::isfinite(hours) ? qint64(qBound(-limit, std::round(hours), limit)) : 0;
    _hoursRead = true;
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
