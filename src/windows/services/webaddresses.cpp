#include "webaddresses.h"

#include "appkeys.h"
#include "appsettings.h"
#include "filedownloader.h"
#include "mzlog.h"
#include "settingsregistry.h"

#include <QDir>
#include <QSettings>

namespace WebAddresses {
QUrl configured(const SettingKey& key) {
    const QString text = SettingsRegistry::instance()->value(key).toString().trimmed();
    if (text.isEmpty())
        return QUrl();
    const QUrl url(text, QUrl::StrictMode);
    if (!FileDownloader::isHttpUrl(url)) {
        MZ_LOG() << "not a web address, ignored:" << key.name << text.left(200);
        return QUrl();
    }
    return url;
}

QUrl updates() {
    return configured(Keys::updatesUrl);
}

QUrl banner() {
    return configured(Keys::bannerUrl);
}

QUrl site() {
    return configured(Keys::siteUrl);
}

QUrl forum() {
    return configured(Keys::forumUrl);
}

QString settingsFile() {
    const QSettings* store = AppSettings::dataSettings();
    return QDir::toNativeSeparators(store ? store->fileName()
                                          : AppSettings::dataPath() + QStringLiteral("/settings.ini"));
}
} // namespace WebAddresses
