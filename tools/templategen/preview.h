// Preview of a form filled with the sample document, painted the way the report engine paints
// fields, so the layout can be judged without the program.
#pragma once

#include "form.h"

// Writes DIR/<file>-<side>.png (background and data) and, with `boxes`, outlines every data field.
// Returns an error text, empty on success.
QString writePreview(const Form& form, const QString& dir, int dpi, bool boxes);
// Writes the raw backgrounds as DIR/<file>-bg<side>.jpg, byte for byte what the template carries.
QString writeBackgrounds(const Form& form, const QString& dir);
