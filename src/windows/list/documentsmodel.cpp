#include "documentsmodel.h"
#include "valuetext.h"

#include "database.h"
#include "documentcount.h"
#include "documentstore.h"
#include "mzlog.h"

#include <QDate>
#include <QHash>
#include <algorithm>
#include <future>
#include <limits>
#include <numeric>
#include <utility>

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

// -1, 0 or 1 as QString::compare (or localeAwareCompare) orders two texts of `pool`; the
// code-unit order without copies.
int compareTexts(const TextPool& pool, int a, int b, Qt::CaseSensitivity cs, bool localeAware) {
    if (!localeAware && cs == Qt::CaseSensitive)
        return pool.less(a, b) ? -1 : pool.less(b, a) ? 1 : 0;
    TextPool::Scratch sa, sb;
    const QStringView ta = pool.view(a, &sa);
    const QStringView tb = pool.view(b, &sb);
    if (localeAware)
        return QString::localeAwareCompare(ta.toString(), tb.toString());
    return ta.compare(tb, cs);
}

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

// What reading in pages needs between two pages: each column's repeated texts, and where the
// next page starts.
struct DocumentsModel::Pages {
    Interner interners[ColumnCount - Fio];
    qint64 below = std::numeric_limits<qint64>::max();
    int unfilled = 0; // records [0, unfilled) wait for their page
};

namespace {
int rowsPerPage = 10000;
} // namespace

DocumentsModel::DocumentsModel(QObject* parent) : QAbstractTableModel(parent) {
    for (int c = 0; c < ColumnCount; ++c)
        _headers[c] = QLatin1String(DocumentStore::listColumns[c]);
    _pageTimer.setSingleShot(true);
    connect(&_pageTimer, &QTimer::timeout, this, &DocumentsModel::loadPage);
}

DocumentsModel::~DocumentsModel() = default;

int DocumentsModel::pageRows() {
    return rowsPerPage;
}

void DocumentsModel::setPageRows(int rows) {
    rowsPerPage = std::max(1, rows);
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
    _pageTimer.stop();
    _pages.reset();
    std::vector<qint64>().swap(_ids);
    std::vector<int>().swap(_order);
    std::vector<char>().swap(_gone);
    _reread = 0;
    for (TextColumn& column : _texts)
        column = TextColumn();
}

bool DocumentsModel::reload() {
    beginResetModel();
    clear();
    ++_generation;
    // From here on the program's writes are followed; what came before is read now.
    _changes.take();
    QString error;
    const bool newestFirst = _sort.column == Id && _sort.order == Qt::DescendingOrder;
    const bool counted = newestFirst && !std::exchange(_readWhole, false);
    _writesAtCount = writesSoFar();
    const qint64 count = counted ? DocumentCount::read(&error) : 0;
    const bool paged = count > rowsPerPage && count < std::numeric_limits<int>::max();
    if (error.isEmpty())
        error = paged ? startPages(int(count)) : load();
    // Every row read at once: a count that differs is wrong (pages check their own at the end).
    if (error.isEmpty() && counted && !paged && qint64(_ids.size()) != count)
        correctCount();
    if (error.isEmpty())
        _order = sortedRecords(_sort);
    else {
        MZ_LOG() << "cannot read the documents" << error;
        clear();
    }
    endResetModel();
    if (_pages)
        _pageTimer.start(0);
    return error.isEmpty();
}

QString DocumentsModel::startPages(int count) {
    _pages = std::make_unique<Pages>();
    _pages->unfilled = count;
    _ids.assign(size_t(count), 0);
    for (TextColumn& column : _texts)
        column.rows.assign(size_t(count), -1);
    bool last = false;
    const QString error = readPage(&last);
    if (error.isEmpty() && last)
        endPages();
    return error;
}

