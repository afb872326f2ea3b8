#pragma once

#include <QString>

// The form in which passwords sit in the data store (other installations read the same file, so
// the form cannot change). It only hides a password from a casual look.
namespace ScrambledText {
// Password -> lower-case hex text; the empty password stays empty.
QString scramble(const QString& password);
// The reverse; text that is no hex of a password gives what its hex digits decode to.
QString unscramble(const QString& stored);
} // namespace ScrambledText
