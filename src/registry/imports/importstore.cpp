#include "importstore.h"

#include "database.h"
#include "documenthistory.h"
#include "documentrecords.h"
#include "documentstore.h"
#include "frdoautofill.h"
#include "historyentries.h"
#include "mzlog.h"
#include "savepoint.h"
#include "sqldialect.h"
#include "storequery.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSignalBlocker>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>

namespace {
const QString documentsTable = QStringLiteral("ProfDocuments");
const QString frdoTable = QStringLiteral("ProfFrdo");
const QString importSavepoint = QStringLiteral("importDocuments");
const QString sexColumn = QStringLiteral("sexIsMale");
const QString snilsColumn = QStringLiteral("snils");
const int progressStep = 50;
// Up to this many numbers an import takes each number's lock, as a document's save does; a larger
// one would fill the server's lock table and locks the documents' table instead.
const int maxNumberLocks = 500;

QVariant valueOf(const QVariantMap& values, const QString& name) {
    for (auto it = values.constBegin(); it != values.constEnd(); ++it)
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.value();
    return QVariant();
}

// The certificate numbers the records give that must be free: those of documents that are not
// duplicates, trimmed, each once, sorted (locks are taken in one order by every import).
QStringList numbersToClaim(const QVector<ImportRecord>& records) {
    QSet<QString> numbers;
    for (const ImportRecord& record : records) {
        const QString number = valueOf(record.document, QStringLiteral("attNumber")).toString().trimmed();
        if (!number.isEmpty() && valueOf(record.document, QStringLiteral("isDuplicate")).toInt() == 0)
            numbers.insert(number);
    }
    QStringList sorted(numbers.cbegin(), numbers.cend());
    sorted.sort();
    return sorted;
}

bool numberHeld(QSqlQuery& query, const QString& number, bool* held, QString* error) {
    query.bindValue(0, number);
    if (!StoreQuery::write(query, error))
        return false;
    if (!query.next())
        return StoreQuery::fail(error, StoreQuery::reasonOf(query));
    *held = query.value(0).toLongLong() > 0;
    query.finish();
    return true;
}

// Inside the import's transaction: which of `numbers` the registry's documents hold now. On a
// server the import first waits for any other program's save of one of them, as that program's
// save would wait for the import.
bool claimNumbers(const QStringList& numbers, QStringList* taken, QString* error) {
    if (SqlDialect::isServer() && numbers.size() > maxNumberLocks) {
        QSqlDatabase db = QSqlDatabase::database();
        if (!StoreQuery::run(db, QStringLiteral("SET LOCAL lock_timeout = '5s'"), error) ||
            !StoreQuery::run(db, QStringLiteral("LOCK TABLE ProfDocuments IN SHARE ROW EXCLUSIVE MODE"), error))
            return false;
        QSet<QString> held;
        if (!ImportStore::takenNumbers(&held, error))
            return false;
        for (const QString& number : numbers)
            if (held.contains(number))
                *taken << number;
        return true;
    }
    QSqlDatabase db = QSqlDatabase::database();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!StoreQuery::prepare(query,
                             QStringLiteral("SELECT COUNT(1) FROM ProfDocuments WHERE attNumber=? AND "
                                            "COALESCE(isTemplate,0)!=1 AND COALESCE(isDuplicate,0)=0;"),
                             error))
        return false;
    for (const QString& number : numbers) {
        if (!DocumentRecords::lockAttNumber(db, number, error))
            return false;
        bool held = false;
        if (!numberHeld(query, number, &held, error))
            return false;
        if (held)
            *taken << number;
    }
    return true;
}

// A column of one of the registry's tables by any spelling of its name, as SQLite finds it;
// empty when the table has none of that name.
QString knownColumn(const QString& table, const QString& name) {
    for (const DBColumn& column : Database::instance()->tables().value(table).columns)
        if (column.name.compare(name, Qt::CaseInsensitive) == 0)
            return column.name;
    return QString();
}

// The FRDO dialog stores a SNILS as its digits and the sex as 1 or -1; an imported one is kept the
// same way, so that the dialog and the FRDO export read it alike.
QVariant storedFrdoValue(const QString& column, const QVariant& value) {
    if (column == sexColumn)
        return value.toInt() > 0 ? 1 : -1;
    if (column == snilsColumn) {
        QString digits = value.toString();
        digits.remove(QLatin1Char(' ')).remove(QLatin1Char('-'));
        const bool onlyDigits =
            !digits.isEmpty() && std::all_of(digits.cbegin(), digits.cend(), [](QChar c) { return c.isDigit(); });
        return onlyDigits ? QVariant(digits) : value;
    }
    return value;
}

