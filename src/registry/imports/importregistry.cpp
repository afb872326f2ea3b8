#include "importregistry.h"

#include "mzlog.h"
#include "snils.h"
#include "sqldialect.h"
#include "storequery.h"
#include "valuetext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {
const QString people = QStringLiteral("SELECT d.profId, d.fio1, d.fio2, d.fio3, d.birthDate, f.snils FROM ");
const QString notTemplate = QStringLiteral(" COALESCE(d.isTemplate, 0) != 1 ");

// The rows of a JSON array of texts bound at `placeholder`, in the column "value".
QString textsFromJson(const QString& placeholder) {
    if (SqlDialect::isServer())
        return QStringLiteral("SELECT value FROM json_array_elements_text(CAST(%1 AS json))").arg(placeholder);
    return QStringLiteral("SELECT value FROM json_each(%1)").arg(placeholder);
}

// The spellings a name is likely stored in: an indexed lookup compares exactly.
QStringList nameSpellings(const QString& name) {
    const QString lower = name.toLower();
    QStringList spellings{name, lower, name.toUpper(), lower.left(1).toUpper() + lower.mid(1)};
    for (int i = 0, count = spellings.size(); i < count; ++i)
        if (spellings.at(i).contains(QChar(0x0451)) || spellings.at(i).contains(QChar(0x0401)))
            spellings
                << QString(spellings.at(i)).replace(QChar(0x0451), QChar(0x0435)).replace(QChar(0x0401), QChar(0x0415));
    spellings.removeDuplicates();
    return spellings;
}

// The SNILS as it is stored: the FRDO dialog and the import keep the digits, older rows the
// written form.
QStringList snilsSpellings(const QString& digits) {
    return {digits,
            QStringLiteral("%1-%2-%3 %4").arg(digits.mid(0, 3), digits.mid(3, 3), digits.mid(6, 3), digits.mid(9))};
}
} // namespace

bool ImportRegistry::update(const QVector<ImportDocument>& documents, const ImportOptions& options, QString* error) {
    QStringList surnames, names, snils, regNumbers;
    for (const ImportDocument& document : documents) {
        if (!document.included)
            continue;
        const RegistryPerson person = ImportPlan::personOf(document, options);
        const QString surname = person.surname.simplified(), name = person.name.simplified();
        // Without a first name the document cannot be imported, let alone be someone's second.
        const QString key = surname + QChar(0x1f) + name;
        if (!surname.isEmpty() && !name.isEmpty() && !_askedNames.contains(key)) {
            _askedNames.insert(key);
            surnames += nameSpellings(surname);
            names += nameSpellings(name);
        }
        if (!person.snils.isEmpty() && !_askedSnils.contains(person.snils)) {
            _askedSnils.insert(person.snils);
            snils += snilsSpellings(person.snils);
        }
        const QString regNumber = document.effectiveText(ImportField::RegNumber, options);
        if (!regNumber.isEmpty() && !_askedRegNumbers.contains(regNumber)) {
            _askedRegNumbers.insert(regNumber);
            regNumbers << regNumber;
        }
    }
    surnames.removeDuplicates();
    names.removeDuplicates();
    const bool read = (surnames.isEmpty() || findPeople({surnames, names}, error)) &&
                      (snils.isEmpty() || findPeople({snils}, error)) &&
                      (regNumbers.isEmpty() || findRegNumbers(regNumbers, error));
    if (!read) {
        // Asked again next time.
        _askedNames.clear();
        _askedSnils.clear();
        _askedRegNumbers.clear();
        _found.clear();
        _matches = RegistryMatches();
    }
    return read;
}

// By SNILS when given one list, by surname (indexed) and first name when given two.
bool ImportRegistry::findPeople(const QList<QStringList>& values, QString* error) {
    const QString texts = textsFromJson(QStringLiteral("?"));
    const QString sql =
        values.size() == 1
            ? people + QStringLiteral("ProfFrdo f INNER JOIN ProfDocuments d ON d.profId = f.profId WHERE") +
                  notTemplate + QStringLiteral("AND f.snils IN (%1)").arg(texts)
            : people + QStringLiteral("ProfDocuments d LEFT JOIN ProfFrdo f ON f.profId = d.profId WHERE") +
                  notTemplate + QStringLiteral("AND d.fio1 IN (%1) AND d.fio2 IN (%1)").arg(texts);
    return select(
        sql, values,
        [this](QSqlQuery& query) {
            const qint64 id = query.value(0).toLongLong();
            if (_found.contains(id))
                return;
            _found.insert(id);
            RegistryPerson person;
            person.surname = query.value(1).toString();
            person.name = query.value(2).toString();
            person.patronymic = query.value(3).toString();
            person.birthDate = ValueText::dateFromValue(query.value(4));
            const QString snils = query.value(5).toString();
            if (Snils::isValid(snils))
                person.snils = Snils::digits(snils);
            _matches.people.append(person);
        },
        error);
}

bool ImportRegistry::findRegNumbers(const QStringList& values, QString* error) {
    const QString sql = QStringLiteral("SELECT d.regNumber FROM ProfDocuments d WHERE") + notTemplate +
                        QStringLiteral("AND d.regNumber IN (%1)").arg(textsFromJson(QStringLiteral("?")));
    return select(
        sql, {values}, [this](QSqlQuery& query) { _matches.regNumbers.insert(query.value(0).toString()); }, error);
}

bool ImportRegistry::select(const QString& sql, const QList<QStringList>& values,
                            const std::function<void(QSqlQuery&)>& take, QString* error) {
    QSqlQuery query(QSqlDatabase::database());
    query.setForwardOnly(true);
    if (!query.prepare(sql)) {
        MZ_LOG() << StoreQuery::reasonOf(query) << sql;
        StoreQuery::keep(error, StoreQuery::reasonOf(query));
        return false;
    }
    for (const QStringList& list : values)
        query.addBindValue(
            QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(list)).toJson(QJsonDocument::Compact)));
    if (!StoreQuery::exec(query)) {
        MZ_LOG() << StoreQuery::reasonOf(query);
        StoreQuery::keep(error, StoreQuery::reasonOf(query));
        return false;
    }
    while (query.next())
        take(query);
    if (query.lastError().isValid()) {
        StoreQuery::keep(error, StoreQuery::reasonOf(query));
        return false;
    }
    return true;
}
