#include "proxysettings.h"

#include "appkeys.h"
#include "legacypasswords.h"
#include "mzlog.h"
#include "passwordkeyring.h"
#include "settingsregistry.h"

#include <QNetworkProxy>

namespace {
struct RunPassword {
    bool set = false;
    QString text;
};

RunPassword& runPassword() {
    static RunPassword password;
    return password;
}
} // namespace

// There is one proxy: its password stays its password when the address is corrected.
QString ProxySettings::keyringKey() {
    return QStringLiteral("proxy");
}

QString ProxySettings::password() {
    if (runPassword().set)
        return runPassword().text;
    QString password;
    QString error;
    if (PasswordKeyring::available() && !PasswordKeyring::read(keyringKey(), &password, &error))
        MZ_LOG() << "the proxy's password is not read:" << error;
    return password;
}

bool ProxySettings::setPassword(const QString& password, QString* error) {
    runPassword() = {true, password};
    QString reason;
    if (password.isEmpty()) {
        if (PasswordKeyring::available() && !PasswordKeyring::remove(keyringKey(), &reason))
            MZ_LOG() << "the proxy's former password stays in the keyring:" << reason;
        return true;
    }
    if (PasswordKeyring::available(&reason) && PasswordKeyring::write(keyringKey(), password, &reason))
        return true;
    if (error)
        *error = reason;
    return false;
}

void ProxySettings::moveScrambledPassword() {
    LegacyPasswords::move(Keys::proxyPassword, keyringKey(), true);
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
            proxy.setPassword(password());
        }
    } else {
        proxy.setType(QNetworkProxy::NoProxy);
    }
    QNetworkProxy::setApplicationProxy(proxy);
}
