#pragma once

#include "usedvalues.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QStringList>

// Counts the used values of a set of columns of a file a slice of rows at a time, so that the main
// connection, which holds the file alone, answers the window between slices. A column an index
// leads with is walked along the index (a value's rows in rowid order, so that a slice may end
// inside a value); any other is walked along the table by rowid. The counts are those
// UsedValues::count gives, as long as the registry does not change meanwhile (the caller's part).
class UsedValuesWalk {
public:
    UsedValuesWalk(const QString& table, const QStringList& columns, qint64 changes);

    // The store's change count the walk started at.
    qint64 changes() const { return _changes; }
    const QString& table() const { return _table; }
    const QStringList& columns() const { return _columns; }
    bool done() const { return _done; }
    // Counts about `rows` more rows (the first slice of a column also looks for its index); false
    // with `error` when a read failed.
    bool step(QSqlDatabase& db, int rows, QSqlError* error);
    // The rows the last step read.
    int lastRows() const { return _lastRows; }
    // The counts once done.
    UsedValues::Counts takeCounts();

private:
    bool startColumn(QSqlDatabase& db, QSqlError* error);
    bool stepIndex(QSqlDatabase& db, int rows, QSqlError* error);
    bool stepTable(QSqlDatabase& db, int rows, QSqlError* error);
    int readRows(QSqlDatabase& db, const QString& sql, int rows, QSqlError* error);
    void nextColumn();
    void checkOrder();
    const QString& column() const { return _columns.at(_column); }

    QString _table;
    QStringList _columns;
    qint64 _changes = -1;
    int _column = 0;
    bool _started = false;
    bool _indexed = false;
    // Along the index: the row the last slice ended on, and whether its value may go on.
    qint64 _lastRowid = 0;
    QString _lastValue;
    bool _inValue = false;
    bool _begun = false;
    // Along the table: the rowid the next slice starts after, and the last one there was.
    qint64 _maxRowid = 0;
    bool _done = false;
    int _lastRows = 0;
    // Whether the counts came in QString's order so far, checked a slice at a time.
    bool _sorted = true;
    int _checked = 0;
    UsedValues::Counts _counts;
    QHash<QString, int> _untrimmed;
};
