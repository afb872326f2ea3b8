#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

// The filter panel's conditions, in order: "dateFrom"/"dateTo" and "editDateFrom"/"editDateTo"
// (dates, present only while their range is switched on), then "fio" and "qual" (trimmed texts,
// always present, empty for no filter).
using FilterListType = QList<QPair<QString, QVariant>>;
Q_DECLARE_METATYPE(FilterListType)
