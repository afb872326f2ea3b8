// The two table readers of the import: workbooks written by real writers and hostile packages made
// at test time, and CSV or clipboard text in the encodings and separators spreadsheets use.

#include "tabletext.h"
#include "testenvironment.h"
#include "testregistry.h"
#include "xlsxreader.h"

#include <QDate>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

namespace {
const QString notWorkbook = QStringLiteral("Файл не является книгой Excel (.xlsx) или повреждён.");
const QString damaged = QStringLiteral("Файл повреждён или не является книгой Excel (.xlsx).");
const QString columnsCut = QStringLiteral("Прочитаны только первые 256 столбцов.");
const QString rowsCut = QStringLiteral("Прочитаны только первые 100000 строк.");

// The table every CSV variant holds: an empty cell, separators, quotes and a line break inside
// cells, and a row whose last cells are empty.
const QVector<QStringList> csvTable = {
    {QStringLiteral("Фамилия"), QStringLiteral("Имя"), QStringLiteral("Отчество"), QStringLiteral("Примечание")},
    {QStringLiteral("Иванов"), QStringLiteral("Иван"), QString(), QStringLiteral("а; б, в\tг")},
    {QStringLiteral("Ёлкина"), QStringLiteral("Анна \"Ася\""), QStringLiteral("строка 1\nстрока 2"), QString()},
};

// The table as a spreadsheet program saves it: a cell is quoted only when it needs to be.
QString csvText(QChar separator, const QString& rowEnd) {
    QStringList lines;
    for (const QStringList& row : csvTable) {
        QStringList cells;
        for (QString cell : row) {
            if (cell.contains(separator) || cell.contains(QLatin1Char('"')) || cell.contains(QLatin1Char('\n')))
                cell = QLatin1Char('"') + cell.replace(QLatin1String("\""), QLatin1String("\"\"")) + QLatin1Char('"');
            cells << cell;
        }
        lines << cells.join(separator);
    }
    return lines.join(rowEnd) + rowEnd;
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

class TableReadersTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir _dir;
    QString book(const QString& name) const { return _dir.filePath(name); }

private slots:
    void initTestCase() {
        QVERIFY(_dir.isValid());
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
                     {testDataPath(QStringLiteral("imports/make_workbooks.py")), _dir.path()});
        if (!python.waitForStarted())
            QSKIP("no /usr/bin/python3 to write the workbooks");
        if (!python.waitForFinished(120000))
            python.kill(), python.waitForFinished();
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    }

