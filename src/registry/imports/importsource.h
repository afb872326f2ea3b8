#pragma once

#include "importtable.h"

#include <QScopedPointer>
#include <QString>
#include <QStringList>
#include <functional>

// A group list as a clerk brings it: a file recognised by its first bytes, not its name (a
// workbook, an OpenDocument spreadsheet, an old Excel workbook or a text table), opened once and
// read sheet by sheet. A text has no sheet names and one table (sheet 0). A source may open and
// read on a worker thread, one thread at a time.
class ImportSource {
public:
    enum class Kind { Unknown, Text, Xlsx, Ods, Xls };
    using Progress = std::function<bool(int percent)>;

    ImportSource();
    ~ImportSource();
    ImportSource(const ImportSource&) = delete;
    ImportSource& operator=(const ImportSource&) = delete;

    // The kind of the file by its content; Unknown when it cannot be read or is a zip of no
    // spreadsheet (a document, an archive).
    static Kind detect(const QString& path);

    // Recognises the file and opens it (a workbook's sheet list; nothing is read of a text yet).
    // False with a Russian reason a clerk understands. `progress` (may be empty) gets the percent
    // of the workbook's parts read while it opens and returns false to stop.
    bool open(const QString& path, QString* error, const Progress& progress = {});
    Kind kind() const;
    // The workbook's sheet names; empty for a text.
    QStringList sheetNames() const;
    // Reads sheet `index` (0 is the first; a text has only 0). `progress` (may be empty) gets the
    // percent read and returns false to stop, which fails with ImportTable::stoppedText().
    bool readSheet(int index, ImportTable* table, QString* error, const Progress& progress = {}) const;

private:
    // The kind, and for a zip of no spreadsheet what it seems to be.
    static Kind detect(const QString& path, QString* refusal);
    struct Private;
    QScopedPointer<Private> d;
};
