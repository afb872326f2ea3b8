#pragma once

#include "modules/AbstractEditDialog/abstracteditdialog.h"

#include <QScopedPointer>

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

    void setId(int id);
    // A new document seeded from the template; the first save inserts it and copies the
    // template's dependent rows.
    void setTemplateId(int templateId);
    void setTemplateMode(bool isTemplate);

    int templateId() const { return _templateId; }
    bool isTemplateMode() const { return _isTemplate; }

private slots:
    void on_pushButtonAdditonal_clicked();
    void on_pushButtonFrdo_clicked();
    void splitPastedName(const QString& text);

protected:
    void loadRecord(int id) override;
    bool updateRecord() override;
    bool insertRecord() override;
    bool checkForms() override;
    QDialog* createPrintDialog() override;

    // The dependent dialogs of the stored document.
    virtual void openAppendix(int id);
    virtual void openFrdo(int id);

private:
    void fillUsedValues();
    void setDependentButtonsEnabled(bool enabled);
    int certificateType() const;

    QScopedPointer<Ui::DocumentEditDialog> ui;
    int _templateId = 0;
    bool _isTemplate = false;
};
