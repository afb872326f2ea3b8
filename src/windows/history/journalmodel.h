#pragma once

#include "historyjournal.h"

#include <QAbstractTableModel>
#include <QVector>

// The journal's entries a filter lets through, newest first, read a page at a time as the view
// scrolls, so that a registry with millions of entries opens at once.
class JournalModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { When, Who, Action, Document, Name, Number, Changes, ColumnCount };
    static constexpr int pageRows = 200;

    explicit JournalModel(QObject* parent = nullptr);

    // Drops the rows read so far and reads the first page under `filter`; false with the reason.
    bool setFilter(const HistoryJournal::Filter& filter, QString* error);
    const HistoryJournal::Filter& filter() const { return _filter; }
    // Reads the first page again under the same filter.
    bool reload(QString* error);
    const HistoryJournal::Entry& entry(int row) const { return _entries.at(row); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

signals:
    // A page the view asked for could not be read.
    void readFailed(const QString& reason);

private:
    bool readPage(QString* error);

    HistoryJournal::Filter _filter;
    QVector<HistoryJournal::Entry> _entries;
    QVector<QString> _summaries;
    bool _complete = true;
};
