#pragma once

#include "xlsxexport.h"

#include <QList>
#include <QString>

// The registry book of issued certificates: the documents the list shows, in name order, in the
// ten columns of the paper book.
class RegistryBook {
public:
    // Writes the book of the listed documents among `ids` (those the list shows, as the list or
    // DocumentFilter::shownIds() gives them) to `path`; false with the reason in `error`, or with
    // an empty `error` when `progress` cancels. `path` is replaced only by a complete workbook.
    // Progress counts the listed documents examined, written or not.
    // `failure` says whether the documents or the workbook failed.
    static bool write(const QList<qint64>& ids, const QString& path, QString* error,
                      const ExportProgress& progress = {}, ExportFailure* failure = nullptr);
};
