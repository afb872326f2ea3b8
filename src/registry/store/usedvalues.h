#pragma once

#include "serveraddress.h"

#include <QHash>
#include <QPair>
#include <QPointer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QStringList>
#include <QVector>
#include <future>
#include <list>
#include <memory>

class QObject;
class QTimer;
class UsedValuesWalk;

// Counts of the distinct values of registry columns, for the dialogs' lists of used values. They
// are kept for as long as the registry stays as it was, told by a change count the store keeps.
// On a server the counts are read ahead on a connection of their own, so that the first dialog
// after a change does not wait for a table's worth of values. A file's main connection holds the
// file alone: there they are counted on it between events, a slice of rows at a time, while a
// window waits for them.
class UsedValues {
public:
    using Counts = QVector<QPair<QString, int>>; // by value (QString's order)

    UsedValues();
    ~UsedValues(); // waits for a read still under way
    UsedValues(const UsedValues&) = delete;
    UsedValues& operator=(const UsedValues&) = delete;

    // Counts every distinct value of `columns` of `table` on `db`, trimmed and summed over the
    // columns; blank values are left out. The names must be the registry's own.
    static bool count(QSqlDatabase& db, const QString& table, const QStringList& columns, Counts* counts,
                      QSqlError* error);

    // The counts as of `changes` (the store's change count; -1 when unknown, never kept): kept ones,
    // those read ahead for the same count (waited for while still coming), else read on `db`.
    const Counts& counts(QSqlDatabase& db, const QString& table, const QStringList& columns, qint64 changes,
                         QSqlError* error);

    // Whether these columns' counts as of `changes` are being read ahead and not there yet.
    bool coming(const QString& table, const QStringList& columns, qint64 changes);

    // These columns are read ahead from now on, at every readAhead.
    void want(const QString& table, const QStringList& columns);
    // Starts reading every wanted set of columns (of `table` only, unless empty) that is neither
    // kept nor coming for `changes`, on a connection to `address` of its own, in a thread of its own.
    void readAhead(const ServerAddress& address, qint64 changes, const QString& table = QString());
    // Whether these columns' counts as of `changes` are still being counted on `db` between
    // events for `waiter`: a first slice is counted now, so that a small registry's are there at
    // once. A count nobody waits for any more stops at its next slice.
    bool walking(QSqlDatabase& db, const QString& table, const QStringList& columns, qint64 changes, QObject* waiter);
    // Whether a count between events is under way.
    bool isWalking() const { return !_walks.isEmpty(); }
    void clear();

    // The used values of the open registry (the process-wide database's): those of `columnNames`
    // together, most frequent first or in alphabetical order; `limit` values at most (0: all).
    static QStringList mostFrequentValues(const QString& table, const QStringList& columnNames, int limit,
                                          bool alphabetical);
    // These sets of columns' used values are wanted soon: on a server they are read in the background, now
    // and whenever usedValuesComing finds them no longer current; elsewhere nothing happens.
    static void readUsedValuesAhead(const QString& table, const QList<QStringList>& columnSets);
    // Whether these columns' used values are on their way: asked for now, they would be waited for.
    static bool usedValuesComing(const QString& table, const QStringList& columnNames);
    // The same for `waiter`, a window that will ask again: on a file too, where they are counted
    // on the main connection between events for as long as a waiter is there.
    static bool usedValuesComing(const QString& table, const QStringList& columnNames, QObject* waiter);
    // Whether the open registry's used values are being counted between events now.
    static bool countingUnderWay();

private:
    friend class UsedValuesWalk;
    // A database group of one value; counted among `untrimmed` when it needs merging.
    static void addGroup(const QString& value, int count, bool oneColumn, Counts* counts,
                         QHash<QString, int>* untrimmed);
    // The groups as count() gives them: trimmed values merged, in QString's order. `sorted`: the
    // counts are known to be in that order already.
    static void settle(Counts* counts, QHash<QString, int>* untrimmed, bool sorted = false);
    static const Counts& usedValueCounts(const QString& table, const QStringList& columnNames);
    struct Kept {
        qint64 changes = -1;
        Counts counts;
    };
    struct Wanted {
        QString table;
        QStringList columns;
    };
    using Batch = QHash<QString, Counts>; // by key; a set of columns that failed is left out
    struct Ahead {
        qint64 changes = -1;
        QStringList keys;
        std::future<Batch> batch;
    };
    static QString key(const QString& table, const QStringList& columns);
    // Takes what was read ahead for `changes` into the kept counts, with `wait` also when it is
    // still coming; lets go of reads made for other counts once they are done.
    void takeAhead(qint64 changes, bool wait);

    struct Walking {
        std::shared_ptr<UsedValuesWalk> walk;
        QList<QPointer<QObject>> waiters;
        int rows = 0; // a slice's, grown or shrunk to keep each slice short
    };
    static void reportWalkFailure(const QSqlError& failure, const QString& key);
    // Counts one slice of the first walk a waiter is still there for, on the main connection.
    void walkOnce();
    // Counts a slice of `walking`; true when the walk is over (done or failed).
    bool walkSlice(QSqlDatabase& db, const QString& key, Walking& walking, qint64 changes, QSqlError* failure);

    QHash<QString, Kept> _kept;
    QList<Wanted> _wanted;
    std::list<Ahead> _ahead;
    QList<QString> _walkOrder; // the keys of _walks, first asked first
    QHash<QString, Walking> _walks;
    std::unique_ptr<QTimer> _walkTimer;
    bool _inSlice = false;
};
