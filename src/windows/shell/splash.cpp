#include "splash.h"

#include <QApplication>
#include <QPixmap>
#include <QSplashScreen>
#include <QTimer>
#include <algorithm>

Splash::Splash() = default;

Splash::~Splash() = default;

void Splash::show() {
    if (_screen)
        return;
    _screen = std::make_unique<QSplashScreen>(QPixmap(QStringLiteral(":/icons/banner2.png")));
    _screen->show();
    _shown.start();
    QApplication::processEvents();
    _screen->showMessage(QStringLiteral("Загрузка..."), Qt::AlignBottom | Qt::AlignHCenter, Qt::black);
}

bool Splash::isShown() const {
    return _screen && _screen->isVisible();
}

int Splash::remainingMs(qint64 elapsedMs) {
    return int(std::clamp<qint64>(durationMs - elapsedMs, 0, durationMs));
}

void Splash::closeAndShow(QWidget* window) {
    const QPointer<QWidget> shown(window);
    const int left = _screen ? remainingMs(_shown.elapsed()) : 0;
    QSplashScreen* screen = _screen.get();
    // One step, so that nothing runs between the picture going and the window coming.
    QTimer::singleShot(left, window, [screen, shown] {
        if (screen)
            screen->close();
        if (shown)
            shown->show();
    });
}
