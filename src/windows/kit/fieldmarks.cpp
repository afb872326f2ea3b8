#include "fieldmarks.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QWidget>
#include <algorithm>

namespace {
// Light enough that the typed text stays easy to read.
const QString markedStyle = QStringLiteral("background-color: #ffd6d6;");
} // namespace

void FieldMarks::add(const QString& column, QWidget* widget) {
    if (!widget)
        return;
    _widgets.insert(column.toLower(), widget);
    const bool known =
        std::any_of(_own.cbegin(), _own.cend(), [widget](const Own& own) { return own.widget == widget; });
    if (!known)
        _own.append(Own{widget, widget->styleSheet(), widget->toolTip()});
}

void FieldMarks::apply(const QVector<FrdoProblem>& problems) {
    QHash<QWidget*, QStringList> reasons;
    for (const FrdoProblem& problem : problems)
        for (const QString& column : problem.columns)
            for (QWidget* widget : _widgets.values(column.toLower()))
                if (!reasons.value(widget).contains(problem.text))
                    reasons[widget] << problem.text;
    for (const Own& own : qAsConst(_own))
        if (own.widget)
            mark(own, reasons.value(own.widget));
}

void FieldMarks::mark(const Own& own, const QStringList& reasons) {
    const QString style = reasons.isEmpty() ? own.styleSheet : own.styleSheet + markedStyle;
    const QString tip = reasons.isEmpty() ? own.toolTip : reasons.join(QLatin1Char('\n'));
    // A style sheet set again repolishes the widget: only on a change.
    if (own.widget->styleSheet() != style)
        own.widget->setStyleSheet(style);
    own.widget->setToolTip(tip);
}

QString FieldMarks::statusText(const QVector<FrdoProblem>& problems) {
    if (problems.isEmpty())
        return QString();
    QStringList texts;
    for (const FrdoProblem& problem : problems)
        texts << problem.text;
    return QStringLiteral("Проблем: %1 — %2").arg(problems.size()).arg(texts.join(QStringLiteral("; ")));
}

QString FieldMarks::listText(const QVector<FrdoProblem>& problems) {
    QStringList lines;
    for (const FrdoProblem& problem : problems)
        lines << QStringLiteral("• ") + problem.text;
    return lines.join(QLatin1Char('\n'));
}

void FieldMarks::watch(QWidget* root, const std::function<void()>& changed) {
    for (const QLineEdit* w : root->findChildren<QLineEdit*>())
        QObject::connect(w, &QLineEdit::textChanged, root, changed);
    for (const QDateEdit* w : root->findChildren<QDateEdit*>())
        QObject::connect(w, &QDateEdit::dateChanged, root, changed);
    for (const QAbstractButton* w : root->findChildren<QAbstractButton*>())
        if (w->isCheckable())
            QObject::connect(w, &QAbstractButton::toggled, root, changed);
    for (const QComboBox* w : root->findChildren<QComboBox*>())
        QObject::connect(w, &QComboBox::currentTextChanged, root, changed);
    for (const QPlainTextEdit* w : root->findChildren<QPlainTextEdit*>())
        QObject::connect(w, &QPlainTextEdit::textChanged, root, changed);
}
