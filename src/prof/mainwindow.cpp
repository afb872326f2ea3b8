#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "appsettings.h"
#include "productinfo.h"

#include <QTimer>

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::MainWindow) {
    ui->setupUi(this);
    setWindowTitle(ProductTypeInfo::titledVersion());
    // Start-up work that may show a box waits until the event loop runs.
    QTimer::singleShot(100, this, [this] { AppSettings::checkVersion(this); });
}

MainWindow::~MainWindow() {
    delete ui;
}
