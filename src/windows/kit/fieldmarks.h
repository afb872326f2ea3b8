#pragma once

#include "frdocheck.h"

#include <QHash>
#include <QMultiHash>
#include <QPointer>
#include <QString>
#include <QVector>
#include <functional>

class QWidget;

// Marks the fields of a form whose values a check refuses: a light red background on that widget
// only and the reasons in its tooltip. A field that passes again gets its own look and tooltip back.
class FieldMarks {
public:
    // The widget that shows `column` (any case); a column may have several.
    void add(const QString& column, QWidget* widget);
    // Marks the widgets of the problems' columns and clears every other one.
    void apply(const QVector<FrdoProblem>& problems);
    // "Проблем: 2 — …" for the dialog's status line; empty when there are none.
    static QString statusText(const QVector<FrdoProblem>& problems);
    // The problems as lines under a question.
    static QString listText(const QVector<FrdoProblem>& problems);
    // Calls `changed` on every change of a value shown by a descendant of `root`, also when the
    // program sets it, so that the marks follow a reload as well as typing.
    static void watch(QWidget* root, const std::function<void()>& changed);

private:
    // A widget's look and tooltip of its own, given back when it passes again.
    struct Own {
        QPointer<QWidget> widget;
        QString styleSheet;
        QString toolTip;
    };
    static void mark(const Own& own, const QStringList& reasons);

    QMultiHash<QString, QWidget*> _widgets;
    QVector<Own> _own;
};
