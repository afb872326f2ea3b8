#pragma once

#include <QMainWindow>
#include <QScopedPointer>

class Engine;

namespace Ui {
class MainWindow;
}

// The training-documents main window.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    Engine* engine() const { return _engine; }

private:
    void warnIfReadOnly();
    void onWriteFailed(const QString& message);

    QScopedPointer<Ui::MainWindow> ui;
    Engine* _engine;
    bool _writeFailurePending = false;
};
