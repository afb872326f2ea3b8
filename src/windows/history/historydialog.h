#pragma once

#include "historyjournal.h"

#include <QDialog>
#include <QScopedPointer>

namespace Ui {
class HistoryDialog;
}

// "История изменений" of one document: its entries newest first, a row per changed value. Read-only.
class HistoryDialog : public QDialog {
    Q_OBJECT

public:
    explicit HistoryDialog(QWidget* parent = nullptr);
    ~HistoryDialog() override;

    // Reads the document's entries; false with the reason when they cannot be read.
    bool load(qint64 profId, QString* error);
    // Opens the window of `profId` over `parent`, or says why the history cannot be read.
    static HistoryDialog* open(qint64 profId, QWidget* parent);

private:
    void fill(const QVector<HistoryJournal::Entry>& entries);

    QScopedPointer<Ui::HistoryDialog> ui;
};
