#include "lineedititemdelegate.h"

#include "mzlog.h"
#include "inputhelpers.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

LineEditItemDelegate::LineEditItemDelegate(int flags, QObject* parent) : QStyledItemDelegate(parent), _flags(flags) {}

QWidget* LineEditItemDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const {
    if (_flags & MultiLine)
        return createTextEdit(parent);
    auto* edit = new QLineEdit(parent);
    if (_flags & DigitsOnly)
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("^[\\d]*$")), edit));
    else if (_flags & DigitsOrCross)
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("^[xXхХ]$|^[\\d]*$")), edit));
    else
        InputHelpers::installSpellChecking(edit);
    return edit;
}

QWidget* LineEditItemDelegate::createTextEdit(QWidget* parent) const {
    auto* edit = new QPlainTextEdit(parent);
    if (_flags & (DigitsOnly | DigitsOrCross))
        MZ_LOG() << "no validators for QTextEdit!";
    else
        InputHelpers::installSpellChecking(edit);
    // The cell is one line high; the editor grows over the rows below as the text does.
    connect(edit, &QPlainTextEdit::textChanged, edit, [edit] {
        const QFontMetrics metrics(edit->font());
        const int lines = qMax(1, edit->document()->lineCount());
        const int wanted =
            lines * metrics.lineSpacing() + 2 * edit->frameWidth() + int(2 * edit->document()->documentMargin());
        if (wanted > edit->height())
            edit->resize(edit->width(), wanted);
    });
    return edit;
}

void LineEditItemDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                                const QModelIndex&) const {
    editor->setGeometry(option.rect);
}
