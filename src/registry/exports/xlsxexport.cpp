#include "xlsxexport.h"

#include "mzlog.h"
#include "nameorder.h"
#include "productinfo.h"
#include "rowqueue.h"
#include "sqldialect.h"
#include "storequery.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QVector>
#include <future>
#include <memory>

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
        QString reason;
        for (const QString& sql :
             {QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS orvane_export_ids (id %1 PRIMARY KEY)")
                  .arg(SqlDialect::idType(_db)),
              QStringLiteral("DELETE FROM ") + idTable})
            if (!StoreQuery::run(_db, sql, &reason))
                return reason;
        QSqlQuery insert(_db);
        if (!StoreQuery::prepare(insert,
                                 QStringLiteral("INSERT INTO %1 (id) SELECT DISTINCT value FROM (%2) AS ids")
                                     .arg(idTable, SqlDialect::idsFromJson(_db, QStringLiteral("?"))),
                                 &reason))
            return reason;
        insert.addBindValue(SqlDialect::jsonIds(ids));
        StoreQuery::write(insert, &reason);
        return reason;
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

constexpr int sqliteFull = 13; // SQLITE_FULL

// Rows pass from the reading thread to the writing one in batches of at most these many rows or
// bytes, with at most this many rows or bytes in flight.
constexpr int batchRows = 250;
constexpr int batchBytes = 1 << 20;
constexpr int queueRows = 2000;
constexpr qint64 queueBytes = 16 << 20;

// The workbook's side of an export, run on a thread of its own: libxlsxwriter is used from that one
// thread only, from creating the workbook to closing it.
class SheetWriter {
public:
    SheetWriter(const XlsxExportSpec& layout, const XlsxFormat& header, const XlsxFormat& data, const QString& path,
                RowQueue& queue)
        : _layout(layout), _header(header), _data(data), _path(path), _queue(queue) {}

    // Whether the workbook could be started; waits until it is known.
    bool started() { return _started.get_future().get(); }
    void run();

    // Read once the thread has ended.
    bool written = false;
    QString error;

private:
    void writeBatch(XlsxWorkbook& book, const RowBatch& batch, int format);

    const XlsxExportSpec& _layout;
    const XlsxFormat _header;
    const XlsxFormat _data;
    const QString _path;
    RowQueue& _queue;
    std::promise<bool> _started;
};

void SheetWriter::run() {
    XlsxWorkbook book(_path, _layout.sheetName);
    const int headerFormat = book.addFormat(_header);
    const int dataFormat = book.addFormat(_data);
    for (int c = 0; c < _layout.columns.size(); ++c) {
        if (_layout.columns[c].width > 0)
            book.setColumnWidth(c, _layout.columns[c].width);
        book.writeString(0, c, _layout.columns[c].header, headerFormat);
    }
    _started.set_value(book.isValid());
    RowBatch batch;
    while (book.isValid() && _queue.pop(&batch))
        writeBatch(book, batch, dataFormat);
    if (!book.isValid()) {
        error = book.errorString();
        _queue.abandon();
        return;
    }
    // Abandoned by the reader: the workbook is dropped with `book`.
    if (!_queue.abandoned())
        written = book.close(&error);
}

void SheetWriter::writeBatch(XlsxWorkbook& book, const RowBatch& batch, int format) {
    for (int r = 0; r < batch.rowCount(); ++r) {
        const int row = batch.firstRow + r;
        if (_layout.rowHeight > 0)
            book.setRowHeight(row, _layout.rowHeight);
        for (int c = 0; c < batch.columns; ++c)
            book.writeUtf8(row, c, batch.cell(r, c), format);
    }
}

enum class ReadEnd { Done, Cancelled, Database, Output, WriterStopped };

RowBatch newBatch(int firstRow, int columns) {
    RowBatch batch;
    batch.firstRow = firstRow;
    batch.columns = columns;
    batch.starts.reserve(batchRows * columns);
    return batch;
}

