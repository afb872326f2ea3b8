#include "structuredockwidget.h"
#include "ui_structuredockwidget.h"

#include "abstractfield.h"
#include "edittablefielddialog.h"
#include "mzlog.h"
#include "qrfield.h"
#include "reportpage.h"
#include "tablefield.h"
#include "textfield.h"

#include <QComboBox>
#include <QFontDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <utility>

namespace {
struct Choice {
    const char* text;
    int value;
};

const Choice pageSizes[] = {{"A5", 9}, {"A4", 0}, {"A3", 8}};
const Choice orientations[] = {{"Портретная", 0}, {"Альбомная", 1}};
const Choice pagesCounts[] = {{"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}};
const Choice vAligns[] = {{"Сверху", Qt::AlignTop}, {nullptr, Qt::AlignVCenter}, {"Снизу", Qt::AlignBottom}};

const int hMask = Qt::AlignHorizontal_Mask;
const int vMask = Qt::AlignVertical_Mask;
const int previewRowsLimit = 255;

template <size_t N> QComboBox* makeCombo(const Choice (&choices)[N], const char* objectName) {
    auto* combo = new QComboBox;
    combo->setObjectName(QLatin1String(objectName));
    for (const Choice& choice : choices)
        combo->addItem(QString::fromUtf8(choice.text), choice.value);
    return combo;
}

// The table dialog's column alignments, but for "the field's own": the field has no other.
QComboBox* makeHAlignCombo() {
    auto* combo = new QComboBox;
    combo->setObjectName(QStringLiteral("comboBoxHAlign"));
    for (const auto& choice : EditTableFieldDialog::alignChoices()) {
        if (choice.second)
            combo->addItem(choice.first, choice.second);
    }
    return combo;
}

// Shows `value`; a value the combo does not offer (a template from elsewhere) shows nothing.
void showValue(QComboBox* combo, int value) {
    combo->setCurrentIndex(combo->findData(value));
}

// Hundredths of a millimetre, as the template file keeps them; a mouse drag leaves long fractions.
QString number(double value) {
    QString text = QString::number(value, 'f', 2);
    while (text.contains(QLatin1Char('.')) && (text.endsWith(QLatin1Char('0')) || text.endsWith(QLatin1Char('.'))))
        text.chop(1);
    return text == QStringLiteral("-0") ? QStringLiteral("0") : text;
}

// Numbers are typed with a point; anything else reads as 0.
double toNumber(const QString& text) {
    return text.trimmed().toDouble();
}

bool isCheckRow(int row) {
    return row == StructureDockWidget::FieldWordWrap || row == StructureDockWidget::FieldZOnEmpty ||
           row == StructureDockWidget::FieldShrinkToFit;
}
} // namespace

StructureDockWidget::StructureDockWidget(QWidget* parent) : QDockWidget(parent), ui(new Ui::StructureDockWidget) {
    ui->setupUi(this);
    setUpValueCells();
    connect(ui->tblDoc, &QTableWidget::itemChanged, this, &StructureDockWidget::onTblDocItemChanged);
    connect(ui->tblField, &QTableWidget::itemChanged, this, &StructureDockWidget::onTblFieldItemChanged);
    connect(ui->tblDoc, &QTableWidget::cellDoubleClicked, this, &StructureDockWidget::onTblWidget_cellDoubleClicked);
    connect(ui->tblField, &QTableWidget::cellDoubleClicked, this, &StructureDockWidget::onTblWidget_cellDoubleClicked);
    onTypeChanged(PageStructure);
    fillPage();
    resizeChildren();
}

StructureDockWidget::~StructureDockWidget() = default;

QTableWidgetItem* StructureDockWidget::valueItem(QTableWidget* table, int row, bool checkable) {
    auto* item = new QTableWidgetItem;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (checkable) {
        flags |= Qt::ItemIsUserCheckable;
        item->setCheckState(Qt::Unchecked);
    } else {
        flags |= Qt::ItemIsEditable;
    }
    item->setFlags(flags);
    table->setItem(row, 1, item);
    return item;
}

// The value cells are made once and only refilled afterwards: a refill may run while the item that
// changed is still being handled.
void StructureDockWidget::setUpValueCells() {
    const bool filling = std::exchange(_filling, true);
    QTableWidget* doc = ui->tblDoc;
    valueItem(doc, DocFont, false)->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    valueItem(doc, DocPrintBackground, true);
    _pageSize = makeCombo(pageSizes, "comboBoxPageSize");
    _orientation = makeCombo(orientations, "comboBoxOrientation");
    _pagesCount = makeCombo(pagesCounts, "comboBoxPagesCount");
    doc->setCellWidget(DocPageSize, 1, _pageSize);
    doc->setCellWidget(DocOrientation, 1, _orientation);
    doc->setCellWidget(DocPagesCount, 1, _pagesCount);
    for (QComboBox* combo : {_pageSize, _orientation, _pagesCount})
        connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                &StructureDockWidget::onPageCombosChanged);

    QTableWidget* field = ui->tblField;
    for (int row = 0; row < FieldRowCount; ++row) {
        if (row == FieldHAlign || row == FieldVAlign || row == FieldContent)
            continue;
        valueItem(field, row, isCheckRow(row));
    }
    field->item(FieldFont, 1)->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    _hAlign = makeHAlignCombo();
    _vAlign = makeCombo(vAligns, "comboBoxVAlign");
    // Centred reads the same both ways.
    _vAlign->setItemText(_vAlign->findData(int(Qt::AlignVCenter)),
                         _hAlign->itemText(_hAlign->findData(int(Qt::AlignHCenter))));
    field->setCellWidget(FieldHAlign, 1, _hAlign);
    field->setCellWidget(FieldVAlign, 1, _vAlign);
    for (QComboBox* combo : {_hAlign, _vAlign})
        connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                &StructureDockWidget::onAlignCombosChanged);
    _editTable = new QPushButton(QStringLiteral("Редактировать"));
    _editTable->setObjectName(QStringLiteral("pushButtonEditTable"));
    field->setCellWidget(FieldContent, 1, _editTable);
    connect(_editTable, &QPushButton::clicked, this, &StructureDockWidget::onEditTable);
    _filling = filling;
}

