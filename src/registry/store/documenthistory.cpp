#include "documenthistory.h"
#include "workstation.h"

#include "historyentries.h"

#include "mzlog.h"
#include "sqldialect.h"
#include "storequery.h"

#include <QDateTime>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <cmath>
#include <functional>

namespace {
struct KindName {
    DocumentHistory::Kind kind;
    const char* code;
    const char* text;
};
const KindName kindNames[] = {
    {DocumentHistory::Kind::Created, "create", "Создание"},
    {DocumentHistory::Kind::Edited, "edit", "Изменение"},
    {DocumentHistory::Kind::Copied, "copy", "Копирование"},
    {DocumentHistory::Kind::Imported, "import", "Импорт"},
    {DocumentHistory::Kind::Deleted, "delete", "Удаление"},
    {DocumentHistory::Kind::Restored, "restore", "Восстановление"},
};
} // namespace

QString DocumentHistory::code(Kind kind) {
    for (const KindName& k : kindNames)
        if (k.kind == kind)
            return QString::fromLatin1(k.code);
    return {};
}

bool DocumentHistory::fromCode(const QString& code, Kind* kind) {
    for (const KindName& k : kindNames)
        if (code == QLatin1String(k.code)) {
            *kind = k.kind;
            return true;
        }
    return false;
}

QString DocumentHistory::text(Kind kind) {
    for (const KindName& k : kindNames)
        if (k.kind == kind)
            return QString::fromUtf8(k.text);
    return {};
}

QVariantMap DocumentHistory::valuesOf(const QSqlRecord& record) {
    QVariantMap values;
    for (int i = 0; i < record.count(); ++i)
        values.insert(record.fieldName(i), record.value(i));
    return values;
}

namespace {

// The rows of `table` that belong to the document, in key order, by `read`.
bool readRows(const QSqlDatabase& db, const QString& sql, qint64 profId,
              const std::function<void(const QSqlRecord&)>& read, QString* error) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        return StoreQuery::failed(query, error);
    query.bindValue(0, profId);
    if (!query.exec())
        return StoreQuery::failed(query, error);
    while (query.next())
        read(query.record());
    if (query.lastError().isValid())
        return StoreQuery::failed(query, error);
    return true;
}

} // namespace

bool DocumentHistory::readState(const QSqlDatabase& db, qint64 profId, State* state, QString* error) {
    *state = State();
    State read;
    const bool done = readRows(
                          db, QStringLiteral("SELECT * FROM ProfDocuments WHERE profId=?"), profId,
                          [&](const QSqlRecord& row) {
                              read.exists = true;
                              read.document = valuesOf(row);
                          },
                          error) &&
                      readRows(
                          db, QStringLiteral("SELECT * FROM ProfDetails WHERE profId=? ORDER BY detId"), profId,
                          [&](const QSqlRecord& row) { read.subjects.append(valuesOf(row)); }, error) &&
                      readRows(
                          db, QStringLiteral("SELECT * FROM ProfFrdo WHERE profId=?"), profId,
                          [&](const QSqlRecord& row) { read.frdo = valuesOf(row); }, error);
    if (!done)
        return false;
    *state = read;
    return true;
}

bool DocumentHistory::announce(const QSqlDatabase& db, Kind kind, const QString& source, QString* error) {
    if (!SqlDialect::isServer(db))
        return true;
    QSqlQuery query(db);
    if (!query.prepare(
            QStringLiteral("SELECT set_config('orvane.kind', ?, true), set_config('orvane.source', ?, true)")))
        return StoreQuery::failed(query, error);
    query.addBindValue(code(kind));
    query.addBindValue(source.isNull() ? QStringLiteral("") : source);
    if (!query.exec())
        return StoreQuery::failed(query, error);
    return true;
}

bool DocumentHistory::record(const QSqlDatabase& db, qint64 profId, Kind kind, const State& before, const State& after,
                             const QString& source, QString* error) {
    return SqlDialect::isServer(db) || HistoryEntries(db).record(profId, kind, before, after, source, error);
}

QString DocumentHistory::osUser() {
    return Workstation::user();
}

QString DocumentHistory::hostName() {
    return Workstation::name();
}
