#include "appkeys.h"
#include "armedprobe.h"
#include "database.h"
#include "documenteditdialog.h"
#include "documentstable.h"
#include "engine.h"
#include "filedialog.h"
#include "filterdockwidget.h"
#include "guifixture.h"
#include "mainwindow.h"
#include "printdialog.h"
#include "productinfo.h"
#include "registrybackup.h"
#include "reportpage.h"
#include "selecttemplatedialog.h"
#include "settingsregistry.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSqlQuery>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest>
#include <memory>

namespace {
// Stands in for the desktop's program that opens a written file.
class FileOpener : public QObject {
    Q_OBJECT
public:
    FileOpener() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~FileOpener() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

void addDocuments(int count) {
    for (int i = 0; i < count; ++i) {
        QSqlQuery query(QSqlDatabase::database());
        query.prepare(QStringLiteral("INSERT INTO ProfDocuments (fio1, fio2, fio3) VALUES (?, 'Иван', 'Иванович')"));
        query.addBindValue(QStringLiteral("Фамилия%1").arg(i));
        QVERIFY(Database::instance()->execPrepared(query));
    }
}

// "text|shortcut" for every entry of a menu or tool bar, "-" for a separator.
QStringList entries(const QList<QAction*>& actions) {
    QStringList list;
    for (const QAction* action : actions) {
        if (action->isSeparator())
            list << QStringLiteral("-");
        else
            list << action->text() + QLatin1Char('|') + action->shortcut().toString();
    }
    return list;
}

const QString editorWarningStart = QStringLiteral("<p align='justify'>Внимание!<br><br>Вы переходите в раздел");
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { ReportList::build(); }
    void init() { FileDialog::clear(); }

    void menusAndToolBar() {
        GuiFixture f;
        auto* window = f.build<MainWindow>();
        QStringList menus;
        QList<QStringList> contents;
        for (QAction* action : window->menuBar()->actions()) {
            menus << action->text();
            contents << entries(action->menu()->actions());
        }
        QCOMPARE(menus, (QStringList{"Файл", "Вид", "Инструменты", "Справка", "Поддержка"}));
        QCOMPARE(contents.at(0), (QStringList{"Импорт|Ctrl+I", "-", "Настройки|", "Выход|"}));
        QCOMPARE(contents.at(1), (QStringList{"Фильтры|", "Панель инструментов|", "Баннер|"}));
        QCOMPARE(contents.at(2),
                 (QStringList{"Создать резервную копию|", "Восстановить из резервной копии|", "-",
                              "Книга регистрации свидетельств|Ctrl+S", "ФРДО|", "Статистика|", "Журнал изменений|", "-",
                              "Редактор форм|F7", "Калибровка принтера|", "-", "Настройки программы|"}));
        QCOMPARE(contents.at(3), (QStringList{"О программе|F1", "Проверить обновления|", "-", "Совет дня|"}));
        QCOMPARE(contents.at(4), (QStringList{"Форум поддержки|"}));
        auto* toolBar = f.widget<QToolBar>(QStringLiteral("toolBar"));
        QCOMPARE(entries(toolBar->actions()), (QStringList{"Создать документ|", "Редактировать документ|",
                                                           "Создать копию документа|", "Печать|", "Удалить|"}));
        QCOMPARE(toolBar->iconSize(), QSize(56, 48));
        for (const QAction* action : toolBar->actions())
            QVERIFY2(!action->icon().isNull(), qPrintable(action->objectName()));
        QVERIFY(f.widget<QAction>(QStringLiteral("actionShowBanner"))->isChecked());
    }

    void selectionDependentActions_data() {
        QTest::addColumn<int>("selected");
        QTest::addColumn<QList<bool>>("visible"); // Удалить, Редактировать, Печать, Копия
        QTest::newRow("none") << 0 << QList<bool>{false, false, false, false};
        QTest::newRow("one") << 1 << QList<bool>{true, true, true, true};
        QTest::newRow("two") << 2 << QList<bool>{true, false, false, false};
    }

