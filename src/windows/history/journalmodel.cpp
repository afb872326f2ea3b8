#include "journalmodel.h"

#include "historyexport.h"
#include "historytext.h"

JournalModel::JournalModel(QObject* parent) : QAbstractTableModel(parent) {}

bool JournalModel::setFilter(const HistoryJournal::Filter& filter, QString* error) {
    _filter = filter;
    return reload(error);
}

bool JournalModel::reload(QString* error) {
    beginResetModel();
    _entries.clear();
    _summaries.clear();
    _complete = false;
    endResetModel();
    return readPage(error);
}

bool JournalModel::readPage(QString* error) {
    QVector<HistoryJournal::Entry> page;
    const qint64 below = _entries.isEmpty() ? 0 : _entries.constLast().id;
    if (!HistoryJournal::find(_filter, below, pageRows, &page, error)) {
        _complete = true; // no endless retries from the view
        return false;
    }
    _complete = page.size() < pageRows;
    if (page.isEmpty())
        return true;
    beginInsertRows(QModelIndex(), _entries.size(), _entries.size() + page.size() - 1);
    for (const HistoryJournal::Entry& entry : qAsConst(page)) {
        _entries.append(entry);
        _summaries.append(HistoryText::summary(entry));
    }
    endInsertRows();
    return true;
}

int JournalModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : _entries.size();
}

int JournalModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant JournalModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= _entries.size() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const HistoryJournal::Entry& e = _entries.at(index.row());
    switch (index.column()) {
    case When:
        return HistoryText::when(e);
    case Who:
        return HistoryText::who(e);
    case Action:
        return HistoryText::action(e);
    case Document:
        return e.profId;
    case Name:
        return e.docName;
    case Number:
        return e.attNumber;
    case Changes:
        return _summaries.at(index.row());
    default:
        return {};
    }
}

QVariant JournalModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const QStringList headers = HistoryExport::headers();
    return headers.value(section);
}

bool JournalModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !_complete;
}

void JournalModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid() || _complete)
        return;
    QString error;
    if (!readPage(&error))
        emit readFailed(error);
}
