#pragma once

class QWidget;

// Window geometry of dialogs, remembered per object name in the user store.
namespace DialogGeometry {
void restore(QWidget* widget);
void save(QWidget* widget);
// Shrinks and moves a top-level window so that all of it, frame included, lies within the available
// area of its screen; `center` places it in the middle of that area (a first start). A minimum
// size larger than the area is lowered to it. Maximized and full-screen windows are left alone.
void fitIntoScreen(QWidget* window, bool center = false);
} // namespace DialogGeometry
