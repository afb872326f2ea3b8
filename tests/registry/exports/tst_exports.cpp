#include "documentfilter.h"
#include "exportfixture.h"
#include "frdoexport.h"
#include "registrybook.h"
#include "scratchfilesystem.h"
#include "testdatabase.h"
#include "testenvironment.h"
#include "testregistry.h"
#include "xlsxexport.h"
#include "xlsxworkbook.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {

// The book without filters, in the Russian alphabet's order of the names (Ё as Е, case ignored); a
// line break shows as a blank, as in the list.
const QList<QStringList> fullBook = {
    {"1", "Абрамов Пётр ", "4", "4", "11.04.2016", "Повар", "повар", "11.04.2016 №", "", ""},
    {"2", "Ёлкина  ", "", "", "31.03.2016", "", "", " №", "", ""},
    {"3", "Иванов Алексей ", "6", "6", "05.04.2016", "Электромонтёр", "Электромонтёр", " №3", "", ""},
    {"4", "Иванов Иван Иванович", "000001", "1", "01.04.2016", "Сварщик", "Сварщик", "30.03.2016 №12", "", ""},
    {"5", "ИВАНОВА Мария Петровна", "АБ 2", "2", "10.04.2016", "Повар", "Повар третьего разряда", " №7", "", ""},
};

const QStringList frdoHeaders = {"Вид документа",
                                 "Статус документа",
                                 "Подтверждение утраты",
                                 "Подтверждение обмена",
                                 "Подтверждение уничтожения",
                                 "Серия документа",
                                 "Номер документа",
                                 "Дата выдачи документа",
                                 "Регистрационный номер",
                                 "Программа профессионального обучения, направление подготовки",
                                 "Наименование программы профессионального обучения",
                                 "Наименование профессий рабочих, должностей служащих",
                                 "Присвоенный квалификационный разряд, класс, категория (при наличии)",
                                 "Год начала обучения",
                                 "Год окончания обучения",
                                 "Срок обучения, часов",
                                 "Фамилия получателя",
                                 "Имя получателя",
                                 "Отчество получателя",
                                 "Дата рождения получателя",
                                 "Пол получателя",
                                 "СНИЛС",
                                 "Гражданство получателя (код страны по ОКСМ)",
                                 "Форма обучения",
                                 "Источник финансирования обучения",
                                 "Форма получения образования на момент прекращения образовательных отношений",
                                 "Наименование документа об образовании (оригинала)",
                                 "Серия (оригинала)",
                                 "Номер (оригинала)",
                                 "Регистрационный N (оригинала)",
                                 "Дата выдачи (оригинала)",
                                 "Фамилия получателя (оригинала)",
                                 "Имя получателя (оригинала)",
                                 "Отчество получателя (оригинала)",
                                 "Номер документа для изменения"};
const QList<double> frdoWidths = {50, 10, 7,  7,  7,  8,  8,  10, 9,  9,  9,  9,  9,  10, 10, 9,  12, 12,
                                  12, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10};
// The FRDO rows of documents 4, 1 and 2, in name order.
const QList<QStringList> frdoBook = {
    {"Свидетельство",
     "Оригинал",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     "0",
     "Абрамов",
     "Пётр",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     ""},
    {"Свидетельство о профессии рабочего",
     "Оригинал",
     "Нет",
     "",
     "",
     "",
     "000001",
     "01.04.2016",
     "1",
     "Переподготовка",
     "Сварка",
     "Сварщик",
     "2 разряд",
     "2021",
     "2020",
     "0",
     "Иванов",
     "Иван",
     "Иванович",
     "",
     "Муж",
     "11122233344",
     "643",
     "Заочная",
     "Платное",
     "Заочная",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     "",
     ""},
    {"Свидетельство о профессии рабочего",
     "Дубликат",
     "Объявление в газете",
     "",
     "",
     "АБ",
     "000002",
     "10.04.2016",
     "2-р",
     "Профессиональная подготовка",
     "Повар",
     "Повар",
     "3 разряд",
     "2022",
     "2023",
     "144",
     "ИВАНОВА",
     "Мария",
     "Петровна",
     "17.05.1990",
     "Жен",
     "12345678901",
     "643",
     "Очная",
     "Бюджет",
     "Очная",
     "Свидетельство",
     "ВГ",
     "456789",
     "15",
     "30.06.2019",
     "Сидорова",
     "Мария",
     "Петровна",
     ""},
};

int pixels(double width) {
    return int(width * 7 + 0.5);
}

