#include "documentstore.h"

#include "database.h"
#include "documenthistory.h"
#include "edittransaction.h"
#include "frdoautofill.h"
#include "historyentries.h"
#include "mzlog.h"
#include "savepoint.h"
#include "sqldialect.h"
#include "storequery.h"

#include <QMap>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>
#include <limits>
#include <memory>
#include <sqlite3.h>

namespace {
const QString batchSavepoint = QStringLiteral("documentsBatch");
const char selectList[] = "SELECT * FROM ViewProfDocuments";

// "(12, 15)" for the ids 12 and 15.
QString idListText(const QList<qint64>& ids) {
    QString text = QStringLiteral("(");
    for (qint64 id : ids)
        text += QString::number(id) + QStringLiteral(", ");
    text.chop(2);
    return text + QLatin1Char(')');
}

using Kind = DocumentHistory::Kind;
using State = DocumentHistory::State;

QSqlDatabase mainConnection() {
    return QSqlDatabase::database();
}

// Whether the store writes the document's entries itself: on a file, unless an edit dialog's save
// records the document (a server's triggers write them).
bool recordsHere(qint64 id) {
    return !SqlDialect::isServer() && !EditTransaction::follows(id);
}

// The first column of a statement about the document; NULL when it fails.
QVariant lookUp(const QString& sql, qint64 id) {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(sql);
    query.bindValue(0, id);
    if (!Database::instance()->execPrepared(query) || !query.next())
        return QVariant();
    return query.value(0);
}

// What the auto-fill's rules read of the document's target row and appendix, as they are now.
AutoFillStored storedOf(const QString& table, qint64 id) {
    AutoFillStored stored;
    stored.target = [table, id](const QString& column) {
        return lookUp(QStringLiteral("SELECT %1 FROM %2 WHERE profId = ?;").arg(column, table), id);
    };
    stored.appendixHours = [id] {
        return lookUp(QStringLiteral("SELECT SUM(COALESCE(count,0)) AS totalCount FROM ProfDetails "
                                     "WHERE ProfDetails.profId = ?;"),
                      id);
    };
    return stored;
}
} // namespace

const char* const DocumentStore::listColumns[listColumnCount] = {"profId",    "fio",       "qual",    "attNumber",
                                                                 "regNumber", "issueDate", "editDate"};

bool DocumentStore::deleteDocuments(const QList<qint64>& ids, QString* error) {
    if (ids.isEmpty())
        return true;
    Database* db = Database::instance();
    const QString list = idListText(ids);
    // Dependent rows first; a document is never left without them, nor they without it.
    QStringList tables = db->additionalTableNames();
    tables << db->mainTableName();
    return Savepoint::write(
        QStringLiteral("deleteDocuments"),
        [&] {
            if (!DocumentHistory::announce(mainConnection(), Kind::Deleted, QString(), error))
                return false;
            // What each held, for its entry: read before it goes.
            QMap<qint64, State> held;
            for (qint64 id : ids) {
                State state;
                if (held.contains(id) || !recordsHere(id))
                    continue;
                if (!DocumentHistory::readState(mainConnection(), id, &state, error))
                    return false;
                if (state.exists)
                    held.insert(id, state);
            }
            for (const QString& table : tables) {
                QSqlQuery query = db->execSql(
                    QStringLiteral("DELETE FROM %1 WHERE %2 IN %3;").arg(table, db->mainPrimaryKeyName(), list));
                if (!query.isActive())
                    return StoreQuery::failed(query, error);
            }
            HistoryEntries entries(mainConnection());
            for (auto it = held.cbegin(); it != held.cend(); ++it)
                if (!entries.record(it.key(), Kind::Deleted, it.value(), State(), QString(), error))
                    return false;
            return true;
        },
        error);
}

qint64 DocumentStore::copyDocument(qint64 id, QString* error) {
    Database* db = Database::instance();
    const QString table = db->mainTableName();
    const QString columns = db->columns(table, false);
    QSqlQuery query(QSqlDatabase::database());
    if (!StoreQuery::prepare(
            query,
            QStringLiteral("INSERT INTO %1 (fio1, fio2, fio3, %2) SELECT 'КОПИЯ ' || COALESCE(fio1,''), fio2, "
                           "fio3, %2 FROM %1 WHERE %3 = :id%4;")
                .arg(table, columns, db->mainPrimaryKeyName(),
                     SqlDialect::returningId(QSqlDatabase::database(), db->mainPrimaryKeyName())),
            error))
        return 0;
    query.bindValue(QStringLiteral(":id"), id);
    if (!DocumentHistory::announce(mainConnection(), Kind::Copied, copySource(id), error))
        return 0;
    if (!db->execPrepared(query)) {
        StoreQuery::failed(query, error);
        return 0;
    }
    const qint64 newId = SqlDialect::insertedId(query);
    if (newId <= 0 && error)
        *error = QStringLiteral("Документ не найден в базе данных.");
    return newId;
}

