#pragma once

#include <QString>
#include <QStringList>

class QSqlDatabase;

// The order of names in the exports: the Russian alphabet's, with ё as е and letter case ignored,
// the same on the registry file and on the server whatever the server's locale.
namespace NameOrder {
// An ORDER BY list: each of `columns` by its key (TextMatch::sortKey), a missing one first, then
// `idColumn`.
QString orderBy(const QSqlDatabase& db, const QStringList& columns, const QString& idColumn);
} // namespace NameOrder
