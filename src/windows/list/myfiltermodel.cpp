#include "myfiltermodel.h"

#include "documentsmodel.h"

#include <algorithm>

static_assert(int(DocumentOrder::ColumnCount) == int(DocumentsModel::ColumnCount) &&
                  int(DocumentOrder::EditDate) == int(DocumentsModel::EditDate),
              "the core orders by the list's columns");

namespace {
// Column of the list: 1 fio, 2 qual, 5 issue date, 6 edit date.
constexpr int fioColumn = DocumentsModel::Fio;
constexpr int qualColumn = DocumentsModel::Qual;
constexpr int issueColumn = DocumentsModel::IssueDate;
constexpr int editColumn = DocumentsModel::EditDate;
} // namespace

MyFilterModel::MyFilterModel(QObject* parent) : QSortFilterProxyModel(parent) {
    // The stored values: dates are shown as "dd.MM.yyyy", which does not sort by time.
    setSortRole(Qt::EditRole);
}

void MyFilterModel::setSourceModel(QAbstractItemModel* sourceModel) {
    _fast = qobject_cast<DocumentsModel*>(sourceModel);
    QSortFilterProxyModel::setSourceModel(sourceModel);
}

void MyFilterModel::setFilter(const DocumentFilter& filter) {
    _filter = filter;
    ++_serial;
    // One rebuild of the mapping: removing and inserting the changed rows range by range costs a
    // pass over the whole list per range.
    invalidate();
}

DocumentOrder MyFilterModel::order() const {
    DocumentOrder order;
    order.column = sortColumn() < 0 ? int(DocumentOrder::Unsorted) : sortColumn();
    order.order = sortOrder();
    order.caseSensitivity = sortCaseSensitivity();
    order.localeAware = isSortLocaleAware();
    return order;
}

bool MyFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (_fast && _fast == sourceModel() && !sourceParent.isValid())
        return acceptsFast(sourceRow);
    return acceptsGeneric(sourceRow, sourceParent);
}

void MyFilterModel::ValueMatches::update(const DocumentsModel& model, int column, const DocumentFilter& filter,
                                         quint64 filterSerial) {
    if (valid && generation == model.generation() && serial == filterSerial)
        return;
    const bool isFio = column == fioColumn;
    const QString text = isFio ? filter.fio() : filter.qual();
    const QVector<QString>& values = model.values(column);
    // Typing on: a text holding the previous one can only match where that did. Without surrogates
    // a match is one of single UTF-16 units, so this holds for the toolkit's matching too.
    const bool narrows = valid && generation == model.generation() && !part.isEmpty() && text.contains(part) &&
                         std::none_of(text.begin(), text.end(), [](QChar c) { return c.isSurrogate(); });
    if (!narrows)
        matches.fill(true, values.size());
    for (int i = 0; i < values.size(); ++i)
        if (matches[i])
            matches[i] = isFio ? filter.acceptsFio(values[i]) : filter.acceptsQual(values[i]);
    part = text;
    generation = model.generation();
    serial = filterSerial;
    valid = true;
}

// The filter's rule, with each distinct name and qualification text tested once and the dates read
// as the days the model keeps.
bool MyFilterModel::acceptsFast(int row) const {
    const DocumentsModel& m = *_fast;
    if (row < 0 || row >= m.rowCount())
        return false;
    if (!_filter.fio().isEmpty()) {
        _fioMatches.update(m, fioColumn, _filter, _serial);
        if (!_fioMatches.matches[m.valueIndex(row, fioColumn)])
            return false;
    }
    if (!_filter.qual().isEmpty()) {
        _qualMatches.update(m, qualColumn, _filter, _serial);
        if (!_qualMatches.matches[m.valueIndex(row, qualColumn)])
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

// The default comparison of the values DocumentsModel::data() gives: ids as numbers, texts (stored
// dates included) by their rank under QString::compare with the proxy's case sensitivity, or
// locale-aware when asked.
bool MyFilterModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const DocumentsModel* m = _fast;
    const int column = left.column();
    const bool storedText =
        sortRole() == Qt::EditRole ||
        (sortRole() == Qt::DisplayRole && column != DocumentsModel::IssueDate && column != DocumentsModel::EditDate);
    if (!m || left.model() != m || right.model() != m || column != right.column() || !storedText)
        return QSortFilterProxyModel::lessThan(left, right);
    if (column == DocumentsModel::Id)
        return m->id(left.row()) < m->id(right.row());
    if (isSortLocaleAware())
        return m->text(left.row(), column).localeAwareCompare(m->text(right.row(), column)) < 0;
    const QVector<int>& ranks = m->valueRanks(column, sortCaseSensitivity());
    return ranks[m->valueIndex(left.row(), column)] < ranks[m->valueIndex(right.row(), column)];
}