    void selectionDependentActions() {
        QFETCH(int, selected);
        QFETCH(QList<bool>, visible);
        GuiFixture f;
        addDocuments(3);
        auto* window = f.build<MainWindow>();
        DocumentsTable* table = window->documentsTable();
        table->updateData();
        const QStringList names{"actionRemove", "actionEdit", "actionPrint", "actionCopy"};
        for (int row = 0; row < selected; ++row)
            table->selectionModel()->select(table->model()->index(row, 1),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        for (int i = 0; i < names.size(); ++i)
            QCOMPARE(f.widget<QAction>(names.at(i))->isVisible(), visible.at(i));
        emit table->unselect();
        for (const QString& name : names)
            QVERIFY(!f.widget<QAction>(name)->isVisible());
    }

    void filterActionFollowsThePanel() {
        GuiFixture f;
        auto* window = f.build<MainWindow>();
        auto* action = f.widget<QAction>(QStringLiteral("actionFilter"));
        QTRY_VERIFY(window->filterDock()->isVisible());
        QVERIFY(action->isChecked());
        window->filterDock()->close();
        QTRY_VERIFY(!action->isChecked());
        action->trigger();
        QTRY_VERIFY(window->filterDock()->isVisible());
    }

    void backup_data() {
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("title");
        QTest::newRow("written") << true << QStringLiteral("Резервная копия успешно создана.")
                                 << QStringLiteral("Информация");
        QTest::newRow("not written") << false << QStringLiteral("Не удалось сохранить резервную копию.")
                                     << QStringLiteral("Ошибка");
    }

    void backup() {
        QFETCH(bool, writable);
        QFETCH(QString, message);
        QFETCH(QString, title);
        GuiFixture f;
        auto* window = f.build<MainWindow>();
        window->setLastDirectory(f.env().root());
        QCOMPARE(window->backupFileName(QDate(2023, 2, 3)), f.env().root() + "/Orvane-backup-2023-02-03.db");
        const QString target = f.env().root() + (writable ? "/copy.db" : "/missing/folder/copy.db");
        FileDialog::setNextFileName(target);
        f.answerNextBox(QMessageBox::Ok);
        QVERIFY(f.trigger(QStringLiteral("actionSaveDb")));
        QCOMPARE(FileDialog::captions(), QStringList{"Save file"});
        QCOMPARE(MessageBox::lastShown().title, title);
        QVERIFY2(MessageBox::lastShown().text.startsWith(message), qPrintable(MessageBox::lastShown().text));
        QCOMPARE(QFileInfo::exists(target), writable);
    }

    void restore_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("rowsAfter");
        QTest::addColumn<QString>("message");
        QTest::newRow("declined") << "backup" << int(QMessageBox::No) << 2 << QString();
        QTest::newRow("restored") << "backup" << int(QMessageBox::Yes) << 5
                                  << QStringLiteral("Резервная копия успешно загружена.");
        QTest::newRow("not a database") << "junk" << int(QMessageBox::Yes) << 2 << QString();
    }

    // After a restore the list shows the restored registry at once.
    void restore() {
        QFETCH(QString, source);
        QFETCH(int, answer);
        QFETCH(int, rowsAfter);
        QFETCH(QString, message);
        GuiFixture f;
        addDocuments(5);
        const QString backup = f.env().root() + "/backup.db";
        QVERIFY(RegistryBackup(*f.db()).backup(backup));
        const QString junk = f.env().root() + "/junk.db";
        QFile file(junk);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a database") > 0);
        file.close();
        QVERIFY(f.db()->execSql("DELETE FROM ProfDocuments WHERE profId > 2").isActive());
        auto* window = f.build<MainWindow>();
        FileDialog::setNextFileName(source == "backup" ? backup : junk);
        f.answerNextBox(MessageBox::Button(answer));
        f.answerNextBox(QMessageBox::Ok);
        QVERIFY(f.trigger(QStringLiteral("actionLoadDb")));
        QCOMPARE(FileDialog::captions(), QStringList{"Open file"});
        // A file that is no registry is refused before the question.
        QCOMPARE(MessageBox::shown().first().text,
                 source == "junk"
                     ? MessageBox::lastShown().text
                     : QStringLiteral("Вновь загруженная база полностью заменит собой существующую. Продолжить?"));
        QCOMPARE(MessageBox::shown().first().title, source == "junk" ? "Ошибка" : "Внимание!");
        if (!message.isEmpty())
            QCOMPARE(MessageBox::lastShown().text, message);
        if (source == "junk") {
            QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Ошибка"));
            QVERIFY(!MessageBox::lastShown().text.isEmpty());
        }
        QCOMPARE(window->documentsTable()->model()->rowCount(), rowsAfter);
    }

