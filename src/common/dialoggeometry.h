#pragma once

class QWidget;

// Window geometry of dialogs, remembered per object name in the user store.
namespace DialogGeometry {
void restore(QWidget* widget);
void save(QWidget* widget);
} // namespace DialogGeometry
