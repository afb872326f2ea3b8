#pragma once

#include <QStyledItemDelegate>

// Text editor: a line edit, validated or spell-checked, or a growing plain text edit.
class LineEditItemDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    enum Flag { DigitsOnly = 1, DigitsOrCross = 2, MultiLine = 4 };

    explicit LineEditItemDelegate(int flags, QObject* parent = nullptr);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

private:
    QWidget* createTextEdit(QWidget* parent) const;

    int _flags;
};
