#include "xlsxexport.h"

#include "mzlog.h"
#include "productinfo.h"
#include "sqldialect.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVector>

namespace {
const QString idTable = QStringLiteral("orvane_export_ids");

// The exported ids as a temporary table the query selects from: an IN list of a hundred thousand
// literals would be a statement of a megabyte, parsed into as many expression nodes.
class IdTable {
public:
    explicit IdTable(const QSqlDatabase& db) : _db(db) {}
    ~IdTable() {
        QSqlQuery drop(_db);
        drop.exec(QStringLiteral("DROP TABLE IF EXISTS ") + idTable);
    }
    IdTable(const IdTable&) = delete;
    IdTable& operator=(const IdTable&) = delete;

    // The reason of a failure, empty on success. One statement, so that a failure leaves nothing
    // half filled, inside an edit dialog's transaction or outside one, on either store.
    QString fill(const QList<qint64>& ids) {
        QSqlQuery query(_db);
        for (const QString& sql :
             {QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS orvane_export_ids (id %1 PRIMARY KEY)")
                  .arg(SqlDialect::idType(_db)),
              QStringLiteral("DELETE FROM ") + idTable})
            if (!query.exec(sql))
                return query.lastError().text();
        QSqlQuery insert(_db);
        if (!insert.prepare(QStringLiteral("INSERT INTO %1 (id) SELECT DISTINCT value FROM (%2) AS ids")
                                .arg(idTable, SqlDialect::idsFromJson(_db, QStringLiteral("?")))))
            return insert.lastError().text();
        insert.addBindValue(SqlDialect::jsonIds(ids));
        return insert.exec() ? QString() : insert.lastError().text();
    }

private:
    QSqlDatabase _db;
};

// Where each column's value comes from, found once per export.
struct ColumnSource {
    int index = -1; // query column, -1 for none
    const std::function<QString(const QSqlQuery&)>* compute = nullptr;
};

QVector<ColumnSource> columnSources(const XlsxExportSpec& layout, const QSqlRecord& record) {
    QVector<ColumnSource> sources;
    sources.reserve(layout.columns.size());
    for (const XlsxExportColumn& column : layout.columns) {
        ColumnSource source;
        if (column.key.isEmpty() && column.compute)
            source.compute = &column.compute;
        else if (!column.key.trimmed().isEmpty())
            source.index = record.indexOf(column.key.trimmed()); // without regard to case
        sources.append(source);
    }
    return sources;
}

QString databaseError(const QSqlError& error) {
    return QStringLiteral("Не удалось прочитать записи из базы данных:\n%1").arg(error.text());
}

bool failed(XlsxWorkbook& book, const QString& reason, QString* error, ExportFailure* failure) {
    MZ_LOG() << "export failed" << reason;
    book.discard();
    if (error)
        *error = reason;
    if (failure)
        *failure = ExportFailure::Database;
    return false;
}

bool cancelled(XlsxWorkbook& book, ExportFailure* failure) {
    book.discard();
    if (failure)
        *failure = ExportFailure::Cancelled;
    return false;
}

bool closed(XlsxWorkbook& book, QString* error, ExportFailure* failure) {
    const bool written = book.close(error);
    if (failure)
        *failure = written ? ExportFailure::None : ExportFailure::Output;
    return written;
}
} // namespace

QString XlsxExport::proposedFileName(const QString& directory, const QString& title, const QDate& day) {
    QString name = ProductTypeInfo::appName();
    if (!title.isEmpty())
        name += QLatin1Char('-') + title;
    return directory + QLatin1Char('/') + name + QStringLiteral("-export-") +
           day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".xlsx");
}

XlsxFormat XlsxExport::defaultHeaderFormat() {
    XlsxFormat format;
    format.thinBorder = true;
    format.wrap = true;
    format.horizontal = XlsxFormat::Horizontal::Center;
    format.vertical = XlsxFormat::Vertical::Center;
    return format;
}

XlsxFormat XlsxExport::defaultDataFormat() {
    XlsxFormat format;
    format.thinBorder = true;
    format.numberFormat = QStringLiteral("@");
    return format;
}

bool XlsxExport::write(const XlsxExportSpec& layout, const QList<qint64>& ids, const QString& path, QString* error,
                       const ExportProgress& progress, const XlsxFormat* header, const XlsxFormat* data,
                       ExportFailure* failure) {
    if (error)
        error->clear();
    const int total = ids.size();
    const auto goOn = [&](int done) { return !progress || progress(done, total); };
    XlsxWorkbook book(path);
    const int headerFormat = book.addFormat(header ? *header : defaultHeaderFormat());
    const int dataFormat = book.addFormat(data ? *data : defaultDataFormat());
    for (int c = 0; c < layout.columns.size(); ++c) {
        if (layout.columns[c].width > 0)
            book.setColumnWidth(c, layout.columns[c].width);
        book.writeString(0, c, layout.columns[c].header, headerFormat);
    }
    if (!book.isValid())
        return closed(book, error, failure);
    if (!goOn(0))
        return cancelled(book, failure);

    const QSqlDatabase db = QSqlDatabase::database();
    IdTable idTableRows(db);
    const QString reason = idTableRows.fill(ids);
    if (!reason.isEmpty())
        return failed(book, QStringLiteral("Не удалось подготовить выборку записей:\n%1").arg(reason), error, failure);
    QSqlQuery query(db);
    query.setForwardOnly(true); // one row at a time, not the whole result
    const QString sql =
        layout.selectSql + QStringLiteral(" AND %1 IN (SELECT id FROM %2) ORDER BY %1").arg(layout.idColumn, idTable);
    if (!query.exec(sql))
        return failed(book, databaseError(query.lastError()), error, failure);
    const QSqlRecord record = query.record();
    if (layout.prepare)
        layout.prepare(record);
    const QVector<ColumnSource> sources = columnSources(layout, record);
    int row = 1;
    while (book.isValid() && query.next()) {
        if (layout.rowHeight > 0)
            book.setRowHeight(row, layout.rowHeight);
        for (int c = 0; c < sources.size(); ++c) {
            const ColumnSource& source = sources[c];
            const QString value = source.compute      ? (*source.compute)(query)
                                  : source.index >= 0 ? query.value(source.index).toString()
                                                      : QString();
            book.writeString(row, c, value, dataFormat);
        }
        if (row % progressStep == 0 && !goOn(row))
            return cancelled(book, failure);
        ++row;
    }
    if (query.lastError().isValid())
        return failed(book, databaseError(query.lastError()), error, failure);
    if (!goOn(total))
        return cancelled(book, failure);
    return closed(book, error, failure);
}
