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
