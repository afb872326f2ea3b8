#pragma once

#include "serveraddress.h"

#include <QDialog>
#include <QScopedPointer>

namespace Ui {
class ServerPasswordDialog;
}

// Asks for the password of a server registry when none is stored or the stored one was refused.
class ServerPasswordDialog : public QDialog {
    Q_OBJECT

public:
    // Shows the prompt for `address` with `problem` (the last refusal, may be empty) above the field.
    // On OK fills address->password and *remember; false when the user cancelled.
    static bool ask(ServerAddress* address, bool* remember, const QString& problem, QWidget* parent = nullptr);

    ServerPasswordDialog(const ServerAddress& address, bool remember, const QString& problem,
                         QWidget* parent = nullptr);
    ~ServerPasswordDialog() override;

    QString password() const;
    bool remembers() const;

private:
    QScopedPointer<Ui::ServerPasswordDialog> ui;
};