QString DocumentsModel::readPage(bool* last, bool* overflow) {
    Pages& pages = *_pages;
    int read = 0;
    bool room = true;
    QString error;
    const bool ok = DocumentStore::readListPage(
        pages.below, rowsPerPage,
        [&](qint64 id, const DocumentStore::ListText* texts) {
            // More documents than counted (written meanwhile below the newest): read them all again.
            if (!room || pages.unfilled == 0) {
                room = false;
                return;
            }
            const int record = --pages.unfilled;
            _ids[size_t(record)] = id;
            room = keep(record, texts, &pages);
            pages.below = id;
            ++read;
        },
        &error);
    *last = read < rowsPerPage;
    if (!ok)
        return error.isEmpty() ? QStringLiteral("unknown error") : error;
    if (overflow)
        *overflow = !room && pages.unfilled == 0;
    return room ? QString() : QStringLiteral("the list changed while it was read");
}

bool DocumentsModel::keep(int record, const DocumentStore::ListText* texts, Pages* interning) {
    bool full = false;
    for (int c = Fio; c < ColumnCount; ++c) {
        TextColumn& column = _texts[size_t(c - Fio)];
        const DocumentStore::ListText& text = texts[c - Fio];
        const int known = column.pool.size();
        const int index = interning && interned(c)
                              ? interning->interners[c - Fio].indexOf(&column.pool, text.utf8, text.size, &full)
                              : column.pool.appendUtf8(text.utf8, text.size, &full);
        if (full)
            return false;
        if (size_t(record) == column.rows.size())
            column.rows.push_back(index);
        else
            column.rows[size_t(record)] = index;
        if (isDate(c) && column.pool.size() > known)
            column.days.push_back(dayNumber(column.pool.text(index)));
    }
    return true;
}

void DocumentsModel::loadPage() {
    if (!_pages)
        return;
    const int rows = int(_ids.size());
    const int before = _pages->unfilled;
    bool last = false;
    bool overflow = false;
    const QString error = readPage(&last, &overflow);
    if (!error.isEmpty()) {
        MZ_LOG() << "cannot read a page of the documents" << error << "- reading them all";
        _pages.reset();
        // More rows than counted: on a file only a wrong kept number does that. One that cannot be
        // corrected is not paged by again.
        _readWhole = overflow && !correctCount();
        reload();
        return;
    }
    // Newest first: the records just read are the rows below those shown.
    if (before > _pages->unfilled)
        emit dataChanged(index(rows - before, 0), index(rows - 1 - _pages->unfilled, ColumnCount - 1));
    if (last)
        endPages();
    else
        _pageTimer.start(0);
}

// Fewer or more rows than counted: documents deleted meanwhile, or a kept number gone wrong (a
// program that wrote around the file's triggers). Counting again is right in either case.
bool DocumentsModel::correctCount() {
    QString notCorrected;
    if (DocumentCount::recount(&notCorrected))
        return true;
    MZ_LOG() << "the number of documents is not corrected:" << notCorrected;
    return false;
}

qint64 DocumentsModel::writesSoFar() {
    return Database::hasInstance() ? Database::instance()->totalChanges() : -1;
}

void DocumentsModel::endPages() {
    const int unfilled = _pages->unfilled;
    // The program's own deletions meanwhile explain missing rows; counting a million again would not.
    if (unfilled > 0 && writesSoFar() == _writesAtCount)
        correctCount();
    const int rows = int(_order.size());
    const bool shown = rows > 0;
    if (unfilled > 0 && shown)
        beginRemoveRows(QModelIndex(), rows - unfilled, rows - 1);
    if (unfilled > 0) {
        _ids.erase(_ids.begin(), _ids.begin() + unfilled);
        for (TextColumn& column : _texts)
            column.rows.erase(column.rows.begin(), column.rows.begin() + unfilled);
        if (shown) {
            _order.resize(_ids.size());
            std::iota(_order.rbegin(), _order.rend(), 0);
        }
    }
    _pages.reset();
    for (TextColumn& column : _texts)
        column.pool.squeeze();
    if (unfilled > 0 && shown)
        endRemoveRows();
    if (shown)
        emit loadingFinished();
}

void DocumentsModel::finishLoading() {
    _pageTimer.stop();
    while (_pages)
        loadPage();
    _pageTimer.stop();
}

void DocumentsModel::fetchMore(const QModelIndex& parent) {
    if (!parent.isValid())
        finishLoading();
}

