#pragma once

#include <QString>

// The form in which earlier versions kept passwords in the data store. It only hid a password from
// a casual look; it is read now to move such a password into the desktop's keyring, never written.
namespace ScrambledText {
// Password -> lower-case hex text; the empty password stays empty.
QString scramble(const QString& password);
// The reverse; text that is no hex of a password gives what its hex digits decode to.
QString unscramble(const QString& stored);
} // namespace ScrambledText