void StructureDockWidget::setReportPage(ReportPage* page) {
    if (_page)
        disconnect(_page, nullptr, this, nullptr);
    _page = page;
    if (page) {
        connect(page, &ReportPage::fieldChanged, this, &StructureDockWidget::onModelFieldChanged);
        connect(page, &ReportPage::pageChanged, this, &StructureDockWidget::onModelPageChanged);
        connect(page, &ReportPage::fieldRemoved, this, &StructureDockWidget::onModelFieldRemoved);
    }
    onFieldChanged(nullptr);
}

bool StructureDockWidget::rowApplies(int row, int fieldType) {
    static const QList<int> textRows = {FieldFont,       FieldText,     FieldX,          FieldY,        FieldWidth,
                                        FieldHeight,     FieldHAlign,   FieldVAlign,     FieldWordWrap, FieldIndent,
                                        FieldLineHeight, FieldZOnEmpty, FieldShrinkToFit};
    static const QList<int> tableRows = {FieldFont,     FieldX,       FieldY,           FieldHAlign,  FieldVAlign,
                                         FieldWordWrap, FieldContent, FieldPreviewRows, FieldZOnEmpty};
    static const QList<int> qrRows = {FieldText, FieldX, FieldY, FieldWidth};
    switch (fieldType) {
    case AbstractField::TextType:
        return textRows.contains(row);
    case AbstractField::TableType:
        return tableRows.contains(row);
    case AbstractField::QrType:
        return qrRows.contains(row);
    default:
        return false;
    }
}

QString StructureDockWidget::fontDescription(const QFont& font) {
    const double size = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize();
    return font.family() + QStringLiteral(", ") + number(size);
}

void StructureDockWidget::onFieldChanged(AbstractField* field) {
    if (_field)
        disconnect(_field, &QObject::destroyed, this, nullptr);
    _field = field;
    if (field) {
        // A field deleted without leaving the page first (a template loaded anew) must not stay shown.
        connect(field, &QObject::destroyed, this, [this] { onFieldChanged(nullptr); });
        fillField();
        onTypeChanged(FieldStructure);
    } else {
        fillPage();
        onTypeChanged(PageStructure);
    }
}

void StructureDockWidget::onTypeChanged(StructureType type) {
    _type = type;
    ui->tblDoc->setVisible(type == PageStructure);
    ui->tblField->setVisible(type == FieldStructure);
}

void StructureDockWidget::fitColumns(QTableWidget* table) {
    table->resizeColumnToContents(0);
    const int half = table->viewport()->width() / 2;
    if (half > 0 && table->columnWidth(0) > half)
        table->setColumnWidth(0, half);
}

void StructureDockWidget::resizeChildren() {
    for (QTableWidget* table : {ui->tblDoc, ui->tblField})
        fitColumns(table);
}

void StructureDockWidget::resizeEvent(QResizeEvent* event) {
    QDockWidget::resizeEvent(event);
    // The tables take their new size after this event.
    QTimer::singleShot(0, this, &StructureDockWidget::resizeChildren);
}

// ---- filling from the model

