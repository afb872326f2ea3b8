#include "inputhelpers.h"

#include "appkeys.h"
#include "documentstore.h"
#include "settingsregistry.h"
#include "spellchecker.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QCompleter>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QStringListModel>
#include <QTextEdit>
#include <QTimer>

namespace {
const char* const installedProperty = "_orvaneSpellChecking";

bool excluded(const QWidget* field, const QWidget* root, const QList<QWidget*>& exclusions) {
    for (const QWidget* w = field; w && w != root; w = w->parentWidget())
        if (exclusions.contains(const_cast<QWidget*>(w)))
            return true;
    return false;
}

// True the first time only, so that installing twice does not check every change twice.
bool markInstalled(QWidget* field) {
    if (field->property(installedProperty).toBool())
        return false;
    field->setProperty(installedProperty, true);
    return true;
}

void connectField(QLineEdit* field) {
    if (markInstalled(field))
        QObject::connect(field, &QLineEdit::textChanged, field, [field] { SpellChecker::checkLineEdit(field); });
}

void connectField(QTextEdit* field) {
    if (markInstalled(field))
        QObject::connect(field, &QTextEdit::textChanged, field, [field] { SpellChecker::checkTextEdit(field); });
}
} // namespace

void InputHelpers::fillComboBoxUsedValues(const QString& column, const QString& table, QComboBox* combo, int limit) {
    const bool alphabetical = SettingsRegistry::instance()->value(Keys::orderComboAlphabetically).toBool();
    if (!combo)
        return;
    const QStringList values = DocumentStore::usedValues(table, column, limit, alphabetical);
    // A used-values list may hold a value per document; a plain list model takes 100,000 of them
    // at once where item-by-item insertion takes a noticeable moment.
    if (combo->count() == 0) {
        combo->setModel(new QStringListModel(values, combo));
        combo->setCurrentIndex(-1);
    } else {
        combo->addItems(values);
    }
    if (combo->isEditable())
        combo->clearEditText();
    if (QCompleter* completer = combo->completer())
        completer->setCaseSensitivity(Qt::CaseSensitive);
}

void InputHelpers::fillUsedValuesWhenRead(QObject* owner, const QString& table,
                                          const QList<QPair<QString, QComboBox*>>& combos) {
    QStringList columns;
    for (const auto& entry : combos)
        columns << entry.first;
    if (DocumentStore::usedValuesComing(table, columns)) {
        QTimer::singleShot(20, owner, [owner, table, combos] { fillUsedValuesWhenRead(owner, table, combos); });
        return;
    }
    for (const auto& entry : combos) {
        QComboBox* combo = entry.second;
        QLineEdit* edit = combo->lineEdit();
        const QString text = combo->currentText();
        const int cursor = edit ? edit->cursorPosition() : 0;
        const QSignalBlocker quietCombo(combo);
        const QSignalBlocker quietEdit(edit);
        fillComboBoxUsedValues(entry.first, table, combo, 0);
        if (edit) {
            combo->setEditText(text);
            edit->setCursorPosition(cursor);
        }
    }
}

bool InputHelpers::exchangeRows(QAbstractItemModel* model, int a, int b, int firstColumn) {
    if (!model || a < 0 || b < 0 || a >= model->rowCount() || b >= model->rowCount() || firstColumn < 0 ||
        firstColumn >= model->columnCount())
        return true;
    for (int column = firstColumn; column < model->columnCount(); ++column) {
        const QModelIndex first = model->index(a, column);
        const QModelIndex second = model->index(b, column);
        const QVariant firstValue = model->data(first, Qt::DisplayRole);
        const QVariant secondValue = model->data(second, Qt::DisplayRole);
        if (!model->setData(first, secondValue, Qt::EditRole) || !model->setData(second, firstValue, Qt::EditRole))
            return false;
    }
    return true;
}

QString InputHelpers::helpText(const QWidget* widget) {
    for (const QWidget* w = widget; w; w = w->parentWidget())
        if (!w->whatsThis().isEmpty())
            return w->whatsThis();
    return QString();
}

void InputHelpers::installSpellChecking(QWidget* widget, const QList<QWidget*>& exclusions) {
    if (!widget || !SettingsRegistry::instance()->value(Keys::spellCheckerEnabled).toBool())
        return;
    if (auto* lineEdit = qobject_cast<QLineEdit*>(widget)) {
        connectField(lineEdit);
        return;
    }
    if (auto* textEdit = qobject_cast<QTextEdit*>(widget)) {
        connectField(textEdit);
        return;
    }
    // A left-out container (a combo box, a spin box) takes its inner line edit with it.
    for (QLineEdit* field : widget->findChildren<QLineEdit*>())
        if (!excluded(field, widget, exclusions))
            connectField(field);
    for (QTextEdit* field : widget->findChildren<QTextEdit*>())
        if (!excluded(field, widget, exclusions))
            connectField(field);
}
