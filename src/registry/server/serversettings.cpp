#include "serversettings.h"

#include "appkeys.h"
#include "appsettings.h"
#include "scrambledtext.h"
#include "settingsregistry.h"

#include <QSettings>

namespace {
const QString serverStore = QStringLiteral("server");
const QString fileStore = QStringLiteral("file");

SettingsRegistry* settings() {
    return SettingsRegistry::instance();
}

// The choice of store decides what the next start opens: written through at once, and a file that
// could not take it is said so rather than believed.
bool written(bool ok) {
    QSettings* store = AppSettings::dataSettings();
    if (!store)
        return false;
    store->sync();
    return ok && store->status() == QSettings::NoError;
}
} // namespace

namespace ServerSettings {
bool usesServer() {
    return settings()->value(Keys::databaseStore).toString() == serverStore;
}

bool remembersPassword() {
    return settings()->value(Keys::databaseRememberPassword).toBool();
}

ServerAddress address() {
    ServerAddress address;
    address.host = settings()->value(Keys::databaseHost).toString();
    address.port = settings()->value(Keys::databasePort).toInt();
    address.database = settings()->value(Keys::databaseName).toString();
    address.user = settings()->value(Keys::databaseUser).toString();
    if (remembersPassword())
        address.password = ScrambledText::unscramble(settings()->value(Keys::databasePassword).toString());
    return address;
}

bool save(const ServerAddress& address, bool rememberPassword) {
    bool ok = settings()->setValue(Keys::databaseHost, address.host);
    ok = settings()->setValue(Keys::databasePort, address.port) && ok;
    ok = settings()->setValue(Keys::databaseName, address.database) && ok;
    ok = settings()->setValue(Keys::databaseUser, address.user) && ok;
    ok = settings()->setValue(Keys::databaseRememberPassword, rememberPassword) && ok;
    if (rememberPassword && !address.password.isEmpty())
        ok = settings()->setValue(Keys::databasePassword, ScrambledText::scramble(address.password)) && ok;
    else
        ok = settings()->remove(Keys::databasePassword) && ok;
    return written(settings()->setValue(Keys::databaseStore, serverStore) && ok);
}

bool useFile() {
    return written(settings()->setValue(Keys::databaseStore, fileStore));
}
} // namespace ServerSettings
