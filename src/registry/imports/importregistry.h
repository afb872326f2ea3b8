#pragma once

#include "importplan.h"

#include <QSet>
#include <QString>
#include <functional>

class QJsonArray;
class QSqlQuery;

// The registry's side of an import's checks of people and registration numbers: the documents
// that share a surname and first name or a SNILS with the imported ones, and which of the imported registration
// numbers the registry holds. Only what the table names is looked up, by index, once: an edit in
// the preview asks only for what is new, so that a registry of a million documents costs no more
// than an empty one.
class ImportRegistry {
public:
    // Looks up what the included documents name and was not looked up before. False with the
    // reason when the registry cannot be read; what was read before stays.
    bool update(const QVector<ImportDocument>& documents, const ImportOptions& options, QString* error);
    const RegistryMatches& matches() const { return _matches; }

private:
    bool findPeople(const QString& sql, const QJsonArray& values, QString* error);
    bool findRegNumbers(const QStringList& values, QString* error);
    // Runs `sql` with the values bound as one JSON array at its only placeholder, handing each row
    // to `take`.
    static bool select(const QString& sql, const QJsonArray& values, const std::function<void(QSqlQuery&)>& take,
                       QString* error);

    QSet<QString> _askedNames; // surname and first name
    QSet<QString> _askedSnils;
    QSet<QString> _askedRegNumbers;
    QSet<qint64> _found;
    RegistryMatches _matches;
};
