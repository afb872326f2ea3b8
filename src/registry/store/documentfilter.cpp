#include "documentfilter.h"

#include "database.h"
#include "mzlog.h"
#include "sqldialect.h"
#include "storequery.h"
#include "textmatch.h"
#include "valuetext.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVector>
#include <algorithm>
#include <functional>
#include <memory>
#include <sqlite3.h>

namespace {
// The view's column of each list column.
const char* const viewColumns[DocumentOrder::ColumnCount] = {"profId",    "fio",       "qual",    "attNumber",
                                                             "regNumber", "issueDate", "editDate"};

// The text as an SQL string literal. The condition is returned as text, so nothing can be bound:
// quotes are doubled, and NUL characters, which would end the statement, are spliced in.
QString sqlText(const QString& text) {
    QStringList pieces = text.split(QChar(0));
    for (QString& piece : pieces)
        piece = QLatin1Char('\'') + QString(piece).replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
    return pieces.join(QLatin1String("||char(0)||"));
}

// " expression contains part " with the list's own case-insensitive match.
QString containsCondition(const QString& expression, const QString& part) {
    // One-pass arg(): a "%1" in the user's text stays as it is.
    // Compared with 1: the server takes no integer as a condition.
    return QStringLiteral(" %1(%2, %3) = 1 ")
        .arg(QLatin1String(TextMatch::containsFunction), expression, sqlText(part));
}

// " column's day lies in [from, to] ". The day is read from the first ten characters, as the list
// reads it, so a time zone suffix does not shift it.
QString dayRangeCondition(const QString& column, const QDate& from, const QDate& to) {
    const QString format = QStringLiteral("yyyy-MM-dd");
    return QStringLiteral(" %1 BETWEEN '%2' AND '%3' ")
        .arg(SqlDialect::dayOf(QSqlDatabase::database(), column), from.toString(format), to.toString(format));
}

// As the list reads a cell: SQLite's own text of the value, a NULL as a null string.
QString cellText(sqlite3_stmt* statement, int column) {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return bytes ? QString::fromUtf8(bytes, sqlite3_column_bytes(statement, column)) : QString();
}

struct ShownRow {
    qint64 id;
    QString key; // the sort column's text, unless the list sorts by id
};

// Stable, as the list's proxy sorts, so that equal values keep the order of the rows.
void sortRows(QVector<ShownRow>& rows, const DocumentOrder& order) {
    std::function<bool(const ShownRow&, const ShownRow&)> less;
    if (order.column == DocumentOrder::Id)
        less = [](const ShownRow& a, const ShownRow& b) { return a.id < b.id; };
    else if (order.localeAware)
        less = [](const ShownRow& a, const ShownRow& b) { return a.key.localeAwareCompare(b.key) < 0; };
    else
        less = [cs = order.caseSensitivity](const ShownRow& a, const ShownRow& b) {
            return QString::compare(a.key, b.key, cs) < 0;
        };
    if (order.order == Qt::AscendingOrder)
        std::stable_sort(rows.begin(), rows.end(), less);
    else
        std::stable_sort(rows.begin(), rows.end(),
                         [&less](const ShownRow& a, const ShownRow& b) { return less(b, a); });
}
} // namespace

DocumentFilter DocumentFilter::fromList(const FilterListType& filters) {
    DocumentFilter filter;
    for (const auto& entry : filters) {
        const QVariant& value = entry.second;
        if (!value.isValid())
            continue;
        const QString& key = entry.first;
        if (key == FilterKeys::fio)
            filter._fio = value.toString().trimmed();
        else if (key == FilterKeys::qual)
            filter._qual = value.toString().trimmed();
        else if (key == FilterKeys::dateFrom)
            filter._dateFrom = value.toDate();
        else if (key == FilterKeys::dateTo)
            filter._dateTo = value.toDate();
        else if (key == FilterKeys::editDateFrom)
            filter._editDateFrom = value.toDate();
        else if (key == FilterKeys::editDateTo)
            filter._editDateTo = value.toDate();
    }
    // A range applies only when both of its ends are set.
    filter._issueRange = filter._dateFrom.isValid() && filter._dateTo.isValid();
    filter._editRange = filter._editDateFrom.isValid() && filter._editDateTo.isValid();
    filter._issueFrom = filter._dateFrom.toJulianDay();
    filter._issueTo = filter._dateTo.toJulianDay();
    filter._editFrom = filter._editDateFrom.toJulianDay();
    filter._editTo = filter._editDateTo.toJulianDay();
    return filter;
}

bool DocumentFilter::isEmpty() const {
    return _fio.isEmpty() && _qual.isEmpty() && !_issueRange && !_editRange;
}

bool DocumentFilter::acceptsFio(const QString& fio) const {
    return _fio.isEmpty() || TextMatch::contains(fio, _fio);
}

bool DocumentFilter::acceptsQual(const QString& qual) const {
    return _qual.isEmpty() || TextMatch::contains(qual, _qual);
}

