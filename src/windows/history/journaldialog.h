#pragma once

#include "historyjournal.h"

#include <QDialog>
#include <QScopedPointer>

class JournalModel;
class QTimer;

namespace Ui {
class JournalDialog;
}

// "Журнал изменений": every entry of the registry, newest first, read in pages as the user
// scrolls; filters by days, user, kind and name or number; the export of what the filter shows;
// a deleted document brought back from its entry.
class JournalDialog : public QDialog {
    Q_OBJECT

public:
    explicit JournalDialog(QWidget* parent = nullptr);
    ~JournalDialog() override;

    JournalModel* model() const { return _model; }
    // The folder the export proposes.
    void setExportFolder(const QString& folder) { _exportFolder = folder; }
    // The filter the controls say.
    HistoryJournal::Filter filter() const;
    // Reads the rest of the users the entries name into the user filter now.
    void loadUsers();

signals:
    void documentRestored(qint64 profId);
    // The export wrote `path`.
    void saved(const QString& path);

private slots:
    void on_pushButtonRestore_clicked();
    void on_pushButtonExport_clicked();
    void on_pushButtonHistory_clicked();

private:
    void applyFilter();
    // Reads the users of the next slice of the journal, newest first; false when none is left.
    bool readUsersSlice();
    void addUsers(const QStringList& users);
    void updateButtons();
    void readFailed(const QString& reason);
    // The entry of the current row, null when none.
    const HistoryJournal::Entry* currentEntry() const;

    QScopedPointer<Ui::JournalDialog> ui;
    JournalModel* _model = nullptr;
    QTimer* _typing = nullptr;
    QString _exportFolder;
    QTimer* _usersReading = nullptr;
    // The users are read in slices of ids below this one.
    qint64 _usersBelow = 0;
};
