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

// One row of a text table, kept within ImportTable::maxColumns.
class RowBuilder {
public:
    void add(const QString& cell) {
        if (_row.size() >= ImportTable::maxColumns) {
            _cut = _cut || !cell.isEmpty();
            return;
        }
        _row.append(cell.isEmpty() ? QVariant() : QVariant(cell));
    }
    // The row without its empty trailing cells, as a workbook's rows come.
    QVector<QVariant> take() {
        while (!_row.isEmpty() && !_row.constLast().isValid())
            _row.removeLast();
        QVector<QVariant> row;
        row.swap(_row);
        _row.reserve(row.capacity());
        return row;
    }
    bool cut() const { return _cut; }

private:
    QVector<QVariant> _row;
    bool _cut = false;
};

bool isRowEnd(QChar c) {
    return c == QLatin1Char('\n') || c == QLatin1Char('\r');
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
    // Decoded in slices, so that a Windows-1251 file is known by its first invalid slice.
    constexpr int slice = 1 << 20;
    QTextDecoder utf8(QTextCodec::codecForName("UTF-8"), QTextCodec::IgnoreHeader);
    QString text;
    text.reserve(bytes.size());
    for (int at = 0; at < bytes.size() && !utf8.hasFailure(); at += slice)
        text += utf8.toUnicode(bytes.constData() + at, std::min(slice, bytes.size() - at));
    if (!utf8.hasFailure() && !utf8.needsMoreData())
        return text;
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
    bool rowsCut = false;
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
        QString cell;
        if (*c == QLatin1Char('"')) {
            // A quoted field: doubled quotes stand for one, separators and line breaks are text.
            for (++c; c < end;) {
                const QChar* run = c;
                while (c < end && *c != QLatin1Char('"'))
                    ++c;
                cell.append(run, int(c - run));
                if (c == end)
                    break;
                ++c;
                if (c == end || *c != QLatin1Char('"'))
                    break;
                cell.append(*c++);
            }
        }
        // Unquoted text, or what follows a closing quote, runs to the separator or the row's end.
        const QChar* run = c;
        while (c < end && *c != separator && !isRowEnd(*c))
            ++c;
        cell.append(run, int(c - run));
        row.add(cell);
        if (c < end && *c == separator && ++c < end && !isRowEnd(*c))
            continue;
        if (c < end && *c == QLatin1Char('\r') && c + 1 < end && c[1] == QLatin1Char('\n'))
            ++c;
        if (c < end)
            ++c;
        if (read.rows.size() >= ImportTable::maxRows) {
            rowsCut = true;
            break;
        }
        read.rows.append(row.take());
    }
    if (progress)
        progress(100);
    read.notice =
        QStringList(
            {row.cut() ? QStringLiteral("Прочитаны только первые %1 столбцов.").arg(ImportTable::maxColumns)
                       : QString(),
             rowsCut ? QStringLiteral("Прочитаны только первые %1 строк.").arg(ImportTable::maxRows) : QString()})
            .join(QLatin1Char(' '))
            .trimmed();
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
        reason = QStringLiteral("Файл слишком большой для импорта (больше 50 МБ).");
    if (reason.isEmpty()) {
        const QByteArray bytes = file.read(ImportTable::maxBytes + 1);
        if (file.error() != QFileDevice::NoError)
            reason = openFailedText().arg(path, file.errorString());
        else if (bytes.size() > ImportTable::maxBytes)
            reason = QStringLiteral("Файл слишком большой для импорта (больше 50 МБ).");
        else {
            const QString text = decode(bytes);
            if (parse(text, guessSeparator(text), table, &reason, progress))
                return true;
            if (text.trimmed().isEmpty())
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
