#pragma once

#include "serveraddress.h"

// Where this computer's program finds its registry, as the data store keeps it: the file in the
// data folder (the default) or a PostgreSQL server.
namespace ServerSettings {
bool usesServer();
// The stored address; the password only when the user chose to remember it.
ServerAddress address();
bool remembersPassword();
// Switches to the server at `address`. A password that is not to be remembered leaves the settings.
// False when the data store could not take a value.
bool save(const ServerAddress& address, bool rememberPassword);
// Back to the file in the data folder; the server's address stays for the next time.
bool useFile();
} // namespace ServerSettings
