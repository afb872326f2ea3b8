#pragma once

#include <QStringList>
#include <QStyledItemDelegate>

// Grade editor: a combo box whose items follow the option flags.
class ComboBoxRateItemDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    enum Flag { WithFail = 1, Numeric = 2, WithPass = 4, WithAttested = 8, WithCross = 16 };

    explicit ComboBoxRateItemDelegate(int flags, QObject* parent = nullptr);

    // The grade texts of the flags, the empty item first.
    static QStringList items(int flags);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

private:
    int _flags;
};
