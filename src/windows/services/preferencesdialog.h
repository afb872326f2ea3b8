#pragma once

#include "serveraddress.h"

#include <QDialog>
#include <QScopedPointer>
#include <QString>
#include <functional>

namespace Ui {
class PreferencesDialog;
}

// The program-wide options that are not organisation data: date style, list order, proxy, spell
// checking, the place of the data folder with moving or copying the data there, and where the
// registry is kept: the file in the data folder or a PostgreSQL server.
class PreferencesDialog : public QDialog {
    Q_OBJECT

public:
    explicit PreferencesDialog(QWidget* parent = nullptr);
    ~PreferencesDialog() override;

    // Applies the stored proxy settings to the whole application (before any network access).
    static void setupProxy();
    // What ends the program after the data folder changed (QCoreApplication::exit by default).
    // Tests observe the request instead; an empty function restores the default.
    static void setExitHandler(std::function<void(int)> handler);

signals:
    void updateOptions();

public slots:
    void saveOptions();
    void loadOptions();
    void on_pushButtonSave_clicked();
    void on_pushButtonCancel_clicked();
    void on_pushButtonAddWord_clicked();
    void on_pushButtonBrowse_clicked();
    void on_pushButtonCopyData_clicked();
    void on_pushButtonMoveData_clicked();
    void on_pushButtonSetDataPath_clicked();
    void on_pushButtonRestoreReports_clicked();
    void on_pushButtonDbCheck_clicked();
    void on_pushButtonDbMove_clicked();
    void on_pushButtonDropHistory_clicked();

private:
    QString targetFolder() const;
    bool checkFolder(const QString& target);
    // Stores the new folder and ends the program, after the success message or, when given, `note`.
    void setDataFolder(const QString& target, bool ask, const QString& note = QString());
    void relocate(bool move);
    void endProgram(const char* why = "data folder relocation done, the program ends");
    void loadDatabaseChoice();
    // The server's address as typed on the "База данных" tab.
    ServerAddress typedAddress() const;
    // Refuses an address without host, database or user with a box.
    bool addressComplete(const ServerAddress& address, const QString& consequence = QString());
    // Stores the choice of store; false (after a box) when the settings file did not take it.
    bool saveDatabaseChoice();

    QScopedPointer<Ui::PreferencesDialog> ui;
    QString _currentDataPath;
    // The choice of store as loaded, to tell whether saving changes what the next start opens.
    bool _loadedServer = false;
    bool _loadedRemember = false;
    ServerAddress _loadedAddress;
    static std::function<void(int)> _exit;
};
