#pragma once

#include <QStyledItemDelegate>

// The choice of a column's document field: a combo box of the field titles and
// "Не импортировать". The field is kept in the cell's Qt::UserRole (an ImportField as int).
class ImportFieldDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static QString ignoreTitle() { return QStringLiteral("Не импортировать"); }
    // The text of the choice of `field`.
    static QString choiceTitle(int field);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
};
