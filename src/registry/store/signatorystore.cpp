#include "signatorystore.h"

#include "database.h"
#include "storequery.h"

#include <QSqlTableModel>

QSqlTableModel* SignatoryStore::model(int bossType) {
    QSqlTableModel* model = Database::instance()->tableModel(QStringLiteral("Bosses"));
    // A name corrected in place is stored at once; the directory has no save button.
    model->setEditStrategy(QSqlTableModel::OnFieldChange);
    // The kind is our own integer, never user text.
    model->setFilter(QStringLiteral(" bossType = %1 ").arg(bossType));
    return model;
}

void SignatoryStore::select(QSqlTableModel* model) {
    if (!model)
        return;
    model->select();
    while (model->canFetchMore())
        model->fetchMore();
}

bool SignatoryStore::add(QSqlTableModel* model, int bossType, const QString& name, QString* error) {
    if (!model)
        return false;
    const int row = model->rowCount();
    if (!model->insertRow(row)) {
        StoreQuery::keep(error, StoreQuery::reasonOf(model));
        return false;
    }
    model->setData(model->index(row, ColType), bossType);
    model->setData(model->index(row, ColName), name);
    // The strategy writes a new row only when it is submitted, not field by field.
    if (model->submitAll())
        return true;
    StoreQuery::keep(error, StoreQuery::reasonOf(model));
    model->revertAll();
    return false;
}

bool SignatoryStore::remove(QSqlTableModel* model, int row, QString* error) {
    if (!model)
        return false;
    if (model->removeRow(row) && model->submitAll())
        return true;
    StoreQuery::keep(error, StoreQuery::reasonOf(model));
    model->revertAll();
    return false;
}

bool SignatoryStore::checkStored(QSqlTableModel* model, QString* error) {
    if (!model || !model->isDirty())
        return true;
    StoreQuery::keep(error, StoreQuery::reasonOf(model));
    model->revertAll();
    return false;
}

void SignatoryStore::discard(QSqlTableModel* model) {
    if (model)
        model->revertAll();
}
