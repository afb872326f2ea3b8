#include "qrfield.h"
#include "reportpage.h"
#include "tablefield.h"
#include "textfield.h"
#include "datamanagerdockwidget.h"
#include "structuredockwidget.h"
#include "modalhelper.h"
#include "testregistry.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableWidget>
#include <QtTest>

namespace {
using Dock = StructureDockWidget;

AbstractField* makeField(int type) {
    if (type == AbstractField::TableType)
        return new TableField;
    if (type == AbstractField::QrType)
        return new QrField;
    auto* field = new TextField;
    field->setGeometry(10, 20, 60, 10);
    field->setAlignFlags(Qt::AlignLeft | Qt::AlignTop);
    return field;
}

QStringList shownRows(const QTableWidget* table) {
    QStringList names;
    for (int row = 0; row < table->rowCount(); ++row) {
        if (!table->isRowHidden(row))
            names << table->item(row, 0)->text();
    }
    return names;
}

QStringList column(const QTableWidget* table, int c) {
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << (table->item(row, c) ? table->item(row, c)->text() : QString());
    return texts;
}
} // namespace

// The property panel and the variable manager of the designer, over a page without a window.
class TestDesignerPanels : public QObject {
    Q_OBJECT

    ReportPage* _page = nullptr;
    StructureDockWidget* _dock = nullptr;

    QTableWidget* table(const char* name) const { return _dock->findChild<QTableWidget*>(QLatin1String(name)); }
    QTableWidgetItem* value(int row) const { return table("tblField")->item(row, 1); }
    template <typename T> T* child(const char* name) const {
        auto* widget = _dock->findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    AbstractField* show(int type) {
        AbstractField* field = makeField(type);
        _page->addField(field);
        _dock->onFieldChanged(field);
        return field;
    }

private slots:
    void initTestCase() { qRegisterMetaType<AbstractField*>(); }

    void init() {
        _page = new ReportPage;
        _dock = new StructureDockWidget;
        _dock->setReportPage(_page);
    }

    void cleanup() {
        delete _dock;
        delete _page;
    }

    void rowsShown_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QStringList>("rows");
        QTest::addRow("page") << 0
                              << QStringList({"Шрифт по умолчанию", "Размер бумаги", "Ориентация", "Печать фона",
                                              "Количество страниц"});
        QTest::addRow("text") << int(AbstractField::TextType)
                              << QStringList({"Шрифт", "Текст", "X, мм", "Y, мм", "Ширина, мм", "Высота, мм",
                                              "Гориз. полож.", "Верт. полож.", "Перенос строк",
                                              "Отступ первой строки, мм", "Межстрочный интервал, мм",
                                              "Росчерк до конца поля", "Уменьшать шрифт"});
        QTest::addRow("table") << int(AbstractField::TableType)
                               << QStringList({"Шрифт", "X, мм", "Y, мм", "Гориз. полож.", "Верт. полож.",
                                               "Перенос строк", "Содержимое", "Количество строк на превью",
                                               "Росчерк до конца поля"});
        QTest::addRow("qr") << int(AbstractField::QrType) << QStringList({"Текст", "X, мм", "Y, мм", "Ширина, мм"});
    }

    void rowsShown() {
        QFETCH(int, type);
        QFETCH(QStringList, rows);
        if (type)
            show(type);
        const char* shown = type ? "tblField" : "tblDoc";
        const char* hidden = type ? "tblDoc" : "tblField";
        QCOMPARE(_dock->windowTitle(), QStringLiteral("Свойства"));
        QVERIFY(!table(shown)->isHidden());
        QVERIFY(table(hidden)->isHidden());
        QCOMPARE(shownRows(table(shown)), rows);
        QCOMPARE(_dock->shownField() != nullptr, type != 0);
    }

    void shownValues() {
        auto* field = static_cast<TextField*>(show(AbstractField::TextType));
        field->setIndent(2.5);
        field->setAlignFlags(Qt::AlignRight | Qt::AlignBottom);
        field->setWordWrap(true);
        QCOMPARE(value(Dock::FieldFont)->text(), QStringLiteral("По умолчанию"));
        QCOMPARE(column(table("tblField"), 1).mid(Dock::FieldX, 4), QStringList({"10", "20", "60", "10"}));
        QCOMPARE(value(Dock::FieldIndent)->text(), QStringLiteral("2.5"));
        QCOMPARE(child<QComboBox>("comboBoxHAlign")->currentText(), QStringLiteral("Справа"));
        QCOMPARE(child<QComboBox>("comboBoxVAlign")->currentText(), QStringLiteral("Снизу"));
        QCOMPARE(value(Dock::FieldWordWrap)->checkState(), Qt::Checked);
        QCOMPARE(value(Dock::FieldZOnEmpty)->checkState(), Qt::Unchecked);
        field->setFont(QFont(QStringLiteral("Liberation Sans"), 9));
        QCOMPARE(value(Dock::FieldFont)->text(), QStringLiteral("Liberation Sans, 9"));
        _dock->onFieldChanged(nullptr);
        QCOMPARE(table("tblDoc")->item(Dock::DocFont, 1)->text(), QStringLiteral("Times New Roman, 14"));
        QCOMPARE(child<QComboBox>("comboBoxOrientation")->currentText(), QStringLiteral("Альбомная"));
    }

