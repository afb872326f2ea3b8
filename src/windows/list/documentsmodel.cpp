#include "documentsmodel.h"
#include "valuetext.h"

#include "documentstore.h"
#include "mzlog.h"

#include <QDate>
#include <QHash>
#include <algorithm>
#include <future>
#include <numeric>

namespace {
static_assert(DocumentsModel::ColumnCount == DocumentStore::listColumnCount, "a model column per list column");

// Columns whose texts repeat from row to row; the numbers are each a document's own, and looking
// them up would cost more than it saves.
bool interned(int column) {
    return column != DocumentsModel::AttNumber && column != DocumentsModel::RegNumber;
}

bool isDate(int column) {
    return column == DocumentsModel::IssueDate || column == DocumentsModel::EditDate;
}

// The distinct texts of a column, found by their UTF-8 bytes, so that a repeated text costs
// neither a conversion nor a copy: the table holds indexes into the column's pool.
class Interner {
public:
    // The value's index in `pool`, -1 when the pool is full.
    int indexOf(TextPool* pool, const char* utf8, int size, bool* full) {
        if (!utf8) {
            if (_null < 0)
                _null = add(pool, nullptr, 0, 0, full);
            return _null;
        }
        if (_slots.size() < 2 * (_hashes.size() + 1))
            grow();
        const uint hash = qHashBits(utf8, size_t(size));
        const size_t mask = _slots.size() - 1;
        size_t slot = hash & mask;
        for (; _slots[slot] >= 0; slot = (slot + 1) & mask) {
            const int known = _slots[slot];
            if (_hashes[size_t(known)] == hash && pool->equalsUtf8(known, utf8, size))
                return known;
        }
        const int index = add(pool, utf8, size, hash, full);
        if (index >= 0)
            _slots[slot] = index;
        return index;
    }

private:
    int add(TextPool* pool, const char* utf8, int size, uint hash, bool* full) {
        const int index = pool->appendUtf8(utf8, size, full);
        if (index >= 0)
            _hashes.push_back(hash);
        return index;
    }
    void grow() {
        std::vector<int> table(std::max<size_t>(64, _slots.size() * 2), -1);
        const size_t mask = table.size() - 1;
        for (int index : _slots) {
            if (index < 0)
                continue;
            size_t slot = _hashes[size_t(index)] & mask;
            while (table[slot] >= 0)
                slot = (slot + 1) & mask;
            table[slot] = index;
        }
        _slots.swap(table);
    }

    std::vector<int> _slots;   // pool indexes, -1 for an empty slot
    std::vector<uint> _hashes; // of each pool value
    int _null = -1;
};

// Sorts `values` by `less` on both cores when there are many.
template <typename Less> void sortOnTwoThreads(std::vector<int>& values, Less less) {
    if (values.size() < 50000) {
        std::sort(values.begin(), values.end(), less);
        return;
    }
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    auto firstHalf = std::async(std::launch::async, [&] { std::sort(values.begin(), middle, less); });
    std::sort(middle, values.end(), less);
    firstHalf.get();
    std::inplace_merge(values.begin(), middle, values.end(), less);
}

using ValueText::digits;
} // namespace

DocumentsModel::DocumentsModel(QObject* parent) : QAbstractTableModel(parent) {
    for (int c = 0; c < ColumnCount; ++c)
        _headers[c] = QLatin1String(DocumentStore::listColumns[c]);
}

int DocumentsModel::dayNumber(const QString& text) {
    return ValueText::dayNumber(text);
}

QString DocumentsModel::dateText(const QString& stored, bool withTime) {
    const int day = dayNumber(stored);
    if (day == noDay)
        return stored;
    const QString date = QDate::fromJulianDay(day).toString(QStringLiteral("dd.MM.yyyy"));
    if (!withTime || stored.size() == 10)
        return date;
    // "yyyy-MM-dd hh:mm", seconds and fractions after it or not.
    const QChar* c = stored.constData();
    const int hour = stored.size() >= 16 && c[13] == QLatin1Char(':') ? digits(c + 11, 2) : -1;
    const int minute = hour >= 0 ? digits(c + 14, 2) : -1;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || (stored.size() > 16 && c[16] != QLatin1Char(':')))
        return stored;
    return date + QLatin1Char(' ') + stored.mid(11, 5);
}

