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

// The rows of a JSON array of [surname, name] pairs bound at `placeholder`.
QString namesFromJson(const QString& placeholder) {
    if (SqlDialect::isServer())
        return QStringLiteral("SELECT value->>0 AS surname, value->>1 AS name FROM json_array_elements(CAST(%1 AS "
                              "json))")
            .arg(placeholder);
    return QStringLiteral("SELECT json_extract(value, '$[0]') AS surname, json_extract(value, '$[1]') AS name FROM "
                          "json_each(%1)")
        .arg(placeholder);
}

QString capitalised(const QString& text) {
    const QString lower = text.toLower();
    return lower.left(1).toUpper() + lower.mid(1);
}

QString withoutYo(QString text) {
    return text.replace(QChar(0x0451), QChar(0x0435)).replace(QChar(0x0401), QChar(0x0415));
}

// The spellings a surname and first name are likely stored in, as [surname, name] pairs: the
// indexed lookup compares exactly.
void addNameSpellings(const QString& surname, const QString& name, QSet<QString>* seen, QJsonArray* pairs) {
    const QPair<QString, QString> forms[] = {{surname, name},
                                             {surname.toLower(), name.toLower()},
                                             {surname.toUpper(), name.toUpper()},
                                             {capitalised(surname), capitalised(name)}};
    for (const auto& form : forms) {
        const QString surnameYe = withoutYo(form.first), nameYe = withoutYo(form.second);
        for (const auto& pair :
             {form, qMakePair(surnameYe, form.second), qMakePair(form.first, nameYe), qMakePair(surnameYe, nameYe)}) {
            const QString key = pair.first + QChar(0x1f) + pair.second;
            if (seen->contains(key))
                continue;
            seen->insert(key);
            pairs->append(QJsonArray{pair.first, pair.second});
        }
    }
}

// The SNILS as it is stored: the FRDO dialog and the import keep the digits, older rows the
// written form.
QStringList snilsSpellings(const QString& digits) {
    return {digits, Snils::written(digits)};
}
} // namespace

bool ImportRegistry::update(const QVector<ImportDocument>& documents, const ImportOptions& options, QString* error) {
    QJsonArray names;
    QSet<QString> spelt;
    QStringList snils, regNumbers;
    for (const ImportDocument& document : documents) {
        if (!document.included)
            continue;
        const RegistryPerson person = ImportPlan::personOf(document, options);
        const QString surname = person.surname.simplified(), name = person.name.simplified();
        // Without a first name the document cannot be imported, let alone be someone's second.
        const QString key = surname + QChar(0x1f) + name;
        if (!surname.isEmpty() && !name.isEmpty() && !_askedNames.contains(key)) {
            _askedNames.insert(key);
            addNameSpellings(surname, name, &spelt, &names);
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
    const QString byName = people +
                           QStringLiteral("(%1) w INNER JOIN ProfDocuments d ON d.fio1 = w.surname AND d.fio2 = w.name "
                                          "LEFT JOIN ProfFrdo f ON f.profId = d.profId WHERE")
                               .arg(namesFromJson(QStringLiteral("?"))) +
                           notTemplate;
    const QString bySnils = people +
                            QStringLiteral("ProfFrdo f INNER JOIN ProfDocuments d ON d.profId = f.profId WHERE") +
                            notTemplate + QStringLiteral("AND f.snils IN (%1)").arg(textsFromJson(QStringLiteral("?")));
    const bool read = (names.isEmpty() || findPeople(byName, names, error)) &&
                      (snils.isEmpty() || findPeople(bySnils, QJsonArray::fromStringList(snils), error)) &&
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

bool ImportRegistry::findPeople(const QString& sql, const QJsonArray& values, QString* error) {
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
        sql, QJsonArray::fromStringList(values),
        [this](QSqlQuery& query) { _matches.regNumbers.insert(query.value(0).toString()); }, error);
}

bool ImportRegistry::select(const QString& sql, const QJsonArray& values, const std::function<void(QSqlQuery&)>& take,
                            QString* error) {
    QSqlQuery query(QSqlDatabase::database());
    query.setForwardOnly(true);
    if (!StoreQuery::prepare(query, sql, error))
        return false;
    query.addBindValue(QString::fromUtf8(QJsonDocument(values).toJson(QJsonDocument::Compact)));
    if (!StoreQuery::write(query, error))
        return false;
    while (query.next())
        take(query);
    if (query.lastError().isValid())
        return StoreQuery::fail(error, StoreQuery::reasonOf(query));
    return true;
}