// The format of a cell as "border wrap h/v font size bold format".
QString formatOf(const QJsonObject& cell) {
    return QStringLiteral("%1 %2 %3/%4 %5 %6 %7 %8")
        .arg(cell.value("border").toString("none"), cell.value("wrap").toBool() ? "wrap" : "nowrap",
             cell.value("h").toString("-"), cell.value("v").toString("-"), cell.value("font").toString())
        .arg(cell.value("size").toDouble())
        .arg(cell.value("bold").toBool() ? "bold" : "plain", cell.value("format").toString());
}

using Writer = std::function<bool(const QString& path, QString* error, const ExportProgress& progress)>;

Writer bookWriter() {
    return [](const QString& path, QString* error, const ExportProgress& progress) {
        return RegistryBook::write(DocumentFilter().shownIds(), path, error, progress);
    };
}

Writer frdoWriter() {
    return [](const QString& path, QString* error, const ExportProgress& progress) {
        return XlsxExport::write(FrdoExport::layout(), {1, 2, 3, 4, 6}, path, error, progress);
    };
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

// More rows than the export keeps in flight between its two threads, with blanks, quotes and
// markup in Cyrillic texts.
constexpr int manyRows = 2600;
const QString allRows = QStringLiteral("SELECT id, name, note, n FROM ExportRows WHERE 1=1");

void createExportRows() {
    runSql("CREATE TABLE IF NOT EXISTS ExportRows (id INTEGER PRIMARY KEY, name TEXT, note TEXT, n INTEGER)");
    runSql(QStringLiteral("WITH RECURSIVE s(v) AS (SELECT 1 UNION ALL SELECT v + 1 FROM s WHERE v < ?) "
                          "INSERT OR IGNORE INTO ExportRows SELECT v, CASE WHEN v % 3 = 0 THEN NULL ELSE "
                          "'Кавычки «ёлка» \"№' || v || '\" & <b>''x''</b>' END, CASE WHEN v % 2 = 0 THEN NULL "
                          "ELSE printf('%08d', v * 7919) END, CASE WHEN v % 5 = 0 THEN NULL ELSE v END FROM s"),
           {manyRows});
}

QList<qint64> exportRowIds() {
    QList<qint64> ids;
    for (int id = manyRows; id >= 1; --id)
        ids << id;
    return ids;
}

XlsxExportSpec exportRowsLayout(const QString& selectSql) {
    XlsxExportSpec layout;
    layout.selectSql = selectSql;
    layout.idColumn = QStringLiteral("id");
    const auto joined = [](const QSqlQuery& q) { return q.value(0).toString() + '-' + q.value(1).toString(); };
    layout.columns = {
        {"Имя", 20, "name", {}}, {"Заметка", 0, "note", {}}, {"Число", 0, "N", {}}, {"Вместе", 0, QString(), joined}};
    return layout;
}

// The cells as one plain query on this thread reads them.
QList<QStringList> readBack(const QString& selectSql) {
    QList<QStringList> rows;
    QSqlQuery query = runSql(selectSql + " ORDER BY id");
    while (query.next()) {
        QStringList row;
        for (int c = 1; c < 4; ++c)
            row << query.value(c).toString();
        row << query.value(0).toString() + '-' + query.value(1).toString();
        rows << row;
    }
    return rows;
}

// Files may grow only to `bytes` while it lives: a disk that fills up, also for root.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        if (!bytes)
            return;
        std::signal(SIGXFSZ, SIG_IGN);
        _set = getrlimit(RLIMIT_FSIZE, &_old) == 0;
        rlimit limit = _old;
        limit.rlim_cur = bytes;
        _set = _set && setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        if (_set)
            setrlimit(RLIMIT_FSIZE, &_old);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit _old = {};
    bool _set = false;
};

// Rows added for one test only, rolled back when it ends, however it ends.
class ScopedRows {
public:
    ScopedRows() { _open = QSqlDatabase::database().transaction(); }
    ~ScopedRows() {
        if (_open)
            QSqlDatabase::database().rollback();
    }
    ScopedRows(const ScopedRows&) = delete;
    ScopedRows& operator=(const ScopedRows&) = delete;
    bool isOpen() const { return _open; }

private:
    bool _open = false;
};

// Documents with an FRDO row each: id, surname, name.
void addNamedDocuments(const QList<QVariantList>& rows) {
    for (const QVariantList& row : rows) {
        insertRows("ProfDocuments", {"profId", "isTemplate", "fio1", "fio2"}, {{row[0], 0, row[1], row[2]}});
        insertRows("ProfFrdo", {"profId", "docType"}, {{row[0], "Свидетельство"}});
    }
}

