#include "textmatch.h"

#include "fileschema.h"
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
void sqlSortKey(sqlite3_context* context, int, sqlite3_value** arguments) {
    if (sqlite3_value_type(arguments[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const QByteArray key = TextMatch::sortKey(textArgument(arguments[0])).toUtf8();
    sqlite3_result_text(context, key.constData(), key.size(), SQLITE_TRANSIENT);
}
} // namespace

QString TextMatch::sortKey(const QString& name) {
    QString key = name;
    for (QChar& c : key) {
        const ushort u = c.unicode();
        if ((u >= 'A' && u <= 'Z') || (u >= 0x0410 && u <= 0x042F))
            c = QChar(ushort(u + 0x20));
        else if (u == 0x0401 || u == 0x0451) // Ё, ё
            c = QChar(ushort(0x0435));
    }
    return key;
}

bool TextMatch::registerFunctions(QSqlDatabase& db) {
    sqlite3* connection = FileSchema::sqliteHandle(db);
    if (!connection) {
        MZ_LOG() << "no SQLite handle for the text functions";
        return false;
    }
    int result = sqlite3_create_function_v2(connection, containsFunction, 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                            nullptr, sqlContains, nullptr, nullptr, nullptr);
    if (result == SQLITE_OK)
        result = sqlite3_create_function_v2(connection, sortKeyFunction, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                            sqlSortKey, nullptr, nullptr, nullptr);
    if (result == SQLITE_OK)
        return true;
    MZ_LOG() << "text functions not registered:" << sqlite3_errstr(result);
    return false;
}
