#include "documentrecords.h"

#include "documenthistory.h"
#include "mzlog.h"
#include "profschema.h"
#include "sqldialect.h"
#include "storequery.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {
const char* const columns[] = {"fio1",           "fio2",           "fio3",      "certificateType", "profession",
                               "protocolDate",   "protocolNumber", "regNumber", "issueDate",       "isDuplicate",
                               "isExcellent",    "attNumber",      "qual",      "prevEducation",   "birthDate",
                               "showTotalCount", "profProgName",   "startDate", "finishDate"};
const char* const versionColumn = "rowVersion";
const QString mainTable = QStringLiteral("ProfDocuments");
// No save waits for another program's longer than this; QPSQL cannot prepare SET.
const char* const lockTimeout = "SET lock_timeout = '5s'";
// The advisory locks of certificate numbers, apart from the structure's lock.
constexpr int attNumberLockClass = 2029111502;

// The values of `columns` that `record` holds, by name.
QVariantMap valuesOf(const QSqlRecord& record, const QStringList& columns) {
    QVariantMap values;
    for (const QString& column : columns)
        if (record.indexOf(column) >= 0)
            values.insert(column, record.value(column));
    return values;
}

// A table's columns in the registry's description, but those in `leftOut`.
QStringList columnsOf(const DBTable& table, const QStringList& leftOut) {
    QStringList names;
    for (const DBColumn& column : table.columns)
        if (!leftOut.contains(column.name, Qt::CaseInsensitive))
            names << column.name;
    return names;
}

// The placeholders of the values, in the order of their keys.
QStringList placeholders(const QVariantMap& values) {
    QStringList names;
    for (int i = 0; i < values.size(); ++i)
        names << QStringLiteral(":v%1").arg(i);
    return names;
}

void bindAll(QSqlQuery& query, const QVariantMap& values) {
    int i = 0;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        query.bindValue(QStringLiteral(":v%1").arg(i++), it.value());
}

QString busyNumberText() {
    return QStringLiteral("Номер свидетельства сохраняет другой пользователь, повторите сохранение позже.");
}
} // namespace

QStringList DocumentRecords::formColumns() {
    QStringList names;
    for (const char* column : columns)
        names << QLatin1String(column);
    return names;
}

bool DocumentRecords::read(qint64 id, QSqlRecord* row, QString* error) {
    return StoreQuery::readDocumentRow(mainTable, id, row, error);
}

bool DocumentRecords::exists(qint64 id) {
    QSqlRecord row;
    return id > 0 && read(id, &row);
}

bool DocumentRecords::update(qint64 id, const QVariantMap& values, QString* error) {
    return update(id, values, 0, error) == SaveOutcome::Saved;
}

// Read with the whole row: a server registry the structure check has not brought up to date yet
// has no version, and a failing statement would spoil the dialogs' open transaction.
qint64 DocumentRecords::version(qint64 id) {
    QSqlRecord row;
    return SqlDialect::isServer() && read(id, &row) ? versionOf(row) : 0;
}

qint64 DocumentRecords::versionOf(const QSqlRecord& row) {
    return row.value(QLatin1String(versionColumn)).toLongLong();
}

DocumentRecords::SaveOutcome DocumentRecords::update(qint64 id, const QVariantMap& values, qint64 expectedVersion,
                                                     QString* error) {
    const bool conditional = expectedVersion > 0 && SqlDialect::isServer();
    QSqlQuery query = StoreQuery::prepared(
        QStringLiteral(
            "UPDATE ProfDocuments SET fio1=:fio1, fio2=:fio2, fio3=:fio3, certificateType=:certificateType, "
            "profession=:profession, protocolDate=:protocolDate,  protocolNumber=:protocolNumber, "
            "regNumber=:regNumber, issueDate=:issueDate, editDate=:editDate, isDuplicate=:isDuplicate, "
            "isExcellent=:isExcellent, isTemplate=:isTemplate, attNumber=:attNumber, qual=:qual, "
            "prevEducation=:prevEducation, birthDate=:birthDate, showTotalCount=:showTotalCount,  "
            "profProgName=:profProgName, startDate=:startDate, finishDate=:finishDate  WHERE profId=:profId") +
        (conditional ? QStringLiteral(" AND rowVersion=:rowVersion") : QString()));
    QStringList names = formColumns();
    names << QStringLiteral("editDate") << QStringLiteral("isTemplate");
    for (const QString& name : qAsConst(names))
        query.bindValue(QLatin1Char(':') + name, values.value(name));
    query.bindValue(QStringLiteral(":profId"), id);
    if (conditional)
        query.bindValue(QStringLiteral(":rowVersion"), expectedVersion);
    if (!StoreQuery::write(query, error))
        return SaveOutcome::Failed;
    if (query.numRowsAffected() > 0)
        return SaveOutcome::Saved;
    QSqlRecord row;
    QString reason;
    if (read(id, &row, &reason))
        return SaveOutcome::Changed;
    if (!reason.isEmpty()) {
        StoreQuery::keep(error, reason);
        return SaveOutcome::Failed;
    }
    return SaveOutcome::Deleted;
}

