#pragma once

#include "reportlist.h"
#include "xlsxexport.h"

#include <QAction>
#include <QMainWindow>
#include <QMap>
#include <QMessageBox>
#include <QPointer>
#include <functional>

class Engine;
class FrdoCheckDialog;

class QLabel;
class QShowEvent;

// The frame of the program's main window: it owns the print engine and shows its messages, keeps
// the window's settings and carries what does not depend on the kind of document (database backup
// and restore, the template editor's entry, the support forum). The edition's window derives from
// it, provides the form and fills in the import and export operations.
class MzMainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MzMainWindow(QWidget* parent = nullptr);
    // Shuts the database down; the engine goes with the window.
    ~MzMainWindow() override;

    Engine* engine() const { return _engine; }
    QString lastDirectory() const { return _lastDirectory; }
    void setLastDirectory(const QString& folder) { _lastDirectory = folder; }
    bool askBeforeEditor() const { return _askBeforeEditor; }
    bool askBeforeExport() const { return _askBeforeExport; }
    bool askBeforeExportFrdo() const { return _askBeforeExportFrdo; }
    bool toolBarShown() const { return _showToolBar; }
    bool bannerShown() const { return _showBanner; }

    // The proposed name of a backup made on `date`: lastDirectory, "/", "Orvane-backup-yyyy-MM-dd.db".
    QString backupFileName(const QDate& date) const;

    // Column-driven exports by name ("FRDO"), registered by the edition at start-up.
    void setExportLayout(const QString& name, const XlsxExportSpec& layout) { _exportLayouts.insert(name, layout); }
    bool hasExportLayout(const QString& name) const { return _exportLayouts.contains(name); }

public slots:
    void showBanner(bool visible);
    // The FRDO workbook of the documents the list shows.
    void _on_actionFrdo_triggered();
    // Asks the update server ("Updates/url") for a newer version; a silent check shows only an
    // offer. Without a server set, a silent check only logs and an interactive one says so.
    void checkUpdates(bool isSilent);
    // The print dialog's "Сохранить в PDF": asks for the file, writes every side of the documents
    // into it and opens it.
    void saveDocumentsPdf(ReportList::ReportType type, QList<qint64> sqlDocIds, bool printBackground);

protected:
    // The edition's form hands over its switches and the banner.
    void setToolBarAction(QAction* action) { _toolBarAction = action; }
    void setBannerAction(QAction* action) { _bannerAction = action; }
    void setBanner(QWidget* banner) { _banner = banner; }
    void setShowToolBar(bool on) { _showToolBar = on; }
    // The support forum's entry: shown only when an administrator has set the forum's address
    // ("Forum/url"); its menu goes too when nothing else is left in it.
    void setForumAction(QAction* action);

    // The window's title for `title`: on a run that works on the local file because the server could
    // not be reached, the title says so.
    static QString titleFor(const QString& title);
    // On such a run: the title (the edition's, set before) and the status bar say so for the whole
    // run, and the first write asks (askToWriteLocally). The edition calls it once its form is up.
    void markServerFallback();
    // On a run that may not write (WriteAccess): the title and the status bar say so, with the
    // reason as their tooltip. The edition calls it once its form is up and its actions marked.
    void markReadOnly();
    // The question before the first write into that local file; true lets the writes go.
    bool askToWriteLocally();

    // Shows a message of the window as the engine's messages are shown: information (the title
    // "Информация") with the information icon, anything else with the warning icon.
    void showMessage(const QString& text, const QString& title);
    // The same with an icon of the caller's choice (good news under a title that is not "Информация").
    void showMessageWithIcon(const QString& text, const QString& title, QMessageBox::Icon icon);

    // Operations the edition's actions call. True when the database was replaced.
    void backupDatabase();
    bool restoreDatabase();
    void openTemplateEditor();
    void openForum();
    void showPreferences();
    void showAbout();
    void showTips();

    // Where the template editor's entry goes once the warning is passed: the choice of a report
    // type whose template opens in the designer.
    virtual void openEditorChooser() {}

    virtual void importData();
    virtual void exportData();
    virtual void initFrdoExport() {}
    // The ids of the documents the document list shows, in its order; none without a list.
    virtual QList<qint64> shownDocumentIds() const { return {}; }
    // Writes the workbook of the export `name` for every row the document list shows; null formats
    // take the export's defaults.
    virtual void exportToXlsx(const QString& name, const XlsxFormat* headerFormat = nullptr,
                              const XlsxFormat* dataFormat = nullptr);
    // The same for the documents `ids`, in that order.
    void exportIdsToXlsx(const QString& name, const QList<qint64>& ids, const XlsxFormat* headerFormat = nullptr,
                         const XlsxFormat* dataFormat = nullptr);
    // Checks the documents of the FRDO export; when any would be refused, the check window lets the
    // user export all, only the correct ones (`ids` keeps those), or nothing (false).
    bool checkFrdoRows(QList<qint64>* ids);
    // The document a row of the check window asks for; the window re-checks after its saves.
    virtual void openDocumentFromCheck(qint64 id, FrdoCheckDialog* check);
    // The note before an export that the filters apply, unless switched off for that export.
    enum class ExportKind { Book, Frdo };
    void warnAboutFilters(ExportKind kind);
    // Asks where to save a workbook proposed as `proposed`; empty when the user cancels.
    QString askWorkbookName(const QString& proposed);
    // Runs `write` with a progress dialog that can cancel it, then opens the written file. A file
    // that could not be written is reported; a cancelled export leaves nothing behind.
    bool writeWorkbook(const QString& path, const std::function<bool(QString*, const ExportProgress&)>& write);
    // Opens a written file in the desktop's program, or tells why it was not written (nothing
    // for an empty reason: the user stopped). True when it was written.
    bool opened(bool written, const QString& path, const QString& error);
    virtual void saveSettings();
    virtual void loadSettings();

    void showEvent(QShowEvent* event) override;

private:
    // Runs once, shortly after the window is first shown.
    void startUp();
    void warnIfReadOnly();
    void onWriteFailed(const QString& message);
    QString sharedRegistryNote();

    Engine* _engine;
    QString _lastDirectory;
    QMap<QString, XlsxExportSpec> _exportLayouts;
    bool _askBeforeExport = true;
    bool _askBeforeExportFrdo = true;
    bool _askBeforeEditor = true;
    bool _showToolBar = true;
    bool _showBanner = true;
    bool _startUpScheduled = false;
    bool _writeFailurePending = false;
    QPointer<QAction> _toolBarAction;
    QPointer<QAction> _bannerAction;
    QPointer<QWidget> _banner;
    QLabel* _fallbackNote = nullptr;
    QLabel* _readOnlyNote = nullptr;
};
