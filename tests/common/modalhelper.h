#pragma once

#include <functional>

class QWidget;

// Acts on the next modal dialog of our own: once the dialog is the active modal widget (it is
// polled from a timer, so this works from inside the dialog's own event loop), `action` runs on it.
// Call before the code that opens the dialog, then check the effect with QTRY_VERIFY.
namespace ModalHelper {
void whenModal(std::function<void(QWidget*)> action, int timeoutMs = 10000);
}
