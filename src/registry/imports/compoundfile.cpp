#include "compoundfile.h"

#include <QIODevice>
#include <QVector>
#include <QtEndian>
#include <algorithm>

namespace {
constexpr quint32 endOfChain = 0xFFFFFFFE;
constexpr int headerFatEntries = 109;
// A directory longer than this is no office document's; it bounds a looping chain as well.
constexpr int maxDirectorySectors = 4096;

class Sectors {
public:
    explicit Sectors(QIODevice* device) : _device(device) {}

    bool readHeader() {
        const QByteArray header = readAt(0, 512);
        if (header.size() != 512 || !header.startsWith(CompoundFile::signature()))
            return false;
        const quint16 shift = qFromLittleEndian<quint16>(header.constData() + 0x1E);
        if (shift != 9 && shift != 12)
            return false;
        _size = 1 << shift;
        _firstDirectory = qFromLittleEndian<quint32>(header.constData() + 0x30);
        _miniSize = 1 << std::min<quint16>(qFromLittleEndian<quint16>(header.constData() + 0x20), 12);
        _miniCutoff = qFromLittleEndian<quint32>(header.constData() + 0x38);
        _firstMiniFat = qFromLittleEndian<quint32>(header.constData() + 0x3C);
        _miniFatSectors = qFromLittleEndian<quint32>(header.constData() + 0x40);
        for (int i = 0; i < headerFatEntries; ++i)
            _fat << qFromLittleEndian<quint32>(header.constData() + 0x4C + 4 * i);
        // FAT sectors past the 109th are listed by a chain of DIFAT sectors.
        quint32 difat = qFromLittleEndian<quint32>(header.constData() + 0x44);
        const quint32 difatCount = qFromLittleEndian<quint32>(header.constData() + 0x48);
        for (quint32 n = 0; n < difatCount && n < 1024 && difat < endOfChain; ++n) {
            const QByteArray sector = read(difat);
            if (sector.size() != _size)
                return false;
            for (int i = 0; i + 4 < _size; i += 4)
                _fat << qFromLittleEndian<quint32>(sector.constData() + i);
            difat = qFromLittleEndian<quint32>(sector.constData() + _size - 4);
        }
        return true;
    }
    quint32 firstDirectory() const { return _firstDirectory; }
    int miniSize() const { return _miniSize; }
    quint32 miniCutoff() const { return _miniCutoff; }
    quint32 firstMiniFat() const { return _firstMiniFat; }
    quint32 miniFatSectors() const { return _miniFatSectors; }
    // The `length` bytes of the chain from `first`; empty when the chain ends early or loops.
    QByteArray chain(quint32 first, qint64 length) const {
        QByteArray bytes;
        for (quint32 sector = first; bytes.size() < length; sector = next(sector)) {
            const QByteArray data = sector < endOfChain ? read(sector) : QByteArray();
            if (data.size() != _size)
                return QByteArray();
            bytes += data;
        }
        bytes.truncate(int(length));
        return bytes;
    }
    int size() const { return _size; }
    QByteArray read(quint32 sector) const { return readAt((qint64(sector) + 1) * _size, _size); }
    // The sector after `sector` in its chain; endOfChain when it has none or the FAT is damaged.
    quint32 next(quint32 sector) const {
        const int perSector = _size / 4;
        const qint64 index = sector / perSector;
        if (index >= _fat.size() || _fat.at(index) >= endOfChain)
            return endOfChain;
        const QByteArray entry = readAt((qint64(_fat.at(index)) + 1) * _size + (sector % perSector) * 4, 4);
        return entry.size() == 4 ? qFromLittleEndian<quint32>(entry.constData()) : endOfChain;
    }

private:
    QByteArray readAt(qint64 offset, int length) const {
        if (offset < 0 || offset + length > _device->size() || !_device->seek(offset))
            return QByteArray();
        return _device->read(length);
    }
    QIODevice* _device;
    int _size = 512;
    quint32 _firstDirectory = endOfChain;
    int _miniSize = 64;
    quint32 _miniCutoff = 4096;
    quint32 _firstMiniFat = endOfChain;
    quint32 _miniFatSectors = 0;
    QVector<quint32> _fat;
};
} // namespace

