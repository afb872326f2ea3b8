#include "usedvalues.h"

#include "database.h"
#include "mzlog.h"
#include "serverconnection.h"

#include "usedvalueswalk.h"

#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTimer>
#include <QUuid>
#include <algorithm>
#include <numeric>

UsedValues::UsedValues() = default;

UsedValues::~UsedValues() {
    // A std::async future waits for its thread when it goes; said here so that it is plain.
    for (Ahead& ahead : _ahead)
        if (ahead.batch.valid())
            ahead.batch.wait();
}

QString UsedValues::key(const QString& table, const QStringList& columns) {
    return table + QLatin1Char('|') + columns.join(QLatin1Char('|'));
}

void UsedValues::addGroup(const QString& value, int count, bool oneColumn, Counts* counts,
                          QHash<QString, int>* untrimmed) {
    const QString trimmed = value.trimmed();
    if (trimmed.isEmpty())
        return;
    if (trimmed.size() == value.size() && oneColumn)
        counts->append(qMakePair(value, count));
    else
        (*untrimmed)[trimmed] += count;
}

void UsedValues::settle(Counts* counts, QHash<QString, int>* untrimmed, bool sorted) {
    const bool merged = !untrimmed->isEmpty();
    if (merged) {
        for (const auto& entry : qAsConst(*counts))
            (*untrimmed)[entry.first] += entry.second;
        counts->clear();
        for (auto it = untrimmed->constBegin(); it != untrimmed->constEnd(); ++it)
            counts->append(qMakePair(it.key(), it.value()));
        untrimmed->clear();
    }
    const auto byValue = [](const auto& a, const auto& b) { return a.first < b.first; };
    if ((merged || !sorted) && !std::is_sorted(counts->cbegin(), counts->cend(), byValue))
        std::sort(counts->begin(), counts->end(), byValue);
    // A number and its text are separate groups for the database but one value here, and a walk
    // in slices may meet a value twice. Most lists have neither: they are left untouched.
    const auto twice = std::adjacent_find(counts->cbegin(), counts->cend(),
                                          [](const auto& a, const auto& b) { return a.first == b.first; });
    int kept = int(twice - counts->cbegin());
    for (int i = kept; i < counts->size(); ++i) {
        if (kept > 0 && (*counts)[kept - 1].first == (*counts)[i].first)
            (*counts)[kept - 1].second += (*counts)[i].second;
        else
            (*counts)[kept++] = (*counts)[i];
    }
    counts->resize(kept);
}

// Values come in the index's order and are mostly stored trimmed, so only the others need merging.
bool UsedValues::count(QSqlDatabase& db, const QString& table, const QStringList& columns, Counts* counts,
                       QSqlError* error) {
    counts->clear();
    QHash<QString, int> untrimmed;
    for (const QString& column : columns) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral("SELECT %1, COUNT(*) FROM %2 GROUP BY %1").arg(column, table))) {
            if (error)
                *error = query.lastError();
            return false;
        }
        while (query.next())
            addGroup(query.value(0).toString(), query.value(1).toInt(), columns.size() == 1, counts, &untrimmed);
        if (query.lastError().type() != QSqlError::NoError) {
            if (error)
                *error = query.lastError();
            return false;
        }
    }
    settle(counts, &untrimmed);
    return true;
}

const UsedValues::Counts& UsedValues::counts(QSqlDatabase& db, const QString& table, const QStringList& columns,
                                             qint64 changes, QSqlError* error) {
    const QString k = key(table, columns);
    if (changes >= 0 && _kept.value(k).changes != changes)
        takeAhead(changes, true);
    Kept& kept = _kept[k];
    if (changes >= 0 && kept.changes == changes)
        return kept.counts;
    Counts fresh;
    if (!count(db, table, columns, &fresh, error)) {
        kept = Kept();
        return kept.counts;
    }
    kept.counts = std::move(fresh);
    kept.changes = changes;
    return kept.counts;
}

bool UsedValues::coming(const QString& table, const QStringList& columns, qint64 changes) {
    const QString k = key(table, columns);
    if (changes < 0 || _kept.value(k).changes == changes)
        return false;
    takeAhead(changes, false);
    if (_kept.value(k).changes == changes)
        return false;
    for (const Ahead& ahead : _ahead)
        if (ahead.changes == changes && ahead.keys.contains(k))
            return true;
    return false;
}

void UsedValues::want(const QString& table, const QStringList& columns) {
    for (const Wanted& w : qAsConst(_wanted))
        if (w.table == table && w.columns == columns)
            return;
    _wanted.append({table, columns});
}

