#include "subjectsstore.h"

#include "database.h"
#include "storequery.h"

#include <QSqlQuery>
#include <QSqlTableModel>

namespace {
const QString table = QStringLiteral("ProfDetails");
}

QSqlTableModel* SubjectsStore::model() {
    QSqlTableModel* model = Database::instance()->tableModel(table);
    model->setEditStrategy(QSqlTableModel::OnFieldChange);
    return model;
}

// An unfiltered select would read every subject of the registry.
void SubjectsStore::select(QSqlTableModel* model, qint64 profId) {
    if (!model)
        return;
    model->setFilter(QStringLiteral("profId = %1").arg(profId));
    // In the order of entry: a server keeps no order of its own, a row written again moves.
    model->setSort(ColId, Qt::AscendingOrder);
    model->select();
    while (model->canFetchMore())
        model->fetchMore();
}

bool SubjectsStore::submit(QSqlTableModel* model, QString* error) {
    if (model && model->submitAll())
        return true;
    StoreQuery::keep(error, StoreQuery::reasonOf(model));
    return false;
}

bool SubjectsStore::remove(QSqlTableModel* model, int row, QString* error) {
    if (model && model->removeRow(row))
        return true;
    StoreQuery::keep(error, StoreQuery::reasonOf(model));
    return false;
}

QString SubjectsStore::totalHours(qint64 profId) {
    QSqlQuery query = StoreQuery::prepared(QStringLiteral(
        "SELECT SUM(COALESCE(count,0)) AS totalCount FROM ProfDetails WHERE ProfDetails.profId = :profId;"));
    query.bindValue(QStringLiteral(":profId"), profId);
    if (StoreQuery::exec(query) && query.next())
        return query.value(0).toString();
    return QStringLiteral("0");
}

bool SubjectsStore::contains(qint64 profId, const QString& name) {
    QSqlQuery query =
        StoreQuery::prepared(QStringLiteral("SELECT COUNT(1) FROM ProfDetails WHERE  name=:name AND profId=:profId;"));
    query.bindValue(QStringLiteral(":name"), name);
    query.bindValue(QStringLiteral(":profId"), profId);
    return StoreQuery::exec(query) && query.next() && query.value(0).toInt() > 0;
}

int SubjectsStore::countNames(qint64* afterRowId, int limit, QMap<QString, int>* counts) {
    QSqlQuery query = StoreQuery::prepared(
        QStringLiteral("SELECT detId, name FROM ProfDetails WHERE detId > :from ORDER BY detId LIMIT :n;"));
    query.setForwardOnly(true);
    query.bindValue(QStringLiteral(":from"), *afterRowId);
    query.bindValue(QStringLiteral(":n"), limit);
    if (!StoreQuery::exec(query))
        return -1;
    int rows = 0;
    while (query.next()) {
        ++rows;
        *afterRowId = query.value(0).toLongLong();
        const QString name = query.value(1).toString().trimmed();
        if (!name.isEmpty())
            ++(*counts)[name];
    }
    return rows;
}
