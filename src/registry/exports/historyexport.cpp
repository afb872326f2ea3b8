#include "historyexport.h"

#include "historytext.h"
#include "xlsxworkbook.h"

#include <QLocale>
#include <iterator>

namespace {
struct Column {
    const char* header;
    double width;
};
const Column columns[] = {{"Когда", 19}, {"Кто", 24},   {"Действие", 22}, {"Документ", 10},
                          {"ФИО", 34},   {"Номер", 14}, {"Изменения", 90}};

// A cell's text; the summary of a very large change is cut rather than the export refused.
QString cellText(const QString& text) {
    QString value = XlsxWorkbook::cellValue(text);
    if (!XlsxWorkbook::fitsCell(value))
        value = value.left(XlsxWorkbook::maxCellText - 1) + QChar(0x2026);
    return value;
}

bool writeEntry(XlsxWorkbook& book, int row, const HistoryJournal::Entry& entry, int format) {
    const QString texts[] = {
        HistoryText::when(entry), HistoryText::who(entry),    HistoryText::action(entry), QString(), entry.docName,
        entry.attNumber,          HistoryText::summary(entry)};
    bool written = book.writeNumber(row, 3, double(entry.profId), format);
    for (int c = 0; c < int(std::size(texts)) && written; ++c)
        if (c != 3)
            written = book.writeString(row, c, cellText(texts[c]), format);
    return written;
}
} // namespace

QStringList HistoryExport::headers() {
    QStringList texts;
    for (const Column& column : columns)
        texts << QString::fromUtf8(column.header);
    return texts;
}

bool HistoryExport::write(const HistoryJournal::Filter& filter, const QString& path, QString* error,
                          const ExportProgress& progress, qint64* rows) {
    if (error)
        error->clear();
    XlsxWorkbook book(path, QStringLiteral("Журнал изменений"));
    XlsxFormat header;
    header.bold = true;
    header.thinBorder = true;
    header.wrap = true;
    XlsxFormat data;
    data.thinBorder = true;
    data.wrap = true;
    data.vertical = XlsxFormat::Vertical::Top;
    const int headerFormat = book.addFormat(header);
    const int dataFormat = book.addFormat(data);
    for (int c = 0; c < int(std::size(columns)); ++c) {
        book.setColumnWidth(c, columns[c].width);
        book.writeString(0, c, QString::fromUtf8(columns[c].header), headerFormat);
    }
    int row = 0;
    qint64 below = 0;
    QVector<HistoryJournal::Entry> page;
    do {
        if (!book.isValid())
            break;
        if (progress && !progress(row, 0))
            return false;
        QString reason;
        if (!HistoryJournal::find(filter, below, pageRows, &page, &reason)) {
            if (error)
                *error = QStringLiteral("Не удалось прочитать журнал изменений.\n%1").arg(reason);
            return false;
        }
        for (const HistoryJournal::Entry& entry : qAsConst(page)) {
            if (row >= maxRows) {
                if (error)
                    *error = QStringLiteral("Записей больше, чем помещается на лист Excel (%1): выберите "
                                            "период покороче.")
                                 .arg(QLocale(QLocale::Russian).toString(maxRows));
                return false;
            }
            if (!writeEntry(book, ++row, entry, dataFormat))
                break;
            below = entry.id;
        }
    } while (page.size() == pageRows);
    if (!book.isValid()) {
        if (error)
            *error = book.errorString();
        return false;
    }
    if (!book.close(error))
        return false;
    if (rows)
        *rows = row;
    return true;
}
