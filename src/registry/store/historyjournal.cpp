#include "historyjournal.h"

#include "mzlog.h"
#include "profschema.h"
#include "savepoint.h"
#include "sqldialect.h"
#include "storequery.h"
#include "textmatch.h"

#include <QCollator>
#include <QJsonDocument>
#include <QLocale>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <limits>

namespace {
const QString entryColumns = QStringLiteral("historyId, profId, changedAt, kind, login, osUser, host, source, docName, "
                                            "attNumber, changes, CASE WHEN snapshot IS NULL THEN 0 ELSE 1 END");
const QString documentsTable = QStringLiteral("ProfDocuments");
const QString subjectsTable = QStringLiteral("ProfDetails");
const QString frdoTable = QStringLiteral("ProfFrdo");
const QString timeFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss");
const QString dayFormat = QStringLiteral("yyyy-MM-dd");

QSqlDatabase mainConnection() {
    return QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
}

// A prepared, forward-only query on the main connection.
bool prepareRead(QSqlQuery& query, const QString& sql, QString* error) {
    query.setForwardOnly(true);
    return StoreQuery::prepare(query, sql, error);
}

QString textOf(const QSqlQuery& query, int column) {
    return query.isNull(column) ? QString() : query.value(column).toString();
}

HistoryJournal::Entry entryOf(const QSqlQuery& query) {
    HistoryJournal::Entry entry;
    entry.id = query.value(0).toLongLong();
    entry.profId = query.value(1).toLongLong();
    entry.changedAt = QDateTime::fromString(textOf(query, 2).left(timeFormat.size()), timeFormat);
    entry.kindCode = textOf(query, 3);
    if (!DocumentHistory::fromCode(entry.kindCode, &entry.kind))
        entry.kind = DocumentHistory::Kind::Edited;
    entry.login = textOf(query, 4);
    entry.osUser = textOf(query, 5);
    entry.host = textOf(query, 6);
    entry.source = textOf(query, 7);
    entry.docName = textOf(query, 8);
    entry.attNumber = textOf(query, 9);
    // A damaged list of changes shows as none rather than stopping the whole page.
    const QJsonDocument changes = QJsonDocument::fromJson(textOf(query, 10).toUtf8());
    entry.changes = changes.isArray() ? changes.array() : QJsonArray();
    entry.hasSnapshot = query.value(11).toInt() != 0;
    return entry;
}

bool readEntries(QSqlQuery& query, QVector<HistoryJournal::Entry>* entries, QString* error) {
    if (!StoreQuery::write(query, error))
        return false;
    entries->clear();
    while (query.next())
        entries->append(entryOf(query));
    return true;
}

// The first moment that is not older than `years` years, as changedAt is compared.
bool cutoffOf(int years, QString* cutoff, QString* error) {
    if (years < 1)
        return StoreQuery::fail(error, QStringLiteral("Срок хранения записей журнала — не меньше одного года."));
    *cutoff = QDate::currentDate().addYears(-years).toString(dayFormat);
    return true;
}

// A snapshot's value bound as the store holds it: numbers without a fraction as integers.
QVariant boundValue(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double: {
        const double number = value.toDouble();
        const qint64 whole = qint64(number);
        return double(whole) == number ? QVariant(whole) : QVariant(number);
    }
    case QJsonValue::Bool:
        return value.toBool() ? 1 : 0;
    default:
        return QVariant(QVariant::String);
    }
}

// The columns of `row` the table has, without its keys: a snapshot is data from the file, so a
// column name is used only when the registry's own table names it.
QStringList knownColumns(const QString& table, const QJsonObject& row) {
    const DBTable definition = ProfSchema::tables().value(table);
    QStringList columns;
    for (auto it = row.begin(); it != row.end(); ++it) {
        const QString column = it.key();
        if (column == QLatin1String("profId") || column == definition.sequence_col)
            continue;
        if (definition.column(column))
            columns << column;
        else
            MZ_LOG() << "snapshot column not restored:" << table << column;
    }
    return columns;
}