// The writers of the two workbooks over given ids; the column of the surname in each.
struct IdsWriter {
    QString name;
    std::function<bool(const QList<qint64>&, const QString&, QString*, ExportFailure*)> write;
    int nameColumn;
};
QList<IdsWriter> idsWriters() {
    return {{"book",
             [](const QList<qint64>& ids, const QString& path, QString* error, ExportFailure* failure) {
                 return RegistryBook::write(ids, path, error, {}, failure);
             },
             1},
            {"FRDO",
             [](const QList<qint64>& ids, const QString& path, QString* error, ExportFailure* failure) {
                 return XlsxExport::write(FrdoExport::layout(), ids, path, error, {}, nullptr, nullptr, failure);
             },
             16}};
}
} // namespace

Q_DECLARE_METATYPE(Writer)

class TestExports : public QObject {
    Q_OBJECT

    std::unique_ptr<TestDatabase> data;
    std::unique_ptr<QTemporaryDir> out;

    QString outPath(const QString& name) const { return out->filePath(name); }

private slots:
    void initTestCase() {
        data = std::make_unique<TestDatabase>();
        QVERIFY(data->open() && data->db()->isValid());
        insertRows("ProfDocuments",
                   {"profId", "isTemplate", "fio1", "fio2", "fio3", "qual", "issueDate", "editDate", "attNumber",
                    "regNumber", "profession", "protocolDate", "protocolNumber"},
                   documents);
        insertRows("ProfFrdo", frdoKeys, frdoRows);
    }
    void init() {
        out = std::make_unique<QTemporaryDir>();
        QVERIFY(out->isValid());
    }
    void cleanupTestCase() { data.reset(); }

