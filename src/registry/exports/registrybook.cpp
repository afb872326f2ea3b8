#include "registrybook.h"

#include "mzlog.h"
#include "nameorder.h"
#include "storequery.h"
#include "valuetext.h"

#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <iterator>

namespace {
// The names come from the list's view, so that the book shows them as the list does; the other
// columns come from the document itself.
QString bookSql(const QSqlDatabase& db) {
    return QStringLiteral("SELECT v.profId, v.fio, v.issueDate, d.attNumber, d.regNumber, d.profession, d.qual, "
                          "d.protocolDate, d.protocolNumber FROM ViewProfDocuments v INNER JOIN ProfDocuments d ON "
                          "d.profId = v.profId ORDER BY ") +
           NameOrder::orderBy(db, {QStringLiteral("d.fio1"), QStringLiteral("d.fio2"), QStringLiteral("d.fio3")},
                              QStringLiteral("d.profId"));
}
const QString countSql = QStringLiteral("SELECT COUNT(*) FROM ViewProfDocuments");
// Columns of the query.
enum { Id, ListFio, IssueDate, AttNumber, RegNumber, Profession, Qual, ProtocolDate, ProtocolNumber };

struct BookColumn {
    const char* header;
    double width;
};
const BookColumn bookColumns[] = {
    {"№ п/п", 4.29},
    {"ФИО лица, получившего документ", 21.45},
    {"Номер бланка документа", 14.82},
    {"Рег. номер", 11.7},
    {"Дата выдачи документа", 14.3},
    {"Наименование профессии", 16.9},
    {"Наименование квалификации", 16.9},
    {"Дата и номер протокола аттестационной комиссии", 20.8},
    {"Подпись лица, выдающего документ", 16.9},
    {"Подпись лица, получившего документ", 16.9},
};
constexpr int headerHeight = 70;
const QString sheetName = QStringLiteral("Книга регистрации");

// The paper book: landscape A4, every column on one page across, the header atop every page.
XlsxPageSetup bookPage() {
    XlsxPageSetup page;
    page.landscape = true;
    page.paperA4 = true;
    page.fitWide = 1;
    page.fitTall = 0;
    page.titleFirstRow = 0;
    page.titleLastRow = 0;
    page.footer = QStringLiteral("&CСтраница &P из &N");
    page.marginLeft = 0.4;
    page.marginRight = 0.4;
    page.marginTop = 0.6;
    page.marginBottom = 0.7;
    return page;
}

QString dayText(const QVariant& value) {
    // Reading a blank through every date layout costs more than the rest of the row.
    if (value.toString().trimmed().isEmpty())
        return QString();
    return ValueText::dateFromValue(value).toString(QStringLiteral("dd.MM.yyyy"));
}

XlsxFormat bookFormat() {
    XlsxFormat format;
    format.thinBorder = true;
    format.fontName = QStringLiteral("Calibri");
    format.fontSize = 10;
    format.numberFormat = QStringLiteral("@");
    format.horizontal = XlsxFormat::Horizontal::Center;
    // Wrapped, a long name or qualification takes more lines of its row instead of being cut.
    format.wrap = true;
    format.vertical = XlsxFormat::Vertical::Center;
    return format;
}

void writeHeader(XlsxWorkbook& book, int format) {
    book.setPageSetup(bookPage());
    book.setRowHeight(0, headerHeight);
    for (int c = 0; c < int(std::size(bookColumns)); ++c) {
        book.setColumnWidth(c, bookColumns[c].width);
        book.writeString(0, c, QString::fromUtf8(bookColumns[c].header), format);
    }
}

// Not every spreadsheet program grows a row to its wrapped text (LibreOffice keeps the default
// height, and the lines run over the rows around), so a row that needs more lines gets its height
// here, from a count of the lines that rather errs towards too many: the 10-point font takes about
// 6.5 of the 7 pixels of a unit of column width per character.
constexpr double pixelsPerWidthUnit = 7;
constexpr double pixelsPerCharacter = 6.5;
constexpr double lineHeight = 12.75; // points
constexpr double rowPadding = 2.25;

int lineCount(const QString& text, double width) {
    const int perLine = std::max(1, int(width * pixelsPerWidthUnit / pixelsPerCharacter) - 1);
    int lines = 1;
    int used = 0;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (used > 0 && used + 1 + word.size() <= perLine) {
            used += 1 + word.size();
            continue;
        }
        if (used > 0)
            ++lines;
        // A word longer than the line is broken.
        lines += (word.size() - 1) / perLine;
        used = (word.size() - 1) % perLine + 1;
    }
    return lines;
}

