#include "documentcount.h"

#include "mzlog.h"
#include "savepoint.h"
#include "storequery.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>

namespace {
const QString table = DocumentCount::tableName();
const QString onInsert = QStringLiteral("ProfDocumentCount_insert");
const QString onDelete = QStringLiteral("ProfDocumentCount_delete");
const QString onTemplateMark = QStringLiteral("ProfDocumentCount_template");
// The condition of ViewProfDocuments (views.sql): a row is a document unless marked a template.
const QString counted = QStringLiteral("IFNULL(%1.isTemplate, 0) != 1");
const QString countNow = QStringLiteral("SELECT COUNT(*) FROM ProfDocuments WHERE IFNULL(isTemplate, 0) != 1");

QStringList creation() {
    const QString move = QStringLiteral("UPDATE %1 SET documents = documents %2 1;").arg(table);
    return {QStringLiteral("CREATE TABLE %1 (documents INTEGER NOT NULL)").arg(table),
            QStringLiteral("INSERT INTO %1 (documents) %2").arg(table, countNow),
            QStringLiteral("CREATE TRIGGER %1 AFTER INSERT ON ProfDocuments WHEN %2 BEGIN %3 END")
                .arg(onInsert, counted.arg(QLatin1String("NEW")), move.arg(QLatin1Char('+'))),
            QStringLiteral("CREATE TRIGGER %1 AFTER DELETE ON ProfDocuments WHEN %2 BEGIN %3 END")
                .arg(onDelete, counted.arg(QLatin1String("OLD")), move.arg(QLatin1Char('-'))),
            QStringLiteral("CREATE TRIGGER %1 AFTER UPDATE OF isTemplate ON ProfDocuments WHEN (%2) != (%3) "
                           "BEGIN UPDATE %4 SET documents = documents + CASE WHEN %3 THEN 1 ELSE -1 END; END")
                .arg(onTemplateMark, counted.arg(QLatin1String("OLD")), counted.arg(QLatin1String("NEW")), table)};
}

// Whatever an earlier, incomplete attempt left.
QStringList removal() {
    return {QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(onInsert),
            QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(onDelete),
            QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(onTemplateMark),
            QStringLiteral("DROP TABLE IF EXISTS %1").arg(table)};
}

bool isFile(const QSqlDatabase& db) {
    return db.driverName() == QLatin1String("QSQLITE");
}

// The kept number, -1 when the file does not keep one whole.
qint64 keptNumber(const QSqlDatabase& db) {
    if (!isFile(db))
        return -1;
    QSqlQuery query(db);
    const QString parts = QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE (type = 'table' AND name = '%1') "
                                         "OR (type = 'trigger' AND tbl_name = 'ProfDocuments' AND name IN "
                                         "('%2', '%3', '%4'))")
                              .arg(table, onInsert, onDelete, onTemplateMark);
    if (!query.exec(parts) || !query.next() || query.value(0).toInt() != 4)
        return -1;
    if (!query.exec(QStringLiteral("SELECT documents, (SELECT COUNT(*) FROM %1) FROM %1").arg(table)) ||
        !query.next() || query.value(1).toInt() != 1 || query.value(0).toLongLong() < 0)
        return -1;
    return query.value(0).toLongLong();
}
} // namespace

QString DocumentCount::tableName() {
    return QStringLiteral("ProfDocumentCount");
}

bool DocumentCount::isKept(const QSqlDatabase& db) {
    return keptNumber(db) >= 0;
}

bool DocumentCount::keep(QSqlDatabase& db, QString* error) {
    if (!isFile(db))
        return false;
    if (isKept(db))
        return true;
    return Savepoint::run(
        QStringLiteral("document_count"), db,
        [&db, error] {
            for (const QString& statement : removal() + creation())
                if (!StoreQuery::run(db, statement, error))
                    return false;
            return true;
        },
        error);
}

qint64 DocumentCount::read(QString* error) {
    const QSqlDatabase db = QSqlDatabase::database();
    const qint64 kept = keptNumber(db);
    if (kept >= 0)
        return kept;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM ViewProfDocuments")) || !query.next()) {
        StoreQuery::failed(query, error);
        return -1;
    }
    return query.value(0).toLongLong();
}

bool DocumentCount::recount(QString* error) {
    QSqlDatabase db = QSqlDatabase::database();
    if (keptNumber(db) < 0)
        return true;
    MZ_LOG() << "the kept number of documents was wrong: counting them again";
    return StoreQuery::run(db, QStringLiteral("UPDATE %1 SET documents = (%2)").arg(table, countNow), error);
}
