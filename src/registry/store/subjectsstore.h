#pragma once

#include <QMap>
#include <QString>

class QSqlTableModel;

// The statements on ProfDetails, the subjects of a document's appendix. The appendix grid edits
// them in the database's shared model, whose cells are written as they are changed.
namespace SubjectsStore {
enum Column { ColId, ColProfId, ColName, ColCount, ColRate };

// The shared model, writing each changed cell at once.
QSqlTableModel* model();
// Shows the subjects of one document only (the model may still show another's).
void select(QSqlTableModel* model, qint64 profId);
// Writes what the model holds unwritten (new rows, refused cells); false with the reason, the
// refused values staying in the model as typed.
bool submit(QSqlTableModel* model, QString* error);
// Deletes the row from the file at once.
bool remove(QSqlTableModel* model, int row, QString* error);
// The hours of the document's subjects added up, as text; "0" when they cannot be read.
QString totalHours(qint64 profId);
bool contains(qint64 profId, const QString& name);
// Counts the names of up to `limit` subjects after row `afterRowId` into `counts`, moving
// `afterRowId` on; the number of rows read, -1 on failure. Fewer than `limit` means done.
int countNames(qint64* afterRowId, int limit, QMap<QString, int>* counts);
} // namespace SubjectsStore
