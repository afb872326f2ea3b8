#pragma once

#include "prof/reportlist.h"

#include <QDialog>
#include <QPointer>

class QKeyEvent;
class QCloseEvent;

// The base of the record edit dialogs. Each open dialog works inside a transaction on the default
// connection; changes show as " *" at the end of the title; closing, printing or opening a
// dependent dialog first asks whether to save; a save validates, writes, commits and reloads the
// form, then tells the program through documentsUpdated(). A subclass supplies the record's load,
// update, insert and validation.
class AbstractEditDialog : public QDialog {
    Q_OBJECT

public:
    explicit AbstractEditDialog(QWidget* parent = nullptr);
    // Rolls back what was not saved, when this dialog began the open transaction.
    ~AbstractEditDialog() override;

    int recordId() const { return _recordId; }
    bool isEdited() const { return _edited; }
    // True when the caller may go on: nothing to save, saved, or the changes discarded.
    bool maybeSave();

    static QString editedMark() { return QStringLiteral(" *"); }

signals:
    void documentsUpdated();
    void documentPrint(ReportList::ReportType type, int sqlDocId, bool printBackground, bool showPreview);
    // The print dialog's "Сохранить в PDF" for this document.
    void documentsSavePdf(ReportList::ReportType type, QList<int> sqlDocIds, bool printBackground);

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
    virtual void loadRecord(int id) = 0;
    virtual bool updateRecord() = 0;
    virtual bool insertRecord() { return true; }
    virtual bool checkForms() { return true; }
    // The print dialog that reports the chosen report type; null while none is available.
    virtual QDialog* createPrintDialog();

    void setRecordId(int id) { _recordId = id; }

    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Begins a transaction on the default connection unless another dialog's is open.
    void beginTransaction();
    void commitTransaction();
    void rollbackTransaction();
    void arm();

    int _recordId = -1;
    bool _edited = false;
    // The dialog whose transaction is open; dialogs opened from it share that transaction.
    static QPointer<AbstractEditDialog> _transactionOwner;
};
