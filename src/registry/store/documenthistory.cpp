#include "documenthistory.h"

#include "mzlog.h"
#include "sqldialect.h"
#include "storequery.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSysInfo>
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

namespace {
const QString documents = QStringLiteral("ProfDocuments");
const QString subjects = QStringLiteral("ProfDetails");
const QString frdo = QStringLiteral("ProfFrdo");
const QString subjectKey = QStringLiteral("detId");
const QString changedAtFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss");
// Beyond this a JSON number (a double) no longer holds every integer: larger ones are kept as text.
constexpr qint64 exactInJson = qint64(1) << 53;

// Never listed as changes: the keys, the time of the last save and the server's row version.
bool isBookkeeping(const QString& column) {
    for (const char* name : {"profId", "detId", "historyId", "editDate", "rowVersion"})
        if (column.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool isKey(const QString& column) {
    for (const char* name : {"profId", "detId", "rowVersion"})
        if (column.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QJsonValue jsonOf(const QVariant& value) {
    if (!value.isValid() || value.isNull())
        return QJsonValue(QJsonValue::Null);
    switch (value.type()) {
    case QVariant::Bool:
    case QVariant::Int:
    case QVariant::UInt:
    case QVariant::LongLong:
    case QVariant::ULongLong: {
        const qint64 number = value.toLongLong();
        if (number > -exactInJson && number < exactInJson)
            return QJsonValue(double(number));
        return QJsonValue(QString::number(number));
    }
    case QVariant::Double: {
        const double number = value.toDouble();
        return std::isfinite(number) ? QJsonValue(number) : QJsonValue(value.toString());
    }
    default:
        return QJsonValue(value.toString());
    }
}

// A row without its keys, as a deletion's snapshot and an added or removed subject show it.
QJsonObject rowObject(const QVariantMap& row) {
    QJsonObject object;
    for (auto it = row.cbegin(); it != row.cend(); ++it)
        if (!isKey(it.key()))
            object.insert(it.key(), jsonOf(it.value()));
    return object;
}

QJsonObject change(const QString& table, const QString& field, const QJsonValue& old, const QJsonValue& now) {
    return QJsonObject{{QStringLiteral("table"), table},
                       {QStringLiteral("field"), field},
                       {QStringLiteral("old"), old},
                       {QStringLiteral("new"), now}};
}

// The changed values of one row; a row that is not there counts as all NULL.
void diffRow(const QString& table, const QVariantMap& old, const QVariantMap& now, QJsonArray* changes,
             const std::function<void(QJsonObject*)>& mark = {}) {
    QStringList columns = old.keys();
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        if (!old.contains(it.key()))
            columns << it.key();
    for (const QString& column : qAsConst(columns)) {
        if (isBookkeeping(column))
            continue;
        const QJsonValue before = jsonOf(old.value(column));
        const QJsonValue after = jsonOf(now.value(column));
        if (before == after)
            continue;
        QJsonObject entry = change(table, column, before, after);
        if (mark)
            mark(&entry);
        changes->append(entry);
    }
}

QString nameOf(const QVariantMap& row) {
    return row.value(QStringLiteral("name")).toString();
}

// Subjects are matched by their key: a row whose name changed is the same subject renamed.
void diffSubjects(const QVector<QVariantMap>& old, const QVector<QVariantMap>& now, QJsonArray* changes) {
    QMap<qint64, QVariantMap> before;
    for (const QVariantMap& row : old)
        before.insert(row.value(subjectKey).toLongLong(), row);
    QSet<qint64> kept;
    for (const QVariantMap& row : now) {
        const qint64 id = row.value(subjectKey).toLongLong();
        const auto found = before.constFind(id);
        const auto mark = [&](QJsonObject* entry) {
            entry->insert(QStringLiteral("row"), jsonOf(id));
            entry->insert(QStringLiteral("name"), nameOf(row));
        };
        if (found == before.constEnd()) {
            QJsonObject added = change(subjects, QString(), QJsonValue::Null, rowObject(row));
            mark(&added);
            changes->append(added);
            continue;
        }
        kept.insert(id);
        diffRow(subjects, found.value(), row, changes, mark);
    }
    for (const QVariantMap& row : old) {
        const qint64 id = row.value(subjectKey).toLongLong();
        if (kept.contains(id))
            continue;
        QJsonObject removed = change(subjects, QString(), rowObject(row), QJsonValue::Null);
        removed.insert(QStringLiteral("row"), jsonOf(id));
        removed.insert(QStringLiteral("name"), nameOf(row));
        changes->append(removed);
    }
}

QJsonArray changesOf(const DocumentHistory::State& before, const DocumentHistory::State& after) {
    QJsonArray changes;
    diffRow(documents, before.document, after.document, &changes);
    diffSubjects(before.subjects, after.subjects, &changes);
    diffRow(frdo, before.frdo, after.frdo, &changes);
    return changes;
}

QJsonObject snapshotOf(const DocumentHistory::State& state) {
    QJsonArray rows;
    for (const QVariantMap& row : state.subjects)
        rows.append(rowObject(row));
    return QJsonObject{{documents, rowObject(state.document)},
                       {subjects, rows},
                       {frdo, state.frdo.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(rowObject(state.frdo))}};
}

QString docNameOf(const QVariantMap& document) {
    QStringList parts;
    for (const char* column : {"fio1", "fio2", "fio3"}) {
        const QString part = document.value(QLatin1String(column)).toString().simplified();
        if (!part.isEmpty())
            parts << part;
    }
    return parts.join(QLatin1Char(' '));
}

QVariantMap valuesOf(const QSqlRecord& record) {
    QVariantMap values;
    for (int i = 0; i < record.count(); ++i)
        values.insert(record.fieldName(i), record.value(i));
    return values;
}

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

QString jsonText(const QJsonValue& value) {
    const QJsonDocument document = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    return QString::fromUtf8(document.toJson(QJsonDocument::Compact));
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
    if (SqlDialect::isServer(db))
        return true;
    const QJsonArray changes = changesOf(before, after);
    if (kind == Kind::Edited && changes.isEmpty())
        return true;
    const QVariantMap& named = after.exists ? after.document : before.document;
    QSqlQuery query(db);
    if (!query.prepare(QStringLiteral(
            "INSERT INTO DocumentHistory (profId, changedAt, kind, login, osUser, host, source, docName, "
            "attNumber, changes, snapshot, xact) VALUES (?, ?, ?, NULL, ?, ?, ?, ?, ?, ?, ?, NULL)")))
        return StoreQuery::failed(query, error);
    query.addBindValue(profId);
    query.addBindValue(QDateTime::currentDateTime().toString(changedAtFormat));
    query.addBindValue(code(kind));
    query.addBindValue(osUser());
    query.addBindValue(hostName());
    query.addBindValue(source.isEmpty() ? QVariant(QVariant::String) : QVariant(source));
    query.addBindValue(docNameOf(named));
    query.addBindValue(named.value(QStringLiteral("attNumber")));
    query.addBindValue(jsonText(changes));
    query.addBindValue(kind == Kind::Deleted ? QVariant(jsonText(snapshotOf(before))) : QVariant(QVariant::String));
    if (!query.exec()) {
        MZ_LOG() << "cannot record the change of document" << profId;
        return StoreQuery::failed(query, error);
    }
    return true;
}

// The user the system logged in: the environment says so on every system the program runs on;
// the home folder's name is the last resort.
QString DocumentHistory::osUser() {
    for (const char* name : {"USER", "USERNAME"}) {
        const QString user = qEnvironmentVariable(name).trimmed();
        if (!user.isEmpty())
            return user;
    }
    return QDir(QDir::homePath()).dirName();
}

QString DocumentHistory::hostName() {
    return QSysInfo::machineHostName();
}
