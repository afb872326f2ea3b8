#include "appkeys.h"
#include "documentstable.h"
#include "filedialog.h"
#include "filterdockwidget.h"
#include "frdocheck.h"
#include "frdocheckdialog.h"
#include "guifixture.h"
#include "importdialog.h"
#include "importpreviewmodel.h"
#include "mainwindow.h"
#include "reportlist.h"
#include "settingsregistry.h"
#include "testenvironment.h"
#include "testregistry.h"
#include "xlsxworkbook.h"

#include <QAction>
#include <QApplication>
#include <QBrush>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

namespace {
const QString groupCsv = QStringLiteral("Список группы С-21;;;\n"
                                        ";;;\n"
                                        "Фамилия;Имя;Отчество;Дата рождения\n"
                                        "Иванов;Иван;Иванович;01.02.2001\n"
                                        ";;;\n"
                                        "Петрова;Анна;Сергеевна;2002-03-04\n"
                                        "Сидоров;Олег;Петрович;15.05.2000\n");
const QStringList groupSurnames{"Иванов", "Петрова", "Сидоров"};

QString writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qWarning() << "cannot write" << path;
    return path;
}

// The group on the second sheet of a workbook, under a merged title, the birth dates as dates.
bool writeWorkbook(const QString& path) {
    const char* script = R"(
import sys, datetime, xlsxwriter
book = xlsxwriter.Workbook(sys.argv[1])
book.add_worksheet("Титул").write(0, 0, "Ведомость")
sheet = book.add_worksheet("Группа")
dates = book.add_format({"num_format": "dd.mm.yyyy"})
sheet.merge_range(0, 0, 0, 3, "Список группы С-21")
sheet.write_row(2, 0, ["Фамилия", "Имя", "Отчество", "Дата рождения"])
for row, (s, n, p, d) in enumerate([("Иванов", "Иван", "Иванович", datetime.date(2001, 2, 1)),
                                    ("Петрова", "Анна", "Сергеевна", datetime.date(2002, 3, 4)),
                                    ("Сидоров", "Олег", "Петрович", datetime.date(2000, 5, 15))]):
    sheet.write_row(3 + row + (row > 0), 0, [s, n, p])
    sheet.write_datetime(3 + row + (row > 0), 3, datetime.datetime.combine(d, datetime.time()), dates)
book.close()
)";
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(script), path});
    return python.waitForFinished(60000) && python.exitCode() == 0;
}

QByteArray cp1251(const QString& text) {
    return QTextCodec::codecForName("Windows-1251")->fromUnicode(text);
}

// A group list of as many rows as a reader takes, written as the program writes its workbooks.
bool writeLargeWorkbook(const QString& path) {
    XlsxWorkbook book(path);
    book.writeString(0, 0, QStringLiteral("Фамилия"));
    book.writeString(0, 1, QStringLiteral("Имя"));
    book.writeString(0, 2, QStringLiteral("Отчество"));
    book.writeString(0, 3, QStringLiteral("Дата рождения"));
    for (int row = 1; row < ImportTable::maxRows; ++row) {
        book.writeString(row, 0, QStringLiteral("Фамилия%1").arg(row));
        book.writeString(row, 1, QStringLiteral("Имя"));
        book.writeString(row, 2, QStringLiteral("Отчество"));
        book.writeString(row, 3, QStringLiteral("01.02.2001"));
    }
    QString error;
    if (!book.close(&error))
        qWarning() << error;
    return error.isEmpty();
}

QVariantMap passingTemplate() {
    return {{"isTemplate", 1},
            {"fio1", "Швеи 2021"},
            {"issueDate", "2021-03-04"},
            {"startDate", "2021-01-11"},
            {"finishDate", "2021-02-28"},
            {"profession", "Швея"},
            {"qual", "2 разряд"},
            {"profProgName", "Программа «Шитьё»"},
            {"isDuplicate", 0},
            {"certificateType", 1},
            {"showTotalCount", 0}};
}

QVariantMap passingFrdo() {
    return {{"SexIsMale", -1},
            {"studyPeriod", "2 мес."},
            {"docName", "Свидетельство о профессии рабочего"},
            {"DocType", "Свидетельство о профессии рабочего, должности служащего"},
            {"StateDuplicate", 0},
            {"studyCount", 144},
            {"frdo13", "Программа профессиональной подготовки по профессии рабочего, должности служащего"},
            {"frdo14", "Программа «Шитьё»"},
            {"frdo15", "Швея"},
            {"frdo16", "2 разряд"},
            {"frdo20", "Нет"},
            {"beginDate", "2021-01-11"},
            {"endDate", "2021-02-28"},
            {"issueDateFrdo", "2021-03-04"},
            {"frdo21", "Российская Федерация"},
            {"frdo22", "Очная"},
            {"frdo23", "Платное обучение"},
            {"frdo24", "в образовательной организации"}};
}

qint64 scalar(const QString& sql, const QVariantList& values = {}) {
    QSqlQuery query = runSql(sql, values);
    return query.next() ? query.value(0).toLongLong() : -1;
}

qint64 documentCount() {
    return scalar(QStringLiteral("SELECT COUNT(*) FROM ProfDocuments WHERE IFNULL(isTemplate, 0) = 0"));
}

// A template of a welders' group with three subjects.
qint64 addTemplate() {
    const int id = insertRow(
        QStringLiteral("ProfDocuments"),
        {{"isTemplate", 1}, {"fio1", "Сварщики 2026"}, {"qual", "Сварщик 3 разряда"}, {"issueDate", "2026-06-30"}});
    const QStringList subjects{"Охрана труда", "Материаловедение", "Практика"};
    for (const QString& subject : subjects)
        insertRow(QStringLiteral("ProfDetails"), {{"profId", id}, {"name", subject}, {"count", 12}, {"rate", "5"}});
    return id;
}

