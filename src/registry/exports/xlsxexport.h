#pragma once

#include "xlsxworkbook.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class QSqlQuery;
class QSqlRecord;
class QSqlError;

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
    // The sheet's name; empty for the library's.
    QString sheetName;
    // The query without its id restriction; " AND <idColumn> IN (...)" is appended to it.
    QString selectSql;
    QString idColumn;
    // The rows go in the Russian alphabet's order of these columns (see NameOrder), then by id;
    // by id alone when empty.
    QStringList nameColumns;
    // Names a row in a message, e.g. the document's full name and id; the row's number when unset.
    std::function<QString(const QSqlQuery&)> rowName;
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

    // Writes the records of `layout` whose id is in `ids` to `path`, in the layout's order. A text
    // longer than a cell holds is refused with the row and the column named (an Output failure),
    // never cut. Null formats get the defaults
    // below. False with the reason in `error` when the workbook cannot be written or read from the
    // database; false with an empty `error` when `progress` cancels; `failure` says which. `path`
    // is replaced only by a complete workbook.
    static bool write(const XlsxExportSpec& layout, const QList<qint64>& ids, const QString& path, QString* error,
                      const ExportProgress& progress = {}, const XlsxFormat* header = nullptr,
                      const XlsxFormat* data = nullptr, ExportFailure* failure = nullptr);

    // What a failed read of the records means, with the reason in `reason`: the registry's failure,
    // or on the file the output's when the sort's temporary files filled their folder.
    static ExportFailure readFailure(const QSqlError& error, const QString& path, QString* reason);
    // A document as tooLongText() names it.
    static QString documentName(const QString& fullName, qint64 id);
    // The refusal of a text that a cell cannot hold; `row` as documentName() gives it.
    static QString tooLongText(const QString& row, const QString& column);

    // Thin border, wrapped, centred both ways.
    static XlsxFormat defaultHeaderFormat();
    // Thin border, text number format.
    static XlsxFormat defaultDataFormat();
};
