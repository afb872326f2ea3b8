#pragma once

#include "serveraddress.h"

// Where this computer's program finds its registry, as the data store keeps it: the file in the
// data folder (the default) or a PostgreSQL server. A remembered password is kept in the desktop's
// keyring (PasswordKeyring), never in the settings file.
namespace ServerSettings {
bool usesServer();
// The stored address; the password only when the user chose to remember it and the keyring
// gives it.
ServerAddress address();
bool remembersPassword();
// Switches to the server at `address`. A password that is not to be remembered leaves the keyring.
// False when the keyring refused the password (`error` says why; nothing is changed then) or when
// the data store could not take a value (`error` stays empty: the caller words the file's failure).
bool save(const ServerAddress& address, bool rememberPassword, QString* error = nullptr);
// Back to the file in the data folder; the server's address stays for the next time.
bool useFile();
// The name under which the keyring keeps the password of `address`.
QString keyringKey(const ServerAddress& address);
// At start: a password an earlier version kept scrambled in the settings file moves to the keyring
// and leaves the file; where no keyring takes it, it is no longer remembered and the next
// connection asks for it.
void moveScrambledPassword();
} // namespace ServerSettings
