#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "appsettings.h"
#include "database.h"
#include "engine.h"
#include "messagebox.h"
#include "productinfo.h"

#include <QDir>
#include <QTimer>

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::MainWindow), _engine(new Engine(this)) {
    ui->setupUi(this);
    connect(_engine, &Engine::error, this,
            [this](const QString& text, const QString& title) { MessageBox::warning(this, title, text); });
    setWindowTitle(ProductTypeInfo::titledVersion());
    if (Database::hasInstance())
        connect(Database::instance(), &Database::writeFailed, this, &MainWindow::onWriteFailed);
    // Start-up work that may show a box waits until the event loop runs.
    QTimer::singleShot(100, this, [this] {
        if (AppSettings::checkVersion())
            MessageBox::information(this, QStringLiteral("Внимание!"), AppSettings::versionNoticeText());
        warnIfReadOnly();
    });
}

void MainWindow::warnIfReadOnly() {
    if (!Database::hasInstance() || !Database::instance()->isReadOnly())
        return;
    MessageBox::warning(this, QStringLiteral("Внимание!"),
                        QStringLiteral("База данных открыта только для чтения:\n%1\nНет права на запись в файл или "
                                       "его папку. Документы можно просматривать и печатать, но изменения не будут "
                                       "сохранены.")
                            .arg(QDir::toNativeSeparators(Database::filePath())));
}

// One save may fail in several statements; the user hears of it once.
void MainWindow::onWriteFailed(const QString& message) {
    if (_writeFailurePending)
        return;
    _writeFailurePending = true;
    QTimer::singleShot(0, this, [this, message] {
        MessageBox::warning(this, QStringLiteral("Ошибка"), message);
        _writeFailurePending = false;
    });
}

MainWindow::~MainWindow() = default;
