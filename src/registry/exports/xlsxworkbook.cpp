#include "xlsxworkbook.h"

#include "mzlog.h"
#include "replacementfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <xlsxwriter.h>
#if defined(__ELF__)
#include <atomic>
#include <dlfcn.h>
#endif

// --- packing -----------------------------------------------------------------------------------
// libxlsxwriter packs the workbook's parts with minizip at zlib's default level (6) and offers no
// setting for it; packing the sheet that way took a third of a large export's time. Where shared
// libraries bind their calls at run time (ELF), the program defines minizip's entry point itself,
// so that the library's call comes here, and passes it on to minizip at level 2: a third of the
// packing time, for a file about a fifth larger. Anything else goes on unchanged.
#if defined(__ELF__)
namespace {
constexpr int zipDeflated = 8;         // Z_DEFLATED
constexpr int zipDefaultLevel = -1;    // Z_DEFAULT_COMPRESSION
constexpr int zipInternalError = -104; // ZIP_INTERNALERROR
constexpr int packingLevel = 2;
std::atomic<int> partsPackedFast{0};
} // namespace

extern "C" {
using OpenInZip = int (*)(void*, const char*, const void*, const void*, unsigned, const void*, unsigned, const char*,
                          int, int, int, int, int, int, const char*, unsigned long, unsigned long, unsigned long, int);

__attribute__((visibility("default"))) int
zipOpenNewFileInZip4_64(void* file, const char* filename, const void* info, const void* extraLocal,
                        unsigned extraLocalSize, const void* extraGlobal, unsigned extraGlobalSize, const char* comment,
                        int method, int level, int raw, int windowBits, int memLevel, int strategy,
                        const char* password, unsigned long crcForCrypting, unsigned long versionMadeBy,
                        unsigned long flagBase, int zip64) {
    static const auto minizip = reinterpret_cast<OpenInZip>(dlsym(RTLD_NEXT, "zipOpenNewFileInZip4_64"));
    if (!minizip) {
        MZ_LOG() << "workbook: minizip's zipOpenNewFileInZip4_64 not found";
        return zipInternalError;
    }
    if (method == zipDeflated && level == zipDefaultLevel && !raw) {
        level = packingLevel;
        ++partsPackedFast;
    }
    return minizip(file, filename, info, extraLocal, extraLocalSize, extraGlobal, extraGlobalSize, comment, method,
                   level, raw, windowBits, memLevel, strategy, password, crcForCrypting, versionMadeBy, flagBase,
                   zip64);
}
}

int XlsxWorkbook::partsPackedFast() {
    return ::partsPackedFast.load();
}
#else
int XlsxWorkbook::partsPackedFast() {
    return 0;
}
#endif
// --- end of packing ----------------------------------------------------------------------------

namespace {
// Excel's limit of characters in one cell.
constexpr int maxCellText = 32767;
constexpr size_t sheetBuffer = 1 << 20;

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
    _workbook = workbook_new_opt(libraryFileName(_temp->path()).constData(), &options);
    const QByteArray name = sheetName.toUtf8();
    _sheet = _workbook ? workbook_add_worksheet(_workbook, name.isEmpty() ? nullptr : name.constData()) : nullptr;
    if (!_sheet) {
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

QByteArray XlsxWorkbook::cellText(const QString& text) {
    if (text.size() <= maxCellText)
        return text.toUtf8();
    // Never split a surrogate pair: half a character is not valid UTF-8.
    const int size = text.at(maxCellText - 1).isHighSurrogate() ? maxCellText - 1 : maxCellText;
    return text.left(size).toUtf8();
}

bool XlsxWorkbook::writeString(int row, int column, const QString& text, int format) {
    return writeUtf8(row, column, cellText(text).constData(), format);
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
    if (_sheet && _sheet->file && (fflush(_sheet->file) != 0 || ferror(_sheet->file)))
        fail(QStringLiteral("не удалось записать временный файл листа"));
    if (_workbook && isValid()) {
        const lxw_error e = workbook_close(_workbook);
        _workbook = nullptr;
        _sheet = nullptr;
        _formats.clear();
        if (e != LXW_NO_ERROR)
            fail(QString::fromUtf8(lxw_strerror(e)));
    }
    if (isValid() && !_temp)
        fail(QStringLiteral("книга уже записана"));
    QString reason;
    if (isValid() && !_temp->commit(&reason))
        fail(reason);
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
