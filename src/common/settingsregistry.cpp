#include "settingsregistry.h"

#include "mzlog.h"

#include <QSettings>

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
const SettingKey printDialogGeometry{"PrintDialog/geometry", user, QMetaType::QByteArray, QByteArray()};
const SettingKey printDialogPreviewEnabled{"PrintDialog/previewEnabled", user, QMetaType::Bool, false};
const SettingKey printDialogPreviewBeforePrinting{"PrintDialog/PreviewBeforePrinting", user, QMetaType::Bool, true};
const SettingKey reportWindowGeometry{"ReportWindow/geometry", user, QMetaType::QByteArray, QByteArray()};
const SettingKey reportWindowState{"ReportWindow/windowState", user, QMetaType::QByteArray, QByteArray()};
const SettingKey reportWindowCurrentPath{"ReportWindow/currentPath", user, QMetaType::QString, QStringLiteral(".")};
const SettingKey spellCheckerEnabled{"SpellChecker/enabled", user, QMetaType::Bool, true};
const SettingKey printerCalibration{"PrinterCalibration/%1", user, QMetaType::QString, QString()};
const SettingKey hideZeroInDate{"HideZeroInDate", data, QMetaType::Bool, false};
const SettingKey orderComboAlphabetically{"orderComboAlphabetically", data, QMetaType::Bool, false};
const SettingKey proxyEnabled{"Proxy/enabled", data, QMetaType::Bool, false};
const SettingKey proxyHostName{"Proxy/hostName", data, QMetaType::QString, QString()};
const SettingKey proxyPort{"Proxy/port", data, QMetaType::Int, 0};
const SettingKey proxyUser{"Proxy/user", data, QMetaType::QString, QString()};
const SettingKey proxyPassword{"Proxy/password", data, QMetaType::QString, QString()};
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
            &printDialogGeometry,
            &printDialogPreviewEnabled,
            &printDialogPreviewBeforePrinting,
            &reportWindowGeometry,
            &reportWindowState,
            &reportWindowCurrentPath,
            &spellCheckerEnabled,
            &printerCalibration,
            &hideZeroInDate,
            &orderComboAlphabetically,
            &proxyEnabled,
            &proxyHostName,
            &proxyPort,
            &proxyUser,
            &proxyPassword,
            &updatesUrl,
            &bannerUrl,
            &siteUrl,
            &forumUrl};
}
} // namespace Keys

namespace {
SettingsRegistry::StoreProvider& provider() {
    static SettingsRegistry::StoreProvider p;
    return p;
}

// The toolkit reads any text as a bool ("maybe" is true), so a bool is only what the settings
// layer itself writes, or a number.
bool convertTo(QVariant value, QMetaType::Type type, QVariant* out) {
    if (!value.isValid())
        return false;
    const int from = value.userType();
    if (type == QMetaType::Bool && (from == QMetaType::QString || from == QMetaType::QByteArray)) {
        const QString text = value.toString().trimmed().toLower();
        if (text != QLatin1String("true") && text != QLatin1String("false") && text != QLatin1String("1") &&
            text != QLatin1String("0"))
            return false;
        *out = text == QLatin1String("true") || text == QLatin1String("1");
        return true;
    }
    if (!value.convert(type))
        return false;
    *out = value;
    return true;
}

QVariant read(QSettings* settings, const SettingKey& key, const QString& name) {
    QVariant typed;
    if (settings && !name.isEmpty() && convertTo(settings->value(name), key.type, &typed))
        return typed;
    return key.defaultValue;
}
} // namespace

SettingsRegistry* SettingsRegistry::instance() {
    static SettingsRegistry registry;
    return &registry;
}

void SettingsRegistry::setStoreProvider(StoreProvider storeProvider) {
    provider() = std::move(storeProvider);
}

QString SettingsRegistry::fullName(const SettingKey& key, const QStringList& args) {
    const QString pattern = QString::fromLatin1(key.name);
    QString name;
    int highest = 0;
    // One pass, so that an argument containing "%2" is taken literally.
    for (int i = 0; i < pattern.size(); ++i) {
        const int number =
            i + 1 < pattern.size() && pattern.at(i) == QLatin1Char('%') ? pattern.at(i + 1).digitValue() : -1;
        if (number < 1) {
            name += pattern.at(i);
            continue;
        }
        if (number > args.size())
            return QString();
        highest = qMax(highest, number);
        name += args.at(number - 1);
        ++i;
    }
    return highest == args.size() ? name : QString();
}

QSettings* SettingsRegistry::store(const SettingKey& key, const QString& name) const {
    if (name.isEmpty() || !provider())
        return nullptr;
    return provider()(key.store);
}

QVariant SettingsRegistry::value(const SettingKey& key, const QStringList& args) const {
    const QString name = fullName(key, args);
    return read(store(key, name), key, name);
}

bool SettingsRegistry::setValue(const SettingKey& key, const QVariant& value, const QStringList& args) {
    const QString name = fullName(key, args);
    QSettings* settings = store(key, name);
    QVariant typed;
    if (!settings || !convertTo(value, key.type, &typed)) {
        MZ_LOG() << "setting not written:" << key.name << args << value;
        return false;
    }
    const QVariant before = read(settings, key, name);
    settings->setValue(name, typed);
    if (typed != before)
        emit changed(name);
    return true;
}

bool SettingsRegistry::remove(const SettingKey& key, const QStringList& args) {
    const QString name = fullName(key, args);
    QSettings* settings = store(key, name);
    if (!settings) {
        MZ_LOG() << "setting not removed:" << key.name << args;
        return false;
    }
    const QVariant before = read(settings, key, name);
    settings->remove(name);
    if (before != key.defaultValue)
        emit changed(name);
    return true;
}
