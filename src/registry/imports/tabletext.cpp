#include "tabletext.h"

#include "mzlog.h"

#include <QFile>
#include <QHash>
#include <QTextCodec>
#include <array>

namespace {
QString openFailedText() {
    return QStringLiteral("Не удалось открыть файл %1: %2.");
}

constexpr int guessLines = 20;

// One row of a text table, kept within ImportTable::maxColumns. A cell equal to the one above it
// shares its text, so that a column repeating a group, a date or a mark costs no more copies; so
// does a cell of up to three characters (a mark, "м", "да") that appeared anywhere before, since
// its own copy would take thrice the memory of the text.
class RowBuilder {
public:
    void add(const QChar* text, int length) {
        const int column = _row.size();
        if (column >= ImportTable::maxColumns) {
            _cut = _cut || length > 0;
            return;
        }
        if (length == 0) {
            _row.append(QVariant());
            return;
        }
        if (column < _above.size()) {
            const QVariant& above = _above.at(column);
            if (above.type() == QVariant::String && QStringView(text, length) == above.toString()) {
                _row.append(above);
                return;
            }
        }
        _row.append(length <= 3 ? shortCell(text, length) : QVariant(QString(text, length)));
    }
    // The row without its empty trailing cells, as a workbook's rows come, in a vector of its size.
    QVector<QVariant> take() {
        int size = _row.size();
        while (size > 0 && !_row.at(size - 1).isValid())
            --size;
        QVector<QVariant> row(size);
        for (int i = 0; i < size; ++i)
            row[i].swap(_row[i]);
        _row.resize(0);
        _above = row;
        return row;
    }
    bool cut() const { return _cut; }

private:
    QVariant shortCell(const QChar* text, int length) {
        quint64 key = quint64(length);
        for (int i = 0; i < length; ++i)
            key = key << 16 | text[i].unicode();
        const auto known = _short.constFind(key);
        if (known != _short.constEnd())
            return known.value();
        const QVariant cell(QString(text, length));
        if (_short.size() < maxShortCells)
            _short.insert(key, cell);
        return cell;
    }
    static constexpr int maxShortCells = 1 << 16;
    QVector<QVariant> _row;
    QVector<QVariant> _above;
    QHash<quint64, QVariant> _short;
    bool _cut = false;
};

bool isRowEnd(QChar c) {
    return c == QLatin1Char('\n') || c == QLatin1Char('\r');
}

QString notTableText() {
    return QStringLiteral("Файл не похож на таблицу: %1.");
}

enum class Utf16 { None, LittleEndian, BigEndian };

// UTF-16 without a byte-order mark, known by its pairs: Latin letters, digits and punctuation have a
// zero byte, Cyrillic letters a 04 byte, on the same side of every pair.
Utf16 utf16Order(const QByteArray& bytes) {
    const int length = std::min(bytes.size(), 1 << 16) & ~1;
    int little = 0;
    int big = 0;
    for (int i = 0; i < length; i += 2) {
        const uchar first = uchar(bytes.at(i));
        const uchar second = uchar(bytes.at(i + 1));
        little += first != 0 && (second == 0 || second == 4);
        big += second != 0 && (first == 0 || first == 4);
    }
    const int pairs = length / 2;
    if (pairs == 0)
        return Utf16::None;
    if (little * 10 >= pairs * 9)
        return Utf16::LittleEndian;
    if (big * 10 >= pairs * 9)
        return Utf16::BigEndian;
    return Utf16::None;
}

// Four-byte text: three zero bytes beside every Latin character.
bool looksLikeUtf32(const QByteArray& bytes) {
    const int length = std::min(bytes.size(), 1 << 16) & ~3;
    int matches = 0;
    for (int i = 0; i < length; i += 4) {
        const char* q = bytes.constData() + i;
        matches +=
            (q[0] != 0 && q[1] == 0 && q[2] == 0 && q[3] == 0) || (q[0] == 0 && q[1] == 0 && q[2] == 0 && q[3] != 0);
    }
    return length > 0 && matches * 10 >= (length / 4) * 9;
}

// What a file that is no text seems to be, by its first bytes; "двоичный файл" when unknown.
QString binaryKind(const QByteArray& bytes) {
    struct Signature {
        const char* bytes;
        int length;
        const char* kind;
    };
    static const Signature signatures[] = {
        {"SQLite format 3\0", 16, "это файл базы данных SQLite"},
        {"%PDF-", 5, "это документ PDF"},
        {"\x89PNG\r\n\x1A\n", 8, "это изображение PNG"},
        {"\xFF\xD8\xFF", 3, "это изображение JPEG"},
        {"GIF8", 4, "это изображение GIF"},
        {"BM", 2, "это изображение BMP"},
        {"II*\0", 4, "это изображение TIFF"},
        {"MM\0*", 4, "это изображение TIFF"},
        {"MZ", 2, "это программа"},
        {"\x7F"
         "ELF",
         4, "это программа"},
        {"Rar!", 4, "это архив"},
        {"7z\xBC\xAF\x27\x1C", 6, "это архив"},
        {"\x1F\x8B", 2, "это архив"},
    };
    for (const Signature& signature : signatures)
        if (bytes.startsWith(QByteArray::fromRawData(signature.bytes, signature.length)))
            return QString::fromUtf8(signature.kind);
    if (bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WEBP")
        return QStringLiteral("это изображение WebP");
    if (looksLikeUtf32(bytes))
        return QStringLiteral("это текст в кодировке UTF-32");
    return QStringLiteral("это двоичный файл, а не текст");
}

// The reason a file's bytes are no table text; empty for a text. Text never holds a zero byte
// unless it is UTF-16, which is recognised with or without its byte-order mark.
QString notTextReason(const QByteArray& bytes) {
    // Excel 2.x to 4.0 wrote a workbook's records without the compound file around them.
    static const char* const oldWorkbooks[] = {"\x09\x00\x04\x00", "\x09\x02\x06\x00", "\x09\x04\x06\x00"};
    for (const char* start : oldWorkbooks)
        if (bytes.startsWith(QByteArray::fromRawData(start, 4)))
            return QStringLiteral("Книга сохранена в старом формате .xls. Сохраните её как «Книга Excel (.xlsx)» или "
                                  "«Таблица ODF (.ods)»");
    if (bytes.startsWith("%PDF-"))
        return notTableText().arg(binaryKind(bytes));
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
        return bytes.startsWith(QByteArray("\xFF\xFE\0\0", 4)) ? notTableText().arg(binaryKind(bytes.mid(4)))
                                                               : QString();
    if (!bytes.contains('\0') || utf16Order(bytes) != Utf16::None)
        return QString();
    return notTableText().arg(binaryKind(bytes));
}
} // namespace

QString TableText::decode(const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
    // "Unicode text" as a spreadsheet saves it carries its own byte-order mark.
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        const QString text = QTextCodec::codecForUtfText(bytes)->toUnicode(bytes);
        return text.startsWith(QChar(0xFEFF)) ? text.mid(1) : text;
    }
    // Without a mark a text with zero bytes is UTF-16; others are refused before they get here.
    const Utf16 order = bytes.contains('\0') ? utf16Order(bytes) : Utf16::None;
    if (order != Utf16::None)
        return QTextCodec::codecForName(order == Utf16::LittleEndian ? "UTF-16LE" : "UTF-16BE")->toUnicode(bytes);
    // Decoded in slices, so that a Windows-1251 file is known by its first invalid slice.
    constexpr int slice = 1 << 20;
    QTextDecoder utf8(QTextCodec::codecForName("UTF-8"), QTextCodec::IgnoreHeader);
    QString text;
    text.reserve(bytes.size());
    for (int at = 0; at < bytes.size() && !utf8.hasFailure(); at += slice)
        text += utf8.toUnicode(bytes.constData() + at, std::min(slice, bytes.size() - at));
    if (!utf8.hasFailure() && !utf8.needsMoreData())
        return text;
    text = QString();
    QTextCodec* windows1251 = QTextCodec::codecForName("windows-1251");
    return windows1251 ? windows1251->toUnicode(bytes) : QString::fromLatin1(bytes);
}