    void workbookCells_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("sheet");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QVariant>("expected");
        const auto add = [](const char* name, const char* file, int sheet, int row, int column, QVariant expected) {
            QTest::newRow(name) << QString::fromLatin1(file) << sheet << row << column << expected;
        };
        add("shared string", "xlsxwriter.xlsx", 1, 0, 0, QStringLiteral("Фамилия"));
        add("built-in date format", "xlsxwriter.xlsx", 1, 1, 1, QDate(2001, 3, 5));
        add("letters in quotes are no date", "xlsxwriter.xlsx", 1, 1, 2, 72.5);
        add("custom date with a time", "xlsxwriter.xlsx", 1, 1, 3, QDate(2024, 6, 30));
        add("text formula's cached value", "xlsxwriter.xlsx", 1, 2, 0, QStringLiteral("Иванова-2"));
        add("empty cell in the middle", "xlsxwriter.xlsx", 1, 2, 1, QVariant());
        add("number formula's cached value", "xlsxwriter.xlsx", 1, 2, 2, 145.0);
        add("boolean", "xlsxwriter.xlsx", 1, 2, 3, false);
        add("day after the missing leap day", "xlsxwriter.xlsx", 1, 3, 2, QDate(1900, 3, 1));
        add("the missing leap day stays a number", "xlsxwriter.xlsx", 1, 4, 2, 60.0);
        add("last day a workbook knows", "xlsxwriter.xlsx", 1, 5, 2, QDate(9999, 12, 31));
        add("beyond it a number", "xlsxwriter.xlsx", 1, 6, 2, 2958466.0);
        add("first sheet", "xlsxwriter.xlsx", 0, 0, 0, QStringLiteral("первый лист"));
        add("merged title", "openpyxl.xlsx", 0, 0, 0, QStringLiteral("Список группы № 12"));
        add("merged title's other cells", "openpyxl.xlsx", 0, 0, 1, QVariant());
        add("header below a blank row", "openpyxl.xlsx", 0, 2, 4, QStringLiteral("Пол"));
        add("date of a writer's own format", "openpyxl.xlsx", 0, 3, 1, QDate(1999, 12, 31));
        add("text of digits", "openpyxl.xlsx", 0, 3, 2, QStringLiteral("112-233-445 95"));
        add("day number without a date format", "openpyxl.xlsx", 0, 6, 1, 36526.0);
        add("inline string", "inline.xlsx", 0, 0, 0, QStringLiteral("Фамилия"));
        add("rich runs without the phonetic one", "inline.xlsx", 0, 0, 1, QStringLiteral("Имя"));
        add("skipped row", "inline.xlsx", 0, 1, 0, QVariant());
        add("shared string beyond the list", "inline.xlsx", 0, 2, 0, QVariant());
        add("error cell", "inline.xlsx", 0, 2, 1, QVariant());
        add("formula without a cached value", "inline.xlsx", 0, 2, 2, QVariant());
        add("boolean true", "inline.xlsx", 0, 2, 3, true);
        add("cell without a reference", "inline.xlsx", 0, 2, 4, QStringLiteral("текст"));
        add("1904 day numbers", "date1904.xlsx", 0, 0, 0, QDate(2020, 2, 29));
    }
    void workbookCells() {
        QFETCH(QString, file);
        QFETCH(int, sheet);
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QVariant, expected);
        if (!QFile::exists(book(file)))
            QSKIP("the writer module is not installed");
        XlsxReader reader;
        QString error;
        QVERIFY2(reader.open(book(file), &error), qPrintable(error));
        ImportTable table;
        QVERIFY2(reader.readSheet(sheet, &table, &error), qPrintable(error));
        const QVariant cell =
            row < table.rows.size() && column < table.rows.at(row).size() ? table.rows.at(row).at(column) : QVariant();
        QCOMPARE(cell.type(), expected.type());
        QCOMPARE(cell, expected);
    }

    void workbookShape_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("sheet");
        QTest::addColumn<QString>("sheetNames");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QString>("notice");
        QTest::newRow("several sheets") << "xlsxwriter.xlsx" << 1 << "Сводка|Группа" << 7 << 4 << QString();
        QTest::newRow("title, blank rows") << "openpyxl.xlsx" << 0 << "Список|Пустой" << 7 << 5 << QString();
        QTest::newRow("empty sheet") << "openpyxl.xlsx" << 1 << "Список|Пустой" << 0 << 0 << QString();
        QTest::newRow("hand-written") << "inline.xlsx" << 0 << "Лист1" << 3 << 5 << QString();
        QTest::newRow("300 columns") << "wide.xlsx" << 0 << "Sheet1" << 1 << 256 << columnsCut;
        QTest::newRow("last cell of a sheet")
            << "farcell.xlsx" << 0 << "Лист1" << 1 << 1 << columnsCut + QLatin1Char(' ') + rowsCut;
        QTest::newRow("100001 rows") << "manyrows.xlsx" << 0 << "Лист1" << 100000 << 1 << rowsCut;
    }
    void workbookShape() {
        QFETCH(QString, file);
        QFETCH(int, sheet);
        QFETCH(QString, sheetNames);
        QFETCH(int, rows);
        QFETCH(int, columns);
        QFETCH(QString, notice);
        if (!QFile::exists(book(file)))
            QSKIP("the writer module is not installed");
        XlsxReader reader;
        QString error;
        QVERIFY2(reader.open(book(file), &error), qPrintable(error));
        QCOMPARE(reader.sheetNames().join(QLatin1Char('|')), sheetNames);
        ImportTable table;
        QVERIFY2(reader.readSheet(sheet, &table, &error), qPrintable(error));
        QCOMPARE(table.rows.size(), rows);
        QCOMPARE(table.columnCount(), columns);
        QCOMPARE(table.notice, notice);
        if (file == QLatin1String("manyrows.xlsx"))
            QCOMPARE(table.text(rows - 1, 0), QString::number(rows - 1));
    }

    void workbookRefused_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("error");
        QTest::newRow("not a zip") << "notzip.xlsx" << notWorkbook;
        QTest::newRow("truncated zip") << "truncated.xlsx" << notWorkbook;
        QTest::newRow("no workbook part") << "noworkbook.xlsx" << notWorkbook;
        QTest::newRow("sheet part missing") << "nosheet.xlsx" << notWorkbook;
        QTest::newRow("password or .xls")
            << "ole.xlsx"
            << QStringLiteral("Книга защищена паролем или сохранена в старом формате .xls. Сохраните её в Excel как "
                              "«Книга Excel (.xlsx)» без пароля.");
        QTest::newRow("1 GB of zeros") << "bomb.xlsx"
                                       << QStringLiteral(
                                              "Файл слишком большой для импорта (часть книги больше 50 МБ).");
        QTest::newRow("understated size")
            << "liar.xlsx" << QStringLiteral("Файл слишком большой для импорта (часть книги больше 50 МБ).");
        QTest::newRow("entity declarations") << "laughs.xlsx" << damaged;
        QTest::newRow("broken XML") << "broken.xlsx" << damaged;
        QTest::newRow("missing file") << "absent.xlsx"
                                      << QStringLiteral("Не удалось открыть файл %1: No such file or directory.");
    }
    void workbookRefused() {
        QFETCH(QString, file);
        QFETCH(QString, error);
        XlsxReader reader;
        ImportTable table;
        table.rows = {{QStringLiteral("прежнее")}};
        QString reason;
        const bool read = reader.open(book(file), &reason) && reader.readSheet(0, &table, &reason);
        QVERIFY(!read);
        QCOMPARE(reason, QString(error).replace(QLatin1String("%1"), book(file)));
        QCOMPARE(table.rows.size(), 1);
    }

    void workbookProgress() {
        if (!QFile::exists(book(QStringLiteral("rows.xlsx"))))
            QSKIP("the writer module is not installed");
        XlsxReader reader;
        QString error;
        QVERIFY(reader.open(book(QStringLiteral("rows.xlsx")), &error));
        QList<int> seen;
        ImportTable table;
        QVERIFY(reader.readSheet(0, &table, &error, [&](int percent) { return seen << percent, true; }));
        QVERIFY(seen.size() >= 3);
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        QVERIFY(std::any_of(seen.begin(), seen.end(), [](int percent) { return percent > 0 && percent < 100; }));
        QCOMPARE(seen.last(), 100);
        QCOMPARE(table.rows.size(), 5000);
        // Stopping fails the read and leaves the table as it was.
        ImportTable stopped;
        QVERIFY(!reader.readSheet(0, &stopped, &error, [](int percent) { return percent < 50; }));
        QCOMPARE(error, QStringLiteral("Чтение прервано."));
        QVERIFY(stopped.rows.isEmpty());
        // One reader opens another workbook after a failed open, as the import window's does.
        QVERIFY(!reader.open(book(QStringLiteral("missing.xlsx")), &error));
        QVERIFY(reader.sheetNames().isEmpty());
        QVERIFY(reader.open(book(QStringLiteral("rows.xlsx")), &error));
        QVERIFY(reader.readSheet(0, &table, &error));
        QCOMPARE(table.rows.size(), 5000);
    }

    // A text reports its progress as a workbook does and stops when told to.
    void textProgress() {
        QString text;
        for (int row = 0; row < 5000; ++row)
            text += QStringLiteral("Фамилия%1;Имя;\"в кавычках;\nс переносом\"\r\n").arg(row);
        QList<int> seen;
        ImportTable table;
        QString error;
        QVERIFY(TableText::parse(text, ';', &table, &error, [&](int percent) { return seen << percent, true; }));
        QVERIFY(seen.size() >= 50);
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        QCOMPARE(seen.last(), 100);
        QCOMPARE(table.rows.size(), 5000);
        ImportTable stopped;
        QVERIFY(!TableText::fromClipboard(text, &stopped, &error, [](int percent) { return percent < 50; }));
        QCOMPARE(error, QStringLiteral("Чтение прервано."));
        QVERIFY(stopped.rows.isEmpty());
    }

    void csvFile_data() {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("rowEnd");
        for (const char* encoding : {"UTF-8", "UTF-8 BOM", "windows-1251", "UTF-16LE BOM"})
            for (const QString& separator : {QStringLiteral(";"), QStringLiteral(","), QStringLiteral("\t")})
                for (const QString& rowEnd : {QStringLiteral("\r\n"), QStringLiteral("\n")})
                    QTest::addRow("%s %s %s", encoding, qPrintable(separator == "\t" ? "tab" : separator),
                                  rowEnd.size() == 2 ? "CRLF" : "LF")
                        << QByteArray(encoding) << separator << rowEnd;
    }
    void csvFile() {
        QFETCH(QByteArray, encoding);
        QFETCH(QString, separator);
        QFETCH(QString, rowEnd);
        const QString text = csvText(separator.at(0), rowEnd);
        QByteArray bytes = QTextCodec::codecForName(encoding.split(' ').first())->fromUnicode(text);
        if (encoding == "UTF-8 BOM")
            bytes.prepend("\xEF\xBB\xBF");
        if (encoding == "UTF-16LE BOM")
            bytes.prepend("\xFF\xFE");
        QFile file(_dir.filePath(QStringLiteral("table.csv")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
        file.close();
        ImportTable table;
        QString error;
        QVERIFY2(TableText::readFile(file.fileName(), &table, &error), qPrintable(error));
        QStringList expected;
        for (const QStringList& row : csvTable)
            expected << (row.last().isEmpty() ? QStringList(row.mid(0, row.size() - 1)) : row).join(QLatin1Char('|'));
        QCOMPARE(rowTexts(table), expected);
        QVERIFY(!table.rows.at(1).at(2).isValid());
        QVERIFY(table.notice.isEmpty());
    }

    void guessSeparator_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("separator");
        QTest::newRow("semicolons") << "a;b\n1;2"
                                    << ";";
        QTest::newRow("commas") << "a,b\n1,2"
                                << ",";
        QTest::newRow("decimal commas") << "1,5;2,5\n3,5;4"
                                        << ";";
        QTest::newRow("tie prefers the semicolon") << "a;b,c\n1;2,3"
                                                   << ";";
        QTest::newRow("title above the table") << "Список группы\nФИО,Дата\nИванов,01.01.2000"
                                               << ",";
        QTest::newRow("separators inside quotes") << "\"a;b\",c\n\"d;e\",f"
                                                  << ",";
        QTest::newRow("tabs on every line") << "a\tb,c\n1\t2,3\n4\t5"
                                            << "\t";
        QTest::newRow("nothing to split") << "abc"
                                          << ";";
    }
    void guessSeparator() {
        QFETCH(QString, text);
        QFETCH(QString, separator);
        QCOMPARE(QString(TableText::guessSeparator(text)), separator);
    }

    // Text through each way in: "parse" (';'), "clipboard", "file" (the text saved as UTF-8), "sparse"
    // (a file just over the limit, never written out) and "missing".
    void textBounds_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("firstRows");
        QTest::addColumn<QSize>("size"); // columns x rows
        QTest::addColumn<QString>("notice");
        QStringList wide;
        for (int i = 0; i < 10000; ++i)
            wide << QString::number(i);
        const QString megabyte(1 << 20, QChar(0x0416));
        const QString tooLarge = QStringLiteral("Файл слишком большой для импорта (больше 50 МБ).");
        const auto add = [](const char* name, const char* source, const QString& text, const QString& error,
                            const QStringList& firstRows, QSize size, const QString& notice = QString()) {
            QTest::newRow(name) << QString::fromLatin1(source) << text << error << firstRows << size << notice;
        };
        add("10000 columns", "parse", wide.join(';'), {}, {}, {256, 1}, columnsCut);
        add("100001 rows", "parse", QStringLiteral("1\n").repeated(100001), {}, {"1"}, {1, 100000}, rowsCut);
        add("1 MB name", "parse", megabyte, {}, {megabyte}, {1, 1});
        add("unclosed quote", "parse", "a;\"b\nc", {}, {"a|b\nc"}, {2, 1});
        add("text after a closing quote", "parse", "\"a\"b;c\r\r", {}, {"ab|c", ""}, {2, 2});
        add("spaces kept", "parse", " a ; b ", {}, {" a | b "}, {2, 1});
        add("text over the limit", "parse", QString(int(ImportTable::maxBytes) + 1, QLatin1Char('a')),
            QStringLiteral("Текст слишком большой для импорта (больше 50 МБ)."), {}, {0, 0});
        add("only blank lines", "parse", "\n;\n", QStringLiteral("Нет данных для импорта."), {}, {0, 0});
        add("copied cells", "clipboard", "Иванов\t\"две\nстроки\"\r\nПетров,П.\t2\r\n", {},
            {"Иванов|две\nстроки", "Петров,П.|2"}, {2, 2});
        add("copied without a tab", "clipboard", "a;b\n1;2\n", {}, {"a|b", "1|2"}, {2, 2});
        add("empty clipboard", "clipboard", " \r\n", QStringLiteral("Буфер обмена пуст."), {}, {0, 0});
        add("empty file", "file", "", QStringLiteral("Файл пуст."), {}, {0, 0});
        add("line breaks only", "file", "\r\n\r\n", QStringLiteral("Файл пуст."), {}, {0, 0});
        add("file over the limit", "sparse", "a;b\n", tooLarge, {}, {0, 0});
        add("missing file", "missing", "", QStringLiteral("Не удалось открыть файл %1: No such file or directory."), {},
            {0, 0});
    }
    void textBounds() {
        QFETCH(QString, source);
        QFETCH(QString, text);
        QFETCH(QString, error);
        QFETCH(QStringList, firstRows);
        QFETCH(QSize, size);
        QFETCH(QString, notice);
        const QString path = _dir.filePath(QStringLiteral("text-%1.csv").arg(QTest::currentDataTag()));
        QFile file(path);
        if (source == QLatin1String("file") || source == QLatin1String("sparse")) {
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QVERIFY(file.write(text.toUtf8()) == text.toUtf8().size());
            QVERIFY(source == QLatin1String("file") || file.resize(ImportTable::maxBytes + 1));
            file.close();
        }
        ImportTable table;
        QString reason;
        const bool read = source == QLatin1String("parse")       ? TableText::parse(text, ';', &table, &reason)
                          : source == QLatin1String("clipboard") ? TableText::fromClipboard(text, &table, &reason)
                                                                 : TableText::readFile(path, &table, &reason);
        QCOMPARE(read, error.isEmpty());
        QCOMPARE(reason, QString(error).replace(QLatin1String("%1"), path));
        QCOMPARE(QSize(table.columnCount(), table.rows.size()), size);
        QCOMPARE(table.notice, notice);
        QCOMPARE(rowTexts(table).mid(0, firstRows.size()), firstRows);
    }
};

ORVANE_TEST(TableReadersTest)
#include "tst_tablereaders.moc"
