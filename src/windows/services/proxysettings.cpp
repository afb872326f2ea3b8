#include "proxysettings.h"

#include "appkeys.h"
#include "scrambledtext.h"
#include "settingsregistry.h"

#include <QNetworkProxy>

QString ProxySettings::scramble(const QString& password) {
    return ScrambledText::scramble(password);
}

QString ProxySettings::unscramble(const QString& stored) {
    return ScrambledText::unscramble(stored);
}

void ProxySettings::apply() {
    const SettingsRegistry* settings = SettingsRegistry::instance();
    QNetworkProxy proxy;
    if (settings->value(Keys::proxyEnabled).toBool()) {
        proxy.setType(QNetworkProxy::Socks5Proxy);
        proxy.setHostName(settings->value(Keys::proxyHostName).toString());
        const int port = settings->value(Keys::proxyPort).toInt();
        proxy.setPort(port > 0 && port <= 65535 ? static_cast<quint16>(port) : 0);
        const QString user = settings->value(Keys::proxyUser).toString();
        if (!user.isEmpty()) {
            proxy.setUser(user);
            proxy.setPassword(unscramble(settings->value(Keys::proxyPassword).toString()));
        }
    } else {
        proxy.setType(QNetworkProxy::NoProxy);
    }
    QNetworkProxy::setApplicationProxy(proxy);
}
