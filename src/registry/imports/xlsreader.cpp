#include "xlsreader.h"

#include "compoundfile.h"
#include "mzlog.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QVector>
#include <QtEndian>
#include <cmath>
#include <freexl.h>

namespace {
// Twice the cells a table keeps: about 130 MB in libfreexl.
constexpr qint64 maxSheetArea = 2 * ImportTable::maxCells;

QString damagedText() {
    return QStringLiteral("Файл повреждён или не является книгой Excel (.xls).");
}
QString noSheetsText() {
    return QStringLiteral("В файле нет листов книги Excel: это не таблица или файл повреждён.");
}
QString tooLargeText() {
    return QStringLiteral("Файл слишком большой для импорта (больше 50 МБ).");
}

QString tooManyCellsText() {
    return QStringLiteral("Книга слишком большая для импорта: её листы больше %1 ячеек. Удалите лишние листы "
                          "или сохраните книгу как «Книга Excel (.xlsx)».")
        .arg(maxSheetArea);
}

// The cells the sheets' DIMENSION records declare, as libfreexl allocates them (16 bytes each) on
// opening, whatever the cells that are there: what a small hostile file could exhaust memory with.
qint64 declaredCells(const QByteArray& stream) {
    qint64 cells = 0;
    for (int at = 0; at + 4 <= stream.size();) {
        const quint16 type = qFromLittleEndian<quint16>(stream.constData() + at);
        const quint16 length = qFromLittleEndian<quint16>(stream.constData() + at + 2);
        const char* data = stream.constData() + at + 4;
        if (type == 0x0200 && length >= 14 && at + 4 + 14 <= stream.size()) // BIFF8
            cells += qint64(qFromLittleEndian<quint32>(data + 4)) * qFromLittleEndian<quint16>(data + 10);
        else if (type == 0x0200 && length >= 10 && at + 4 + 10 <= stream.size()) // BIFF5
            cells += qint64(qFromLittleEndian<quint16>(data + 2)) * qFromLittleEndian<quint16>(data + 6);
        at += 4 + length;
    }
    return cells;
}

// A freexl text, date, date-time or time as a cell; a date-time keeps its day only, as a
// workbook's date-times do in the other readers.
QVariant textCell(const FreeXL_CellValue& value) {
    const QString text = QString::fromUtf8(value.value.text_value ? value.value.text_value : "");
    if (value.type == FREEXL_CELL_DATE || value.type == FREEXL_CELL_DATETIME) {
        const QDate date = QDate::fromString(text.left(10), Qt::ISODate);
        if (date.isValid())
            return date;
    }
    return text.isEmpty() ? QVariant() : QVariant(text);
}

QVariant cellOf(const FreeXL_CellValue& value) {
    switch (value.type) {
    case FREEXL_CELL_INT:
        return double(value.value.int_value);
    case FREEXL_CELL_DOUBLE:
        return std::isfinite(value.value.double_value) ? QVariant(value.value.double_value) : QVariant();
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
    case FREEXL_CELL_DATE:
    case FREEXL_CELL_DATETIME:
    case FREEXL_CELL_TIME:
        return textCell(value);
    default:
        return QVariant();
    }
}
} // namespace

struct XlsReader::Private {
    const void* handle = nullptr;
    QString path;
    QStringList sheetNames;

    ~Private() { clear(); }
    void clear() {
        if (handle)
            freexl_close(handle);
        handle = nullptr;
        sheetNames.clear();
    }
    bool fail(const QString& reason, const QString& detail, QString* error) const {
        MZ_LOG() << "old workbook not read" << path << detail << reason;
        if (error)
            *error = reason;
        return false;
    }
    bool readStructure(QString* error);
    void readRows(unsigned rowCount, unsigned short columnCount, ImportTable* table,
                  const std::function<bool(int)>& progress, bool* stopped) const;
};

bool XlsReader::Private::readStructure(QString* error) {
    unsigned int password = 0;
    if (freexl_get_info(handle, FREEXL_BIFF_PASSWORD, &password) == FREEXL_OK && password == FREEXL_BIFF_OBFUSCATED)
        return fail(protectedText(), QStringLiteral("FILEPASS"), error);
    unsigned int count = 0;
    if (freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK || count == 0)
        return fail(noSheetsText(), QStringLiteral("no sheets"), error);
    for (unsigned int i = 0; i < count && i <= 0xFFFF; ++i) {
        const char* name = nullptr;
        if (freexl_get_worksheet_name(handle, (unsigned short)i, &name) != FREEXL_OK)
            return fail(damagedText(), QStringLiteral("sheet name %1").arg(i), error);
        sheetNames << QString::fromUtf8(name ? name : "");
    }
    return true;
}

