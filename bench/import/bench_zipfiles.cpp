// Measures what hostile zip-based group lists cost the import: each file is made here, then read
// by a child process of this program (open, then the first sheet, as the import window does) so
// that its peak memory is its own.
//   bench_zipfiles [--keep FOLDER] [CASE...]   makes and reads every case (or those named)
//   bench_zipfiles --read FILE            reads one file, prints seconds, peak memory and the result
#include "importsource.h"
#include "zipbuilder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

const QByteArray xlsxNs = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
const QByteArray odsHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document-content "
    "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body><office:spreadsheet>"
    "<table:table table:name=\"Лист1\">";
const QByteArray odsTail = "</table:table></office:spreadsheet></office:body></office:document-content>";

QByteArray attributes(int count) {
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += " a" + QByteArray::number(i) + "=\"\"";
    return text;
}

void xlsx(const QString& path, const QByteArray& sheetData, const QByteArray& sheetAttributes = QByteArray()) {
    ZipBuilder zip(path);
    zip.add("xl/workbook.xml", "<workbook " + xlsxNs + "><sheets><sheet name=\"Лист1\" sheetId=\"1\" r:id=\"rId1\"" +
                                   sheetAttributes + "/></sheets></workbook>");
    zip.add("xl/_rels/workbook.xml.rels",
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
            "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
            "worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>");
    zip.add("xl/worksheets/sheet1.xml",
            "<worksheet " + xlsxNs + "><sheetData>" + sheetData + "</sheetData></worksheet>");
    zip.finish();
}

void ods(const QString& path, const QByteArray& rows) {
    ZipBuilder zip(path);
    zip.add("mimetype", "application/vnd.oasis.opendocument.spreadsheet", false);
    zip.add("content.xml", odsHead + rows + odsTail);
    zip.finish();
}

void manyEntries(const QString& path, int count) {
    ZipBuilder zip(path);
    zip.add("xl/workbook.xml", "<workbook " + xlsxNs + "/>");
    for (int i = 0; i < count; ++i)
        zip.add("e" + QByteArray::number(i), QByteArray(), false);
    zip.finish();
}

// Elements just under the attribute bound, as many as 50 MB hold: the dearest file still read.
QByteArray attributeRows(int perRow, qint64 bytes) {
    const QByteArray row = "<row" + attributes(perRow) + "/>";
    QByteArray data;
    data.reserve(int(bytes));
    while (data.size() + row.size() < bytes)
        data += row;
    return data;
}

void make(const QDir& dir, const QString& name) {
    const QString path = dir.filePath(name);
    if (name == "attributes50k.xlsx")
        xlsx(path, "<row" + attributes(50000) + "><c><v>1</v></c></row>");
    else if (name == "attributes200k.xlsx")
        xlsx(path, "<row" + attributes(200000) + "><c><v>1</v></c></row>");
    else if (name == "workbook200k.xlsx")
        xlsx(path, "<row><c><v>1</v></c></row>", attributes(200000));
    else if (name == "attributes200k.ods")
        ods(path, "<table:table-row" + attributes(200000) + "><table:table-cell/></table:table-row>");
    else if (name == "entries1m.xlsx")
        manyEntries(path, 1000000);
    else if (name == "entries3m.xlsx")
        manyEntries(path, 3000000);
    else if (name == "columnIV.xlsx") {
        QByteArray rows;
        for (int i = 1; i <= 100000; ++i)
            rows +=
                "<row r=\"" + QByteArray::number(i) + "\"><c r=\"IV" + QByteArray::number(i) + "\"><v>1</v></c></row>";
        xlsx(path, rows);
    } else if (name == "columnIV.ods") {
        const QByteArray row = "<table:table-row><table:table-cell table:number-columns-repeated=\"255\"/>"
                               "<table:table-cell office:value-type=\"float\" office:value=\"1\"/></table:table-row>";
        ods(path, row.repeated(100000));
    } else if (name == "repeated.ods") {
        ods(path, "<table:table-row table:number-rows-repeated=\"1048576\"><table:table-cell "
                  "table:number-columns-repeated=\"16384\" office:value-type=\"string\"><text:p>x</text:p>"
                  "</table:table-cell></table:table-row>");
    } else if (name == "emptyrepeated.ods") {
        ods(path, "<table:table-row><table:table-cell office:value-type=\"float\" office:value=\"1\"/>"
                  "<table:table-cell table:number-columns-repeated=\"16383\"/></table:table-row>"
                  "<table:table-row table:number-rows-repeated=\"1048575\"><table:table-cell "
                  "table:number-columns-repeated=\"16384\"/></table:table-row>");
    } else if (name == "bomb.ods") {
        ZipBuilder zip(path);
        zip.add("mimetype", "application/vnd.oasis.opendocument.spreadsheet", false);
        qint64 left = 1LL << 30;
        const QByteArray zeros(1 << 20, ' ');
        zip.understateSizes(1024);
        zip.addStream("content.xml", [&] {
            if (left <= 0)
                return QByteArray();
            left -= zeros.size();
            return zeros;
        });
        zip.finish();
    } else if (name == "bigcell.ods") {
        ods(path, "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>" +
                      QByteArray(45 * 1024 * 1024, 'x') + "</text:p></table:table-cell></table:table-row>");
    } else if (name == "attributes-at-bound.xlsx")
        xlsx(path, attributeRows(127, 45 * 1024 * 1024));
    else if (name == "attributes32.xlsx")
        xlsx(path, attributeRows(32, 45 * 1024 * 1024));
}

int readOne(const QString& path) {
    QElapsedTimer timer;
    timer.start();
    ImportSource source;
    ImportTable table;
    QString error;
    const bool read = source.open(path, &error) && source.readSheet(0, &table, &error);
    const double seconds = timer.elapsed() / 1000.0;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%8.2f s %8.1f MB  %s\n", seconds, usage.ru_maxrss / 1024.0,
                read ? qPrintable(QStringLiteral("read: %1 rows, %2 columns %3")
                                      .arg(table.rows.size())
                                      .arg(table.columnCount())
                                      .arg(table.notice))
                     : qPrintable(QStringLiteral("refused: ") + error));
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == "--read")
        return readOne(args.at(2));
    QTemporaryDir temporary;
    QStringList chosen = args.mid(1);
    const bool keep = chosen.size() >= 2 && chosen.at(0) == "--keep";
    const QDir dir(keep ? chosen.at(1) : temporary.path());
    if (keep)
        chosen = chosen.mid(2);
    dir.mkpath(".");
    QStringList cases = {"attributes50k.xlsx",
                         "attributes200k.xlsx",
                         "workbook200k.xlsx",
                         "attributes200k.ods",
                         "entries1m.xlsx",
                         "entries3m.xlsx",
                         "columnIV.xlsx",
                         "columnIV.ods",
                         "repeated.ods",
                         "emptyrepeated.ods",
                         "bomb.ods",
                         "bigcell.ods",
                         "attributes-at-bound.xlsx",
                         "attributes32.xlsx"};
    if (!chosen.isEmpty())
        cases = chosen;
    for (const QString& name : cases) {
        if (!QFile::exists(dir.filePath(name)))
            make(dir, name);
        std::printf("%-26s %9.0f KB ", qPrintable(name), QFileInfo(dir.filePath(name)).size() / 1024.0);
        std::fflush(stdout);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(app.applicationFilePath(), {"--read", dir.filePath(name)});
        if (!child.waitForFinished(600000)) {
            child.kill();
            child.waitForFinished();
            std::printf("  stopped after 600 s\n");
        }
    }
    return 0;
}
