#pragma once

#include <QString>

// The SOCKS5 proxy that every network access of the program goes through. Its password is kept in
// the desktop's keyring; where there is none, a password typed in serves this run only.
class ProxySettings {
public:
    // The password for the stored proxy user: this run's, else the keyring's.
    static QString password();
    // Keeps `password` for this run and in the keyring (an empty one leaves the keyring). False
    // with the reason when the keyring did not take it; the run keeps it all the same.
    static bool setPassword(const QString& password, QString* error);
    // At start: a password an earlier version kept scrambled in the settings file moves to the
    // keyring and leaves the file.
    static void moveScrambledPassword();

    // Installs the stored settings as the application-wide proxy; switched off means no proxy at
    // all, not the system's.
    static void apply();

private:
    static QString keyringKey();
};
