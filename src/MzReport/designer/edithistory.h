#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUndoStack>
#include <QVariant>

class AbstractField;

class ReportPage;

// The designer's record of a template's edits. It watches the page and its fields: every change
// they notify (whoever made it: the canvas, a panel, the table dialog) becomes an undo step on the
// stack with the value before and after it, so nothing is edited past the history. Undoing puts
// the old values back through the same setters, so every observer follows.
//
// Changes made while a group is open become one step: a mouse drag, the table dialog's OK, a
// nudge of several fields. A group opened with a merge id joins the step before it when that one
// has the same id and changed the same fields (a run of key nudges is one step).
class EditHistory : public QObject {
    Q_OBJECT

public:
    enum MergeId { NoMerge = -1, NudgeRun = 1 };

    // Becomes a child of `page`; `stack` is the window's (either may go first).
    EditHistory(ReportPage* page, QUndoStack* stack);
    ~EditHistory() override;
    // The history that records `page`, or null (a page outside the designer).
    static EditHistory* of(const ReportPage* page);

    ReportPage* page() const;
    QUndoStack* stack() const { return _stack; }

    void beginGroup(const QString& text, int mergeId = NoMerge);
    // Pushes what the group changed; a group that changed nothing leaves no step. Groups nest: the
    // outermost one counts.
    void endGroup();
    bool isGroupOpen() const { return _depth > 0; }

    // A group for the lifetime of a scope; does nothing for a page without a history.
    class Group {
    public:
        Group(const ReportPage* page, const QString& text, int mergeId = NoMerge);
        ~Group();
        Group(const Group&) = delete;
        Group& operator=(const Group&) = delete;

    private:
        QPointer<EditHistory> _history;
    };

    // Adds the fields to the page (at the end, in this order) as one step. A field not yet on a
    // page is owned by the step while it is undone.
    void addFields(const QList<AbstractField*>& fields, const QString& text);
    // Takes the fields from the page as one step; the step owns them until it is undone or dropped.
    void removeFields(const QList<AbstractField*>& fields, const QString& text);

    // One recorded change: `target` is the page or a field; `property` a Q_PROPERTY of it.
    struct Change {
        QPointer<QObject> target;
        QByteArray property;
        QVariant before;
        QVariant after;
    };

    // Sets the recorded values back or forth without recording them anew (used by the steps).
    void apply(const QList<Change>& changes, bool forward);

private:
    void snapshot(QObject* target);
    void forget(QObject* target);
    void record(QObject* target, const QByteArray& property);
    void push(QList<Change> changes, const QString& text, int mergeId);
    void onFieldAdded(AbstractField* field);

    QPointer<QUndoStack> _stack;
    // The last value of every property of the page and its fields, so that a notification (sent
    // after the change) finds the value before it.
    QHash<QObject*, QHash<QByteArray, QVariant>> _values;
    QList<Change> _open;
    QString _groupText;
    int _groupMerge = NoMerge;
    int _depth = 0;
    bool _applying = false;
};
