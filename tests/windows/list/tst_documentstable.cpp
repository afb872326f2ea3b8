#include "appkeys.h"
#include "documentsmodel.h"
#include "documentstable.h"
#include "frdodialog.h"
#include "guifixture.h"
#include "myfiltermodel.h"
#include "settingsregistry.h"
#include "testregistry.h"

#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardItemModel>
#include <QtTest>
#include <limits>

namespace {
// The rows of a query as "a|b;c|d", NULL as "-".
QString rows(const QString& sql, const QVariantList& values = {}) {
    QSqlQuery query = runSql(sql, values);
    QStringList result;
    while (query.next()) {
        QStringList row;
        for (int i = 0; i < query.record().count(); ++i)
            row << (query.isNull(i) ? QStringLiteral("-") : query.value(i).toString());
        result << row.join('|');
    }
    return result.join(';');
}

// A document with two appendix subjects and an FRDO row.
int insertFullDocument(const QVariantMap& columns) {
    const int id = insertRow("ProfDocuments", columns);
    insertRow("ProfDetails", {{"profId", id}, {"name", "Охрана труда"}, {"count", 10}, {"rate", "5"}});
    insertRow("ProfDetails", {{"profId", id}, {"name", "Черчение"}});
    insertRow("ProfFrdo", {{"profId", id}, {"docName", "Свидетельство"}, {"snils", "123-456-789 00"}});
    return id;
}

// Ids 1..6; the template (7) is not listed.
void insertSampleDocuments() {
    const char* const docs[][9] = {
        // fio1, fio2, fio3, qual, attNumber, regNumber, issueDate, editDate, isTemplate
        {"Иванов", "Иван", "Иванович", "Сварщик\n3 разряд", "000010", "СВ 5", "2016-04-08", "2016-04-08 12:00:00", "0"},
        {"Петрова", "Анна", "Сергеевна", "Повар", "10", "св 5", "2016-04-10", "2016-04-10T15:30:00", nullptr},
        {"ИВАНОВА", "Мария", "Петровна", "повар-кондитер", "9", nullptr, "2016-05-01", "2017-01-01", nullptr},
        {"Сидоров", nullptr, nullptr, nullptr, "\xF0\x9D\x90\x80", nullptr, nullptr, nullptr, nullptr},
        {"иванов", "Ёж", nullptr, "Повар", "\xEF\xBC\xA1", nullptr, "2016-04-07", "2016-04-09 23:59:59", nullptr},
        {"Ёжиков", "Ивар", nullptr, "повар", nullptr, "СВ 5", "2016-04-10", nullptr, nullptr},
        {"Шаблон", nullptr, nullptr, nullptr, nullptr, nullptr, "2016-04-08", nullptr, "1"}};
    for (const auto& doc : docs) {
        QVariantList values;
        for (const char* value : doc)
            values << (value ? QVariant(QString::fromUtf8(value)) : QVariant(QVariant::String));
        runSql("INSERT INTO ProfDocuments (fio1, fio2, fio3, qual, attNumber, regNumber, issueDate, editDate, "
               "isTemplate) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
               values);
    }
}

QList<qint64> proxyIds(const QAbstractItemModel* model) {
    QList<qint64> ids;
    for (int row = 0; row < model->rowCount(); ++row)
        ids << model->index(row, 0).data().toLongLong();
    return ids;
}

QList<qint64> wide(const QList<int>& ids) {
    return {ids.begin(), ids.end()};
}

QStringList columnTexts(const QAbstractItemModel* model, int column) {
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, column).data().toString();
    return texts;
}

template <typename Id> QList<Id> sorted(QList<Id> ids) {
    std::sort(ids.begin(), ids.end());
    return ids;
}

QAction* action(DocumentsTable* list, const QString& text) {
    for (QAction* a : list->findChildren<QAction*>())
        if (a->text() == text)
            return a;
    return nullptr;
}

void selectIds(DocumentsTable* list, const QList<qint64>& ids) {
    list->clearSelection();
    for (qint64 id : ids) {
        const QModelIndex index = list->model()->index(proxyIds(list->model()).indexOf(id), 1);
        list->selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    }
}

FilterListType fio(const QString& text) {
    return {{"fio", text}, {"qual", ""}};
}

void clickHeader(DocumentsTable* list, int section) {
    QHeaderView* header = list->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(section) + 10, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

// Every row of the three tables of a document, to compare before and after.
QString registryState() {
    return rows("SELECT * FROM ProfDocuments ORDER BY profId") + "/" +
           rows("SELECT * FROM ProfDetails ORDER BY detId") + "/" + rows("SELECT * FROM ProfFrdo ORDER BY profId");
}

// A document with that id, an appendix subject and an FRDO row.
void insertDocumentWithId(qint64 id, const QString& surname) {
    runSql("INSERT INTO ProfDocuments (profId, fio1, attNumber) VALUES (?, ?, ?)", {id, surname, surname});
    runSql("INSERT INTO ProfDetails (profId, name, count) VALUES (?, 'Охрана труда', 10)", {id});
    runSql("INSERT INTO ProfFrdo (profId, snils) VALUES (?, '12345678900')", {id});
}
} // namespace

// Stands in for the print dialog: reports a choice the way the real one does.
class FakePrintDialog : public QDialog {
    Q_OBJECT
public:
    using QDialog::QDialog;
signals:
    void reportTypeSelected(ReportList::ReportType type, bool printBackground, bool showPreview);
};

class PrintableList : public DocumentsTable {
public:
    QPointer<FakePrintDialog> dialog;

protected:
    QDialog* createPrintDialog(QWidget* parent) override { return dialog = new FakePrintDialog(parent); }
};

class TestDocumentsTable : public QObject {
    Q_OBJECT

