#include "dialoggeometry.h"

#include "appkeys.h"
#include "settingsregistry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace {
// What the window system adds around the window. Known once the window is shown; before, the
// style's title bar and a thin border stand in for it.
QSize frameExtent(const QWidget* window) {
    if (window->isVisible() && window->testAttribute(Qt::WA_WState_Created))
        return window->frameGeometry().size() - window->size();
    constexpr int border = 4;
    const int titleBar = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
    return QSize(2 * border, titleBar + 2 * border);
}
} // namespace

void DialogGeometry::restore(QWidget* widget) {
    if (!widget)
        return;
    const QByteArray geometry =
        SettingsRegistry::instance()->value(Keys::dialogGeometry, {widget->objectName()}).toByteArray();
    if (!geometry.isEmpty())
        widget->restoreGeometry(geometry);
}

void DialogGeometry::save(QWidget* widget) {
    if (!widget)
        return;
    SettingsRegistry::instance()->setValue(Keys::dialogGeometry, widget->saveGeometry(), {widget->objectName()});
}

void DialogGeometry::fitIntoScreen(QWidget* window, bool center) {
    if (!window || window->isMaximized() || window->isFullScreen())
        return;
    QScreen* screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QSize frame = frameExtent(window);
    const QSize room = (available.size() - frame).expandedTo(QSize(1, 1));
    window->setMinimumSize(window->minimumSize().boundedTo(room));
    window->resize(window->size().boundedTo(room));
    // The layout may refuse to go below its own minimum; place what it became.
    QRect outer(window->pos(), window->size() + frame);
    if (center)
        outer.moveCenter(available.center());
    if (outer.right() > available.right())
        outer.moveRight(available.right());
    if (outer.bottom() > available.bottom())
        outer.moveBottom(available.bottom());
    if (outer.left() < available.left())
        outer.moveLeft(available.left());
    if (outer.top() < available.top())
        outer.moveTop(available.top());
    if (outer.topLeft() != window->pos())
        window->move(outer.topLeft());
}
