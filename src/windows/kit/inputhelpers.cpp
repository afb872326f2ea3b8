#include "inputhelpers.h"

#include "appkeys.h"
#include "documentstore.h"
#include "settingsregistry.h"
#include "spellchecker.h"
#include "usedvalues.h"

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

namespace {
// The clerk may have typed into the combo before its list came: the text stays as typed, and the
// cursor and selection where they were, the cursor at the end of the selection it was at.
void fillKeepingInput(const QString& column, const QString& table, QComboBox* combo) {
    QLineEdit* edit = combo->lineEdit();
    const QString text = combo->currentText();
    const int cursor = edit ? edit->cursorPosition() : 0;
    const int selectionStart = edit && edit->hasSelectedText() ? edit->selectionStart() : -1;
    const int selectionLength = selectionStart >= 0 ? edit->selectedText().size() : 0;
    const QSignalBlocker quietCombo(combo);
    const QSignalBlocker quietEdit(edit);
    InputHelpers::fillComboBoxUsedValues(column, table, combo, 0);
    if (!edit)
        return;
    combo->setEditText(text);
    if (selectionStart < 0)
        edit->setCursorPosition(cursor);
    else if (cursor == selectionStart)
        edit->setSelection(selectionStart + selectionLength, -selectionLength);
    else
        edit->setSelection(selectionStart, selectionLength);
}
} // namespace

// Each list is filled as it arrives, so that one of many values does not hold up the others.
void InputHelpers::fillUsedValuesWhenRead(QObject* owner, const QString& table,
                                          const QList<QPair<QString, QComboBox*>>& combos) {
    QList<QPair<QString, QComboBox*>> coming;
    for (const auto& entry : combos) {
        if (UsedValues::usedValuesComing(table, {entry.first}, owner))
            coming << entry;
        else
            fillKeepingInput(entry.first, table, entry.second);
    }
    if (!coming.isEmpty())
        QTimer::singleShot(20, owner, [owner, table, coming] { fillUsedValuesWhenRead(owner, table, coming); });
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
