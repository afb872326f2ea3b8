#include "journalmodel.h"

#include "historyexport.h"
#include "historytext.h"

#include <QElapsedTimer>
#include <QTimer>

namespace {
// How long one step of a search may hold the window.
constexpr int stepMs = 60;
} // namespace

JournalModel::JournalModel(QObject* parent) : QAbstractTableModel(parent), _step(new QTimer(this)) {
    _step->setSingleShot(true);
    connect(_step, &QTimer::timeout, this, [this] {
        QString error;
        if (!searchStep(&error))
            emit readFailed(error);
    });
}

bool JournalModel::setFilter(const HistoryJournal::Filter& filter, QString* error) {
    _filter = filter;
    return reload(error);
}

bool JournalModel::reload(QString* error) {
    _step->stop();
    beginResetModel();
    _entries.clear();
    _summaries.clear();
    endResetModel();
    // The newest id is where the slices start.
    QVector<HistoryJournal::Entry> newest;
    if (!HistoryJournal::find(HistoryJournal::Filter(), 0, 1, &newest, error)) {
        _below = 0;
        emit searchingChanged(false);
        return false;
    }
    _below = newest.isEmpty() ? 0 : newest.first().id + 1;
    _wanted = pageRows;
    return searchStep(error);
}

bool JournalModel::isSearching() const {
    return _step->isActive();
}

bool JournalModel::searchStep(QString* error) {
    QElapsedTimer clock;
    clock.start();
    while (_below > 0 && _wanted > 0) {
        HistoryJournal::Filter slice = _filter;
        // A filter that bounds the ids itself, or the days (which the index of days bounds), is
        // searched in one go.
        const bool sliced = _filter.fromId <= 0 && !_filter.from.isValid() && !_filter.to.isValid();
        const qint64 ids = _filter.text.trimmed().isEmpty() ? sliceIds : textSliceIds;
        if (sliced)
            slice.fromId = _below > ids ? _below - ids : 1;
        QVector<HistoryJournal::Entry> found;
        if (!HistoryJournal::find(slice, _below, _wanted, &found, error)) {
            _below = 0; // no endless retries from the view
            return false;
        }
        append(found);
        _wanted -= found.size();
        const bool lastSlice = !sliced || slice.fromId <= 1;
        if (_wanted == 0)
            _below = found.constLast().id;
        else
            _below = lastSlice ? 0 : slice.fromId;
        if (clock.elapsed() >= stepMs && _wanted > 0 && _below > 0) {
            const bool started = !_step->isActive();
            _step->start(0);
            if (started)
                emit searchingChanged(true);
            return true;
        }
    }
    emit searchingChanged(false);
    return true;
}

void JournalModel::append(const QVector<HistoryJournal::Entry>& entries) {
    if (entries.isEmpty())
        return;
    beginInsertRows(QModelIndex(), _entries.size(), _entries.size() + entries.size() - 1);
    for (const HistoryJournal::Entry& entry : entries) {
        _entries.append(entry);
        _summaries.append(HistoryText::summary(entry));
    }
    endInsertRows();
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
    return !parent.isValid() && _below > 0 && !isSearching();
}

void JournalModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent))
        return;
    _wanted = pageRows;
    QString error;
    if (!searchStep(&error))
        emit readFailed(error);
}