bool DocumentStore::copyDependentRows(qint64 fromId, qint64 toId, QString* error) {
    Database* db = Database::instance();
    const QString key = db->mainPrimaryKeyName();
    for (const QString& table : db->additionalTableNames()) {
        const QString columns = db->columns(table, false);
        const QString tail = columns.isEmpty() ? QString() : QStringLiteral(", ") + columns;
        QSqlQuery query(QSqlDatabase::database());
        if (!StoreQuery::prepare(
                query,
                QStringLiteral("INSERT INTO %1 (%2%3) SELECT :Id1%3 FROM %1 WHERE %2 = :Id2;").arg(table, key, tail),
                error))
            return false;
        query.bindValue(QStringLiteral(":Id1"), toId);
        query.bindValue(QStringLiteral(":Id2"), fromId);
        if (!db->execPrepared(query))
            return StoreQuery::failed(query, error);
    }
    if (!recordsHere(toId))
        return true;
    State copy;
    return DocumentHistory::readState(mainConnection(), toId, &copy, error) &&
           (!copy.exists ||
            DocumentHistory::record(mainConnection(), toId, Kind::Copied, State(), copy, copySource(fromId), error));
}

QString DocumentStore::copySource(qint64 fromId) {
    return QStringLiteral("из документа %1").arg(fromId);
}

qint64 DocumentStore::duplicateDocument(qint64 id, QString* error) {
    qint64 newId = 0;
    const bool done = Savepoint::write(
        QStringLiteral("copyDocument"),
        [&] {
            newId = copyDocument(id, error);
            if (newId > 0 && !copyDependentRows(id, newId, error))
                newId = 0;
            return newId > 0;
        },
        error);
    return done ? newId : 0;
}

bool DocumentStore::autoFill(const AutoFillSpec& rules, qint64 id, QString* error) {
    if (!DocumentHistory::announce(mainConnection(), Kind::Edited, QString(), error))
        return false;
    const bool history = recordsHere(id);
    State before;
    if (history && !DocumentHistory::readState(mainConnection(), id, &before, error))
        return false;
    if (!autoFillRow(rules, id, error))
        return false;
    if (!before.exists)
        return true;
    State after;
    return DocumentHistory::readState(mainConnection(), id, &after, error) &&
           DocumentHistory::record(mainConnection(), id, Kind::Edited, before, after, QString(), error);
}

bool DocumentStore::autoFillRow(const AutoFillSpec& rules, qint64 id, QString* error) {
    Database* db = Database::instance();
    QSqlQuery source(QSqlDatabase::database());
    if (!StoreQuery::prepare(source, rules.selectSql, error))
        return false;
    source.bindValue(QStringLiteral(":id"), id);
    if (!db->execPrepared(source))
        return StoreQuery::failed(source, error);
    // The source first: a target row for a document that does not exist would be an orphan.
    if (!source.next())
        return true;
    const QSqlRecord record = source.record();
    QSqlQuery insert(QSqlDatabase::database());
    if (!StoreQuery::prepare(insert, rules.insertSql, error))
        return false;
    insert.bindValue(QStringLiteral(":id"), id);
    if (!db->execPrepared(insert))
        return StoreQuery::failed(insert, error);
    const QMap<QString, QVariant> values = rules.values(record, storedOf(rules.table, id));
    if (values.isEmpty())
        return true;
    QStringList assignments;
    for (auto it = values.constBegin(); it != values.constEnd(); ++it)
        assignments << QStringLiteral("%1=:%1").arg(it.key());
    QSqlQuery update(QSqlDatabase::database());
    if (!StoreQuery::prepare(update,
                             QStringLiteral("UPDATE %1 SET %2 WHERE %3=:id;")
                                 .arg(rules.table, assignments.join(QLatin1Char(',')), db->mainPrimaryKeyName()),
                             error))
        return false;
    update.bindValue(QStringLiteral(":id"), id);
    for (auto it = values.constBegin(); it != values.constEnd(); ++it)
        update.bindValue(QLatin1Char(':') + it.key(), it.value());
    return db->execPrepared(update) || StoreQuery::failed(update, error);
}

