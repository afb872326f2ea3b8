#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <memory>

class QSplashScreen;
class QWidget;

// The picture shown while the program starts. It stays a fixed time from its appearance, during
// which the registry opens and the main window is built and reads its list; the window replaces it
// when that time is up, or as soon as it is built when the building took longer.
class Splash {
public:
    // How long the picture stays.
    static constexpr int durationMs = 3000;

    Splash();
    ~Splash();
    Splash(const Splash&) = delete;
    Splash& operator=(const Splash&) = delete;

    void show();
    bool isShown() const;
    // Closes the picture and shows `window` when the picture's time is up.
    void closeAndShow(QWidget* window);

    // What is left of the picture's time `elapsedMs` after it appeared; 0 when it is up.
    static int remainingMs(qint64 elapsedMs);

private:
    std::unique_ptr<QSplashScreen> _screen;
    QElapsedTimer _shown;
};
