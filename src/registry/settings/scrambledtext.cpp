#include "scrambledtext.h"

#include <QTextCodec>

namespace {
// Shared with every installation that reads the same data store; never change it.
const QByteArray scrambleKey = QByteArrayLiteral("lamplight42");

QByteArray xorWithKey(QByteArray bytes) {
    for (int i = 0; i < bytes.size(); ++i) {
        auto byte = static_cast<unsigned char>(bytes[i]);
        for (int j = 0; j < scrambleKey.size(); ++j)
            byte ^= static_cast<unsigned char>(static_cast<unsigned char>(scrambleKey[j]) + i * j);
        bytes[i] = static_cast<char>(byte);
    }
    return bytes;
}
} // namespace

namespace ScrambledText {
QString scramble(const QString& password) {
    if (password.isEmpty())
        return QString();
    return QString::fromLatin1(xorWithKey(QTextCodec::codecForLocale()->fromUnicode(password)).toHex());
}

QString unscramble(const QString& stored) {
    if (stored.isEmpty())
        return QString();
    return QTextCodec::codecForLocale()->toUnicode(xorWithKey(QByteArray::fromHex(stored.toLatin1())));
}
} // namespace ScrambledText
