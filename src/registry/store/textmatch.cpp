#include "textmatch.h"

#include "database.h"
#include "mzlog.h"

#include <QSqlDatabase>
#include <QVariant>
#include <sqlite3.h>

namespace {
QString textArgument(sqlite3_value* value) {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(value));
    return bytes ? QString::fromUtf8(bytes, sqlite3_value_bytes(value)) : QString();
}

void sqlContains(sqlite3_context* context, int, sqlite3_value** arguments) {
    sqlite3_result_int(context, TextMatch::contains(textArgument(arguments[0]), textArgument(arguments[1])) ? 1 : 0);
}
} // namespace

bool TextMatch::registerFunctions(QSqlDatabase& db) {
    sqlite3* connection = Database::sqliteHandle(db);
    if (!connection) {
        MZ_LOG() << "no SQLite handle for the text functions";
        return false;
    }
    const int result = sqlite3_create_function_v2(connection, containsFunction, 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                                  nullptr, sqlContains, nullptr, nullptr, nullptr);
    if (result == SQLITE_OK)
        return true;
    MZ_LOG() << "text functions not registered:" << sqlite3_errstr(result);
    return false;
}
