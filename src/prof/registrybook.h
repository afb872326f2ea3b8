#pragma once

#include "modules/filterlisttype.h"
#include "modules/xlsx/xlsxexport.h"

#include <QList>
#include <QString>

// The registry book of issued certificates: the documents the list shows under the filter panel's
// conditions, in name order, in the ten columns of the paper book.
class RegistryBook {
public:
    // Writes the book to `path`; false with the reason in `error`, or with an empty `error` when
    // `progress` cancels. `path` is replaced only by a complete workbook. Progress counts the listed
    // documents examined, filtered out or not.
    static bool write(const FilterListType& filters, const QString& path, QString* error,
                      const ExportProgress& progress = {});

    // The ids of the documents the list shows under these filters, ascending; empty when the
    // documents cannot be read (logged).
    static QList<int> shownIds(const FilterListType& filters);
};
