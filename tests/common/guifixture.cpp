#include "guifixture.h"
#include "appkeys.h"
#include "settingsregistry.h"

#include "modalhelper.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QtTest>

namespace {
void resetBoxes() {
    MessageBox::clearShown();
    MessageBox::setAutoAnswer(QMessageBox::NoButton);
}

QString describe(const QWidget* window) {
    return window
               ? QStringLiteral("%1 \"%2\"").arg(QLatin1String(window->metaObject()->className()), window->objectName())
               : QStringLiteral("no window");
}
} // namespace

GuiFixture::GuiFixture() {
    resetBoxes();
    MessageBox::setAutoAnswer(QMessageBox::Cancel);
    if (!_data.open())
        fail(QStringLiteral("The test database did not open"));
    // The tip of the day is modal and would stand in front of the window under test; a test of
    // the tips switches it on itself.
    SettingsRegistry::instance()->setValue(Keys::showTipsOnStartup, false);
    // Windows under test never reach the maker's servers: a closed local port refuses at once.
    SettingsRegistry::instance()->setValue(Keys::updatesUrl, QStringLiteral("http://127.0.0.1:1/po/last_version.xml"));
    SettingsRegistry::instance()->setValue(Keys::bannerUrl,
                                           QStringLiteral("http://127.0.0.1:1/docs/banners/banner.xml"));
}

GuiFixture::~GuiFixture() {
    delete _window.data();
    // Children the window handed to deleteLater() go too, while the database is still open.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    _data.close();
    resetBoxes();
}

// Shown, as the user sees it: start-up work that waits for the first show runs.
// A dialog that deletes itself on close is simply gone by then.
void GuiFixture::setWindow(QWidget* window) {
    delete _window.data();
    _window = window;
    if (window)
        window->show();
}

void GuiFixture::fail(const QString& reason) {
    _lastFailure = reason;
    // As a failed check rather than qFail(), so that QEXPECT_FAIL applies to it.
    QTest::qVerify(false, "GuiFixture", qPrintable(reason), __FILE__, __LINE__);
}

bool GuiFixture::trigger(const QString& actionName) {
    auto* action = _window ? _window->findChild<QAction*>(actionName) : nullptr;
    if (!action) {
        fail(QStringLiteral("No action \"%1\" in %2").arg(actionName, describe(_window.data())));
        return false;
    }
    if (!action->isEnabled()) {
        fail(QStringLiteral("Action \"%1\" of %2 is disabled").arg(actionName, describe(_window.data())));
        return false;
    }
    action->trigger();
    return true;
}

QObject* GuiFixture::find(const QString& objectName, const QMetaObject& type) {
    if (_window)
        for (QObject* object : _window->findChildren<QObject*>(objectName))
            if (type.cast(object))
                return object;
    fail(QStringLiteral("No %1 \"%2\" in %3")
             .arg(QLatin1String(type.className()), objectName, describe(_window.data())));
    return nullptr;
}

void GuiFixture::answerNextBox(MessageBox::Button answer, bool dontWarnAgain) {
    MessageBox::setNextAnswer(answer, dontWarnAgain);
}

void GuiFixture::whenModal(std::function<void(QWidget*)> action, int timeoutMs) {
    ModalHelper::whenModal(std::move(action), timeoutMs);
}