// A value as SQLite keeps it in a column of `type`: a number in an INTEGER column, text in a TEXT
// one, so that an entry built from what was bound reads as one built from the stored row.
QVariant storedValue(const QString& type, const QVariant& value) {
    if (!value.isValid() || value.isNull())
        return QVariant();
    const bool number = value.type() == QVariant::Int || value.type() == QVariant::LongLong ||
                        value.type() == QVariant::Bool || value.type() == QVariant::UInt ||
                        value.type() == QVariant::ULongLong;
    if (type.compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) != 0)
        return number ? QVariant(QString::number(value.toLongLong())) : QVariant(value.toString());
    if (number)
        return value.toLongLong();
    bool whole = false;
    const qlonglong parsed = value.toString().toLongLong(&whole);
    return whole ? QVariant(parsed) : value;
}

// The statements of one import, each prepared once and run for every document. The statements
// that carry a record's own columns are prepared once per set of columns.
class ImportWriter {
public:
    explicit ImportWriter(qint64 templateId)
        : _templateId(templateId), _editDate(QDateTime::currentDateTime().toString(Qt::ISODate)) {
        for (const DBColumn& column : Database::instance()->tables().value(documentsTable).columns)
            _types.insert(column.name, column.type);
    }

    bool prepare(QString* error) {
        if (!SqlDialect::isServer() &&
            (!StoreQuery::prepare(_readSubjects,
                                  QStringLiteral("SELECT * FROM ProfDetails WHERE profId=? ORDER BY detId;"), error) ||
             !StoreQuery::prepare(_readFrdo, QStringLiteral("SELECT * FROM ProfFrdo WHERE profId=?;"), error)))
            return false;
        _readSubjects.setForwardOnly(true);
        _readFrdo.setForwardOnly(true);
        if (_templateId <= 0)
            return true;
        const QString frdoColumns = Database::instance()->columns(frdoTable, false);
        return StoreQuery::prepare(
                   _subjects,
                   QStringLiteral("INSERT INTO ProfDetails (profId, name, count, rate) SELECT ?, name, count, "
                                  "rate FROM ProfDetails WHERE profId=? ORDER BY detId;"),
                   error) &&
               StoreQuery::prepare(
                   _frdo,
                   QStringLiteral("INSERT INTO ProfFrdo (profId, %1) SELECT ?, %1 FROM ProfFrdo WHERE profId=?;")
                       .arg(frdoColumns),
                   error);
    }