    // "Больше не предупреждать" counts whatever the answer, for this run and, once saved, the next.
    void editorWarning() {
        GuiFixture f;
        auto* window = f.build<MainWindow>();
        QTRY_VERIFY(window->askBeforeEditor() && f.widget<QAction>("actionShowToolbar")->isChecked());
        f.answerNextBox(QMessageBox::No, true);
        QVERIFY(f.trigger(QStringLiteral("actionEditor")));
        QCOMPARE(MessageBox::shown().size(), 1);
        const MessageBox::Shown box = MessageBox::lastShown();
        QVERIFY(box.text.startsWith(editorWarningStart));
        QCOMPARE(box.icon, QMessageBox::Information);
        QCOMPARE(box.defaultButton, QMessageBox::No);
        QVERIFY(box.withDontWarn);
        QVERIFY(!window->askBeforeEditor());
        QVERIFY(f.trigger(QStringLiteral("actionEditor")));
        QCOMPARE(MessageBox::shown().size(), 1);
        f.adopt<QWidget>(nullptr); // the window saves its settings when it goes
        QCOMPARE(SettingsRegistry::instance()->value(Keys::askBeforeEditor).toBool(), false);
    }

    // "Настройки" opens the organisation data, "Настройки программы" the preferences, "Калибровка
    // принтера" the printer calibration.
    void dialogsOfTheMenus_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("dialog");
        QTest::newRow("organisation data") << "actionSettings"
                                           << "OptionsDialog";
        QTest::newRow("preferences") << "actionPreferences"
                                     << "PreferencesDialog";
        QTest::newRow("printer calibration") << "actionPrinterCalibration"
                                             << "PrinterCalibrationDialog";
    }
    void dialogsOfTheMenus() {
        QFETCH(QString, action);
        QFETCH(QString, dialog);
        GuiFixture f;
        auto* window = f.build<MainWindow>();
        QVERIFY(f.trigger(action));
        QWidget* shown = nullptr;
        for (QWidget* child : window->findChildren<QWidget*>())
            shown = child->metaObject()->className() == dialog && child->isVisible() ? child : shown;
        QVERIFY(shown);
        shown->close();
    }

    // "Проверить обновления" reports every result; the server of the test refuses at once.
    void checkUpdatesReportsFailure() {
        GuiFixture f;
        f.build<MainWindow>();
        QTRY_VERIFY(f.widget<QAction>("actionShowToolbar")->isChecked());
        const int before = MessageBox::shown().size();
        QVERIFY(f.trigger(QStringLiteral("actionCheckUpdates")));
        QTRY_COMPARE(MessageBox::shown().size(), before + 1);
        QVERIFY(
            MessageBox::lastShown().text.startsWith(QStringLiteral("Не удалось подключиться к серверу обновлений")));
    }

    void settingsDefaults() {
        GuiFixture f;
        auto* window = f.build<MainWindow>();
        QTRY_VERIFY(f.widget<QAction>("actionShowToolbar")->isChecked());
        QVERIFY(window->askBeforeEditor() && window->askBeforeExport() && window->askBeforeExportFrdo());
        QVERIFY(window->toolBarShown() && window->bannerShown() && window->askBeforeExportControl());
        QVERIFY(f.widget<QAction>("actionShowBanner")->isChecked());
    }

    // An activated row opens its document; "Создать документ" a new one; a save refreshes the list.
    void editDialogs() {
        GuiFixture f;
        addDocuments(2);
        auto* window = f.build<MainWindow>();
        DocumentsTable* table = window->documentsTable();
        emit table->documentClicked(2);
        QVERIFY(window->editDialog());
        QCOMPARE(window->editDialog()->recordId(), 2);
        QCOMPARE(window->editDialog()->findChild<QLineEdit*>("lineEditFio_1")->text(), QStringLiteral("Фамилия1"));
        window->editDialog()->close();
        QTRY_VERIFY(!window->editDialog());
        QVERIFY(f.trigger(QStringLiteral("actionCreateDoc")));
        auto* choice = window->findChild<SelectTemplateDialog*>();
        QVERIFY(choice);
        choice->onCreateEmpty();
        QPointer<DocumentEditDialog> dialog = window->editDialog();
        QVERIFY(dialog && dialog->recordId() == -1 && dialog->isVisible());
        QTRY_VERIFY(isArmed(dialog.data())); // change tracking is armed
        QTest::keyClicks(dialog->findChild<QLineEdit*>("lineEditFio_1"), QStringLiteral("Novikov"));
        // The new document has no name yet: the certificate check asks before it saves.
        if (!dialog->findChild<QLabel*>("labelCheckStatus")->text().isEmpty())
            f.answerNextBox(QMessageBox::Yes);
        QVERIFY(dialog->save());
        QCOMPARE(table->model()->rowCount(), 3);
        QCOMPARE(table->model()->index(0, 1).data().toString().trimmed(), QStringLiteral("Novikov"));
        dialog->close();
    }

