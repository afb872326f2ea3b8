#pragma once

#include "modules/MzMainWindow/mzmainwindow.h"

#include <QScopedPointer>

class DocumentsTable;
class FilterDockWidget;
class QLabel;

namespace Ui {
class MainWindow;
}

// The training-documents main window: the registry list with its filter panel, the menus and the
// tool bar.
class MainWindow : public MzMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    DocumentsTable* documentsTable() const { return _table; }
    FilterDockWidget* filterDock() const { return _filters; }
    bool askBeforeExportControl() const { return _askBeforeExportControl; }

public slots:
    // Shows the selection-dependent actions for `selectedCount` selected rows.
    void onUpdateIcons(int selectedCount);

private slots:
    void on_actionExit_triggered();
    void on_actionEditor_triggered();
    void on_actionSaveDb_triggered();
    void on_actionLoadDb_triggered();
    void on_actionRemove_triggered();
    void on_actionPrint_triggered();
    void on_actionEdit_triggered();
    void on_actionCopy_triggered();
    void on_actionForumUrl_triggered();
    void on_actionShowBanner_triggered(bool checked);
    void on_actionShowToolbar_triggered(bool checked);

protected:
    void saveSettings() override;
    void loadSettings() override;

private:
    void layOut();
    void hideSelectionActions();
    void showRowCounts(int shown, int total);

    QScopedPointer<Ui::MainWindow> ui;
    DocumentsTable* _table;
    FilterDockWidget* _filters;
    QWidget* _banner;
    QLabel* _rowCounts;
    bool _askBeforeExportControl = true;
};
