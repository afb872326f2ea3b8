#pragma once

#include "abstracteditdialog.h"

#include <QMap>
#include <QModelIndex>
#include <QPointer>
#include <QScopedPointer>
#include <QSqlTableModel>

class QSqlTableModel;
class QTableView;

namespace Ui {
class AdditionalEditDialog;
}

// The appendix of one stored document: its subjects with hours and grades, edited in place in the
// shared ProfDetails model, the additional information text and whether the total is printed.
class AdditionalEditDialog : public AbstractEditDialog {
    Q_OBJECT

public:
    explicit AdditionalEditDialog(QWidget* parent = nullptr);
    ~AdditionalEditDialog() override;

    void setId(qint64 profId);
    void setDocId(qint64 profId) { setId(profId); }

    static QString title() { return QStringLiteral("Приложение к свидетельству"); }

public slots:
    void on_pushButtonAddDisp_clicked();
    void onRowActivated(const QModelIndex& index);
    void on_pushButtonDelete_clicked();
    void on_pushButtonDeleteAll_clicked();
    void on_pushButtonUp_clicked();
    void on_pushButtonDown_clicked();
    void updateTotalCount();

protected:
    void connectEditSignals() override;
    void loadRecord(qint64 id) override;
    bool updateRecord() override;
    QString saveFailureText() const override;

private:
    void setUpTable();
    void selectSubjects();
    void openRateEditors(int first, int last);
    void resizeColumns();
    void resetEntry();
    void moveCurrent(int step);
    void subjectsRemoved();
    static QString deleteFailure();
    void checkCellStored();
    void scanUsedNames();
    void fillUsedNames();

    QScopedPointer<Ui::AdditionalEditDialog> ui;
    // The database's shared model; it may go before this dialog at shutdown.
    QPointer<QSqlTableModel> _model;
    QTableView* _view = nullptr;
    QModelIndex _currentIndex;
    // Subject names counted so far by the scan that runs in the event loop: a large registry holds
    // too many subjects to count them before the dialog shows.
    QMap<QString, int> _nameCounts;
    qint64 _scannedRowId = 0;
};
