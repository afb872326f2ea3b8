#pragma once

#include "appkeys.h"
#include "appsettings.h"
#include "scrambledtext.h"
#include "serversettings.h"
#include "settingsregistry.h"
#include "testenvironment.h"

#include <QSettings>

// A data folder as an earlier version left it: the server's address and, scrambled in the settings
// file, the server's and the proxy's passwords.
struct LegacyPasswordFixture {
    TestEnvironment env;
    ServerAddress address;

    LegacyPasswordFixture(bool remember) {
        AppSettings::setup();
        address.host = QStringLiteral("db.college.local");
        address.database = QStringLiteral("реестр");
        address.user = QStringLiteral("clerk");
        SettingsRegistry* settings = SettingsRegistry::instance();
        settings->setValue(Keys::databaseStore, QStringLiteral("server"));
        settings->setValue(Keys::databaseHost, address.host);
        settings->setValue(Keys::databasePort, address.port);
        settings->setValue(Keys::databaseName, address.database);
        settings->setValue(Keys::databaseUser, address.user);
        settings->setValue(Keys::databaseRememberPassword, remember);
        settings->setValue(Keys::databasePassword, ScrambledText::scramble(serverPassword()));
        settings->setValue(Keys::proxyUser, QStringLiteral("proxyuser"));
        settings->setValue(Keys::proxyPassword, ScrambledText::scramble(proxyPassword()));
        AppSettings::dataSettings()->sync();
    }
    ~LegacyPasswordFixture() { AppSettings::release(); }

    static QString serverPassword() { return QStringLiteral("пароль:сервер"); }
    static QString proxyPassword() { return QStringLiteral("proxy-secret"); }
    QString settingsFile() const { return AppSettings::dataSettings()->fileName(); }
    // Read as bytes: every settings object of the process shares what the open store has in memory.
    static bool fileHolds(const QString& file, const QString& password) {
        return readFileBytes(file).contains(ScrambledText::scramble(password).toLatin1());
    }
    bool fileHoldsServerPassword() const { return fileHolds(settingsFile(), serverPassword()); }
    bool fileHoldsProxyPassword() const { return fileHolds(settingsFile(), proxyPassword()); }
};
