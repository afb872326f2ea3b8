#pragma once

#include "tablefield.h"

#include <QDialog>
#include <QList>
#include <QPair>
#include <QPointer>
#include <memory>

class TableField;
class QComboBox;
class QDoubleSpinBox;

namespace Ui {
class EditTableFieldDialog;
}

// Creates a table field or edits one: model name, columns (header, width, cell template,
// alignment), header and row heights, layout flags and the breaks that continue a table elsewhere.
class EditTableFieldDialog : public QDialog {
    Q_OBJECT

public:
    // Rows of the column table.
    enum ColumnRow { HeaderRow, WidthRow, DataRow, AlignRow };
    // Columns of the break table.
    enum SplitColumn { SplitHeight, SplitX, SplitY };

    // `field` null: a new table.
    explicit EditTableFieldDialog(TableField* field = nullptr, QWidget* parent = nullptr);
    ~EditTableFieldDialog() override;

    TableField* field() const { return _field; }
    // Column alignments offered: text and code (0: the field's own alignment, else Qt's flag).
    static const QList<QPair<QString, int>>& alignChoices();
    // What the break table shows for a break without a continuation.
    static QString noContinuationText();

signals:
    // The new field has no parent: the receiver takes it.
    void tableFieldCreated(TableField* field);
    void tableFieldModified();

private slots:
    void on_rowCountSpin_valueChanged(int count);
    void on_pushButtonOk_clicked();
    void on_pushButtonCancel_clicked();
    void on_autoWidthCheckBox_stateChanged(int state);
    void on_headerIsVisibleCheckBox_stateChanged(int state);
    void on_pushButtonAddSplit_clicked();
    void on_pushButtonDeleteSplit_clicked();
    void on_tableSplit_cellClicked(int row, int column);

private:
    struct Breaks {
        QList<double> heights;
        QList<double> xs;
        QList<double> ys;
    };

    void showField(const TableField* field);
    void showColumn(int column, const QString& header, double width, const QString& data, int align);
    void showBreaks(const TableField* field);
    static void showHeight(QDoubleSpinBox* spin, double value);
    static double readHeight(const QDoubleSpinBox* spin);
    void writeTo(TableField* field) const;
    Breaks readBreaks() const;
    QString cellText(int row, int column) const;
    QComboBox* alignCombo(int column) const;

    std::unique_ptr<Ui::EditTableFieldDialog> ui;
    QPointer<TableField> _field;
    bool _editing = false;
};
