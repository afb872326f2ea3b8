#pragma once

#include <QPointer>
#include <QString>
#include <functional>

class QObject;

// The one transaction the edit dialogs share on the main connection. The first dialog that opens
// begins it; dialogs opened from it work inside it. Each save runs in a savepoint of its own and
// then commits, so that a failure undoes that save's writes only and leaves what the others
// wrote as it was.
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

private:
    // save() once the write may begin.
    static bool saveNow(QObject* owner, const std::function<bool(QString* error)>& write, QString* error);
    // Ends the open transaction's bookkeeping; `owner` begins the next.
    static void restart(QObject* owner);
    // After a save was undone: begins another transaction when the one the dialogs shared is gone.
    static void afterFailedSave(QObject* owner);

    static QPointer<QObject> _owner;
    static bool _open;
};