    // The document and its dependent rows; its id in `id`, and on a file its entry naming `source`.
    bool write(const ImportRecord& record, qint64* id, const QString& source, QString* error) {
        return insertDocument(record.document, id, error) && copyTemplateRows(*id, error) &&
               DocumentStore::autoFillRow(FrdoAutoFill::rules(), *id, error) && writeFrdo(record.frdo, *id, error) &&
               (SqlDialect::isServer() || recordImport(*id, source, error));
    }

private:
    // The record's columns that go into `table`, in the registry's spelling; false when one is
    // not the table's (they are formatted into the statement).
    static bool columnsOf(const QVariantMap& values, const QString& table, QStringList* columns, QString* error) {
        for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
            const QString column = knownColumn(table, it.key());
            if (column.isEmpty()) {
                StoreQuery::keep(error, QStringLiteral("нет столбца %1.%2").arg(table, it.key()));
                return false;
            }
            *columns << column;
        }
        return true;
    }

    // The insert for this set of columns, prepared at its first use.
    QSqlQuery* documentInsert(const QStringList& columns, QString* error) {
        const QString key = columns.join(QLatin1Char(','));
        auto it = _documentInserts.find(key);
        if (it != _documentInserts.end())
            return &it.value();
        QStringList names = columns;
        names << QStringLiteral("editDate") << QStringLiteral("comment");
        const QString sql =
            QStringLiteral("INSERT INTO ProfDocuments (%1) VALUES (%2)%3;")
                .arg(names.join(QStringLiteral(", ")), QStringLiteral("?, ").repeated(names.size()).chopped(2),
                     SqlDialect::returningId(QSqlDatabase::database(), QStringLiteral("profId")));
        QSqlQuery query;
        if (!StoreQuery::prepare(query, sql, error))
            return nullptr;
        return &_documentInserts.insert(key, query).value();
    }

    // The document's row is what was inserted; the rows SQLite made from the template's and by the
    // auto-fill are read back, by the document's key.
    bool recordImport(qint64 id, const QString& source, QString* error) {
        DocumentHistory::State after;
        after.exists = true;
        after.document = _inserted;
        after.document.insert(QStringLiteral("profId"), id);
        _readSubjects.bindValue(0, id);
        if (!StoreQuery::write(_readSubjects, error))
            return false;
        while (_readSubjects.next())
            after.subjects.append(DocumentHistory::valuesOf(_readSubjects.record()));
        _readFrdo.bindValue(0, id);
        if (!StoreQuery::write(_readFrdo, error))
            return false;
        if (_readFrdo.next())
            after.frdo = DocumentHistory::valuesOf(_readFrdo.record());
        _readFrdo.finish();
        return _entries.record(id, DocumentHistory::Kind::Imported, DocumentHistory::State(), after, source, error);
    }

    bool insertDocument(QVariantMap values, qint64* id, QString* error) {
        // The id is new, and the edit time and comment are the import's own, not the template's.
        for (const QString& own : {QStringLiteral("editDate"), QStringLiteral("comment"), QStringLiteral("profId")})
            for (const QString& key : values.keys())
                if (key.compare(own, Qt::CaseInsensitive) == 0)
                    values.remove(key);
        QStringList columns;
        if (!columnsOf(values, documentsTable, &columns, error))
            return false;
        QSqlQuery* insert = documentInsert(columns, error);
        if (!insert)
            return false;
        int at = 0;
        for (const QVariant& value : qAsConst(values))
            insert->bindValue(at++, value);
        insert->bindValue(at++, _editDate);
        insert->bindValue(at, QStringLiteral(""));
        _inserted.clear();
        at = 0;
        for (auto value = values.constBegin(); value != values.constEnd(); ++value, ++at)
            _inserted.insert(columns.at(at), storedValue(_types.value(columns.at(at)), value.value()));
        _inserted.insert(QStringLiteral("editDate"), _editDate);
        _inserted.insert(QStringLiteral("comment"), QStringLiteral(""));
        if (!StoreQuery::write(*insert, error))
            return false;
        *id = SqlDialect::insertedId(*insert);
        if (*id <= 0) {
            StoreQuery::keep(error, QStringLiteral("новая запись не создана"));
            return false;
        }
        return true;
    }

    // The template's appendix subjects in their order and its FRDO values; the FRDO row is made
    // by the auto-fill when the template has none.
    bool copyTemplateRows(qint64 id, QString* error) {
        if (_templateId <= 0)
            return true;
        for (QSqlQuery* query : {&_subjects, &_frdo}) {
            query->bindValue(0, id);
            query->bindValue(1, _templateId);
            if (!StoreQuery::write(*query, error))
                return false;
        }
        return true;
    }

    bool writeFrdo(const QVariantMap& given, qint64 id, QString* error) {
        // A value the row does not give leaves the template's or the auto-fill's.
        QVariantMap values;
        for (auto it = given.constBegin(); it != given.constEnd(); ++it)
            if (!it.value().isNull())
                values.insert(it.key(), it.value());
        if (values.isEmpty())
            return true;
        QStringList columns;
        if (!columnsOf(values, frdoTable, &columns, error))
            return false;
        const QString key = columns.join(QLatin1Char(','));
        auto it = _frdoUpdates.find(key);
        if (it == _frdoUpdates.end()) {
            QStringList assignments;
            for (const QString& column : qAsConst(columns))
                assignments << column + QStringLiteral("=?");
            QSqlQuery query;
            if (!StoreQuery::prepare(query,
                                     QStringLiteral("UPDATE ProfFrdo SET %1 WHERE profId=?;")
                                         .arg(assignments.join(QStringLiteral(", "))),
                                     error))
                return false;
            it = _frdoUpdates.insert(key, query);
        }
        QSqlQuery& update = it.value();
        int at = 0;
        for (auto value = values.constBegin(); value != values.constEnd(); ++value, ++at)
            update.bindValue(at, storedFrdoValue(columns.at(at), value.value()));
        update.bindValue(at, id);
        return StoreQuery::write(update, error);
    }

    const qint64 _templateId;
    const QString _editDate;
    QSqlQuery _subjects;
    QSqlQuery _frdo;
    QSqlQuery _readSubjects;
    QSqlQuery _readFrdo;
    QVariantMap _inserted; // the last document's row as inserted
    HistoryEntries _entries{QSqlDatabase::database()};
    QHash<QString, QString> _types; // of the documents' columns
    QHash<QString, QSqlQuery> _documentInserts;
    QHash<QString, QSqlQuery> _frdoUpdates;
};
} // namespace

