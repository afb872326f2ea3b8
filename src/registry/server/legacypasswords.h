#pragma once

#include <QString>

struct SettingKey;

// Passwords that earlier versions kept scrambled in the data folder's settings file. Each is moved
// into the desktop's keyring once and leaves the file in any case: a file is no place for it.
namespace LegacyPasswords {
enum class Outcome {
    NoneStored, // the file holds no password under the key
    Moved,      // the keyring holds it now, the file no longer does
    Dropped,    // out of the file, but not kept (not to be kept, or no keyring took it)
    FileKept,   // the file could not be written: the password is still in it
};
// Moves the password under `fileKey` to the keyring under `keyringKey` when `keep`. `why` gets the
// reason of a password that is dropped or still in the file.
Outcome move(const SettingKey& fileKey, const QString& keyringKey, bool keep, QString* why = nullptr);
} // namespace LegacyPasswords
