#pragma once

#include "sheetreader.h"

#include <QScopedPointer>
#include <QStringList>
#include <functional>

// Reads the cells of a workbook (.xlsx): the sheet names, shared and inline strings, numbers,
// booleans, dates by the cell's number format, a formula by its cached value. Bounded against
// hostile files: every part read unpacks to at most ImportTable::maxBytes, at most
// ImportTable::maxRows rows, maxColumns columns and maxCells cells are kept, entities are never
// expanded, a directory or an element too large to be a workbook's is refused (ZipPackage).
// A reader may open and read on a worker thread, one thread at a time.
class XlsxReader : public SheetReader {
public:
    XlsxReader();
    ~XlsxReader() override;
    XlsxReader(const XlsxReader&) = delete;
    XlsxReader& operator=(const XlsxReader&) = delete;

    // Opens the workbook and reads its sheet list, shared strings and styles. False with a Russian
    // reason a clerk understands (not a workbook, password-protected, damaged, too large).
    // `progress` (may be empty) gets the percent of each part read and may stop the open as it
    // stops readSheet.
    bool open(const QString& path, QString* error, const Progress& progress = {}) override;
    QStringList sheetNames() const override;
    // Reads sheet `index` (0 is the first). `progress` (may be empty) gets the percent read and
    // returns false to stop, which fails with the reason "Чтение прервано.".
    bool readSheet(int index, ImportTable* table, QString* error, const Progress& progress = {}) const override;

private:
    struct Private;
    QScopedPointer<Private> d;
};
