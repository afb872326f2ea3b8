#include "legacypasswords.h"

#include "appsettings.h"
#include "mzlog.h"
#include "passwordkeyring.h"
#include "scrambledtext.h"
#include "settingsregistry.h"

#include <QSettings>

namespace LegacyPasswords {
Outcome move(const SettingKey& fileKey, const QString& keyringKey, bool keep, QString* why) {
    SettingsRegistry* settings = SettingsRegistry::instance();
    QSettings* store = AppSettings::dataSettings();
    const QString name = SettingsRegistry::fullName(fileKey);
    if (!store || !store->contains(name))
        return Outcome::NoneStored;

    const QString password = ScrambledText::unscramble(settings->value(fileKey).toString());
    QString reason;
    const bool kept = keep && !password.isEmpty() && PasswordKeyring::available(&reason) &&
                      PasswordKeyring::write(keyringKey, password, &reason);
    settings->remove(fileKey);
    store->sync();
    if (store->status() != QSettings::NoError || store->contains(name)) {
        MZ_LOG() << "a scrambled password could not be taken out of" << store->fileName();
        if (why)
            *why = QStringLiteral("Не удалось убрать пароль из файла настроек %1.").arg(store->fileName());
        return Outcome::FileKept;
    }
    if (kept) {
        MZ_LOG() << "a scrambled password of" << name << "moved to the keyring";
        return Outcome::Moved;
    }
    MZ_LOG() << "a scrambled password of" << name << "removed from the settings, not kept:" << reason;
    if (why)
        *why = reason;
    return Outcome::Dropped;
}
} // namespace LegacyPasswords
