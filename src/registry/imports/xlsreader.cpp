#include "xlsreader.h"

#include "biffstream.h"
#include "compoundfile.h"
#include "mzlog.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QTextCodec>
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

// Why a compound file that is no workbook of ours is refused; empty for any other.
QString otherDocumentText(const QStringList& names) {
    if (names.contains(QLatin1String("EncryptedPackage"), Qt::CaseInsensitive))
        return XlsReader::protectedText();
    if (names.contains(QLatin1String("WordDocument"), Qt::CaseInsensitive))
        return QStringLiteral("Файл не похож на таблицу: это документ Word (.doc).");
    if (names.contains(QLatin1String("PowerPoint Document"), Qt::CaseInsensitive))
        return QStringLiteral("Файл не похож на таблицу: это презентация PowerPoint (.ppt).");
    return QString();
}

QString tooManyCellsText() {
    return QStringLiteral("Книга слишком большая для импорта: её листы больше %1 ячеек. Удалите лишние листы "
                          "или сохраните книгу как «Книга Excel (.xlsx)».")
        .arg(maxSheetArea);
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
    QScopedPointer<BiffStream> stream;
    // Of each worksheet listed: its index in libfreexl and the position of its records.
    QVector<unsigned short> sheetIndexes;
    QVector<quint32> sheetPositions;

    ~Private() { clear(); }
    void clear() {
        if (handle)
            freexl_close(handle);
        handle = nullptr;
        sheetNames.clear();
        stream.reset();
        sheetIndexes.clear();
        sheetPositions.clear();
    }
    QTextCodec* codec() const;
    bool fail(const QString& reason, const QString& detail, QString* error) const {
        MZ_LOG() << "old workbook not read" << path << detail << reason;
        if (error)
            *error = reason;
        return false;
    }
    bool readStructure(QString* error);
    void readRows(unsigned rowCount, unsigned short columnCount, const QHash<quint32, QVariant>& formulas,
                  ImportTable* table, const std::function<bool(int)>& progress, bool* stopped) const;
};

// The code page of a BIFF5 workbook's 8-bit texts.
QTextCodec* XlsReader::Private::codec() const {
    unsigned int page = 0;
    if (freexl_get_info(handle, FREEXL_BIFF_CODEPAGE, &page) != FREEXL_OK || page == FREEXL_BIFF_UTF16LE)
        return nullptr;
    return QTextCodec::codecForName((page >= 1250 && page <= 1258 ? "windows-" : "CP") + QByteArray::number(page));
}

bool XlsReader::Private::readStructure(QString* error) {
    unsigned int password = 0;
    if (freexl_get_info(handle, FREEXL_BIFF_PASSWORD, &password) == FREEXL_OK && password == FREEXL_BIFF_OBFUSCATED)
        return fail(protectedText(), QStringLiteral("FILEPASS"), error);
    unsigned int count = 0;
    if (freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK || count == 0)
        return fail(noSheetsText(), QStringLiteral("no sheets"), error);
    // libfreexl lists chart and macro sheets too; the workbook's own list tells them apart.
    const QVector<BiffStream::Sheet> listed = stream->sheets();
    for (unsigned int i = 0; i < count && i <= 0xFFFF; ++i) {
        if (listed.size() == int(count) && !listed.at(int(i)).isWorksheet)
            continue;
        const char* name = nullptr;
        if (freexl_get_worksheet_name(handle, (unsigned short)i, &name) != FREEXL_OK)
            return fail(damagedText(), QStringLiteral("sheet name %1").arg(i), error);
        sheetNames << QString::fromUtf8(name ? name : "");
        sheetIndexes << (unsigned short)i;
        sheetPositions << (listed.size() == int(count) ? listed.at(int(i)).position : quint32(-1));
    }
    if (sheetNames.isEmpty())
        return fail(noSheetsText(), QStringLiteral("no worksheets"), error);
    return true;
}

void XlsReader::Private::readRows(unsigned rowCount, unsigned short columnCount,
                                  const QHash<quint32, QVariant>& formulas, ImportTable* table,
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
            // libfreexl leaves a formula's cell empty; its value is in the formula's record.
            const QVariant cell =
                value.type == FREEXL_CELL_NULL && r <= 0xFFFF ? formulas.value(quint32(r) << 16 | c) : cellOf(value);
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

// libfreexl opens a workbook in one call that reports nothing, so an open cannot show progress.
bool XlsReader::open(const QString& path, QString* error, const Progress& /*progress*/) {
    d->clear();
    d->path = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return d->fail(QStringLiteral("Не удалось открыть файл %1: %2.").arg(path, file.errorString()), {}, error);
    // The same container holds a workbook locked by a password (whichever format it was saved in)
    // and other programs' documents, which are named whatever their size.
    QStringList names;
    const bool listed = CompoundFile::entryNames(&file, &names);
    const QString other = listed ? otherDocumentText(names) : QString();
    if (!other.isEmpty())
        return d->fail(other, QStringLiteral("compound file ") + names.join(QLatin1Char(',')), error);
    // libfreexl holds the whole workbook in memory while it is open.
    if (file.size() > ImportTable::maxBytes)
        return d->fail(ImportTable::tooLargeText(), QString::number(file.size()), error);
    if (!listed)
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
    d->stream.reset(new BiffStream(stream));
    const qint64 declared = d->stream->declaredCells();
    if (declared > maxSheetArea) {
        d->stream.reset();
        return d->fail(tooManyCellsText(), QStringLiteral("declared cells %1").arg(declared), error);
    }
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
                : code == FREEXL_INSUFFICIENT_MEMORY     ? ImportTable::tooLargeText()
                                                         : damagedText(),
                QStringLiteral("freexl %1").arg(code), error);
    }
    d->clear();
    return false;
}

QStringList XlsReader::sheetNames() const {
    return d->sheetNames;
}

bool XlsReader::readSheet(int index, ImportTable* table, QString* error, const Progress& progress) const {
    if (!d->handle || index < 0 || index >= d->sheetNames.size())
        return d->fail(damagedText(), QStringLiteral("no sheet %1").arg(index), error);
    unsigned int rowCount = 0;
    unsigned short columnCount = 0;
    if (freexl_select_active_worksheet(d->handle, d->sheetIndexes.at(index)) != FREEXL_OK ||
        freexl_worksheet_dimensions(d->handle, &rowCount, &columnCount) != FREEXL_OK)
        return d->fail(damagedText(), QStringLiteral("sheet %1 not selected").arg(index), error);
    ImportTable read;
    bool stopped = false;
    d->readRows(rowCount, columnCount, d->stream->formulaValues(d->sheetPositions.at(index), d->codec()), &read,
                progress, &stopped);
    if (stopped)
        return d->fail(ImportTable::stoppedText(), QStringLiteral("sheet %1").arg(index), error);
    if (progress)
        progress(100);
    *table = std::move(read);
    return true;
}
