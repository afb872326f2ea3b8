#pragma once

#include "importplan.h"
#include "importrun.h"
#include "importtable.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QScopedPointer>
#include <QSet>
#include <atomic>
#include <functional>

class ImportPreviewModel;
class QListWidgetItem;
class QStandardItemModel;
class ImportSource;

namespace Ui {
class ImportDialog;
}

// Makes many documents at once from a table: a workbook, a CSV file or rows from the clipboard.
// The user matches the table's columns to document fields, picks a base template and the first
// numbers, checks and fixes the documents in the preview, then imports them in one write that
// makes all of them or none. The window itself only reads the registry.
class ImportDialog : public QDialog {
    Q_OBJECT

public:
    explicit ImportDialog(QWidget* parent = nullptr);
    ~ImportDialog() override;

    // The source as if opened or pasted ("Буфер обмена"); false, with a box, when it cannot be read.
    bool loadFile(const QString& path);
    bool loadClipboardText(const QString& text);

    const ImportTable& table() const { return _table; }
    const ImportOptions& options() const { return _options; }
    ImportPreviewModel* preview() const { return _preview; }

signals:
    // The new documents' ids, in the table's order, after a successful import.
    void documentsImported(const QList<qint64>& ids);
    // After the import the clerk asked to see which of the new documents fail the FRDO check. Sent
    // as the window closes: a receiver that opens a window connects queued.
    void frdoCheckWanted(const QList<qint64>& ids);

public slots:
    void done(int result) override;

private slots:
    void on_pushButtonOpenFile_clicked();
    void on_pushButtonPaste_clicked();
    void on_pushButtonImport_clicked();
    void on_pushButtonClose_clicked();
    void on_comboBoxSheet_activated(int index);
    void on_spinBoxHeaderRow_valueChanged(int value);
    void on_comboBoxTemplate_currentIndexChanged(int index);
    void on_listWidgetProblems_itemDoubleClicked(QListWidgetItem* item);

private:
    void fillTemplates();
    // Reads into the table; gets a progress callback that returns false to stop.
    using Reader = std::function<bool(ImportTable*, QString*, const std::function<bool(int)>&)>;
    // Runs a reader on a worker thread while the window stays alive and shows its progress: a
    // 100,000-row workbook or a 50 MB text takes seconds. "Отмена" stops it, and so does closing
    // the window, which then closes once the reader has let go. False with no reason when stopped.
    bool readInBackground(const QString& label, const Reader& read, ImportTable* table, QString* error);
    // The end of a read or a write: a close asked for meanwhile happens now, from the event loop.
    void endBusy();
    // A new table: the header found, the columns chosen, the preview rebuilt.
    void setTable(const ImportTable& table, const QString& sourceName);
    void showSource();
    // The field of every column for the current header row: the user's remembered choice for that
    // header (or, without a header, for that position), else what the header names.
    void chooseColumns();
    void fillColumnTable();
    void onColumnChoiceChanged(int column, ImportField field);
    void rememberChoice(int column, ImportField field);
    QHash<QString, QString> rememberedByHeader() const;
    // From the table down: documents, numbers, checks.
    void rebuild();
    // Numbers and checks again, keeping the documents and the user's edits.
    void recheck();
    void showProblems();
    // What a check could not read of the registry, in a box (the people's failure once).
    void tellUnread(const ImportRun::Unread& unread);
    void listWarnings(const ImportDocument& document, int row);
    QString summaryText() const;
    // Asked once before documents with warnings are written; true to write them.
    bool confirmWarnings();
    void importDocuments();
    // The import's result, with how many of the new documents the FRDO check would refuse.
    void reportImported(const QList<qint64>& ids);
    void showError(const QString& text);

    QScopedPointer<Ui::ImportDialog> ui;
    ImportPreviewModel* _preview;
    QStandardItemModel* _columns;
    QScopedPointer<ImportSource> _workbook;
    ImportTable _table;
    ImportOptions _options;
    QString _sourceName;
    qint64 _templateId = 0;
    ImportRun _run;
    bool _registryFailed = false;
    bool _filling = false;
    // A read or a write runs: the window must not go while its method waits for it.
    bool _busy = false;
    bool _closeWhenIdle = false;
    std::atomic_bool _stop{false};
    int _sheetIndex = 0;
};