void UsedValues::readAhead(const ServerAddress& address, qint64 changes, const QString& table) {
    if (changes < 0)
        return;
    takeAhead(changes, false);
    QList<Wanted> missing;
    for (const Wanted& w : qAsConst(_wanted)) {
        const QString k = key(w.table, w.columns);
        if ((!table.isEmpty() && w.table != table) || _kept.value(k).changes == changes)
            continue;
        const bool coming = std::any_of(_ahead.cbegin(), _ahead.cend(), [&](const Ahead& ahead) {
            return ahead.changes == changes && ahead.keys.contains(k);
        });
        if (!coming)
            missing.append(w);
    }
    if (missing.isEmpty())
        return;
    Ahead ahead;
    ahead.changes = changes;
    for (const Wanted& w : qAsConst(missing))
        ahead.keys << key(w.table, w.columns);
    ahead.batch = std::async(std::launch::async, [address, missing] {
        Batch batch;
        // The connection is made, used and removed in this thread.
        const ScopedServerConnection connection(address, QStringLiteral("orvane_used_values_") +
                                                             QUuid::createUuid().toString(QUuid::Id128));
        if (!connection.isOpen()) {
            MZ_LOG() << "used values not read ahead:" << connection.error();
            return batch;
        }
        QSqlDatabase db = connection.database();
        // A dialog may wait for this read: another program's lock does not hold it for long.
        QSqlQuery(db).exec(QStringLiteral("SET lock_timeout = '5s'"));
        for (const Wanted& w : missing) {
            Counts counts;
            QSqlError failure;
            if (count(db, w.table, w.columns, &counts, &failure))
                batch.insert(key(w.table, w.columns), std::move(counts));
            else
                MZ_LOG() << "used values not read ahead:" << w.table << w.columns << failure.text();
        }
        return batch;
    });
    _ahead.push_back(std::move(ahead));
}

void UsedValues::takeAhead(qint64 changes, bool wait) {
    for (auto it = _ahead.begin(); it != _ahead.end();) {
        const bool current = it->changes == changes;
        if (!(current && wait) && it->batch.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            ++it;
            continue;
        }
        const Batch batch = it->batch.get();
        if (current)
            for (auto entry = batch.constBegin(); entry != batch.constEnd(); ++entry)
                _kept[entry.key()] = {changes, entry.value()};
        it = _ahead.erase(it);
    }
}

void UsedValues::clear() {
    _kept.clear();
    _walks.clear();
    _walkOrder.clear();
    if (_walkTimer)
        _walkTimer->stop();
}

namespace {
// A slice the first time is short, so that a dialog opening is not held up by it.
constexpr int firstSliceRows = 4096;
constexpr int leastSliceRows = 512;
constexpr int mostSliceRows = 1 << 18;
constexpr qint64 sliceMicroseconds = 15000;

// The names are formatted into the walk's statements: only the registry's own are taken.
bool knownColumns(const QString& table, const QStringList& columns) {
    const auto& tables = Database::instance()->tables();
    const auto known = tables.constFind(table);
    if (known == tables.constEnd())
        return false;
    return std::all_of(columns.cbegin(), columns.cend(),
                       [&known](const QString& column) { return known->columnAnyCase(column) != nullptr; });
}

} // namespace

void UsedValues::reportWalkFailure(const QSqlError& failure, const QString& key) {
    if (failure.type() != QSqlError::NoError && Database::hasInstance())
        Database::instance()->reportFailure(failure, QStringLiteral("used values of %1").arg(key));
}

bool UsedValues::walking(QSqlDatabase& db, const QString& table, const QStringList& columns, qint64 changes,
                         QObject* waiter) {
    const QString k = key(table, columns);
    if (changes < 0 || _kept.value(k).changes == changes)
        return false;
    Walking& walking = _walks[k];
    const bool fresh = !walking.walk || walking.walk->changes() != changes;
    if (fresh) {
        walking.walk = std::make_shared<UsedValuesWalk>(table, columns, changes);
        walking.rows = firstSliceRows;
        if (!_walkOrder.contains(k))
            _walkOrder.append(k);
    }
    if (waiter && !walking.waiters.contains(waiter))
        walking.waiters.append(waiter);
    if (fresh) {
        QSqlError failure;
        if (walkSlice(db, k, walking, changes, &failure)) {
            _walks.remove(k);
            _walkOrder.removeAll(k);
            reportWalkFailure(failure, k);
            return false;
        }
    }
    if (!_walkTimer) {
        _walkTimer = std::make_unique<QTimer>();
        _walkTimer->setInterval(0);
        QObject::connect(_walkTimer.get(), &QTimer::timeout, [this] { walkOnce(); });
    }
    if (!_walkTimer->isActive())
        _walkTimer->start();
    return true;
}

// The walks go one after the other, so that the first lists arrive while the last are counted.
void UsedValues::walkOnce() {
    // A failure's report may run events.
    if (_inSlice)
        return;
    while (!_walkOrder.isEmpty()) {
        Walking& first = _walks[_walkOrder.first()];
        first.waiters.removeAll(QPointer<QObject>());
        if (!first.waiters.isEmpty())
            break;
        _walks.remove(_walkOrder.takeFirst());
    }
    QSqlDatabase db = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
    if (_walkOrder.isEmpty() || !Database::hasInstance() || !db.isOpen()) {
        clear();
        return;
    }
    const QString k = _walkOrder.first();
    QSqlError failure;
    _inSlice = true;
    const bool over = walkSlice(db, k, _walks[k], Database::instance()->totalChanges(), &failure);
    _inSlice = false;
    if (over) {
        _walks.remove(k);
        _walkOrder.removeAll(k);
    }
    if (_walks.isEmpty())
        _walkTimer->stop();
    reportWalkFailure(failure, k);
}

