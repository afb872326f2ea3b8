#pragma once

#include "sheetreader.h"

#include <QScopedPointer>
#include <QStringList>
#include <functional>

// Reads the cells of an OpenDocument spreadsheet (.ods): the sheet names, texts (paragraphs,
// spans, blanks, tabs and line breaks), numbers, percentages and currency amounts, dates,
// booleans; a merged range's covered cells keep their places. Bounded against hostile files as
// XlsxReader is: every part unpacks to at most ImportTable::maxBytes, at most maxRows rows,
// maxColumns columns and maxCells cells are kept, repeated empty rows and cells cost nothing,
// entities are never expanded. A reader may open and read on a worker thread, one thread at a
// time.
class OdsReader : public SheetReader {
public:
    OdsReader();
    ~OdsReader() override;
    OdsReader(const OdsReader&) = delete;
    OdsReader& operator=(const OdsReader&) = delete;

    // Opens the spreadsheet and reads its sheet list. False with a Russian reason a clerk
    // understands. `progress` (may be empty) gets the percent read and returns false to stop.
    bool open(const QString& path, QString* error, const Progress& progress = {}) override;
    QStringList sheetNames() const override;
    // Reads sheet `index` (0 is the first). `progress` (may be empty) gets the percent read and
    // returns false to stop, which fails with ImportTable::stoppedText().
    bool readSheet(int index, ImportTable* table, QString* error, const Progress& progress = {}) const override;

private:
    struct Private;
    QScopedPointer<Private> d;
};