// False with the reason when a text does not fit its cell; nothing of the row is written then.
bool writeDocument(XlsxWorkbook& book, int row, const QSqlQuery& query, int format, QString* tooLong) {
    QString values[] = {
        QString::number(row),
        query.value(ListFio).toString(),
        query.value(AttNumber).toString(),
        query.value(RegNumber).toString(),
        dayText(query.value(IssueDate)),
        query.value(Profession).toString(),
        query.value(Qual).toString(),
        dayText(query.value(ProtocolDate)) + QStringLiteral(" №") + query.value(ProtocolNumber).toString(),
        QString(),
        QString(),
    };
    for (int c = 0; c < int(std::size(values)); ++c) {
        // The list shows a line break as a blank; so does the book.
        values[c] = XlsxWorkbook::cellValue(values[c], XlsxWorkbook::LineBreaks::Blank);
        if (!XlsxWorkbook::fitsCell(values[c])) {
            *tooLong = XlsxExport::tooLongText(
                XlsxExport::documentName(query.value(ListFio).toString(), query.value(Id).toLongLong()),
                QString::fromUtf8(bookColumns[c].header));
            return false;
        }
    }
    int lines = 1;
    for (int c = 0; c < int(std::size(values)); ++c)
        lines = std::max(lines, lineCount(values[c], bookColumns[c].width));
    if (lines > 1)
        book.setRowHeight(row, lines * lineHeight + rowPadding);
    for (int c = 0; c < int(std::size(values)); ++c)
        book.writeString(row, c, values[c], format);
    return true;
}

int documentCount() {
    QSqlQuery query(QSqlDatabase::database());
    query.setForwardOnly(true);
    return StoreQuery::run(query, countSql, nullptr) && query.next() ? query.value(0).toInt() : 0;
}

bool failed(XlsxWorkbook& book, const QSqlError& failure, const QString& path, QString* error, ExportFailure* kind) {
    book.discard();
    QString reason;
    const ExportFailure what = XlsxExport::readFailure(failure, path, &reason);
    if (error)
        *error = reason;
    if (kind)
        *kind = what;
    return false;
}

bool cancelled(XlsxWorkbook& book, ExportFailure* kind) {
    book.discard();
    if (kind)
        *kind = ExportFailure::Cancelled;
    return false;
}

bool refused(XlsxWorkbook& book, const QString& reason, QString* error, ExportFailure* kind) {
    book.discard();
    MZ_LOG() << "registry book not written:" << reason;
    if (error)
        *error = reason;
    if (kind)
        *kind = ExportFailure::Output;
    return false;
}

bool closed(XlsxWorkbook& book, QString* error, ExportFailure* kind) {
    const bool written = book.close(error);
    if (kind)
        *kind = written ? ExportFailure::None : ExportFailure::Output;
    return written;
}
} // namespace

bool RegistryBook::write(const QList<qint64>& ids, const QString& path, QString* error, const ExportProgress& progress,
                         ExportFailure* failure) {
    if (error)
        error->clear();
    const QSet<qint64> shown(ids.cbegin(), ids.cend());
    const int total = documentCount();
    const auto goOn = [&](int done) { return !progress || progress(done, total); };
    XlsxWorkbook book(path, sheetName);
    // The header's format is the rows' one.
    const int dataFormat = book.addFormat(bookFormat());
    writeHeader(book, dataFormat);
    if (!book.isValid())
        return closed(book, error, failure);
    if (!goOn(0))
        return cancelled(book, failure);
    const QSqlDatabase db = QSqlDatabase::database();
    QSqlQuery query(db);
    query.setForwardOnly(true); // one row at a time, not the whole registry
    if (!StoreQuery::run(query, bookSql(db), nullptr))
        return failed(book, query.lastError(), path, error, failure);
    int number = 0;
    QString tooLong;
    for (int done = 1; book.isValid() && query.next(); ++done) {
        if (shown.contains(query.value(Id).toLongLong()) && !writeDocument(book, ++number, query, dataFormat, &tooLong))
            return refused(book, tooLong, error, failure);
        if (done % XlsxExport::progressStep == 0 && !goOn(done))
            return cancelled(book, failure);
    }
    if (query.lastError().isValid())
        return failed(book, query.lastError(), path, error, failure);
    if (!goOn(total))
        return cancelled(book, failure);
    return closed(book, error, failure);
}
