#pragma once

#include "settingsregistry.h"

#include <QList>

// The designer window's own keys, in the user store's group "ReportWindow".
namespace Keys {
extern const SettingKey reportWindowGeometry;
extern const SettingKey reportWindowState;
extern const SettingKey reportWindowCurrentPath;

QList<const SettingKey*> designer();
} // namespace Keys
