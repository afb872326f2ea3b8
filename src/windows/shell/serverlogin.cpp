#include "serverlogin.h"

#include "messagebox.h"
#include "mzlog.h"
#include "serverpassworddialog.h"
#include "serversettings.h"

#include <QApplication>
#include <QCursor>

namespace {
const char* const probeConnection = "orvane_login";

// Opens and lets go at once: the data store opens its own connection with what works here.
bool reachable(const ServerAddress& address, ServerProblem* problem, QString* error) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const ServerConnection::Scoped probe(address, QLatin1String(probeConnection));
    QApplication::restoreOverrideCursor();
    *problem = probe.problem();
    *error = probe.error();
    return probe.isOpen();
}
} // namespace

ServerLogin::Outcome ServerLogin::connect(ServerAddress* address, QWidget* parent) {
    *address = ServerSettings::address();
    bool remember = ServerSettings::remembersPassword();
    const QString rememberedPassword = address->password;
    ServerProblem problem = ServerProblem::None;
    QString error;
    while (!reachable(*address, &problem, &error)) {
        if (problem == ServerProblem::WrongPassword) {
            // The first refusal of an empty password is no news: the password was simply not given.
            const QString said = address->password.isEmpty() && rememberedPassword.isEmpty() ? QString() : error;
            if (!ServerPasswordDialog::ask(address, &remember, said, parent))
                return Outcome::Quit;
            continue;
        }
        const QString text = QStringLiteral("Не удалось подключиться к реестру на сервере %1:\n%2\n\n"
                                            "«Повтор» — попробовать ещё раз, «Открыть» — работать с файлом реестра на "
                                            "этом компьютере (сервер можно указать в настройках программы).")
                                 .arg(address->toUrl(), error);
        const auto answer = MessageBox::warning(parent, MessageBox::errorTitle(), text,
                                                QMessageBox::Retry | QMessageBox::Open | QMessageBox::Cancel);
        if (answer == QMessageBox::Open)
            return Outcome::File;
        if (answer != QMessageBox::Retry)
            return Outcome::Quit;
    }
    // A password typed now is kept only when the user asked for it.
    if (address->password != rememberedPassword || remember != ServerSettings::remembersPassword())
        if (!ServerSettings::save(*address, remember))
            MZ_LOG() << "the server's password could not be kept in the settings";
    return Outcome::Server;
}
