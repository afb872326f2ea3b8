#include "serverprivileges.h"

#include "mzlog.h"
#include "storequery.h"

#include <QSqlQuery>
#include <QVariant>

namespace {
// The triggers of every document change add rows to the list's change log as well.
const QString listLogTable = QStringLiteral("orvane_list_log");

const QStringList allWrites = {QStringLiteral("INSERT"), QStringLiteral("UPDATE"), QStringLiteral("DELETE")};
const QStringList addsOnly = {QStringLiteral("INSERT")};

// The server keeps the registry's unquoted names in lower case, in the schema public.
QString qualified(const QString& table) {
    return QStringLiteral("public.") + table.toLower();
}

bool hasIntegerKey(const DBTable& table) {
    const DBColumn* key = table.column(table.sequence_col);
    return key && key->type.contains(QLatin1String("INT"), Qt::CaseInsensitive);
}
} // namespace

bool ServerPrivileges::read(QSqlDatabase& db, const QMap<QString, DBTable>& tables, QString* error) {
    _missing.clear();
    // The history too: within one transaction the server's triggers rewrite or drop the entry they
    // added, so every save needs all three rights on it.
    for (const DBTable& table : tables) {
        if (!check(db, table.name, allWrites, error))
            return false;
        if (hasIntegerKey(table) && !checkSequence(db, table.name, table.sequence_col, error))
            return false;
    }
    if (!check(db, listLogTable, addsOnly, error))
        return false;
    if (!_missing.isEmpty())
        MZ_LOG() << "the login may not write the registry:" << _missing.join(QStringLiteral(", "));
    return true;
}

bool ServerPrivileges::check(QSqlDatabase& db, const QString& table, const QStringList& rights, QString* error) {
    QSqlQuery query(db);
    // A table the login cannot see at all is one it cannot write either.
    query.prepare(QStringLiteral("SELECT to_regclass(?) IS NOT NULL AND has_table_privilege(to_regclass(?), ?)"));
    for (const QString& right : rights) {
        query.addBindValue(qualified(table));
        query.addBindValue(qualified(table));
        query.addBindValue(right);
        if (!query.exec() || !query.next())
            return StoreQuery::failed(query, error);
        if (!query.value(0).toBool())
            _missing << QStringLiteral("%1 ON %2").arg(right, table.toLower());
    }
    return true;
}

// The sequence behind an identity key numbers the rows a save adds.
bool ServerPrivileges::checkSequence(QSqlDatabase& db, const QString& table, const QString& key, QString* error) {
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT s, has_sequence_privilege(s, 'USAGE') FROM "
                                 "(SELECT pg_get_serial_sequence(?, ?) AS s) AS q WHERE s IS NOT NULL"));
    query.addBindValue(qualified(table));
    query.addBindValue(key.toLower());
    if (!query.exec())
        return StoreQuery::failed(query, error);
    if (query.next() && !query.value(1).toBool())
        _missing << QStringLiteral("USAGE ON %1").arg(query.value(0).toString());
    return true;
}

QString ServerPrivileges::readOnlyText(const QString& login) {
    return QStringLiteral("Реестр открыт только для чтения: пользователю %1 на сервере разрешено читать реестр, "
                          "но не изменять его. Документы можно просматривать, печатать и выгружать в Excel. "
                          "Право на изменение даёт администратор сервера реестра.")
        .arg(login);
}
