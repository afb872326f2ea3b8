#include "serversettings.h"

#include "appkeys.h"
#include "appsettings.h"
#include "legacypasswords.h"
#include "mzlog.h"
#include "passwordkeyring.h"
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

ServerAddress storedAddress() {
    ServerAddress address;
    address.host = settings()->value(Keys::databaseHost).toString();
    address.port = settings()->value(Keys::databasePort).toInt();
    address.database = settings()->value(Keys::databaseName).toString();
    address.user = settings()->value(Keys::databaseUser).toString();
    return address;
}

// A password to remember goes into the keyring before anything else changes: refused, it leaves
// the settings as they were.
bool keepPassword(const ServerAddress& address, QString* error) {
    QString reason;
    if (PasswordKeyring::available(&reason) &&
        PasswordKeyring::write(ServerSettings::keyringKey(address), address.password, &reason))
        return true;
    if (error)
        *error = QStringLiteral("Параметры базы данных не изменены.\n") + reason;
    return false;
}

// After a save, nothing is left under a key that no longer stands for a remembered password.
void dropPassword(const QString& key) {
    QString reason;
    if (PasswordKeyring::available() && !PasswordKeyring::remove(key, &reason))
        MZ_LOG() << "a password no longer remembered stays in the keyring:" << reason;
}
} // namespace

namespace ServerSettings {
bool usesServer() {
    return settings()->value(Keys::databaseStore).toString() == serverStore;
}

bool remembersPassword() {
    return settings()->value(Keys::databaseRememberPassword).toBool();
}

QString keyringKey(const ServerAddress& address) {
    return QStringLiteral("database/") + address.toUrl();
}

ServerAddress address() {
    ServerAddress address = storedAddress();
    QString error;
    if (remembersPassword() && PasswordKeyring::available() &&
        !PasswordKeyring::read(keyringKey(address), &address.password, &error))
        MZ_LOG() << "the remembered password is not read, it will be asked for:" << error;
    return address;
}

bool save(const ServerAddress& address, bool rememberPassword, QString* error) {
    const bool keep = rememberPassword && !address.password.isEmpty();
    if (keep && !keepPassword(address, error))
        return false;
    const ServerAddress previous = storedAddress();
    bool ok = settings()->setValue(Keys::databaseHost, address.host);
    ok = settings()->setValue(Keys::databasePort, address.port) && ok;
    ok = settings()->setValue(Keys::databaseName, address.database) && ok;
    ok = settings()->setValue(Keys::databaseUser, address.user) && ok;
    ok = settings()->setValue(Keys::databaseRememberPassword, rememberPassword) && ok;
    // An earlier version's scrambled copy goes with any save.
    ok = settings()->remove(Keys::databasePassword) && ok;
    if (!written(settings()->setValue(Keys::databaseStore, serverStore) && ok))
        return false;
    const QString key = keyringKey(address);
    if (!keep)
        dropPassword(key);
    if (previous.isComplete() && keyringKey(previous) != key)
        dropPassword(keyringKey(previous));
    return true;
}

bool useFile() {
    return written(settings()->setValue(Keys::databaseStore, fileStore));
}

void moveScrambledPassword() {
    const bool remember = remembersPassword();
    const LegacyPasswords::Outcome outcome =
        LegacyPasswords::move(Keys::databasePassword, keyringKey(storedAddress()), remember);
    if (outcome == LegacyPasswords::Outcome::Dropped && remember) {
        settings()->setValue(Keys::databaseRememberPassword, false);
        written(true);
    }
}
} // namespace ServerSettings
