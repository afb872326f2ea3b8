#pragma once

#include <QString>

class QSqlTableModel;

// The statements on Bosses, the directory of people who sign the certificates, one kind (the
// bossType column) at a time, in the database's shared model whose cells are written at once.
namespace SignatoryStore {
enum Column { ColId, ColType, ColName };

// The shared model showing one kind.
QSqlTableModel* model(int bossType);
void select(QSqlTableModel* model);
// Stores a new name; false with the reason, and the model as it was.
bool add(QSqlTableModel* model, int bossType, const QString& name, QString* error);
bool remove(QSqlTableModel* model, int row, QString* error);
// After a cell was edited: false with the reason when the file refused the new value, which is
// then dropped so that the stored one shows again.
bool checkStored(QSqlTableModel* model, QString* error);
// Drops what the model holds unwritten.
void discard(QSqlTableModel* model);
} // namespace SignatoryStore
