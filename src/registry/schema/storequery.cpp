#include "storequery.h"

#include "fileschema.h"
#include "mzlog.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <sqlite3.h>

QSqlQuery StoreQuery::prepared(const QString& sql) {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(sql);
    return query;
}

namespace {
StoreQuery::Runner& runner() {
    static StoreQuery::Runner run;
    return run;
}
} // namespace

void StoreQuery::setRunner(const Runner& run) {
    runner() = run;
}

bool StoreQuery::exec(QSqlQuery& query) {
    if (runner())
        return runner()(query);
    if (query.exec())
        return true;
    MZ_LOG() << query.lastError().text() << query.lastQuery();
    return false;
}

bool StoreQuery::write(QSqlQuery& query, QString* error) {
    if (exec(query))
        return true;
    keep(error, reasonOf(query));
    return false;
}

bool StoreQuery::prepare(QSqlQuery& query, const QString& sql, QString* error) {
    if (query.prepare(sql))
        return true;
    MZ_LOG() << query.lastError().text() << sql;
    return failed(query, error);
}

bool StoreQuery::run(QSqlDatabase& db, const QString& sql, QString* error, QSqlError* failure) {
    QSqlQuery query(db);
    if (run(query, sql, error))
        return true;
    if (failure)
        *failure = query.lastError();
    return false;
}

bool StoreQuery::run(QSqlQuery& query, const QString& sql, QString* error) {
    if (query.exec(sql))
        return true;
    MZ_LOG() << query.lastError().text() << sql;
    return failed(query, error);
}

bool StoreQuery::failed(const QSqlQuery& query, QString* error) {
    keep(error, reasonOf(query));
    return false;
}

bool StoreQuery::fail(QString* error, const QString& reason) {
    MZ_LOG() << reason;
    keep(error, reason);
    return false;
}

QString StoreQuery::reasonOf(const QSqlError& error) {
    const QString text = error.databaseText().trimmed();
    return text.isEmpty() ? error.text().trimmed() : text;
}

QString StoreQuery::reasonOf(const QSqlQuery& query) {
    return reasonOf(query.lastError());
}

QString StoreQuery::reasonOf(const QSqlTableModel* model) {
    return model ? reasonOf(model->lastError()) : QString();
}

QString StoreQuery::notOpenText() {
    return QStringLiteral("база данных не открыта");
}

void StoreQuery::keep(QString* error, const QString& reason) {
    if (error && error->isEmpty())
        *error = reason;
}

bool StoreQuery::readDocumentRow(const QString& table, qint64 profId, QSqlRecord* row, QString* error) {
    QSqlQuery query = prepared(QStringLiteral("SELECT * FROM %1 WHERE profId=:profId;").arg(table));
    query.bindValue(QStringLiteral(":profId"), profId);
    if (!exec(query)) {
        keep(error, reasonOf(query));
        return false;
    }
    if (!query.next())
        return false;
    *row = query.record();
    return true;
}

sqlite3* StoreQuery::mainFileHandle() {
    return FileSchema::sqliteHandle(QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false));
}

StoreQuery::SqliteStatement StoreQuery::prepareSqlite(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (db && sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        raw = nullptr;
    }
    return SqliteStatement(raw, sqlite3_finalize);
}

QString StoreQuery::boundText(const QVariant& value) {
    switch (value.userType()) {
    case QMetaType::QDate: {
        // As QDate::toString(Qt::ISODate) writes it, without its formatting machinery: an import
        // binds several dates a document.
        const QDate date = value.toDate();
        const int year = date.year();
        if (!date.isValid() || year < 0 || year > 9999)
            return value.toString();
        const int digits[] = {year / 1000,       year / 100 % 10,   year / 10 % 10,  year % 10,
                              date.month() / 10, date.month() % 10, date.day() / 10, date.day() % 10};
        QString text(10, QLatin1Char('-'));
        for (int i = 0, at = 0; i < 8; ++i, ++at) {
            if (at == 4 || at == 7)
                ++at;
            text[at] = QLatin1Char(char('0' + digits[i]));
        }
        return text;
    }
    case QMetaType::QDateTime:
        return value.toDateTime().toString(Qt::ISODateWithMs);
    case QMetaType::QTime:
        return value.toTime().toString(QStringLiteral("hh:mm:ss.zzz"));
    default:
        return value.toString();
    }
}

bool StoreQuery::bindSqlite(sqlite3_stmt* statement, int at, const QVariant& value) {
    if (!value.isValid() || value.isNull())
        return sqlite3_bind_null(statement, at) == SQLITE_OK;
    switch (value.userType()) {
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return sqlite3_bind_blob(statement, at, bytes.constData(), bytes.size(), SQLITE_TRANSIENT) == SQLITE_OK;
    }
    case QMetaType::Int:
    case QMetaType::Bool:
        return sqlite3_bind_int(statement, at, value.toInt()) == SQLITE_OK;
    case QMetaType::Double:
        return sqlite3_bind_double(statement, at, value.toDouble()) == SQLITE_OK;
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return sqlite3_bind_int64(statement, at, value.toLongLong()) == SQLITE_OK;
    default:
        break;
    }
    const QByteArray utf8 = boundText(value).toUtf8();
    return sqlite3_bind_text(statement, at, utf8.constData(), utf8.size(), SQLITE_TRANSIENT) == SQLITE_OK;
}

namespace {
bool failedSqlite(sqlite3_stmt* statement, QString* error) {
    const QString reason = QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(statement)));
    sqlite3_reset(statement);
    MZ_LOG() << reason << sqlite3_sql(statement);
    StoreQuery::keep(error, reason);
    return false;
}
} // namespace

bool StoreQuery::stepSqlite(sqlite3_stmt* statement, QString* error) {
    const int code = sqlite3_step(statement);
    if (code != SQLITE_DONE && code != SQLITE_ROW)
        return failedSqlite(statement, error);
    sqlite3_reset(statement);
    return true;
}

bool StoreQuery::runSqlite(sqlite3_stmt* statement, const QVariant* values, int count, QString* error) {
    for (int i = 0; i < count; ++i)
        if (!bindSqlite(statement, i + 1, values[i]))
            return failedSqlite(statement, error);
    return stepSqlite(statement, error);
}
