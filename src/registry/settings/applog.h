#pragma once

#include <QString>
#include <QtGlobal>

// The log "debug.txt" of the user settings folder: emptied at every start, one message per line.
class AppLog {
public:
    static QString filePath();
    // Empties the log; finding its path sets up the settings folders.
    static void truncate();
    static void install();
    static void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text);
    // The bytes of one log line: the message masked, in the locale codec, line breaks inside it escaped.
    static QByteArray lineBytes(const QString& text);
    // The message with every SNILS-shaped number ("123-456-789 01", eleven digits) masked and the row
    // values a server adds to its errors ("DETAIL: Key (...)=(...)") left out.
    static QString masked(const QString& text);
    // "Orvane build 1160 x86_64 running on x86_64"
    static QString startupBanner();
    static void writeStartupBanner();
};
