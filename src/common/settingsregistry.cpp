#include "settingsregistry.h"

#include "mzlog.h"

#include <QSettings>

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