QChar TableText::guessSeparator(const QString& text) {
    static const std::array<QChar, 3> candidates = {QLatin1Char(';'), QLatin1Char('\t'), QLatin1Char(',')};
    QVector<std::array<int, 3>> lines(1, {0, 0, 0});
    bool quoted = false;
    for (int i = 0; i < text.size() && lines.size() <= guessLines; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == QLatin1Char('\n') ||
                 (c == QLatin1Char('\r') && (i + 1 == text.size() || text.at(i + 1) != QLatin1Char('\n'))))
            lines.append({0, 0, 0});
        for (int k = 0; k < 3; ++k)
            if (c == candidates[k])
                ++lines.last()[k];
    }
    // Each candidate scores the number of lines sharing its most frequent non-zero count.
    int best = 0;
    int bestScore = 0;
    for (int k = 0; k < 3; ++k) {
        QHash<int, int> lineCounts;
        int score = 0;
        for (const std::array<int, 3>& line : qAsConst(lines))
            if (line[k] > 0)
                score = std::max(score, ++lineCounts[line[k]]);
        if (score > bestScore) {
            best = k;
            bestScore = score;
        }
    }
    return candidates[best];
}

bool TableText::parse(const QString& text, QChar separator, ImportTable* table, QString* error,
                      const Progress& progress) {
    if (text.size() > ImportTable::maxBytes) {
        MZ_LOG() << "table text refused, characters:" << text.size();
        if (error)
            *error = QStringLiteral("Текст слишком большой для импорта (больше 50 МБ).");
        return false;
    }
    ImportTable read;
    RowBuilder row;
    QString rowsNotice;
    qint64 cells = 0;
    QString quoted;
    const QChar* const begin = text.constData();
    const QChar* c = begin;
    const QChar* const end = c + text.size();
    int reported = -1;
    while (c < end) {
        if (progress) {
            const int percent = int(qint64(c - begin) * 100 / (end - begin));
            if (percent != reported && !progress(reported = percent)) {
                if (error)
                    *error = ImportTable::stoppedText();
                return false;
            }
        }
        quoted.resize(0);
        const bool isQuoted = *c == QLatin1Char('"');
        if (isQuoted) {
            // A quoted field: doubled quotes stand for one, separators and line breaks are text.
            for (++c; c < end;) {
                const QChar* run = c;
                while (c < end && *c != QLatin1Char('"'))
                    ++c;
                quoted.append(run, int(c - run));
                if (c == end)
                    break;
                ++c;
                if (c == end || *c != QLatin1Char('"'))
                    break;
                quoted.append(*c++);
            }
        }
        // Unquoted text, or what follows a closing quote, runs to the separator or the row's end.
        const QChar* run = c;
        while (c < end && *c != separator && !isRowEnd(*c))
            ++c;
        if (isQuoted) {
            quoted.append(run, int(c - run));
            row.add(quoted.constData(), quoted.size());
        } else {
            row.add(run, int(c - run));
        }
        if (c < end && *c == separator && ++c < end && !isRowEnd(*c))
            continue;
        if (c < end && *c == QLatin1Char('\r') && c + 1 < end && c[1] == QLatin1Char('\n'))
            ++c;
        if (c < end)
            ++c;
        if (read.rows.size() >= ImportTable::maxRows) {
            rowsNotice = ImportTable::rowsNotice();
            break;
        }
        QVector<QVariant> cellsOfRow = row.take();
        cells += cellsOfRow.size();
        if (cells > ImportTable::maxCells) {
            rowsNotice = ImportTable::cellsNotice(read.rows.size());
            break;
        }
        read.rows.append(std::move(cellsOfRow));
    }
    if (progress)
        progress(100);
    read.notice = ImportTable::joinNotices({row.cut() ? ImportTable::columnsNotice() : QString(), rowsNotice});
    bool empty = true;
    for (int i = 0; i < read.rows.size() && empty; ++i)
        empty = read.isBlankRow(i);
    if (empty) {
        if (error)
            *error = QStringLiteral("Нет данных для импорта.");
        return false;
    }
    *table = std::move(read);
    return true;
}

