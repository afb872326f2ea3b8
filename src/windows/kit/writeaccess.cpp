#include "writeaccess.h"

#include "database.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>

namespace {
const char* const writesProperty = "writesRegistry";

// Keeps a marked button disabled when its window enables it again (a selection, a loaded record).
class EnabledLock : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange) {
            auto* widget = static_cast<QWidget*>(watched);
            if (widget->isEnabled())
                widget->setEnabled(false);
        }
        return QObject::eventFilter(watched, event);
    }
};

void lockAction(QAction* action, const QString& reason) {
    action->setEnabled(false);
    action->setToolTip(reason);
    QObject::connect(action, &QAction::changed, action, [action] {
        if (action->isEnabled())
            action->setEnabled(false);
    });
    // A menu shows its entries' tooltips only when asked to.
    for (QWidget* widget : action->associatedWidgets())
        if (auto* menu = qobject_cast<QMenu*>(widget))
            menu->setToolTipsVisible(true);
}

void lockWidget(QWidget* widget, const QString& reason) {
    widget->setEnabled(false);
    widget->setToolTip(reason);
    widget->installEventFilter(new EnabledLock(widget));
}

// A choice that cannot take the mouse or the focus keeps showing its value without changing it.
void closeToInput(QWidget* widget) {
    widget->setAttribute(Qt::WA_TransparentForMouseEvents);
    widget->setFocusPolicy(Qt::NoFocus);
}
} // namespace

bool WriteAccess::readOnly() {
    return Database::hasInstance() && Database::instance()->isReadOnly();
}

QString WriteAccess::reason() {
    return readOnly() ? Database::instance()->readOnlyReason() : QString();
}

void WriteAccess::mark(QObject* object) {
    if (!object || writes(object))
        return;
    object->setProperty(writesProperty, true);
    if (!readOnly())
        return;
    if (auto* action = qobject_cast<QAction*>(object))
        lockAction(action, reason());
    else if (auto* widget = qobject_cast<QWidget*>(object))
        lockWidget(widget, reason());
}

void WriteAccess::mark(std::initializer_list<QObject*> objects) {
    for (QObject* object : objects)
        mark(object);
}

bool WriteAccess::writes(const QObject* object) {
    return object && object->property(writesProperty).toBool();
}

bool WriteAccess::allowed(const QObject* object) {
    return !writes(object) || !readOnly();
}

void WriteAccess::viewOnly(QWidget* window) {
    if (!window || !readOnly())
        return;
    for (QLineEdit* edit : window->findChildren<QLineEdit*>())
        edit->setReadOnly(true);
    for (QPlainTextEdit* edit : window->findChildren<QPlainTextEdit*>())
        edit->setReadOnly(true);
    for (QTextEdit* edit : window->findChildren<QTextEdit*>())
        edit->setReadOnly(true);
    // A date's calendar and keys of its own (Delete empties it) go past its read-only text.
    for (QAbstractSpinBox* box : window->findChildren<QAbstractSpinBox*>()) {
        box->setReadOnly(true);
        closeToInput(box);
    }
    for (QComboBox* box : window->findChildren<QComboBox*>())
        closeToInput(box);
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
        if (button->isCheckable())
            closeToInput(button);
    // A table's editors may be open all the time and come again with every reload.
    for (QAbstractItemView* view : window->findChildren<QAbstractItemView*>()) {
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->viewport()->setEnabled(false);
    }
}

QString WriteAccess::titleMark() {
    return QStringLiteral("только чтение");
}