bool DocumentStore::autoFillFrdo(const QList<qint64>& ids, QString* error) {
    return Savepoint::write(
        batchSavepoint,
        [&] {
            for (qint64 id : ids)
                if (!autoFill(FrdoAutoFill::rules(), id, error))
                    return false;
            return true;
        },
        error);
}

bool DocumentStore::templates(QVector<TemplateEntry>* entries, QString* error) {
    entries->clear();
    QSqlQuery query(QSqlDatabase::database());
    query.setForwardOnly(true);
    if (!StoreQuery::prepare(
            query, QStringLiteral("SELECT profId, fio1 FROM ProfDocuments WHERE isTemplate=1 ORDER BY profId;"),
            error) ||
        !Database::instance()->execPrepared(query))
        return StoreQuery::failed(query, error);
    while (query.next())
        entries->append({query.value(0).toLongLong(), query.value(1).toString()});
    if (query.lastError().type() != QSqlError::NoError) {
        MZ_LOG() << "cannot read the templates" << query.lastError().text();
        return StoreQuery::failed(query, error);
    }
    return true;
}

namespace {
// Names are formatted into the statements, so only the registry's own are taken.
bool knownColumn(const QString& table, const QString& column, QString* error) {
    const auto& tables = Database::instance()->tables();
    const auto known = tables.constFind(table);
    if (known != tables.constEnd() && known->columnAnyCase(column))
        return true;
    return StoreQuery::fail(error, QStringLiteral("no column %1.%2").arg(table, column));
}
} // namespace

QStringList DocumentStore::usedValues(const QString& table, const QString& column, int limit, bool alphabetical,
                                      QString* error) {
    if (!knownColumn(table, column, error))
        return {};
    return UsedValues::mostFrequentValues(table, {column}, limit, alphabetical);
}

bool DocumentStore::usedValuesComing(const QString& table, const QStringList& columns) {
    for (const QString& column : columns)
        if (UsedValues::usedValuesComing(table, {column}))
            return true;
    return false;
}

void DocumentStore::readUsedValuesAhead(const QString& table, const QStringList& columns) {
    QList<QStringList> known;
    for (const QString& column : columns)
        if (knownColumn(table, column, nullptr))
            known.append({column});
    UsedValues::readUsedValuesAhead(table, known);
}

// Straight from SQLite: the driver would turn every cell into UTF-16 and a QVariant first, which
// takes longer than SQLite's own work on a large registry.
namespace {
// A server's rows come through the driver, in the file's order (the view's rows by id).
QString jsonOf(const QVector<qint64>& ids) {
    return SqlDialect::jsonIds(QList<qint64>(ids.cbegin(), ids.cend()));
}

// Which rows of the list a read wants: all, those of some ids, or a page below an id, newest first.
struct ListQuery {
    const QVector<qint64>* only = nullptr;
    qint64 below = 0;
    int limit = 0; // a page when above 0
};

bool readListRowsByDriver(const DocumentStore::ListRowSink& sink, QString* error, const ListQuery& want) {
    QStringList columns;
    for (const char* column : DocumentStore::listColumns)
        columns << QLatin1String(column);
    // In pages by id: the driver holds a whole result in memory, which for a million rows would be
    // the list again, and more.
    const bool page = want.limit > 0;
    const int limit = page ? want.limit : 50000;
    const QSqlDatabase db = QSqlDatabase::database();
    const QString some =
        want.only ? QStringLiteral(" AND profId IN (%1)").arg(SqlDialect::idsFromJson(db, "?")) : QString();
    const QString sql =
        QStringLiteral("SELECT %1 FROM ViewProfDocuments WHERE profId %2 ?%3 ORDER BY profId%4 LIMIT %5")
            .arg(columns.join(QStringLiteral(", ")), page ? "<" : ">", some, page ? " DESC" : "")
            .arg(limit);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!StoreQuery::prepare(query, sql, error))
        return false;
    constexpr int texts = DocumentStore::listColumnCount - 1;
    DocumentStore::ListText cells[texts];
    QByteArray bytes[texts];
    const QString ids = want.only ? jsonOf(*want.only) : QString();
    qint64 last = page ? want.below : std::numeric_limits<qint64>::min();
    for (int rows = limit; rows == limit;) {
        query.addBindValue(last);
        if (want.only)
            query.addBindValue(ids);
        if (!query.exec()) {
            MZ_LOG() << query.lastError().text() << sql;
            return StoreQuery::failed(query, error);
        }
        for (rows = 0; query.next(); ++rows) {
            for (int c = 0; c < texts; ++c) {
                const QVariant value = query.value(c + 1);
                bytes[c] = value.isNull() ? QByteArray() : value.toString().toUtf8();
                cells[c].utf8 = value.isNull() ? nullptr : bytes[c].constData();
                cells[c].size = bytes[c].size();
            }
            last = query.value(0).toLongLong();
            sink(last, cells);
        }
        if (query.lastError().type() != QSqlError::NoError) {
            MZ_LOG() << query.lastError().text() << sql;
            return StoreQuery::failed(query, error);
        }
        if (page)
            break;
    }
    return true;
}