bool DocumentRecords::claimAttNumber(const QString& attNumber, qint64 exceptId, bool* taken, QString* error) {
    return claimAttNumber(QSqlDatabase::database(), attNumber, exceptId, taken, error);
}

bool DocumentRecords::lockAttNumber(QSqlDatabase db, const QString& attNumber, QString* error) {
    if (!SqlDialect::isServer(db))
        return true;
    // Two programs saving one number at once: the second waits here for the first's commit and
    // then sees its row. The lock goes with the transaction.
    if (!StoreQuery::run(db, QLatin1String(lockTimeout), error))
        return false;
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT pg_advisory_xact_lock(%1, hashtext(:attNumber))").arg(attNumberLockClass));
    query.bindValue(QStringLiteral(":attNumber"), attNumber.trimmed());
    if (query.exec())
        return true;
    return StoreQuery::fail(error, QStringLiteral("%1 (%2)").arg(busyNumberText(), StoreQuery::reasonOf(query)));
}

bool DocumentRecords::claimAttNumber(QSqlDatabase db, const QString& attNumber, qint64 exceptId, bool* taken,
                                     QString* error) {
    if (!lockAttNumber(db, attNumber, error))
        return false;
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT COUNT(1) FROM ProfDocuments WHERE attNumber=:attNumber AND profId!=:profId"));
    query.bindValue(QStringLiteral(":attNumber"), attNumber);
    query.bindValue(QStringLiteral(":profId"), exceptId);
    if (!query.exec() || !query.next()) {
        MZ_LOG() << query.lastError().text() << query.lastQuery();
        return StoreQuery::failed(query, error);
    }
    *taken = query.value(0).toLongLong() > 0;
    return true;
}

qint64 DocumentRecords::insert(QString* error) {
    // The rest of the save belongs to the new document's making.
    if (!DocumentHistory::announce(QSqlDatabase::database(), DocumentHistory::Kind::Created, QString(), error))
        return 0;
    QSqlQuery query = StoreQuery::prepared(QStringLiteral("INSERT INTO ProfDocuments (comment) VALUES ('')") +
                                           SqlDialect::returningId(QSqlDatabase::database(), QStringLiteral("profId")));
    if (!StoreQuery::write(query, error))
        return 0;
    const qint64 newId = SqlDialect::insertedId(query);
    if (newId <= 0) {
        StoreQuery::keep(error, QStringLiteral("новая запись не создана"));
        return 0;
    }
    return newId;
}

bool DocumentRecords::copyAppendixInfo(qint64 fromId, qint64 toId, QString* error) {
    QSqlQuery query = StoreQuery::prepared(
        QStringLiteral("UPDATE ProfDocuments SET addInfo=(SELECT addInfo FROM ProfDocuments WHERE profId=:profId2), "
                       "hideTotalCountInAdd=(SELECT hideTotalCountInAdd FROM ProfDocuments WHERE profId=:profId2) "
                       "WHERE profId=:profId1;"));
    query.bindValue(QStringLiteral(":profId1"), toId);
    query.bindValue(QStringLiteral(":profId2"), fromId);
    return StoreQuery::write(query, error);
}

bool DocumentRecords::attNumberTaken(const QString& attNumber, qint64 exceptId) {
    QSqlQuery query = StoreQuery::prepared(
        QStringLiteral("SELECT COUNT(1) FROM ProfDocuments WHERE attNumber=:attNumber AND profId!=:profId;"));
    query.bindValue(QStringLiteral(":attNumber"), attNumber);
    query.bindValue(QStringLiteral(":profId"), exceptId);
    return StoreQuery::exec(query) && query.next() && query.value(0).toInt() > 0;
}

