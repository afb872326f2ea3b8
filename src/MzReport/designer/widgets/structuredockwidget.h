#pragma once

#include "abstractfield.h"
#include "reportpage.h"

#include <QByteArray>
#include <QDockWidget>
#include <QPointer>
#include <memory>

class AbstractField;
class QCheckBox;
class QComboBox;
class QFont;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class ReportPage;

namespace Ui {
class StructureDockWidget;
}

// The property panel of the designer: the page's settings while no field is selected, the
// selected field's otherwise. It shows what the model holds at all times (the canvas and undo
// change it too) and edits it through the model's setters only.
class StructureDockWidget : public QDockWidget {
    Q_OBJECT

public:
    // The name column as wide as its texts but never more than half the table, so that the value
    // column always shows; the value column takes the rest.
    static void fitColumns(QTableWidget* table);
    enum StructureType { PageStructure, FieldStructure };
    Q_ENUM(StructureType)

    // Rows of the page table.
    enum DocRow { DocFont, DocPageSize, DocOrientation, DocPrintBackground, DocPagesCount, DocRowCount };
    // Rows of the field table.
    enum FieldRow {
        FieldFont,
        FieldText,
        FieldX,
        FieldY,
        FieldWidth,
        FieldHeight,
        FieldHAlign,
        FieldVAlign,
        FieldWordWrap,
        FieldContent,
        FieldPreviewRows,
        FieldIndent,
        FieldLineHeight,
        FieldZOnEmpty,
        FieldShrinkToFit,
        FieldRowCount
    };

    explicit StructureDockWidget(QWidget* parent = nullptr);
    ~StructureDockWidget() override;

    // Not owned. Shows the page rows.
    void setReportPage(ReportPage* page);
    ReportPage* reportPage() const { return _page; }
    AbstractField* shownField() const { return _field; }
    StructureType shownType() const { return _type; }
    // Whether a field row applies to a kind of field (AbstractField::Type).
    static bool rowApplies(int row, int fieldType);
    // The text the font rows show.
    static QString fontDescription(const QFont& font);

signals:
    void fieldUpdated();
    void pageUpdated();

public slots:
    // nullptr shows the page.
    void onFieldChanged(AbstractField* field);
    void onTblFieldItemChanged(QTableWidgetItem* item);
    void onTblDocItemChanged(QTableWidgetItem* item);
    void onAlignCombosChanged();
    void onTypeChanged(StructureType type);
    void resizeChildren();
    void onTblWidget_cellDoubleClicked(int row, int column);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void setUpValueCells();
    QTableWidgetItem* valueItem(QTableWidget* table, int row, bool checkable);
    void fillPage();
    void fillField();
    void fillFieldFont();
    void fillAlignCombos();
    void applyFieldNumber(int row, const QString& text);
    void chooseFont();
    void onPageCombosChanged();
    void onEditTable();
    void onModelFieldChanged(AbstractField* field, const QByteArray& property);
    void onModelPageChanged();
    void onModelFieldRemoved(AbstractField* field);

    std::unique_ptr<Ui::StructureDockWidget> ui;
    QPointer<ReportPage> _page;
    QPointer<AbstractField> _field;
    StructureType _type = PageStructure;
    // Set while the tables are filled from the model, so that filling is not taken for an edit.
    bool _filling = false;

    QComboBox* _pageSize = nullptr;
    QComboBox* _orientation = nullptr;
    QComboBox* _pagesCount = nullptr;
    QComboBox* _hAlign = nullptr;
    QComboBox* _vAlign = nullptr;
    QPushButton* _editTable = nullptr;
};
