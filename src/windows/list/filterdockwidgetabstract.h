#pragma once

#include "filterlisttype.h"

#include <QDockWidget>
#include <QString>

// A dock of filter controls over the document list. Every change publishes the complete set of
// filters, which DocumentFilter::fromList() reads; sqlCondition() states the same filters for
// queries on the document table.
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
};
