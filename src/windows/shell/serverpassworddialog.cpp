#include "serverpassworddialog.h"
#include "ui_serverpassworddialog.h"

#include "passwordkeyring.h"

#include <QPushButton>

ServerPasswordDialog::ServerPasswordDialog(const ServerAddress& address, bool remember, const QString& problem,
                                           QWidget* parent)
    : QDialog(parent), ui(new Ui::ServerPasswordDialog) {
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Подключение к серверу"));
    ui->labelPrompt->setText(QStringLiteral("Пароль пользователя %1 для базы данных %2 на сервере %3:")
                                 .arg(address.user, address.database, address.host));
    ui->labelProblem->setText(problem);
    ui->labelProblem->setVisible(!problem.isEmpty());
    QString noKeyring;
    const bool keyring = PasswordKeyring::available(&noKeyring);
    // Without a keyring there is nowhere to remember the password: the box says why.
    ui->checkBoxRemember->setChecked(remember && keyring);
    ui->checkBoxRemember->setEnabled(keyring);
    ui->checkBoxRemember->setToolTip(noKeyring);
    ui->labelKeyring->setText(noKeyring);
    ui->labelKeyring->setVisible(!keyring);
    ui->buttonBox->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    ui->lineEditPassword->setFocus();
}

ServerPasswordDialog::~ServerPasswordDialog() = default;

QString ServerPasswordDialog::password() const {
    return ui->lineEditPassword->text();
}

bool ServerPasswordDialog::remembers() const {
    return ui->checkBoxRemember->isEnabled() && ui->checkBoxRemember->isChecked();
}

bool ServerPasswordDialog::ask(ServerAddress* address, bool* remember, const QString& problem, QWidget* parent) {
    ServerPasswordDialog dialog(*address, remember && *remember, problem, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    address->password = dialog.password();
    if (remember)
        *remember = dialog.remembers();
    return true;
}
