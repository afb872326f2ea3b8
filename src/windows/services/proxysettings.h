#pragma once

#include <QString>

// The SOCKS5 proxy that every network access of the program goes through, and the scrambled
// form in which its password sits in the data store (other installations read the same file, so
// the form cannot change). The scrambling only hides the password from a casual look.
class ProxySettings {
public:
    // Password -> lower-case hex text; the empty password stays empty.
    static QString scramble(const QString& password);
    // The reverse; text that is no hex of a password gives what its hex digits decode to.
    static QString unscramble(const QString& stored);

    // Installs the stored settings as the application-wide proxy; switched off means no proxy at
    // all, not the system's.
    static void apply();

private:
    static QByteArray xorWithKey(QByteArray bytes);
};
