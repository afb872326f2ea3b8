#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

// The filter panel's conditions, in order: "dateFrom"/"dateTo" and "editDateFrom"/"editDateTo"
// (dates, present only while their range is switched on), then "fio" and "qual" (trimmed texts,
// always present, empty for no filter).
using FilterListType = QList<QPair<QString, QVariant>>;

// The keys of a filter list.
namespace FilterKeys {
inline const QString dateFrom = QStringLiteral("dateFrom");
inline const QString dateTo = QStringLiteral("dateTo");
inline const QString editDateFrom = QStringLiteral("editDateFrom");
inline const QString editDateTo = QStringLiteral("editDateTo");
inline const QString fio = QStringLiteral("fio");
inline const QString qual = QStringLiteral("qual");
} // namespace FilterKeys
Q_DECLARE_METATYPE(FilterListType)
