#pragma once

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QStringList>
#include <QVariant>
#include <functional>

class QSettings;

// The per-user store (window layout, prompts) or the store of the data folder (shared options).
enum class SettingsStore { User, Data };

// One settings key of the program. The name may carry a group ("Orvane/dataPath") and
// placeholders "%1", "%2" filled from the arguments of each access ("Orvane/%1Geometry").
struct SettingKey {
    const char* name;
    SettingsStore store;
    QMetaType::Type type;
    QVariant defaultValue;
};

// Every settings key of the program. The names are those of the settings files; never rename one.
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
// User store, group "ReportWindow".
extern const SettingKey reportWindowGeometry;
extern const SettingKey reportWindowState;
extern const SettingKey reportWindowCurrentPath;
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
// The full addresses of the version document, the banner document, the maker's site (the link of
// the built-in banner and the about box) and the support forum. Empty until an administrator sets
// them; an entry whose address is empty is not offered.
extern const SettingKey updatesUrl;
extern const SettingKey bannerUrl;
extern const SettingKey siteUrl;
extern const SettingKey forumUrl;

QList<const SettingKey*> all();
} // namespace Keys

// Reads and writes the keys of Keys in their stores. The stores come from a provider that the
// application installs, so this library needs no knowledge of where the settings files live and a
// store replaced later (a relocated data folder) is used at once.
class SettingsRegistry : public QObject {
    Q_OBJECT

public:
    using StoreProvider = std::function<QSettings*(SettingsStore)>;

    static SettingsRegistry* instance();
    static void setStoreProvider(StoreProvider provider);

    // The name in the store with the placeholders filled; empty when `args` does not fit them.
    static QString fullName(const SettingKey& key, const QStringList& args = {});

    // The stored value converted to the key's type; the default when the value is absent, does
    // not convert, the name does not fit `args` or there is no store.
    QVariant value(const SettingKey& key, const QStringList& args = {}) const;
    // Stores `value` converted to the key's type; false (nothing written) when it does not convert,
    // the name does not fit `args` or there is no store. Emits changed() when the value read back
    // differs from the one read before.
    bool setValue(const SettingKey& key, const QVariant& value, const QStringList& args = {});
    // Removes the stored value, so that the default applies again.
    bool remove(const SettingKey& key, const QStringList& args = {});

signals:
    void changed(const QString& fullName);

private:
    SettingsRegistry() = default;
    QSettings* store(const SettingKey& key, const QString& name) const;
};