void StructureDockWidget::fillPage() {
    const bool filling = std::exchange(_filling, true);
    ui->tblDoc->setEnabled(_page);
    if (_page) {
        ui->tblDoc->item(DocFont, 1)->setText(fontDescription(_page->defaultFont()));
        showValue(_pageSize, _page->pageSize());
        showValue(_orientation, _page->orientation());
        ui->tblDoc->item(DocPrintBackground, 1)
            ->setCheckState(_page->printBackgroundImage() ? Qt::Checked : Qt::Unchecked);
        showValue(_pagesCount, _page->pagesCount());
    }
    _filling = filling;
}

void StructureDockWidget::fillField() {
    AbstractField* field = _field;
    if (!field)
        return;
    const bool filling = std::exchange(_filling, true);
    QTableWidget* table = ui->tblField;
    const int type = field->type();
    for (int row = 0; row < FieldRowCount; ++row)
        table->setRowHidden(row, !rowApplies(row, type));

    fillFieldFont();
    auto* text = qobject_cast<TextField*>(field);
    auto* tableField = qobject_cast<TableField*>(field);
    table->item(FieldText, 1)->setText(text ? text->text() : QString());
    table->item(FieldX, 1)->setText(number(field->x()));
    table->item(FieldY, 1)->setText(number(field->y()));
    table->item(FieldWidth, 1)->setText(number(field->width()));
    table->item(FieldHeight, 1)->setText(number(field->height()));
    fillAlignCombos();
    table->item(FieldWordWrap, 1)->setCheckState(field->wordWrap() ? Qt::Checked : Qt::Unchecked);
    table->item(FieldPreviewRows, 1)->setText(tableField ? QString::number(tableField->previewRowCount()) : QString());
    table->item(FieldIndent, 1)->setText(text ? number(text->indent()) : QString());
    table->item(FieldLineHeight, 1)->setText(text ? number(text->lineHeight()) : QString());
    table->item(FieldZOnEmpty, 1)->setCheckState(field->zOnEmpty() ? Qt::Checked : Qt::Unchecked);
    table->item(FieldShrinkToFit, 1)->setCheckState(text && text->shrinkToFit() ? Qt::Checked : Qt::Unchecked);
    _filling = filling;
}

void StructureDockWidget::fillFieldFont() {
    QTableWidgetItem* item = ui->tblField->item(FieldFont, 1);
    const QFont font = _field->font();
    item->setText(AbstractField::isDefaultFont(font) ? QStringLiteral("По умолчанию") : fontDescription(font));
    // The description is set in the font itself, small enough for the row.
    QFont shown = _field->effectiveFont();
    shown.setPointSize(8);
    item->setFont(shown);
}

void StructureDockWidget::fillAlignCombos() {
    const int flags = _field->alignFlags();
    // No flag prints at the left and at the top.
    const int h = flags & hMask;
    const int v = flags & vMask;
    showValue(_hAlign, h ? h : int(Qt::AlignLeft));
    showValue(_vAlign, v ? v : int(Qt::AlignTop));
}

void StructureDockWidget::onModelFieldChanged(AbstractField* field, const QByteArray&) {
    if (field && field == _field)
        fillField();
}

void StructureDockWidget::onModelPageChanged() {
    fillPage();
    // The page font is what a field with the default font shows.
    if (_field)
        fillField();
}

void StructureDockWidget::onModelFieldRemoved(AbstractField* field) {
    if (field && field == _field)
        onFieldChanged(nullptr);
}

// ---- edits

void StructureDockWidget::onTblDocItemChanged(QTableWidgetItem* item) {
    if (_filling || !_page || !item || item->column() != 1)
        return;
    if (item->row() == DocPrintBackground) {
        const bool on = item->checkState() == Qt::Checked;
        if (on != _page->printBackgroundImage()) {
            _page->setPrintBackgroundImage(on);
            emit pageUpdated();
        }
    }
    fillPage();
}

void StructureDockWidget::onPageCombosChanged() {
    if (_filling || !_page)
        return;
    bool changed = false;
    const auto apply = [&changed](QComboBox* combo, int current, auto setter) {
        if (combo->currentIndex() < 0 || combo->currentData().toInt() == current)
            return;
        setter(combo->currentData().toInt());
        changed = true;
    };
    ReportPage* page = _page;
    apply(_pageSize, page->pageSize(), [page](int value) { page->setPageSize(value); });
    apply(_orientation, page->orientation(), [page](int value) { page->setOrientation(value); });
    apply(_pagesCount, page->pagesCount(), [page](int value) { page->setPagesCount(value); });
    if (changed)
        emit pageUpdated();
}

