// A group list as ImportSource opens it: old Excel workbooks written by LibreOffice and Gnumeric,
// compound files that hold something else, and files that are no text, made at test time.

#include "importsource.h"
#include "tabletext.h"
#include "testenvironment.h"
#include "testregistry.h"
#include "xlsreader.h"

#include <QDate>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtEndian>
#include <QtTest>

namespace {
const QString damaged = QStringLiteral("Файл повреждён или не является книгой Excel (.xls).");
const QString locked =
    QStringLiteral("Книга защищена паролем. Сохраните её в Excel как «Книга Excel (.xlsx)» без пароля.");
const QString notTable = QStringLiteral("Файл не похож на таблицу: %1.");
const QString binary = notTable.arg(QStringLiteral("это двоичный файл, а не текст"));

QString book(const QString& name) {
    return testDataPath(QStringLiteral("imports/xls/") + name);
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void put32(QByteArray* bytes, int at, quint32 value) {
    qToLittleEndian(value, bytes->data() + at);
}

// A compound file of 512-byte sectors (header, FAT, one directory sector) listing `streams`, all
// empty: how a locked .xlsx or a Word document looks from outside.
QByteArray compoundFile(const QStringList& streams) {
    QByteArray file(512 * 3, '\0');
    file.replace(0, 8, QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
    qToLittleEndian<quint16>(0x3E, file.data() + 0x18);
    qToLittleEndian<quint16>(3, file.data() + 0x1A);
    qToLittleEndian<quint16>(0xFFFE, file.data() + 0x1C);
    qToLittleEndian<quint16>(9, file.data() + 0x1E);
    qToLittleEndian<quint16>(6, file.data() + 0x20);
    put32(&file, 0x2C, 1);          // one FAT sector
    put32(&file, 0x30, 1);          // the directory in sector 1
    put32(&file, 0x38, 4096);       // mini stream cut-off
    put32(&file, 0x3C, 0xFFFFFFFE); // no mini FAT
    put32(&file, 0x44, 0xFFFFFFFE); // no DIFAT sectors
    for (int i = 0; i < 109; ++i)
        put32(&file, 0x4C + 4 * i, i == 0 ? 0 : 0xFFFFFFFF);
    for (int i = 0; i < 128; ++i)
        put32(&file, 512 + 4 * i, i == 0 ? 0xFFFFFFFD : i == 1 ? 0xFFFFFFFE : 0xFFFFFFFF);
    const QStringList names = QStringList(QStringLiteral("Root Entry")) + streams;
    for (int e = 0; e < names.size() && e < 4; ++e) {
        const int at = 1024 + 128 * e;
        for (int i = 0; i < names.at(e).size(); ++i)
            qToLittleEndian<quint16>(names.at(e).at(i).unicode(), file.data() + at + 2 * i);
        qToLittleEndian<quint16>(quint16(2 * (names.at(e).size() + 1)), file.data() + at + 0x40);
        file[at + 0x42] = char(e == 0 ? 5 : 2);
        put32(&file, at + 0x44, 0xFFFFFFFF);
        put32(&file, at + 0x48, e + 1 < names.size() ? quint32(e + 1) : 0xFFFFFFFF);
        put32(&file, at + 0x4C, e == 0 && names.size() > 1 ? 1 : 0xFFFFFFFF);
        put32(&file, at + 0x74, 0xFFFFFFFE);
    }
    return file;
}

// LibreOffice's group list with a FILEPASS record where the record after the workbook's BOF was:
// what a workbook saved with a password starts with.
QByteArray withFilePass() {
    QByteArray bytes = readAll(book(QStringLiteral("libreoffice-group.xls")));
    const int bof = bytes.indexOf(QByteArray("\x09\x08\x10\x00\x00\x06\x05\x00", 8));
    if (bof >= 0)
        bytes.replace(bof + 20, 2, QByteArray("\x2F\x00", 2));
    return bytes;
}

// The group list whose sheets declare 65,536 rows of 256 columns each, though they hold a few
// cells: what libfreexl would allocate 268 MB a sheet for.
QByteArray withFullSheets() {
    QByteArray bytes = readAll(book(QStringLiteral("libreoffice-group.xls")));
    for (int at = 0; (at = bytes.indexOf(QByteArray("\x00\x02\x0E\x00", 4), at)) >= 0; at += 4) {
        put32(&bytes, at + 8, 65536);
        qToLittleEndian<quint16>(256, bytes.data() + at + 14);
    }
    return bytes;
}

QByteArray utf16(const QString& text, bool bigEndian) {
    return QTextCodec::codecForName(bigEndian ? "UTF-16BE" : "UTF-16LE")->fromUnicode(text);
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

// What make_rows.py writes in row `i` (1 to 1000), as the readers give it.
QString learnerRow(int i) {
    static const QStringList surnames = {"Иванов",  "Петров", "Сидоров",  "Кузнецов",
                                         "Смирнов", "Попов",  "Васильев", "Ёлкин"};
    static const QStringList names = {"Александр", "Дмитрий", "Максим", "Сергей", "Андрей", "Алексей"};
    return QStringLiteral("%1|%2-%1 %3|%4|%5")
        .arg(i)
        .arg(surnames.at(i % 8), names.at(i % 6))
        .arg(QDate(1980 + i % 25, i % 12 + 1, i % 28 + 1).toString(QStringLiteral("dd.MM.yyyy")))
        .arg(3 + i % 3);
}
} // namespace

class ImportSourcesTest : public QObject {
    Q_OBJECT

    QTemporaryDir _dir;

    QString write(const QString& name, const QByteArray& bytes) {
        QFile file(_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            qWarning() << "cannot write" << file.fileName();
        return file.fileName();
    }

private slots:
    void xlsCells_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("sheet");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QVariant>("expected");
        const QString note = QStringLiteral("Длинное примечание: ") +
                             QStringLiteral("слушатель прошёл обучение по программе «Сварщик ручной дуговой "
                                            "сварки» ")
                                 .repeated(4)
                                 .trimmed();
        for (const char* file : {"libreoffice-group.xls", "gnumeric-group.xls", "gnumeric-group-biff7.xls"}) {
            const auto add = [file](const char* what, int sheet, int row, int column, const QVariant& expected) {
                QTest::addRow("%s: %s", file, what) << QString::fromLatin1(file) << sheet << row << column << expected;
            };
            add("header", 0, 0, 0, QStringLiteral("Фамилия"));
            add("Ё", 0, 2, 0, QStringLiteral("Ёлкина"));
            add("date", 0, 1, 3, QDate(2001, 3, 15));
            add("last day of a century", 0, 2, 3, QDate(1999, 12, 31));
            add("date with a time", 0, 1, 6, QDate(2024, 6, 28));
            add("whole number", 0, 1, 4, 5.0);
            add("fraction", 0, 2, 4, 4.75);
            add("large whole number", 0, 2, 6, 123456789.0);
            // libfreexl gives a boolean as the number it is stored as.
            add("true", 0, 1, 5, 1.0);
            add("false", 0, 2, 5, 0.0);
            add("empty cell", 0, 2, 2, QVariant());
            add("303 characters", 0, 3, 1, note);
            add("second sheet", 1, 0, 2, -0.5);
        }
    }
    void xlsCells() {
        QFETCH(QString, file);
        QFETCH(int, sheet);
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QVariant, expected);
        ImportSource source;
        QString error;
        QVERIFY2(source.open(book(file), &error), qPrintable(error));
        QCOMPARE(source.kind(), ImportSource::Kind::Xls);
        QCOMPARE(source.sheetNames(), QStringList({QStringLiteral("Группа 101"), QStringLiteral("Итоги")}));
        ImportTable table;
        QVERIFY2(source.readSheet(sheet, &table, &error), qPrintable(error));
        const QVariant cell =
            row < table.rows.size() && column < table.rows.at(row).size() ? table.rows.at(row).at(column) : QVariant();
        QCOMPARE(cell.type(), expected.type());
        QCOMPARE(cell, expected);
    }

    // libfreexl leaves a formula's cell empty; the value the program saved with it is read.
    void xlsFormulas_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("row"); // 2, =A1*3, ="Иванов"&"-2", and =1/0 giving nothing
        // LibreOffice 7.4 saves the value of a text formula as the number 0 in an .xls.
        QTest::newRow("LibreOffice, BIFF8") << "libreoffice-formula.xls"
                                            << "2|6|0";
        QTest::newRow("Gnumeric, BIFF8") << "gnumeric-formula.xls"
                                         << "2|6|Иванов-2";
        QTest::newRow("Gnumeric, BIFF7, Windows-1251") << "gnumeric-formula-biff7.xls"
                                                       << "2|6|Иванов-2";
    }
    void xlsFormulas() {
        QFETCH(QString, file);
        QFETCH(QString, row);
        ImportSource source;
        ImportTable table;
        QString error;
        QVERIFY2(source.open(book(file), &error) && source.readSheet(0, &table, &error), qPrintable(error));
        QCOMPARE(rowTexts(table), QStringList(row));
        QCOMPARE(table.rows.at(0).at(1), QVariant(6.0));
    }

    // A chart sheet is no table: it is left out of the list, and the sheets after it keep their cells.
    void xlsChartSheet_data() {
        QTest::addColumn<int>("chart"); // which of the two sheets is made a chart sheet
        QTest::addColumn<QString>("sheetNames");
        QTest::addColumn<QString>("firstCell");
        QTest::newRow("second") << 1 << "Группа 101"
                                << "Фамилия";
        QTest::newRow("first") << 0 << "Итоги"
                               << "Всего";
    }
    void xlsChartSheet() {
        QFETCH(int, chart);
        QFETCH(QString, sheetNames);
        QFETCH(QString, firstCell);
        QByteArray bytes = readAll(book(QStringLiteral("libreoffice-group.xls")));
        // The BOUNDSHEET records of the two sheets (28 and 18 bytes long); the sixth byte is the type.
        const int record =
            bytes.indexOf(chart == 0 ? QByteArray("\x85\x00\x1C\x00", 4) : QByteArray("\x85\x00\x12\x00", 4));
        QVERIFY(record > 0);
        bytes[record + 4 + 5] = 2;
        ImportSource source;
        ImportTable table;
        QString error;
        QVERIFY2(source.open(write(QStringLiteral("chart.xls"), bytes), &error), qPrintable(error));
        QCOMPARE(source.sheetNames().join(QLatin1Char('|')), sheetNames);
        QVERIFY2(source.readSheet(0, &table, &error), qPrintable(error));
        QCOMPARE(table.text(0, 0), firstCell);
    }

    // A thousand distinct names run the shared strings over several records; every row is checked.
    void xlsRows_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("LibreOffice, BIFF8") << "libreoffice-rows.xls";
        QTest::newRow("Gnumeric, BIFF8") << "gnumeric-rows.xls";
        QTest::newRow("Gnumeric, BIFF7, Windows-1251") << "gnumeric-rows-biff7.xls";
    }
    void xlsRows() {
        QFETCH(QString, file);
        ImportSource source;
        QString error;
        QVERIFY2(source.open(book(file), &error), qPrintable(error));
        ImportTable table;
        QList<int> seen;
        QVERIFY2(source.readSheet(0, &table, &error, [&](int percent) { return seen << percent, true; }),
                 qPrintable(error));
        QStringList expected(QStringLiteral("№|ФИО|Дата рождения|Оценка"));
        for (int i = 1; i <= 1000; ++i)
            expected << learnerRow(i);
        QCOMPARE(rowTexts(table), expected);
        QVERIFY(table.notice.isEmpty());
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        QVERIFY(seen.size() >= 50);
        QCOMPARE(seen.last(), 100);
        // Stopping fails the read and leaves the table as it was.
        ImportTable stopped;
        QVERIFY(!source.readSheet(0, &stopped, &error, [](int percent) { return percent < 50; }));
        QCOMPARE(error, ImportTable::stoppedText());
        QVERIFY(stopped.rows.isEmpty());
    }

