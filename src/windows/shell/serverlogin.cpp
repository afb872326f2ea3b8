#include "serverlogin.h"

#include "database.h"
#include "messagebox.h"
#include "mzlog.h"
#include "serverconnection.h"
#include "serverpassworddialog.h"
#include "serversettings.h"

#include <QApplication>
#include <QCursor>

namespace {
const char* const probeConnection = "orvane_login";

QString retryLabel() {
    return QStringLiteral("Повторить");
}

QString openLabel() {
    return QStringLiteral("Открыть");
}

// Opens and lets go at once: the data store opens its own connection with what works here.
bool reachable(const ServerAddress& address, ServerProblem* problem, QString* error) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const ScopedServerConnection probe(address, QLatin1String(probeConnection));
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
        const QString text =
            QStringLiteral("Не удалось подключиться к реестру на сервере %1:\n%2\n\n«%3» — попробовать ещё раз, "
                           "«%4» — работать с файлом реестра на этом компьютере: в нём может быть старая копия "
                           "реестра, и записанное в него на сервер не попадёт (сервер можно указать в настройках "
                           "программы).")
                .arg(address->displayText(), error, retryLabel(), openLabel());
        // A reflexive Enter tries again rather than opening a copy that may be stale.
        const auto answer =
            MessageBox::choose(parent, QMessageBox::Warning, MessageBox::errorTitle(), text,
                               QMessageBox::Retry | QMessageBox::Open | QMessageBox::Cancel, QMessageBox::Retry,
                               {{QMessageBox::Retry, retryLabel()}, {QMessageBox::Open, openLabel()}});
        if (answer == QMessageBox::Open) {
            Database::setServerFallback(true);
            MZ_LOG() << "the server" << address->toUrl() << "is not reached: working on the local file";
            return Outcome::File;
        }
        if (answer != QMessageBox::Retry)
            return Outcome::Quit;
    }
    // A password typed now is kept only when the user asked for it.
    if (address->password != rememberedPassword || remember != ServerSettings::remembersPassword())
        if (!ServerSettings::save(*address, remember, &error))
            MZ_LOG() << "the server's password could not be kept:" << error;
    return Outcome::Server;
}
