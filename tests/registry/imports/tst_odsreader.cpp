// The zip-based group lists: OpenDocument spreadsheets written by the real programs, files told by
// their content whatever their names, and hostile packages made at test time (a huge directory,
// an element with too many attributes, repeated rows and cells at a sheet's limits, a part that
// inflates to gigabytes, entities, a truncated zip), read through the one ImportSource.

#include "importsource.h"
#include "odsreader.h"
#include "testenvironment.h"
#include "testregistry.h"
#include "zipbuilder.h"
#include "zippackage.h"

#include <QDate>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString odsDamaged = QStringLiteral("Файл повреждён или не является таблицей OpenDocument (.ods).");
const QString notOds = QStringLiteral("Файл не является таблицей OpenDocument (.ods) или повреждён.");
const QString xlsxDamaged = QStringLiteral("Файл повреждён или не является книгой Excel (.xlsx).");
const QString tooManyEntries = QStringLiteral("Файл повреждён или не является таблицей: в архиве больше 10000 файлов.");
const QString tooLarge = QStringLiteral("Файл слишком большой для импорта (часть таблицы больше 50 МБ).");
const QString whatToBring =
    QStringLiteral(" Импортировать можно книгу Excel (.xlsx, .xls), таблицу OpenDocument (.ods) или текст CSV.");
const QString columnsCut = QStringLiteral("Прочитаны только первые 256 столбцов.");
const QString rowsCut = QStringLiteral("Прочитаны только первые 100000 строк.");
const QString cellsCut = QStringLiteral("Прочитаны только первые 15625 строк: в таблице больше 4000000 ячеек.");

const QByteArray odsHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document-content "
    "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body><office:spreadsheet>"
    "<table:table table:name=\"Лист1\">";
const QByteArray odsTail = "</table:table></office:spreadsheet></office:body></office:document-content>";
const QByteArray xlsxNs = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
const QByteArray odsMime = "application/vnd.oasis.opendocument.spreadsheet";
const QByteArray number = "<table:table-cell office:value-type=\"float\" office:value=\"1\"/>";

QByteArray attributes(int count) {
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += " a" + QByteArray::number(i) + "=\"=\"";
    return text;
}

void ods(const QString& path, const QByteArray& rows) {
    ZipBuilder zip(path);
    zip.add("mimetype", odsMime, false);
    zip.add("content.xml", odsHead + rows + odsTail);
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
}

