#include "zipbuilder.h"

#include <QtEndian>
#include <zlib.h>

namespace {
void put16(QByteArray* out, quint16 v) {
    char b[2];
    qToLittleEndian(v, b);
    out->append(b, 2);
}
void put32(QByteArray* out, quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    out->append(b, 4);
}
void put64(QByteArray* out, quint64 v) {
    char b[8];
    qToLittleEndian(v, b);
    out->append(b, 8);
}
} // namespace

ZipBuilder::ZipBuilder(const QString& path) : _file(path) {
    _ok = _file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

ZipBuilder::~ZipBuilder() {
    if (_file.isOpen())
        finish();
}

void ZipBuilder::add(const QByteArray& name, const QByteArray& data, bool deflate) {
    bool given = false;
    writeEntry(
        name, [&] { return given ? QByteArray() : (given = true, data); }, deflate);
}

void ZipBuilder::addStream(const QByteArray& name, const std::function<QByteArray()>& chunk) {
    writeEntry(name, chunk, true);
}

void ZipBuilder::writeEntry(const QByteArray& name, const std::function<QByteArray()>& chunk, bool deflate) {
    // The local header says "sizes follow in a data descriptor", so it is written before the data.
    const quint64 offset = quint64(_file.pos());
    QByteArray header;
    put32(&header, 0x04034b50);
    put16(&header, 20);
    put16(&header, 0x0008);
    put16(&header, deflate ? 8 : 0);
    put32(&header, 0);
    put32(&header, 0);
    put32(&header, 0);
    put32(&header, 0);
    put16(&header, quint16(name.size()));
    put16(&header, 0);
    header += name;
    _ok = _ok && _file.write(header) == header.size();

    quint32 crc = quint32(crc32(0, nullptr, 0));
    quint64 size = 0;
    quint64 packed = 0;
    z_stream z{};
    if (deflate)
        deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(1 << 16, Qt::Uninitialized);
    for (;;) {
        const QByteArray data = chunk();
        crc = quint32(crc32(crc, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
        size += quint64(data.size());
        if (!deflate) {
            _ok = _ok && _file.write(data) == data.size();
            packed += quint64(data.size());
            if (data.isEmpty())
                break;
            continue;
        }
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
        z.avail_in = uInt(data.size());
        const int flush = data.isEmpty() ? Z_FINISH : Z_NO_FLUSH;
        int result = Z_OK;
        do {
            z.next_out = reinterpret_cast<Bytef*>(out.data());
            z.avail_out = uInt(out.size());
            result = ::deflate(&z, flush);
            const qint64 produced = out.size() - qint64(z.avail_out);
            _ok = _ok && _file.write(out.constData(), produced) == produced;
            packed += quint64(produced);
        } while (z.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
        if (data.isEmpty())
            break;
    }
    if (deflate)
        deflateEnd(&z);
    QByteArray descriptor;
    put32(&descriptor, 0x08074b50);
    put32(&descriptor, crc);
    put32(&descriptor, quint32(packed));
    put32(&descriptor, quint32(size / _understate));
    _ok = _ok && _file.write(descriptor) == descriptor.size();

    put32(&_directory, 0x02014b50);
    put16(&_directory, 20);
    put16(&_directory, 20);
    put16(&_directory, 0x0008);
    put16(&_directory, deflate ? 8 : 0);
    put32(&_directory, 0);
    put32(&_directory, crc);
    put32(&_directory, quint32(packed));
    put32(&_directory, quint32(size / _understate));
    put16(&_directory, quint16(name.size()));
    put16(&_directory, 0);
    put16(&_directory, 0);
    put16(&_directory, 0);
    put16(&_directory, 0);
    put32(&_directory, 0);
    put32(&_directory, quint32(offset));
    _directory += name;
    ++_count;
}

bool ZipBuilder::finish(qint64 keep) {
    if (!_file.isOpen())
        return false;
    const quint64 start = quint64(_file.pos());
    QByteArray end = _directory;
    _directory.clear();
    const bool zip64 = _count > 0xFFFF;
    if (zip64) {
        const quint64 record = start + quint64(end.size());
        put32(&end, 0x06064b50);
        put64(&end, 44);
        put16(&end, 45);
        put16(&end, 45);
        put32(&end, 0);
        put32(&end, 0);
        put64(&end, _count);
        put64(&end, _count);
        put64(&end, record - start);
        put64(&end, start);
        put32(&end, 0x07064b50);
        put32(&end, 0);
        put64(&end, record);
        put32(&end, 1);
    }
    const quint64 directorySize = quint64(_file.pos()) + quint64(end.size()) - start;
    put32(&end, 0x06054b50);
    put16(&end, 0);
    put16(&end, 0);
    put16(&end, zip64 ? 0xFFFF : quint16(_count));
    put16(&end, zip64 ? 0xFFFF : quint16(_count));
    put32(&end, quint32(zip64 ? directorySize - 76 : directorySize));
    put32(&end, quint32(start));
    put16(&end, 0);
    _ok = _ok && _file.write(end) == end.size();
    if (keep >= 0)
        _ok = _ok && _file.resize(keep);
    _file.close();
    return _ok;
}
