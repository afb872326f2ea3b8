#include "documentsmodel.h"
#include "valuetext.h"

#include "documentstore.h"
#include "mzlog.h"

#include <QDate>
#include <algorithm>
#include <deque>
#include <numeric>
#include <string>
#include <string_view>
#include <unordered_map>

namespace {
static_assert(DocumentsModel::ColumnCount == DocumentStore::listColumnCount, "a model column per list column");

// QString::compare(a, b, Qt::CaseSensitive) < 0, inline: UTF-16 code units, then length.
bool codeUnitLess(const QString& a, const QString& b) {
    const int n = std::min(a.size(), b.size());
    const QChar* pa = a.constData();
    const QChar* pb = b.constData();
    for (int i = 0; i < n; ++i)
        if (pa[i] != pb[i])
            return pa[i].unicode() < pb[i].unicode();
    return a.size() < b.size();
}

// Columns whose texts repeat from row to row; the others (numbers, times of change) are mostly
// unique, and looking them up would cost more than it saves.
bool interned(int column) {
    return column == DocumentsModel::Fio || column == DocumentsModel::Qual || column == DocumentsModel::IssueDate;
}

QString textOf(const char* utf8, int size) {
    return utf8 ? QString::fromUtf8(utf8, size) : QString();
}

// The distinct texts of a column, found by their UTF-8 bytes, so that a repeated text costs no
// conversion.
class Interner {
public:
    int indexOf(const char* utf8, int size, QVector<QString>* values) {
        const std::string_view key(utf8 ? utf8 : "", size_t(size));
        const auto found = _index.find(key);
        if (found != _index.end())
            return found->second;
        _keys.emplace_back(key);
        _index.emplace(_keys.back(), values->size());
        values->append(textOf(utf8, size));
        return values->size() - 1;
    }

private:
    std::deque<std::string> _keys; // elements never move, so the views into them stay valid
    std::unordered_map<std::string_view, int> _index;
};

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
    _ids.clear();
    for (TextColumn& column : _texts)
        column = TextColumn();
}

bool DocumentsModel::reload() {
    beginResetModel();
    clear();
    ++_generation;
    const QString error = load();
    if (!error.isEmpty()) {
        MZ_LOG() << "cannot read the documents" << error;
        clear();
    }
    endResetModel();
    return error.isEmpty();
}

// The texts come as SQLite's UTF-8, so that a repeated text costs no conversion.
QString DocumentsModel::load() {
    Interner interners[ColumnCount - Fio];
    QString error;
    DocumentStore::readListRows(
        [this, &interners](qint64 id, const DocumentStore::ListText* texts) {
            _ids.append(id);
            for (int c = Fio; c < ColumnCount; ++c) {
                TextColumn& column = _texts[c - Fio];
                const DocumentStore::ListText& text = texts[c - Fio];
                const int known = column.values.size();
                const int index = interned(c) ? interners[c - Fio].indexOf(text.utf8, text.size, &column.values)
                                              : (column.values.append(textOf(text.utf8, text.size)), known);
                if (column.values.size() > known && (c == IssueDate || c == EditDate))
                    column.days.append(dayNumber(column.values.constLast()));
                column.rows.append(index);
            }
        },
        &error);
    return error;
}

const QVector<int>& DocumentsModel::valueRanks(int column, Qt::CaseSensitivity cs) const {
    const TextColumn& c = _texts[column - Fio];
    if (c.ranks.size() == c.values.size() && c.ranked == cs)
        return c.ranks;
    const QVector<QString>& values = c.values;
    QVector<int> order(values.size());
    std::iota(order.begin(), order.end(), 0);
    if (cs == Qt::CaseSensitive)
        std::sort(order.begin(), order.end(), [&values](int a, int b) { return codeUnitLess(values[a], values[b]); });
    else
        std::sort(order.begin(), order.end(),
                  [&values](int a, int b) { return QString::compare(values[a], values[b], Qt::CaseInsensitive) < 0; });
    c.ranks.resize(values.size());
    int rank = 0;
    for (int i = 0; i < order.size(); ++i) {
        if (i > 0 && QString::compare(values[order[i - 1]], values[order[i]], cs) != 0)
            ++rank;
        c.ranks[order[i]] = rank;
    }
    c.ranked = cs;
    return c.ranks;
}

int DocumentsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : _ids.size();
}

int DocumentsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

// Without the base's virtual row and column counts: the proxy asks for an index per comparison.
QModelIndex DocumentsModel::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || row < 0 || row >= _ids.size() || column < 0 || column >= ColumnCount)
        return QModelIndex();
    return createIndex(row, column);
}

QVariant DocumentsModel::data(const QModelIndex& index, int role) const {
    if ((role != Qt::DisplayRole && role != Qt::EditRole) || index.model() != this)
        return QVariant();
    const int row = index.row();
    if (row < 0 || row >= _ids.size())
        return QVariant();
    const int column = index.column();
    if (column == Id)
        return QVariant(_ids[row]);
    if (role == Qt::DisplayRole && (column == IssueDate || column == EditDate))
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
