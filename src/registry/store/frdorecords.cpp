#include "frdorecords.h"

#include "edittransaction.h"
#include "storequery.h"

#include <QSqlQuery>
#include <QSqlRecord>

namespace {
// Each column with the parameter the statement names it by.
const struct {
    const char* column;
    const char* parameter;
} bindings[] = {
    {"DocNumber", ":DocNumber"},
    {"DocSerial", ":DocSerial"},
    {"RegNumberFrdo", ":RegNumber"},
    {"snils", ":snils"},
    {"DocNameOrig", ":DocNameOrig"},
    {"studyCount", ":studyCount"},
    {"DocNumberOrig", ":DocNumberOrig"},
    {"DocSerialOrig", ":DocSerialOrig"},
    {"RegNumberOrig", ":RegNumberOrig"},
    {"DocType", ":DocType"},
    {"issueDateOrig", ":issueDateOrig"},
    {"StateDuplicate", ":StateDuplicate"},
    {"SexIsMale", ":SexIsMale"},
    {"fio1orig", ":fio1orig"},
    {"fio2orig", ":fio2orig"},
    {"fio3orig", ":fio3orig"},
    {"frdo13", ":frdo13"},
    {"frdo14", ":frdo14"},
    {"frdo15", ":frdo15"},
    {"frdo16", ":frdo16"},
    {"frdo18", ":frdo18"},
    {"frdo19", ":frdo19"},
    {"frdo20", ":frdo20"},
    {"frdo21", ":frdo21"},
    {"frdo22", ":frdo22"},
    {"frdo23", ":frdo23"},
    {"frdo24", ":frdo24"},
    {"birthDateFrdo", ":birthDate"},
    {"beginDate", ":beginDate"},
    {"endDate", ":endDate"},
    {"issueDateFrdo", ":issueDate"},
};

bool update(qint64 profId, const QVariantMap& values, QString* error);
} // namespace

QStringList FrdoRecords::columns() {
    QStringList names;
    for (const auto& binding : bindings)
        names << QLatin1String(binding.column);
    return names;
}

bool FrdoRecords::read(qint64 profId, QSqlRecord* row, QString* error) {
    return StoreQuery::readDocumentRow(QStringLiteral("ProfFrdo"), profId, row, error);
}

bool FrdoRecords::ensureRow(qint64 profId, QString* error) {
    QSqlQuery query =
        StoreQuery::prepared(QStringLiteral("INSERT INTO ProfFrdo (profId) VALUES(:profId) ON CONFLICT DO NOTHING;"));
    query.bindValue(QStringLiteral(":profId"), profId);
    return StoreQuery::write(query, error);
}

bool FrdoRecords::write(qint64 profId, const QVariantMap& values, QString* error) {
    // A row made for an update that then fails must not stay behind.
    return EditTransaction::atomically([&] { return ensureRow(profId, error) && update(profId, values, error); },
                                       error);
}

namespace {
bool update(qint64 profId, const QVariantMap& values, QString* error) {
    QSqlQuery query = StoreQuery::prepared(QStringLiteral(
        "UPDATE ProfFrdo SET DocNumber=:DocNumber, DocSerial=:DocSerial, RegNumberFrdo=:RegNumber, snils=:snils, "
        "DocNameOrig=:DocNameOrig,  studyCount=:studyCount, DocNumberOrig=:DocNumberOrig, "
        "DocSerialOrig=:DocSerialOrig, RegNumberOrig=:RegNumberOrig,  DocType=:DocType, "
        "issueDateOrig=:issueDateOrig, StateDuplicate=:StateDuplicate, SexIsMale=:SexIsMale,  fio1orig =:fio1orig, "
        "fio2orig =:fio2orig, fio3orig =:fio3orig, frdo13=:frdo13, frdo14=:frdo14, frdo15=:frdo15,  frdo16=:frdo16, "
        "frdo18=:frdo18, frdo19=:frdo19, frdo20=:frdo20, frdo21=:frdo21, frdo22=:frdo22, frdo23=:frdo23, "
        "frdo24=:frdo24, birthDateFrdo=:birthDate, beginDate=:beginDate,  endDate=:endDate, "
        "issueDateFrdo=:issueDate WHERE profId=:profId;"));
    for (const auto& binding : bindings)
        query.bindValue(QLatin1String(binding.parameter), values.value(QLatin1String(binding.column)));
    query.bindValue(QStringLiteral(":profId"), profId);
    return StoreQuery::write(query, error);
}
} // namespace
