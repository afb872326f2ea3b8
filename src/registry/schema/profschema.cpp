#include "profschema.h"

namespace {
const QString integer = QStringLiteral("INTEGER");
const QString text = QStringLiteral("TEXT");
const QString notNull = QStringLiteral("NOT NULL");

// One column per entry: name, type, constraint, copyable.
struct ColumnDef {
    const char* name;
    const QString& type;
    bool notNull;
    bool copyable;
};

DBTable table(const char* name, const char* key, bool isMain, bool isAdditional,
              std::initializer_list<ColumnDef> defs) {
    DBTable t;
    t.name = QString::fromLatin1(name);
    t.sequence_col = QString::fromLatin1(key);
    t.isMainTable = isMain;
    t.isAdditionalTable = isAdditional;
    for (const ColumnDef& s : defs)
        t.columns.append(DBColumn{QString::fromLatin1(s.name), s.type, s.notNull ? notNull : QString(), s.copyable});
    return t;
}

DBTable profDocuments() {
    return table("ProfDocuments", "profId", true, false,
                 {{"profId", integer, true, false},
                  {"isTemplate", integer, false, true},
                  {"isDuplicate", integer, false, true},
                  {"isExcellent", integer, false, true},
                  {"fio1", text, false, false},
                  {"fio2", text, false, false},
                  {"fio3", text, false, false},
                  {"birthDate", text, false, true},
                  {"prevEducation", text, false, true},
                  {"certificateType", integer, false, true},
                  {"profession", text, false, true},
                  {"qual", text, false, true},
                  {"protocolNumber", text, false, true},
                  {"protocolDate", text, false, true},
                  {"regNumber", text, false, false},
                  {"issueDate", text, false, true},
                  {"comment", text, false, true},
                  {"editDate", text, false, true},
                  {"attNumber", text, false, false},
                  {"addInfo", text, false, true},
                  {"showTotalCount", integer, false, true},
                  {"hideTotalCountInAdd", integer, false, true},
                  {"profProgName", text, false, true},
                  {"startDate", text, false, true},
                  {"finishDate", text, false, true}});
}

DBTable profDetails() {
    return table("ProfDetails", "detId", false, true,
                 {{"detId", integer, true, false},
                  {"profId", integer, true, false},
                  {"name", text, false, true},
                  {"count", integer, false, true},
                  {"rate", text, false, true}});
}

DBTable bosses() {
    return table("Bosses", "bossId", false, false,
                 {{"bossId", integer, true, false}, {"bossType", integer, true, false}, {"name", text, false, true}});
}

DBTable variables() {
    return table("Variables", "Name", false, false, {{"Name", text, false, true}, {"Value", text, false, true}});
}

DBTable profFrdo() {
    return table("ProfFrdo", "profId", false, true,
                 {{"profId", integer, true, false},
                  {"sexIsMale", integer, false, true},
                  {"snils", text, false, false},
                  {"studyPeriod", text, false, true},
                  {"docSerial", text, false, false},
                  {"docNumber", text, false, false},
                  {"RegNumberFrdo", text, false, false},
                  {"docName", text, false, true},
                  {"docType", text, false, true},
                  {"educationLevel", text, false, true},
                  {"StateDuplicate", integer, false, true},
                  {"docNameOrig", text, false, true},
                  {"issueDateOrig", text, false, true},
                  // Numbers of the original are texts: "000123" keeps its zeros.
                  {"docSerialOrig", text, false, false},
                  {"docNumberOrig", text, false, false},
                  {"regNumberOrig", text, false, false},
                  {"fio1orig", text, false, true},
                  {"fio2orig", text, false, true},
                  {"fio3orig", text, false, true},
                  {"studyCount", integer, false, true},
                  {"frdo13", text, false, true},
                  {"frdo14", text, false, true},
                  {"frdo15", text, false, true},
                  {"frdo16", text, false, true},
                  {"frdo18", text, false, true},
                  {"frdo19", text, false, true},
                  {"frdo20", text, false, true},
                  {"birthDateFrdo", text, false, false},
                  {"beginDate", text, false, true},
                  {"endDate", text, false, true},
                  {"issueDateFrdo", text, false, true},
                  {"frdo21", text, false, true},
                  {"frdo22", text, false, true},
                  {"frdo23", text, false, true},
                  {"frdo24", text, false, true}});
}

// One entry per change of one document: who, when, what kind, the changed fields as a JSON array
// and, for a deletion, everything the document held as a JSON object. Entries outlive their
// document, so profId is no foreign key. xact groups the writes of one server transaction.
DBTable documentHistory() {
    return table("DocumentHistory", "historyId", false, false,
                 {{"historyId", integer, true, false},
                  {"profId", integer, true, false},
                  {"changedAt", text, true, false},
                  {"kind", text, true, false},
                  {"login", text, false, false},
                  {"osUser", text, false, false},
                  {"host", text, false, false},
                  {"source", text, false, false},
                  {"docName", text, false, false},
                  {"attNumber", text, false, false},
                  {"changes", text, false, false},
                  {"snapshot", text, false, false},
                  {"xact", integer, false, false}});
}
} // namespace

QMap<QString, DBTable> ProfSchema::tables() {
    QMap<QString, DBTable> tables;
    for (const DBTable& t : {profDocuments(), profDetails(), bosses(), variables(), profFrdo(), documentHistory()})
        tables.insert(t.name, t);
    return tables;
}

QString ProfSchema::mainPrimaryKeyName() {
    return QStringLiteral("profId");
}
