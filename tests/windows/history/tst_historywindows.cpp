#include "documenteditdialog.h"
#include "documentstable.h"
#include "exportfixture.h"
#include "filedialog.h"
#include "guifixture.h"
#include "historydialog.h"
#include "historyentries.h"
#include "journaldialog.h"
#include "journalmodel.h"
#include "preferencesdialog.h"
#include "scratchfilesystem.h"
#include "testregistry.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace historyentries;

namespace {
QString count(const QString& sql) {
    QSqlQuery query = runSql(sql);
    return query.next() ? query.value(0).toString() : QString();
}

// The texts of a history table, a row a line, cells joined by " | ".
QStringList tableTexts(const QTableWidget* table) {
    QStringList lines;
    for (int r = 0; r < table->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < table->columnCount(); ++c)
            cells << (table->item(r, c) ? table->item(r, c)->text() : QString());
        lines << cells.join(" | ");
    }
    return lines;
}

// A document edited twice in one entry, then deleted; another document's entry between.
void addDocumentHistory() {
    runSql("INSERT INTO ProfDocuments (profId, fio1, fio2) VALUES (1, 'Петров', 'Иван')");
    Entry e;
    e.changedAt = "2024-05-10T09:00:00", e.kind = "create", e.osUser = "petrova", e.host = "pc1";
    e.docName = "Иванов Иван";
    add(e);
    e.profId = 2, e.kind = "import", e.source = "группа.xlsx", e.docName = "Другой";
    add(e);
    e.profId = 1, e.changedAt = "2024-05-11T10:30:00", e.kind = "edit", e.login = "clerk", e.source = QVariant();
    e.docName = "Петров Иван";
    QJsonObject subject = change("ProfDetails", "count", 72, 80);
    subject.insert("name", "Охрана труда");
    e.changes = {change("ProfDocuments", "fio1", "Иванов", "Петров"), subject};
    add(e);
}

HistoryDialog* historyWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<HistoryDialog*>(w))
            if (dialog->isVisible())
                return dialog;
    return nullptr;
}

QStringList shownHistory() {
    HistoryDialog* dialog = historyWindow();
    return dialog ? tableTexts(dialog->findChild<QTableWidget*>("tableWidgetHistory")) : QStringList{"no window"};
}

const QStringList documentOneRows = {
    "11.05.2024 10:30:00 | clerk (petrova@pc1) | Изменение | Фамилия | Иванов → Петров",
    " |  |  | Приложение, «Охрана труда»: Часы | 72 → 80",
    "10.05.2024 09:00:00 | petrova@pc1 | Создание | Весь документ | Иванов Иван",
};

// 450 entries, the deletions of documents 100 to 102 among them.
void addLongJournal() {
    runSql("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 450) "
           "INSERT INTO DocumentHistory (profId, changedAt, kind, osUser, docName, attNumber, changes) "
           "SELECT i, '2024-01-01T00:00:00', 'edit', 'petrova', 'Человек ' || i, 'N' || i, '[]' FROM n");
    for (qint64 id : {100, 101, 102})
        addDeletion(id, text(fullSnapshot(QStringLiteral("Удалённый%1").arg(id))));
}

void selectJournalRow(JournalDialog* dialog, int row) {
    auto* view = dialog->findChild<QTableView*>("tableViewJournal");
    view->selectionModel()->setCurrentIndex(view->model()->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}
} // namespace