bool DocumentsModel::refresh() {
    finishLoading();
    const ListChanges::Changes changes = _changes.take();
    // Many changes, or many old texts kept: one read of everything costs less.
    const size_t limit = _ids.size() / 8 + 1000;
    if (changes.all || size_t(changes.ids.size()) > limit || _reread > _ids.size() / 4 + 1000)
        return reload();
    if (changes.ids.isEmpty())
        return true;
    beginResetModel();
    ++_generation;
    bool placed = true;
    QString error = apply(changes.ids, &placed);
    endResetModel();
    if (!error.isEmpty())
        MZ_LOG() << "cannot read the changed documents" << error;
    return error.isEmpty() && placed ? true : reload();
}

void DocumentsModel::insertRecords(const std::vector<qint64>& ids) {
    if (ids.empty())
        return;
    const size_t count = _ids.size() + ids.size();
    // shift[r]: the new record of old record r.
    std::vector<int> shift(_ids.size());
    std::vector<qint64> merged;
    merged.reserve(count);
    std::vector<char> gone;
    gone.reserve(count);
    size_t next = 0;
    for (size_t r = 0; r < _ids.size(); ++r) {
        for (; next < ids.size() && ids[next] < _ids[r]; ++next) {
            merged.push_back(ids[next]);
            gone.push_back(1);
        }
        shift[r] = int(merged.size());
        merged.push_back(_ids[r]);
        gone.push_back(_gone.empty() ? 0 : _gone[r]);
    }
    for (; next < ids.size(); ++next) {
        merged.push_back(ids[next]);
        gone.push_back(1);
    }
    for (TextColumn& column : _texts) {
        std::vector<int> rows(count, -1);
        for (size_t r = 0; r < column.rows.size(); ++r)
            rows[size_t(shift[r])] = column.rows[r];
        column.rows.swap(rows);
    }
    for (int& r : _order)
        r = shift[size_t(r)];
    _ids.swap(merged);
    _gone.swap(gone);
}

QString DocumentsModel::apply(const QVector<qint64>& ids, bool* placed) {
    // A new document below the last id (on a server, a transaction that committed after a later
    // one): its record is made in the order of the ids first, and counts as gone till it is read.
    std::vector<qint64> below;
    for (qint64 id : ids)
        if (!_ids.empty() && id < _ids.back() && !std::binary_search(_ids.cbegin(), _ids.cend(), id))
            below.push_back(id);
    insertRecords(below);
    _reread += below.size();
    std::vector<char> moved(_ids.size(), 0);
    std::vector<qint64> read;
    read.reserve(size_t(ids.size()));
    QString error;
    const bool ok = DocumentStore::readListRows(
        [&](qint64 id, const DocumentStore::ListText* texts) {
            if (!*placed)
                return;
            const auto at = std::lower_bound(_ids.cbegin(), _ids.cend(), id);
            int record = int(at - _ids.cbegin());
            if (at == _ids.cend()) {
                _ids.push_back(id);
                moved.push_back(1);
                if (!_gone.empty())
                    _gone.push_back(0);
            } else if (*at != id) {
                *placed = false;
                return;
            }
            // A pool that is full: everything is read again, and says so.
            if (!keep(record, texts, nullptr)) {
                *placed = false;
                return;
            }
            moved[size_t(record)] = 1;
            if (!_gone.empty())
                _gone[size_t(record)] = 0;
            read.push_back(id);
            ++_reread;
        },
        &error, &ids);
    if (!ok || !*placed)
        return error;
    // Asked for and not read: deleted, or no longer listed.
    for (qint64 id : ids) {
        if (std::binary_search(read.cbegin(), read.cend(), id))
            continue;
        const auto at = std::lower_bound(_ids.cbegin(), _ids.cend(), id);
        if (at == _ids.cend() || *at != id)
            continue;
        if (_gone.empty())
            _gone.assign(_ids.size(), 0);
        _gone[size_t(at - _ids.cbegin())] = 1;
        moved[size_t(at - _ids.cbegin())] = 1;
    }
    for (TextColumn& column : _texts)
        column.rankedAs = -1;
    _order = mergedOrder(moved);
    return QString();
}

