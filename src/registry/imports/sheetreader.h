#pragma once

#include "importtable.h"

#include <QString>
#include <QStringList>
#include <functional>

// A workbook reader of one file format: opened once, then read sheet by sheet. A reader may open
// and read on a worker thread, one thread at a time.
class SheetReader {
public:
    using Progress = std::function<bool(int percent)>;

    virtual ~SheetReader() = default;

    // Opens the workbook and reads its sheet list. False with a Russian reason a clerk understands
    // (not a workbook, password-protected, damaged, too large). `progress` (may be empty) gets the
    // percent of the parts read while it opens, where the format lets it, and returns false to stop.
    virtual bool open(const QString& path, QString* error, const Progress& progress = {}) = 0;
    virtual QStringList sheetNames() const = 0;
    // Reads sheet `index` (0 is the first). `progress` (may be empty) gets the percent read and
    // returns false to stop, which fails with ImportTable::stoppedText().
    virtual bool readSheet(int index, ImportTable* table, QString* error, const Progress& progress = {}) const = 0;
};
