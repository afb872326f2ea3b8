#include "registrybook.h"

#include "documentfilter.h"
#include "mzlog.h"
#include "valuetext.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <iterator>

namespace {
// The rows and texts of the list come from its view, so that the book holds exactly what the list
// shows; the other columns come from the document itself.
const QString bookSql = QStringLiteral(
    "SELECT v.profId, v.fio, v.qual, v.issueDate, v.editDate, d.attNumber, d.regNumber, d.profession, d.qual, "
    "d.protocolDate, d.protocolNumber FROM ViewProfDocuments v INNER JOIN ProfDocuments d ON d.profId = v.profId "
    "ORDER BY d.fio1, d.fio2, d.fio3, d.profId");
const QString listSql = QStringLiteral("SELECT profId, fio, qual, issueDate, editDate FROM ViewProfDocuments");
const QString countSql = QStringLiteral("SELECT COUNT(*) FROM ViewProfDocuments");
// Columns of both queries.
enum {
    Id,
    ListFio,
    ListQual,
    IssueDate,
    EditDate,
    AttNumber,
    RegNumber,
    Profession,
    Qual,
    ProtocolDate,
    ProtocolNumber
};

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

bool accepted(const DocumentFilter& filter, const QSqlQuery& query) {
    return filter.accepts(query.value(ListFio).toString(), query.value(ListQual).toString(), query.value(IssueDate),
                          query.value(EditDate));
}

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

bool RegistryBook::write(const FilterListType& filters, const QString& path, QString* error,
                         const ExportProgress& progress, ExportFailure* failure) {
    if (error)
        error->clear();
    const DocumentFilter filter(filters);
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
        if (accepted(filter, query))
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

QList<qint64> RegistryBook::shownIds(const FilterListType& filters, QString* error) {
    const DocumentFilter filter(filters);
    QList<qint64> ids;
    QSqlQuery query(QSqlDatabase::database());
    if (runQuery(query, listSql + QStringLiteral(" ORDER BY profId"))) {
        while (query.next())
            if (accepted(filter, query))
                ids.append(query.value(Id).toLongLong());
    }
    if (query.lastError().isValid()) {
        MZ_LOG() << "cannot list the documents" << query.lastError().text();
        if (error)
            *error = readError(query.lastError());
        return {};
    }
    return ids;
}