    // Closing the program with a document and its appendix open rolls their work back, in order.
    void closingWithDialogsOpen() {
        GuiFixture f;
        addDocuments(1);
        auto* window = f.build<MainWindow>();
        emit window->documentsTable()->documentClicked(1);
        QPointer<DocumentEditDialog> dialog = window->editDialog();
        QVERIFY(dialog);
        dialog->findChild<QPushButton*>(QStringLiteral("pushButtonAdditonal"))->click();
        QTRY_VERIFY(dialog->findChild<QDialog*>(QStringLiteral("AdditionalEditDialog")));
        f.adopt<QWidget>(nullptr);
        QVERIFY(!dialog);
    }

    void printFromTheList_data() {
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("jobs");
        QTest::addColumn<bool>("toPdf");
        QTest::newRow("one document") << 1 << 2 << false;
        QTest::newRow("three documents") << 3 << 6 << false;
        QTest::newRow("three documents into a PDF copy") << 3 << 0 << true;
    }

    // The list's print dialog hands the chosen type to the engine: one document prints both of its
    // sides, several print side by side in passes. "Сохранить в PDF" writes every side of the chosen
    // documents into the file asked for and opens it, printing nothing.
    void printFromTheList() {
        QFETCH(int, selected);
        QFETCH(int, jobs);
        QFETCH(bool, toPdf);
        GuiFixture f;
        addDocuments(3);
        const QString path = Engine::templatePath(ReportList::CertificateAny);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QVERIFY(QFile::copy(QStringLiteral(":/default_reports/id130.mzrpt"), path));
        auto* window = f.build<MainWindow>();
        int finished = 0;
        const QString pdf = f.env().root() + QStringLiteral("/job.pdf");
        window->engine()->setPageHook([&](ReportPage* page) {
            page->printer()->setOutputFormat(QPrinter::PdfFormat);
            page->printer()->setOutputFileName(pdf);
            QObject::connect(page, &ReportPage::sideJobFinished, [&finished] { ++finished; });
        });
        DocumentsTable* table = window->documentsTable();
        for (int row = 0; row < selected; ++row)
            table->selectionModel()->select(table->model()->index(row, 1),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        table->onPrintAction();
        auto* dialog = window->findChild<PrintDialog*>();
        QVERIFY(dialog);
        auto* list = dialog->findChild<QListWidget*>(QStringLiteral("listWidget"));
        for (int row = 0; row < list->count(); ++row) {
            if (list->item(row)->data(Qt::UserRole).toInt() == ReportList::CertificateAny)
                list->setCurrentRow(row);
        }
        dialog->findChild<QCheckBox*>(QStringLiteral("checkBoxPreviewBeforePrinting"))->setChecked(false);
        const QString copy = f.env().root() + QStringLiteral("/Копия свидетельств.pdf");
        FileOpener opener;
        FileDialog::clear();
        FileDialog::setNextFileName(copy);
        dialog->findChild<QPushButton*>(toPdf ? QStringLiteral("pushButtonSavePdf") : QStringLiteral("pushButtonPrint"))
            ->click();
        if (toPdf) {
            QTRY_COMPARE(opener.opened, QList<QUrl>{QUrl::fromLocalFile(copy)});
            QCOMPARE(FileDialog::captions(), QStringList{QStringLiteral("Сохранить в PDF")});
            QProcess info;
            info.start(QStringLiteral("pdfinfo"), {copy});
            QVERIFY(info.waitForFinished(10000));
            QVERIFY(QString::fromUtf8(info.readAllStandardOutput()).contains(QRegularExpression("Pages: +6\\n")));
            QCOMPARE(finished, 0);
            QVERIFY(!QFileInfo::exists(pdf));
            return;
        }
        QTRY_COMPARE(finished, jobs);
        QVERIFY(QFileInfo(pdf).size() > 0);
    }

    // A written workbook opens in the desktop's program; without one the user is told where it is.
    // The status bar names it either way, beside the row counts.
    void whereTheWorkbookWent_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("viewer");
        for (const char* action : {"actionExport", "actionFrdo"})
            for (bool viewer : {true, false})
                QTest::addRow("%s, %s", action, viewer ? "opened" : "no program") << action << viewer;
    }