bool DocumentRecords::readName(qint64 id, QString* name) {
    QSqlQuery query =
        StoreQuery::prepared(QStringLiteral("SELECT fio1, fio2, fio3 FROM ProfDocuments WHERE profId=:profId;"));
    query.bindValue(QStringLiteral(":profId"), id);
    if (!StoreQuery::exec(query) || !query.next())
        return false;
    *name =
        QStringLiteral("%1 %2 %3").arg(query.value(0).toString(), query.value(1).toString(), query.value(2).toString());
    return true;
}

bool DocumentRecords::readAppendixInfo(qint64 id, QString* addInfo, bool* hideTotal) {
    QSqlRecord row;
    if (!read(id, &row))
        return false;
    *addInfo = row.value(QStringLiteral("addInfo")).toString();
    *hideTotal = row.value(QStringLiteral("hideTotalCountInAdd")).toBool();
    return true;
}

bool DocumentRecords::updateAppendixInfo(qint64 id, const QString& addInfo, bool hideTotal, QString* error) {
    QSqlQuery query = StoreQuery::prepared(QStringLiteral(
        "UPDATE ProfDocuments SET addInfo=:addInfo, hideTotalCountInAdd=:hideTotal WHERE profId=:profId;"));
    query.bindValue(QStringLiteral(":addInfo"), addInfo);
    query.bindValue(QStringLiteral(":hideTotal"), hideTotal ? 1 : 0);
    query.bindValue(QStringLiteral(":profId"), id);
    return StoreQuery::write(query, error);
}

bool DocumentRecords::readDependents(const QSqlRecord& row, Dependents* held, QString* error) {
    *held = Dependents();
    const QString key = ProfSchema::mainPrimaryKeyName();
    const qint64 id = row.value(key).toLongLong();
    for (const DBTable& table : ProfSchema::tables()) {
        if (table.isMainTable)
            held->otherColumns = valuesOf(row, columnsOf(table, formColumns() << key << QStringLiteral("editDate")
                                                                              << QStringLiteral("isTemplate")));
        if (!table.isAdditionalTable)
            continue;
        // In the order they were made: the appendix lists its subjects so.
        QSqlQuery query = StoreQuery::prepared(
            QStringLiteral("SELECT * FROM %1 WHERE %2=:id ORDER BY %3;").arg(table.name, key, table.sequence_col));
        query.bindValue(QStringLiteral(":id"), id);
        if (!StoreQuery::exec(query)) {
            StoreQuery::keep(error, StoreQuery::reasonOf(query));
            return false;
        }
        const QStringList columns = columnsOf(table, {key, table.sequence_col});
        while (query.next())
            held->rows.append({table.name, valuesOf(query.record(), columns)});
    }
    return true;
}

bool DocumentRecords::writeDependents(qint64 id, const Dependents& held, QString* error) {
    const QString key = ProfSchema::mainPrimaryKeyName();
    if (!held.otherColumns.isEmpty()) {
        QStringList assignments;
        const QStringList columns = held.otherColumns.keys();
        const QStringList names = placeholders(held.otherColumns);
        for (int i = 0; i < names.size(); ++i)
            assignments << columns.at(i) + QLatin1Char('=') + names.at(i);
        QSqlQuery query = StoreQuery::prepared(QStringLiteral("UPDATE %1 SET %2 WHERE %3=:id;")
                                                   .arg(mainTable, assignments.join(QStringLiteral(", ")), key));
        bindAll(query, held.otherColumns);
        query.bindValue(QStringLiteral(":id"), id);
        if (!StoreQuery::write(query, error))
            return false;
    }
    for (const Dependents::Row& row : held.rows) {
        const QStringList columns = QStringList{key} + row.values.keys();
        const QStringList values = QStringList{QStringLiteral(":id")} + placeholders(row.values);
        QSqlQuery query = StoreQuery::prepared(
            QStringLiteral("INSERT INTO %1 (%2) VALUES (%3);")
                .arg(row.table, columns.join(QStringLiteral(", ")), values.join(QStringLiteral(", "))));
        bindAll(query, row.values);
        query.bindValue(QStringLiteral(":id"), id);
        if (!StoreQuery::write(query, error))
            return false;
    }
    return true;
}