void DocumentsModel::clear() {
    std::vector<qint64>().swap(_ids);
    std::vector<int>().swap(_order);
    for (TextColumn& column : _texts)
        column = TextColumn();
}

bool DocumentsModel::reload() {
    beginResetModel();
    clear();
    ++_generation;
    QString error = load();
    if (error.isEmpty())
        _order = sortedRecords(_sort);
    else {
        MZ_LOG() << "cannot read the documents" << error;
        clear();
    }
    endResetModel();
    return error.isEmpty();
}

QString DocumentsModel::load() {
    Interner interners[ColumnCount - Fio];
    bool full = false;
    QString error;
    const bool read = DocumentStore::readListRows(
        [this, &interners, &full](qint64 id, const DocumentStore::ListText* texts) {
            if (full)
                return;
            _ids.push_back(id);
            for (int c = Fio; c < ColumnCount; ++c) {
                TextColumn& column = _texts[size_t(c - Fio)];
                const DocumentStore::ListText& text = texts[c - Fio];
                const int known = column.pool.size();
                const int index = interned(c) ? interners[c - Fio].indexOf(&column.pool, text.utf8, text.size, &full)
                                              : column.pool.appendUtf8(text.utf8, text.size, &full);
                if (interned(c))
                    column.rows.push_back(index);
                if (isDate(c) && column.pool.size() > known)
                    column.days.push_back(dayNumber(column.pool.text(index)));
            }
        },
        &error);
    if (full)
        return QStringLiteral("the list's texts exceed 4 GB");
    if (!read)
        return error.isEmpty() ? QStringLiteral("unknown error") : error;
    for (TextColumn& column : _texts) {
        column.pool.squeeze();
        column.rows.shrink_to_fit();
        column.days.shrink_to_fit();
    }
    _ids.shrink_to_fit();
    return QString();
}

void DocumentsModel::rank(TextColumn& column, Qt::CaseSensitivity cs, bool localeAware) {
    const int as = localeAware ? 2 : int(cs);
    if (column.rankedAs == as && column.ranks.size() == size_t(column.pool.size()))
        return;
    const TextPool& pool = column.pool;
    std::vector<int> order(size_t(pool.size()));
    std::iota(order.begin(), order.end(), 0);
    // The fast comparison is the code-unit one; the others read the texts as the toolkit does.
    const auto compare = [&pool, cs, localeAware](int a, int b) {
        TextPool::Scratch sa, sb;
        const QStringView va = pool.view(a, &sa);
        const QStringView vb = pool.view(b, &sb);
        if (localeAware)
            return QString::localeAwareCompare(va.toString(), vb.toString());
        return va.compare(vb, cs);
    };
    if (!localeAware && cs == Qt::CaseSensitive)
        sortOnTwoThreads(order, [&pool](int a, int b) { return pool.less(a, b); });
    else
        sortOnTwoThreads(order, [&compare](int a, int b) { return compare(a, b) < 0; });
    column.ranks.assign(order.size(), 0);
    int rank = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && compare(order[i - 1], order[i]) != 0)
            ++rank;
        column.ranks[size_t(order[i])] = rank;
    }
    column.rankCount = order.empty() ? 0 : rank + 1;
    column.rankedAs = as;
}

