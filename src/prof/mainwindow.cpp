#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "MzReport/dialogs/messagebox.h"
#include "appsettings.h"
#include "engine.h"
#include "productinfo.h"

#include <QTimer>

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::MainWindow), _engine(new Engine(this)) {
    ui->setupUi(this);
    connect(_engine, &Engine::error, this,
            [this](const QString& text, const QString& title) { MessageBox::warning(this, title, text); });
    setWindowTitle(ProductTypeInfo::titledVersion());
    // Start-up work that may show a box waits until the event loop runs.
    QTimer::singleShot(100, this, [this] { AppSettings::checkVersion(this); });
}

MainWindow::~MainWindow() {
    delete ui;
}
