#include "importfielddelegate.h"

#include "importfield.h"

#include <QComboBox>

QString ImportFieldDelegate::choiceTitle(int field) {
    return field < 0 || field > int(ImportField::FullName) ? ignoreTitle() : ImportFields::title(ImportField(field));
}

QWidget* ImportFieldDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const {
    auto* combo = new QComboBox(parent);
    combo->addItem(ignoreTitle(), int(ImportField::Ignore));
    for (int field = 0; field <= int(ImportField::FullName); ++field)
        combo->addItem(choiceTitle(field), field);
    combo->setMaxVisibleItems(combo->count());
    return combo;
}

void ImportFieldDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* combo = static_cast<QComboBox*>(editor);
    const int at = combo->findData(index.data(Qt::UserRole).toInt());
    combo->setCurrentIndex(at < 0 ? 0 : at);
}

void ImportFieldDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const {
    const auto* combo = static_cast<QComboBox*>(editor);
    model->setData(index, combo->currentData(), Qt::UserRole);
}