QByteArray CompoundFile::signature() {
    return QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
}

namespace {
struct Entry {
    QString name;
    quint8 type = 0; // 1 a storage, 2 a stream, 5 the root
    quint32 start = endOfChain;
    quint32 size = 0;
};

bool readDirectory(const Sectors& sectors, QVector<Entry>* entries) {
    quint32 sector = sectors.firstDirectory();
    for (int n = 0; sector < endOfChain; ++n, sector = sectors.next(sector)) {
        const QByteArray data = sectors.read(sector);
        if (n >= maxDirectorySectors || data.size() != sectors.size())
            return false;
        for (int at = 0; at + 128 <= data.size(); at += 128) {
            const char* raw = data.constData() + at;
            Entry entry;
            entry.type = quint8(raw[0x42]);
            const quint16 nameBytes = qFromLittleEndian<quint16>(raw + 0x40);
            if ((entry.type != 1 && entry.type != 2 && entry.type != 5) || nameBytes < 2 || nameBytes > 64)
                continue;
            for (int i = 0; i + 2 < nameBytes; i += 2)
                entry.name += QChar(qFromLittleEndian<quint16>(raw + i));
            entry.start = qFromLittleEndian<quint32>(raw + 0x74);
            entry.size = qFromLittleEndian<quint32>(raw + 0x78);
            *entries << entry;
        }
    }
    return true;
}
} // namespace

bool CompoundFile::entryNames(QIODevice* device, QStringList* names) {
    Sectors sectors(device);
    QVector<Entry> entries;
    if (!sectors.readHeader() || !readDirectory(sectors, &entries))
        return false;
    names->clear();
    for (const Entry& entry : qAsConst(entries))
        if (entry.type != 5)
            *names << entry.name;
    return true;
}

bool CompoundFile::readStream(QIODevice* device, const QString& name, qint64 maxBytes, QByteArray* bytes) {
    Sectors sectors(device);
    QVector<Entry> entries;
    if (!sectors.readHeader() || !readDirectory(sectors, &entries) || entries.isEmpty() || entries.first().type != 5)
        return false;
    const auto found = std::find_if(entries.cbegin(), entries.cend(), [&name](const Entry& entry) {
        return entry.type == 2 && entry.name.compare(name, Qt::CaseInsensitive) == 0;
    });
    if (found == entries.cend() || found->size > maxBytes || found->size > quint32(device->size()))
        return false;
    if (found->size >= sectors.miniCutoff()) {
        *bytes = sectors.chain(found->start, found->size);
        return bytes->size() == int(found->size);
    }
    // A small stream lives in the root's mini stream, chained by the mini FAT.
    const Entry& root = entries.first();
    if (root.size > quint32(device->size()) || sectors.miniFatSectors() > 1024)
        return false;
    const QByteArray container = sectors.chain(root.start, root.size);
    const QByteArray miniFat = sectors.chain(sectors.firstMiniFat(), qint64(sectors.miniFatSectors()) * sectors.size());
    QByteArray stream;
    quint32 mini = found->start;
    for (int n = 0; stream.size() < int(found->size); ++n) {
        const qint64 at = qint64(mini) * sectors.miniSize();
        if (n > container.size() / sectors.miniSize() || mini >= endOfChain ||
            at + sectors.miniSize() > container.size() || qint64(mini) * 4 + 4 > miniFat.size())
            return false;
        stream += container.mid(int(at), sectors.miniSize());
        mini = qFromLittleEndian<quint32>(miniFat.constData() + mini * 4);
    }
    stream.truncate(int(found->size));
    *bytes = stream;
    return true;
}
