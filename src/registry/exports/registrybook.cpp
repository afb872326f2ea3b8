#include "registrybook.h"

#include "mzlog.h"
#include "valuetext.h"

#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <iterator>

namespace {
// The names come from the list's view, so that the book shows them as the list does; the other
// columns come from the document itself. A missing name part sorts first on both stores (the
// server would put it last).
const QString bookSql = QStringLiteral(
    "SELECT v.profId, v.fio, v.issueDate, d.attNumber, d.regNumber, d.profession, d.qual, "
    "d.protocolDate, d.protocolNumber FROM ViewProfDocuments v INNER JOIN ProfDocuments d ON d.profId = v.profId "
    "ORDER BY d.fio1 NULLS FIRST, d.fio2 NULLS FIRST, d.fio3 NULLS FIRST, d.profId");
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

bool runQuery(QSqlQuery& query, const QString& sql) {
    query.setForwardOnly(true); // one row at a time, not the whole registry
    if (query.exec(sql))
        return true;
    MZ_LOG() << "cannot read the documents" << query.lastError().text() << sql;
    return false;
}

QString dayText(const QVariant& value) {
    // Reading a blank through every date layout costs more than the rest of the row.
    if (value.toString().trimmed().isEmpty())
        return QString();
    return ValueText::dateFromValue(value).toString(QStringLiteral("dd.MM.yyyy"));
}

XlsxFormat bookFormat(bool header) {
    XlsxFormat format;
    format.thinBorder = true;
    format.fontName = QStringLiteral("Calibri");
    format.fontSize = 10;
    format.numberFormat = QStringLiteral("@");
    format.horizontal = XlsxFormat::Horizontal::Center;
    if (header) {
        format.wrap = true;
        format.vertical = XlsxFormat::Vertical::Center;
    }
    return format;
}

void writeHeader(XlsxWorkbook& book) {
    const int format = book.addFormat(bookFormat(true));
    book.setRowHeight(0, headerHeight);
    for (int c = 0; c < int(std::size(bookColumns)); ++c) {
        book.setColumnWidth(c, bookColumns[c].width);
        book.writeString(0, c, QString::fromUtf8(bookColumns[c].header), format);
    }
}

void writeDocument(XlsxWorkbook& book, int row, const QSqlQuery& query, int format) {
    const QString values[] = {
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
    for (int c = 0; c < int(std::size(values)); ++c)
        book.writeString(row, c, values[c], format);
}

int documentCount() {
    QSqlQuery query(QSqlDatabase::database());
    return runQuery(query, countSql) && query.next() ? query.value(0).toInt() : 0;
}

QString readError(const QSqlError& failure) {
    return QStringLiteral("Не удалось прочитать записи из базы данных:\n%1").arg(failure.text());
}

bool failed(XlsxWorkbook& book, const QSqlError& failure, QString* error, ExportFailure* kind) {
    book.discard();
    if (error)
        *error = readError(failure);
    if (kind)
        *kind = ExportFailure::Database;
    return false;
}

bool cancelled(XlsxWorkbook& book, ExportFailure* kind) {
    book.discard();
    if (kind)
        *kind = ExportFailure::Cancelled;
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
    XlsxWorkbook book(path);
    writeHeader(book);
    const int dataFormat = book.addFormat(bookFormat(false));
    if (!book.isValid())
        return closed(book, error, failure);
    if (!goOn(0))
        return cancelled(book, failure);
    QSqlQuery query(QSqlDatabase::database());
    if (!runQuery(query, bookSql))
        return failed(book, query.lastError(), error, failure);
    int number = 0;
    for (int done = 1; book.isValid() && query.next(); ++done) {
        if (shown.contains(query.value(Id).toLongLong()))
            writeDocument(book, ++number, query, dataFormat);
        if (done % XlsxExport::progressStep == 0 && !goOn(done))
            return cancelled(book, failure);
    }
    if (query.lastError().isValid())
        return failed(book, query.lastError(), error, failure);
    if (!goOn(total))
        return cancelled(book, failure);
    return closed(book, error, failure);
}
