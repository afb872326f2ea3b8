#pragma once

#include <QDebug>
#include <cstring>

namespace mzlog {
// Base name of a source file without folder and extension: "src/database.cpp" -> "database".
inline QString sourceName(const char* path) {
    const char* slash = std::strrchr(path, '/');
#ifdef Q_OS_WIN
    const char* backslash = std::strrchr(path, '\\');
    if (backslash && (!slash || backslash > slash))
        slash = backslash;
#endif
    const char* name = slash ? slash + 1 : path;
    const char* dot = std::strrchr(name, '.');
    return QString::fromUtf8(name, dot ? int(dot - name) : int(std::strlen(name)));
}

// Starts a diagnostic line "<source>:<line>\t"; the items streamed after it are separated by
// blanks, text values in double quotes.
inline QDebug lineAt(const char* file, int line) {
    QDebug debug = qDebug();
    debug.noquote().nospace() << sourceName(file) << ':' << line << '\t';
    debug.setAutoInsertSpaces(true);
    debug.quote();
    return debug;
}
} // namespace mzlog

#define MZ_LOG() ::mzlog::lineAt(__FILE__, __LINE__)