// Reads and formats the rows on the calling thread, the one that owns the database connection.
ReadEnd readRows(const XlsxExportSpec& layout, const QList<qint64>& ids, const QString& path, RowQueue& queue,
                 const std::function<bool(int)>& goOn, QString* reason) {
    const auto readFailed = [&](const QSqlError& error) {
        return XlsxExport::readFailure(error, path, reason) == ExportFailure::Output ? ReadEnd::Output
                                                                                     : ReadEnd::Database;
    };
    const QSqlDatabase db = QSqlDatabase::database();
    IdTable idTableRows(db);
    *reason = idTableRows.fill(ids);
    if (!reason->isEmpty()) {
        *reason = QStringLiteral("Не удалось подготовить выборку записей:\n%1").arg(*reason);
        return ReadEnd::Database;
    }
    QSqlQuery query(db);
    query.setForwardOnly(true); // one row at a time, not the whole result
    const QString sql = layout.selectSql +
                        QStringLiteral(" AND %1 IN (SELECT id FROM %2) ORDER BY ").arg(layout.idColumn, idTable) +
                        NameOrder::orderBy(db, layout.nameColumns, layout.idColumn);
    if (!query.exec(sql))
        return readFailed(query.lastError());
    const QSqlRecord record = query.record();
    if (layout.prepare)
        layout.prepare(record);
    const QVector<ColumnSource> sources = columnSources(layout, record);
    RowBatch batch = newBatch(1, sources.size());
    int row = 1;
    for (; query.next(); ++row) {
        for (int c = 0; c < sources.size(); ++c) {
            const ColumnSource& source = sources.at(c);
            const QString value = XlsxWorkbook::cellValue(source.compute      ? (*source.compute)(query)
                                                          : source.index >= 0 ? query.value(source.index).toString()
                                                                              : QString());
            if (!XlsxWorkbook::fitsCell(value)) {
                *reason = XlsxExport::tooLongText(layout.rowName ? layout.rowName(query)
                                                                 : QStringLiteral("строки %1").arg(row + 1),
                                                  layout.columns.at(c).header);
                return ReadEnd::Output;
            }
            batch.append(value.toUtf8());
        }
        if (batch.rowCount() >= batchRows || batch.text.size() >= batchBytes) {
            if (!queue.push(std::move(batch)))
                return ReadEnd::WriterStopped;
            batch = newBatch(row + 1, sources.size());
        }
        if (row % XlsxExport::progressStep == 0 && !goOn(row))
            return ReadEnd::Cancelled;
    }
    if (query.lastError().isValid())
        return readFailed(query.lastError());
    if (batch.rowCount() > 0 && !queue.push(std::move(batch)))
        return ReadEnd::WriterStopped;
    return goOn(ids.size()) ? ReadEnd::Done : ReadEnd::Cancelled;
}

bool ended(ExportFailure kind, const QString& reason, QString* error, ExportFailure* failure) {
    if (kind == ExportFailure::Database)
        MZ_LOG() << "export failed" << reason;
    if (error)
        *error = reason;
    if (failure)
        *failure = kind;
    return kind == ExportFailure::None;
}
} // namespace

QString XlsxExport::proposedFileName(const QString& directory, const QString& title, const QDate& day) {
    QString name = ProductTypeInfo::appName();
    if (!title.isEmpty())
        name += QLatin1Char('-') + title;
    return directory + QLatin1Char('/') + name + QStringLiteral("-export-") +
           day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".xlsx");
}

ExportFailure XlsxExport::readFailure(const QSqlError& error, const QString& path, QString* reason) {
    // The registry is only read here: what can fill up is the sort's temporary files.
    if (!SqlDialect::isServer() && (error.nativeErrorCode().toInt() & 0xff) == sqliteFull) {
        *reason = XlsxWorkbook::noRoomText(path, QDir::tempPath());
        return ExportFailure::Output;
    }
    *reason = QStringLiteral("Не удалось прочитать записи из базы данных:\n%1").arg(StoreQuery::reasonOf(error));
    return ExportFailure::Database;
}

QString XlsxExport::documentName(const QString& fullName, qint64 id) {
    // One pass: a "%1" in a name stays as it is.
    return QStringLiteral("документа «%1» (номер записи %2)")
        .arg(XlsxWorkbook::cellValue(fullName, XlsxWorkbook::LineBreaks::Blank).simplified().left(200),
             QString::number(id));
}

QString XlsxExport::tooLongText(const QString& row, const QString& column) {
    return QStringLiteral("Книга не записана: в столбце «%1» у %2 текст длиннее %3 знаков, больше ячейка Excel не "
                          "вмещает.\nСократите этот текст и повторите экспорт.")
        .arg(column, row, QString::number(XlsxWorkbook::maxCellText));
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
    const auto goOn = [&](int done) { return !progress || progress(done, ids.size()); };
    RowQueue queue(queueRows, queueBytes);
    SheetWriter writer(layout, header ? *header : defaultHeaderFormat(), data ? *data : defaultDataFormat(), path,
                       queue);
    const std::unique_ptr<QThread> thread(QThread::create([&writer] { writer.run(); }));
    thread->start();
    ReadEnd read = ReadEnd::WriterStopped;
    QString reason;
    if (writer.started()) {
        read = goOn(0) ? readRows(layout, ids, path, queue, goOn, &reason) : ReadEnd::Cancelled;
        if (read == ReadEnd::Done)
            queue.finish();
        else
            queue.abandon();
    }
    thread->wait();
    if (read == ReadEnd::Cancelled)
        return ended(ExportFailure::Cancelled, QString(), error, failure);
    if (read == ReadEnd::Database)
        return ended(ExportFailure::Database, reason, error, failure);
    if (read == ReadEnd::Output)
        return ended(ExportFailure::Output, reason, error, failure);
    return ended(writer.written ? ExportFailure::None : ExportFailure::Output, writer.error, error, failure);
}