    void typedValues_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("expected");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("changes");
        const int text = AbstractField::TextType, qr = AbstractField::QrType, table = AbstractField::TableType;
        const auto row = [](const char* name, int type, int row, const char* typed, const char* property,
                            const QVariant& expected, const char* shown, int changes = 1) {
            QTest::addRow("%s", name) << type << row << QString::fromUtf8(typed) << QByteArray(property) << expected
                                      << QString::fromUtf8(shown) << changes;
        };
        row("x with comma", text, Dock::FieldX, "12,5", "x", 0.0, "0");
        row("x with point", text, Dock::FieldX, "12.5", "x", 12.5, "12.5");
        row("y unchanged", text, Dock::FieldY, " 20.0 ", "y", 20.0, "20", 0);
        row("height not a number", text, Dock::FieldHeight, "abc", "height", 0.0, "0");
        row("qr width keeps square", qr, Dock::FieldWidth, "30", "geometry", QRectF(0, 0, 30, 30), "30");
        row("text", text, Dock::FieldText, "$V{date}", "text", QStringLiteral("$V{date}"), "$V{date}");
        row("indent", text, Dock::FieldIndent, "3.25", "indent", 3.25, "3.25");
        row("line height", text, Dock::FieldLineHeight, "6", "lineHeight", 6.0, "6");
        row("preview rows", table, Dock::FieldPreviewRows, "4", "previewRowCount", QVariant::fromValue(quint8(4)), "4");
        row("preview rows beyond a byte", table, Dock::FieldPreviewRows, "300", "previewRowCount",
            QVariant::fromValue(quint8(255)), "255");
    }

    void typedValues() {
        QFETCH(int, type);
        QFETCH(int, row);
        QFETCH(QString, typed);
        QFETCH(QByteArray, property);
        QFETCH(QVariant, expected);
        QFETCH(QString, shown);
        QFETCH(int, changes);
        AbstractField* field = show(type);
        field->setX(type == AbstractField::QrType ? 0.0 : 3.0);
        QSignalSpy updated(_dock, &StructureDockWidget::fieldUpdated);
        QSignalSpy changed(_page, &ReportPage::fieldChanged);
        value(row)->setText(typed);
        QCOMPARE(field->property(property), expected);
        QCOMPARE(value(row)->text(), shown);
        // One edit is one change of the model, and a value that stays is not written.
        QCOMPARE(changed.count(), changes);
        QCOMPARE(updated.count(), changes);
    }

    void fieldEditors() {
        AbstractField* field = show(AbstractField::TableType);
        QSignalSpy updated(_dock, &StructureDockWidget::fieldUpdated);
        child<QComboBox>("comboBoxHAlign")->setCurrentText(QStringLiteral("По центру"));
        child<QComboBox>("comboBoxVAlign")->setCurrentText(QStringLiteral("Снизу"));
        value(Dock::FieldZOnEmpty)->setCheckState(Qt::Checked);
        QCOMPARE(int(field->alignFlags()), int(Qt::AlignHCenter | Qt::AlignBottom));
        QVERIFY(field->zOnEmpty());
        QCOMPARE(updated.count(), 3);
    }

    // The shrink-to-fit switch edits the field and follows it.
    void shrinkToFitEditor() {
        auto* field = static_cast<TextField*>(show(AbstractField::TextType));
        QSignalSpy updated(_dock, &StructureDockWidget::fieldUpdated);
        QCOMPARE(value(Dock::FieldShrinkToFit)->checkState(), Qt::Unchecked);
        value(Dock::FieldShrinkToFit)->setCheckState(Qt::Checked);
        QVERIFY(field->shrinkToFit());
        QCOMPARE(updated.count(), 1);
        field->setShrinkToFit(false);
        QCOMPARE(value(Dock::FieldShrinkToFit)->checkState(), Qt::Unchecked);
    }

    void pageEditors_data() {
        QTest::addColumn<QString>("combo");
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<int>("expected");
        QTest::addRow("pages count") << "comboBoxPagesCount"
                                     << "2" << QByteArray("pagesCount") << 2;
        QTest::addRow("paper") << "comboBoxPageSize"
                               << "A3" << QByteArray("pageSize") << 8;
        QTest::addRow("orientation") << "comboBoxOrientation"
                                     << "Портретная" << QByteArray("orientation") << 0;
    }

    void pageEditors() {
        QFETCH(QString, combo);
        QFETCH(QString, choice);
        QFETCH(QByteArray, property);
        QFETCH(int, expected);
        QSignalSpy updated(_dock, &StructureDockWidget::pageUpdated);
        child<QComboBox>(combo.toLatin1().constData())->setCurrentText(choice);
        QCOMPARE(_page->property(property).toInt(), expected);
        QCOMPARE(updated.count(), 1);

        table("tblDoc")->item(Dock::DocPrintBackground, 1)->setCheckState(Qt::Checked);
        QVERIFY(_page->printBackgroundImage());
        QCOMPARE(updated.count(), 2);
    }

    void followsTheModel() {
        AbstractField* field = show(AbstractField::TextType);
        // A mouse drag leaves long fractions; the panel shows hundredths.
        field->setY(176.2743113);
        QCOMPARE(value(Dock::FieldY)->text(), QStringLiteral("176.27"));
        field->setX(42.5);
        QCOMPARE(value(Dock::FieldX)->text(), QStringLiteral("42.5"));
        field->setProperty("alignFlags", QVariant::fromValue(quint16(Qt::AlignHCenter | Qt::AlignVCenter)));
        QCOMPARE(child<QComboBox>("comboBoxHAlign")->currentText(), QStringLiteral("По центру"));
        QCOMPARE(child<QComboBox>("comboBoxVAlign")->currentText(), QStringLiteral("По центру"));

        // Another field's change leaves the shown one alone.
        AbstractField* other = makeField(AbstractField::TextType);
        _page->addField(other);
        other->setX(1.0);
        QCOMPARE(value(Dock::FieldX)->text(), QStringLiteral("42.5"));

        // A shown field that leaves the page gives way to the page.
        delete _page->takeField(field);
        QCOMPARE(_dock->shownField(), nullptr);
        QVERIFY(!table("tblDoc")->isHidden());
        _page->setPagesCount(3);
        QCOMPARE(child<QComboBox>("comboBoxPagesCount")->currentText(), QStringLiteral("3"));

        _dock->onFieldChanged(other);
        _page->clearFields();
        QCOMPARE(_dock->shownField(), nullptr);
    }

    void fontDialog() {
        AbstractField* field = show(AbstractField::TextType);
        QSignalSpy updated(_dock, &StructureDockWidget::fieldUpdated);
        const QFont chosen(QStringLiteral("Liberation Serif"), 11);
        ModalHelper::whenModal([chosen](QWidget* modal) {
            if (auto* dialog = qobject_cast<QFontDialog*>(modal))
                dialog->setCurrentFont(chosen);
            modal->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        _dock->onTblWidget_cellDoubleClicked(Dock::FieldFont, 1);
        QCOMPARE(field->font().family(), chosen.family());
        QCOMPARE(value(Dock::FieldFont)->text(), QStringLiteral("Liberation Serif, 11"));
        QCOMPARE(updated.count(), 1);
    }

    void editTableButton() {
        auto* field = static_cast<TableField*>(show(AbstractField::TableType));
        QSignalSpy updated(_dock, &StructureDockWidget::fieldUpdated);
        ModalHelper::whenModal([](QWidget* modal) {
            modal->findChild<QLineEdit*>(QStringLiteral("modelNameLineEdit"))->setText(QStringLiteral("Subjects"));
            modal->findChild<QPushButton*>(QStringLiteral("pushButtonOk"))->click();
        });
        child<QPushButton>("pushButtonEditTable")->click();
        QCOMPARE(field->modelName(), QStringLiteral("subjects"));
        QCOMPARE(updated.count(), 1);
    }

    void variableList() {
        DataManagerDockWidget manager;
        manager.setReportPage(_page);
        auto* list = manager.findChild<QTableWidget*>(QStringLiteral("tableWidget"));
        QCOMPARE(manager.windowTitle(), QStringLiteral("Менеджер переменных"));
        QCOMPARE(list->rowCount(), 0);

        // Filled after the designer opened, as the engine does.
        _page->setVariable(QStringLiteral("Fio"), QStringLiteral("Иванов"));
        _page->setVariable(QStringLiteral("date"), QStringLiteral("01.09.2026"));
        auto* model = new QStandardItemModel(2, 3);
        model->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Hours"), QStringLiteral("Mark")});
        model->setItem(0, 0, new QStandardItem(QStringLiteral("Охрана труда")));
        model->setItem(0, 1, new QStandardItem(QStringLiteral("16")));
        model->setItem(0, 2, new QStandardItem(QStringLiteral("зачтено")));
        model->setItem(1, 0, new QStandardItem(QStringLiteral("Электротехника")));
        _page->setModel(QStringLiteral("ViewProfDetails"), model, true);

        QCOMPARE(column(list, 0), QStringList({"$V{date}", "$V{fio}", "$D{viewprofdetails.Name}",
                                               "$D{viewprofdetails.Hours}", "$D{viewprofdetails.Mark}"}));
        QCOMPARE(column(list, 1), QStringList({"01.09.2026", "Иванов", "Охрана труда", "16", "зачтено"}));
        QVERIFY(list->dragEnabled());

        // A model without rows offers its columns without samples.
        _page->setModel(QStringLiteral("empty"), new QStandardItemModel(0, 1, _page), false);
        QCOMPARE(list->rowCount(), 6);
        QCOMPARE(list->item(2, 0)->text(), QStringLiteral("$D{empty.1}"));
        QCOMPARE(list->item(2, 1)->text(), QString());
    }
};

ORVANE_TEST(TestDesignerPanels)
#include "tst_panels.moc"
