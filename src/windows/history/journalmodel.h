#pragma once

#include "historyjournal.h"

#include <QAbstractTableModel>
#include <QVector>

class QTimer;

// The journal's entries a filter lets through, newest first, read a page at a time as the view
// scrolls, so that a registry with millions of entries opens at once. Without a period, a page is
// searched a slice of ids at a time: a filter that matches little goes on searching between the
// user's input instead of holding the window.
class JournalModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { When, Who, Action, Document, Name, Number, Changes, ColumnCount };
    static constexpr int pageRows = 200;
    // Ids searched by one statement: fewer when each entry's texts are searched too.
    static constexpr qint64 sliceIds = 250000;
    static constexpr qint64 textSliceIds = 25000;

    explicit JournalModel(QObject* parent = nullptr);

    // Drops the rows read so far and reads the first page under `filter`; false with the reason.
    bool setFilter(const HistoryJournal::Filter& filter, QString* error);
    const HistoryJournal::Filter& filter() const { return _filter; }
    // Reads the first page again under the same filter.
    bool reload(QString* error);
    const HistoryJournal::Entry& entry(int row) const { return _entries.at(row); }
    // Whether a page is still being searched for.
    bool isSearching() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

signals:
    // A page the view asked for could not be read.
    void readFailed(const QString& reason);
    void searchingChanged(bool searching);

private:
    // Searches slices until the page has its rows, the journal ends or the time of one step is
    // spent; what is left is searched on the next step.
    bool searchStep(QString* error);
    void append(const QVector<HistoryJournal::Entry>& entries);

    HistoryJournal::Filter _filter;
    QVector<HistoryJournal::Entry> _entries;
    QVector<QString> _summaries;
    // Ids below this one are still to be searched; 0 when the journal is searched through.
    qint64 _below = 0;
    // Rows the page being searched still wants.
    int _wanted = 0;
    QTimer* _step = nullptr;
};
