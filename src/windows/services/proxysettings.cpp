#include "proxysettings.h"

#include "appkeys.h"
#include "settingsregistry.h"

#include <QNetworkProxy>
#include <QTextCodec>

namespace {
// Shared with every installation that reads the same data store; never change it.
const QByteArray scrambleKey = QByteArrayLiteral("lamplight42");
} // namespace

QByteArray ProxySettings::xorWithKey(QByteArray bytes) {
    for (int i = 0; i < bytes.size(); ++i) {
        auto byte = static_cast<unsigned char>(bytes[i]);
        for (int j = 0; j < scrambleKey.size(); ++j)
            byte ^= static_cast<unsigned char>(static_cast<unsigned char>(scrambleKey[j]) + i * j);
        bytes[i] = static_cast<char>(byte);
    }
    return bytes;
}

QString ProxySettings::scramble(const QString& password) {
    if (password.isEmpty())
        return QString();
    return QString::fromLatin1(xorWithKey(QTextCodec::codecForLocale()->fromUnicode(password)).toHex());
}

QString ProxySettings::unscramble(const QString& stored) {
    if (stored.isEmpty())
        return QString();
    return QTextCodec::codecForLocale()->toUnicode(xorWithKey(QByteArray::fromHex(stored.toLatin1())));
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
