#pragma once

#include "valuetext.h"

#include <QDate>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

class QAbstractItemModel;
class QComboBox;
class QObject;
class QWidget;

// Helpers many dialogs share: used-values combo boxes, tolerant date reading, digits-only
// texts, row exchange, help texts and spell-checking installation.
namespace InputHelpers {
// Appends the values already used in `column` of `table` (at most `limit`, 0 for all) to `combo`.
void fillComboBoxUsedValues(const QString& column, const QString& table, QComboBox* combo, int limit);
// Fills each combo with all the used values of its column of `table`: now, or where they are still
// being read (on a server in the background, on a large file between events) as soon as they come,
// leaving what was typed into the combo meanwhile as it was. Nothing is filled, and nothing more is
// counted for it, once `owner` is gone.
void fillUsedValuesWhenRead(QObject* owner, const QString& table, const QList<QPair<QString, QComboBox*>>& combos);

using ValueText::dateFromText;
using ValueText::dateFromValue;
using ValueText::digitsOnly;

// Exchanges the data of rows `a` and `b` from `firstColumn` to the last column; false when the
// model refused a value (the exchange may then be half done).
bool exchangeRows(QAbstractItemModel* model, int a, int b, int firstColumn);

// The what's-this text of the widget or of its nearest ancestor that has one.
QString helpText(const QWidget* widget);

// Underlines misspelt words in the line edits and rich-text edits of a widget tree as they change,
// unless spell checking is switched off.
void installSpellChecking(QWidget* widget, const QList<QWidget*>& exclusions = {});
} // namespace InputHelpers
