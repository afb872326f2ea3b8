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

// Makes the functions above known to an open SQLite connection; false (logged) when the driver
// does not allow it.
bool registerFunctions(QSqlDatabase& db);
} // namespace TextMatch
