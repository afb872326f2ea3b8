#include "inputhelpers.h"

#include "database.h"
#include "settingsregistry.h"
#include "spellchecker.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QCompleter>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStringListModel>
#include <QTextEdit>

namespace {
const char* const installedProperty = "_orvaneSpellChecking";

// Day 1 is 1 January 1900; day 60 is the spreadsheet's 29 February 1900, which never was.
QDate spreadsheetDay(int day) {
    const QDate origin(1900, 1, 1);
    if (day < 1 || day == 60)
        return QDate();
    return origin.addDays(day < 60 ? day - 1 : day - 2);
}

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
    const QStringList values = Database::instance()->mostFrequentValues(table, {column}, limit, alphabetical);
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

QDate InputHelpers::dateFromText(const QString& text) {
    const QString trimmed = text.trimmed();
    // Every format parse reads the time zone; an empty cell of a large export must not pay for it.
    if (trimmed.isEmpty())
        return QDate();
    bool isNumber = false;
    const int day = trimmed.toInt(&isNumber);
    if (isNumber)
        return spreadsheetDay(day);
    static const char* const formats[] = {"yyyy.MM.dd", "dd.MM.yyyy", "dd/MM/yyyy",
                                          "yyyy-MM-dd", "dd-MM-yyyy", "yyyy/MM/dd"};
    for (const char* format : formats) {
        const QDate date = QDate::fromString(trimmed, QLatin1String(format));
        if (date.isValid())
            return date;
    }
    return QDate();
}

QDate InputHelpers::dateFromValue(const QVariant& value) {
    const QDate date = value.toDate();
    return date.isValid() ? date : dateFromText(value.toString());
}

QString InputHelpers::digitsOnly(const QString& text) {
    static const QRegularExpression nonDigits(QStringLiteral("[^\\d]+"));
    return text.split(nonDigits).join(QString()).trimmed();
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
