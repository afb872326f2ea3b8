#include "myfiltermodel.h"

#include "documentsmodel.h"
#include "textmatch.h"

#include <algorithm>
#include <future>

static_assert(int(DocumentOrder::ColumnCount) == int(DocumentsModel::ColumnCount) &&
                  int(DocumentOrder::EditDate) == int(DocumentsModel::EditDate),
              "the core orders by the list's columns");

namespace {
// Column of the list: 1 fio, 2 qual, 5 issue date, 6 edit date.
constexpr int fioColumn = DocumentsModel::Fio;
constexpr int qualColumn = DocumentsModel::Qual;
constexpr int issueColumn = DocumentsModel::IssueDate;
constexpr int editColumn = DocumentsModel::EditDate;

// Tests the values [from, to) of `pool` that `matches` still holds.
void matchValues(const TextPool& pool, const QString& text, std::vector<char>* matches, int from, int to) {
    TextPool::Scratch scratch;
    for (int i = from; i < to; ++i)
        if ((*matches)[size_t(i)])
            (*matches)[size_t(i)] = TextMatch::contains(pool.view(i, &scratch), text);
}
} // namespace

MyFilterModel::MyFilterModel(QObject* parent) : QSortFilterProxyModel(parent) {
    // The stored values: dates are shown as "dd.MM.yyyy", which does not sort by time.
    setSortRole(Qt::EditRole);
    connect(this, &QSortFilterProxyModel::sortCaseSensitivityChanged, this, &MyFilterModel::sortSource);
    connect(this, &QSortFilterProxyModel::sortLocaleAwareChanged, this, &MyFilterModel::sortSource);
}

void MyFilterModel::setSourceModel(QAbstractItemModel* sourceModel) {
    _fast = qobject_cast<DocumentsModel*>(sourceModel);
    QSortFilterProxyModel::setSourceModel(sourceModel);
}

// The model orders its rows by the stored values; by another role (the dates as shown) the
// toolkit's proxy sorts, over the rows as read.
void MyFilterModel::sort(int column, Qt::SortOrder order) {
    const bool shownDate = column == issueColumn || column == editColumn;
    const bool byModel = _fast && (sortRole() == Qt::EditRole || (sortRole() == Qt::DisplayRole && !shownDate));
    _sortColumn = byModel && column >= 0 ? column : -1;
    _sortOrder = order;
    if (byModel && QSortFilterProxyModel::sortColumn() >= 0)
        QSortFilterProxyModel::sort(-1, order);
    // Unsorted, the model has read all its rows for the toolkit's proxy.
    sortSource();
    if (!byModel)
        QSortFilterProxyModel::sort(column, order);
}

void MyFilterModel::sortSource() {
    if (_fast)
        _fast->sortRows(_sortColumn, _sortOrder, sortCaseSensitivity(), isSortLocaleAware());
}

void MyFilterModel::setFilter(const DocumentFilter& filter) {
    // A condition is tested on every row, so every row is read first.
    if (_fast && !filter.isEmpty())
        _fast->finishLoading();
    _filter = filter;
    ++_serial;
    // One rebuild of the mapping: removing and inserting the changed rows range by range costs a
    // pass over the whole list per range.
    invalidate();
}

DocumentOrder MyFilterModel::order() const {
    DocumentOrder order;
    const bool byModel = _sortColumn >= 0;
    const int column = byModel ? _sortColumn : sortColumn();
    order.column = column < 0 ? int(DocumentOrder::Unsorted) : column;
    order.order = byModel ? _sortOrder : sortOrder();
    order.caseSensitivity = sortCaseSensitivity();
    order.localeAware = isSortLocaleAware();
    return order;
}

bool MyFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (_fast && _fast == sourceModel() && !sourceParent.isValid())
        return acceptsFast(sourceRow);
    return acceptsGeneric(sourceRow, sourceParent);
}

void MyFilterModel::ValueMatches::update(const TextPool& pool, quint64 poolGeneration, const QString& text,
                                         quint64 filterSerial) {
    const int n = pool.size();
    const bool same = valid && generation == poolGeneration && serial == filterSerial;
    if (same && int(matches.size()) == n)
        return;
    // Texts added since (a page, a refresh): only those are tested.
    const int from = same ? int(matches.size()) : 0;
    // Typing on: a text holding the previous one can only match where that did. Without surrogates
    // a match is one of single UTF-16 units, so this holds for the toolkit's matching too.
    const bool narrows = !same && valid && generation == poolGeneration && int(matches.size()) == n &&
                         !part.isEmpty() && text.contains(part) &&
                         std::none_of(text.begin(), text.end(), [](QChar c) { return c.isSurrogate(); });
    if (!same && !narrows)
        matches.assign(size_t(n), 1);
    else
        matches.resize(size_t(n), 1);
    // A registry whose every name differs has a million of them: both cores test them.
    if (n - from >= 20000) {
        const int middle = from + (n - from) / 2;
        auto firstHalf = std::async(std::launch::async, [&] { matchValues(pool, text, &matches, from, middle); });
        matchValues(pool, text, &matches, middle, n);
        firstHalf.get();
    } else {
        matchValues(pool, text, &matches, from, n);
    }
    part = text;
    generation = poolGeneration;
    serial = filterSerial;
    valid = true;
}

// The filter's rule, with each distinct name and qualification text tested once and the dates read
// as the days the model keeps.
bool MyFilterModel::acceptsFast(int row) const {
    const DocumentsModel& m = *_fast;
    if (row < 0 || row >= m.rowCount())
        return false;
    if (_filter.isEmpty())
        return true;
    // A row whose page has not come is shown when it comes, if it passes.
    if (m.valueIndex(row, fioColumn) < 0)
        return false;
    if (!_filter.fio().isEmpty()) {
        _fioMatches.update(m.pool(fioColumn), m.generation(), _filter.fio(), _serial);
        if (!_fioMatches.matches[size_t(m.valueIndex(row, fioColumn))])
            return false;
    }
    if (!_filter.qual().isEmpty()) {
        _qualMatches.update(m.pool(qualColumn), m.generation(), _filter.qual(), _serial);
        if (!_qualMatches.matches[size_t(m.valueIndex(row, qualColumn))])
            return false;
    }
    return _filter.acceptsIssueDay(m.day(row, issueColumn)) && _filter.acceptsEditDay(m.day(row, editColumn));
}

bool MyFilterModel::acceptsGeneric(int row, const QModelIndex& parent) const {
    const QAbstractItemModel* m = sourceModel();
    const auto cell = [&](int column) { return m->data(m->index(row, column, parent), Qt::EditRole); };
    return _filter.accepts(cell(fioColumn).toString(), cell(qualColumn).toString(), cell(issueColumn),
                           cell(editColumn));
}
