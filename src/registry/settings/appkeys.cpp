#include "appkeys.h"

namespace Keys {
namespace {
constexpr SettingsStore user = SettingsStore::User;
constexpr SettingsStore data = SettingsStore::Data;
} // namespace

const SettingKey dataPath{"Orvane/dataPath", user, QMetaType::QString, QString()};
const SettingKey lastStartedVersion{"Orvane/last_started_version", user, QMetaType::QString, QString()};
const SettingKey dialogGeometry{"Orvane/%1Geometry", user, QMetaType::QByteArray, QByteArray()};
const SettingKey mainWindowGeometry{"Orvane/geometry", user, QMetaType::QByteArray, QByteArray()};
const SettingKey mainWindowState{"Orvane/windowState", user, QMetaType::QByteArray, QByteArray()};
const SettingKey askBeforeExport{"Orvane/askBeforeExport", user, QMetaType::Bool, true};
const SettingKey askBeforeEditor{"Orvane/askBeforeEditor", user, QMetaType::Bool, true};
const SettingKey askBeforeExportFrdo{"Orvane/askBeforeExportFrdo", user, QMetaType::Bool, true};
const SettingKey askBeforeExportControl{"Orvane/askBeforeExportControl", user, QMetaType::Bool, true};
const SettingKey showToolBar{"Orvane/showToolBar", user, QMetaType::Bool, true};
const SettingKey showBanner{"Orvane/showBanner", user, QMetaType::Bool, true};
const SettingKey showTipsOnStartup{"Orvane/showTipsOnStartup", user, QMetaType::Bool, true};
const SettingKey tableColumnWidth{"Orvane/Table_geometry_%1_column_%2_width", user, QMetaType::Int, -1};
const SettingKey lastPrintedReport{"Orvane/lastPrintedReport", user, QMetaType::Int, 0};
const SettingKey importColumns{"Orvane/importColumns", user, QMetaType::QStringList, QStringList()};
const SettingKey importColumnsByPosition{"Orvane/importColumnsByPosition", user, QMetaType::QStringList, QStringList()};
const SettingKey importTemplateId{"Orvane/importTemplateId", user, QMetaType::LongLong, qlonglong(0)};
const SettingKey importLastFolder{"Orvane/importLastFolder", user, QMetaType::QString, QString()};
const SettingKey printDialogGeometry{"PrintDialog/geometry", user, QMetaType::QByteArray, QByteArray()};
const SettingKey printDialogPreviewEnabled{"PrintDialog/previewEnabled", user, QMetaType::Bool, false};
const SettingKey printDialogPreviewBeforePrinting{"PrintDialog/PreviewBeforePrinting", user, QMetaType::Bool, true};
const SettingKey spellCheckerEnabled{"SpellChecker/enabled", user, QMetaType::Bool, true};
const SettingKey printerCalibration{"PrinterCalibration/%1", user, QMetaType::QString, QString()};
const SettingKey hideZeroInDate{"HideZeroInDate", data, QMetaType::Bool, false};
const SettingKey orderComboAlphabetically{"orderComboAlphabetically", data, QMetaType::Bool, false};
const SettingKey proxyEnabled{"Proxy/enabled", data, QMetaType::Bool, false};
const SettingKey proxyHostName{"Proxy/hostName", data, QMetaType::QString, QString()};
const SettingKey proxyPort{"Proxy/port", data, QMetaType::Int, 0};
const SettingKey proxyUser{"Proxy/user", data, QMetaType::QString, QString()};
const SettingKey proxyPassword{"Proxy/password", data, QMetaType::QString, QString()};
const SettingKey databaseStore{"Database/store", data, QMetaType::QString, QStringLiteral("file")};
const SettingKey databaseHost{"Database/host", data, QMetaType::QString, QString()};
const SettingKey databasePort{"Database/port", data, QMetaType::Int, 5432};
const SettingKey databaseName{"Database/name", data, QMetaType::QString, QString()};
const SettingKey databaseUser{"Database/user", data, QMetaType::QString, QString()};
const SettingKey databasePassword{"Database/password", data, QMetaType::QString, QString()};
const SettingKey databaseRememberPassword{"Database/rememberPassword", data, QMetaType::Bool, false};
// No default web address: until an administrator sets one, the program asks no server anything.
const SettingKey updatesUrl{"Updates/url", data, QMetaType::QString, QString()};
const SettingKey bannerUrl{"Banner/url", data, QMetaType::QString, QString()};
const SettingKey siteUrl{"Site/url", data, QMetaType::QString, QString()};
const SettingKey forumUrl{"Forum/url", data, QMetaType::QString, QString()};

QList<const SettingKey*> all() {
    return {&dataPath,
            &lastStartedVersion,
            &dialogGeometry,
            &mainWindowGeometry,
            &mainWindowState,
            &askBeforeExport,
            &askBeforeEditor,
            &askBeforeExportFrdo,
            &askBeforeExportControl,
            &showToolBar,
            &showBanner,
            &showTipsOnStartup,
            &tableColumnWidth,
            &lastPrintedReport,
            &importColumns,
            &importColumnsByPosition,
            &importTemplateId,
            &importLastFolder,
            &printDialogGeometry,
            &printDialogPreviewEnabled,
            &printDialogPreviewBeforePrinting,
            &spellCheckerEnabled,
            &printerCalibration,
            &hideZeroInDate,
            &orderComboAlphabetically,
            &proxyEnabled,
            &proxyHostName,
            &proxyPort,
            &proxyUser,
            &proxyPassword,
            &databaseStore,
            &databaseHost,
            &databasePort,
            &databaseName,
            &databaseUser,
            &databasePassword,
            &databaseRememberPassword,
            &updatesUrl,
            &bannerUrl,
            &siteUrl,
            &forumUrl};
}
} // namespace Keys