// Each hostile file by its name; the file name's suffix is what a clerk would see.
void makeHostile(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    if (name == "entries.ods") {
        ZipBuilder zip(path);
        zip.add("mimetype", odsMime, false);
        zip.add("content.xml", odsHead + odsTail);
        for (int i = 0; i < ZipPackage::maxEntries; ++i)
            zip.add("e" + QByteArray::number(i), QByteArray(), false);
    } else if (name == "entries70k.xlsx") {
        ZipBuilder zip(path); // zip64 end records
        for (int i = 0; i < 70000; ++i)
            zip.add("e" + QByteArray::number(i), QByteArray(), false);
    } else if (name == "attributes.ods") {
        ods(path, "<table:table-row" + attributes(ZipPart::maxAttributes + 1) + ">" + number + "</table:table-row>");
    } else if (name == "attributes-at-bound.ods") {
        ods(path, "<table:table-row" + attributes(ZipPart::maxAttributes) + ">" + number + "</table:table-row>");
    } else if (name == "crowded.ods") {
        const QByteArray row =
            "<table:table-row" + attributes(ZipPart::crowdedAttributes + 1) + ">" + number + "</table:table-row>";
        ods(path, row.repeated(ZipPart::maxCrowded / (ZipPart::crowdedAttributes + 1) + 1));
    } else if (name == "uncrowded.ods") {
        const QByteArray row =
            "<table:table-row" + attributes(ZipPart::crowdedAttributes) + ">" + number + "</table:table-row>";
        ods(path, row.repeated(ZipPart::maxCrowded / ZipPart::crowdedAttributes + 1));
    } else if (name == "attributes.xlsx") {
        xlsx(path, "<row" + attributes(ZipPart::maxAttributes + 1) + "><c><v>1</v></c></row>");
    } else if (name == "workbook-attributes.xlsx") {
        xlsx(path, "<row><c><v>1</v></c></row>", attributes(100000));
    } else if (name == "repeated.ods") {
        ods(path, "<table:table-row table:number-rows-repeated=\"1048576\"><table:table-cell "
                  "table:number-columns-repeated=\"16384\" office:value-type=\"string\"><text:p>x</text:p>"
                  "</table:table-cell></table:table-row>");
    } else if (name == "trailing.ods") {
        ods(path, "<table:table-row>" + number +
                      "<table:table-cell table:number-columns-repeated=\"1023\"/></table:table-row>"
                      "<table:table-row table:number-rows-repeated=\"1048575\"><table:table-cell "
                      "table:number-columns-repeated=\"1024\"/></table:table-row>");
    } else if (name == "farrow.ods") {
        ods(path, "<table:table-row>" + number +
                      "</table:table-row><table:table-row "
                      "table:number-rows-repeated=\"1000000\"><table:table-cell/></table:table-row><table:table-row>" +
                      number + "</table:table-row>");
    } else if (name == "columnIV.ods") {
        const QByteArray row = "<table:table-row><table:table-cell table:number-columns-repeated=\"255\"/>" + number +
                               "</table:table-row>";
        ods(path, row.repeated(100000));
    } else if (name == "columnIV.xlsx") {
        QByteArray rows;
        for (int i = 1; i <= 100000; ++i)
            rows += "<row><c r=\"IV" + QByteArray::number(i) + "\"><v>1</v></c></row>";
        xlsx(path, rows);
    } else if (name == "bomb.ods") {
        ZipBuilder zip(path);
        zip.add("mimetype", odsMime, false);
        zip.understateSizes(1000);
        int chunks = 0;
        zip.addStream("content.xml", [&] {
            if (++chunks > 200)
                return QByteArray();
            return chunks == 1 ? odsHead : QByteArray(1 << 20, ' ');
        });
    } else if (name == "entities.ods") {
        ZipBuilder zip(path);
        zip.add("mimetype", odsMime, false);
        QByteArray dtd = "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY a \"aaaaaaaaaa\">";
        for (int i = 1; i < 9; ++i)
            dtd += "<!ENTITY " + QByteArray(1, char('a' + i)) + " \"" +
                   QByteArray("&" + QByteArray(1, char('a' + i - 1)) + ";").repeated(10) + "\">";
        zip.add("content.xml", dtd + "]>" + odsHead.mid(odsHead.indexOf("<office:document-content")) +
                                   "<table:table-row><table:table-cell><text:p>&i;</text:p></table:table-cell>"
                                   "</table:table-row>" +
                                   odsTail);
    } else if (name == "doctype.ods") {
        ZipBuilder zip(path);
        zip.add("mimetype", odsMime, false);
        zip.add("content.xml", "<?xml version=\"1.0\"?><!DOCTYPE d [" +
                                   QByteArray("<!ATTLIST table:table-cell a CDATA \"b\">").repeated(1000) + "]>" +
                                   odsHead.mid(odsHead.indexOf("<office:document-content")) + odsTail);
    } else if (name == "truncated.ods") {
        ZipBuilder zip(path);
        zip.add("mimetype", odsMime, false);
        zip.add("content.xml", odsHead + QByteArray("<table:table-row>") + number + "</table:table-row>" + odsTail);
        zip.finish(200);
    } else if (name == "nocontent.ods") {
        ZipBuilder zip(path);
        zip.add("mimetype", odsMime, false);
    } else if (name == "encrypted.ods") {
        ZipBuilder zip(path);
        zip.add("mimetype", odsMime, false);
        zip.add("content.xml", QByteArray(300, '\x17'));
        zip.add("META-INF/manifest.xml",
                "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">"
                "<manifest:file-entry manifest:full-path=\"content.xml\"><manifest:encryption-data "
                "manifest:checksum-type=\"SHA1/1K\"/></manifest:file-entry></manifest:manifest>");
    } else if (name == "letter.odt") {
        ZipBuilder zip(path);
        zip.add("mimetype", "application/vnd.oasis.opendocument.text", false);
        zip.add("content.xml", "<office:document-content/>");
    } else if (name == "letter.docx") {
        ZipBuilder zip(path);
        zip.add("word/document.xml", "<w:document/>");
    } else if (name == "photos.zip") {
        ZipBuilder zip(path);
        zip.add("photo.jpg", "not a table");
    }
}

