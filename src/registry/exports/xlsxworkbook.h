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

// One workbook with its one sheet, written in constant memory: rows go out in increasing order,
// and a row's height must be set before its first cell is written. Rows and columns count from 0.
//
// The workbook is written beside `path` under a temporary name and replaces `path` only when
// close() succeeds; a workbook destroyed or discarded before that leaves `path` as it was and no
// file behind.
class XlsxWorkbook {
public:
    // `sheetName` empty: the library's "Sheet1"; else at most 31 characters, none of []:*?/\.
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
    // Texts longer than a cell can hold are cut to the cell's limit.
    bool writeString(int row, int column, const QString& text, int format = -1);
    // `utf8` as cellText() gives it, ended by a NUL.
    bool writeUtf8(int row, int column, const char* utf8, int format = -1);
    bool writeNumber(int row, int column, double value, int format = -1);

    // The UTF-8 of `text` cut to what a cell holds; may be made on any thread.
    static QByteArray cellText(const QString& text);
    // How many parts of workbooks this process packed at the faster level (0 where the library's
    // packing cannot be reached, and the default level is used).
    static int partsPackedFast();
    // Writes the file and puts it in place of `path`; false with the reason otherwise.
    bool close(QString* error);
    // Drops everything written so far.
    void discard();

private:
    bool fail(const QString& reason);

    QString _path;
    QString _error;
    std::unique_ptr<ReplacementFile> _temp;
    lxw_workbook* _workbook = nullptr;
    lxw_worksheet* _sheet = nullptr;
    QVector<lxw_format*> _formats;
};
