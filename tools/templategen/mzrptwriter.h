// Writes a form as a .mzrpt template file (indented JSON with base64 JPEG backgrounds).
#pragma once

#include "form.h"

#include <QJsonObject>

// A background image as the template carries it: JPEG file bytes.
QByteArray backgroundJpeg(const QImage& image);
QJsonObject templateJson(const Form& form);
// Returns an error text, empty on success.
QString writeTemplate(const Form& form, const QString& path);