// Inserts `row` into `table` for document `profId` (0: a new document, whose id is set).
bool insertRow(const QString& table, const QJsonObject& row, qint64* profId, QString* error) {
    const bool newDocument = *profId <= 0;
    QStringList columns = knownColumns(table, row);
    if (!newDocument)
        columns.prepend(QStringLiteral("profId"));
    QStringList places;
    for (int i = 0; i < columns.size(); ++i)
        places << QStringLiteral("?");
    const QString sql = columns.isEmpty()
                            ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table)
                            : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                  .arg(table, columns.join(QStringLiteral(", ")), places.join(QStringLiteral(", ")));
    QSqlQuery query(mainConnection());
    if (!StoreQuery::prepare(query, sql + (newDocument ? SqlDialect::returningId(mainConnection(), "profId") : ""),
                             error))
        return false;
    for (const QString& column : qAsConst(columns))
        query.addBindValue(column == QLatin1String("profId") ? QVariant(*profId) : boundValue(row.value(column)));
    if (!StoreQuery::write(query, error))
        return false;
    if (newDocument) {
        *profId = SqlDialect::insertedId(query);
        if (*profId <= 0)
            return StoreQuery::fail(error, QStringLiteral("Документ не записан в базу данных."));
    }
    return true;
}

bool idTaken(qint64 profId, bool* taken, QString* error) {
    QSqlQuery query(mainConnection());
    if (!prepareRead(query,
                     QStringLiteral("SELECT 1 FROM ProfDocuments WHERE profId = ? UNION ALL "
                                    "SELECT 1 FROM ProfFrdo WHERE profId = ? UNION ALL "
                                    "SELECT 1 FROM ProfDetails WHERE profId = ?"),
                     error))
        return false;
    for (int i = 0; i < 3; ++i)
        query.addBindValue(profId);
    if (!StoreQuery::write(query, error))
        return false;
    *taken = query.next();
    return true;
}

struct DeletionEntry {
    qint64 profId = 0;
    QString kindCode;
    QString snapshot;
    bool found = false;
};

bool readDeletionEntry(qint64 historyId, DeletionEntry* entry, QString* error) {
    QSqlQuery query(mainConnection());
    if (!prepareRead(query, QStringLiteral("SELECT profId, kind, snapshot FROM DocumentHistory WHERE historyId = ?"),
                     error))
        return false;
    query.addBindValue(historyId);
    if (!StoreQuery::write(query, error))
        return false;
    entry->found = query.next();
    if (entry->found) {
        entry->profId = query.value(0).toLongLong();
        entry->kindCode = textOf(query, 1);
        entry->snapshot = textOf(query, 2);
    }
    return true;
}

// The source of a restore entry: which deletion it undid.
QString restoreSource(qint64 historyId) {
    return QStringLiteral("из записи журнала %1").arg(historyId);
}

// The document an earlier restore from the same deletion made, 0 when none.
bool restoredBefore(qint64 historyId, const QString& source, qint64* profId, QString* error) {
    QSqlQuery query(mainConnection());
    if (!prepareRead(query,
                     QStringLiteral("SELECT profId FROM DocumentHistory WHERE historyId > ? AND kind = ? AND "
                                    "source = ? ORDER BY historyId DESC LIMIT 1"),
                     error))
        return false;
    query.addBindValue(historyId);
    query.addBindValue(DocumentHistory::code(DocumentHistory::Kind::Restored));
    query.addBindValue(source);
    if (!StoreQuery::write(query, error))
        return false;
    *profId = query.next() ? query.value(0).toLongLong() : 0;
    return true;
}

// The snapshot as the restore needs it: the document's row, its subjects and its FRDO row.
struct Snapshot {
    QJsonObject document;
    QVector<QJsonObject> subjects;
    QJsonObject frdo;
    bool hasFrdo = false;
};

bool parseSnapshot(const QJsonObject& json, Snapshot* snapshot) {
    const QJsonValue document = json.value(documentsTable);
    const QJsonValue subjects = json.value(subjectsTable);
    const QJsonValue frdo = json.value(frdoTable);
    if (!document.isObject() || !(subjects.isArray() || subjects.isUndefined() || subjects.isNull()) ||
        !(frdo.isObject() || frdo.isNull() || frdo.isUndefined()))
        return false;
    snapshot->document = document.toObject();
    for (const QJsonValue& subject : subjects.toArray()) {
        if (!subject.isObject())
            return false;
        snapshot->subjects.append(subject.toObject());
    }
    snapshot->hasFrdo = frdo.isObject();
    snapshot->frdo = frdo.toObject();
    return true;
}