bool ImportStore::takenNumbers(QSet<QString>* numbers, QString* error) {
    numbers->clear();
    QSqlQuery query(QSqlDatabase::database());
    query.setForwardOnly(true);
    if (!StoreQuery::prepare(query,
                             QStringLiteral("SELECT attNumber FROM ProfDocuments WHERE COALESCE(isTemplate,0)!=1 AND "
                                            "COALESCE(isDuplicate,0)=0 AND attNumber IS NOT NULL;"),
                             error) ||
        !StoreQuery::write(query, error))
        return false;
    while (query.next()) {
        // Trimmed here: SQLite's TRIM takes only blanks away.
        const QString number = query.value(0).toString().trimmed();
        if (!number.isEmpty())
            numbers->insert(number);
    }
    if (query.lastError().isValid()) {
        numbers->clear();
        return StoreQuery::fail(error, StoreQuery::reasonOf(query));
    }
    return true;
}

bool ImportStore::templateRow(qint64 templateId, QVariantMap* row, QString* error) {
    row->clear();
    QSqlRecord record;
    if (templateId <= 0 || !DocumentRecords::read(templateId, &record, error))
        return false;
    for (int i = 0; i < record.count(); ++i)
        row->insert(record.fieldName(i), record.isNull(i) ? QVariant() : record.value(i));
    return true;
}

bool ImportStore::write(const QVector<ImportRecord>& records, qint64 templateId, QList<qint64>* ids, QString* error,
                        const std::function<bool(int, int)>& progress, bool* cancelled, QStringList* taken,
                        const QString& source) {
    if (cancelled)
        *cancelled = false;
    if (ids)
        ids->clear();
    if (taken)
        taken->clear();
    if (!Database::hasInstance() || !QSqlDatabase::database().isOpen()) {
        StoreQuery::keep(error, StoreQuery::notOpenText());
        return false;
    }
    // The import window tells of its own failure; the frame's box would only repeat it.
    const QSignalBlocker quiet(Database::instance());
    ImportWriter writer(templateId);
    const QString sourceName = QFileInfo(source).fileName();
    if (!writer.prepare(error))
        return false;
    const int total = records.size();
    const QStringList numbers = numbersToClaim(records);
    QStringList held;
    QList<qint64> made;
    made.reserve(total);
    bool stopped = false;
    const bool done = Savepoint::write(
        importSavepoint,
        [&] {
            if (!DocumentHistory::announce(QSqlDatabase::database(), DocumentHistory::Kind::Imported, sourceName,
                                           error) ||
                !claimNumbers(numbers, &held, error))
                return false;
            if (!held.isEmpty()) {
                MZ_LOG() << "numbers taken since the preview:" << held;
                StoreQuery::keep(error,
                                 QStringLiteral("номера уже есть в реестре: %1").arg(held.join(QStringLiteral(", "))));
                return false;
            }
            for (int i = 0; i < total; ++i) {
                qint64 id = 0;
                QString reason;
                if (!writer.write(records.at(i), &id, sourceName, &reason)) {
                    MZ_LOG() << "import stopped at record" << i + 1 << reason;
                    const int row = records.at(i).row > 0 ? records.at(i).row : i + 1;
                    StoreQuery::keep(error, QStringLiteral("Строка %1: %2").arg(row).arg(reason));
                    return false;
                }
                made << id;
                const int count = i + 1;
                if (progress && (count % progressStep == 0 || count == total) && !progress(count, total)) {
                    stopped = true;
                    return false;
                }
            }
            if (total == 0 && progress)
                progress(0, 0);
            return true;
        },
        error);
    if (stopped && cancelled)
        *cancelled = true;
    if (taken)
        *taken = held;
    if (done && ids)
        *ids = made;
    return done;
}