QStringList previewColumn(ImportDialog* dialog, ImportField field) {
    QStringList texts;
    const int column = dialog->preview()->columnOf(field);
    for (int row = 0; row < dialog->preview()->rowCount(); ++row)
        texts << dialog->preview()->index(row, column).data().toString();
    return texts;
}

// The main window with its import window open.
struct ImportSession {
    GuiFixture f;
    MainWindow* window = nullptr;
    ImportDialog* dialog = nullptr;

    ImportDialog* open() {
        if (!window)
            window = f.build<MainWindow>();
        f.trigger(QStringLiteral("actionImport"));
        dialog = window->importDialog();
        return dialog;
    }
    QString file(const QString& name, const QByteArray& bytes) { return writeFile(f.env().root() + '/' + name, bytes); }
    void click(const QString& button) { f.widget<QPushButton>(button)->click(); }
    void setColumn(int column, ImportField field) {
        auto* view = f.widget<QTableView>(QStringLiteral("tableViewColumns"));
        view->model()->setData(view->model()->index(column, 3), int(field), Qt::UserRole);
    }
    ImportField column(int column) {
        auto* view = f.widget<QTableView>(QStringLiteral("tableViewColumns"));
        return ImportField(view->model()->index(column, 3).data(Qt::UserRole).toInt());
    }
};
} // namespace

class TestImportWindow : public QObject {
    Q_OBJECT

    QTemporaryDir _books;
    QString largeBook() const { return _books.filePath(QStringLiteral("large.xlsx")); }

private slots:
    void initTestCase() { ReportList::build(); }
    void init() {
        FileDialog::clear();
        MessageBox::clearShown();
    }

    // Both ways in open the one window; a file and the clipboard fill the preview, the header
    // found below the title and the blank rows passed over.
    void readsTheSources_data() {
        QTest::addColumn<QString>("source");
        QTest::newRow("Windows-1251 file, ';'") << "cp1251";
        QTest::newRow("UTF-8 file with BOM") << "utf8";
        QTest::newRow("clipboard, tabs") << "clipboard";
        QTest::newRow("workbook, second sheet") << "xlsx";
    }

    void readsTheSources() {
        QFETCH(QString, source);
        ImportSession s;
        s.window = s.f.build<MainWindow>();
        s.window->show();
        QVERIFY(QTest::qWaitForWindowActive(s.window));
        QTest::keySequence(s.window, QKeySequence(QStringLiteral("Ctrl+I")));
        QTRY_VERIFY(s.window->importDialog() && s.window->importDialog()->isVisible());
        s.dialog = s.window->importDialog();
        QVERIFY(s.f.trigger(QStringLiteral("actionImport")));
        QCOMPARE(s.window->findChildren<ImportDialog*>().size(), 1);
        if (source == "clipboard") {
            QApplication::clipboard()->setText(QString(groupCsv).replace(';', '\t'));
            s.click(QStringLiteral("pushButtonPaste"));
        } else if (source == "xlsx") {
            const QString path = s.f.env().root() + QStringLiteral("/group.xlsx");
            QVERIFY(writeWorkbook(path));
            FileDialog::setNextFileName(path);
            s.click(QStringLiteral("pushButtonOpenFile"));
            auto* sheets = s.f.widget<QComboBox>(QStringLiteral("comboBoxSheet"));
            QCOMPARE(sheets->count(), 2);
            sheets->setCurrentIndex(1);
            emit sheets->activated(1);
        } else {
            const QByteArray bytes = source == "cp1251" ? cp1251(groupCsv) : "\xEF\xBB\xBF" + groupCsv.toUtf8();
            FileDialog::setNextFileName(s.file(QStringLiteral("group.csv"), bytes));
            s.click(QStringLiteral("pushButtonOpenFile"));
        }
        QCOMPARE(MessageBox::shown().size(), 0);
        QCOMPARE(s.f.widget<QSpinBox>(QStringLiteral("spinBoxHeaderRow"))->value(), 3);
        QCOMPARE(previewColumn(s.dialog, ImportField::Surname), groupSurnames);
        QCOMPARE(previewColumn(s.dialog, ImportField::BirthDate).first(), QStringLiteral("01.02.2001"));
        const QString label = s.f.widget<QLabel>(QStringLiteral("labelSource"))->text();
        QVERIFY2(label.startsWith(source == "clipboard" ? QStringLiteral("Буфер обмена") : QStringLiteral("group.")),
                 qPrintable(label));
    }