// The records in the order of `sort`, as the toolkit's proxy orders its source rows: a stable
// sort, ascending or descending, of the records as read.
std::vector<int> DocumentsModel::sortedRecords(const Sort& sort) {
    const int n = int(_ids.size());
    std::vector<int> records(static_cast<size_t>(n));
    std::iota(records.begin(), records.end(), 0);
    if (sort.column == Id) {
        const bool up = sort.order == Qt::AscendingOrder;
        // The file gives its rows by id: the newest first is then the rows read backwards.
        if (std::is_sorted(_ids.cbegin(), _ids.cend()) &&
            std::adjacent_find(_ids.cbegin(), _ids.cend()) == _ids.cend()) {
            if (!up)
                std::reverse(records.begin(), records.end());
            return records;
        }
        std::stable_sort(records.begin(), records.end(), [this, up](int a, int b) {
            return up ? _ids[size_t(a)] < _ids[size_t(b)] : _ids[size_t(b)] < _ids[size_t(a)];
        });
        return records;
    }
    if (sort.column < Fio || sort.column >= ColumnCount)
        return records;
    // Counting sort by rank: a pass over the records, equal ranks in the order read.
    TextColumn& column = _texts[size_t(sort.column - Fio)];
    rank(column, sort.cs, sort.localeAware);
    const auto rankOf = [&column](int r) {
        return column.ranks[size_t(column.rows.empty() ? r : column.rows[size_t(r)])];
    };
    std::vector<int> starts(size_t(column.rankCount) + 1, 0);
    for (int r = 0; r < n; ++r) {
        const int k = rankOf(r);
        ++starts[size_t(sort.order == Qt::AscendingOrder ? k : column.rankCount - 1 - k) + 1];
    }
    std::partial_sum(starts.begin(), starts.end(), starts.begin());
    for (int r = 0; r < n; ++r) {
        const int k = rankOf(r);
        records[size_t(starts[size_t(sort.order == Qt::AscendingOrder ? k : column.rankCount - 1 - k)]++)] = r;
    }
    return records;
}

void DocumentsModel::sortRows(int column, Qt::SortOrder order, Qt::CaseSensitivity cs, bool localeAware) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    _sort = {column < Id || column >= ColumnCount ? unsorted : column, order, cs, localeAware};
    std::vector<int> sorted = sortedRecords(_sort);
    // The views' marks (selection, current row) follow their records.
    const QModelIndexList marks = persistentIndexList();
    if (!marks.isEmpty()) {
        std::vector<int> rowOf(sorted.size());
        for (size_t row = 0; row < sorted.size(); ++row)
            rowOf[size_t(sorted[row])] = int(row);
        QModelIndexList moved;
        moved.reserve(marks.size());
        for (const QModelIndex& mark : marks)
            moved << index(rowOf[size_t(record(mark.row()))], mark.column());
        changePersistentIndexList(marks, moved);
    }
    _order.swap(sorted);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int DocumentsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(_order.size());
}

int DocumentsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

// Without the base's virtual row and column counts: the proxy asks for an index per row.
QModelIndex DocumentsModel::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || row < 0 || size_t(row) >= _order.size() || column < 0 || column >= ColumnCount)
        return QModelIndex();
    return createIndex(row, column);
}

QVariant DocumentsModel::data(const QModelIndex& index, int role) const {
    if ((role != Qt::DisplayRole && role != Qt::EditRole) || index.model() != this)
        return QVariant();
    const int row = index.row();
    if (row < 0 || size_t(row) >= _order.size())
        return QVariant();
    const int column = index.column();
    if (column == Id)
        return QVariant(id(row));
    if (role == Qt::DisplayRole && isDate(column))
        return dateText(text(row, column), column == EditDate);
    return text(row, column);
}

QVariant DocumentsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && (role == Qt::DisplayRole || role == Qt::EditRole) && section >= 0 &&
        section < ColumnCount)
        return _headers[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool DocumentsModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role) {
    if (orientation != Qt::Horizontal || (role != Qt::DisplayRole && role != Qt::EditRole) || section < 0 ||
        section >= ColumnCount)
        return false;
    _headers[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

Qt::ItemFlags DocumentsModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

size_t DocumentsModel::bytes() const {
    size_t total = _ids.capacity() * sizeof(qint64) + _order.capacity() * sizeof(int);
    for (const TextColumn& c : _texts)
        total += c.pool.bytes() + (c.rows.capacity() + c.days.capacity() + c.ranks.capacity()) * sizeof(int);
    return total;
}
