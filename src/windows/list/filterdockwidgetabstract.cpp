#include "filterdockwidgetabstract.h"

#include <QMetaType>

FilterDockWidgetAbstract::FilterDockWidgetAbstract(QWidget* parent) : QDockWidget(parent) {
    // Queued connections and signal spies need the type by name.
    qRegisterMetaType<FilterListType>("FilterListType");
}

void FilterDockWidgetAbstract::apply() {
    emit filtersChanged(filterList());
}
