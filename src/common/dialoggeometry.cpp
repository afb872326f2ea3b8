#include "dialoggeometry.h"

#include "settingsregistry.h"

#include <QWidget>

void DialogGeometry::restore(QWidget* widget) {
    if (!widget)
        return;
    const QByteArray geometry =
        SettingsRegistry::instance()->value(Keys::dialogGeometry, {widget->objectName()}).toByteArray();
    if (!geometry.isEmpty())
        widget->restoreGeometry(geometry);
}

void DialogGeometry::save(QWidget* widget) {
    if (!widget)
        return;
    SettingsRegistry::instance()->setValue(Keys::dialogGeometry, widget->saveGeometry(), {widget->objectName()});
}
