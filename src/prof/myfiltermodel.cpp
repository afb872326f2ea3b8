#include "myfiltermodel.h"

#include "documentsmodel.h"
#include "textmatch.h"

#include <algorithm>

namespace {
// Column of the list: 1 fio, 2 qual, 5 issue date, 6 edit date.
constexpr int fioColumn = DocumentsModel::Fio;
constexpr int qualColumn = DocumentsModel::Qual;
constexpr int issueColumn = DocumentsModel::IssueDate;
constexpr int editColumn = DocumentsModel::EditDate;

bool bothValid(const QDate& from, const QDate& to) {
    return from.isValid() && to.isValid();
}

// Julian day of a cell: a date value, or a text that starts with "yyyy-MM-dd".
qint64 dayOf(const QVariant& value) {
    if (value.userType() == QMetaType::QDate || value.userType() == QMetaType::QDateTime) {
        const QDate date = value.toDate();
        return date.isValid() ? date.toJulianDay() : qint64(DocumentsModel::noDay);
    }
    return DocumentsModel::dayNumber(value.toString());
}

bool inRange(qint64 day, qint64 from, qint64 to) {
    return day != DocumentsModel::noDay && from <= day && day <= to;
}
} // namespace

MyFilterModel::MyFilterModel(QObject* parent) : QSortFilterProxyModel(parent) {}

void MyFilterModel::setSourceModel(QAbstractItemModel* sourceModel) {
    _fast = qobject_cast<DocumentsModel*>(sourceModel);
    QSortFilterProxyModel::setSourceModel(sourceModel);
}

void MyFilterModel::setFilterList(const FilterListType& filterList) {
    _fio.clear();
    _qual.clear();
    _dateFrom = _dateTo = _editDateFrom = _editDateTo = QDate();
    for (const auto& entry : filterList) {
        const QVariant& value = entry.second;
        if (!value.isValid())
            continue;
        const QString& key = entry.first;
        if (key == FilterKeys::fio)
            _fio = value.toString().trimmed();
        else if (key == FilterKeys::qual)
            _qual = value.toString().trimmed();
        else if (key == FilterKeys::dateFrom)
            _dateFrom = value.toDate();
        else if (key == FilterKeys::dateTo)
            _dateTo = value.toDate();
        else if (key == FilterKeys::editDateFrom)
            _editDateFrom = value.toDate();
        else if (key == FilterKeys::editDateTo)
            _editDateTo = value.toDate();
    }
    _issueFrom = _dateFrom.toJulianDay();
    _issueTo = _dateTo.toJulianDay();
    _editFrom = _editDateFrom.toJulianDay();
    _editTo = _editDateTo.toJulianDay();
    ++_serial;
    // One rebuild of the mapping: removing and inserting the changed rows range by range costs a
    // pass over the whole list per range.
    invalidate();
}

bool MyFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (_fast && _fast == sourceModel() && !sourceParent.isValid())
        return acceptsFast(sourceRow);
    return acceptsGeneric(sourceRow, sourceParent);
}

void MyFilterModel::ValueMatches::update(const DocumentsModel& model, int column, const QString& text,
                                         quint64 filterSerial) {
    if (valid && generation == model.generation() && serial == filterSerial)
        return;
    const QVector<QString>& values = model.values(column);
    // Typing on: a text holding the previous one can only match where that did. Without surrogates
    // a match is one of single UTF-16 units, so this holds for the toolkit's matching too.
    const bool narrows = valid && generation == model.generation() && !part.isEmpty() && text.contains(part) &&
                         std::none_of(text.begin(), text.end(), [](QChar c) { return c.isSurrogate(); });
    if (!narrows)
        matches.fill(true, values.size());
    for (int i = 0; i < values.size(); ++i)
        if (matches[i])
            matches[i] = TextMatch::contains(values[i], text);
    part = text;
    generation = model.generation();
    serial = filterSerial;
    valid = true;
}

bool MyFilterModel::acceptsFast(int row) const {
    const DocumentsModel& m = *_fast;
    if (row < 0 || row >= m.rowCount())
        return false;
    if (!_fio.isEmpty()) {
        _fioMatches.update(m, fioColumn, _fio, _serial);
        if (!_fioMatches.matches[m.valueIndex(row, fioColumn)])
            return false;
    }
    if (!_qual.isEmpty()) {
        _qualMatches.update(m, qualColumn, _qual, _serial);
        if (!_qualMatches.matches[m.valueIndex(row, qualColumn)])
            return false;
    }
    if (bothValid(_dateFrom, _dateTo) && !inRange(m.day(row, issueColumn), _issueFrom, _issueTo))
        return false;
    if (bothValid(_editDateFrom, _editDateTo) && !inRange(m.day(row, editColumn), _editFrom, _editTo))
        return false;
    return true;
}

bool MyFilterModel::acceptsGeneric(int row, const QModelIndex& parent) const {
    const QAbstractItemModel* m = sourceModel();
    const auto cell = [&](int column) { return m->data(m->index(row, column, parent)); };
    if (!_fio.isEmpty() && !TextMatch::contains(cell(fioColumn).toString(), _fio))
        return false;
    if (!_qual.isEmpty() && !TextMatch::contains(cell(qualColumn).toString(), _qual))
        return false;
    if (bothValid(_dateFrom, _dateTo) && !inRange(dayOf(cell(issueColumn)), _issueFrom, _issueTo))
        return false;
    if (bothValid(_editDateFrom, _editDateTo) && !inRange(dayOf(cell(editColumn)), _editFrom, _editTo))
        return false;
    return true;
}

// The default comparison of the values DocumentsModel::data() gives: ids as numbers, texts (dates
// included) by their rank under QString::compare with the proxy's case sensitivity, or
// locale-aware when asked.
bool MyFilterModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const DocumentsModel* m = _fast;
    if (!m || left.model() != m || right.model() != m || left.column() != right.column() ||
        (sortRole() != Qt::DisplayRole && sortRole() != Qt::EditRole))
        return QSortFilterProxyModel::lessThan(left, right);
    const int column = left.column();
    if (column == DocumentsModel::Id)
        return m->id(left.row()) < m->id(right.row());
    if (isSortLocaleAware())
        return m->text(left.row(), column).localeAwareCompare(m->text(right.row(), column)) < 0;
    const QVector<int>& ranks = m->valueRanks(column, sortCaseSensitivity());
    return ranks[m->valueIndex(left.row(), column)] < ranks[m->valueIndex(right.row(), column)];
}
