#pragma once

#include "frdocheck.h"

#include <QDialog>
#include <QList>
#include <QScopedPointer>
#include <QVector>

namespace Ui {
class FrdoCheckDialog;
}

// The documents of an FRDO export that the registry would refuse, each with every problem in
// words, and the user's choice of what to export: all of them, only the correct ones, or nothing.
class FrdoCheckDialog : public QDialog {
    Q_OBJECT

public:
    enum class Choice { Cancel, All, OnlyCorrect };

    // `ids` are the documents of the export in their order, `failing` those of them that fail.
    FrdoCheckDialog(const QList<qint64>& ids, const QVector<FrdoCheck::FailingDocument>& failing,
                    QWidget* parent = nullptr);
    ~FrdoCheckDialog() override;
    // The documents of `ids` that fail, checked now, as a list to work through rather than an
    // export's question: no export buttons, "Закрыть". Shown, and deleted when closed.
    static FrdoCheckDialog* showList(const QList<qint64>& ids, QWidget* parent);

    Choice choice() const { return _choice; }
    // What the choice exports, in the export's order; none after a cancel.
    QList<qint64> idsToExport() const;
    const QVector<FrdoCheck::FailingDocument>& failing() const { return _failing; }

signals:
    // The user asked for a document's dialog (a double click on its row).
    void documentActivated(qint64 id);

public slots:
    // Checks the export's documents again, after one of them was saved, and shows what still fails.
    void recheck();
    void reject() override;

private slots:
    void on_pushButtonExportAll_clicked();
    void on_pushButtonExportCorrect_clicked();
    void on_pushButtonCancel_clicked();

private:
    void showFailing();
    // Saves or discards, as the user answers, the documents opened from the list; false to stay.
    bool closeDocuments();
    void finish(Choice choice);

    QScopedPointer<Ui::FrdoCheckDialog> ui;
    QList<qint64> _ids;
    QVector<FrdoCheck::FailingDocument> _failing;
    Choice _choice = Choice::Cancel;
};
