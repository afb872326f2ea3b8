#pragma once

#include <QMainWindow>

namespace Ui {
class MainWindow;
}

// The training-documents main window.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

private:
    Ui::MainWindow* ui;
};