class TestHistoryWindows : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<HistoryDialog*>(w))
                delete w;
    }

    // A row per changed value, newest first; a deletion is one row.
    void historyDialogRows() {
        GuiFixture f;
        addDocumentHistory();
        addDeletion(1, text(fullSnapshot()));
        auto* dialog = f.build<HistoryDialog>();
        QString error;
        QVERIFY2(dialog->load(1, &error), qPrintable(error));
        QStringList expected = {"01.01.2025 10:00:00 | petrova | Удаление | Весь документ | Сидоров Пётр Ильич, "
                                "№ А-17 → —"};
        expected += documentOneRows;
        QCOMPARE(tableTexts(dialog->findChild<QTableWidget*>("tableWidgetHistory")), expected);
        QVERIFY(dialog->height() <= 720);
    }

    // The edit dialog's button waits for a saved document; the list's menu opens the selected one's.
    void historyOpensFrom_data() {
        QTest::addColumn<bool>("fromList");
        QTest::newRow("edit dialog") << false;
        QTest::newRow("list's menu") << true;
    }

    void historyOpensFrom() {
        QFETCH(bool, fromList);
        GuiFixture f;
        addDocumentHistory();
        if (fromList) {
            auto* list = f.build<DocumentsTable>();
            list->selectIds({1});
            QAction* action = list->findChild<QAction*>("actionDocumentHistory");
            list->provideContexMenu(list->visualRect(list->model()->index(0, 1)).center());
            QTRY_VERIFY(list->findChild<QMenu*>()->isVisible());
            list->findChild<QMenu*>()->close();
            QVERIFY(action->isEnabled());
            action->trigger();
        } else {
            auto* dialog = f.build<DocumentEditDialog>();
            auto* button = dialog->findChild<QPushButton*>("pushButtonHistory");
            QVERIFY(!button->isEnabled());
            dialog->setId(1);
            QVERIFY(button->isEnabled());
            button->click();
        }
        QTRY_VERIFY(historyWindow());
        QCOMPARE(shownHistory(), documentOneRows);
    }

    // The journal shows a page and reads the next ones as the view asks; the filter narrows it.
    void journalPages() {
        GuiFixture f;
        addLongJournal();
        auto* dialog = f.build<JournalDialog>();
        JournalModel* model = dialog->model();
        QCOMPARE(model->rowCount(), JournalModel::pageRows);
        QCOMPARE(model->entry(0).profId, qint64(102));
        while (model->canFetchMore(QModelIndex()))
            model->fetchMore(QModelIndex());
        QCOMPARE(model->rowCount(), 453);
        dialog->findChild<QLineEdit*>("lineEditText")->setText("сидоров");
        QTRY_COMPARE(model->rowCount(), 3);
        dialog->findChild<QComboBox*>("comboBoxKind")->setCurrentText("Изменение");
        QCOMPARE(model->rowCount(), 0);
        dialog->loadUsers();
        QCOMPARE(dialog->findChild<QComboBox*>("comboBoxUser")->count(), 2); // everyone and petrova
    }

    // Entries far apart are found across the slices of ids, newest first, however many steps the
    // search takes; a filter with its own lowest id ends there.
    void journalSearchesSlices_data() {
        QTest::addColumn<qint64>("fromId");
        QTest::addColumn<QList<qint64>>("expected");
        QTest::newRow("whole journal") << qint64(0) << QList<qint64>{350001, 150000, 1};
        QTest::newRow("from an id") << qint64(2) << QList<qint64>{350001, 150000};
    }

    void journalSearchesSlices() {
        QFETCH(qint64, fromId);
        QFETCH(QList<qint64>, expected);
        GuiFixture f;
        runSql("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400000) "
               "INSERT INTO DocumentHistory (historyId, profId, changedAt, kind, docName) "
               "SELECT i, i, '2024-01-01T00:00:00', 'edit', CASE WHEN i IN (1, 150000, 350001) THEN 'Искомый' "
               "ELSE 'Другой' END FROM n");
        auto* dialog = f.build<JournalDialog>();
        HistoryJournal::Filter filter;
        filter.text = "искомый";
        filter.fromId = fromId;
        QString error;
        QVERIFY2(dialog->model()->setFilter(filter, &error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->model()->isSearching(), 60000);
        QList<qint64> ids;
        for (int r = 0; r < dialog->model()->rowCount(); ++r)
            ids << dialog->model()->entry(r).id;
        QCOMPARE(ids, expected);
        QVERIFY(!dialog->model()->canFetchMore(QModelIndex()));
    }

    // The export writes what the filter shows; a folder it cannot write to keeps no file.
    void journalExport_data() {
        QTest::addColumn<bool>("writable");
        QTest::newRow("written") << true;
        QTest::newRow("read-only folder") << false;
    }

    void journalExport() {
        QFETCH(bool, writable);
        GuiFixture f;
        addLongJournal();
        QTemporaryDir dir;
        const QString folder = dir.filePath("out");
        ScratchFileSystem scratch(folder, 1 << 20);
        if (!writable) {
            if (!scratch.canBeReadOnly())
                QSKIP("writes cannot be refused here");
            QVERIFY(scratch.setReadOnly(true));
        }
        auto* dialog = f.build<JournalDialog>();
        dialog->findChild<QComboBox*>("comboBoxKind")->setCurrentText("Удаление");
        const QString path = folder + "/журнал.xlsx";
        FileDialog::setNextFileName(path);
        f.answerNextBox(QMessageBox::Ok);
        dialog->findChild<QPushButton*>("pushButtonExport")->click();
        const MessageBox::Shown box = MessageBox::lastShown();
        if (!writable) {
            QCOMPARE(box.title, QString("Не удалось сохранить файл"));
            QVERIFY(!QFile::exists(path));
            return;
        }
        QCOMPARE(box.text, "Записей журнала выгружено: 3.\nФайл сохранён: " + QDir::toNativeSeparators(path));
        const exportfixture::Sheet sheet(path);
        QCOMPARE(sheet.rowCount(), 4);
        QCOMPARE(sheet.column(4), (QStringList{"Сидоров Пётр Ильич", "Сидоров Пётр Ильич", "Сидоров Пётр Ильич"}));
        QCOMPARE(sheet.cell(1, 3).value("value").toInt(), 102);
        QCOMPARE(sheet.row(1).mid(1, 2), (QStringList{"petrova", "Удаление"}));
        QCOMPARE(sheet.value(3, 6), QString("Весь документ: Сидоров Пётр Ильич, № А-17 → —"));
    }

    // A deletion is brought back after the question, and the journal says under which id.
    void journalRestore_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("documents");
        QTest::newRow("yes") << int(QMessageBox::Yes) << false << "Документ восстановлен под прежним кодом 102."
                             << "1";
        QTest::newRow("no") << int(QMessageBox::No) << false << ""
                            << "0";
        QTest::newRow("the write refused") << int(QMessageBox::Yes) << true << "Документ не восстановлен.\nотказано"
                                           << "0";
    }

    void journalRestore() {
        QFETCH(int, answer);
        QFETCH(bool, refuse);
        QFETCH(QString, message);
        QFETCH(QString, documents);
        GuiFixture f;
        addLongJournal();
        if (refuse)
            runSql("CREATE TRIGGER refuse BEFORE INSERT ON ProfDetails BEGIN SELECT RAISE(ABORT, 'отказано'); END");
        auto* dialog = f.build<JournalDialog>();
        QSignalSpy restored(dialog, &JournalDialog::documentRestored);
        auto* restore = dialog->findChild<QPushButton*>("pushButtonRestore");
        selectJournalRow(dialog, 3); // an edit
        QVERIFY(!restore->isEnabled());
        selectJournalRow(dialog, 0);
        QVERIFY(restore->isEnabled());
        MessageBox::clearShown();
        f.answerNextBox(MessageBox::Button(answer));
        if (!message.isEmpty())
            f.answerNextBox(QMessageBox::Ok);
        restore->click();
        const QList<MessageBox::Shown> shown = MessageBox::shown();
        QCOMPARE(shown.first().text, QString("Восстановить «Сидоров Пётр Ильич», удалённый 01.01.2025 10:00:00, со "
                                             "всеми его данными?"));
        QCOMPARE(shown.first().defaultButton, QMessageBox::No);
        QCOMPARE(shown.size() > 1 ? shown.at(1).text : QString(), message);
        QCOMPARE(count("SELECT COUNT(*) FROM ProfDocuments WHERE fio1 = 'Удалённый102'"), documents);
        QCOMPARE(count("SELECT COUNT(*) FROM ProfDetails"), QString(documents == "1" ? "2" : "0"));
        QCOMPARE(restored.count(), documents.toInt());
    }

    // Old entries go only after the question with their count; the default keeps them.
    void dropOldEntries_data() {
        QTest::addColumn<int>("years");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("left");
        const QString ask = "Удалить из журнала изменений записи старше %1: %2?\nУдалённые записи вернуть нельзя.";
        QTest::newRow("no keeps them") << 1 << int(QMessageBox::No) << false << ask.arg("1 года", "2") << ""
                                       << "3";
        QTest::newRow("yes drops them") << 1 << int(QMessageBox::Yes) << false << ask.arg("1 года", "2")
                                        << "Из журнала изменений удалено записей: 2."
                                        << "1";
        QTest::newRow("three years") << 3 << int(QMessageBox::Yes) << false << ask.arg("3 лет", "1")
                                     << "Из журнала изменений удалено записей: 1."
                                     << "2";
        QTest::newRow("none that old") << 20 << int(QMessageBox::Ok) << false << ""
                                       << "В журнале изменений нет записей старше 20 лет."
                                       << "3";
        QTest::newRow("the write refused") << 1 << int(QMessageBox::Yes) << true << ask.arg("1 года", "2")
                                           << "Записи журнала изменений не удалены, журнал остался прежним.\n"
                                              "attempt to write a readonly database"
                                           << "3";
    }

    void dropOldEntries() {
        QFETCH(int, years);
        QFETCH(int, answer);
        QFETCH(bool, refuse);
        QFETCH(QString, question);
        QFETCH(QString, result);
        QFETCH(QString, left);
        GuiFixture f;
        const QDate today = QDate::currentDate();
        for (const QDate& day : {today.addYears(-5), today.addYears(-2), today}) {
            Entry e;
            e.changedAt = day.toString("yyyy-MM-dd") + "T12:00:00";
            add(e);
        }
        if (refuse)
            runSql("PRAGMA query_only = 1");
        auto* dialog = f.build<PreferencesDialog>();
        dialog->findChild<QSpinBox*>("spinBoxHistoryYears")->setValue(years);
        MessageBox::clearShown();
        f.answerNextBox(MessageBox::Button(answer));
        f.answerNextBox(QMessageBox::Ok);
        dialog->findChild<QPushButton*>("pushButtonDropHistory")->click();
        QStringList texts;
        for (const MessageBox::Shown& box : MessageBox::shown())
            texts << box.text;
        if (!question.isEmpty()) {
            QCOMPARE(texts.value(0), question);
            QCOMPARE(MessageBox::shown().first().defaultButton, QMessageBox::No);
            texts.removeFirst();
        }
        QCOMPARE(texts.value(0), result);
        runSql("PRAGMA query_only = 0");
        QCOMPARE(count("SELECT COUNT(*) FROM DocumentHistory"), left);
    }
};

ORVANE_TEST(TestHistoryWindows)
#include "tst_historywindows.moc"