    template <typename List = DocumentsTable> List* buildList(GuiFixture& f) {
        auto* list = f.build<List>();
        list->resize(900, 400);
        list->show();
        QCoreApplication::processEvents();
        return list;
    }

private slots:
    void headersOrderMenuAndAccessor() {
        GuiFixture f;
        insertSampleDocuments();
        auto* list = buildList(f);
        QCOMPARE(DocumentsTableAbstract::instance(), list);
        QStringList headers;
        for (int c = 0; c < list->model()->columnCount(); ++c)
            headers << list->model()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers, QStringList({"docID", "ФИО", "Квалификация", "Номер свид.", "Рег. номер", "Дата выдачи",
                                       "Дата изменения"}));
        QVERIFY(list->isColumnHidden(0));
        QCOMPARE(proxyIds(list->model()), QList<qint64>({6, 5, 4, 3, 2, 1}));
        QVERIFY(!list->horizontalHeader()->isSortIndicatorShown());
        QCOMPARE(columnTexts(list->model(), 2).last(), QStringLiteral("Сварщик 3 разряд"));
        QStringList menu;
        for (QAction* a : list->findChild<QMenu*>()->actions())
            menu << a->text();
        QCOMPARE(menu,
                 QStringList({"Добавить новый", "Создать копию записи", "", "Редактировать", "Удалить", "Печатать", "",
                              "Выделить всё", "Обновить", "Автозаполнение ФРДО", "", "История изменений"}));
        {
            DocumentsTable second;
            QCOMPARE(DocumentsTableAbstract::instance(), &second);
        }
        QVERIFY(!DocumentsTableAbstract::instance());
    }

    void headerSortClicks_data() {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<bool>("drag");
        QTest::addColumn<QString>("indicator");
        QTest::newRow("one click") << QList<int>{1} << false << "1 ascending shown";
        QTest::newRow("two clicks") << QList<int>{1, 1} << false << "1 descending shown";
        // The third click brings back the registry's own order, newest first.
        QTest::newRow("three clicks") << QList<int>{1, 1, 1} << false << "0 descending hidden";
        QTest::newRow("other section after three") << QList<int>{1, 1, 1, 3} << false << "3 ascending shown";
        QTest::newRow("and once more") << QList<int>{1, 1, 1, 3, 3} << false << "3 descending shown";
        QTest::newRow("another section") << QList<int>{4, 2} << false << "2 ascending shown";
        QTest::newRow("drag is no click") << QList<int>{1} << true << "0 descending hidden";
    }

    void headerSortClicks() {
        QFETCH(QList<int>, clicks);
        QFETCH(bool, drag);
        QFETCH(QString, indicator);
        GuiFixture f;
        insertSampleDocuments();
        auto* list = buildList(f);
        QHeaderView* header = list->horizontalHeader();
        QSignalSpy clicked(header, &QHeaderView::sectionClicked);
        const int width = header->sectionSize(1);
        const int pull = QApplication::startDragDistance() + 1;
        for (int c : clicks) {
            // A drag starts on the section's right edge, where the header resizes it.
            const QPoint at(header->sectionViewportPosition(c) + (drag ? header->sectionSize(c) - 1 : 10),
                            header->height() / 2);
            const QPoint to = at + QPoint(drag ? pull : 0, 0);
            QTest::mousePress(header->viewport(), Qt::LeftButton, {}, at);
            QMouseEvent move(QEvent::MouseMove, to, header->viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                             Qt::NoModifier);
            QApplication::sendEvent(header->viewport(), &move);
            QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, to);
        }
        QCOMPARE(header->sectionSize(1), drag ? width + pull : width);
        const int section = header->sortIndicatorSection();
        const Qt::SortOrder order = header->sortIndicatorOrder();
        QCOMPARE(QString("%1 %2 %3")
                     .arg(section)
                     .arg(order == Qt::AscendingOrder ? "ascending" : "descending")
                     .arg(header->isSortIndicatorShown() ? "shown" : "hidden"),
                 indicator);
        QCOMPARE(clicked.size(), drag ? 0 : clicks.size());
        QSortFilterProxyModel reference;
        reference.setSourceModel(list->documentsModel());
        reference.setSortRole(Qt::EditRole);
        reference.sort(section, order);
        // Ties may keep the order of an earlier sort, so the sorted values are compared.
        QCOMPARE(columnTexts(list->model(), section), columnTexts(&reference, section));
    }

    void contextMenuEnabling_data() {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<bool>("onRow");
        QTest::addColumn<QStringList>("disabled");
        const QStringList single = {"Создать копию записи", "Редактировать"};
        const QStringList any = {"Удалить", "Печатать", "Заполнить по шаблону"};
        // The history is of the one selected document, wherever the menu was asked for.
        const QStringList history = {"История изменений"};
        QTest::newRow("none") << QList<int>{} << true << single + any + history;
        QTest::newRow("one") << QList<int>{2} << true << QStringList();
        QTest::newRow("two") << QList<int>{2, 4} << true << single + history;
        QTest::newRow("one, below the rows") << QList<int>{2} << false << single + any;
    }

    void contextMenuEnabling() {
        QFETCH(QList<int>, selected);
        QFETCH(bool, onRow);
        QFETCH(QStringList, disabled);
        GuiFixture f;
        insertSampleDocuments();
        auto* list = buildList(f);
        selectIds(list, wide(selected));
        const QPoint pos =
            onRow ? list->visualRect(list->model()->index(1, 1)).center() : QPoint(5, list->viewport()->height() - 5);
        list->provideContexMenu(pos);
        auto* menu = list->findChild<QMenu*>();
        QTRY_VERIFY(menu->isVisible());
        menu->close();
        for (QAction* a : list->findChildren<QAction*>())
            QVERIFY2(a->isEnabled() == !disabled.contains(a->text()), qPrintable(a->text()));
    }

    void copy_data() {
        QTest::addColumn<QVariant>("surname");
        QTest::addColumn<QString>("copySurname"); // empty: the document is gone before the copy
        QTest::newRow("surname") << QVariant("Иванов") << "КОПИЯ Иванов";
        QTest::newRow("NULL surname") << QVariant(QVariant::String) << "КОПИЯ ";
        QTest::newRow("empty surname") << QVariant("") << "КОПИЯ ";
        QTest::newRow("vanished document") << QVariant("Иванов") << QString();
    }

    void copy() {
        QFETCH(QVariant, surname);
        QFETCH(QString, copySurname);
        GuiFixture f;
        insertFullDocument({{"fio1", surname}, {"fio2", "Пётр"}, {"qual", "Токарь"}, {"attNumber", "1"}});
        insertFullDocument({{"fio1", "Другой"}});
        auto* list = buildList(f);
        QSignalSpy clicked(list, &DocumentsTable::documentClicked);
        selectIds(list, QList<qint64>{1});
        if (copySurname.isEmpty())
            runSql("DELETE FROM ProfDocuments WHERE profId=1");
        list->onCopyRecordAction();
        const QString subjects = "SELECT name, count, rate FROM ProfDetails WHERE profId=? ORDER BY detId";
        if (copySurname.isEmpty()) {
            QCOMPARE(clicked.size(), 0);
            QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Ошибка"));
            QCOMPARE(MessageBox::lastShown().text,
                     QStringLiteral("Не удалось создать копию документа.\nДокумент не найден в базе данных."));
            QCOMPARE(rows("SELECT COUNT(*) FROM ProfDocuments UNION ALL SELECT COUNT(*) FROM ProfDetails"),
                     QStringLiteral("1;4"));
            return;
        }
        QCOMPARE(QList<QVariantList>(clicked), QList<QVariantList>({{3}}));
        QCOMPARE(proxyIds(list->model()).first(), 3);
        QCOMPARE(rows("SELECT fio1, fio2, qual, attNumber FROM ProfDocuments WHERE profId=3"),
                 copySurname + "|Пётр|Токарь|-"); // the certificate number is not copied
        QCOMPARE(rows(subjects, {3}), rows(subjects, {1}));
        QCOMPARE(rows("SELECT docName, snils FROM ProfFrdo WHERE profId=3"), QStringLiteral("Свидетельство|-"));
    }

    // Both batch actions ask first and then work on the selected documents only.
    void confirmedBatchActions_data() {
        QTest::addColumn<bool>("autoFill");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("shown");
        const QString deleteMany = "Вы уверены, что хотите удалить выделеннные документы?";
        const QString fillMany = "Вы уверены, что хотите произвести автоматическое заполнение ФРДО для выделенных "
                                 "документов?";
        const int ok = QMessageBox::Ok, cancel = QMessageBox::Cancel;
        QTest::newRow("delete two") << false << QList<int>{1, 3} << ok << deleteMany << "2|2|2" << 1;
        QTest::newRow("delete one") << false << QList<int>{2} << ok
                                    << "Вы уверены, что хотите удалить выделеннный документ?"
                                    << "1,3|1,3|1,3" << 2;
        QTest::newRow("delete cancelled")
            << false << QList<int>{1, 3} << cancel << deleteMany << "1,2,3|1,2,3|1,2,3" << 3;
        QTest::newRow("auto-fill two") << true << QList<int>{1, 3} << ok << fillMany << "1Первый,2,3Третий" << 3;
        QTest::newRow("auto-fill one") << true << QList<int>{2} << ok
                                       << "Вы уверены, что хотите произвести автоматическое заполнение ФРДО для "
                                          "выделенного документа?"
                                       << "1,2Второй,3" << 3;
        QTest::newRow("auto-fill cancelled") << true << QList<int>{1, 3} << cancel << fillMany << "1,2,3" << 3;
    }

    void confirmedBatchActions() {
        QFETCH(bool, autoFill);
        QFETCH(QList<int>, selected);
        QFETCH(int, answer);
        QFETCH(QString, question);
        QFETCH(QString, state);
        QFETCH(int, shown);
        GuiFixture f;
        for (const char* name : {"Первый", "Второй", "Третий"})
            insertFullDocument({{"fio1", name}, {"regNumber", name}});
        auto* list = buildList(f);
        selectIds(list, wide(selected));
        QSignalSpy unselected(list, &DocumentsTable::unselect);
        f.answerNextBox(MessageBox::Button(answer));
        autoFill ? list->onAutoFillFrdoAction() : list->onDeleteAction();
        QCOMPARE(MessageBox::lastShown().text, question);
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Внимание!"));
        QCOMPARE(MessageBox::lastShown().icon, QMessageBox::NoIcon);
        QCOMPARE(unselected.size(), answer == QMessageBox::Ok ? 1 : 0);
        QCOMPARE(list->selectionModel()->selectedRows().size(), answer == QMessageBox::Ok ? 0 : selected.size());
        if (autoFill)
            QCOMPARE(rows("SELECT group_concat(profId || IFNULL(RegNumberFrdo, '')) FROM ProfFrdo"), state);
        else
            QCOMPARE(rows("SELECT (SELECT group_concat(DISTINCT profId) FROM ProfDetails), (SELECT "
                          "group_concat(profId) FROM ProfFrdo), (SELECT group_concat(profId) FROM ProfDocuments)"),
                     state);
        QCOMPARE(list->model()->rowCount(), shown);
    }

    void selectAllSeesEveryFilteredRow() {
        GuiFixture f;
        runSql("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 900) "
               "INSERT INTO ProfDocuments (fio1, fio2) SELECT CASE WHEN i % 3 = 0 THEN 'ПЕТРОВ' ELSE 'Сидоров' END, "
               "'Пётр' FROM n");
        auto* list = buildList(f);
        QCOMPARE(list->model()->rowCount(), 900);
        list->onFiltersChanged(fio("петров"));
        list->onSelectAllAction();
        QList<qint64> expected;
        QSqlQuery query = runSql("SELECT profId FROM ViewProfDocuments WHERE orvane_contains(fio, ?)", {"петров"});
        while (query.next())
            expected << query.value(0).toLongLong();
        QCOMPARE(expected.size(), 300);
        QCOMPARE(sorted(list->selectedIds()), sorted(expected));
        QCOMPARE(sorted(list->shownIds()), sorted(expected));
    }

    void autoFill_data() {
        QTest::addColumn<QVariant>("patronymic");
        QTest::addColumn<QString>("attNumber");
        QTest::addColumn<QVariant>("isDuplicate");
        QTest::addColumn<bool>("stored");
        // sexIsMale, docSerial, docNumber, fio1..3orig, frdo18..20, StateDuplicate
        QTest::addColumn<QString>("expected");
        QTest::newRow("original, -на, 12 digits") << QVariant("Ивановна") << "123456789012" << QVariant(0) << true
                                                  << "-1|123456|789012|Старая|Анна|Ивановна|Нет|Нет|Нет|0";
        QTest::newRow("original, -ич, short number, no FRDO row")
            << QVariant("Иванович") << "12345" << QVariant() << false << "1||12345|-|-|-|Нет|Нет|Нет|-";
        QTest::newRow("duplicate, no patronymic")
            << QVariant() << "123456789012" << QVariant(1) << true << "1|123456|789012|Петрова|Мария|-|Да|-|Да|1";
        QTest::newRow("duplicate, capitals and a blank") << QVariant("ПЕТРОВНА ") << "1234567" << QVariant(2) << true
                                                         << "-1|123456|7|Петрова|Мария|ПЕТРОВНА |Да|-|Да|2";
    }

    void autoFill() {
        QFETCH(QVariant, patronymic);
        QFETCH(QString, attNumber);
        QFETCH(QVariant, isDuplicate);
        QFETCH(bool, stored);
        QFETCH(QString, expected);
        GuiFixture f;
        runSql(
            "INSERT INTO ProfDocuments (fio1, fio2, fio3, attNumber, isDuplicate, issueDate, regNumber, birthDate, "
            "startDate, finishDate, profession, profProgName, qual) VALUES ('Петрова', 'Мария', ?, ?, ?, '2020-06-30', "
            "'СВ 7', '2000-01-02', '2020-01-10', '2020-06-20', 'Повар', 'Программа', 'Повар 3 разряда')",
            {patronymic, attNumber, isDuplicate});
        runSql("INSERT INTO ProfDetails (profId, count) VALUES (1, 30), (1, NULL), (1, 12)");
        if (stored)
            runSql("INSERT INTO ProfFrdo (profId, fio1orig, fio2orig, fio3orig, frdo18, frdo20, snils) VALUES (1, "
                   "'Старая', 'Анна', 'Ивановна', 'Да', 'Да', '111')");
        auto* list = buildList(f);
        list->autoFillFrdoVirtual(1);
        list->autoFillFrdoVirtual(99); // no such document: no row for it
        QCOMPARE(rows("SELECT sexIsMale, docSerial, docNumber, fio1orig, fio2orig, fio3orig, frdo18, frdo19, frdo20, "
                      "StateDuplicate FROM ProfFrdo"),
                 expected);
        QCOMPARE(
            rows("SELECT issueDateFrdo, RegNumberFrdo, birthDateFrdo, beginDate, endDate, frdo15, studyCount, "
                 "frdo14, frdo16, snils FROM ProfFrdo"),
            QStringLiteral("2020-06-30|СВ 7|2000-01-02|2020-01-10|2020-06-20|Повар|42|Программа|Повар 3 разряда|") +
                (stored ? "111" : "-"));
    }

    void columnWidths() {
        GuiFixture f;
        insertSampleDocuments();
        auto* list = buildList(f);
        SettingsRegistry* settings = SettingsRegistry::instance();
        const auto key = [](int column) { return QStringList{"Prof", QString::number(column)}; };
        const QList<int> before{list->columnWidth(2), list->columnWidth(3)};
        for (const auto& stored : QList<QPair<int, int>>{{0, 300}, {1, 150}, {2, 0}, {3, -5}})
            settings->setValue(Keys::tableColumnWidth, stored.second, key(stored.first));
        list->restoreColumnWidths("Prof");
        QVERIFY(list->isColumnHidden(0));
        QCOMPARE(QList<int>({list->columnWidth(1), list->columnWidth(2), list->columnWidth(3)}),
                 QList<int>({150, before.at(0), before.at(1)}));
        list->setColumnWidth(4, 222);
        list->saveColumnWidths("Prof");
        QCOMPARE(settings->value(Keys::tableColumnWidth, key(4)).toInt(), 222);
        QCOMPARE(settings->value(Keys::tableColumnWidth, key(0)).toInt(), 300); // hidden: not written
    }

    void print_data() {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QString>("printed");
        QTest::newRow("none") << QList<int>{} << QString();
        QTest::newRow("one") << QList<int>{2} << "one 702 2 1 0";
        QTest::newRow("two") << QList<int>{4, 2} << "many 702 2,4 1 0";
    }

    void print() {
        QFETCH(QList<int>, selected);
        QFETCH(QString, printed);
        GuiFixture f;
        insertSampleDocuments();
        auto* list = buildList<PrintableList>(f);
        selectIds(list, wide(selected));
        QString got;
        const auto record = [&got](const char* signal, int type, QList<qint64> ids, bool background, bool preview) {
            QStringList texts;
            for (qint64 id : sorted(ids))
                texts << QString::number(id);
            got = QString("%1 %2 %3 %4 %5").arg(signal).arg(type).arg(texts.join(',')).arg(background).arg(preview);
        };
        connect(list, &DocumentsTable::documentPrint,
                [&](ReportList::ReportType type, qint64 id, bool b, bool p) { record("one", type, {id}, b, p); });
        connect(
            list, &DocumentsTable::documentsPrint,
            [&](ReportList::ReportType type, QList<qint64> ids, bool b, bool p) { record("many", type, ids, b, p); });
        list->onPrintAction();
        QVERIFY(list->dialog && list->dialog->isVisible());
        emit list->dialog->reportTypeSelected(ReportList::AppendixAny, true, false);
        QCOMPARE(got, printed);
        list->dialog->close();
    }

    // Another program's save refreshes the list under the user: the selected documents, the current
    // one and the document at the top of the view stay as they were, also where rows came and went
    // above them; a selected document that is gone is simply no longer selected.
    void refreshKeepsTheView() {
        GuiFixture f;
        for (int i = 1; i <= 300; ++i)
            insertRow("ProfDocuments", {{"fio1", QStringLiteral("Документ %1").arg(i)}});
        auto* list = buildList(f);
        list->selectIds({150, 148, 120});
        const QModelIndex current = list->selectionModel()->currentIndex();
        QCOMPARE(current.sibling(current.row(), 0).data().toLongLong(), qint64(150));
        const int topRow = proxyIds(list->model()).indexOf(200);
        list->scrollTo(list->model()->index(topRow, 1), QAbstractItemView::PositionAtTop);
        const auto topId = [list] {
            const QModelIndex top = list->indexAt(QPoint(0, 0));
            return top.sibling(top.row(), 0).data().toLongLong();
        };
        QCOMPARE(topId(), qint64(200));
        for (int i = 0; i < 5; ++i) // newest first: five rows come above
            insertRow("ProfDocuments", {{"fio1", QStringLiteral("Новый %1").arg(i)}});
        runSql("DELETE FROM ProfDocuments WHERE profId IN (120, 250)");
        list->updateData();
        QCOMPARE(sorted(list->selectedIds()), (QList<qint64>{148, 150}));
        const QModelIndex after = list->selectionModel()->currentIndex();
        QCOMPARE(after.sibling(after.row(), 0).data().toLongLong(), qint64(150));
        QCOMPARE(after.column(), current.column());
        QCOMPARE(topId(), qint64(200));
        // The document at the top is gone: the view stays where it was.
        const int scrolled = list->verticalScrollBar()->value();
        runSql("DELETE FROM ProfDocuments WHERE profId = 200");
        list->updateData();
        QCOMPARE(list->verticalScrollBar()->value(), scrolled);
        QCOMPARE(sorted(list->selectedIds()), (QList<qint64>{148, 150}));
    }

    void actionsAndRefreshSignals() {
        GuiFixture f;
        insertSampleDocuments();
        auto* list = buildList(f);
        QSignalSpy clicked(list, &DocumentsTable::documentClicked);
        QSignalSpy counts(list, &DocumentsTable::rowCountsChanged);
        QSignalSpy reselected(list, &DocumentsTable::reselected);
        QSignalSpy unselected(list, &DocumentsTable::unselect);
        action(list, "Добавить новый")->trigger();
        selectIds(list, QList<qint64>{5, 3});
        list->onEditAction();
        QCOMPARE(list->currentDocId(), 3);
        // A double click arrives after the click that it completes.
        const QPoint onSecond = list->visualRect(list->model()->index(proxyIds(list->model()).indexOf(2), 1)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, onSecond);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, onSecond);
        QCOMPARE(QList<QVariantList>(clicked), QList<QVariantList>({{-1}, {3}, {2}}));
        insertRow("ProfDocuments", {{"fio1", "Новиков"}});
        action(list, "Обновить")->trigger();
        QCOMPARE(reselected.size(), 1);
        QCOMPARE(proxyIds(list->model()).first(), 8);
        QCOMPARE(counts.last(), QVariantList({7, 7}));
        list->selectAll();
        list->onFiltersChanged(fio("иванов"));
        QCOMPARE(unselected.size(), 1);
        QCOMPARE(counts.last(), QVariantList({3, 7}));
        QVERIFY(list->selectionModel()->selectedRows().isEmpty());
    }

    // Ids beyond 32 bits, up to SQLite's largest, are listed, opened, printed, copied and deleted
    // as themselves.
    void wideIds_data() {
        QTest::addColumn<qint64>("id");
        QTest::addColumn<bool>("copied"); // there is no id after the largest
        QTest::newRow("2^31") << (qint64(1) << 31) << true;
        QTest::newRow("2^62") << (qint64(1) << 62) << true;
        QTest::newRow("largest") << std::numeric_limits<qint64>::max() << false;
    }

    void wideIds() {
        QFETCH(qint64, id);
        QFETCH(bool, copied);
        GuiFixture f;
        insertDocumentWithId(1, "Первый");
        insertDocumentWithId(id, "Широкий");
        auto* list = buildList<PrintableList>(f);
        QCOMPARE(proxyIds(list->model()), QList<qint64>({id, 1}));

        QSignalSpy clicked(list, &DocumentsTable::documentClicked);
        selectIds(list, QList<qint64>{id});
        list->onEditAction();
        QCOMPARE(list->currentDocId(), id);
        QCOMPARE(clicked.size(), 1);
        QCOMPARE(clicked.takeFirst().first().toLongLong(), id);

        qint64 printed = 0;
        connect(list, &DocumentsTable::documentPrint,
                [&](ReportList::ReportType, qint64 one, bool, bool) { printed = one; });
        list->onPrintAction();
        emit list->dialog->reportTypeSelected(ReportList::CertificateAny, false, false);
        QCOMPARE(printed, id);
        list->dialog->close();

        const QString before = registryState();
        list->onCopyRecordAction();
        if (copied) {
            QCOMPARE(clicked.size(), 1);
            QCOMPARE(clicked.takeFirst().first().toLongLong(), id + 1);
            QCOMPARE(proxyIds(list->model()), QList<qint64>({id + 1, id, 1}));
            QCOMPARE(rows("SELECT fio1 FROM ProfDocuments WHERE profId = ?", {id + 1}),
                     QStringLiteral("КОПИЯ Широкий"));
            QCOMPARE(rows("SELECT COUNT(*) FROM ProfDetails WHERE profId = ?", {id + 1}), QStringLiteral("1"));
        } else {
            // SQLite has no id left for the copy: nothing is written, and the user is told.
            QCOMPARE(clicked.size(), 0);
            QVERIFY(MessageBox::lastShown().text.startsWith(QStringLiteral("Не удалось создать копию документа.\n")));
            QCOMPARE(registryState(), before);
        }

        selectIds(list, copied ? QList<qint64>{id, id + 1} : QList<qint64>{id});
        f.answerNextBox(QMessageBox::Ok);
        list->onDeleteAction();
        QCOMPARE(proxyIds(list->model()), QList<qint64>{1});
        QCOMPARE(rows("SELECT (SELECT group_concat(profId) FROM ProfDocuments), (SELECT group_concat(profId) FROM "
                      "ProfDetails), (SELECT group_concat(profId) FROM ProfFrdo)"),
                 QStringLiteral("1|1|1"));
    }

    // The generator makes registries with ids from 2^62 on, for trying the program on them.
    void generatedRegistryWithWideIds() {
        QTemporaryDir dir;
        const QString generated = dir.filePath("generated.db");
        QProcess dbgen;
        dbgen.start(binaryPath("dbgen"),
                    {"--docs", "3", "--templates", "1", "--first-id", "4611686018427387904", generated});
        QVERIFY(dbgen.waitForFinished(60000));
        QCOMPARE(dbgen.exitCode(), 0);
        const qint64 first = qint64(1) << 62;
        QCOMPARE(queryFile(generated, "SELECT MIN(profId), MAX(profId), SUM(isTemplate), (SELECT MIN(profId) FROM "
                                      "ProfFrdo) FROM ProfDocuments"),
                 (QList<QVariantList>{{first, first + 3, 1, first}}));
    }

    // Only mouse presses, moves and releases on the header sort; whatever else passes it is left
    // to the header.
    void otherEventsPassTheHeader() {
        GuiFixture f;
        insertSampleDocuments();
        auto* list = buildList(f);
        QWidget* viewport = list->horizontalHeader()->viewport();
        QSignalSpy clicked(list->horizontalHeader(), &QHeaderView::sectionClicked);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
        QHoverEvent hover(QEvent::HoverMove, QPointF(10, 5), QPointF(12, 5));
        QEvent leave(QEvent::Leave);
        for (QEvent* event : std::initializer_list<QEvent*>{&key, &hover, &leave})
            QApplication::sendEvent(viewport, event);
        QCOMPARE(clicked.size(), 0);
        QCOMPARE(list->horizontalHeader()->sortIndicatorSection(), 0);
        QCOMPARE(proxyIds(list->model()), QList<qint64>({6, 5, 4, 3, 2, 1}));
    }

    // Three clicks on "ФИО" give back the registry's own order, and "Обновить" keeps it: the newest
    // document, added meanwhile, comes first.
    void thirdClickAndRefreshShowNewestFirst() {
        GuiFixture f;
        insertSampleDocuments();
        auto* list = buildList(f);
        for (int click = 0; click < 3; ++click)
            clickHeader(list, DocumentsModel::Fio);
        QCOMPARE(proxyIds(list->model()), QList<qint64>({6, 5, 4, 3, 2, 1}));
        insertRow("ProfDocuments", {{"fio1", "Аардварков"}});
        action(list, "Обновить")->trigger();
        QCOMPARE(proxyIds(list->model()), QList<qint64>({8, 6, 5, 4, 3, 2, 1}));
        QVERIFY(!list->horizontalHeader()->isSortIndicatorShown());
    }

    void datesAsShown_data() {
        QTest::addColumn<QVariant>("issueDate");
        QTest::addColumn<QVariant>("editDate");
        QTest::addColumn<QString>("shown"); // issue date|edit date
        const QVariant null(QVariant::String);
        QTest::newRow("saved by the dialog")
            << QVariant("2026-12-07") << QVariant("2026-12-07T23:17:40") << "07.12.2026|07.12.2026 23:17";
        QTest::newRow("time after a blank")
            << QVariant("2021-05-04") << QVariant("2021-05-04 12:00:00") << "04.05.2021|04.05.2021 12:00";
        QTest::newRow("fractions and a zone")
            << QVariant("2016-04-08") << QVariant("2016-04-08T15:30:00.123+03:00") << "08.04.2016|08.04.2016 15:30";
        QTest::newRow("issue date with a time, edit date without")
            << QVariant("2017-01-01 08:30:00") << QVariant("2017-01-01") << "01.01.2017|01.01.2017";
        QTest::newRow("NULL") << null << null << "|";
        QTest::newRow("no such day, no date") << QVariant("2016-02-30") << QVariant("abc") << "2016-02-30|abc";
        QTest::newRow("no such hour") << QVariant("0001-01-01") << QVariant("2016-04-08 25:00:00")
                                      << "01.01.0001|2016-04-08 25:00:00";
        QTest::newRow("a number") << QVariant(20160408) << QVariant(1e30) << "20160408|1.0e+30";
    }

    // Dates show as in the dialogs; the stored value stays behind them.
    void datesAsShown() {
        QFETCH(QVariant, issueDate);
        QFETCH(QVariant, editDate);
        QFETCH(QString, shown);
        GuiFixture f;
        runSql("INSERT INTO ProfDocuments (fio1, issueDate, editDate) VALUES ('Иванов', ?, ?)", {issueDate, editDate});
        auto* list = buildList(f);
        const QModelIndex issue = list->model()->index(0, DocumentsModel::IssueDate);
        const QModelIndex edit = list->model()->index(0, DocumentsModel::EditDate);
        QCOMPARE(issue.data().toString() + "|" + edit.data().toString(), shown);
        QCOMPARE(issue.data(Qt::EditRole).toString() + "|" + edit.data(Qt::EditRole).toString(),
                 rows("SELECT IFNULL(issueDate, ''), IFNULL(editDate, '') FROM ProfDocuments"));
    }

    // The shown texts would sort 01.02.2020 before 31.01.2019; the list sorts and filters by date.
    void datesSortAndFilterByTheDay() {
        GuiFixture f;
        for (const char* date : {"2020-02-01", "2019-01-31", "2019-12-15"})
            runSql("INSERT INTO ProfDocuments (fio1, issueDate, editDate) VALUES ('Иванов', ?, ? || ' 10:00:00')",
                   {date, date});
        auto* list = buildList(f);
        for (int column : {DocumentsModel::IssueDate, DocumentsModel::EditDate}) {
            clickHeader(list, column);
            QCOMPARE(proxyIds(list->model()), QList<qint64>({2, 3, 1}));
            clickHeader(list, column);
            QCOMPARE(proxyIds(list->model()), QList<qint64>({1, 3, 2}));
            clickHeader(list, column);
        }
        list->onFiltersChanged({{"dateFrom", QDate(2019, 6, 1)}, {"dateTo", QDate(2019, 12, 15)}, {"fio", ""}});
        QCOMPARE(proxyIds(list->model()), QList<qint64>{3});
        list->onFiltersChanged({{"editDateFrom", QDate(2019, 1, 31)}, {"editDateTo", QDate(2019, 12, 31)}});
        QCOMPARE(sorted(proxyIds(list->model())), QList<qint64>({2, 3}));
    }

    // "Автозаполнение ФРДО" parts "Серия/номер свидетельства" at its first blank, or else where its
    // digits begin, or after the sixth character, and gives every certificate the one FRDO kind the FRDO dialog offers
    // for it.
    void autoFillSeriesAndKind_data() {
        QTest::addColumn<QVariant>("attNumber");
        QTest::addColumn<QVariant>("certificateType");
        QTest::addColumn<QString>("parts"); // DocSerial|DocNumber, NULL as "-"
        const QVariant null(QVariant::String);
        QTest::newRow("series, blank, number") << QVariant("2926 000101") << QVariant(1) << "2926|000101";
        QTest::newRow("twelve digits") << QVariant("123456789012") << QVariant(2) << "123456|789012";
        QTest::newRow("blanks around and between") << QVariant("  2926   000101 ") << QVariant(0) << "2926|000101";
        QTest::newRow("a tab") << QVariant("2926\t000101") << null << "2926|000101";
        QTest::newRow("a blank inside the number") << QVariant("АБ 12 345") << QVariant("abc") << "АБ|12 345";
        QTest::newRow("a trailing blank only") << QVariant("1234 ") << QVariant(1) << "|1234";
        QTest::newRow("short") << QVariant("12345") << QVariant(1) << "|12345";
        QTest::newRow("letters, then digits") << QVariant("СВ100051") << QVariant(1) << "СВ|100051";
        QTest::newRow("empty") << QVariant("") << QVariant(1) << "|";
        QTest::newRow("NULL") << null << QVariant(2) << "-|-";
    }

    void autoFillSeriesAndKind() {
        QFETCH(QVariant, attNumber);
        QFETCH(QVariant, certificateType);
        QFETCH(QString, parts);
        GuiFixture f;
        runSql("INSERT INTO ProfDocuments (fio1, fio3, attNumber, certificateType) VALUES ('Иванов', 'Иванович', ?, ?)",
               {attNumber, certificateType});
        auto* list = buildList(f);
        selectIds(list, QList<qint64>{1});
        f.answerNextBox(QMessageBox::Ok);
        list->onAutoFillFrdoAction();
        QCOMPARE(rows("SELECT DocSerial, DocNumber FROM ProfFrdo WHERE profId = 1"), parts);
        const QString kind = QStringLiteral("Свидетельство о профессии рабочего, должности служащего");
        QCOMPARE(rows("SELECT DocType FROM ProfFrdo WHERE profId = 1"), kind);
        // The FRDO dialog shows the kind as one of its own.
        auto* dialog = new FrdoDialog(list);
        dialog->setDocId(1);
        QCOMPARE(dialog->findChild<QComboBox*>("comboBoxDocType")->currentText(), kind);
        dialog->close();
    }

    // A statement that fails halfway through a copy, a deletion or an auto-fill leaves every row as
    // it was, and the user is told.
    void failedWritesChangeNothing_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("message");
        const QString copy = "Не удалось создать копию документа.";
        const QString remove = "Не удалось удалить документы; ни один из них не удалён.";
        const QString fill = "Не удалось заполнить данные ФРДО; ничего не изменено.";
        const QString refuse = "BEGIN SELECT RAISE(ABORT, 'отказано'); END";
        QTest::newRow("copy, FRDO row refused") << "copy"
                                                << "BEFORE INSERT ON ProfFrdo " + refuse << copy;
        QTest::newRow("delete, document refused") << "delete"
                                                  << "BEFORE DELETE ON ProfDocuments " + refuse << remove;
        QTest::newRow("delete, FRDO row refused") << "delete"
                                                  << "BEFORE DELETE ON ProfFrdo " + refuse << remove;
        QTest::newRow("auto-fill, second document refused")
            << "fill"
            << "BEFORE UPDATE ON ProfFrdo WHEN OLD.profId = 3 " + refuse << fill;
        QTest::newRow("delete, read only") << "delete"
                                           << "query_only" << remove;
        QTest::newRow("auto-fill, read only") << "fill"
                                              << "query_only" << fill;
    }

    void failedWritesChangeNothing() {
        QFETCH(QString, action);
        QFETCH(QString, failure);
        QFETCH(QString, message);
        GuiFixture f;
        insertDocumentWithId(1, "Первый");
        insertDocumentWithId(2, "Второй");
        insertDocumentWithId(3, "Третий");
        runSql("INSERT INTO ProfDocuments (profId, fio1) VALUES (4, 'Без ФРДО')");
        auto* list = buildList(f);
        selectIds(list, action == "copy" ? QList<qint64>{2} : QList<qint64>{1, 3, 4});
        if (failure == "query_only")
            runSql("PRAGMA query_only = 1");
        else
            runSql("CREATE TRIGGER refuse " + failure);
        const QString before = registryState();
        QSignalSpy clicked(list, &DocumentsTable::documentClicked);
        if (action != "copy")
            f.answerNextBox(QMessageBox::Ok);
        action == "copy"     ? list->onCopyRecordAction()
        : action == "delete" ? list->onDeleteAction()
                             : list->onAutoFillFrdoAction();
        runSql("PRAGMA query_only = 0");
        QCOMPARE(registryState(), before);
        QCOMPARE(clicked.size(), 0);
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Ошибка"));
        QVERIFY2(MessageBox::lastShown().text.startsWith(message + "\n"), qPrintable(MessageBox::lastShown().text));
        if (failure != "query_only")
            QVERIFY(MessageBox::lastShown().text.contains(QStringLiteral("отказано")));
        QCOMPARE(proxyIds(list->model()), QList<qint64>({4, 3, 2, 1}));
    }
};

