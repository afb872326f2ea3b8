#include "nameorder.h"

#include "sqldialect.h"
#include "textmatch.h"

#include <QSqlDatabase>

namespace {
const QString upper = QStringLiteral("АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯёABCDEFGHIJKLMNOPQRSTUVWXYZ");
const QString lower = QStringLiteral("абвгдеежзийклмнопрстуфхцчшщъыьэюяеabcdefghijklmnopqrstuvwxyz");

// The server's lower() folds Cyrillic only under a Russian locale, and its collation would order
// by that locale's rules: translate() and the byte order give the file's order on every server.
QString keySql(const QSqlDatabase& db, const QString& column) {
    if (SqlDialect::isServer(db))
        return QStringLiteral("translate(%1, '%2', '%3') COLLATE \"C\"").arg(column, upper, lower);
    return QStringLiteral("%1(%2)").arg(QLatin1String(TextMatch::sortKeyFunction), column);
}
} // namespace

QString NameOrder::orderBy(const QSqlDatabase& db, const QStringList& columns, const QString& idColumn) {
    QStringList terms;
    for (const QString& column : columns)
        terms << keySql(db, column) + QStringLiteral(" NULLS FIRST");
    terms << idColumn;
    return terms.join(QStringLiteral(", "));
}
