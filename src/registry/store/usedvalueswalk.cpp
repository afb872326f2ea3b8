#include "usedvalueswalk.h"

#include "fileschema.h"
#include "storequery.h"

#include <QSqlQuery>
#include <QVariant>
#include <cstring>
#include <sqlite3.h>

namespace {
bool run(QSqlQuery& query, const QVariantList& values, QSqlError* error) {
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (query.exec())
        return true;
    if (error)
        *error = query.lastError();
    return false;
}

// A read that stopped short of its rows (a damaged page) fails as a whole.
bool finished(const QSqlQuery& query, QSqlError* error) {
    if (query.lastError().type() == QSqlError::NoError)
        return true;
    if (error)
        *error = query.lastError();
    return false;
}
} // namespace

UsedValuesWalk::UsedValuesWalk(const QString& table, const QStringList& columns, qint64 changes)
    : _table(table), _columns(columns), _changes(changes), _done(columns.isEmpty()) {}

bool UsedValuesWalk::step(QSqlDatabase& db, int rows, QSqlError* error) {
    _lastRows = 0;
    if (_done)
        return true;
    if (!_started) {
        if (!startColumn(db, error))
            return false;
        if (_done || !_started)
            return true;
    }
    const bool ok = _indexed ? stepIndex(db, rows, error) : stepTable(db, rows, error);
    checkOrder();
    return ok;
}

UsedValues::Counts UsedValuesWalk::takeCounts() {
    UsedValues::settle(&_counts, &_untrimmed, _sorted);
    return std::move(_counts);
}

// A slice's part of the check that the end would otherwise make of a million values at once.
void UsedValuesWalk::checkOrder() {
    for (int i = qMax(1, _checked); _sorted && i < _counts.size(); ++i)
        _sorted = !(_counts.at(i).first < _counts.at(i - 1).first);
    _checked = _counts.size();
}

// An index whose first column is this one, in the order comparisons use, and over every row.
bool UsedValuesWalk::startColumn(QSqlDatabase& db, QSqlError* error) {
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM pragma_index_list(?) AS l, pragma_index_xinfo(l.name) AS x "
                                 "WHERE x.seqno = 0 AND x.name = ? COLLATE NOCASE AND x.coll = 'BINARY' "
                                 "AND l.partial = 0"));
    if (!run(query, {_table, column()}, error) || !finished(query, error))
        return false;
    _indexed = query.next() && query.value(0).toInt() > 0;
    _begun = false;
    _inValue = false;
    if (_indexed) {
        _started = true;
        return true;
    }
    QSqlQuery bounds(db);
    bounds.prepare(QStringLiteral("SELECT MIN(rowid), MAX(rowid) FROM %1").arg(_table));
    if (!run(bounds, {}, error))
        return false;
    if (!bounds.next())
        return finished(bounds, error);
    if (bounds.value(0).isNull()) {
        nextColumn();
        return true;
    }
    _lastRowid = bounds.value(0).toLongLong() - 1;
    _maxRowid = bounds.value(1).toLongLong();
    _started = true;
    return true;
}

