#include "biffstream.h"

#include <QTextCodec>
#include <QtEndian>
#include <cmath>

namespace {
enum Record : quint16 {
    Bof = 0x0809,
    Formula = 0x0006,
    Eof = 0x000A,
    BoundSheet = 0x0085,
    Dimension = 0x0200,
    String = 0x0207,
};

quint16 u16(const char* data) {
    return qFromLittleEndian<quint16>(data);
}

// Walks the records from `at` to the end of the stream, or, when `toEof`, to the EOF record that
// closes the substream starting there (a chart inside a sheet has a BOF and an EOF of its own).
template <typename Visit> void walk(const QByteArray& stream, int at, bool toEof, Visit visit) {
    int depth = 0;
    while (at >= 0 && at + 4 <= stream.size()) {
        const quint16 type = u16(stream.constData() + at);
        const int length = std::min<int>(u16(stream.constData() + at + 2), stream.size() - at - 4);
        visit(type, stream.constData() + at + 4, length);
        depth += type == Bof ? 1 : type == Eof ? -1 : 0;
        if (toEof && depth <= 0 && type == Eof)
            return;
        at += 4 + u16(stream.constData() + at + 2);
    }
}

// The text of a STRING record: BIFF8 gives a count, a flag byte and 8- or 16-bit characters,
// BIFF5 a count and bytes of the workbook's code page.
QString stringRecord(const char* data, int length, bool biff8, QTextCodec* codec) {
    if (length < 2)
        return QString();
    const int count = u16(data);
    if (!biff8)
        return codec ? codec->toUnicode(data + 2, std::min(count, length - 2))
                     : QString::fromLatin1(data + 2, std::min(count, length - 2));
    if (length < 3)
        return QString();
    const bool wide = data[2] & 1;
    QString text;
    for (int i = 0; i < count && 3 + (i + 1) * (wide ? 2 : 1) <= length; ++i)
        text += wide ? QChar(u16(data + 3 + 2 * i)) : QChar(uchar(data[3 + i]));
    return text;
}
} // namespace

BiffStream::BiffStream(const QByteArray& stream) : _stream(stream) {}

qint64 BiffStream::declaredCells() const {
    qint64 cells = 0;
    walk(_stream, 0, false, [&cells](quint16 type, const char* data, int length) {
        if (type != Dimension)
            return;
        if (length >= 14) // BIFF8: 32-bit rows
            cells += qint64(qFromLittleEndian<quint32>(data + 4)) * u16(data + 10);
        else if (length >= 10) // BIFF5
            cells += qint64(u16(data + 2)) * u16(data + 6);
    });
    return cells;
}

QVector<BiffStream::Sheet> BiffStream::sheets() const {
    QVector<Sheet> sheets;
    walk(_stream, 0, true, [&sheets](quint16 type, const char* data, int length) {
        if (type == BoundSheet && length >= 6)
            sheets.append({qFromLittleEndian<quint32>(data), data[5] == 0});
    });
    return sheets;
}

QHash<quint32, QVariant> BiffStream::formulaValues(quint32 position, QTextCodec* codec) const {
    QHash<quint32, QVariant> values;
    if (position >= quint32(_stream.size()))
        return values;
    // BIFF8's BOF names version 0x0600; a text result follows its formula in a STRING record.
    const bool biff8 = position + 6 <= quint32(_stream.size()) && u16(_stream.constData() + position + 4) == 0x0600;
    quint32 pendingText = 0;
    bool textPending = false;
    walk(_stream, int(position), true, [&](quint16 type, const char* data, int length) {
        if (type == String && textPending) {
            const QString text = stringRecord(data, length, biff8, codec);
            if (!text.isEmpty())
                values.insert(pendingText, text);
        }
        textPending = false;
        if (type != Formula || length < 14)
            return;
        const quint32 cell = quint32(u16(data)) << 16 | u16(data + 2);
        const char* result = data + 6;
        if (u16(result + 6) != 0xFFFF) {
            const double number = qFromLittleEndian<double>(result);
            if (std::isfinite(number))
                values.insert(cell, number);
        } else if (result[0] == 0) {
            textPending = true;
            pendingText = cell;
        } else if (result[0] == 1) {
            values.insert(cell, result[2] != 0);
        }
    });
    return values;
}
