#include "organisationdata.h"

#include "database.h"
#include "mzlog.h"
#include "savepoint.h"
#include "storequery.h"

namespace {
const QString savepoint = QStringLiteral("organisation");
} // namespace

QString OrganisationData::value(const QString& name, QString* error) {
    if (!Database::hasInstance()) {
        StoreQuery::keep(error, StoreQuery::notOpenText());
        return QString();
    }
    return Database::instance()->variable(name, error);
}

bool OrganisationData::write(const QVector<QPair<QString, QString>>& values, QString* error) {
    if (!Database::hasInstance()) {
        StoreQuery::keep(error, StoreQuery::notOpenText());
        return false;
    }
    Database* db = Database::instance();
    QString why;
    const bool saved = Savepoint::write(
        savepoint,
        [&] {
            for (const auto& value : values)
                if (!db->setVariable(value.first, value.second, &why))
                    return false;
            return true;
        },
        &why);
    if (!saved) {
        MZ_LOG() << "organisation data not saved" << why;
        StoreQuery::keep(error, why);
    }
    return saved;
}
