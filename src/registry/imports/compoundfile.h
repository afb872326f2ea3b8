#pragma once

#include <QByteArray>
#include <QStringList>

class QIODevice;

// The directory of an OLE compound file, the container of old Office documents and of workbooks
// locked by a password: enough to tell what a file holds before a reader is chosen for it.
class CompoundFile {
public:
    // The eight bytes a compound file starts with.
    static QByteArray signature();
    // The names of the storages and streams the file's directory lists. False when the header or
    // the directory's sector chain is damaged; every read stays within the device.
    static bool entryNames(QIODevice* device, QStringList* names);
    // The content of the stream `name` (in any case), when it is at most `maxBytes` long. False
    // when it is missing, longer, or its chain is damaged.
    static bool readStream(QIODevice* device, const QString& name, qint64 maxBytes, QByteArray* bytes);
};