void StructureDockWidget::onTblFieldItemChanged(QTableWidgetItem* item) {
    AbstractField* field = _field;
    if (_filling || !field || !item || item->column() != 1)
        return;
    const int row = item->row();
    if (!rowApplies(row, field->type())) {
        MZ_LOG() << "Unrecognized type of field property in row" << row;
        fillField();
        return;
    }
    bool changed = false;
    const auto set = [&changed](auto current, auto value, auto setter) {
        if (current == value)
            return;
        setter(value);
        changed = true;
    };
    auto* text = qobject_cast<TextField*>(field);
    auto* table = qobject_cast<TableField*>(field);
    switch (row) {
    case FieldText:
        if (text)
            set(text->text(), item->text(), [text](const QString& value) { text->setText(value); });
        break;
    case FieldWordWrap:
        set(field->wordWrap(), item->checkState() == Qt::Checked, [field](bool on) { field->setWordWrap(on); });
        break;
    case FieldZOnEmpty:
        set(field->zOnEmpty(), item->checkState() == Qt::Checked, [field](bool on) { field->setZOnEmpty(on); });
        break;
    case FieldShrinkToFit:
        if (text)
            set(text->shrinkToFit(), item->checkState() == Qt::Checked, [text](bool on) { text->setShrinkToFit(on); });
        break;
    case FieldPreviewRows:
        if (table) {
            const auto rows = quint8(qBound(0, item->text().trimmed().toInt(), previewRowsLimit));
            set(table->previewRowCount(), rows, [table](quint8 value) {
                table->setPreviewRowCount(value);
                table->prepare();
            });
        }
        break;
    default:
        applyFieldNumber(row, item->text());
        // A number that changed the field refilled the row already; one that did not is shown as
        // the value the field keeps.
        fillField();
        return;
    }
    if (_field)
        fillField();
    if (changed)
        emit fieldUpdated();
}

void StructureDockWidget::applyFieldNumber(int row, const QString& typed) {
    AbstractField* field = _field;
    auto* text = qobject_cast<TextField*>(field);
    const double value = toNumber(typed);
    QRectF rect = field->geometry();
    switch (row) {
    case FieldX:
        rect.moveLeft(value);
        break;
    case FieldY:
        rect.moveTop(value);
        break;
    case FieldWidth:
        rect.setWidth(value);
        // A QR code stays square: width and height are one change.
        if (field->type() == AbstractField::QrType)
            rect.setHeight(value);
        break;
    case FieldHeight:
        rect.setHeight(value);
        break;
    case FieldIndent:
        if (text && text->indent() != value) {
            text->setIndent(value);
            emit fieldUpdated();
        }
        return;
    case FieldLineHeight:
        if (text && text->lineHeight() != value) {
            text->setLineHeight(value);
            emit fieldUpdated();
        }
        return;
    default:
        return;
    }
    if (rect != field->geometry()) {
        field->setGeometry(rect.x(), rect.y(), rect.width(), rect.height());
        emit fieldUpdated();
    }
}

void StructureDockWidget::onAlignCombosChanged() {
    AbstractField* field = _field;
    if (_filling || !field || field->type() == AbstractField::QrType)
        return;
    int flags = field->alignFlags();
    if (_hAlign->currentIndex() >= 0)
        flags = (flags & ~hMask) | _hAlign->currentData().toInt();
    if (_vAlign->currentIndex() >= 0)
        flags = (flags & ~vMask) | _vAlign->currentData().toInt();
    if (quint16(flags) == field->alignFlags())
        return;
    field->setAlignFlags(quint16(flags));
    emit fieldUpdated();
}

void StructureDockWidget::onTblWidget_cellDoubleClicked(int row, int column) {
    if (column != 1)
        return;
    if (_type == FieldStructure ? row == FieldFont : row == DocFont)
        chooseFont();
}

void StructureDockWidget::chooseFont() {
    AbstractField* field = _type == FieldStructure ? _field.data() : nullptr;
    if (field ? field->type() == AbstractField::QrType : !_page)
        return;
    QFontDialog dialog(field ? field->effectiveFont() : _page->defaultFont(), this);
    dialog.setObjectName(QStringLiteral("fontDialog"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QFont font = dialog.selectedFont();
    // The field or page may have gone while the dialog was open.
    if (field && _field == field) {
        // Taking the page's font as it is keeps the field following the page.
        const bool same =
            AbstractField::isDefaultFont(field->font()) ? font == field->effectiveFont() : font == field->font();
        if (!same) {
            field->setFont(font);
            emit fieldUpdated();
        }
    } else if (!field && _page && font != _page->defaultFont()) {
        _page->setDefaultFont(font);
        emit pageUpdated();
    }
}

void StructureDockWidget::onEditTable() {
    auto* table = qobject_cast<TableField*>(_field.data());
    if (!table)
        return;
    EditTableFieldDialog dialog(table, this);
    connect(&dialog, &EditTableFieldDialog::tableFieldModified, this, &StructureDockWidget::fieldUpdated);
    dialog.exec();
}