    void whereTheWorkbookWent() {
        QFETCH(QString, action);
        QFETCH(bool, viewer);
        GuiFixture f;
        addDocuments(2);
        QVERIFY(f.db()->execSql(QStringLiteral("INSERT INTO ProfFrdo (profId) VALUES (1), (2)")).isActive());
        auto* window = f.build<MainWindow>();
        QTRY_VERIFY(f.widget<QAction>("actionShowToolbar")->isChecked() && window->hasExportLayout("FRDO"));
        std::unique_ptr<FileOpener> opener(viewer ? new FileOpener : nullptr);
        const QString path = f.env().root() + QStringLiteral("/Книга регистрации.xlsx");
        f.answerNextBox(QMessageBox::Ok);
        FileDialog::setNextFileName(path);
        MessageBox::clearShown();
        // The documents have no FRDO data to speak of: the check lists them, and all are exported.
        if (action == QLatin1String("actionFrdo"))
            f.whenModal([](QWidget* check) { check->findChild<QPushButton*>("pushButtonExportAll")->click(); });
        QVERIFY(f.trigger(action));
        QVERIFY(QFileInfo(path).size() > 0);
        const QString where = QDir::toNativeSeparators(path);
        QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Файл сохранён: ") + where);
        QVERIFY(window->statusBar()->findChild<QLabel*>()->isVisible());
        if (viewer) {
            QCOMPARE(opener->opened, QList<QUrl>{QUrl::fromLocalFile(path)});
            QCOMPARE(MessageBox::shown().size(), 1); // the note about the filters
            return;
        }
        QCOMPARE(MessageBox::shown().size(), 2);
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Информация"));
        QCOMPARE(MessageBox::lastShown().text,
                 QStringLiteral("Файл сохранён:\n%1\n\nНе найдена программа, которая может его открыть.").arg(where));
    }

    // Enter opens the current document; Delete asks, saying how many, and for a group its default
    // keeps the documents.
    void listKeys_data() {
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("defaultButton");
        QTest::addColumn<int>("left");
        const int ok = QMessageBox::Ok, cancel = QMessageBox::Cancel, enter = Qt::Key_Return;
        QTest::newRow("Enter opens") << 1 << enter << 0 << 0 << 30;
        QTest::newRow("Delete, one selected") << 1 << int(Qt::Key_Delete) << ok << ok << 29;
        QTest::newRow("Delete, 25 selected, cancelled") << 25 << int(Qt::Key_Delete) << cancel << cancel << 30;
        QTest::newRow("Delete, 25 selected") << 25 << int(Qt::Key_Delete) << ok << cancel << 5;
    }
    void listKeys() {
        QFETCH(int, selected);
        QFETCH(int, key);
        QFETCH(int, answer);
        QFETCH(int, defaultButton);
        QFETCH(int, left);
        GuiFixture f;
        addDocuments(30);
        auto* window = f.build<MainWindow>();
        DocumentsTable* table = window->documentsTable();
        table->updateData();
        QList<qint64> ids;
        for (qint64 id = 1; id <= selected; ++id)
            ids << id;
        table->selectIds(ids);
        if (answer)
            f.answerNextBox(MessageBox::Button(answer));
        QTest::keyClick(table, Qt::Key(key));
        QSqlQuery count = Database::instance()->execSql("SELECT count(*) FROM ProfDocuments");
        QVERIFY(count.next());
        QCOMPARE(count.value(0).toInt(), left);
        if (!answer) {
            QVERIFY(MessageBox::shown().isEmpty());
            QVERIFY(window->editDialog());
            QCOMPARE(window->editDialog()->recordId(), qint64(1));
            return;
        }
        QCOMPARE(MessageBox::shown().size(), 1);
        const MessageBox::Shown question = MessageBox::lastShown();
        QCOMPARE(question.text, selected == 1
                                    ? QStringLiteral("Вы уверены, что хотите удалить выделеннный документ?")
                                    : QStringLiteral("Вы уверены, что хотите удалить выделеннные документы?"));
        QCOMPARE(question.informativeText, QStringLiteral("Будет удалено документов: %1.").arg(selected));
        QCOMPARE(int(question.defaultButton), defaultButton);
    }

