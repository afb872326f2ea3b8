#include "servermovedialog.h"
#include "ui_servermovedialog.h"
#include "writeaccess.h"

#include "database.h"
#include "messagebox.h"
#include "mzlog.h"
#include "registrybackup.h"
#include "serverconnection.h"
#include "serverschema.h"
#include "serversettings.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QTemporaryDir>

namespace {
const QString title = QStringLiteral("Перенос реестра на сервер");

// The core's reasons are parts of a sentence; a box starts with a capital.
QString sentence(QString text) {
    if (!text.isEmpty())
        text[0] = text.at(0).toUpper();
    return text;
}
} // namespace

ServerMoveDialog::ServerMoveDialog(const ServerAddress& address, bool rememberPassword, QWidget* parent)
    : QDialog(parent), ui(new Ui::ServerMoveDialog), _address(address), _remember(rememberPassword) {
    ui->setupUi(this);
    setWindowTitle(title);
    ui->labelMoveTarget->setText(QStringLiteral("Сервер: %1, порт %2\nБаза данных: %3\nПользователь: %4")
                                     .arg(address.host)
                                     .arg(address.port)
                                     .arg(address.database, address.user));
    ui->tableWidgetCounts->setHorizontalHeaderLabels(
        {QStringLiteral("Таблица"), QStringLiteral("В файле"), QStringLiteral("На сервере")});
    ui->tableWidgetCounts->hide();
    ui->pushButtonMoveOpen->hide();
    WriteAccess::mark(ui->pushButtonMoveStart);
    setRunning(false);
}

ServerMoveDialog::~ServerMoveDialog() = default;

QString ServerMoveDialog::connectionName() {
    return QStringLiteral("orvane-server-move");
}

void ServerMoveDialog::on_pushButtonMoveStart_clicked() {
    setRunning(true);
    ui->pushButtonMoveOpen->hide();
    ui->tableWidgetCounts->hide();
    QList<RegistryMove::Counts> counts;
    QString error;
    const Outcome outcome = run(&counts, &error);
    setRunning(false);
    switch (outcome) {
    case Outcome::Moved:
        showCounts(counts);
        setStatus(QStringLiteral("Реестр перенесён."));
        MZ_LOG() << "the registry was moved to" << _address.toUrl();
        switchToServer(QStringLiteral("Реестр перенесён на сервер. Программа будет закрыта. Запустите программу "
                                      "снова, чтобы работать с реестром на сервере."));
        return;
    case Outcome::AlreadyThere:
        setStatus(sentence(RegistryMove::alreadyThereText()));
        ui->pushButtonMoveOpen->show();
        return;
    case Outcome::Failed:
        break;
    }
    MZ_LOG() << "moving the registry to" << _address.toUrl() << "failed:" << error;
    if (_cancelled) {
        setStatus(QStringLiteral("Перенос отменён. Реестр остался в файле."));
        return;
    }
    setStatus(QStringLiteral("Реестр не перенесён."));
    // The move's own reasons say already that nothing was moved; a connection's do not.
    QString reason = sentence(error);
    if (!reason.startsWith(QStringLiteral("Реестр не перенесён")))
        reason = QStringLiteral("Реестр не перенесён на сервер.\n\n") + reason;
    MessageBox::warning(this, MessageBox::errorTitle(),
                        reason + QStringLiteral("\n\nПрограмма продолжит работать с реестром в файле, "
                                                "настройки не изменены."));
}

ServerMoveDialog::Outcome ServerMoveDialog::run(QList<RegistryMove::Counts>* counts, QString* error) {
    setStatus(QStringLiteral("Подключение к серверу…"));
    const ScopedServerConnection connection(_address, connectionName());
    if (!connection.isOpen())
        return *error = connection.error(), Outcome::Failed;
    QSqlDatabase db = connection.database();
    bool found = false;
    if (!ServerSchema::hasRegistry(db, &found, error))
        return Outcome::Failed;
    if (found)
        return Outcome::AlreadyThere;
    // The running program holds its file exclusively: the move reads a copy of it.
    QTemporaryDir folder;
    if (!folder.isValid()) {
        *error = QStringLiteral("не удалось создать временный каталог для копии реестра: ") + folder.errorString();
        return Outcome::Failed;
    }
    const QString copy = folder.filePath(QStringLiteral("registry.sqlite"));
    setStatus(QStringLiteral("Копирование реестра…"));
    if (!RegistryBackup(*Database::instance()).backup(copy, error))
        return Outcome::Failed;
    const bool moved =
        RegistryMove::toServer(copy, db, counts, error, [this](const QString& table, qint64 done, qint64 total) {
            return progress(table, done, total);
        });
    return moved ? Outcome::Moved : Outcome::Failed;
}

bool ServerMoveDialog::progress(const QString& table, qint64 done, qint64 total) {
    ui->progressBarMove->setValue(total > 0 ? int(done * 100 / total) : 100);
    setStatus(QStringLiteral("Таблица %1: %2 из %3").arg(table).arg(done).arg(total));
    // Lets the "Отмена" click through.
    QCoreApplication::processEvents();
    return !_cancelled;
}

void ServerMoveDialog::showCounts(const QList<RegistryMove::Counts>& counts) {
    ui->tableWidgetCounts->setRowCount(counts.size());
    for (int row = 0; row < counts.size(); ++row) {
        const RegistryMove::Counts& c = counts.at(row);
        const QStringList cells{c.table, QString::number(c.file), QString::number(c.server)};
        for (int column = 0; column < cells.size(); ++column) {
            auto item = new QTableWidgetItem(cells.at(column));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            if (column > 0)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            ui->tableWidgetCounts->setItem(row, column, item);
        }
    }
    ui->tableWidgetCounts->resizeColumnsToContents();
    ui->tableWidgetCounts->show();
}

void ServerMoveDialog::setRunning(bool running) {
    _running = running;
    if (running) {
        _cancelled = false;
        ui->progressBarMove->setValue(0);
    }
    ui->pushButtonMoveStart->setEnabled(!running);
    ui->pushButtonMoveClose->setEnabled(!running);
    ui->pushButtonMoveOpen->setEnabled(!running);
    ui->pushButtonMoveCancel->setEnabled(running);
}

void ServerMoveDialog::setStatus(const QString& text) {
    ui->labelMoveStatus->setText(text);
}

void ServerMoveDialog::switchToServer(const QString& text) {
    if (!ServerSettings::save(_address, _remember)) {
        MessageBox::warning(this, MessageBox::errorTitle(),
                            QStringLiteral("Не удалось записать адрес сервера в файл настроек. Программа продолжит "
                                           "работать с реестром в файле."));
        return;
    }
    MessageBox::information(this, title, text);
    accept();
}

void ServerMoveDialog::on_pushButtonMoveCancel_clicked() {
    _cancelled = true;
    setStatus(QStringLiteral("Отмена переноса…"));
}

void ServerMoveDialog::on_pushButtonMoveOpen_clicked() {
    switchToServer(QStringLiteral("Программа будет закрыта. Запустите программу снова, чтобы работать с реестром "
                                  "на сервере."));
}

void ServerMoveDialog::on_pushButtonMoveClose_clicked() {
    reject();
}

void ServerMoveDialog::reject() {
    if (_running)
        on_pushButtonMoveCancel_clicked();
    else
        QDialog::reject();
}
