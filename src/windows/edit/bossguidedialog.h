#pragma once

#include <QDialog>
#include <QModelIndex>
#include <QPointer>
#include <QScopedPointer>
#include <QString>

class QSqlTableModel;
class QTableView;

namespace Ui {
class BossGuideDialog;
}

// The directory of people who sign the certificates, one kind at a time: chairmen of the
// attestation commission or secretaries, rows of the shared Bosses model. Double-clicking a name
// hands it to the caller and closes the directory.
class BossGuideDialog : public QDialog {
    Q_OBJECT

public:
    // Values of the bossType column.
    enum BossType { Chairman = 1, Secretary = 2 };

    explicit BossGuideDialog(int bossType, QWidget* parent = nullptr);
    ~BossGuideDialog() override;

signals:
    void bossesUpdated();
    void bossSelected(const QString& bossFio);

public slots:
    void on_pushButtonClose_clicked();
    void on_pushButtonDelete_clicked();
    void on_pushButtonAdd_clicked();
    void onCurrentChanged(const QModelIndex& current, const QModelIndex& previous);
    void on_tableView_doubleClicked(const QModelIndex& index);

private:
    void setUpTable();
    // Re-reads the rows of this kind; false when the model or the view is gone.
    bool reselect();
    void dismiss();
    // Tells of a name the database refused to store as corrected, and shows the stored one again.
    void checkStored();
    void showFailure(const QString& headline, const QString& reason);

    QScopedPointer<Ui::BossGuideDialog> ui;
    // The database's shared model; it may go before this dialog at shutdown.
    QPointer<QSqlTableModel> _model;
    QPointer<QTableView> _view;
    int _bossType;
};
