#pragma once

#include <QString>

// The SOCKS5 proxy that every network access of the program goes through; its password sits in
// the data store scrambled (ScrambledText).
class ProxySettings {
public:
    // ScrambledText's forms, kept here for the preferences.
    static QString scramble(const QString& password);
    static QString unscramble(const QString& stored);

    // Installs the stored settings as the application-wide proxy; switched off means no proxy at
    // all, not the system's.
    static void apply();
};
