#pragma once

#include "filterlisttype.h"
#include "xlsxexport.h"

#include <QList>
#include <QString>

// The registry book of issued certificates: the documents the list shows under the filter panel's
// conditions, in name order, in the ten columns of the paper book.
class RegistryBook {
public:
    // Writes the book to `path`; false with the reason in `error`, or with an empty `error` when
    // `progress` cancels. `path` is replaced only by a complete workbook. Progress counts the listed
    // documents examined, filtered out or not.
    // `failure` says whether the documents or the workbook failed.
    static bool write(const FilterListType& filters, const QString& path, QString* error,
                      const ExportProgress& progress = {}, ExportFailure* failure = nullptr);

    // The ids of the documents the list shows under these filters, ascending; empty, with the
    // reason in `error`, when the documents cannot be read (logged).
    static QList<qint64> shownIds(const FilterListType& filters, QString* error = nullptr);
};