bool readListRowsOf(const DocumentStore::ListRowSink& sink, QString* error, const ListQuery& want) {
    sqlite3* db = StoreQuery::mainFileHandle();
    if (!db && SqlDialect::isServer())
        return readListRowsByDriver(sink, error, want);
    if (!db)
        return StoreQuery::fail(error, QStringLiteral("no open database"));
    // By id, as the file keeps its rows: no sort step.
    const QByteArray sql =
        QByteArray(selectList) + (want.limit > 0 ? " WHERE profId < ?1 ORDER BY profId DESC LIMIT ?2"
                                  : want.only    ? " WHERE profId IN (SELECT value FROM json_each(?1)) ORDER BY profId"
                                                 : " ORDER BY profId");
    const StoreQuery::SqliteStatement statement = StoreQuery::prepareSqlite(db, sql.constData());
    if (!statement) {
        MZ_LOG() << sql;
        return StoreQuery::fail(error, QString::fromUtf8(sqlite3_errmsg(db)));
    }
    sqlite3_stmt* raw = statement.get();
    const QByteArray ids = want.only ? jsonOf(*want.only).toUtf8() : QByteArray();
    if (want.limit > 0) {
        sqlite3_bind_int64(raw, 1, want.below);
        sqlite3_bind_int(raw, 2, want.limit);
    } else if (want.only) {
        sqlite3_bind_text(raw, 1, ids.constData(), ids.size(), SQLITE_STATIC);
    }
    constexpr int listColumnCount = DocumentStore::listColumnCount;
    const char* const* listColumns = DocumentStore::listColumns;
    int at[listColumnCount];
    for (int c = 0; c < listColumnCount; ++c) {
        at[c] = -1;
        for (int i = 0; i < sqlite3_column_count(raw); ++i)
            if (qstrcmp(sqlite3_column_name(raw, i), listColumns[c]) == 0)
                at[c] = i;
        if (at[c] < 0)
            return StoreQuery::fail(error, QStringLiteral("no column %1").arg(QLatin1String(listColumns[c])));
    }
    DocumentStore::ListText texts[listColumnCount - 1];
    int result;
    while ((result = sqlite3_step(raw)) == SQLITE_ROW) {
        for (int c = 1; c < listColumnCount; ++c) {
            // The text first: it may change the size SQLite reports.
            texts[c - 1].utf8 = reinterpret_cast<const char*>(sqlite3_column_text(raw, at[c]));
            texts[c - 1].size = sqlite3_column_bytes(raw, at[c]);
        }
        sink(sqlite3_column_int64(raw, at[0]), texts);
    }
    if (result != SQLITE_DONE) {
        MZ_LOG() << sql;
        return StoreQuery::fail(error, QString::fromUtf8(sqlite3_errmsg(db)));
    }
    return true;
}
} // namespace

bool DocumentStore::readListRows(const ListRowSink& sink, QString* error, const QVector<qint64>* only) {
    ListQuery want;
    want.only = only;
    return readListRowsOf(sink, error, want);
}

bool DocumentStore::readListPage(qint64 below, int rows, const ListRowSink& sink, QString* error) {
    ListQuery want;
    want.below = below;
    want.limit = std::max(1, rows);
    return readListRowsOf(sink, error, want);
}
