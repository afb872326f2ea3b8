#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>
#include <functional>

// Writes a zip file entry by entry straight to disk, so that tests and benchmarks can make
// packages no archiver would: a directory of millions of entries, a part that inflates to
// gigabytes, a size the directory understates. Entries are stored or deflated; the zip64 end
// records are written when the directory holds more than 65535 entries.
class ZipBuilder {
public:
    explicit ZipBuilder(const QString& path);
    ~ZipBuilder();

    void add(const QByteArray& name, const QByteArray& data, bool deflate = true);
    // A part whose bytes `chunk` gives piece by piece until it returns an empty array; deflated
    // as it is made, never held whole.
    void addStream(const QByteArray& name, const std::function<QByteArray()>& chunk);
    // The sizes the directory declares for the entries added after this call are divided by `by`.
    void understateSizes(quint32 by) { _understate = by; }
    // Writes the directory; `keep` cuts the file to that many bytes afterwards (a truncated zip).
    bool finish(qint64 keep = -1);

private:
    struct Entry {
        QByteArray name;
        quint32 crc;
        quint64 packed;
        quint64 size;
        quint64 offset;
        quint16 method;
    };
    void writeEntry(const QByteArray& name, const std::function<QByteArray()>& chunk, bool deflate);
    QFile _file;
    QByteArray _directory;
    quint64 _count = 0;
    quint32 _understate = 1;
    bool _ok = true;
};
