#pragma once

#include <QSet>
#include <QString>
#include <QVector>

// Which documents may show otherwise in the list since it last asked, so that a refresh reads
// those rows instead of the whole registry. SQLite reports every row the program's connection
// writes, and the file is the program's alone while it runs (its lock is exclusive). Rows written
// in a transaction that is rolled back are reported again. On a server, whoever writes, the
// server's change log tells (ServerListLog), from the horizon taken at the previous question. A
// connection opened since the last question (a restored copy) cannot say: everything is to be read
// then.
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
    Changes takeFromServer();

    QSet<qint64> _pending;
    // Written in the open transaction: reported again when it is rolled back.
    QSet<qint64> _inTransaction;
    bool _all = true;
    // The server the horizon belongs to, and the horizon (-1: none).
    QString _server;
    qint64 _horizon = -1;
};