    // A spreadsheet is told by its content, not its name: an OpenDocument file under its own name
    // or a workbook's, a workbook under a text's; the sheets are listed and the group is found.
    void readsSpreadsheetsByContent_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("sheets");
        QTest::addColumn<int>("sheet");
        QTest::addColumn<QStringList>("surnames");
        const QStringList odsSurnames{"Иванов", "Ёлкина", "Сидоров"};
        QTest::newRow(".ods") << "group.ods"
                              << "Группа|Сводка|Пустой" << 0 << odsSurnames;
        QTest::newRow(".ods named .xlsx") << "group.xlsx"
                                          << "Группа|Сводка|Пустой" << 0 << odsSurnames;
        QTest::newRow(".xlsx named .csv") << "group.csv"
                                          << "Титул|Группа" << 1 << groupSurnames;
    }

    void readsSpreadsheetsByContent() {
        QFETCH(QString, name);
        QFETCH(QString, sheets);
        QFETCH(int, sheet);
        QFETCH(QStringList, surnames);
        ImportSession s;
        QVERIFY(s.open());
        const QString path = s.f.env().root() + '/' + name;
        if (name.endsWith(QLatin1String(".csv")))
            QVERIFY(writeWorkbook(path));
        else
            QVERIFY(QFile::copy(testDataPath(QStringLiteral("imports/ods/calc-group.ods")), path));
        QVERIFY(s.dialog->loadFile(path));
        QCOMPARE(MessageBox::shown().size(), 0);
        auto* box = s.f.widget<QComboBox>(QStringLiteral("comboBoxSheet"));
        QStringList names;
        for (int i = 0; i < box->count(); ++i)
            names << box->itemText(i);
        QCOMPARE(names.join('|'), sheets);
        QVERIFY(box->isEnabled());
        if (sheet > 0) {
            box->setCurrentIndex(sheet);
            emit box->activated(sheet);
        }
        // The two-level header is taken at its upper row; the clerk moves it to the lower one.
        s.f.widget<QSpinBox>(QStringLiteral("spinBoxHeaderRow"))->setValue(3);
        QCOMPARE(previewColumn(s.dialog, ImportField::Surname), surnames);
        QVERIFY(s.f.widget<QLabel>(QStringLiteral("labelSource"))->text().startsWith(name));
    }

    // An open document dialog holds the registry's transaction: the import waits until it is closed.
    void refusedWhileADocumentIsEdited() {
        ImportSession s;
        const int id = insertRow(QStringLiteral("ProfDocuments"), {{"fio1", "Кузнецов"}});
        s.window = s.f.build<MainWindow>();
        s.window->onDocumentEdit(id);
        QTRY_VERIFY(s.window->editDialog() && s.window->editDialog()->isVisible());
        QVERIFY(s.f.trigger(QStringLiteral("actionImport")));
        QVERIFY(!s.window->importDialog());
        QCOMPARE(MessageBox::lastShown().text,
                 QStringLiteral("Закройте окна редактирования документов, затем повторите импорт."));
        s.window->editDialog()->close();
        QTRY_VERIFY(!s.window->editDialog());
        QVERIFY(s.open());
    }

    // A source that cannot be read is refused with the reader's reason; the window keeps its table.
    void unreadableSourceKeepsTheTable_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("not a workbook") << "list.xlsx" << QByteArray("PK\x03\x04 not really a zip");
        QTest::newRow("missing file") << "missing.csv" << QByteArray();
        QTest::newRow("empty text") << "empty.csv" << QByteArray("\r\n");
    }

    void unreadableSourceKeepsTheTable() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        ImportSession s;
        QVERIFY(s.open());
        QVERIFY(s.dialog->loadClipboardText(groupCsv));
        const QString path = s.f.env().root() + '/' + name;
        if (!bytes.isEmpty())
            writeFile(path, bytes);
        QVERIFY(!s.dialog->loadFile(path));
        QCOMPARE(MessageBox::lastShown().title, MessageBox::errorTitle());
        QVERIFY2(MessageBox::lastShown().text.startsWith(QStringLiteral("Не удалось прочитать файл %1:\n").arg(name)),
                 qPrintable(MessageBox::lastShown().text));
        QCOMPARE(previewColumn(s.dialog, ImportField::Surname), groupSurnames);
        QVERIFY(s.f.widget<QLabel>(QStringLiteral("labelSource"))->text().startsWith(QStringLiteral("Буфер обмена")));
    }

    // An old workbook opens as a new one does; a file with zero bytes is refused with what it seems
    // to be, and the window keeps its table.
    void oldWorkbookOrBinaryFile_data() {
        QTest::addColumn<QString>("file"); // a file of tests/data, or the name `bytes` are written as
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message"); // empty when the file is read
        QTest::newRow("LibreOffice, Excel 97")
            << testDataPath(QStringLiteral("imports/xls/libreoffice-group.xls")) << QByteArray() << QString();
        QTest::newRow("Gnumeric, Excel 95")
            << testDataPath(QStringLiteral("imports/xls/gnumeric-group-biff7.xls")) << QByteArray() << QString();
        QTest::newRow("zero bytes in a .csv")
            << "list.csv" << QByteArray("Фамилия;Имя\r\nИванов;Ив") + '\0' + "ан\r\n"
            << QStringLiteral("Не удалось прочитать файл list.csv:\nФайл не похож на таблицу: это двоичный файл, а не "
                              "текст.");
        QTest::newRow("a registry named .csv")
            << "group.csv" << QByteArray("SQLite format 3\0\x10\0\x01\x01", 20)
            << QStringLiteral("Не удалось прочитать файл group.csv:\nФайл не похож на таблицу: это файл базы данных "
                              "SQLite.");
    }

    void oldWorkbookOrBinaryFile() {
        QFETCH(QString, file);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        ImportSession s;
        QVERIFY(s.open());
        QVERIFY(s.dialog->loadClipboardText(groupCsv));
        const QString path = bytes.isEmpty() ? file : s.file(file, bytes);
        QCOMPARE(s.dialog->loadFile(path), message.isEmpty());
        if (!message.isEmpty()) {
            QCOMPARE(MessageBox::lastShown().title, MessageBox::errorTitle());
            QCOMPARE(MessageBox::lastShown().text, message);
            QCOMPARE(previewColumn(s.dialog, ImportField::Surname), groupSurnames);
            return;
        }
        QCOMPARE(MessageBox::shown().size(), 0);
        QCOMPARE(s.f.widget<QComboBox>(QStringLiteral("comboBoxSheet"))->count(), 2);
        QCOMPARE(s.f.widget<QSpinBox>(QStringLiteral("spinBoxHeaderRow"))->value(), 1);
        QCOMPARE(previewColumn(s.dialog, ImportField::Surname).mid(0, 2),
                 QStringList({QStringLiteral("Иванов"), QStringLiteral("Ёлкина")}));
        QCOMPARE(previewColumn(s.dialog, ImportField::BirthDate).mid(0, 2),
                 QStringList({QStringLiteral("15.03.2001"), QStringLiteral("31.12.1999")}));
    }

    // Hostile cells: a name of a megabyte, a row of 10,000 columns, dates in the years 1 and 9999.
    void extremeCellsAreShownAndMarked() {
        ImportSession s;
        QVERIFY(s.open());
        const QString huge(1024 * 1024, QChar(0x416));
        QString text = QStringLiteral("Фамилия\tИмя\tДата рождения\n%1\tИван\t01.01.0001\n").arg(huge);
        text += QStringLiteral("Петров\tПётр\t31.12.9999") + QString(10000, '\t') + QStringLiteral("x\n");
        QVERIFY(s.dialog->loadClipboardText(text));
        ImportPreviewModel* preview = s.dialog->preview();
        QCOMPARE(preview->rowCount(), 2);
        QVERIFY(s.f.widget<QTableView>(QStringLiteral("tableViewColumns"))->model()->rowCount() <= 256);
        QVERIFY(!s.dialog->table().notice.isEmpty());
        const QModelIndex name = preview->index(0, preview->columnOf(ImportField::Surname));
        QVERIFY(name.data().toString().size() <= 501);
        QCOMPARE(name.data(Qt::EditRole).toString().size(), huge.size());
        for (int row = 0; row < 2; ++row)
            QVERIFY(preview->index(row, preview->columnOf(ImportField::BirthDate)).data(Qt::BackgroundRole).isValid());
        auto* problems = s.f.widget<QListWidget>(QStringLiteral("listWidgetProblems"));
        for (int i = 0; i < problems->count(); ++i)
            QVERIFY(problems->item(i)->text().size() < 300);
    }

    // The documents carry the template's subjects and the numbering; the list then shows and
    // selects exactly them, even when its filters would have hidden them.
    void importsTheGroup_data() {
        QTest::addColumn<QString>("filter");
        QTest::newRow("no filter") << QString();
        QTest::newRow("a filter that hides them") << QStringLiteral("Кузнецов");
    }

    void importsTheGroup() {
        QFETCH(QString, filter);
        ImportSession s;
        insertRow(QStringLiteral("ProfDocuments"), {{"fio1", "Кузнецов"}, {"attNumber", "СВ 000100"}});
        const qint64 templateId = addTemplate();
        s.window = s.f.build<MainWindow>();
        s.window->documentsTable()->updateData();
        if (!filter.isEmpty()) {
            auto* name = s.f.widget<QLineEdit>(QStringLiteral("lineEditFio1"));
            name->setText(filter);
            emit name->textEdited(filter);
            QCOMPARE(s.window->documentsTable()->shownIds().size(), 1);
        }
        QVERIFY(s.open());
        auto* templates = s.f.widget<QComboBox>(QStringLiteral("comboBoxTemplate"));
        templates->setCurrentIndex(templates->findData(templateId));
        s.f.widget<QLineEdit>(QStringLiteral("lineEditFirstAttNumber"))->setText(QStringLiteral("СВ 000098"));
        QVERIFY(s.dialog->loadClipboardText(QString(groupCsv).replace(';', '\t')));
        // The third number is taken by Кузнецов's certificate.
        QCOMPARE(s.dialog->preview()->documentList().at(2).problems.size(), 1);
        s.f.widget<QLineEdit>(QStringLiteral("lineEditFirstAttNumber"))->setText(QStringLiteral("СВ 000101"));
        QCOMPARE(previewColumn(s.dialog, ImportField::AttNumber), (QStringList{"СВ 000101", "СВ 000102", "СВ 000103"}));
        const qint64 before = documentCount();
        s.click(QStringLiteral("pushButtonImport"));
        QTRY_VERIFY(!s.window->importDialog());
        QCOMPARE(documentCount(), before + 3);
        QVERIFY(MessageBox::lastShown().text.startsWith(QStringLiteral("Импортировано документов: 3.\n")));
        QList<qint64> selected = s.window->documentsTable()->selectedIds();
        std::sort(selected.begin(), selected.end());
        QSqlQuery query =
            runSql(QStringLiteral("SELECT profId, fio1, attNumber, qual, (SELECT group_concat(name, '|') "
                                  "FROM (SELECT name FROM ProfDetails d WHERE d.profId = p.profId "
                                  "ORDER BY detId)) FROM ProfDocuments p WHERE profId > ? ORDER BY profId"),
                   {templateId});
        QList<qint64> made;
        QStringList surnames;
        while (query.next()) {
            made << query.value(0).toLongLong();
            surnames << query.value(1).toString();
            QCOMPARE(query.value(2).toString(), QStringLiteral("СВ 00010%1").arg(made.size()));
            QCOMPARE(query.value(3).toString(), QStringLiteral("Сварщик 3 разряда"));
            QCOMPARE(query.value(4).toString(), QStringLiteral("Охрана труда|Материаловедение|Практика"));
        }
        QCOMPARE(surnames, groupSurnames);
        QCOMPARE(selected, made);
    }

    // A document with a problem blocks the whole import until it is fixed in place or left out.
    void problemBlocksTheImport_data() {
        QTest::addColumn<QString>("remedy");
        QTest::addColumn<int>("imported");
        QTest::newRow("fixed in place") << "fix" << 3;
        QTest::newRow("left out") << "uncheck" << 2;
        QTest::newRow("every row left out") << "uncheck all" << 0;
    }

    void problemBlocksTheImport() {
        QFETCH(QString, remedy);
        QFETCH(int, imported);
        ImportSession s;
        QVERIFY(s.open());
        QVERIFY(
            s.dialog->loadClipboardText(QString(groupCsv).replace(QStringLiteral("Петрова;"), QStringLiteral(";"))));
        auto* problems = s.f.widget<QListWidget>(QStringLiteral("listWidgetProblems"));
        QCOMPARE(problems->count(), 1);
        QVERIFY(problems->item(0)->text().startsWith(QStringLiteral("Строка 6: ")));
        ImportPreviewModel* preview = s.dialog->preview();
        const QModelIndex surname = preview->index(1, preview->columnOf(ImportField::Surname));
        QVERIFY(surname.data(Qt::BackgroundRole).isValid());
        QVERIFY(!surname.data(Qt::ToolTipRole).toString().isEmpty());
        emit problems->itemDoubleClicked(problems->item(0));
        QCOMPARE(s.f.widget<QTableView>(QStringLiteral("tableViewPreview"))->currentIndex(), surname);
        const qint64 before = documentCount();
        s.click(QStringLiteral("pushButtonImport"));
        QCOMPARE(MessageBox::lastShown().text, QStringLiteral("В 1 документах есть ошибки. Исправьте их или снимите "
                                                              "отметку «Импорт» у этих строк."));
        QCOMPARE(documentCount(), before);
        if (remedy == "fix") {
            QVERIFY(preview->setData(surname, QStringLiteral("Петрова")));
        } else {
            for (int row = 0; row < preview->rowCount(); ++row)
                if (row == 1 || remedy == "uncheck all")
                    QVERIFY(preview->setData(preview->index(row, 0), Qt::Unchecked, Qt::CheckStateRole));
        }
        QCOMPARE(problems->count(), 0);
        s.click(QStringLiteral("pushButtonImport"));
        QCOMPARE(documentCount(), before + imported);
        if (imported == 0)
            QCOMPARE(MessageBox::lastShown().text, QStringLiteral("Нет документов для импорта."));
        QTRY_COMPARE(s.window->importDialog() == nullptr, imported > 0);
    }

    // A refused write and a cancelled one leave the registry as it was; after a refusal the window
    // stays with the user's edits.
    void failedImportChangesNothing_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("message");
        // Row 202 of the text is the 200th document imported: the message names the row the clerk sees.
        QTest::newRow("trigger refuses a row") << "trigger"
                                               << "Документы не импортированы: Строка 202: строка отклонена";
        QTest::newRow("read-only registry") << "query_only"
                                            << "Документы не импортированы: ";
        QTest::newRow("cancelled") << "cancel"
                                   << "Импорт отменён. Реестр не изменён.";
    }

    void failedImportChangesNothing() {
        QFETCH(QString, how);
        QFETCH(QString, message);
        ImportSession s;
        QVERIFY(s.open());
        QString text = QStringLiteral("Фамилия;Имя\n");
        for (int i = 0; i < 250; ++i)
            text += QStringLiteral("Фамилия%1;Имя\n").arg(i);
        QVERIFY(s.dialog->loadClipboardText(text));
        ImportPreviewModel* preview = s.dialog->preview();
        QVERIFY(preview->setData(preview->index(0, preview->columnOf(ImportField::Name)), QStringLiteral("Правка")));
        QVERIFY(preview->setData(preview->index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
        const qint64 before = documentCount();
        const qint64 lastId = scalar(QStringLiteral("SELECT IFNULL(MAX(profId), 0) FROM ProfDocuments"));
        QTimer canceller;
        if (how == "trigger")
            runSql(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON ProfDocuments WHEN NEW.fio1 = 'Фамилия200' "
                                  "BEGIN SELECT RAISE(ABORT, 'строка отклонена'); END"));
        else if (how == "query_only")
            runSql(QStringLiteral("PRAGMA query_only = 1"));
        else {
            connect(&canceller, &QTimer::timeout, [&s] {
                if (auto* progress = s.dialog->findChild<QProgressDialog*>())
                    progress->cancel();
            });
            canceller.start(0);
        }
        s.click(QStringLiteral("pushButtonImport"));
        runSql(QStringLiteral("PRAGMA query_only = 0"));
        QVERIFY2(MessageBox::lastShown().text.startsWith(message), qPrintable(MessageBox::lastShown().text));
        if (how != "cancel")
            QVERIFY(MessageBox::lastShown().text.endsWith(QStringLiteral("\nРеестр не изменён.")));
        QCOMPARE(documentCount(), before);
        QCOMPARE(scalar(QStringLiteral("SELECT IFNULL(MAX(profId), 0) FROM ProfDocuments")), lastId);
        QVERIFY(s.window->importDialog());
        QCOMPARE(previewColumn(s.dialog, ImportField::Name).first(), QStringLiteral("Правка"));
    }

    // Closing the window while a large workbook is read stops the read and closes the window once
    // the reader has let go: no crash, nothing read into the window, nothing written. "Отмена"
    // stops the read and keeps the window with the table it had.
    void closingStopsAWorkbookRead_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("Escape") << "escape";
        QTest::newRow("Закрыть") << "close button";
        QTest::newRow("the window's close") << "close";
        QTest::newRow("Отмена") << "cancel";
        QTest::newRow("Escape on the progress") << "escape progress";
    }

    void closingStopsAWorkbookRead() {
        QFETCH(QString, how);
        if (!_books.isValid() || (!QFile::exists(largeBook()) && !writeLargeWorkbook(largeBook())))
            QFAIL("no workbook");
        ImportSession s;
        QVERIFY(s.open());
        QVERIFY(s.dialog->loadClipboardText(groupCsv));
        const qint64 before = documentCount();
        QPointer<ImportDialog> dialog = s.dialog;
        QTimer closer;
        closer.setSingleShot(true);
        connect(&closer, &QTimer::timeout, [&] {
            if (how == "escape")
                QTest::keyClick(dialog, Qt::Key_Escape);
            else if (how == "close button")
                s.click(QStringLiteral("pushButtonClose"));
            else if (how == "close")
                dialog->close();
            else if (auto* progress = dialog->findChild<QProgressDialog*>()) {
                if (how == "cancel") {
                    progress->cancel();
                } else {
                    progress->show();
                    QTest::keyClick(progress, Qt::Key_Escape);
                }
            }
        });
        // Fires once the window waits for its reader.
        closer.start(0);
        FileDialog::setNextFileName(largeBook());
        s.click(QStringLiteral("pushButtonOpenFile"));
        QCOMPARE(MessageBox::shown().size(), 0);
        if (how.endsWith("cancel") || how.endsWith("progress")) {
            QVERIFY(dialog && dialog->isVisible());
            QCOMPARE(previewColumn(dialog, ImportField::Surname), groupSurnames);
            QVERIFY(s.f.widget<QLabel>(QStringLiteral("labelSource"))->text().startsWith(QStringLiteral("Буфер")));
            // The window reads again afterwards.
            FileDialog::setNextFileName(s.file(QStringLiteral("group.csv"), groupCsv.toUtf8()));
            s.click(QStringLiteral("pushButtonOpenFile"));
            QVERIFY(s.f.widget<QLabel>(QStringLiteral("labelSource"))->text().startsWith(QStringLiteral("group.csv")));
        } else {
            QCOMPARE(dialog->preview()->rowCount(), groupSurnames.size());
            QTRY_VERIFY(!dialog);
            QVERIFY(!s.window->importDialog());
        }
        QCOMPARE(documentCount(), before);
    }

    // After an import the clerk learns how many of the new documents the FRDO check would refuse
    // and may open the check's list of exactly those; the list opens documents and closes.
    void importTellsWhatFailsTheFrdoCheck_data() {
        QTest::addColumn<QString>("rows");
        QTest::addColumn<bool>("withTemplate");
        QTest::addColumn<bool>("openList");
        QTest::addColumn<int>("failingCount");
        const QString header =
            QStringLiteral("Фамилия;Имя;Отчество;Дата рождения;Пол;СНИЛС;Номер свидетельства;Регистрационный номер\n");
        const QString passing = QStringLiteral("Альфина;Мария;Петровна;17.05.1990;ж;112-233-445 95;АБ 000123;77\n");
        const QString tooYoung = QStringLiteral("Борисова;Анна;Ивановна;01.02.2015;ж;;АБ 000124;78\n");
        QTest::newRow("none passes, list opened") << groupCsv << false << true << 3;
        QTest::newRow("none passes, list declined") << groupCsv << false << false << 3;
        QTest::newRow("one of two fails, list opened") << header + passing + tooYoung << true << true << 1;
        QTest::newRow("every one passes") << header + passing << true << false << 0;
    }

    void importTellsWhatFailsTheFrdoCheck() {
        QFETCH(QString, rows);
        QFETCH(bool, withTemplate);
        QFETCH(bool, openList);
        QFETCH(int, failingCount);
        ImportSession s;
        qint64 templateId = 0;
        if (withTemplate) {
            // A template that gives everything the FRDO table needs but the person.
            templateId = insertRow(QStringLiteral("ProfDocuments"), passingTemplate());
            QVariantMap frdo = passingFrdo();
            frdo["profId"] = templateId;
            insertRow(QStringLiteral("ProfFrdo"), frdo);
            insertRow(QStringLiteral("ProfDetails"),
                      {{"profId", templateId}, {"name", "Шитьё"}, {"count", 144}, {"rate", "5"}});
        }
        QVERIFY(s.open());
        auto* templates = s.f.widget<QComboBox>(QStringLiteral("comboBoxTemplate"));
        templates->setCurrentIndex(templates->findData(templateId));
        QVERIFY(s.dialog->loadClipboardText(rows));
        const int count = s.dialog->preview()->rowCount();
        MessageBox::setNextAnswer(openList ? QMessageBox::Yes : QMessageBox::No);
        s.click(QStringLiteral("pushButtonImport"));
        QTRY_VERIFY(!s.window->importDialog());
        QList<qint64> ids = s.window->documentsTable()->selectedIds();
        std::sort(ids.begin(), ids.end());
        QCOMPARE(ids.size(), count);
        QVector<FrdoCheck::FailingDocument> failing;
        QVERIFY(FrdoCheck::checkDocuments(ids, &failing, nullptr));
        QCOMPARE(failing.size(), failingCount);
        const QString imported = QStringLiteral("Импортировано документов: %1.\n").arg(count);
        if (failingCount == 0) {
            QCOMPARE(MessageBox::lastShown().text, imported + QStringLiteral("Все они проходят проверку данных ФРДО."));
        } else {
            QCOMPARE(MessageBox::lastShown().text,
                     imported + QStringLiteral("Не пройдут проверку данных ФРДО: %1 из %2.\n\n"
                                               "Открыть список документов с ошибками?")
                                    .arg(failingCount)
                                    .arg(count));
            QCOMPARE(MessageBox::lastShown().defaultButton, QMessageBox::Yes);
        }
        FrdoCheckDialog* check = s.window->findChild<FrdoCheckDialog*>();
        QCOMPARE(check != nullptr, openList);
        if (!openList)
            return;
        QTRY_VERIFY(check->isVisible());
        QVERIFY(!check->isModal());
        auto* tree = check->findChild<QTreeWidget*>(QStringLiteral("treeWidgetDocuments"));
        QList<qint64> listed;
        for (int row = 0; row < tree->topLevelItemCount(); ++row)
            listed << tree->topLevelItem(row)->data(0, Qt::UserRole).toLongLong();
        QList<qint64> failingIds;
        for (const FrdoCheck::FailingDocument& document : failing)
            failingIds << document.id;
        QCOMPARE(listed, failingIds);
        QVERIFY(!check->findChild<QPushButton*>(QStringLiteral("pushButtonExportAll"))->isVisible());
        emit tree->itemDoubleClicked(tree->topLevelItem(0), 0);
        QTRY_VERIFY(s.window->editDialog() && s.window->editDialog()->isVisible());
        s.window->editDialog()->close();
        QPointer<FrdoCheckDialog> closed = check;
        check->findChild<QPushButton*>(QStringLiteral("pushButtonCancel"))->click();
        QTRY_VERIFY(!closed);
    }

    // A column the user assigned keeps its field the next time, by header text or, without a
    // header, by position; the window keeps its size.
    void choicesSurviveReopening_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("by header") << "Ученик;Дата рождения;СНИЛС\nИванов Иван Иванович;01.02.2001;\n";
        QTest::newRow("by position") << "Иванов Иван Иванович;01.02.2001\n";
    }

    void choicesSurviveReopening() {
        QFETCH(QString, text);
        ImportSession s;
        QVERIFY(s.open());
        QVERIFY(s.dialog->loadClipboardText(text));
        QCOMPARE(s.column(0), ImportField::Ignore);
        s.setColumn(0, ImportField::FullName);
        QCOMPARE(previewColumn(s.dialog, ImportField::Patronymic), QStringList{"Иванович"});
        s.dialog->resize(1100, 700);
        s.click(QStringLiteral("pushButtonClose"));
        QTRY_VERIFY(!s.window->importDialog());
        QVERIFY(s.open());
        QCOMPARE(s.dialog->size(), QSize(1100, 700));
        QVERIFY(s.dialog->loadClipboardText(text));
        QCOMPARE(s.column(0), ImportField::FullName);
        QCOMPARE(previewColumn(s.dialog, ImportField::Surname), QStringList{"Иванов"});
    }

    // A group imported a second time, with a stranger sharing a SNILS and lacking a first name:
    // the people already there are warnings, the SNILS, the name and a registration number the
    // registry holds are problems; the import asks once before it writes people twice.
    void groupImportedTwice_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("imported");
        QTest::newRow("write them anyway") << int(QMessageBox::Yes) << 3;
        QTest::newRow("do not") << int(QMessageBox::No) << 0;
    }

    void groupImportedTwice() {
        QFETCH(int, answer);
        QFETCH(int, imported);
        const QString header = QStringLiteral("Фамилия\tИмя\tОтчество\tДата рождения\tСНИЛС\tРег. номер\n");
        const QString ivanov = QStringLiteral("Иванов\tИван\tИванович\t01.02.2001\t112-233-445 95\t");
        const QString petrova = QStringLiteral("Петрова\tАнна\tСергеевна\t04.03.2002\t\t");
        const QString sidorov = QStringLiteral("Сидоров\tОлег\tПетрович\t15.05.2000\t\t");
        ImportSession s;
        QVERIFY(s.open());
        QVERIFY(s.dialog->loadClipboardText(header + ivanov + "15-П\n" + petrova + "\n" + sidorov + "\n"));
        QCOMPARE(s.f.widget<QLabel>(QStringLiteral("labelSummary"))->text(),
                 QStringLiteral("Документов к импорту: 3, с ошибками: 0, предупреждений: 0"));
        s.click(QStringLiteral("pushButtonImport"));
        QTRY_VERIFY(!s.window->importDialog());
        const qint64 once = documentCount();

        QVERIFY(s.open());
        MessageBox::clearShown();
        QVERIFY(s.dialog->loadClipboardText(header + ivanov + "\n" + petrova + "\n" + petrova + "\n" + sidorov +
                                            "15-П\n" + "Кузьмин\t\tИванович\t03.03.2003\t112-233-445 95\t\n"));
        auto* summary = s.f.widget<QLabel>(QStringLiteral("labelSummary"));
        QCOMPARE(summary->text(), QStringLiteral("Документов к импорту: 5, с ошибками: 3, предупреждений: 4"));
        QStringList listed;
        auto* list = s.f.widget<QListWidget>(QStringLiteral("listWidgetProblems"));
        for (int i = 0; i < list->count(); ++i)
            listed << list->item(i)->text();
        const QString inFile = QStringLiteral("Повторяется в файле: Петрова Анна Сергеевна, 04.03.2002 (строки 3, 4)");
        const QString sharedSnils = QStringLiteral("СНИЛС повторяется в файле у разных людей: 112-233-445 95");
        QCOMPARE(
            listed,
            (QStringList{"Строка 2: " + sharedSnils, "Строка 2: Уже есть в реестре: Иванов Иван Иванович, 01.02.2001",
                         "Строка 3: " + inFile, "Строка 3: Уже есть в реестре: Петрова Анна Сергеевна, 04.03.2002",
                         "Строка 4: " + inFile, "Строка 4: Уже есть в реестре: Петрова Анна Сергеевна, 04.03.2002",
                         "Строка 5: Регистрационный номер уже есть в реестре: 15-П",
                         "Строка 5: Уже есть в реестре: Сидоров Олег Петрович, 15.05.2000", "Строка 6: Не указано имя",
                         "Строка 6: " + sharedSnils,
                         "Строка 6: СНИЛС уже есть в реестре у другого человека: Иванов Иван Иванович, "
                         "01.02.2001"}));
        // Warnings and problems in colours of their own, each cell with its own.
        ImportPreviewModel* preview = s.dialog->preview();
        const auto colour = [preview](int row, ImportField field) {
            return preview->index(row, preview->columnOf(field)).data(Qt::BackgroundRole).value<QBrush>().color();
        };
        QCOMPARE(colour(3, ImportField::Surname), ImportPreviewModel::warningColour());
        QCOMPARE(colour(3, ImportField::RegNumber), ImportPreviewModel::problemColour());
        QCOMPARE(colour(4, ImportField::Name), ImportPreviewModel::problemColour());
        QVERIFY(ImportPreviewModel::warningColour() != ImportPreviewModel::problemColour());
        QCOMPARE(list->item(1)->background().color(), ImportPreviewModel::warningColour());

        // Problems still block; left out, the rest is asked about once.
        s.click(QStringLiteral("pushButtonImport"));
        QCOMPARE(documentCount(), once);
        for (int row : {3, 4})
            QVERIFY(preview->setData(preview->index(row, 0), Qt::Unchecked, Qt::CheckStateRole));
        QCOMPARE(summary->text(), QStringLiteral("Документов к импорту: 3, с ошибками: 0, предупреждений: 3"));
        MessageBox::clearShown();
        MessageBox::setNextAnswer(QMessageBox::StandardButton(answer));
        s.click(QStringLiteral("pushButtonImport"));
        QTRY_COMPARE(s.window->importDialog() == nullptr, imported > 0);
        QCOMPARE(documentCount(), once + imported);
        const QString question = QStringLiteral("У 3 документов есть предупреждения (они в списке под таблицей): тот же "
                                                "человек в файле или в реестре, ФИО, которое стоит проверить.\n"
                                                "Импортировать их всё равно?");
        int asked = 0;
        for (const MessageBox::Shown& box : MessageBox::shown()) {
            asked += box.text == question ? 1 : 0;
            if (box.text == question)
                QCOMPARE(box.defaultButton, QMessageBox::No);
        }
        QCOMPARE(asked, 1);
    }

    // The window takes the header from both rows of a two-row header, passes over the header
    // printed again, shows cells without their invisible noise and lists what cannot be taken.
    void headerRowsAndInvisibleCharacters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("headerRow"); // 1-based, as the window shows it
        QTest::addColumn<QList<int>>("fields");
        QTest::addColumn<QStringList>("surnames");
        QTest::addColumn<QStringList>("listed");
        const QString upper = QStringLiteral("№ п/п\tФ.И.О.\t\t\tДата рождения\n");
        const QString lower = QStringLiteral("\tФамилия\tИмя\tОтчество\t\n");
        const QList<int> twoRows{int(ImportField::Ignore), int(ImportField::Surname), int(ImportField::Name),
                                 int(ImportField::Patronymic), int(ImportField::BirthDate)};
        QTest::newRow("header over two rows, printed again")
            << QStringLiteral("Список группы\n") + upper + lower + "1\tИванов\tИван\tИванович\t01.02.2001\n" + upper +
                   lower + "2\tМамедов\tЭльдар\tРашид оглы\t03.04.2002\n"
            << 3 << twoRows << QStringList{"Иванов", "Мамедов"} << QStringList{};
        QTest::newRow("invisible characters")
            << QStringLiteral("ФИО\tДата рождения\n"
                              "\u00A0Иванов\u200B Иван\u00A0Иванович\t01.02.2001\n"
                              "\u202EвортеП Пётр\t03.04.2002\n"
                              "Мамедов Эльдар Рашид оглы\t05.06.2003\n")
            << 1 << QList<int>{int(ImportField::FullName), int(ImportField::BirthDate)}
            << QStringList{"Иванов", "\u202EвортеП", "Мамедов"}
            << QStringList{"Строка 3: Недопустимый символ в поле «Фамилия»: U+202E"};
    }

    void headerRowsAndInvisibleCharacters() {
        QFETCH(QString, text);
        QFETCH(int, headerRow);
        QFETCH(QList<int>, fields);
        QFETCH(QStringList, surnames);
        QFETCH(QStringList, listed);
        ImportSession s;
        QVERIFY(s.open());
        QVERIFY(s.dialog->loadClipboardText(text));
        QCOMPARE(s.f.widget<QSpinBox>(QStringLiteral("spinBoxHeaderRow"))->value(), headerRow);
        for (int column = 0; column < fields.size(); ++column)
            QCOMPARE(int(s.column(column)), fields.at(column));
        QCOMPARE(previewColumn(s.dialog, ImportField::Surname), surnames);
        QCOMPARE(previewColumn(s.dialog, ImportField::Name).first(), QStringLiteral("Иван"));
        QStringList shown;
        auto* list = s.f.widget<QListWidget>(QStringLiteral("listWidgetProblems"));
        for (int i = 0; i < list->count(); ++i)
            shown << list->item(i)->text();
        QCOMPARE(shown, listed);
        // What the clerk types in the preview is cleaned the same way.
        ImportPreviewModel* preview = s.dialog->preview();
        const QModelIndex surname = preview->index(0, preview->columnOf(ImportField::Surname));
        QVERIFY(preview->setData(surname, QStringLiteral("\u00A0Иванова\u200B"), Qt::EditRole));
        QCOMPARE(surname.data(Qt::EditRole).toString(), QStringLiteral("Иванова"));
    }
};

ORVANE_TEST(TestImportWindow)
#include "tst_importwindow.moc"