// The values come in the index's order. A slice that ends inside a value goes on with that value's
// further rows, found by rowid, so that a value of a million rows is counted in slices too. Where a
// slice resumes is told by a row, not by a value handed back: a text SQLite holds may not survive
// the trip through a QString.
bool UsedValuesWalk::stepIndex(QSqlDatabase& db, int rows, QSqlError* error) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (_inValue) {
        query.prepare(QStringLiteral("SELECT COUNT(*), MAX(rowid) FROM (SELECT rowid FROM %2 WHERE %1 = (SELECT %1 "
                                     "FROM %2 WHERE rowid = ?) AND rowid > ? ORDER BY rowid LIMIT ?)")
                          .arg(column(), _table));
        if (!run(query, {_lastRowid, _lastRowid, rows}, error))
            return false;
        const int counted = query.next() ? query.value(0).toInt() : 0;
        _lastRows = counted;
        if (counted > 0) {
            UsedValues::addGroup(_lastValue, counted, _columns.size() == 1, &_counts, &_untrimmed);
            _lastRowid = query.value(1).toLongLong();
        }
        _inValue = counted >= rows;
        return finished(query, error);
    }
    const QString from = _begun ? QStringLiteral("%1 > (SELECT %1 FROM %2 WHERE rowid = ?)").arg(column(), _table)
                                : QStringLiteral("%1 IS NOT NULL").arg(column());
    const QString sql =
        QStringLiteral("SELECT %1, rowid FROM %2 WHERE %3 ORDER BY %1, rowid LIMIT ?").arg(column(), _table, from);
    const int counted = readRows(db, sql, rows, error);
    if (counted < 0)
        return false;
    _lastRows = counted;
    _begun = true;
    _inValue = counted >= rows;
    if (counted < rows)
        nextColumn();
    return true;
}

// Straight from SQLite: a value's rows come one after the other, and only a new value is made a
// QString; the driver would make one of every row. The rows read, or -1 with `error`.
int UsedValuesWalk::readRows(QSqlDatabase& db, const QString& sql, int rows, QSqlError* error) {
    sqlite3* handle = FileSchema::sqliteHandle(db);
    if (!handle) {
        if (error)
            *error = QSqlError(QString(), QStringLiteral("no SQLite connection"), QSqlError::ConnectionError);
        return -1;
    }
    const auto failed = [&] {
        if (error)
            *error = QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(handle)), QSqlError::StatementError,
                               QString::number(sqlite3_extended_errcode(handle)));
        return -1;
    };
    const StoreQuery::SqliteStatement prepared = StoreQuery::prepareSqlite(handle, sql.toUtf8().constData());
    if (!prepared)
        return failed();
    sqlite3_stmt* statement = prepared.get();
    int parameter = 1;
    if (_begun)
        sqlite3_bind_int64(statement, parameter++, _lastRowid);
    sqlite3_bind_int(statement, parameter, rows);
    QByteArray value;
    int run = 0, counted = 0, code = SQLITE_ROW;
    const auto flush = [&] {
        if (run > 0) {
            _lastValue = QString::fromUtf8(value);
            UsedValues::addGroup(_lastValue, run, _columns.size() == 1, &_counts, &_untrimmed);
        }
    };
    while ((code = sqlite3_step(statement)) == SQLITE_ROW) {
        const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        const int size = sqlite3_column_bytes(statement, 0);
        if (run > 0 && size == value.size() && (size == 0 || memcmp(text, value.constData(), size_t(size)) == 0)) {
            ++run;
        } else {
            flush();
            value = QByteArray(text, size);
            run = 1;
        }
        _lastRowid = sqlite3_column_int64(statement, 1);
        ++counted;
    }
    if (code != SQLITE_DONE)
        return failed();
    flush();
    return counted;
}

bool UsedValuesWalk::stepTable(QSqlDatabase& db, int rows, QSqlError* error) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(
        QStringLiteral("SELECT %1, COUNT(*) FROM %2 WHERE rowid > ? AND rowid <= ? GROUP BY %1").arg(column(), _table));
    const qint64 last = _lastRowid > _maxRowid - rows ? _maxRowid : _lastRowid + rows;
    if (!run(query, {_lastRowid, last}, error))
        return false;
    while (query.next())
        UsedValues::addGroup(query.value(0).toString(), query.value(1).toInt(), _columns.size() == 1, &_counts,
                             &_untrimmed);
    if (!finished(query, error))
        return false;
    _lastRows = int(last - _lastRowid);
    _lastRowid = last;
    if (last >= _maxRowid)
        nextColumn();
    return true;
}

void UsedValuesWalk::nextColumn() {
    _started = false;
    if (++_column >= _columns.size())
        _done = true;
}