class TestMyFilterModel : public QObject {
    Q_OBJECT

private slots:
    void filters_data() {
        QTest::addColumn<FilterListType>("filters");
        QTest::addColumn<QList<int>>("ids");
        QTest::addColumn<QString>("previousFio");
        const QList<int> all = {1, 2, 3, 4, 5, 6};
        const QDate apr7(2016, 4, 7), apr8(2016, 4, 8), apr9(2016, 4, 9), apr10(2016, 4, 10);
        const auto row = [](const char* name, const FilterListType& filters, const QList<int>& ids,
                            const QString& previous = "Сидоров") { QTest::newRow(name) << filters << ids << previous; };
        row("none", fio(""), all);
        row("fio trimmed, any case", fio("  иВАНОВ "), {1, 3, 5});
        row("fio inside the name", fio("петров"), {2, 3});
        row("qual, line break read as a blank", {{"qual", "сварщик 3"}}, {1});
        row("qual", {{"qual", "ПОВАР"}}, {2, 3, 5, 6});
        row("fio and qual", {{"fio", "иван"}, {"qual", "повар"}}, {3, 5});
        row("issue range, both ends in", {{"dateFrom", apr8}, {"dateTo", apr10}}, {1, 2, 6});
        row("issue range of one day", {{"dateFrom", apr7}, {"dateTo", apr7}}, {5});
        row("issue from only", {{"dateFrom", apr9}}, all);
        row("issue to only", {{"dateTo", apr7}}, all);
        row("edit range, times of day", {{"editDateFrom", apr9}, {"editDateTo", apr10}}, {2, 5});
        row("edit to only", {{"editDateTo", apr8}}, all);
        row("invalid values, other keys", {{"fio", QVariant()}, {"dateFrom", QDate()}, {"dateTo", apr10}, {"x", "y"}},
            all);
        row("typed on", fio("ивАНОВ"), {1, 3, 5}, "ив");
        row("erased back", fio("ив"), {1, 3, 5, 6}, "иванов");
    }

