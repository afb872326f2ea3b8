#pragma once

#include "messagebox.h"
#include "reportlist.h"

#include <QDialog>
#include <QList>
#include <functional>

class QKeyEvent;
class QCloseEvent;
class QShowEvent;

// The base of the record edit dialogs. Each open dialog works inside a transaction on the default
// connection; changes show as " *" at the end of the title; closing, printing or opening a
// dependent dialog first asks whether to save; a save validates, writes, commits and reloads the
// form, then tells the program through documentsUpdated(). A save that fails undoes its own
// writes, keeps the form as typed and says why. A subclass supplies the record's load, update,
// insert and validation.
class AbstractEditDialog : public QDialog {
    Q_OBJECT

public:
    explicit AbstractEditDialog(QWidget* parent = nullptr);
    // Rolls back what was not saved, when this dialog began the open transaction.
    ~AbstractEditDialog() override;

    qint64 recordId() const { return _recordId; }
    bool isEdited() const { return _edited; }
    // True when the caller may go on: nothing to save, saved, or the changes discarded.
    bool maybeSave();

    static QString editedMark() { return QStringLiteral(" *"); }
    static QString errorTitle() { return MessageBox::errorTitle(); }

signals:
    void documentsUpdated();
    void documentPrint(ReportList::ReportType type, qint64 sqlDocId, bool printBackground, bool showPreview);
    // The print dialog's "Сохранить в PDF" for this document.
    void documentsSavePdf(ReportList::ReportType type, QList<qint64> sqlDocIds, bool printBackground);

public slots:
    bool save();
    void print();
    void close();
    void setEdited();
    void setUnedited();
    void clearForms();

private slots:
    void requestPrint(ReportList::ReportType type, bool printBackground, bool showPreview);
    void requestPdf(ReportList::ReportType type, bool printBackground);

protected:
    virtual void connectEditSignals();
    virtual void loadRecord(qint64 id) = 0;
    // Both report a failed write with false, after setWriteError() kept the reason.
    virtual bool updateRecord() = 0;
    virtual bool insertRecord() { return true; }
    virtual bool checkForms() { return true; }
    // The first line of the box that reports a failed save; the database's reason follows it.
    virtual QString saveFailureText() const { return QStringLiteral("Не удалось сохранить изменения."); }
    // After a failed save has been undone and the record id put back.
    virtual void saveFailed() {}
    // Then: shows why it failed and returns false, or settles the failure with the user and
    // returns true to write again.
    virtual bool settleFailedSave(const QString& reason);
    // The print dialog that reports the chosen report type; null while none is available.
    virtual QDialog* createPrintDialog();

    // The record the dialog shows; a stored one is followed by the dialogs' transaction, which
    // records each save's change of it.
    void setRecordId(qint64 id);

    // Keeps the reason of a failed write for the box; the first one counts.
    void setWriteError(const QString& reason);
    // The box of a failed write: the headline, then the reason on its own line.
    void showWriteFailure(const QString& headline, const QString& reason);
    // Runs writes that belong together inside a savepoint: when `write` reports failure, what it
    // wrote is undone and the dialog's transaction goes on as before. The savepoint's own failure
    // is kept in `error` unless `write` kept a reason there first.
    bool writeAtomically(const std::function<bool()>& write, QString* error);

    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // On a run that may not write, the record opens for viewing (WriteAccess::viewOnly).
    void showEvent(QShowEvent* event) override;

private:
    // Writes the record inside a savepoint and commits; on failure only this save's writes are undone.
    bool writeRecord(QString* reason);
    void arm();

    qint64 _recordId = -1;
    bool _edited = false;
    bool _shown = false;
    QString _writeError;
};