void XlsReader::Private::readRows(unsigned rowCount, unsigned short columnCount, ImportTable* table,
                                  const std::function<bool(int)>& progress, bool* stopped) const {
    const unsigned rows = std::min<unsigned>(rowCount, ImportTable::maxRows);
    const unsigned short columns = std::min<unsigned short>(columnCount, ImportTable::maxColumns);
    QString columnNotice;
    QString rowNotice = rowCount > rows ? ImportTable::rowsNotice() : QString();
    qint64 cells = 0;
    int reported = -1;
    QVector<QVariant> row;
    for (unsigned r = 0; r < rows; ++r) {
        const int percent = int(qint64(r) * 100 / rows);
        if (progress && percent != reported && !progress(reported = percent)) {
            *stopped = true;
            return;
        }
        row.fill(QVariant(), columns);
        int used = 0;
        for (unsigned short c = 0; c < columnCount; ++c) {
            FreeXL_CellValue value;
            if (freexl_get_cell_value(handle, r, c, &value) != FREEXL_OK)
                continue;
            const QVariant cell = cellOf(value);
            if (!cell.isValid())
                continue;
            if (c >= columns) {
                columnNotice = ImportTable::columnsNotice();
                break;
            }
            row[c] = cell;
            used = c + 1;
        }
        row.resize(used);
        cells += used;
        if (cells > ImportTable::maxCells) {
            rowNotice = ImportTable::cellsNotice(table->rows.size());
            break;
        }
        table->rows.append(row);
    }
    // Empty rows at the end are no part of the table, as in a workbook's own rows.
    while (!table->rows.isEmpty() && table->rows.constLast().isEmpty())
        table->rows.removeLast();
    table->notice = ImportTable::joinNotices({columnNotice, rowNotice});
}

XlsReader::XlsReader() : d(new Private) {}

XlsReader::~XlsReader() = default;

QString XlsReader::protectedText() {
    return QStringLiteral("Книга защищена паролем. Сохраните её в Excel как «Книга Excel (.xlsx)» без пароля.");
}

bool XlsReader::open(const QString& path, QString* error) {
    d->clear();
    d->path = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return d->fail(QStringLiteral("Не удалось открыть файл %1: %2.").arg(path, file.errorString()), {}, error);
    // libfreexl holds the whole workbook in memory while it is open.
    if (file.size() > ImportTable::maxBytes)
        return d->fail(tooLargeText(), QString::number(file.size()), error);
    QStringList names;
    if (!CompoundFile::entryNames(&file, &names))
        return d->fail(damagedText(), QStringLiteral("compound file directory"), error);
    // BIFF8 names its stream "Workbook", BIFF5 "Book".
    const QString streamName = names.contains(QLatin1String("Workbook"), Qt::CaseInsensitive)
                                   ? QStringLiteral("Workbook")
                                   : QStringLiteral("Book");
    if (!names.contains(streamName, Qt::CaseInsensitive))
        return d->fail(noSheetsText(), names.join(QLatin1Char(',')), error);
    QByteArray stream;
    if (!CompoundFile::readStream(&file, streamName, ImportTable::maxBytes, &stream))
        return d->fail(damagedText(), QStringLiteral("workbook stream"), error);
    const qint64 declared = declaredCells(stream);
    if (declared > maxSheetArea)
        return d->fail(tooManyCellsText(), QStringLiteral("declared cells %1").arg(declared), error);
    stream = QByteArray();
    file.close();
    const int code = freexl_open(QFile::encodeName(path).constData(), &d->handle);
    if (code == FREEXL_OK && d->readStructure(error))
        return true;
    if (code != FREEXL_OK) {
        // Without its password a workbook cannot be told from a damaged one: freexl stops at the
        // encryption header, which its information still shows.
        unsigned int password = 0;
        const bool locked = d->handle && freexl_get_info(d->handle, FREEXL_BIFF_PASSWORD, &password) == FREEXL_OK &&
                            password == FREEXL_BIFF_OBFUSCATED;
        d->fail(locked                                   ? protectedText()
                : code == FREEXL_BIFF_WORKBOOK_NOT_FOUND ? noSheetsText()
                : code == FREEXL_INSUFFICIENT_MEMORY     ? tooLargeText()
                                                         : damagedText(),
                QStringLiteral("freexl %1").arg(code), error);
    }
    d->clear();
    return false;
}

QStringList XlsReader::sheetNames() const {
    return d->sheetNames;
}

bool XlsReader::readSheet(int index, ImportTable* table, QString* error,
                          const std::function<bool(int percent)>& progress) const {
    if (!d->handle || index < 0 || index >= d->sheetNames.size())
        return d->fail(damagedText(), QStringLiteral("no sheet %1").arg(index), error);
    unsigned int rowCount = 0;
    unsigned short columnCount = 0;
    if (freexl_select_active_worksheet(d->handle, (unsigned short)index) != FREEXL_OK ||
        freexl_worksheet_dimensions(d->handle, &rowCount, &columnCount) != FREEXL_OK)
        return d->fail(damagedText(), QStringLiteral("sheet %1 not selected").arg(index), error);
    ImportTable read;
    bool stopped = false;
    d->readRows(rowCount, columnCount, &read, progress, &stopped);
    if (stopped)
        return d->fail(ImportTable::stoppedText(), QStringLiteral("sheet %1").arg(index), error);
    if (progress)
        progress(100);
    *table = std::move(read);
    return true;
}