    // Every refusal keeps the caller's table; "%1" stands for the file's path.
    void refused_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error");
        const QByteArray group = readAll(book(QStringLiteral("libreoffice-group.xls")));
        QByteArray garbage = group.left(8);
        for (int i = 0; i < 4096; ++i)
            garbage += char((i * 7919) >> 3);
        const auto add = [](const char* name, const char* file, const QByteArray& bytes, const QString& error) {
            QTest::newRow(name) << QString::fromLatin1(file) << bytes << error;
        };
        add("truncated workbook", "cut.xls", group.left(1500), damaged);
        add("header then garbage", "garbage.xls", garbage, damaged);
        add("directory in a loop", "loop.xls",
            compoundFile({QStringLiteral("Workbook")}).replace(512 + 4, 4, QByteArray("\x01\0\0\0", 4)), damaged);
        add("FILEPASS", "locked.xls", withFilePass(), locked);
        add("sheets declaring 65536 x 256 cells", "full.xls", withFullSheets(),
            QStringLiteral("Книга слишком большая для импорта: её листы больше 8000000 ячеек. Удалите лишние листы "
                           "или сохраните книгу как «Книга Excel (.xlsx)»."));
        add("encrypted .xlsx", "locked.xlsx",
            compoundFile({QStringLiteral("EncryptionInfo"), QStringLiteral("EncryptedPackage")}), locked);
        add("Word document", "letter.doc", compoundFile({QStringLiteral("WordDocument"), QStringLiteral("1Table")}),
            notTable.arg(QStringLiteral("это документ Word (.doc)")));
        add("compound file without a workbook", "other.xls", compoundFile({QStringLiteral("Contents")}),
            QStringLiteral("В файле нет листов книги Excel: это не таблица или файл повреждён."));
        add("zero byte in a text", "list.csv", QByteArray("Фамилия;Имя\r\nИванов;Ив") + '\0' + "ан\r\n", binary);
        add("SQLite database", "registry.csv", QByteArray("SQLite format 3\0\x10\0\x01\x01", 20),
            notTable.arg(QStringLiteral("это файл базы данных SQLite")));
        add("PDF without zero bytes", "list.csv", "%PDF-1.4\n%text only\n",
            notTable.arg(QStringLiteral("это документ PDF")));
        add("PNG", "list.csv", QByteArray("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16),
            notTable.arg(QStringLiteral("это изображение PNG")));
        add("UTF-32 text", "list.csv",
            QTextCodec::codecForName("UTF-32LE")->fromUnicode(QStringLiteral("a;b\r\n1;2\r\n")),
            notTable.arg(QStringLiteral("это текст в кодировке UTF-32")));
        add("UTF-16 with a zero character", "list.csv", "\xFF\xFE" + utf16(QStringLiteral("a;b\r\n1;\0002"), false),
            binary);
        add("Excel 4.0 workbook", "old.xls", QByteArray("\x09\x04\x06\x00\x00\x00\x10\x00\x00\x00", 10),
            QStringLiteral("Книга сохранена в старом формате .xls. Сохраните её как «Книга Excel (.xlsx)» или "
                           "«Таблица ODF (.ods)»"));
        add("workbook over 50 MB", "large.xls", group,
            QStringLiteral("Файл слишком большой для импорта (больше 50 МБ)."));
    }
    void refused() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        const QString path = write(name, bytes);
        if (name == QLatin1String("large.xls"))
            QVERIFY(QFile::resize(path, ImportTable::maxBytes + 1));
        ImportSource source;
        ImportTable table;
        table.rows = {{QStringLiteral("прежнее")}};
        QString reason;
        QVERIFY(!(source.open(path, &reason) && source.readSheet(0, &table, &reason)));
        QCOMPARE(reason, QString(error).replace(QLatin1String("%1"), path));
        QCOMPARE(rowTexts(table), QStringList(QStringLiteral("прежнее")));
    }

    // Text saved as "Unicode" has a byte-order mark; without one it is known by its zero bytes.
    void utf16Text_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("bigEndian");
        QTest::addColumn<QByteArray>("mark");
        const QString latin = QStringLiteral("Name;Date\r\nIvanov;01.02.2001\r\n");
        const QString cyrillic = QStringLiteral("Фамилия\tИмя\r\nЁлкина\tАнна\r\nЩукин\tЮрий\r\n");
        QTest::newRow("little-endian, Latin") << latin << false << QByteArray();
        QTest::newRow("big-endian, Latin") << latin << true << QByteArray();
        QTest::newRow("little-endian, Cyrillic") << cyrillic << false << QByteArray();
        QTest::newRow("big-endian, Cyrillic") << cyrillic << true << QByteArray();
        QTest::newRow("big-endian with its mark") << cyrillic << true << QByteArray("\xFE\xFF");
    }
    void utf16Text() {
        QFETCH(QString, text);
        QFETCH(bool, bigEndian);
        QFETCH(QByteArray, mark);
        const QString path = write(QStringLiteral("unicode.txt"), mark + utf16(text, bigEndian));
        ImportSource source;
        ImportTable table;
        QString error;
        QVERIFY2(source.open(path, &error) && source.readSheet(0, &table, &error), qPrintable(error));
        QCOMPARE(source.kind(), ImportSource::Kind::Text);
        QString expected = text.trimmed();
        expected.replace(QLatin1Char(';'), QLatin1Char('|')).replace(QLatin1Char('\t'), QLatin1Char('|'));
        QCOMPARE(rowTexts(table), expected.split(QStringLiteral("\r\n")));
    }

    // 20,000 rows of 201 cells are more than the cells a table keeps: the rows before the bound
    // are read, and the notice says so.
    void textCellBound() {
        const QString line = QStringLiteral("1;").repeated(200) + QStringLiteral("x\n");
        ImportTable table;
        QString error;
        QVERIFY(TableText::parse(line.repeated(20000), QLatin1Char(';'), &table, &error));
        const int rows = int(ImportTable::maxCells / 201);
        QCOMPARE(table.rows.size(), rows);
        QCOMPARE(table.rows.last().size(), 201);
        QCOMPARE(table.text(rows - 1, 200), QStringLiteral("x"));
        QCOMPARE(table.notice,
                 QStringLiteral("Прочитаны только первые %1 строк: в таблице больше 4000000 ячеек.").arg(rows));
    }
};

ORVANE_TEST(ImportSourcesTest)
#include "tst_importsources.moc"
