#include "xlsxworkbook.h"

#include "mzlog.h"
#include "replacementfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <xlsxwriter.h>

// The faster packing (workbookpacking.cpp) is linked only into the programs that write workbooks;
// elsewhere its counter is absent and nothing was packed fast.
#if defined(__ELF__)
extern "C" int orvane_workbook_parts_packed_fast() __attribute__((weak));
#endif

int XlsxWorkbook::partsPackedFast() {
#if defined(__ELF__)
    if (orvane_workbook_parts_packed_fast)
        return orvane_workbook_parts_packed_fast();
#endif
    return 0;
}

namespace {
constexpr size_t sheetBuffer = 1 << 20;
constexpr int maxSheetName = 31;
// Below this, a folder counts as the one that filled up.
constexpr qint64 nearlyFull = 1 << 20;
constexpr int paperA4 = 9;

QString sheetNameOf(const QString& name) {
    QString cleaned = name;
    for (QChar& c : cleaned)
        if (QStringLiteral("[]:*?/\\").contains(c) || c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    cleaned = cleaned.simplified().left(maxSheetName);
    // Never split a surrogate pair, and Excel refuses a name that starts or ends with a quote.
    if (!cleaned.isEmpty() && cleaned.at(cleaned.size() - 1).isHighSurrogate())
        cleaned.chop(1);
    while (cleaned.startsWith(QLatin1Char('\'')) || cleaned.endsWith(QLatin1Char('\'')))
        cleaned = cleaned.startsWith(QLatin1Char('\'')) ? cleaned.mid(1) : cleaned.left(cleaned.size() - 1);
    return cleaned.trimmed();
}

bool diskFull(int error) {
    return error == ENOSPC
#ifdef EDQUOT
           || error == EDQUOT
#endif
        ;
}

bool nearlyFullFolder(const QString& folder) {
    const QStorageInfo storage(folder);
    return storage.isValid() && storage.bytesAvailable() < nearlyFull;
}

QByteArray libraryFileName(const QString& path) {
#ifdef Q_OS_WIN
    // libxlsxwriter opens its files with UTF-8 names converted to wide ones.
    return QDir::toNativeSeparators(path).toUtf8();
#else
    return QFile::encodeName(path);
#endif
}

uint8_t horizontal(XlsxFormat::Horizontal h) {
    switch (h) {
    case XlsxFormat::Horizontal::Left:
        return LXW_ALIGN_LEFT;
    case XlsxFormat::Horizontal::Center:
        return LXW_ALIGN_CENTER;
    case XlsxFormat::Horizontal::Right:
        return LXW_ALIGN_RIGHT;
    case XlsxFormat::Horizontal::Default:
        break;
    }
    return LXW_ALIGN_NONE;
}

uint8_t vertical(XlsxFormat::Vertical v) {
    switch (v) {
    case XlsxFormat::Vertical::Top:
        return LXW_ALIGN_VERTICAL_TOP;
    case XlsxFormat::Vertical::Center:
        return LXW_ALIGN_VERTICAL_CENTER;
    case XlsxFormat::Vertical::Bottom:
        return LXW_ALIGN_VERTICAL_BOTTOM;
    case XlsxFormat::Vertical::Default:
        break;
    }
    return LXW_ALIGN_NONE;
}
} // namespace

XlsxWorkbook::XlsxWorkbook(const QString& path, const QString& sheetName) : _path(QFileInfo(path).absoluteFilePath()) {
    const QFileInfo target(_path);
    if (target.isDir()) {
        fail(QStringLiteral("это папка"));
        return;
    }
    // A file marked read-only stays as it is, also for a user (root) whom the system would let
    // replace it.
    const auto writeBits = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (target.exists() && (!target.isWritable() || !(target.permissions() & writeBits))) {
        fail(QStringLiteral("файл защищён от записи"));
        return;
    }
    _temp = std::make_unique<ReplacementFile>(_path);
    QString reason;
    if (!_temp->create(&reason)) {
        fail(reason);
        _temp.reset();
        return;
    }
    lxw_workbook_options options = {};
    options.constant_memory = LXW_TRUE;
    // The library's own default (tmpfile()) would ignore TMPDIR.
    _tempFolder = QDir::tempPath();
    _tempFolderName = libraryFileName(_tempFolder);
    options.tmpdir = _tempFolderName.data();
    errno = 0;
    _workbook = workbook_new_opt(libraryFileName(_temp->path()).constData(), &options);
    const QByteArray name = sheetNameOf(sheetName).toUtf8();
    _sheet = _workbook ? workbook_add_worksheet(_workbook, name.isEmpty() ? nullptr : name.constData()) : nullptr;
    if (!_sheet) {
        const int cause = errno;
        if (_workbook && (diskFull(cause) || nearlyFullFolder(_tempFolder)))
            failFull(true);
        else if (_workbook)
            fail(QStringLiteral("не удалось создать временный файл в папке %1: %2")
                     .arg(QDir::toNativeSeparators(_tempFolder), QString::fromLocal8Bit(strerror(cause))));
        else
            fail(QStringLiteral("не удалось создать книгу"));
        return;
    }
    // Rows go to a temporary file until close(); the library leaves it at the small default buffer.
    if (_sheet->file)
        setvbuf(_sheet->file, nullptr, _IOFBF, sheetBuffer);
}

XlsxWorkbook::~XlsxWorkbook() {
    discard();
}

QString XlsxWorkbook::noRoomText(const QString& path, const QString& tempFolder) {
    const QString file = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    if (tempFolder.isEmpty())
        return QStringLiteral("Недостаточно места на диске: файл %1 не записан.\n"
                              "Освободите место на диске или сохраните файл в другую папку.")
            .arg(file);
    return QStringLiteral("Недостаточно места во временной папке %1: файл %2 не записан.\n"
                          "Освободите место на диске или укажите другую временную папку (TMPDIR).")
        .arg(QDir::toNativeSeparators(tempFolder), file);
}

bool XlsxWorkbook::failFull(bool tempFolder) {
    if (!_error.isEmpty())
        return false;
    _error = noRoomText(_path, tempFolder ? _tempFolder : QString());
    MZ_LOG() << "workbook not written, no room left" << (tempFolder ? _tempFolder : _path);
    return false;
}

// errno tells a full disk from the library's other failures; which folder filled up, its room.
bool XlsxWorkbook::failed(int libraryError, int cause) {
    const bool targetFull = nearlyFullFolder(QFileInfo(_path).absolutePath());
    const bool tempFull = nearlyFullFolder(_tempFolder);
    if (diskFull(cause) || targetFull || tempFull)
        return failFull(tempFull && !targetFull);
    return fail(QString::fromUtf8(lxw_strerror(lxw_error(libraryError))));
}

bool XlsxWorkbook::fail(const QString& reason) {
    if (_error.isEmpty()) {
        _error = QStringLiteral("Не удалось записать файл %1:\n%2").arg(QDir::toNativeSeparators(_path), reason);
        MZ_LOG() << "workbook not written" << _path << reason;
    }
    return false;
}

int XlsxWorkbook::addFormat(const XlsxFormat& format) {
    if (!_workbook)
        return -1;
    lxw_format* f = workbook_add_format(_workbook);
    if (!f) {
        fail(QStringLiteral("не удалось создать формат ячеек"));
        return -1;
    }
    if (format.thinBorder)
        format_set_border(f, LXW_BORDER_THIN);
    if (format.wrap)
        format_set_text_wrap(f);
    if (format.horizontal != XlsxFormat::Horizontal::Default)
        format_set_align(f, horizontal(format.horizontal));
    if (format.vertical != XlsxFormat::Vertical::Default)
        format_set_align(f, vertical(format.vertical));
    if (!format.fontName.isEmpty())
        format_set_font_name(f, format.fontName.toUtf8().constData());
    if (format.fontSize > 0)
        format_set_font_size(f, format.fontSize);
    if (format.bold)
        format_set_bold(f);
    if (!format.numberFormat.isEmpty())
        format_set_num_format(f, format.numberFormat.toUtf8().constData());
    _formats.append(f);
    return _formats.size() - 1;
}

bool XlsxWorkbook::setColumnWidth(int column, double width) {
    if (!_sheet || column < 0)
        return false;
    const lxw_error e = worksheet_set_column(_sheet, lxw_col_t(column), lxw_col_t(column), width, nullptr);
    return e == LXW_NO_ERROR || fail(QString::fromUtf8(lxw_strerror(e)));
}

bool XlsxWorkbook::setRowHeight(int row, double height) {
    if (!_sheet || row < 0)
        return false;
    const lxw_error e = worksheet_set_row(_sheet, lxw_row_t(row), height, nullptr);
    return e == LXW_NO_ERROR || fail(QString::fromUtf8(lxw_strerror(e)));
}

bool XlsxWorkbook::setPageSetup(const XlsxPageSetup& page) {
    if (!_sheet)
        return false;
    if (page.landscape)
        worksheet_set_landscape(_sheet);
    if (page.paperA4)
        worksheet_set_paper(_sheet, paperA4);
    if (page.fitWide > 0 || page.fitTall > 0)
        worksheet_fit_to_pages(_sheet, uint16_t(page.fitWide), uint16_t(page.fitTall));
    worksheet_set_margins(_sheet, page.marginLeft, page.marginRight, page.marginTop, page.marginBottom);
    lxw_error e = LXW_NO_ERROR;
    if (page.titleFirstRow >= 0)
        e = worksheet_repeat_rows(_sheet, lxw_row_t(page.titleFirstRow),
                                  lxw_row_t(std::max(page.titleFirstRow, page.titleLastRow)));
    if (e == LXW_NO_ERROR && !page.footer.isEmpty())
        e = worksheet_set_footer(_sheet, page.footer.toUtf8().constData());
    return e == LXW_NO_ERROR || fail(QString::fromUtf8(lxw_strerror(e)));
}

QString XlsxWorkbook::cellValue(const QString& text, LineBreaks breaks) {
    const auto isControl = [](QChar c) { return c.unicode() < 0x20 && c != QLatin1Char('\t'); };
    if (std::none_of(text.cbegin(), text.cend(), isControl))
        return text;
    const QChar lineBreak = breaks == LineBreaks::Blank ? QLatin1Char(' ') : QLatin1Char('\n');
    QString value;
    value.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            value += lineBreak;
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
        } else {
            value += isControl(c) ? QChar(QChar::ReplacementCharacter) : c;
        }
    }
    return value;
}