QStringList rowTexts(const ImportTable& table) {
    QStringList rows;
    for (int row = 0; row < table.rows.size(); ++row) {
        QStringList cells;
        for (int column = 0; column < table.rows.at(row).size(); ++column)
            cells << table.text(row, column);
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}
} // namespace

class OdsReaderTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir _dir;
    QString copyAs(const QString& source, const QString& name) const {
        const QString path = _dir.filePath(name);
        QFile::remove(path);
        return QFile::copy(source, path) ? path : QString();
    }

private slots:
    void initTestCase() { QVERIFY(_dir.isValid()); }

    // The group sheet as both writers keep it: the merged header's covered cells take their
    // places, the repeated empty rows stay between the people, the types keep their values.
    void spreadsheetCells_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QVariant>("expected");
        for (const char* file : {"calc-group.ods", "gnumeric-group.ods"}) {
            const auto add = [file](const char* what, int row, int column, const QVariant& expected) {
                QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(file, what)))
                    << file << row << column << expected;
            };
            add("title", 0, 0, QStringLiteral("Список группы С-21"));
            add("merged header", 1, 0, QStringLiteral("Ф.И.О."));
            add("covered cell", 1, 2, QVariant());
            add("after the covered cells", 1, 3, QStringLiteral("Дата рождения"));
            add("second header row", 2, 2, QStringLiteral("Отчество"));
            add("Cyrillic text", 3, 0, QStringLiteral("Иванов"));
            add("date", 3, 3, QDate(2001, 2, 1));
            add("number", 3, 4, 4.5);
            add("percentage", 3, 5, 0.75);
            add("boolean true", 3, 6, true);
            add("two paragraphs", 3, 7, QStringLiteral("строка 1\nстрока 2"));
            add("repeated empty row", 5, 0, QVariant());
            add("after repeated empty rows", 7, 0, QStringLiteral("Ёлкина"));
            add("empty cell", 7, 2, QVariant());
            add("boolean false", 7, 6, false);
            add("blanks (the writer drops the tab)", 7, 7, QStringLiteral("а   бв"));
            add("span", 8, 0, QStringLiteral("Сидоров"));
            add("date with a time", 8, 3, QDate(2000, 5, 15));
            add("currency", 8, 4, 1500.5);
            add("text of the cell (the writer drops the line break)", 8, 7, QStringLiteral("перваявторая"));
        }
        QTest::newRow("csv: date") << "gnumeric-csv.ods" << 1 << 3 << QVariant(QDate(2001, 2, 1));
        QTest::newRow("csv: number") << "gnumeric-csv.ods" << 4 << 4 << QVariant(3.0);
    }
    void spreadsheetCells() {
        QFETCH(QString, file);
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QVariant, expected);
        OdsReader reader;
        QString error;
        QVERIFY2(reader.open(testDataPath("imports/ods/" + file), &error), qPrintable(error));
        ImportTable table;
        QVERIFY2(reader.readSheet(0, &table, &error), qPrintable(error));
        const QVariant cell =
            row < table.rows.size() && column < table.rows.at(row).size() ? table.rows.at(row).at(column) : QVariant();
        QCOMPARE(cell.type(), expected.type());
        QCOMPARE(cell, expected);
    }

    // The text of a cell as a writer may put it: the inline elements no writer above kept.
    void cellText_data() {
        QTest::addColumn<QByteArray>("cell");
        QTest::addColumn<QString>("expected");
        const auto add = [](const char* what, const char* cell, const QString& expected) {
            QTest::newRow(what) << QByteArray(cell) << expected;
        };
        add("tab and line break", "<text:p>а<text:tab/>б<text:line-break/>в</text:p>", QStringLiteral("а\tб\nв"));
        add("blank without a count", "<text:p>а<text:s/>б</text:p>", QStringLiteral("а б"));
        add("a billion blanks", "<text:p>а<text:s text:c=\"1000000000\"/></text:p>",
            QStringLiteral("а") + QString(1024, ' '));
        add("nested spans and a link",
            "<text:p><text:span>И<text:span>ва</text:span></text:span><text:a>нов</text:a></text:p>",
            QStringLiteral("Иванов"));
        add("note and annotation passed over",
            "<office:annotation><text:p>заметка</text:p></office:annotation><text:p>Иванов<text:note>"
            "<text:note-body><text:p>сноска</text:p></text:note-body></text:note></text:p>",
            QStringLiteral("Иванов"));
        add("empty paragraphs", "<text:p/><text:p/>", QStringLiteral("\n"));
        add("heading and paragraph", "<text:h>Группа</text:h><text:p>С-21</text:p>", QStringLiteral("Группа\nС-21"));
        add("entities", "<text:p>&lt;О&apos;Коннор &amp; &#1071;&gt;</text:p>", QStringLiteral("<О'Коннор & Я>"));
    }
    void cellText() {
        QFETCH(QByteArray, cell);
        QFETCH(QString, expected);
        const QString path = _dir.filePath(QStringLiteral("cell.ods"));
        ods(path, "<table:table-row><table:table-cell/><table:table-cell office:value-type=\"string\" "
                  "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\">" +
                      cell + "</table:table-cell></table:table-row>");
        OdsReader reader;
        QString error;
        ImportTable table;
        QVERIFY2(reader.open(path, &error) && reader.readSheet(0, &table, &error), qPrintable(error));
        QCOMPARE(table.rows.size(), 1);
        QCOMPARE(table.rows.at(0).size(), 2);
        QCOMPARE(table.rows.at(0).at(1).toString(), expected);
    }

    // Whatever the name, the content decides; the trailing empty rows and cells a writer repeats
    // to the sheet's end are not kept.
    void readByContent_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("sheet");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("sheetNames");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("columns");
        const int ods = int(ImportSource::Kind::Ods);
        const int xlsx = int(ImportSource::Kind::Xlsx);
        QTest::newRow("calc") << "calc-group.ods"
                              << "group.ods" << 0 << ods << "Группа|Сводка|Пустой" << 9 << 8;
        QTest::newRow("gnumeric") << "gnumeric-group.ods"
                                  << "g.ods" << 0 << ods << "Группа|Сводка|Пустой" << 9 << 8;
        QTest::newRow("second sheet") << "calc-group.ods"
                                      << "group.ods" << 1 << ods << "Группа|Сводка|Пустой" << 1 << 2;
        QTest::newRow("empty sheet") << "gnumeric-group.ods"
                                     << "g.ods" << 2 << ods << "Группа|Сводка|Пустой" << 0 << 0;
        QTest::newRow("csv through gnumeric") << "gnumeric-csv.ods"
                                              << "csv.ods" << 0 << ods << "group.csv" << 5 << 5;
        QTest::newRow(".ods named .xlsx") << "calc-group.ods"
                                          << "group.xlsx" << 0 << ods << "Группа|Сводка|Пустой" << 9 << 8;
        QTest::newRow(".ods named .csv") << "gnumeric-group.ods"
                                         << "group.csv" << 0 << ods << "Группа|Сводка|Пустой" << 9 << 8;
        QTest::newRow(".xlsx named .ods") << "book.xlsx"
                                          << "book.ods" << 0 << xlsx << "Лист1" << 1 << 2;
        QTest::newRow(".xlsx named .csv") << "book.xlsx"
                                          << "book.csv" << 0 << xlsx << "Лист1" << 1 << 2;
    }
    void readByContent() {
        QFETCH(QString, source);
        QFETCH(QString, name);
        QFETCH(int, sheet);
        QFETCH(int, kind);
        QFETCH(QString, sheetNames);
        QFETCH(int, rows);
        QFETCH(int, columns);
        QString path;
        if (source == QLatin1String("book.xlsx"))
            xlsx(path = _dir.filePath(name), "<row><c t=\"inlineStr\"><is><t>Иванов</t></is></c><c><v>2</v></c></row>");
        else
            path = copyAs(testDataPath("imports/ods/" + source), name);
        QCOMPARE(int(ImportSource::detect(path)), kind);
        ImportSource reader;
        QString error;
        QVERIFY2(reader.open(path, &error), qPrintable(error));
        QCOMPARE(reader.sheetNames().join(QLatin1Char('|')), sheetNames);
        ImportTable table;
        QVERIFY2(reader.readSheet(sheet, &table, &error), qPrintable(error));
        QCOMPARE(table.rows.size(), rows);
        QCOMPARE(table.columnCount(), columns);
        QCOMPARE(table.notice, QString());
        for (const QVector<QVariant>& row : table.rows)
            QVERIFY(row.isEmpty() || row.last().isValid()); // no padding after the last cell
    }

    // A hostile file is either refused with a reason or read within the bounds, cheaply.
    void hostileFiles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("shape"); // rows x columns: notice
        QTest::newRow("10001 entries") << "entries.ods" << tooManyEntries << QString();
        QTest::newRow("70000 entries, zip64") << "entries70k.xlsx" << tooManyEntries << QString();
        QTest::newRow("row over the attribute bound") << "attributes.ods" << odsDamaged << QString();
        QTest::newRow("row at the attribute bound") << "attributes-at-bound.ods" << QString() << "1x1: ";
        QTest::newRow("too many rows of many attributes") << "crowded.ods" << odsDamaged << QString();
        QTest::newRow("rows of fewer attributes") << "uncrowded.ods" << QString() << "4097x1: ";
        QTest::newRow("workbook row over the attribute bound") << "attributes.xlsx" << xlsxDamaged << QString();
        QTest::newRow("workbook sheet list of 100000 attributes")
            << "workbook-attributes.xlsx" << xlsxDamaged << QString();
        QTest::newRow("1048576 rows of 16384 cells")
            << "repeated.ods" << QString() << "15625x256: " + columnsCut + ' ' + cellsCut;
        QTest::newRow("trailing empty rows and cells") << "trailing.ods" << QString() << "1x1: ";
        QTest::newRow("a cell a million rows down") << "farrow.ods" << QString() << "1x1: " + rowsCut;
        QTest::newRow("column IV on 100000 rows") << "columnIV.ods" << QString() << "15625x256: " + cellsCut;
        QTest::newRow("workbook column IV on 100000 rows") << "columnIV.xlsx" << QString() << "15625x256: " + cellsCut;
        QTest::newRow("200 MB of blanks, size understated") << "bomb.ods" << tooLarge << QString();
        QTest::newRow("entity declarations") << "entities.ods" << odsDamaged << QString();
        QTest::newRow("document type without entities") << "doctype.ods" << odsDamaged << QString();
        QTest::newRow("truncated zip") << "truncated.ods" << notOds << QString();
        QTest::newRow("no content") << "nocontent.ods" << notOds << QString();
        QTest::newRow("password")
            << "encrypted.ods"
            << QStringLiteral("Таблица защищена паролем. Сохраните её без пароля как «Электронная таблица ODF (.ods)».")
            << QString();
        QTest::newRow("text document") << "letter.odt"
                                       << "Файл — текстовый документ OpenDocument (.odt), а не таблица." + whatToBring
                                       << QString();
        QTest::newRow("Word document") << "letter.docx"
                                       << "Файл — документ Word (.docx), а не таблица." + whatToBring << QString();
        QTest::newRow("other archive") << "photos.zip"
                                       << "Файл — архив ZIP, в котором нет таблицы." + whatToBring << QString();
    }
    void hostileFiles() {
        QFETCH(QString, name);
        QFETCH(QString, error);
        QFETCH(QString, shape);
        const QString path = _dir.filePath(name);
        makeHostile(path);
        ImportSource source;
        ImportTable table;
        table.rows = {{QStringLiteral("прежнее")}};
        QString reason;
        const bool read = source.open(path, &reason) && source.readSheet(0, &table, &reason);
        QFile::remove(path);
        QCOMPARE(reason, error);
        QCOMPARE(read, error.isEmpty());
        if (!read) {
            QCOMPARE(table.rows.size(), 1);
            return;
        }
        QCOMPARE(QStringLiteral("%1x%2: %3").arg(table.rows.size()).arg(table.columnCount()).arg(table.notice), shape);
    }

    // The open itself reports its progress and stops when told to; the sheet does as well.
    void progressFromTheFirstByte_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("spreadsheet") << "progress.ods";
        QTest::newRow("workbook") << "progress.xlsx";
    }
    void progressFromTheFirstByte() {
        QFETCH(QString, name);
        const QString path = _dir.filePath(name);
        if (name.endsWith(QLatin1String(".ods"))) {
            ods(path, ("<table:table-row><table:table-cell office:value-type=\"string\"><text:p>Фамилия</text:p>"
                       "</table:table-cell>" +
                       number + "</table:table-row>")
                          .repeated(20000));
        } else {
            // Shared strings are read while the workbook opens.
            ZipBuilder zip(path);
            zip.add("xl/workbook.xml",
                    "<workbook " + xlsxNs +
                        "><sheets><sheet name=\"Лист1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
            zip.add("xl/_rels/workbook.xml.rels",
                    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                    "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                    "relationships/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>");
            zip.add("xl/sharedStrings.xml",
                    "<sst " + xlsxNs + ">" + QByteArray("<si><t>Фамилия</t></si>").repeated(20000) + "</sst>");
            zip.add("xl/worksheets/sheet1.xml",
                    "<worksheet " + xlsxNs + "><sheetData>" +
                        QByteArray("<row><c t=\"s\"><v>0</v></c><c><v>1</v></c></row>").repeated(20000) +
                        "</sheetData></worksheet>");
        }
        ImportSource source;
        QString error;
        QList<int> seen;
        QVERIFY(source.open(path, &error, [&](int percent) { return seen << percent, true; }));
        QVERIFY(seen.size() >= 3);
        QVERIFY(std::any_of(seen.begin(), seen.end(), [](int percent) { return percent > 0 && percent < 100; }));
        QVERIFY(!source.open(path, &error, [](int percent) { return percent < 50; }));
        QCOMPARE(error, ImportTable::stoppedText());
        QVERIFY(source.sheetNames().isEmpty());
        QVERIFY(source.open(path, &error));
        ImportTable table;
        seen.clear();
        QVERIFY(source.readSheet(0, &table, &error, [&](int percent) { return seen << percent, true; }));
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        QCOMPARE(seen.last(), 100);
        QCOMPARE(table.rows.size(), 20000);
        QCOMPARE(rowTexts(table).last(), QStringLiteral("Фамилия|1"));
        ImportTable stopped;
        QVERIFY(!source.readSheet(0, &stopped, &error, [](int percent) { return percent < 50; }));
        QCOMPARE(error, ImportTable::stoppedText());
        QVERIFY(stopped.rows.isEmpty());
    }
};

ORVANE_TEST(OdsReaderTest)
#include "tst_odsreader.moc"
