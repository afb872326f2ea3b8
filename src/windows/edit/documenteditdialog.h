#pragma once

#include "abstracteditdialog.h"
#include "documentrecords.h"
#include "fieldmarks.h"

#include <QScopedPointer>
#include <QVariantMap>

namespace Ui {
class DocumentEditDialog;
}

// One issued certificate (a row of ProfDocuments), or in template mode a template whose values
// seed new documents.
class DocumentEditDialog : public AbstractEditDialog {
    Q_OBJECT

public:
    explicit DocumentEditDialog(QWidget* parent = nullptr);
    ~DocumentEditDialog() override;

    void setId(qint64 id);
    // A new document seeded from the template; the first save inserts it and copies the
    // template's dependent rows.
    void setTemplateId(qint64 templateId);
    void setTemplateMode(bool isTemplate);
    // The used values this dialog lists are read ahead where that takes a while (a server).
    static void readUsedValuesAhead();

    qint64 templateId() const { return _templateId; }
    bool isTemplateMode() const { return _isTemplate; }

private slots:
    void on_pushButtonAdditonal_clicked();
    void on_pushButtonFrdo_clicked();
    void splitPastedName(const QString& text);

protected:
    void loadRecord(qint64 id) override;
    bool updateRecord() override;
    bool insertRecord() override;
    bool checkForms() override;
    QString saveFailureText() const override;
    void saveFailed() override;
    bool settleFailedSave(const QString& reason) override;
    QDialog* createPrintDialog() override;

    // The dependent dialogs of the stored document.
    virtual void openAppendix(qint64 id);
    virtual void openFrdo(qint64 id);

private:
    // Why the last write refused, when another program's save stood in its way.
    enum class Conflict { None, NumberTaken, Changed, Deleted };

    void fillUsedValues();
    // The dates a new document starts with.
    void setNewDocumentDates(bool onlyEmpty);
    void setDependentButtonsEnabled(bool enabled);
    void markFields();
    // The appendix total as the check reads it; again after the appendix dialog is gone.
    void readAppendixTotal();
    // The document as a save would write it, as the certificate check reads it.
    QVariantMap checkedRow() const;
    QVector<FrdoProblem> certificateProblems() const;
    // Whether the clerk can mend the problem in this dialog now; those that cannot be are not asked about.
    bool mendableHere(const FrdoProblem& problem) const;
    // Marks the fields that would make the certificate wrong and lists them in the status line.
    void recheck();
    int certificateType() const;
    // The form's value of every column the save writes, as it would be bound.
    QVariantMap formValues() const;
    // What the save binds: the stored value of every column the user left as it was loaded.
    QVariant valueToWrite(const QString& column, const QVariantMap& now) const;
    // Writes the form into the stored row while it is at `expectedVersion` (0: whatever it is).
    bool writeValues(qint64 expectedVersion);
    // The questions after another program saved or deleted the document; true to write again.
    bool askAboutChange();
    bool askAboutDeletion();
    // The stored values that differ from the form's, "caption: theirs / mine" a line.
    QString differencesText() const;
    QString caption(const QString& column) const;
    // The version and what the document holds besides the form, after its appendix or FRDO dialog saved.
    void rememberStored();
    void readDependents(const QSqlRecord& row);

    QScopedPointer<Ui::DocumentEditDialog> ui;
    qint64 _templateId = 0;
    bool _isTemplate = false;
    // The loaded row's values as they are in the file, and the form's values right after loading.
    QVariantMap _stored;
    QVariantMap _loaded;
    QVariant _totalHours;
    bool _hasSubjects = false;
    FieldMarks _marks;
    // The stored document's version when the form was loaded (0 on a file).
    qint64 _version = 0;
    Conflict _conflict = Conflict::None;
    bool _overwrite = false;
    // What the stored document holds besides the form, as last read; saved with it as a new
    // document when another program deleted it.
    DocumentRecords::Dependents _dependents;
    bool _savingAsNew = false;
};
