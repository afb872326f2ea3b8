#pragma once

#include "xlsxworkbook.h"

#include <QDate>
#include <QList>
#include <QString>
#include <functional>

class QSqlQuery;
class QSqlRecord;

// One column of a column-driven export.
struct XlsxExportColumn {
    QString header;
    // Applied when above 0.
    int width = 0;
    // The query column copied as text (matched without regard to case); empty when computed.
    QString key;
    // Gives the value from the query positioned on a row; used when `key` is empty.
    std::function<QString(const QSqlQuery&)> compute;
};

struct XlsxExportSpec {
    // Part of the proposed file name.
    QString title;
    // The query without its id restriction; " AND <idColumn> IN (...)" is appended to it.
    QString selectSql;
    QString idColumn;
    // Height of every data row.
    int rowHeight = 20;
    QList<XlsxExportColumn> columns;
    // Called once with the query's columns before the first row, so that computed columns can read
    // their columns by position instead of looking names up on every row.
    std::function<void(const QSqlRecord&)> prepare;
};

// Reports rows done out of a total; returning false cancels.
using ExportProgress = std::function<bool(int done, int total)>;

// Why an export wrote nothing: the records could not be read, or the workbook not written.
enum class ExportFailure { None, Cancelled, Database, Output };

// The generic column-driven workbook writer: a header row, then one row of texts per record.
class XlsxExport {
public:
    // How many rows pass between two progress reports.
    static constexpr int progressStep = 500;

    // "<directory>/Orvane[-<title>]-export-yyyy-MM-dd.xlsx"
    static QString proposedFileName(const QString& directory, const QString& title, const QDate& day);

    // Writes the records of `layout` whose id is in `ids` to `path`, in ascending id (the order the
    // file gave without asking; a server needs to be asked). Null formats get the defaults
    // below. False with the reason in `error` when the workbook cannot be written or read from the
    // database; false with an empty `error` when `progress` cancels; `failure` says which. `path`
    // is replaced only by a complete workbook.
    static bool write(const XlsxExportSpec& layout, const QList<qint64>& ids, const QString& path, QString* error,
                      const ExportProgress& progress = {}, const XlsxFormat* header = nullptr,
                      const XlsxFormat* data = nullptr, ExportFailure* failure = nullptr);

    // Thin border, wrapped, centred both ways.
    static XlsxFormat defaultHeaderFormat();
    // Thin border, text number format.
    static XlsxFormat defaultDataFormat();
};