const QString damagedSnapshotText = QStringLiteral("Сохранённая в журнале копия документа повреждена: документ "
                                                   "нельзя восстановить.");

bool parseSnapshotText(const QString& text, QJsonObject* snapshot, QString* error) {
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &parse);
    if (text.isEmpty() || parse.error != QJsonParseError::NoError || !document.isObject())
        return StoreQuery::fail(error, damagedSnapshotText);
    *snapshot = document.object();
    return true;
}

// The document of `snapshot` written under `*profId` (0: a new id, set here).
bool writeSnapshot(const Snapshot& snapshot, qint64* profId, QString* error) {
    if (!insertRow(documentsTable, snapshot.document, profId, error))
        return false;
    for (const QJsonObject& subject : snapshot.subjects)
        if (!insertRow(subjectsTable, subject, profId, error))
            return false;
    return !snapshot.hasFrdo || insertRow(frdoTable, snapshot.frdo, profId, error);
}
} // namespace

bool HistoryJournal::entriesOf(qint64 profId, QVector<Entry>* entries, QString* error) {
    QSqlQuery query(mainConnection());
    if (!prepareRead(
            query,
            QStringLiteral("SELECT %1 FROM DocumentHistory WHERE profId = ? ORDER BY historyId DESC").arg(entryColumns),
            error))
        return false;
    query.addBindValue(profId);
    return readEntries(query, entries, error);
}

bool HistoryJournal::find(const Filter& filter, qint64 belowId, int limit, QVector<Entry>* entries, QString* error) {
    QStringList conditions;
    QVariantList values;
    if (belowId > 0) {
        conditions << QStringLiteral("historyId < ?");
        values << belowId;
    }
    if (filter.fromId > 0) {
        conditions << QStringLiteral("historyId >= ?");
        values << filter.fromId;
    }
    // changedAt is text: a day's first moment compares below all of that day's times.
    if (filter.from.isValid()) {
        conditions << QStringLiteral("changedAt >= ?");
        values << filter.from.toString(dayFormat);
    }
    if (filter.to.isValid()) {
        conditions << QStringLiteral("changedAt < ?");
        values << filter.to.addDays(1).toString(dayFormat);
    }
    if (!filter.user.isEmpty()) {
        conditions << QStringLiteral("(login = ? OR osUser = ?)");
        values << filter.user << filter.user;
    }
    if (!filter.kinds.isEmpty()) {
        QStringList places;
        for (DocumentHistory::Kind kind : filter.kinds) {
            places << QStringLiteral("?");
            values << DocumentHistory::code(kind);
        }
        conditions << QStringLiteral("kind IN (%1)").arg(places.join(QStringLiteral(", ")));
    }
    if (!filter.text.trimmed().isEmpty()) {
        conditions << QStringLiteral("(%1(docName, ?) = 1 OR %1(attNumber, ?) = 1)")
                          .arg(QLatin1String(TextMatch::containsFunction));
        values << filter.text.trimmed() << filter.text.trimmed();
    }
    QString sql = QStringLiteral("SELECT %1 FROM DocumentHistory").arg(entryColumns);
    if (!conditions.isEmpty())
        sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY historyId DESC LIMIT %1").arg(qMax(limit, 1));
    QSqlQuery query(mainConnection());
    if (!prepareRead(query, sql, error))
        return false;
    for (const QVariant& value : qAsConst(values))
        query.addBindValue(value);
    return readEntries(query, entries, error);
}

bool HistoryJournal::users(QStringList* users, QString* error) {
    return usersBetween(std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(), users, error);
}

bool HistoryJournal::usersBetween(qint64 fromId, qint64 toId, QStringList* users, QString* error) {
    QSqlQuery query(mainConnection());
    if (!prepareRead(
            query,
            QStringLiteral("SELECT login FROM DocumentHistory WHERE historyId BETWEEN ? AND ? AND login IS NOT "
                           "NULL UNION SELECT osUser FROM DocumentHistory WHERE historyId BETWEEN ? AND ? AND "
                           "osUser IS NOT NULL"),
            error))
        return false;
    for (int i = 0; i < 2; ++i) {
        query.addBindValue(fromId);
        query.addBindValue(toId);
    }
    if (!StoreQuery::write(query, error))
        return false;
    users->clear();
    while (query.next()) {
        const QString user = query.value(0).toString();
        if (!user.isEmpty())
            users->append(user);
    }
    QCollator collator{QLocale(QLocale::Russian, QLocale::Russia)};
    std::sort(users->begin(), users->end(), collator);
    users->removeDuplicates();
    return true;
}

