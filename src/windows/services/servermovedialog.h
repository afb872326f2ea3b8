#pragma once

#include "registrymove.h"
#include "serveraddress.h"

#include <QDialog>
#include <QList>
#include <QScopedPointer>

namespace Ui {
class ServerMoveDialog;
}

// Moves the running program's registry file onto an empty database of a PostgreSQL server, table
// by table with progress, and shows the counts on both sides. On success (or when the user chose
// to open a registry the server already holds) the address is stored and the dialog is accepted:
// the caller ends the program, and the clerk starts it again, on the server.
class ServerMoveDialog : public QDialog {
    Q_OBJECT

public:
    ServerMoveDialog(const ServerAddress& address, bool rememberPassword, QWidget* parent = nullptr);
    ~ServerMoveDialog() override;

    // The connection the move works on, removed again when it ends.
    static QString connectionName();

public slots:
    void on_pushButtonMoveStart_clicked();
    void on_pushButtonMoveCancel_clicked();
    void on_pushButtonMoveOpen_clicked();
    void on_pushButtonMoveClose_clicked();
    // Closing the window while the move runs cancels it instead.
    void reject() override;

private:
    enum class Outcome { Moved, AlreadyThere, Failed };
    Outcome run(QList<RegistryMove::Counts>* counts, QString* error);
    bool progress(const QString& table, qint64 done, qint64 total);
    void showCounts(const QList<RegistryMove::Counts>& counts);
    void setRunning(bool running);
    void setStatus(const QString& text);
    // Stores the address and says `text`; accepted unless the settings file refused it.
    void switchToServer(const QString& text);

    QScopedPointer<Ui::ServerMoveDialog> ui;
    const ServerAddress _address;
    const bool _remember;
    bool _running = false;
    bool _cancelled = false;
};
