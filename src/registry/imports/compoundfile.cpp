#include "compoundfile.h"

#include <QIODevice>
#include <QVector>
#include <QtEndian>

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
    QVector<quint32> _fat;
};
} // namespace

QByteArray CompoundFile::signature() {
    return QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
}

bool CompoundFile::entryNames(QIODevice* device, QStringList* names) {
    Sectors sectors(device);
    if (!sectors.readHeader())
        return false;
    QStringList found;
    quint32 sector = sectors.firstDirectory();
    for (int n = 0; sector < endOfChain; ++n, sector = sectors.next(sector)) {
        const QByteArray entries = sectors.read(sector);
        if (n >= maxDirectorySectors || entries.size() != sectors.size())
            return false;
        for (int at = 0; at + 128 <= entries.size(); at += 128) {
            const char* entry = entries.constData() + at;
            const quint16 nameBytes = qFromLittleEndian<quint16>(entry + 0x40);
            const quint8 type = quint8(entry[0x42]);
            // 1 is a storage, 2 a stream; the root and unused entries are no part of the content.
            if ((type != 1 && type != 2) || nameBytes < 2 || nameBytes > 64)
                continue;
            QString name;
            for (int i = 0; i + 2 < nameBytes; i += 2)
                name += QChar(qFromLittleEndian<quint16>(entry + i));
            found << name;
        }
    }
    *names = found;
    return true;
}