    // After an import the whole group is in view, its top row in the list's order first, wherever
    // the list was scrolled and in whatever order the import gave the ids.
    void importedGroupInView() {
        GuiFixture f;
        addDocuments(300);
        auto* window = f.build<MainWindow>();
        window->resize(1000, 700);
        window->show();
        DocumentsTable* table = window->documentsTable();
        table->updateData();
        table->scrollToBottom();
        QList<qint64> imported;
        for (int i = 0; i < 25; ++i)
            imported << insertRow(QStringLiteral("ProfDocuments"), {{"fio1", QStringLiteral("Новый %1").arg(i)}});
        window->onDocumentsImported(imported);
        QCOMPARE(table->selectedIds().size(), 25);
        const QRect view = table->viewport()->rect();
        const int rowHeight = table->rowHeight(0);
        const int fitting = view.height() / rowHeight;
        int seen = 0;
        int topRow = table->model()->rowCount();
        for (const QModelIndex& index : table->selectionModel()->selectedRows(1)) {
            topRow = qMin(topRow, index.row());
            seen += view.contains(table->visualRect(index));
        }
        QVERIFY(view.contains(table->visualRect(table->model()->index(topRow, 1))));
        QCOMPARE(seen, qMin(25, fitting));
        QCOMPARE(table->selectionModel()->currentIndex().row(), topRow);
    }

    // A write the registry refuses is told once, in the action's own box: the clerk's words first,
    // SQLite's own on a line of their own, without the driver's.
    void refusedDeleteOneBox_data() {
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("reason");
        QTest::newRow("read-only connection") << "PRAGMA query_only = 1"
                                              << "attempt to write a readonly database";
        QTest::newRow("trigger") << "CREATE TRIGGER refuse BEFORE DELETE ON ProfDocuments BEGIN SELECT "
                                    "RAISE(ABORT, 'удаление запрещено'); END"
                                 << "удаление запрещено";
    }
    void refusedDeleteOneBox() {
        QFETCH(QString, refusal);
        QFETCH(QString, reason);
        GuiFixture f;
        addDocuments(3);
        auto* window = f.build<MainWindow>();
        DocumentsTable* table = window->documentsTable();
        table->updateData();
        table->selectIds({1, 2});
        QVERIFY(Database::instance()->execSql(refusal).isActive());
        f.answerNextBox(QMessageBox::Ok);
        f.trigger(QStringLiteral("actionRemove"));
        QTest::qWait(50); // the frame's box would come from the event loop
        Database::instance()->execSql(QStringLiteral("PRAGMA query_only = 0"));
        QCOMPARE(MessageBox::shown().size(), 2); // the question and one failure
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Ошибка"));
        QCOMPARE(MessageBox::lastShown().text,
                 QStringLiteral("Не удалось удалить документы; ни один из них не удалён.\n") + reason);
        QSqlQuery count = Database::instance()->execSql("SELECT count(*) FROM ProfDocuments");
        QVERIFY(count.next());
        QCOMPARE(count.value(0).toInt(), 3);
    }

    void rowCountsInStatusBar() {
        GuiFixture f;
        addDocuments(3);
        auto* window = f.build<MainWindow>();
        auto* fio = window->filterDock()->findChild<QLineEdit*>(QStringLiteral("lineEditFio1"));
        QTest::keyClicks(fio, QStringLiteral("2"));
        QTRY_VERIFY(window->statusBar()->findChild<QLabel*>());
        QCOMPARE(window->statusBar()->findChild<QLabel*>()->text(), QStringLiteral("Показано: 1 из 3"));
    }

    void mainWindowTitle() {
        ProductTypeInfo::setProductType(ProductTypeInfo::ProfessionalTraining);
        TestEnvironment env;
        MainWindow window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Orvane для документов профессионального обучения v0.7.3"));
    }
};

ORVANE_TEST(TestMainWindow)
#include "tst_mainwindow.moc"
