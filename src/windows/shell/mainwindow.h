#pragma once

#include "documenteditdialog.h"
#include "mzmainwindow.h"

#include <QPointer>
#include <QScopedPointer>

class DocumentsTable;
class FilterDockWidget;
class ImportDialog;
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

    // The edit dialog opened last, while it is open.
    DocumentEditDialog* editDialog() const { return _editDialog; }
    // The import window, while it is open.
    ImportDialog* importDialog() const;
    // The line the log gets once the window has painted its list's first screen and its count.
    static const char* firstScreenLogLine();

public slots:
    // Shows the selection-dependent actions for `selectedCount` selected rows.
    void onUpdateIcons(int selectedCount);
    void onNewTemplate();
    // Below 0: a new document; otherwise that document.
    void onDocumentEdit(qint64 sqlDocId);
    void onTemplateEdit(qint64 sqlDocId);
    void onDocumentFromTemplateCreate(qint64 templateId);
    // Shows the imported documents in the list, selected, and says how many were made.
    void onDocumentsImported(const QList<qint64>& ids);

private slots:
    void on_actionExit_triggered();
    void on_actionImport_triggered();
    void on_actionExport_triggered();
    void on_actionSettings_triggered();
    void on_actionPreferences_triggered();
    void on_actionAbout_triggered();
    void on_actionTips_triggered();
    void on_actionCheckUpdates_triggered();
    void on_actionCreateDoc_triggered();
    void on_actionEditor_triggered();
    void on_actionPrinterCalibration_triggered();
    void on_actionStatistics_triggered();
    void on_actionJournal_triggered();
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
    bool eventFilter(QObject* watched, QEvent* event) override;
    void saveSettings() override;
    void loadSettings() override;
    void openEditorChooser() override;
    // The import window, one at a time.
    void importData() override;
    // The registry book of the documents the filters let through.
    void exportData() override;
    void initFrdoExport() override;
    QList<qint64> shownDocumentIds() const override;
    // The document's dialog over the check window, so that the window's list follows its saves.
    void openDocumentFromCheck(qint64 id, FrdoCheckDialog* check) override;
    // `exportMode` does not change the workbook.
    void exportTo_(int exportMode);

private:
    void layOut();
    // The form's actions that write to the registry (WriteAccess).
    QList<QAction*> writingActions() const;
    // Opens a document dialog, refreshing the list after its saves and printing through the engine.
    DocumentEditDialog* openEditDialog(QWidget* parent = nullptr);
    void hideSelectionActions();
    void showRowCounts(int shown, int total);

    QScopedPointer<Ui::MainWindow> ui;
    DocumentsTable* _table;
    FilterDockWidget* _filters;
    QWidget* _banner;
    QLabel* _rowCounts;
    QPointer<DocumentEditDialog> _editDialog;
    QPointer<QDialog> _editorChooser;
    QPointer<ImportDialog> _importDialog;
    bool _askBeforeExportControl = true;
    bool _firstScreenLogged = false;
};
