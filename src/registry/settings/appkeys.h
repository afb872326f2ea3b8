#pragma once

#include "settingsregistry.h"

#include <QList>

// The settings keys of the registry and its windows. The names are those of the settings files; never rename one.
namespace Keys {
// User store, group "Orvane".
extern const SettingKey dataPath;
extern const SettingKey lastStartedVersion;
extern const SettingKey dialogGeometry; // %1: the dialog's object name
extern const SettingKey mainWindowGeometry;
extern const SettingKey mainWindowState;
extern const SettingKey askBeforeExport;
extern const SettingKey askBeforeEditor;
extern const SettingKey askBeforeExportFrdo;
extern const SettingKey askBeforeExportControl;
extern const SettingKey showToolBar;
extern const SettingKey showBanner;
extern const SettingKey showTipsOnStartup;
extern const SettingKey tableColumnWidth; // %1: the table, %2: the column
extern const SettingKey lastPrintedReport;
// The import window's column choices: "header=fieldKey" per header text the user assigned
// (normalised), and the field key per column position for tables without a header row.
extern const SettingKey importColumns;
extern const SettingKey importColumnsByPosition;
extern const SettingKey importTemplateId;
extern const SettingKey importLastFolder;
// User store, group "PrintDialog".
extern const SettingKey printDialogGeometry;
extern const SettingKey printDialogPreviewEnabled;
extern const SettingKey printDialogPreviewBeforePrinting;
// User store, no group.
extern const SettingKey spellCheckerEnabled;
// User store, group "PrinterCalibration": "X,Y,SX,SY" per printer (%1: the printer's name,
// percent-encoded, so that a name with slashes stays one key).
extern const SettingKey printerCalibration;
// Data store.
extern const SettingKey hideZeroInDate;
extern const SettingKey orderComboAlphabetically;
extern const SettingKey proxyEnabled;
extern const SettingKey proxyHostName;
extern const SettingKey proxyPort;
extern const SettingKey proxyUser;
extern const SettingKey proxyPassword;
// Data store, group "Database": where the registry is, "file" (the data folder) or "server"; the
// server's address; whether its password is remembered (in the desktop's keyring). The password
// keys hold what earlier versions kept scrambled, read once to move it to the keyring.
extern const SettingKey databaseStore;
extern const SettingKey databaseHost;
extern const SettingKey databasePort;
extern const SettingKey databaseName;
extern const SettingKey databaseUser;
extern const SettingKey databasePassword;
extern const SettingKey databaseRememberPassword;
// The full addresses of the version document, the banner document, the maker's site (the link of
// the built-in banner and the about box) and the support forum. Empty until an administrator sets
// them; an entry whose address is empty is not offered.
extern const SettingKey updatesUrl;
extern const SettingKey bannerUrl;
extern const SettingKey siteUrl;
extern const SettingKey forumUrl;

QList<const SettingKey*> all();
} // namespace Keys
