#pragma once

#include <QDialog>
#include <QScopedPointer>

class QLineEdit;

namespace Ui {
class OptionsDialog;
}

// The issuing organisation's data that every printed certificate carries: its names, locality,
// head and the signatories of the attestation commission, kept in the database's Variables so
// that they travel with the registry.
class OptionsDialog : public QDialog {
    Q_OBJECT

public:
    explicit OptionsDialog(QWidget* parent = nullptr);
    ~OptionsDialog() override;

signals:
    void updateOptions();

public slots:
    void onFocusChanged(QWidget* old, QWidget* now);
    // All values or none; false when the database refused them, with SQLite's reason.
    bool saveOptions(QString* reason = nullptr);
    void loadOptions();
    void on_pushButtonSave_clicked();
    void on_pushButtonCancel_clicked();
    void on_pushButtonGuide1_clicked();
    void on_pushButtonGuide2_clicked();

private:
    void openDirectory(int bossType, QLineEdit* target);
    void dismiss();

    QScopedPointer<Ui::OptionsDialog> ui;
};
