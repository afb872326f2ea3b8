#pragma once

#include "sheetreader.h"

#include <QScopedPointer>
#include <QStringList>
#include <functional>

// Reads the cells of an old Excel workbook (.xls, BIFF5 or BIFF8 in a compound file) through
// libfreexl: the worksheets' names (chart and macro sheets left out), texts, numbers, dates and
// date-times by the cell's format (as dates), and the values saved with formulas, which libfreexl
// passes over. A boolean comes as the number 1 or 0. Before libfreexl opens a workbook, a file over
// ImportTable::maxBytes, or whose sheets declare more than 2 * maxCells cells (which libfreexl
// would allocate), is refused; at most maxRows rows, maxColumns columns and maxCells cells are
// kept. A reader may open and read on a worker thread, one thread at a time.
class XlsReader : public SheetReader {
public:
    XlsReader();
    ~XlsReader() override;
    XlsReader(const XlsReader&) = delete;
    XlsReader& operator=(const XlsReader&) = delete;

    // Opens the workbook and reads its sheet list. False with a Russian reason a clerk understands
    // (not a workbook, password-protected, damaged, too large).
    bool open(const QString& path, QString* error, const Progress& progress = {}) override;
    QStringList sheetNames() const override;
    // Reads sheet `index` (0 is the first worksheet). `progress` (may be empty) gets the percent
    // read and returns false to stop, which fails with the reason "Чтение прервано.".
    bool readSheet(int index, ImportTable* table, QString* error, const Progress& progress = {}) const override;

    // The reason given for a workbook locked by a password, whichever format it was saved in.
    static QString protectedText();

private:
    struct Private;
    QScopedPointer<Private> d;
};
