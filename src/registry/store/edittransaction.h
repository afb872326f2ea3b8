#pragma once

#include "documenthistory.h"

#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <functional>

class QObject;

// The one transaction the edit dialogs share on the main connection. The first dialog that opens
// begins it; dialogs opened from it work inside it. Each save runs in a savepoint of its own and
// then commits, so that a failure undoes that save's writes only and leaves what the others
// wrote as it was.
// The documents the dialogs show are followed: on a file the state each had when last committed is
// kept, and a save records, before it commits, the change from it to what the commit makes theirs,
// so that cell writes of the subjects grid and the form's save are one entry.
class EditTransaction {
public:
    // Begins a transaction for `owner` unless another owner's is open.
    static void begin(QObject* owner);
    static bool isOwnedBy(const QObject* owner);
    // Whether a dialogs' transaction was begun and not yet ended (its owner may be gone).
    static bool isOpen() { return _open; }
    // Rolls back whatever is open, whoever began it.
    static void rollback();
    // Rolls back when `owner` began the open transaction.
    static void release(const QObject* owner);
    // Runs `write` inside a savepoint and commits; `owner` then holds the next transaction.
    // False with the reason when the write or the commit failed: nothing of this save is left.
    static bool save(QObject* owner, const std::function<bool(QString* error)>& write, QString* error);
    // Writes that belong together, inside a nested savepoint: all of them or none. False with the
    // reason in `error` when the savepoint cannot be taken or released (`write` keeps its own).
    static bool atomically(const std::function<bool()>& write, QString* error = nullptr);

    // `dialog` shows the stored document `profId`: its committed state is read unless another
    // open dialog follows it already.
    static void follow(QObject* dialog, qint64 profId);
    // `dialog`'s save has just made the document `profId`: it was not there when last committed.
    static void followNew(QObject* dialog, qint64 profId);
    // Whether an open dialog follows the document: its save records the document's change.
    static bool follows(qint64 profId);

private:
    struct Followed {
        DocumentHistory::State committed;
        QList<QPointer<QObject>> dialogs;
    };
    // Forgets the documents no open dialog shows any more.
    static void prune();
    static void addFollower(QObject* dialog, qint64 profId, const DocumentHistory::State* committed);
    // Inside a save, after its write: records each followed document's change since its last
    // commit; the states the commit will make theirs go to `states`.
    static bool recordFollowed(QMap<qint64, DocumentHistory::State>* states, QString* error);

    // save() once the write may begin.
    static bool saveNow(QObject* owner, const std::function<bool(QString* error)>& write, QString* error);
    // Ends the open transaction's bookkeeping; `owner` begins the next.
    static void restart(QObject* owner);
    // After a save was undone: begins another transaction when the one the dialogs shared is gone.
    static void afterFailedSave(QObject* owner);

    static QMap<qint64, Followed> _followed;
    static QPointer<QObject> _owner;
    static bool _open;
};