bool XlsxWorkbook::writeString(int row, int column, const QString& text, int format) {
    const QString value = cellValue(text);
    if (!fitsCell(value))
        return fail(QStringLiteral("текст ячейки (строка %1, столбец %2) длиннее %3 знаков, которые вмещает ячейка")
                        .arg(row + 1)
                        .arg(column + 1)
                        .arg(maxCellText));
    return writeUtf8(row, column, value.toUtf8().constData(), format);
}

bool XlsxWorkbook::writeUtf8(int row, int column, const char* utf8, int format) {
    if (!_sheet || row < 0 || column < 0)
        return false;
    lxw_format* f = format >= 0 && format < _formats.size() ? _formats[format] : nullptr;
    const lxw_error e = worksheet_write_string(_sheet, lxw_row_t(row), lxw_col_t(column), utf8, f);
    return e == LXW_NO_ERROR || fail(QString::fromUtf8(lxw_strerror(e)));
}

bool XlsxWorkbook::writeNumber(int row, int column, double value, int format) {
    if (!_sheet || row < 0 || column < 0)
        return false;
    lxw_format* f = format >= 0 && format < _formats.size() ? _formats[format] : nullptr;
    const lxw_error e = worksheet_write_number(_sheet, lxw_row_t(row), lxw_col_t(column), value, f);
    return e == LXW_NO_ERROR || fail(QString::fromUtf8(lxw_strerror(e)));
}

