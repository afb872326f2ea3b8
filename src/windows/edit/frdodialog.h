#pragma once

#include "abstracteditdialog.h"
#include "fieldmarks.h"

#include <QScopedPointer>
#include <QVariantMap>

class QSqlRecord;

namespace Ui {
class FrdoDialog;
}

// What the federal registry of education documents needs about one issued certificate beyond the
// certificate record: the ProfFrdo row of a stored document, keyed by its profId.
class FrdoDialog : public AbstractEditDialog {
    Q_OBJECT

public:
    explicit FrdoDialog(QWidget* parent = nullptr);
    ~FrdoDialog() override;

    void setDocId(qint64 id);

    // "12345678901" shows as "123-456-789 01"; shorter numbers keep the groups they reach.
    static QString formatSnils(const QString& text);
    // The used values this dialog lists are read ahead where that takes a while (a server).
    static void readUsedValuesAhead();

private slots:
    void on_pushButtonAutoFill_clicked();
    void on_radioButtonStateDuplicate_toggled(bool checked);

protected:
    void loadRecord(qint64 id) override;
    bool updateRecord() override;
    bool insertRecord() override;
    QString saveFailureText() const override;

private:
    void fitForm();
    void loadFrdo(const QSqlRecord& record);
    void resetFrdo();
    void markFields();
    // The document as the registry would get it: the stored rows with the form's values over them.
    QVariantMap checkedRow() const;
    // Marks the fields the registry would refuse and lists the problems in the status line.
    void recheck();

    QScopedPointer<Ui::FrdoDialog> ui;
    // The date columns as the file holds them, written back while their edit is untouched.
    QVariantMap _storedDates;
    // The document's stored columns (lower case) and its appendix total, read with the record.
    QVariantMap _stored;
    FieldMarks _marks;
};