bool TableText::readFile(const QString& path, ImportTable* table, QString* error, const Progress& progress) {
    QFile file(path);
    QString reason;
    if (!file.open(QIODevice::ReadOnly))
        reason = openFailedText().arg(path, file.errorString());
    else if (file.size() > ImportTable::maxBytes)
        reason = ImportTable::tooLargeText();
    if (reason.isEmpty()) {
        QByteArray bytes = file.read(ImportTable::maxBytes + 1);
        if (file.error() != QFileDevice::NoError)
            reason = openFailedText().arg(path, file.errorString());
        else if (bytes.size() > ImportTable::maxBytes)
            reason = ImportTable::tooLargeText();
        else
            reason = notTextReason(bytes);
        if (reason.isEmpty()) {
            QString text = decode(bytes);
            bytes = QByteArray(); // the text alone is parsed
            if (text.contains(QChar(0)))
                reason = notTableText().arg(QStringLiteral("это двоичный файл, а не текст"));
            else if (parse(text, guessSeparator(text), table, &reason, progress))
                return true;
            else if (text.trimmed().isEmpty())
                reason = QStringLiteral("Файл пуст.");
        }
    }
    MZ_LOG() << "table file not read" << path << reason;
    if (error)
        *error = reason;
    return false;
}

bool TableText::fromClipboard(const QString& text, ImportTable* table, QString* error, const Progress& progress) {
    if (text.trimmed().isEmpty()) {
        if (error)
            *error = QStringLiteral("Буфер обмена пуст.");
        return false;
    }
    const QChar separator = text.contains(QLatin1Char('\t')) ? QChar(QLatin1Char('\t')) : guessSeparator(text);
    return parse(text, separator, table, error, progress);
}