bool XlsxWorkbook::close(QString* error) {
    // The library does not look at the writes of its temporary file: a full disk would give a
    // workbook with its sheet cut short.
    errno = 0;
    if (_sheet && _sheet->file && (fflush(_sheet->file) != 0 || ferror(_sheet->file))) {
        if (diskFull(errno) || nearlyFullFolder(_tempFolder))
            failFull(true);
        else
            fail(QStringLiteral("не удалось записать временный файл листа"));
    }
    if (_workbook && isValid()) {
        errno = 0;
        const lxw_error e = workbook_close(_workbook);
        const int cause = errno;
        _workbook = nullptr;
        _sheet = nullptr;
        _formats.clear();
        if (e != LXW_NO_ERROR)
            failed(e, cause);
    }
    if (isValid() && !_temp)
        fail(QStringLiteral("книга уже записана"));
    QString reason;
    errno = 0;
    if (isValid() && !_temp->commit(&reason)) {
        if (diskFull(errno) || nearlyFullFolder(QFileInfo(_path).absolutePath()))
            failFull(false);
        else
            fail(reason);
    }
    discard();
    if (error)
        *error = _error;
    return isValid();
}

void XlsxWorkbook::discard() {
    if (_workbook)
        lxw_workbook_free(_workbook);
    _workbook = nullptr;
    _sheet = nullptr;
    _formats.clear();
    _temp.reset();
}