// A change to the registry between slices makes the walk begin again: a slice's resumption point
// may have moved. A failed read leaves no values for this change count rather than a part of them.
bool UsedValues::walkSlice(QSqlDatabase& db, const QString& key, Walking& walking, qint64 changes, QSqlError* failure) {
    if (walking.walk->changes() != changes) {
        walking.walk = std::make_shared<UsedValuesWalk>(walking.walk->table(), walking.walk->columns(), changes);
        walking.rows = firstSliceRows;
    }
    QElapsedTimer timer;
    timer.start();
    if (!walking.walk->step(db, walking.rows, failure)) {
        _kept[key] = {changes, Counts()};
        return true;
    }
    // Each slice holds the window for some 15 ms, as fast as the last slice read its rows; a slice
    // that read few (the end of a value) tells nothing.
    const qint64 took = timer.nsecsElapsed() / 1000;
    const int read = walking.walk->lastRows();
    if (read >= walking.rows / 2 && took > 0)
        walking.rows = int(qBound<qint64>(leastSliceRows, read * sliceMicroseconds / took, mostSliceRows));
    if (!walking.walk->done())
        return false;
    _kept[key] = {changes, walking.walk->takeCounts()};
    return true;
}

// --- the open registry's used values ------------------------------------------------------

// The counts are kept until the registry changes, so that a dialog opened again does not read the
// whole table again.
const UsedValues::Counts& UsedValues::usedValueCounts(const QString& table, const QStringList& columnNames) {
    Database* store = Database::instance();
    QSqlDatabase db = QSqlDatabase::database();
    QSqlError failure;
    const Counts& counts = store->_usedValues.counts(db, table, columnNames, store->totalChanges(), &failure);
    if (failure.type() != QSqlError::NoError)
        store->reportFailure(failure,
                             QStringLiteral("used values of %1 %2").arg(table, columnNames.join(QLatin1Char(','))));
    return counts;
}

// Counts no longer current are read again in the background, as they are wanted.
bool UsedValues::usedValuesComing(const QString& table, const QStringList& columnNames) {
    if (!Database::usesServer())
        return false;
    Database* store = Database::instance();
    store->_usedValues.readAhead(Database::serverAddress(), store->totalChanges(), table);
    return store->_usedValues.coming(table, columnNames, store->totalChanges());
}

bool UsedValues::usedValuesComing(const QString& table, const QStringList& columnNames, QObject* waiter) {
    if (Database::usesServer())
        return usedValuesComing(table, columnNames);
    if (!Database::hasInstance() || !knownColumns(table, columnNames))
        return false;
    Database* store = Database::instance();
    QSqlDatabase db = QSqlDatabase::database();
    return store->_usedValues.walking(db, table, columnNames, store->totalChanges(), waiter);
}

bool UsedValues::countingUnderWay() {
    return Database::hasInstance() && Database::instance()->_usedValues.isWalking();
}

// On a server the counts are read on a connection of their own, now and whenever they are wanted
// again after a change; the file's main connection holds the file alone, and its counts take a
// moment only. The sets are read together, in one thread.
void UsedValues::readUsedValuesAhead(const QString& table, const QList<QStringList>& columnSets) {
    if (!Database::usesServer())
        return;
    Database* store = Database::instance();
    for (const QStringList& columnNames : columnSets)
        store->_usedValues.want(table, columnNames);
    store->_usedValues.readAhead(Database::serverAddress(), store->totalChanges(), table);
}

QStringList UsedValues::mostFrequentValues(const QString& table, const QStringList& columnNames, int limit,
                                           bool alphabetical) {
    const Counts entries = usedValueCounts(table, columnNames);
    std::vector<int> order(size_t(entries.size()));
    std::iota(order.begin(), order.end(), 0);
    if (alphabetical) {
        // Each value lowered once, not once per comparison: a registry's certificate numbers are
        // a million values.
        QVector<QString> lowered;
        lowered.reserve(entries.size());
        for (const auto& entry : entries)
            lowered << entry.first.toLower();
        std::stable_sort(order.begin(), order.end(), [&lowered](int a, int b) { return lowered[a] < lowered[b]; });
    } else if (!std::is_sorted(entries.cbegin(), entries.cend(),
                               [](const auto& a, const auto& b) { return a.second > b.second; })) {
        // Numbers a document each are all as frequent: then they stay in their order.
        std::stable_sort(order.begin(), order.end(),
                         [&entries](int a, int b) { return entries[a].second > entries[b].second; });
    }
    QStringList result;
    result.reserve(limit > 0 ? qMin(limit, entries.size()) : entries.size());
    for (int at : order) {
        if (limit > 0 && result.size() >= limit)
            break;
        result << entries[at].first;
    }
    return result;
}
