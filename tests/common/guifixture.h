#pragma once

#include "messagebox.h"
#include "testdatabase.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <utility>

class Database;
struct QMetaObject;

// A window under test over a fresh data folder and an opened database. Message boxes that no
// answer was queued for are answered Cancel (as if closed), so a stray box never blocks a test;
// every answer and record of shown boxes is dropped again when the fixture goes.
class GuiFixture {
public:
    GuiFixture();
    ~GuiFixture();
    GuiFixture(const GuiFixture&) = delete;
    GuiFixture& operator=(const GuiFixture&) = delete;

    TestEnvironment& env() { return _data.env(); }
    Database* db() const { return _data.db(); }

    // Builds the window under test; the fixture deletes it, unless it deleted itself, before the
    // database closes.
    template <typename W, typename... Args> W* build(Args&&... args) {
        return adopt(new W(std::forward<Args>(args)...));
    }
    template <typename W> W* adopt(W* window) {
        setWindow(window);
        return window;
    }
    QWidget* window() const { return _window.data(); }

    // Triggers the window's action of that object name. When it is missing or disabled the running
    // test fails with the reason (lastFailure()) and false is returned.
    bool trigger(const QString& actionName);
    // The window's descendant of that object name and type; failing the test when there is none.
    template <typename T> T* widget(const QString& objectName) {
        return static_cast<T*>(find(objectName, T::staticMetaObject));
    }
    QString lastFailure() const { return _lastFailure; }

    void answerNextBox(MessageBox::Button answer, bool dontWarnAgain = false);
    // Runs `action` on our own next modal dialog (see ModalHelper).
    void whenModal(std::function<void(QWidget*)> action, int timeoutMs = 10000);

private:
    void setWindow(QWidget* window);
    QObject* find(const QString& objectName, const QMetaObject& type);
    void fail(const QString& reason);

    TestDatabase _data;
    QPointer<QWidget> _window;
    QString _lastFailure;
};
