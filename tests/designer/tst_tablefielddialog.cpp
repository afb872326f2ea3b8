#include "edittablefielddialog.h"
#include "edithistory.h"
#include "reportpage.h"
#include "tablefield.h"
#include "testregistry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QMetaProperty>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTableWidget>
#include <QUndoStack>
#include <QtTest>
#include <memory>

namespace {
// Every stored property of a table, by name.
QVariantMap snapshot(const TableField* field) {
    QVariantMap values;
    const QMetaObject* meta = field->metaObject();
    for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i)
        values.insert(QString::fromLatin1(meta->property(i).name()), meta->property(i).read(field));
    return values;
}

// A table with a value in every setting the dialog edits, some of them finer than it shows.
TableField* makeTable() {
    auto* field = new TableField;
    field->setModelName(QStringLiteral("viewprofdetails"));
    field->setColumnCount(2);
    field->setHeaderNames({QStringLiteral("Предмет"), QStringLiteral("Часы")});
    field->setColumnsWidth({25.5, 12.345});
    field->setColumnIds({QStringLiteral("$D{viewprofdetails.name}"), QStringLiteral("$D{viewprofdetails.hours}")});
    field->setColumnsAlign({4, 2});
    field->setDrawBorders(false);
    field->setHeaderHeight(7.125);
    field->setRowHeight(5.0);
    field->setSplitsCount(2);
    field->setMaxSplitHeight({40.0, 50.123});
    field->setSplitX({110.0, 0.0});
    field->setSplitY({30.0, 0.0});
    return field;
}

QStringList rowTexts(const QTableWidget* table, int row) {
    QStringList texts;
    for (int c = 0; c < table->columnCount(); ++c) {
        const QTableWidgetItem* item = table->item(row, c);
        texts << (item ? item->text() : QString());
    }
    return texts;
}

QStringList alignTexts(const QTableWidget* table) {
    QStringList texts;
    for (int c = 0; c < table->columnCount(); ++c) {
        const auto* combo = qobject_cast<QComboBox*>(table->cellWidget(EditTableFieldDialog::AlignRow, c));
        texts << (combo ? combo->currentText() : QString());
    }
    return texts;
}

void setCell(QTableWidget* table, int row, int column, const QString& text) {
    if (!table->item(row, column))
        table->setItem(row, column, new QTableWidgetItem);
    table->item(row, column)->setText(text);
}
// A filled table on a page whose edits are recorded, and its values before any.
struct EditedTable {
    QUndoStack stack;
    ReportPage page;
    TableField* field = makeTable();
    QVariantMap before;
    EditedTable() {
        page.addField(field);
        before = snapshot(field);
        new EditHistory(&page, &stack);
    }
};
} // namespace

class TestEditTableFieldDialog : public QObject {
    Q_OBJECT

    template <typename T> static T* child(QObject* dialog, const char* name) {
        auto* widget = dialog->findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }

private slots:
    void initTestCase() {
        qRegisterMetaType<TableField*>();
        // Lists compare by value, as an undo step restoring them does.
        if (!QMetaType::hasRegisteredComparators<QList<double>>())
            QMetaType::registerComparators<QList<double>>();
        if (!QMetaType::hasRegisteredComparators<QList<quint8>>())
            QMetaType::registerComparators<QList<quint8>>();
    }