bool DocumentFilter::inRange(qint64 day, bool range, qint64 from, qint64 to) {
    return !range || (day != ValueText::noDay && from <= day && day <= to);
}

bool DocumentFilter::accepts(const QString& fio, const QString& qual, const QVariant& issueDate,
                             const QVariant& editDate) const {
    return acceptsFio(fio) && acceptsQual(qual) && (!_issueRange || acceptsIssueDay(dayOf(issueDate))) &&
           (!_editRange || acceptsEditDay(dayOf(editDate)));
}

qint64 DocumentFilter::dayOf(const QVariant& value) {
    if (value.userType() == QMetaType::QDate || value.userType() == QMetaType::QDateTime) {
        const QDate date = value.toDate();
        return date.isValid() ? date.toJulianDay() : qint64(ValueText::noDay);
    }
    return ValueText::dayNumber(value.toString());
}

QString DocumentFilter::sqlCondition() const {
    QStringList conditions;
    if (_issueRange)
        conditions << dayRangeCondition(QStringLiteral("issueDate"), _dateFrom, _dateTo);
    if (_editRange)
        conditions << dayRangeCondition(QStringLiteral("editDate"), _editDateFrom, _editDateTo);
    // The expressions are those of the list's view ViewProfDocuments, so both match the same text.
    if (!_fio.isEmpty())
        conditions << containsCondition(
            QStringLiteral("COALESCE(fio1,'')||' '||COALESCE(fio2,'')||' '||COALESCE(fio3,'')"), _fio);
    if (!_qual.isEmpty())
        conditions << containsCondition(QStringLiteral("REPLACE(qual, '\n', ' ')"), _qual);
    if (conditions.isEmpty())
        return {};
    return QStringLiteral(" AND ") + conditions.join(QStringLiteral(" AND "));
}

// Straight from SQLite, as the list loads its rows: the same texts, in the same order (through the
// driver for a registry on a server).
QList<qint64> DocumentFilter::shownIds(const DocumentOrder& order, QString* error) const {
    const auto fail = [error](const QString& reason) {
        MZ_LOG() << "cannot list the documents" << reason;
        if (error)
            *error = QStringLiteral("Не удалось прочитать записи из базы данных:\n%1").arg(reason);
        return QList<qint64>();
    };
    if (error)
        error->clear();
    const bool sorted = order.column >= DocumentOrder::Id && order.column < DocumentOrder::ColumnCount;
    const bool keyed = sorted && order.column != DocumentOrder::Id;
    const QByteArray sql = QByteArrayLiteral("SELECT profId, fio, qual, issueDate, editDate, ") +
                           viewColumns[sorted ? order.column : DocumentOrder::Id] +
                           QByteArrayLiteral(" FROM ViewProfDocuments");
    enum { IdAt, FioAt, QualAt, IssueAt, EditAt, KeyAt };
    QVector<ShownRow> rows;
    const auto take = [&](qint64 id, const QString& fio, const QString& qual, const QString& issue, const QString& edit,
                          const QString& key) {
        if ((!_fio.isEmpty() && !acceptsFio(fio)) || (!_qual.isEmpty() && !acceptsQual(qual)) ||
            (_issueRange && !acceptsIssueDay(ValueText::dayNumber(issue))) ||
            (_editRange && !acceptsEditDay(ValueText::dayNumber(edit))))
            return;
        rows.append({id, keyed ? key : QString()});
    };
    const auto listed = [&]() {
        if (sorted)
            sortRows(rows, order);
        QList<qint64> ids;
        ids.reserve(rows.size());
        for (const ShownRow& row : rows)
            ids.append(row.id);
        return ids;
    };
    if (SqlDialect::isServer()) {
        // A registry on a server: the same rows through the driver.
        QSqlQuery query(QSqlDatabase::database());
        query.setForwardOnly(true);
        if (!query.exec(QString::fromLatin1(sql)))
            return fail(StoreQuery::reasonOf(query));
        while (query.next())
            take(query.value(IdAt).toLongLong(), query.value(FioAt).toString(), query.value(QualAt).toString(),
                 query.value(IssueAt).toString(), query.value(EditAt).toString(), query.value(KeyAt).toString());
        return listed();
    }
    sqlite3* db = StoreQuery::mainFileHandle();
    if (!db)
        return fail(QStringLiteral("no open database"));
    const StoreQuery::SqliteStatement statement = StoreQuery::prepareSqlite(db, sql.constData());
    if (!statement)
        return fail(QString::fromUtf8(sqlite3_errmsg(db)));
    sqlite3_stmt* raw = statement.get();
    int result;
    while ((result = sqlite3_step(raw)) == SQLITE_ROW)
        take(sqlite3_column_int64(raw, IdAt), cellText(raw, FioAt), cellText(raw, QualAt), cellText(raw, IssueAt),
             cellText(raw, EditAt), keyed ? cellText(raw, KeyAt) : QString());
    if (result != SQLITE_DONE)
        return fail(QString::fromUtf8(sqlite3_errmsg(db)));
    return listed();
}