QString DocumentsModel::load() {
    Pages interning;
    bool room = true;
    QString error;
    const bool read = DocumentStore::readListRows(
        [this, &interning, &room](qint64 id, const DocumentStore::ListText* texts) {
            if (!room)
                return;
            _ids.push_back(id);
            room = keep(int(_ids.size()) - 1, texts, &interning);
        },
        &error);
    if (!room)
        return QStringLiteral("the list's texts exceed 4 GB");
    if (!read)
        return error.isEmpty() ? QStringLiteral("unknown error") : error;
    if (!std::is_sorted(_ids.cbegin(), _ids.cend()))
        return QStringLiteral("the rows did not come in the order of their ids");
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
    const auto compare = [&pool, cs, localeAware](int a, int b) { return compareTexts(pool, a, b, cs, localeAware); };
    // The code-unit comparison needs no copies: it is given straight to the sort.
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

int DocumentsModel::compareValues(int c, int a, int b, const Sort& sort) const {
    if (c == Id)
        return (_ids[size_t(a)] > _ids[size_t(b)]) - (_ids[size_t(a)] < _ids[size_t(b)]);
    const TextColumn& column = _texts[size_t(c - Fio)];
    return compareTexts(column.pool, column.rows[size_t(a)], column.rows[size_t(b)], sort.cs, sort.localeAware);
}

std::vector<int> DocumentsModel::liveRecords() const {
    std::vector<int> records;
    records.reserve(_ids.size());
    for (int r = 0; r < int(_ids.size()); ++r)
        if (_gone.empty() || !_gone[size_t(r)])
            records.push_back(r);
    return records;
}

// The records in the order of `sort`, as the toolkit's proxy orders its source rows: a stable
// sort, ascending or descending, of the records as read.
std::vector<int> DocumentsModel::sortedRecords(const Sort& sort) {
    std::vector<int> records = liveRecords();
    if (sort.column == Id) {
        // The records stand in the order of their ids: the newest first is the records backwards.
        if (sort.order == Qt::DescendingOrder)
            std::reverse(records.begin(), records.end());
        return records;
    }
    if (sort.column < Fio || sort.column >= ColumnCount)
        return records;
    // Counting sort by rank: a pass over the records, equal ranks in the order read.
    TextColumn& column = _texts[size_t(sort.column - Fio)];
    rank(column, sort.cs, sort.localeAware);
    const auto slotOf = [&column, &sort](int r) {
        const int k = column.ranks[size_t(column.rows[size_t(r)])];
        return size_t(sort.order == Qt::AscendingOrder ? k : column.rankCount - 1 - k);
    };
    std::vector<int> starts(size_t(column.rankCount) + 1, 0);
    for (int r : records)
        ++starts[slotOf(r) + 1];
    std::partial_sum(starts.begin(), starts.end(), starts.begin());
    std::vector<int> sorted(records.size());
    for (int r : records)
        sorted[size_t(starts[slotOf(r)]++)] = r;
    return sorted;
}

std::vector<int> DocumentsModel::mergedOrder(const std::vector<char>& moved) {
    std::vector<int> kept;
    kept.reserve(_order.size());
    for (int r : _order)
        if (!moved[size_t(r)])
            kept.push_back(r);
    std::vector<int> fresh;
    for (int r = 0; r < int(moved.size()); ++r)
        if (moved[size_t(r)] && (_gone.empty() || !_gone[size_t(r)]))
            fresh.push_back(r);
    const Sort sort = _sort;
    const auto before = [this, &sort](int a, int b) {
        if (sort.column == unsorted)
            return a < b;
        const int c = compareValues(sort.column, a, b, sort);
        if (c != 0)
            return sort.order == Qt::AscendingOrder ? c < 0 : c > 0;
        // Equal values in the order read; ids are never equal.
        return sort.column == Id ? false : a < b;
    };
    std::sort(fresh.begin(), fresh.end(), before);
    std::vector<int> order(kept.size() + fresh.size());
    std::merge(kept.cbegin(), kept.cend(), fresh.cbegin(), fresh.cend(), order.begin(), before);
    return order;
}

void DocumentsModel::sortRows(int column, Qt::SortOrder order, Qt::CaseSensitivity cs, bool localeAware) {
    // The pages come newest first; any other order needs them all.
    if (column != Id || order != Qt::DescendingOrder)
        finishLoading();
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
    if (valueIndex(row, Fio) < 0)
        return QVariant(); // its page has not come yet
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
