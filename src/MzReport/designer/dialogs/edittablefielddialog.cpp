#include "edittablefielddialog.h"
#include "ui_edittablefielddialog.h"

#include "edithistory.h"
#include "mzlog.h"
#include "reportpage.h"
#include "tablefield.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QTableWidget>
#include <algorithm>

namespace {
const int newTableColumns = 3;
const double newColumnWidth = 40.0;
// Below this a break's start counts as none (the table layout's own limit).
const double unset = 0.000001;
// A template from elsewhere may claim any number of breaks; more rows than this help nobody.
const int maxBreakRows = 1000;
const char* const exactProperty = "exactValue";
const char* const shownProperty = "shownValue";

QString number(double value) {
    return QString::number(value, 'g', 10);
}
QString twoDecimals(double value) {
    return QString::number(value, 'f', 2);
}
// Numbers are typed with a point; anything else (the "no continuation" text included) reads as 0.
double toNumber(const QString& text) {
    return text.trimmed().toDouble();
}

// A cell showing a number rounded keeps the exact value, so that a value the user did not touch
// is written back as it was.
const int exactRole = Qt::UserRole;
const int shownRole = Qt::UserRole + 1;

QTableWidgetItem* numberItem(const QString& shown, double exact) {
    auto* item = new QTableWidgetItem(shown);
    item->setData(exactRole, exact);
    item->setData(shownRole, shown);
    return item;
}

double readNumber(const QTableWidgetItem* item) {
    if (!item)
        return 0.0;
    if (item->data(exactRole).isValid() && item->text() == item->data(shownRole).toString())
        return item->data(exactRole).toDouble();
    return toNumber(item->text());
}

template <typename T> T entry(const QList<T>& list, int index, T fallback) {
    return index >= 0 && index < list.size() ? list.at(index) : fallback;
}
} // namespace

EditTableFieldDialog::EditTableFieldDialog(TableField* field, QWidget* parent)
    : QDialog(parent), ui(new Ui::EditTableFieldDialog), _field(field), _editing(field) {
    ui->setupUi(this);
    if (field) {
        ui->pushButtonOk->setText(QStringLiteral("Сохранить"));
        showField(field);
    } else {
        // Fills the columns through on_rowCountSpin_valueChanged().
        ui->rowCountSpin->setValue(newTableColumns);
    }
    on_autoWidthCheckBox_stateChanged(ui->autoWidthCheckBox->checkState());
    on_headerIsVisibleCheckBox_stateChanged(ui->headerIsVisibleCheckBox->checkState());
}

EditTableFieldDialog::~EditTableFieldDialog() = default;

const QList<QPair<QString, int>>& EditTableFieldDialog::alignChoices() {
    static const QList<QPair<QString, int>> choices = {{QStringLiteral("по умолчанию"), 0},
                                                       {QStringLiteral("Слева"), Qt::AlignLeft},
                                                       {QStringLiteral("По центру"), Qt::AlignHCenter},
                                                       {QStringLiteral("Справа"), Qt::AlignRight}};
    return choices;
}

QString EditTableFieldDialog::noContinuationText() {
    return QStringLiteral("Без переноса");
}

// ---- showing a field

void EditTableFieldDialog::showField(const TableField* field) {
    const int count = field->columnCount();
    const QStringList headers = field->headerNames();
    const QList<double> widths = field->columnsWidth();
    const QStringList ids = field->columnIds();
    const QList<quint8> aligns = field->columnsAlign();
    if (headers.size() != count || widths.size() != count || ids.size() != count || aligns.size() != count)
        MZ_LOG() << "ERROR tableField format!!!";

    ui->modelNameLineEdit->setText(field->modelName());
    showHeight(ui->headerHeightSpin, field->headerHeight());
    showHeight(ui->rowHeightSpin, field->rowHeight());
    ui->autoWidthCheckBox->setChecked(field->autoWidth());
    ui->drawBordersCheckBox->setChecked(field->drawBorders());
    ui->headerIsVisibleCheckBox->setChecked(field->headerIsVisible());
    {
        // The columns are shown from the field's lists, not as new ones.
        const QSignalBlocker blocker(ui->rowCountSpin);
        ui->rowCountSpin->setValue(count);
    }
    ui->table->setColumnCount(count);
    for (int c = 0; c < count; ++c)
        showColumn(c, entry(headers, c, QString()), entry(widths, c, newColumnWidth), entry(ids, c, QString()),
                   entry(aligns, c, quint8(0)));
    showBreaks(field);
}

void EditTableFieldDialog::showColumn(int column, const QString& header, double width, const QString& data, int align) {
    QTableWidget* table = ui->table;
    table->setItem(HeaderRow, column, new QTableWidgetItem(header));
    table->setItem(WidthRow, column, numberItem(number(width), width));
    table->setItem(DataRow, column, new QTableWidgetItem(data));
    auto* combo = new QComboBox;
    combo->setObjectName(QStringLiteral("comboBoxAlign%1").arg(column));
    for (const auto& choice : alignChoices())
        combo->addItem(choice.first, choice.second);
    // An unknown code (a template from elsewhere) reads as the field's own alignment.
    combo->setCurrentIndex(std::max(0, combo->findData(align)));
    table->setCellWidget(AlignRow, column, combo);
}

void EditTableFieldDialog::showBreaks(const TableField* field) {
    const QList<double> heights = field->maxSplitHeight();
    const QList<double> xs = field->splitX();
    const QList<double> ys = field->splitY();
    const int rows = qBound(0, field->splitsCount(), maxBreakRows);
    QTableWidget* table = ui->tableSplit;
    table->setRowCount(rows);
    for (int r = 0; r < rows; ++r) {
        const double x = entry(xs, r, 0.0);
        const double y = entry(ys, r, 0.0);
        const bool continues = !(x < unset && y < unset);
        const double height = entry(heights, r, 0.0);
        table->setItem(r, SplitHeight, numberItem(twoDecimals(height), height));
        table->setItem(r, SplitX, numberItem(continues ? twoDecimals(x) : noContinuationText(), x));
        table->setItem(r, SplitY, numberItem(continues ? twoDecimals(y) : noContinuationText(), y));
    }
}

