#pragma once

#include <QSet>
#include <QVector>

// Which documents may show otherwise in the list since it last asked, so that a refresh reads
// those rows instead of the whole registry. SQLite reports every row the program's connection
// writes, and the file is the program's alone while it runs (its lock is exclusive). Rows written
// in a transaction that is rolled back are reported again. A registry on a server, or a connection
// opened since the last question (a restored copy), cannot say: everything is to be read then.
class ListChanges {
public:
    struct Changes {
        // Read every row again.
        bool all = true;
        // Otherwise the documents to read again (those gone included), in ascending order.
        QVector<qint64> ids;
    };

    ListChanges();
    ~ListChanges();
    ListChanges(const ListChanges&) = delete;
    ListChanges& operator=(const ListChanges&) = delete;

    // The changes since the previous call (all at the first), and from now on those after it.
    Changes take();

private:
    friend struct ListChangeHooks;

    QSet<qint64> _pending;
    // Written in the open transaction: reported again when it is rolled back.
    QSet<qint64> _inTransaction;
    bool _all = true;
};
