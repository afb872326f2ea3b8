#include "comboboxrateitemdelegate.h"

#include <QComboBox>

ComboBoxRateItemDelegate::ComboBoxRateItemDelegate(int flags, QObject* parent)
    : QStyledItemDelegate(parent), _flags(flags) {}

QStringList ComboBoxRateItemDelegate::items(int flags) {
    QStringList list{QString()};
    if (flags & Numeric) {
        list << QStringLiteral("5") << QStringLiteral("4") << QStringLiteral("3");
        if (flags & WithFail)
            list << QStringLiteral("2");
        if (flags & WithPass)
            list << QStringLiteral("зачтено");
    } else {
        list << QStringLiteral("отлично") << QStringLiteral("хорошо") << QStringLiteral("удовлетворительно")
             << QStringLiteral("зачтено");
        if (flags & WithFail)
            list << QStringLiteral("неудовлетворительно");
    }
    if (flags & WithAttested)
        list << QStringLiteral("аттестован");
    if (flags & WithCross)
        list << QStringLiteral("х");
    return list;
}

QWidget* ComboBoxRateItemDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                                const QModelIndex&) const {
    auto* combo = new QComboBox(parent);
    combo->addItems(items(_flags));
    // Editors stay open in the table, so a choice is written at once rather than on focus loss;
    // only a user's choice counts, not the value the model puts in.
    connect(combo, QOverload<int>::of(&QComboBox::activated), this,
            [this, combo] { emit const_cast<ComboBoxRateItemDelegate*>(this)->commitData(combo); });
    return combo;
}

void ComboBoxRateItemDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* combo = qobject_cast<QComboBox*>(editor);
    if (!combo) {
        QStyledItemDelegate::setEditorData(editor, index);
        return;
    }
    const int found = combo->findText(index.data(Qt::EditRole).toString(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (found >= 0)
        combo->setCurrentIndex(found);
}

void ComboBoxRateItemDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                            const QModelIndex& index) const {
    if (auto* combo = qobject_cast<QComboBox*>(editor))
        model->setData(index, combo->currentText(), Qt::EditRole);
    else
        QStyledItemDelegate::setModelData(editor, model, index);
}

void ComboBoxRateItemDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                                    const QModelIndex&) const {
    editor->setGeometry(option.rect);
}
