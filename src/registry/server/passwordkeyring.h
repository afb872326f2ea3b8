#pragma once

#include <QString>

// The desktop's keyring (a Secret Service such as the GNOME keyring, or KWallet): the only place
// where the program keeps a password. Each call waits for the keyring's answer in a local event
// loop, at most timeoutMs(); a keyring that does not answer counts as absent. Nothing is ever
// kept in a file instead.
class PasswordKeyring {
public:
    // Whether a keyring answers on this desktop; the first call asks it, later calls repeat that
    // answer. Otherwise `reason` says why, the clerk's words first.
    static bool available(QString* reason = nullptr);
    // True with the password stored under `key`, or with an empty one when none is stored.
    static bool read(const QString& key, QString* password, QString* error);
    static bool write(const QString& key, const QString& password, QString* error);
    // Removing a password that is not there is no failure.
    static bool remove(const QString& key, QString* error);

    static int timeoutMs();
    // The clerk's words for a keyring that could not be used, with the keyring's own text (if
    // any) on a line of its own.
    static QString unavailableText(const QString& detail);
};
