#pragma once

#include <QString>
#include <QStringView>

class QSqlDatabase;

// The one case-insensitive "contains" of the registry. The document list filters with it, and the
// SQL that must select the same rows (the registry book) calls it as the SQL function
// containsFunction, which SQLite's own LOWER and LIKE could not replace: they fold only ASCII.
namespace TextMatch {
inline bool contains(QStringView text, QStringView part) {
    return text.contains(part, Qt::CaseInsensitive);
}
inline bool contains(const QString& text, const QString& part) {
    return contains(QStringView(text), QStringView(part));
}

// "orvane_contains(text, part)": 1 when `text` contains `part` as contains() says, else 0; NULL
// arguments count as empty texts.
constexpr const char* containsFunction = "orvane_contains";

// The key names are sorted by in the exports: А-Я, Ё and A-Z to lower case, ё and Ё to е, nothing
// else, so that the bytes of the keys order names as the Russian alphabet does. The server gets
// the same key from translate() (see NameOrder).
QString sortKey(const QString& name);
// "orvane_sort_key(text)": sortKey() of `text`; NULL stays NULL.
constexpr const char* sortKeyFunction = "orvane_sort_key";

// Makes the functions above known to an open SQLite connection; false (logged) when the driver
// does not allow it.
bool registerFunctions(QSqlDatabase& db);
} // namespace TextMatch
