#pragma once

#include "filterlisttype.h"

#include <QDate>
#include <QDockWidget>
#include <QString>

// A dock of filter controls over the document list. Every change publishes the complete set of
// filters; sqlCondition() states the same filters for queries on the document table, so that an
// export selects exactly the rows the list shows.
class FilterDockWidgetAbstract : public QDockWidget {
    Q_OBJECT

public:
    explicit FilterDockWidgetAbstract(QWidget* parent = nullptr);

    // No controls, no filters.
    virtual FilterListType filterList() const { return {}; }
    // Empty, or " AND " followed by the conditions, to be appended to a WHERE clause.
    virtual QString sqlCondition() const { return {}; }

signals:
    void filtersChanged(FilterListType filterList);

public slots:
    void apply();
    virtual void clearForms() = 0;

protected:
    // The text as an SQL string literal. The condition is returned as text, so nothing can be
    // bound: quotes are doubled, and NUL characters, which would end the statement, are spliced in.
    static QString sqlText(const QString& text);
    // " expression contains part " with the list's own case-insensitive match.
    static QString containsCondition(const QString& expression, const QString& part);
    // " column's day lies in [from, to] ". The day is read from the first ten characters, as the
    // list reads it, so a time zone suffix does not shift it.
    static QString dayRangeCondition(const QString& column, const QDate& from, const QDate& to);
    // "" for no condition, else " AND " and the conditions joined with " AND ".
    static QString joinConditions(const QStringList& conditions);
};