    void newTableDefaults() {
        EditTableFieldDialog dialog;
        auto* table = child<QTableWidget>(&dialog, "table");
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Options"));
        QCOMPARE(child<QPushButton>(&dialog, "pushButtonOk")->text(), QStringLiteral("Создать"));
        QCOMPARE(child<QSpinBox>(&dialog, "rowCountSpin")->value(), 3);
        QCOMPARE(table->columnCount(), 3);
        QCOMPARE(rowTexts(table, EditTableFieldDialog::WidthRow), QStringList({"40", "40", "40"}));
        QCOMPARE(alignTexts(table), QStringList({"по умолчанию", "по умолчанию", "по умолчанию"}));

        // Columns added later start the same way; columns removed take their values along.
        setCell(table, EditTableFieldDialog::HeaderRow, 0, QStringLiteral("№"));
        child<QSpinBox>(&dialog, "rowCountSpin")->setValue(4);
        child<QSpinBox>(&dialog, "rowCountSpin")->setValue(2);
        child<QSpinBox>(&dialog, "rowCountSpin")->setValue(3);
        QCOMPARE(rowTexts(table, EditTableFieldDialog::HeaderRow), QStringList({"№", "", ""}));
        QCOMPARE(rowTexts(table, EditTableFieldDialog::WidthRow), QStringList({"40", "40", "40"}));

        QSignalSpy created(&dialog, &EditTableFieldDialog::tableFieldCreated);
        child<QPushButton>(&dialog, "pushButtonOk")->click();
        QCOMPARE(created.count(), 1);
        std::unique_ptr<TableField> field(created.at(0).at(0).value<TableField*>());
        QVERIFY(field);
        QVERIFY(!field->parent());
        QCOMPARE(field->columnCount(), quint8(3));
        QCOMPARE(field->headerNames(), QStringList({"№", "", ""}));
        QCOMPARE(field->columnsWidth(), QList<double>({40.0, 40.0, 40.0}));
        QCOMPARE(field->columnsAlign(), QList<quint8>({0, 0, 0}));
        QCOMPARE(field->splitsCount(), 0);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void editRoundTrip() {
        EditedTable edited;
        TableField* field = edited.field;
        const QVariantMap& before = edited.before;
        QUndoStack& stack = edited.stack;

        EditTableFieldDialog dialog(field);
        auto* table = child<QTableWidget>(&dialog, "table");
        auto* splits = child<QTableWidget>(&dialog, "tableSplit");
        QCOMPARE(child<QPushButton>(&dialog, "pushButtonOk")->text(), QStringLiteral("Сохранить"));
        QCOMPARE(child<QLineEdit>(&dialog, "modelNameLineEdit")->text(), QStringLiteral("viewprofdetails"));
        QCOMPARE(child<QSpinBox>(&dialog, "rowCountSpin")->value(), 2);
        QCOMPARE(rowTexts(table, EditTableFieldDialog::HeaderRow), QStringList({"Предмет", "Часы"}));
        QCOMPARE(rowTexts(table, EditTableFieldDialog::WidthRow), QStringList({"25.5", "12.345"}));
        QCOMPARE(rowTexts(table, EditTableFieldDialog::DataRow), field->columnIds());
        QCOMPARE(alignTexts(table), QStringList({"По центру", "Справа"}));
        QCOMPARE(child<QDoubleSpinBox>(&dialog, "headerHeightSpin")->value(), 7.13);
        QCOMPARE(child<QDoubleSpinBox>(&dialog, "rowHeightSpin")->value(), 5.0);
        QVERIFY(!child<QCheckBox>(&dialog, "autoWidthCheckBox")->isChecked());
        QVERIFY(!child<QCheckBox>(&dialog, "drawBordersCheckBox")->isChecked());
        QVERIFY(child<QCheckBox>(&dialog, "headerIsVisibleCheckBox")->isChecked());
        QCOMPARE(splits->rowCount(), 2);
        QCOMPARE(rowTexts(splits, 0), QStringList({"40.00", "110.00", "30.00"}));
        QCOMPARE(rowTexts(splits, 1), QStringList({"50.12", "Без переноса", "Без переноса"}));

        // Saved untouched, nothing changes, not even what the form shows rounded.
        QSignalSpy modified(&dialog, &EditTableFieldDialog::tableFieldModified);
        child<QPushButton>(&dialog, "pushButtonOk")->click();
        QCOMPARE(modified.count(), 1);
        QCOMPARE(snapshot(field), before);
        QCOMPARE(stack.count(), 0);
    }

    void modelNameStoredLowerCase() {
        ReportPage page;
        auto* model = new QStandardItemModel(1, 1, &page);
        model->setHorizontalHeaderLabels({QStringLiteral("Col")});
        page.setModel(QStringLiteral("ViewProfDetails"), model, true);
        auto* field = new TableField;
        page.addField(field);

        EditTableFieldDialog dialog(field);
        child<QLineEdit>(&dialog, "modelNameLineEdit")->setText(QStringLiteral(" ViewProfDetails "));
        child<QPushButton>(&dialog, "pushButtonOk")->click();
        QCOMPARE(field->modelName(), QStringLiteral("viewprofdetails"));
        QCOMPARE(field->model(), model);
    }

    void breakRows_data() {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QList<double>>("saved");
        QTest::addRow("no continuation") << QStringList({"40", "Без переноса", "Без переноса"})
                                         << QList<double>({40, 0, 0});
        QTest::addRow("continues") << QStringList({"40.25", "110.5", "30"}) << QList<double>({40.25, 110.5, 30});
        QTest::addRow("comma and words") << QStringList({"40,5", "abc", "12"}) << QList<double>({0, 0, 12});
        QTest::addRow("left empty") << QStringList({"", "", ""}) << QList<double>({0, 0, 0});
    }

    void breakRows() {
        QFETCH(QStringList, typed);
        QFETCH(QList<double>, saved);
        TableField field;
        EditTableFieldDialog dialog(&field);
        auto* splits = child<QTableWidget>(&dialog, "tableSplit");
        child<QPushButton>(&dialog, "pushButtonAddSplit")->click();
        QCOMPARE(splits->rowCount(), 1);
        for (int c = 0; c < typed.size(); ++c)
            setCell(splits, 0, c, typed.at(c));
        child<QPushButton>(&dialog, "pushButtonOk")->click();
        QCOMPARE(field.splitsCount(), 1);
        QCOMPARE(field.maxSplitHeight(), QList<double>({saved.at(0)}));
        QCOMPARE(field.splitX(), QList<double>({saved.at(1)}));
        QCOMPARE(field.splitY(), QList<double>({saved.at(2)}));
    }

    void deleteBreak() {
        TableField field;
        EditTableFieldDialog dialog(&field);
        auto* splits = child<QTableWidget>(&dialog, "tableSplit");
        auto* remove = child<QPushButton>(&dialog, "pushButtonDeleteSplit");
        child<QPushButton>(&dialog, "pushButtonAddSplit")->click();
        child<QPushButton>(&dialog, "pushButtonAddSplit")->click();
        setCell(splits, 0, 0, QStringLiteral("40"));
        setCell(splits, 1, 0, QStringLiteral("60"));
        QVERIFY(!remove->isEnabled());
        splits->setCurrentCell(0, 1);
        emit splits->cellClicked(0, 1);
        QVERIFY(remove->isEnabled());
        remove->click();
        QVERIFY(!remove->isEnabled());
        QCOMPARE(splits->rowCount(), 1);
        child<QPushButton>(&dialog, "pushButtonOk")->click();
        QCOMPARE(field.maxSplitHeight(), QList<double>({60.0}));
    }

    void checkBoxesShowRows() {
        EditTableFieldDialog dialog;
        auto* table = child<QTableWidget>(&dialog, "table");
        auto* header = child<QDoubleSpinBox>(&dialog, "headerHeightSpin");
        QVERIFY(!table->isRowHidden(EditTableFieldDialog::WidthRow));
        child<QCheckBox>(&dialog, "autoWidthCheckBox")->setChecked(true);
        QVERIFY(table->isRowHidden(EditTableFieldDialog::WidthRow));
        child<QCheckBox>(&dialog, "autoWidthCheckBox")->setChecked(false);
        QVERIFY(!table->isRowHidden(EditTableFieldDialog::WidthRow));

        QVERIFY(header->isEnabled());
        child<QCheckBox>(&dialog, "headerIsVisibleCheckBox")->setChecked(false);
        QVERIFY(!header->isEnabled());
        QVERIFY(table->isRowHidden(EditTableFieldDialog::HeaderRow));

        // An existing table opens with its rows as its flags say.
        TableField field;
        field.setAutoWidth(true);
        EditTableFieldDialog edit(&field);
        QVERIFY(child<QTableWidget>(&edit, "table")->isRowHidden(EditTableFieldDialog::WidthRow));
    }

    void okIsOneUndoStep() {
        EditedTable edited;
        TableField* field = edited.field;
        const QVariantMap& before = edited.before;
        QUndoStack& stack = edited.stack;

        EditTableFieldDialog dialog(field);
        auto* table = child<QTableWidget>(&dialog, "table");
        child<QLineEdit>(&dialog, "modelNameLineEdit")->setText(QStringLiteral("Other"));
        child<QSpinBox>(&dialog, "rowCountSpin")->setValue(3);
        setCell(table, EditTableFieldDialog::DataRow, 2, QStringLiteral("$V{fio}"));
        setCell(table, EditTableFieldDialog::WidthRow, 0, QStringLiteral("abc"));
        qobject_cast<QComboBox*>(table->cellWidget(EditTableFieldDialog::AlignRow, 0))->setCurrentIndex(1);
        child<QCheckBox>(&dialog, "autoWidthCheckBox")->setChecked(true);
        child<QCheckBox>(&dialog, "drawBordersCheckBox")->setChecked(true);
        child<QDoubleSpinBox>(&dialog, "rowHeightSpin")->setValue(8.5);
        child<QPushButton>(&dialog, "pushButtonAddSplit")->click();
        child<QPushButton>(&dialog, "pushButtonOk")->click();

        QCOMPARE(field->columnCount(), quint8(3));
        QCOMPARE(field->columnsWidth(), QList<double>({0.0, 12.345, 40.0}));
        QCOMPARE(field->columnsAlign(), QList<quint8>({1, 2, 0}));
        QCOMPARE(field->modelName(), QStringLiteral("other"));
        QCOMPARE(field->rowHeight(), 8.5);
        QCOMPARE(field->splitsCount(), 3);
        QCOMPARE(stack.count(), 1);
        QCOMPARE(stack.undoText(), QStringLiteral("Изменение таблицы"));
        stack.undo();
        QCOMPARE(snapshot(field), before);
    }

    void cancelOrVanishedTableChangeNothing() {
        std::unique_ptr<TableField> field(makeTable());
        QSignalSpy changed(field.get(), &AbstractField::fieldChanged);
        EditTableFieldDialog dialog(field.get());
        QSignalSpy modified(&dialog, &EditTableFieldDialog::tableFieldModified);
        child<QLineEdit>(&dialog, "modelNameLineEdit")->setText(QStringLiteral("other"));
        child<QPushButton>(&dialog, "pushButtonCancel")->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));

        // OK on a table deleted while the dialog was open touches nothing.
        EditTableFieldDialog second(field.get());
        QSignalSpy created(&second, &EditTableFieldDialog::tableFieldCreated);
        field.reset();
        child<QPushButton>(&second, "pushButtonOk")->click();
        QCOMPARE(changed.count() + modified.count() + created.count(), 0);
    }
};

ORVANE_TEST(TestEditTableFieldDialog)
#include "tst_tablefielddialog.moc"
