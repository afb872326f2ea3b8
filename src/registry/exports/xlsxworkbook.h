#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <memory>

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;
class ReplacementFile;

// A cell format. Members left at their defaults keep the workbook's defaults (Calibri 11,
// no border, general number format).
struct XlsxFormat {
    enum class Horizontal { Default, Left, Center, Right };
    enum class Vertical { Default, Top, Center, Bottom };

    bool thinBorder = false; // on all four sides
    bool wrap = false;
    Horizontal horizontal = Horizontal::Default;
    Vertical vertical = Vertical::Default;
    QString fontName;
    double fontSize = 0;
    bool bold = false;
    QString numberFormat; // "@" is text
};

// How the sheet prints. Members left at their defaults keep the library's (portrait, the printer's
// paper, no scaling, no titles, no footer, its margins).
struct XlsxPageSetup {
    bool landscape = false;
    bool paperA4 = false;
    // Scaled to this many pages across (0: not scaled) and down (0: as many as it takes).
    int fitWide = 0;
    int fitTall = 0;
    // Rows printed atop every page; -1 for none.
    int titleFirstRow = -1;
    int titleLastRow = -1;
    // In the spreadsheet's codes: "&C" centres, "&P" is the page, "&N" the number of pages.
    QString footer;
    // In inches; negative keeps the library's.
    double marginLeft = -1;
    double marginRight = -1;
    double marginTop = -1;
    double marginBottom = -1;
};

// One workbook with its one sheet, written in constant memory: rows go out in increasing order,
// and a row's height must be set before its first cell is written. Rows and columns count from 0.
//
// The workbook is written beside `path` under a temporary name and replaces `path` only when
// close() succeeds; a workbook destroyed or discarded before that leaves `path` as it was and no
// file behind.
class XlsxWorkbook {
public:
    // `sheetName` empty: the library's "Sheet1"; characters a sheet name may not hold ([]:*?/\)
    // become blanks, and it is cut to 31 characters.
    explicit XlsxWorkbook(const QString& path, const QString& sheetName = QString());
    ~XlsxWorkbook();
    XlsxWorkbook(const XlsxWorkbook&) = delete;
    XlsxWorkbook& operator=(const XlsxWorkbook&) = delete;

    // False when the workbook could not be started or a call failed; errorString() says why.
    bool isValid() const { return _error.isEmpty(); }
    QString errorString() const { return _error; }

    // A handle for the write calls; -1 stands for the default format.
    int addFormat(const XlsxFormat& format);
    bool setColumnWidth(int column, double width);
    bool setRowHeight(int row, double height);
    bool setPageSetup(const XlsxPageSetup& page);
    // The text as cellValue() gives it; a text longer than a cell holds is refused, never cut.
    bool writeString(int row, int column, const QString& text, int format = -1);
    // `utf8` of a cellValue() that fits, ended by a NUL.
    bool writeUtf8(int row, int column, const char* utf8, int format = -1);
    bool writeNumber(int row, int column, double value, int format = -1);

    // Excel's limit of characters (UTF-16 units) in one cell.
    static constexpr int maxCellText = 32767;
    enum class LineBreaks { Keep, Blank };
    // `text` as a cell can hold it: a control character other than tab and line breaks becomes
    // U+FFFD (a NUL would end the text, the others come out as "_x0001_"); "\r\n" and "\r" become
    // "\n", or each line break a blank. May be made on any thread.
    static QString cellValue(const QString& text, LineBreaks breaks = LineBreaks::Keep);
    static bool fitsCell(const QString& value) { return value.size() <= maxCellText; }
    // How many parts of workbooks this process packed at the faster level (0 where the library's
    // packing cannot be reached, and the default level is used).
    static int partsPackedFast();
    // The refusal when no room is left for `path`, or in `tempFolder` when given.
    static QString noRoomText(const QString& path, const QString& tempFolder = QString());
    // Writes the file and puts it in place of `path`; false with the reason otherwise.
    bool close(QString* error);
    // Drops everything written so far.
    void discard();

private:
    bool fail(const QString& reason);
    bool failFull(bool tempFolder);
    bool failed(int libraryError, int cause);

    QString _path;
    QString _error;
    QString _tempFolder;
    QByteArray _tempFolderName; // the library may keep the pointer
    std::unique_ptr<ReplacementFile> _temp;
    lxw_workbook* _workbook = nullptr;
    lxw_worksheet* _sheet = nullptr;
    QVector<lxw_format*> _formats;
};