// The spin rounds to its decimals; the exact value stays with it until the user changes it.
void EditTableFieldDialog::showHeight(QDoubleSpinBox* spin, double value) {
    spin->setValue(value);
    spin->setProperty(exactProperty, value);
    spin->setProperty(shownProperty, spin->value());
}

double EditTableFieldDialog::readHeight(const QDoubleSpinBox* spin) {
    const QVariant exact = spin->property(exactProperty);
    if (exact.isValid() && spin->value() == spin->property(shownProperty).toDouble())
        return exact.toDouble();
    return spin->value();
}

// ---- slots

void EditTableFieldDialog::on_rowCountSpin_valueChanged(int count) {
    QTableWidget* table = ui->table;
    const int old = table->columnCount();
    table->setColumnCount(std::max(0, count));
    for (int c = old; c < count; ++c)
        showColumn(c, QString(), newColumnWidth, QString(), 0);
}

void EditTableFieldDialog::on_autoWidthCheckBox_stateChanged(int state) {
    ui->table->setRowHidden(WidthRow, state == Qt::Checked);
}

void EditTableFieldDialog::on_headerIsVisibleCheckBox_stateChanged(int state) {
    const bool visible = state == Qt::Checked;
    ui->headerHeightSpin->setEnabled(visible);
    ui->table->setRowHidden(HeaderRow, !visible);
}

void EditTableFieldDialog::on_pushButtonAddSplit_clicked() {
    QTableWidget* table = ui->tableSplit;
    const int row = table->rowCount();
    table->insertRow(row);
    for (int c = 0; c < table->columnCount(); ++c)
        table->setItem(row, c, new QTableWidgetItem);
}

void EditTableFieldDialog::on_pushButtonDeleteSplit_clicked() {
    QTableWidget* table = ui->tableSplit;
    const int row = table->currentRow();
    if (row >= 0 && row < table->rowCount())
        table->removeRow(row);
    ui->pushButtonDeleteSplit->setEnabled(false);
}

void EditTableFieldDialog::on_tableSplit_cellClicked(int row, int column) {
    QTableWidget* table = ui->tableSplit;
    const bool valid = row >= 0 && row < table->rowCount() && column >= 0 && column < table->columnCount();
    ui->pushButtonDeleteSplit->setEnabled(valid);
}

void EditTableFieldDialog::on_pushButtonCancel_clicked() {
    reject();
}

void EditTableFieldDialog::on_pushButtonOk_clicked() {
    if (!_editing) {
        auto* field = new TableField;
        writeTo(field);
        emit tableFieldCreated(field);
        accept();
        return;
    }
    // The table may have gone while the dialog was open (a non-modal dialog, an undone addition).
    if (TableField* field = _field) {
        {
            const EditHistory::Group group(field->page(), QStringLiteral("Изменение таблицы"));
            writeTo(field);
        }
        emit tableFieldModified();
    }
    accept();
}

// ---- reading the form

QString EditTableFieldDialog::cellText(int row, int column) const {
    const QTableWidgetItem* item = ui->table->item(row, column);
    return item ? item->text() : QString();
}

QComboBox* EditTableFieldDialog::alignCombo(int column) const {
    return qobject_cast<QComboBox*>(ui->table->cellWidget(AlignRow, column));
}

EditTableFieldDialog::Breaks EditTableFieldDialog::readBreaks() const {
    Breaks breaks;
    const QTableWidget* table = ui->tableSplit;
    const auto value = [table](int row, int column) { return readNumber(table->item(row, column)); };
    for (int r = 0; r < table->rowCount(); ++r) {
        breaks.heights.append(value(r, SplitHeight));
        breaks.xs.append(value(r, SplitX));
        breaks.ys.append(value(r, SplitY));
    }
    return breaks;
}

// Every value goes through its setter, which ignores one that did not change.
void EditTableFieldDialog::writeTo(TableField* field) const {
    const int count = ui->table->columnCount();
    QStringList headers;
    QList<double> widths;
    QStringList ids;
    QList<quint8> aligns;
    for (int c = 0; c < count; ++c) {
        headers.append(cellText(HeaderRow, c));
        widths.append(readNumber(ui->table->item(WidthRow, c)));
        ids.append(cellText(DataRow, c));
        const QComboBox* combo = alignCombo(c);
        aligns.append(quint8(combo ? combo->currentData().toInt() : 0));
    }
    field->setColumnCount(quint8(qBound(0, ui->rowCountSpin->value(), 255)));
    field->setHeaderNames(headers);
    field->setColumnsWidth(widths);
    field->setColumnIds(ids);
    field->setColumnsAlign(aligns);
    field->setAutoWidth(ui->autoWidthCheckBox->isChecked());
    field->setHeaderIsVisible(ui->headerIsVisibleCheckBox->isChecked());
    field->setHeaderHeight(readHeight(ui->headerHeightSpin));
    field->setRowHeight(readHeight(ui->rowHeightSpin));
    // The page registers models under this form of the name.
    field->setModelName(ui->modelNameLineEdit->text().trimmed().toLower());
    field->setDrawBorders(ui->drawBordersCheckBox->isChecked());
    const Breaks breaks = readBreaks();
    field->setMaxSplitHeight(breaks.heights);
    field->setSplitX(breaks.xs);
    field->setSplitY(breaks.ys);
    field->setSplitsCount(breaks.heights.size());
}