    // The typed columns and any other source model give the same rows.
    void filters() {
        QFETCH(FilterListType, filters);
        QFETCH(QList<int>, ids);
        QFETCH(QString, previousFio);
        TestDatabase data;
        QVERIFY(data.open());
        insertSampleDocuments();
        DocumentsModel documents;
        QVERIFY(documents.reload());
        QStandardItemModel plain(documents.rowCount(), documents.columnCount());
        for (int row = 0; row < documents.rowCount(); ++row)
            for (int column = 0; column < documents.columnCount(); ++column)
                plain.setData(plain.index(row, column), documents.index(row, column).data(Qt::EditRole));
        for (QAbstractItemModel* source :
             {static_cast<QAbstractItemModel*>(&documents), static_cast<QAbstractItemModel*>(&plain)}) {
            MyFilterModel filter;
            filter.setSourceModel(source);
            filter.setFilterList(fio(previousFio));
            filter.rowCount();
            filter.setFilterList(filters);
            QCOMPARE(sorted(proxyIds(&filter)), wide(ids));
        }
    }

    // The list sorts by the stored values (the edit role); the shown texts sort as shown.
    void sortAsTheDefaultComparison_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("order");
        QTest::addColumn<int>("caseSensitivity");
        QTest::addColumn<int>("role");
        for (int column = 0; column < DocumentsModel::ColumnCount; ++column)
            for (int order : {Qt::AscendingOrder, Qt::DescendingOrder})
                for (int cs : {Qt::CaseSensitive, Qt::CaseInsensitive})
                    for (int role : {Qt::EditRole, Qt::DisplayRole})
                        QTest::addRow(
                            "column %d %s%s%s", column, order == Qt::AscendingOrder ? "ascending" : "descending",
                            cs == Qt::CaseSensitive ? "" : ", any case", role == Qt::EditRole ? "" : ", as shown")
                            << column << order << cs << role;
    }

    void sortAsTheDefaultComparison() {
        QFETCH(int, column);
        QFETCH(int, order);
        QFETCH(int, caseSensitivity);
        QFETCH(int, role);
        TestDatabase data;
        QVERIFY(data.open());
        insertSampleDocuments();
        DocumentsModel documents;
        QVERIFY(documents.reload());
        MyFilterModel fast;
        QSortFilterProxyModel reference;
        for (QSortFilterProxyModel* proxy : {static_cast<QSortFilterProxyModel*>(&fast), &reference}) {
            proxy->setSourceModel(&documents);
            proxy->setSortCaseSensitivity(Qt::CaseSensitivity(caseSensitivity));
            proxy->setSortRole(role);
            proxy->sort(column, Qt::SortOrder(order));
        }
        QCOMPARE(proxyIds(&fast), proxyIds(&reference));
    }
};

ORVANE_TEST(TestDocumentsTable)
ORVANE_TEST(TestMyFilterModel)

#include "tst_documentstable.moc"
