#include "filterdockwidgetabstract.h"

#include "textmatch.h"

#include <QMetaType>
#include <QStringList>

FilterDockWidgetAbstract::FilterDockWidgetAbstract(QWidget* parent) : QDockWidget(parent) {
    // Queued connections and signal spies need the type by name.
    qRegisterMetaType<FilterListType>("FilterListType");
}

void FilterDockWidgetAbstract::apply() {
    emit filtersChanged(filterList());
}

QString FilterDockWidgetAbstract::sqlText(const QString& text) {
    QStringList pieces = text.split(QChar(0));
    for (QString& piece : pieces)
        piece = QLatin1Char('\'') + QString(piece).replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
    return pieces.join(QLatin1String("||char(0)||"));
}

QString FilterDockWidgetAbstract::containsCondition(const QString& expression, const QString& part) {
    // One-pass arg(): a "%1" in the user's text stays as it is.
    return QStringLiteral(" %1(%2, %3) ").arg(QLatin1String(TextMatch::containsFunction), expression, sqlText(part));
}

QString FilterDockWidgetAbstract::dayRangeCondition(const QString& column, const QDate& from, const QDate& to) {
    const QString format = QStringLiteral("yyyy-MM-dd");
    return QStringLiteral(" date(substr(%1, 1, 10)) BETWEEN '%2' AND '%3' ")
        .arg(column, from.toString(format), to.toString(format));
}

QString FilterDockWidgetAbstract::joinConditions(const QStringList& conditions) {
    if (conditions.isEmpty())
        return {};
    return QStringLiteral(" AND ") + conditions.join(QStringLiteral(" AND "));
}