bool HistoryJournal::snapshotOf(qint64 historyId, QJsonObject* snapshot, QString* error) {
    DeletionEntry entry;
    if (!readDeletionEntry(historyId, &entry, error))
        return false;
    if (!entry.found)
        return StoreQuery::fail(error, QStringLiteral("Запись журнала не найдена: возможно, её уже удалили."));
    return parseSnapshotText(entry.snapshot, snapshot, error);
}

bool HistoryJournal::restoreDocument(qint64 historyId, qint64* profId, QString* error) {
    DeletionEntry entry;
    if (!readDeletionEntry(historyId, &entry, error))
        return false;
    if (!entry.found)
        return StoreQuery::fail(error, QStringLiteral("Запись журнала не найдена: возможно, её уже удалили."));
    DocumentHistory::Kind kind;
    if (!DocumentHistory::fromCode(entry.kindCode, &kind) || kind != DocumentHistory::Kind::Deleted)
        return StoreQuery::fail(error, QStringLiteral("Восстановить можно только удалённый документ: эта запись "
                                                      "журнала о другом действии."));
    QJsonObject json;
    Snapshot snapshot;
    if (!parseSnapshotText(entry.snapshot, &json, error))
        return false;
    if (!parseSnapshot(json, &snapshot))
        return StoreQuery::fail(error, damagedSnapshotText);
    const QString source = restoreSource(historyId);
    qint64 earlier = 0;
    if (!restoredBefore(historyId, source, &earlier, error))
        return false;
    if (earlier > 0)
        return StoreQuery::fail(
            error, QStringLiteral("Документ из этой записи журнала уже восстановлен под кодом %1.").arg(earlier));
    qint64 restored = 0;
    const bool done = Savepoint::write(
        QStringLiteral("restoreDocument"),
        [&] {
            QSqlDatabase db = mainConnection();
            bool taken = true;
            if (!DocumentHistory::announce(db, DocumentHistory::Kind::Restored, source, error) ||
                !idTaken(entry.profId, &taken, error))
                return false;
            restored = taken ? 0 : entry.profId;
            DocumentHistory::State after;
            return writeSnapshot(snapshot, &restored, error) &&
                   DocumentHistory::readState(db, restored, &after, error) &&
                   DocumentHistory::record(db, restored, DocumentHistory::Kind::Restored, DocumentHistory::State(),
                                           after, source, error);
        },
        error);
    if (!done)
        return false;
    *profId = restored;
    return true;
}

bool HistoryJournal::countOlderThan(int years, qint64* count, QString* error) {
    QString cutoff;
    if (!cutoffOf(years, &cutoff, error))
        return false;
    QSqlQuery query(mainConnection());
    if (!prepareRead(query, QStringLiteral("SELECT COUNT(*) FROM DocumentHistory WHERE changedAt < ?"), error))
        return false;
    query.addBindValue(cutoff);
    if (!StoreQuery::write(query, error))
        return false;
    *count = query.next() ? query.value(0).toLongLong() : 0;
    return true;
}

bool HistoryJournal::dropOlderThan(int years, qint64* dropped, QString* error) {
    QString cutoff;
    if (!cutoffOf(years, &cutoff, error))
        return false;
    qint64 count = 0;
    const bool done = Savepoint::write(
        QStringLiteral("dropHistory"),
        [&] {
            QSqlQuery query(mainConnection());
            if (!StoreQuery::prepare(query, QStringLiteral("DELETE FROM DocumentHistory WHERE changedAt < ?"), error))
                return false;
            query.addBindValue(cutoff);
            if (!StoreQuery::write(query, error))
                return false;
            count = query.numRowsAffected();
            return true;
        },
        error);
    if (!done)
        return false;
    *dropped = count;
    MZ_LOG() << "history entries older than" << cutoff << "dropped:" << count;
    return true;
}
