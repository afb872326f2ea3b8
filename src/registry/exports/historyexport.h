#pragma once

#include "historyjournal.h"
#include "xlsxexport.h"

#include <QString>
#include <QStringList>

// The journal's entries that a filter lets through, written to a workbook newest first: one row
// per entry, the changes on one line, as the journal window shows them.
class HistoryExport {
public:
    // Rows read from the registry between two progress reports.
    static constexpr int pageRows = 1000;
    // Rows a sheet holds below its header.
    static constexpr int maxRows = 1048575;

    // The sheet's and the journal window's columns: when, who, action, document, name, number, changes.
    static QStringList headers();

    // False with the reason in `error` when the entries cannot be read or the workbook written;
    // false with an empty `error` when `progress` cancels (its total is 0: not known ahead). `path`
    // is replaced only by a complete workbook. The number of rows written in `rows`.
    static bool write(const HistoryJournal::Filter& filter, const QString& path, QString* error,
                      const ExportProgress& progress = {}, qint64* rows = nullptr);
};