    void proposedFileName_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected");
        QTest::newRow("registry book") << QString() << "/home/u/Документы/Orvane-export-2024-03-07.xlsx";
        QTest::newRow("FRDO") << "FRDO"
                              << "/home/u/Документы/Orvane-FRDO-export-2024-03-07.xlsx";
    }
    void proposedFileName() {
        QFETCH(QString, title);
        QFETCH(QString, expected);
        QCOMPARE(XlsxExport::proposedFileName("/home/u/Документы", title, QDate(2024, 3, 7)), expected);
    }

    void registryBookLayout() {
        const QString path = outPath("book.xlsx");
        QString error;
        QVERIFY2(RegistryBook::write(DocumentFilter::fromList(filters("", "")).shownIds(), path, &error),
                 qPrintable(error));
        const Sheet sheet(path);
        QCOMPARE(sheet.row(0),
                 QStringList({"№ п/п", "ФИО лица, получившего документ", "Номер бланка документа", "Рег. номер",
                              "Дата выдачи документа", "Наименование профессии", "Наименование квалификации",
                              "Дата и номер протокола аттестационной комиссии", "Подпись лица, выдающего документ",
                              "Подпись лица, получившего документ"}));
        const QList<double> widths = {4.29, 21.45, 14.82, 11.7, 14.3, 16.9, 16.9, 20.8, 16.9, 16.9};
        for (int c = 0; c < widths.size(); ++c)
            QCOMPARE(sheet.widthPixels(c), pixels(widths[c]));
        QCOMPARE(sheet.widthPixels(10), -1);
        QCOMPARE(sheet.height(0).toDouble(), 70.0);
        QVERIFY(sheet.height(1).isUndefined());
        QCOMPARE(sheet.rowCount(), fullBook.size() + 1);
        for (int r = 0; r < sheet.rowCount(); ++r)
            for (int c = 0; c < widths.size(); ++c) {
                // Wrapped, so that a long name takes more lines instead of being cut.
                QCOMPARE(formatOf(sheet.cell(r, c)), QStringLiteral("thin wrap center/center Calibri 10 plain @"));
                if (!sheet.value(r, c).isEmpty())
                    QCOMPARE(sheet.cell(r, c).value("type").toString(), QStringLiteral("s"));
            }
    }

    // Templates are left out, documents whose isTemplate is NULL are kept; every value as text.
    // The book holds the listed documents among the ids it is given, in name order.
    void registryBookValues() {
        const QString path = outPath("book.xlsx");
        QString error;
        QVERIFY2(RegistryBook::write({6, 5, 4, 3, 2, 1}, path, &error), qPrintable(error));
        QCOMPARE(Sheet(path).dataRows(), fullBook);
        QVERIFY2(RegistryBook::write({5, 99, 6, 6, -1}, path, &error), qPrintable(error));
        QStringList only = fullBook.at(2);
        only[0] = "1";
        QCOMPARE(Sheet(path).dataRows(), QList<QStringList>{only});
        QVERIFY2(RegistryBook::write({}, path, &error), qPrintable(error));
        QCOMPARE(Sheet(path).rowCount(), 1);
    }

    void registryBookFilters_data() { addBookFilterRows(); }
    // The book holds what the list shows, numbered without gaps.
    void registryBookFilters() {
        QFETCH(FilterListType, filters);
        QFETCH(QStringList, names);
        const QString path = outPath("book.xlsx");
        QString error;
        const QList<qint64> shown = DocumentFilter::fromList(filters).shownIds();
        QVERIFY2(RegistryBook::write(shown, path, &error), qPrintable(error));
        const Sheet sheet(path);
        QCOMPARE(sheet.column(1), names);
        QStringList numbers;
        for (int n = 1; n <= names.size(); ++n)
            numbers << QString::number(n);
        QCOMPARE(sheet.column(0), numbers);
        QCOMPARE(shown.size(), names.size());
    }

    void frdoLayout() {
        const QString path = outPath("frdo.xlsx");
        QString error;
        QVERIFY2(frdoWriter()(path, &error, {}), qPrintable(error));
        const Sheet sheet(path);
        QCOMPARE(sheet.row(0), frdoHeaders);
        for (int c = 0; c < frdoWidths.size(); ++c)
            QCOMPARE(sheet.widthPixels(c), pixels(frdoWidths[c]));
        QVERIFY(sheet.height(0).isUndefined());
        QCOMPARE(sheet.rowCount(), frdoBook.size() + 1);
        for (int r = 0; r < sheet.rowCount(); ++r) {
            if (r > 0)
                QCOMPARE(sheet.height(r).toDouble(), 20.0);
            for (int c = 0; c < frdoHeaders.size(); ++c)
                QCOMPARE(formatOf(sheet.cell(r, c)),
                         r == 0 ? QStringLiteral("thin wrap center/center Calibri 11 plain General")
                                : QStringLiteral("thin nowrap -/- Calibri 11 plain @"));
        }
    }

    // Documents without an FRDO row are left out; duplicates carry their original's data.
    void frdoValues() {
        const QString path = outPath("frdo.xlsx");
        QString error;
        QVERIFY2(frdoWriter()(path, &error, {}), qPrintable(error));
        QCOMPARE(Sheet(path).dataRows(), frdoBook);
    }

    // The id table gives the rows of the one query with the ids written out, in name order.
    void frdoOrderOfTheQuery() {
        const QList<qint64> ids = {6, 4, 1, 2, 3};
        QStringList expected;
        QSqlQuery query = runSql(FrdoExport::layout().selectSql + " AND ProfDocuments.profId IN (6,4,1,2,3)");
        while (query.next())
            expected << query.value("fio1").toString();
        QCOMPARE(expected, QStringList({"Иванов", "ИВАНОВА", "Абрамов"}));
        expected = QStringList{"Абрамов", "Иванов", "ИВАНОВА"};
        const QString path = outPath("frdo.xlsx");
        QString error;
        QVERIFY2(XlsxExport::write(FrdoExport::layout(), ids, path, &error), qPrintable(error));
        QCOMPARE(Sheet(path).column(16), expected);
    }

    // An open edit dialog keeps a transaction on the connection; the export leaves it open.
    void insideATransaction() {
        QVERIFY(QSqlDatabase::database().transaction());
        const QString path = outPath("frdo.xlsx");
        QString error;
        const bool written = frdoWriter()(path, &error, {});
        QVERIFY(QSqlDatabase::database().rollback());
        QVERIFY2(written, qPrintable(error));
        QCOMPARE(Sheet(path).dataRows(), frdoBook);
    }

    void unwritableTarget_data() {
        QTest::addColumn<Writer>("writer");
        QTest::addColumn<QString>("kind");
        for (const auto& w :
             {qMakePair(QStringLiteral("book"), bookWriter()), qMakePair(QStringLiteral("FRDO"), frdoWriter())})
            for (const char* kind :
                 {"missing folder", "file as folder", "read-only folder", "folder as file", "read-only file"})
                QTest::addRow("%s, %s", qPrintable(w.first), kind) << w.second << QString::fromLatin1(kind);
    }
    void unwritableTarget() {
        QFETCH(Writer, writer);
        QFETCH(QString, kind);
        QString folder = outPath("folder");
        QVERIFY(QDir().mkpath(folder));
        QString path = folder + "/export.xlsx";
        if (kind == "missing folder") {
            path = outPath("missing/export.xlsx");
        } else if (kind == "file as folder") {
            QFile file(outPath("plain"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            path = outPath("plain/export.xlsx");
        } else if (kind == "read-only folder") {
            QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
            QFile probe(folder + "/probe");
            if (probe.open(QIODevice::WriteOnly)) {
                probe.remove();
                QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
                QSKIP("this user may write into read-only folders");
            }
        } else if (kind == "read-only file") {
            // Refused also where the system would let the user (root) replace it.
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("previous") == 8);
            file.close();
            QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        } else {
            QVERIFY(QDir().mkpath(path));
        }
        const QStringList before = entries(out->path());
        QString error;
        QVERIFY(!writer(path, &error, {}));
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY2(error.startsWith("Не удалось записать файл " +
                                  QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())),
                 qPrintable(error));
        QCOMPARE(entries(out->path()), before);
        const bool inTheWay = kind == "folder as file" || kind == "read-only file";
        QCOMPARE(entries(folder), inTheWay ? QStringList{"export.xlsx"} : QStringList());
        if (kind != "read-only file") {
            QCOMPARE(QFileInfo(path).isFile(), false);
            return;
        }
        QCOMPARE(readFileBytes(path), QByteArray("previous"));
        QCOMPARE(QFileInfo(path).permissions() & 0x7077, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    }

    void cancelAndReplace_data() {
        QTest::addColumn<Writer>("writer");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("cancelAt"); // the number of the progress call that cancels, 0 for none
        for (const auto& w :
             {qMakePair(QStringLiteral("book"), bookWriter()), qMakePair(QStringLiteral("FRDO"), frdoWriter())}) {
            const int total = 5; // the book's listed documents, the FRDO ids
            QTest::addRow("%s, cancelled at once", qPrintable(w.first)) << w.second << total << 1;
            QTest::addRow("%s, cancelled at the end", qPrintable(w.first)) << w.second << total << 2;
            QTest::addRow("%s, completed", qPrintable(w.first)) << w.second << total << 0;
        }
    }
    // A cancelled export keeps the file it would have replaced; a completed one replaces it.
    void cancelAndReplace() {
        QFETCH(Writer, writer);
        QFETCH(int, total);
        QFETCH(int, cancelAt);
        const QString path = outPath("export.xlsx");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("previous") == 8);
        old.close();
        QList<QPair<int, int>> calls;
        QString error = "stale";
        const bool written = writer(path, &error, [&](int done, int all) {
            calls << qMakePair(done, all);
            return calls.size() != cancelAt;
        });
        QCOMPARE(written, cancelAt == 0);
        QCOMPARE(error, QString());
        QCOMPARE(entries(out->path()), QStringList{"export.xlsx"});
        QCOMPARE(calls.first(), qMakePair(0, total));
        if (cancelAt) {
            QCOMPARE(calls.size(), cancelAt);
            QCOMPARE(readFileBytes(path), QByteArray("previous"));
        } else {
            QCOMPARE(calls.last(), qMakePair(total, total));
            QVERIFY(Sheet(path).rowCount() > 1);
        }
    }

    // Excel holds at most 32767 characters (UTF-16 units) in a cell; a longer text is refused, never
    // cut, and no workbook is written.
    void longTextIsRefused_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("fits");
        QTest::newRow("fits") << QString(32767, QChar(0x044F)) << true;
        QTest::newRow("too long") << QString(40000, QChar(0x044F)) << false;
        QTest::newRow("pair at the limit")
            << QString(32766, QChar('a')) + QString::fromUtf8("\xF0\x9D\x90\x80") << false;
    }
    void longTextIsRefused() {
        QFETCH(QString, text);
        QFETCH(bool, fits);
        const QString path = outPath("long.xlsx");
        XlsxWorkbook book(path);
        QCOMPARE(book.writeString(0, 0, text), fits);
        QString error;
        QCOMPARE(book.close(&error), fits);
        QCOMPARE(entries(out->path()), fits ? QStringList{"long.xlsx"} : QStringList());
        if (fits)
            QCOMPARE(Sheet(path).value(0, 0), text);
        else
            QVERIFY2(error.contains("длиннее 32767 знаков"), qPrintable(error));
    }

    // The book prints on A4 across, all columns on one page wide, its header on every page, the
    // page numbers at the foot; both workbooks name their sheets.
    void printSetup_data() {
        QTest::addColumn<Writer>("writer");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("page");
        QTest::newRow("book") << bookWriter() << "Книга регистрации"
                              << "landscape paper 9 fit 1x0 titles $1:$1 footer Страница &P из &N";
        QTest::newRow("FRDO") << frdoWriter() << "ФРДО"
                              << "- paper - fit none titles - footer -";
    }
    void printSetup() {
        QFETCH(Writer, writer);
        QFETCH(QString, title);
        QFETCH(QString, page);
        const QString path = outPath("export.xlsx");
        QString error;
        QVERIFY2(writer(path, &error, {}), qPrintable(error));
        const Sheet sheet(path);
        QCOMPARE(sheet.title(), title);
        QCOMPARE(sheet.page(), page);
    }

    // Both workbooks go in the Russian alphabet's order: Ё with Е, letter case ignored; the same
    // surnames by the name, then by id.
    void russianOrder_data() {
        QTest::addColumn<int>("writer");
        QTest::addColumn<QStringList>("names");
        const QStringList names = {"Алексеев", "Ежиков", "ежиков", "Ёжиков", "ежов",
                                   "Ёлкин",    "Жуков",  "Щукин",  "ЮРЬЕВ",  "Яковлев"};
        for (int w = 0; w < idsWriters().size(); ++w)
            QTest::addRow("%s", qPrintable(idsWriters().at(w).name)) << w << names;
    }
    void russianOrder() {
        QFETCH(int, writer);
        QFETCH(QStringList, names);
        const ScopedRows rows;
        QVERIFY(rows.isOpen());
        addNamedDocuments({{101, "Ёжиков", "Иван"},
                           {102, "Алексеев", "Пётр"},
                           {103, "ежов", "Андрей"},
                           {104, "ежиков", "Анна"},
                           {105, "Яковлев", null},
                           {106, "ЮРЬЕВ", null},
                           {107, "Ёлкин", null},
                           {108, "Ежиков", "Анна"},
                           {109, "Щукин", null},
                           {110, "Жуков", null}});
        const IdsWriter w = idsWriters().at(writer);
        const QString path = outPath("order.xlsx");
        QString error;
        QVERIFY2(w.write({110, 109, 108, 107, 106, 105, 104, 103, 102, 101}, path, &error, nullptr), qPrintable(error));
        QStringList written;
        for (const QString& cell : Sheet(path).column(w.nameColumn))
            written << cell.section(QLatin1Char(' '), 0, 0);
        // The two "Ежиков Анна" by id: 104 before 108.
        names.swapItemsAt(1, 2);
        QCOMPARE(written, names);
    }

    // A sheet name the spreadsheet would refuse is made one it takes, never a refused workbook.
    void sheetNames_data() {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("title");
        QTest::newRow("none") << QString() << "Sheet1";
        QTest::newRow("as it is") << "Книга регистрации"
                                  << "Книга регистрации";
        QTest::newRow("refused characters") << "Итоги [2024]: 1/2*?\\"
                                            << "Итоги 2024 1 2";
        QTest::newRow("too long") << QString(40, QChar(0x0416)) << QString(31, QChar(0x0416));
        QTest::newRow("quotes at the ends") << "'Квалификации'"
                                            << "Квалификации";
    }
    void sheetNames() {
        QFETCH(QString, asked);
        QFETCH(QString, title);
        const QString path = outPath("named.xlsx");
        XlsxWorkbook book(path, asked);
        QVERIFY(book.writeString(0, 0, QStringLiteral("x")));
        QString error;
        QVERIFY2(book.close(&error), qPrintable(error));
        QCOMPARE(Sheet(path).title(), title);
    }

    // A row whose texts wrap is as tall as its lines, so that printed rows do not run into each
    // other; a row of one line keeps the default height.
    void wrappedRowHeights_data() {
        QTest::addColumn<QString>("surname");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("qual");
        QTest::addColumn<int>("lines");
        QTest::newRow("short") << "Иванов"
                               << "Ян"
                               << "Маляр\n3 разряд" << 1;
        QTest::newRow("long name") << "Константинопольский"
                                   << "Александр"
                                   << "Маляр" << 2;
        QTest::newRow("a word longer than a line") << "Константинопольский-Тарановский-Задунайский"
                                                   << "Ян"
                                                   << "Маляр" << 3;
        QTest::newRow("long qualification") << "Иванов"
                                            << "Ян"
                                            << "Слесарь по ремонту автомобилей, монтажник санитарно-технических "
                                               "систем и оборудования"
                                            << 7;
    }
    void wrappedRowHeights() {
        QFETCH(QString, surname);
        QFETCH(QString, name);
        QFETCH(QString, qual);
        QFETCH(int, lines);
        const ScopedRows rows;
        QVERIFY(rows.isOpen());
        insertRows("ProfDocuments", {"profId", "isTemplate", "fio1", "fio2", "qual"}, {{140, 0, surname, name, qual}});
        const QString path = outPath("book.xlsx");
        QString error;
        QVERIFY2(RegistryBook::write({140}, path, &error), qPrintable(error));
        const Sheet sheet(path);
        QCOMPARE(sheet.rowCount(), 2);
        if (lines == 1)
            QVERIFY(sheet.height(1).isUndefined());
        else
            QCOMPARE(sheet.height(1).toDouble(), lines * 12.75 + 2.25);
    }

    // A text longer than a cell holds stops the export with the document, its id and the column
    // named; the file it would have replaced stays.
    void tooLongText_data() {
        QTest::addColumn<int>("writer");
        QTest::addColumn<QString>("column");
        QTest::newRow("book") << 0 << "«Наименование квалификации»";
        QTest::newRow("FRDO") << 1 << "«Присвоенный квалификационный разряд, класс, категория (при наличии)»";
    }
    void tooLongText() {
        QFETCH(int, writer);
        QFETCH(QString, column);
        const ScopedRows rows;
        QVERIFY(rows.isOpen());
        const QString text(XlsxWorkbook::maxCellText + 1, QChar(0x044F));
        insertRows("ProfDocuments", {"profId", "isTemplate", "fio1", "fio2", "fio3", "qual"},
                   {{120, 0, "Длинный", "Текст %1", "Сам\nсобой", text}});
        insertRows("ProfFrdo", {"profId", "frdo16"}, {{120, text}});
        const QString path = outPath("export.xlsx");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("previous") == 8);
        old.close();
        QString error;
        ExportFailure failure = ExportFailure::None;
        QVERIFY(!idsWriters().at(writer).write({1, 120}, path, &error, &failure));
        QCOMPARE(int(failure), int(ExportFailure::Output));
        for (const QString& part : {QStringLiteral("«Длинный Текст %1 Сам собой» (номер записи 120)"), column,
                                    QStringLiteral("длиннее 32767 знаков")})
            QVERIFY2(error.contains(part), qPrintable(error));
        QCOMPARE(entries(out->path()), QStringList{"export.xlsx"});
        QCOMPARE(readFileBytes(path), QByteArray("previous"));
    }

    // Stored texts come out whole: a NUL and the other control characters as U+FFFD, a tab kept,
    // line breaks as blanks in the book and as one "\n" in the FRDO table.
    void controlCharacters_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("inBook");
        QTest::addColumn<QString>("inFrdo");
        const QString nul = QStringLiteral("Ива") + QChar(0) + QStringLiteral("нов");
        const QString replaced = QStringLiteral("Ива\uFFFDнов");
        QTest::newRow("NUL") << nul << replaced << replaced;
        QTest::newRow("SOH") << "Ива\x01нов" << replaced << replaced;
        QTest::newRow("escape and delete") << "Ива\x1b\x7fнов"
                                           << "Ива\uFFFD\x7fнов"
                                           << "Ива\uFFFD\x7fнов";
        QTest::newRow("tab") << "Ива\tнов"
                             << "Ива\tнов"
                             << "Ива\tнов";
        QTest::newRow("line breaks") << "Ива\r\nн\rо\nв"
                                     << "Ива н о в"
                                     << "Ива\nн\nо\nв";
    }
    void controlCharacters() {
        QFETCH(QString, stored);
        QFETCH(QString, inBook);
        QFETCH(QString, inFrdo);
        const ScopedRows rows;
        QVERIFY(rows.isOpen());
        addNamedDocuments({{130, stored, "Иван"}});
        for (const IdsWriter& w : idsWriters()) {
            const QString path = outPath(w.name + ".xlsx");
            QString error;
            QVERIFY2(w.write({130}, path, &error, nullptr), qPrintable(error));
            const QString cell = Sheet(path).value(1, w.nameColumn);
            QCOMPARE(cell, w.nameColumn == 1 ? inBook + QStringLiteral(" Иван ") : inFrdo);
        }
    }

    // A disk that fills up is named as such, with the file, for the target and the temporary
    // folder alike; nothing is left behind.
    void fullDisk_data() {
        QTest::addColumn<Writer>("writer");
        QTest::addColumn<bool>("tempFolder");
        QTest::addColumn<QString>("message");
        for (const auto& w :
             {qMakePair(QStringLiteral("book"), bookWriter()), qMakePair(QStringLiteral("FRDO"), frdoWriter())}) {
            QTest::addRow("%s, target", qPrintable(w.first)) << w.second << false << "Недостаточно места на диске";
            QTest::addRow("%s, temporary folder", qPrintable(w.first))
                << w.second << true << "Недостаточно места во временной папке";
        }
    }
    void fullDisk() {
        QFETCH(Writer, writer);
        QFETCH(bool, tempFolder);
        QFETCH(QString, message);
        ScratchFileSystem disk(outPath("disk"), 256 * 1024);
        if (!disk.isMounted())
            QSKIP("a full disk needs a tmpfs, which only root may mount");
        QVERIFY(disk.fill(0));
        const QByteArray oldTemp = qgetenv("TMPDIR");
        if (tempFolder)
            qputenv("TMPDIR", QFile::encodeName(disk.path()));
        const QString path = (tempFolder ? outPath("export.xlsx") : disk.path() + "/export.xlsx");
        const QStringList before = entries(disk.path());
        QString error;
        const bool written = writer(path, &error, {});
        if (tempFolder)
            qputenv("TMPDIR", oldTemp);
        QVERIFY(!written);
        QVERIFY2(error.startsWith(message), qPrintable(error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
        QCOMPARE(entries(disk.path()), before);
        QVERIFY(!QFileInfo::exists(path));
    }

    // Rows read on this thread and written on another give the cells one plain query reads. The
    // workbook's parts are packed at the faster level, and read back as any other.
    void overlappedCells_data() {
        QTest::addColumn<QString>("selectSql");
        QTest::addColumn<int>("rows");
        QTest::newRow("blanks and quotes") << allRows + " AND id <= 30" << 30;
        QTest::newRow("more rows than in flight") << allRows << manyRows;
        QTest::newRow("texts as long as a cell holds")
            << "SELECT id, name, id || replace(hex(zeroblob(16380)), '00', 'яё') AS note, n FROM ExportRows "
               "WHERE id <= 300"
            << 300;
    }
    void overlappedCells() {
        QFETCH(QString, selectSql);
        QFETCH(int, rows);
        createExportRows();
        const QString path = outPath("rows.xlsx");
        QString error;
        ExportFailure failure = ExportFailure::Cancelled;
        const int packedBefore = XlsxWorkbook::partsPackedFast();
        QVERIFY2(XlsxExport::write(exportRowsLayout(selectSql), exportRowIds(), path, &error, {}, nullptr, nullptr,
                                   &failure),
                 qPrintable(error));
        QCOMPARE(int(failure), int(ExportFailure::None));
#ifdef ORVANE_WORKBOOK_PACKING
        QVERIFY(XlsxWorkbook::partsPackedFast() > packedBefore);
#else
        Q_UNUSED(packedBefore)
#endif
        const QList<QStringList> expected = readBack(selectSql);
        QCOMPARE(expected.size(), rows);
        const Sheet sheet(path);
        QCOMPARE(sheet.row(0), QStringList({"Имя", "Заметка", "Число", "Вместе"}));
        QCOMPARE(sheet.dataRows(), expected);
        QCOMPARE(entries(out->path()), QStringList{"rows.xlsx"});
    }

    // However an export stops, the file it would have replaced stays and nothing is left beside it.
    void stoppedExports_data() {
        QTest::addColumn<QString>("selectSql");
        QTest::addColumn<int>("cancelAt"); // the number of the progress call that cancels, 0 for none
        QTest::addColumn<int>("fileSizeLimit");
        QTest::addColumn<int>("failure");
        QTest::addColumn<QString>("error"); // how the reason starts
        QTest::addColumn<int>("lastDone");  // rows done at the last progress report
        QTest::newRow("cancelled midway") << allRows << 3 << 0 << int(ExportFailure::Cancelled) << QString() << 1000;
        QTest::newRow("database fails midway")
            << "SELECT id, name, note, json(CASE WHEN id > 2100 THEN 'x' ELSE '1' END) AS n FROM ExportRows WHERE 1=1"
            << 0 << 0 << int(ExportFailure::Database) << "Не удалось прочитать записи из базы данных:" << 2000;
        QTest::newRow("disk fills up") << allRows << 0 << 128 * 1024 << int(ExportFailure::Output)
                                       << "Не удалось записать файл " << manyRows;
    }
    void stoppedExports() {
        QFETCH(QString, selectSql);
        QFETCH(int, cancelAt);
        QFETCH(int, fileSizeLimit);
        QFETCH(int, failure);
        QFETCH(QString, error);
        QFETCH(int, lastDone);
        createExportRows();
        const QString path = outPath("export.xlsx");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("previous") == 8);
        old.close();
        QList<int> done;
        QString reason = "stale";
        ExportFailure kind = ExportFailure::None;
        bool written = true;
        {
            const FileSizeLimit limit{rlim_t(fileSizeLimit)};
            written = XlsxExport::write(
                exportRowsLayout(selectSql), exportRowIds(), path, &reason,
                [&](int rows, int total) {
                    done << rows;
                    return total == manyRows && done.size() != cancelAt;
                },
                nullptr, nullptr, &kind);
        }
        QVERIFY(!written);
        QCOMPARE(int(kind), failure);
        QVERIFY2(error.isEmpty() ? reason.isEmpty() : reason.startsWith(error), qPrintable(reason));
        QCOMPARE(done.last(), lastDone);
        QCOMPARE(entries(out->path()), QStringList{"export.xlsx"});
        QCOMPARE(readFileBytes(path), QByteArray("previous"));
    }
};

ORVANE_TEST(TestExports)

#include "tst_exports.moc"
