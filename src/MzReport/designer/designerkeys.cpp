#include "designerkeys.h"

namespace Keys {
const SettingKey reportWindowGeometry{"ReportWindow/geometry", SettingsStore::User, QMetaType::QByteArray, QByteArray()};
const SettingKey reportWindowState{"ReportWindow/windowState", SettingsStore::User, QMetaType::QByteArray, QByteArray()};
const SettingKey reportWindowCurrentPath{"ReportWindow/currentPath", SettingsStore::User, QMetaType::QString, QStringLiteral(".")};

QList<const SettingKey*> designer() {
    return {&reportWindowGeometry, &reportWindowState, &reportWindowCurrentPath};
}
} // namespace Keys
