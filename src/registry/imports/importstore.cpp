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
#include <QRegularExpression>
#include <QSet>
#include <QSignalBlocker>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlField>
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
const int subjectsPerInsert = 100;
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
    const auto& tables = Database::instance()->tables();
    const auto known = tables.constFind(table);
    const DBColumn* column = known != tables.constEnd() ? known->columnAnyCase(name) : nullptr;
    return column ? column->name : QString();
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

// SQLite's own blanks, which it allows around a number.
bool isSqlBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\f') ||
           c == QLatin1Char('\r') || c == QLatin1Char('\v');
}

// A text in a column of INTEGER affinity: SQLite keeps a well-formed number as a number, an
// integer one (or a real one without a fraction) as an integer; anything else stays text.
QVariant numberOrText(const QString& text) {
    int from = 0;
    int to = text.size();
    while (from < to && isSqlBlank(text.at(from)))
        ++from;
    while (to > from && isSqlBlank(text.at(to - 1)))
        --to;
    static const QRegularExpression numeric(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    const QString number = text.mid(from, to - from);
    if (number.isEmpty() || !numeric.match(number).hasMatch())
        return text;
    bool whole = false;
    const qlonglong integer = number.toLongLong(&whole);
    if (whole)
        return integer;
    const double real = number.toDouble();
    if (real >= -9.2233720368547758e18 && real < 9.2233720368547758e18 && real == double(qlonglong(real)))
        return qlonglong(real);
    return real;
}

// A value as SQLite keeps it in a column of `type` (INTEGER or TEXT) when Qt binds it, so that
// what the import built in memory reads as the stored row would.
QVariant storedValue(const QString& type, const QVariant& value) {
    if (!value.isValid() || value.isNull())
        return QVariant();
    QString text;
    switch (value.userType()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return type == QLatin1String("INTEGER") ? QVariant(value.toLongLong())
                                                : QVariant(QString::number(value.toLongLong()));
    case QMetaType::Double:
        if (type == QLatin1String("INTEGER"))
            return numberOrText(QString::number(value.toDouble(), 'g', 17));
        text = QString::number(value.toDouble(), 'g', 15);
        return text.contains(QLatin1Char('.')) || text.contains(QLatin1Char('e')) ? text : text + QStringLiteral(".0");
    case QMetaType::QByteArray:
        return value; // a blob stays one
    case QMetaType::QDateTime:
        text = value.toDateTime().toString(Qt::ISODateWithMs);
        break;
    case QMetaType::QTime:
        text = value.toTime().toString(QStringLiteral("hh:mm:ss.zzz"));
        break;
    default:
        text = value.toString();
    }
    return type == QLatin1String("INTEGER") ? numberOrText(text) : QVariant(text);
}

// The statements of one import, each prepared once and run for every document. The statements
// that carry a record's own columns are prepared once per set of columns. What a document gets
// from the template (its appendix, its FRDO values, the hours the auto-fill counts) is read once,
// inside the write's transaction, and the FRDO row is written whole by one statement.
class ImportWriter {
public:
    explicit ImportWriter(qint64 templateId)
        : _templateId(templateId), _editDate(QDateTime::currentDateTime().toString(Qt::ISODate)),
          _server(SqlDialect::isServer()) {
        int at = 0;
        for (const DBColumn& column : Database::instance()->tables().value(frdoTable).columns) {
            if (column.name.compare(QLatin1String("profId"), Qt::CaseInsensitive) == 0)
                continue;
            _frdoColumns << column.name;
            _frdoTypes << column.type;
            _frdoAt.insert(column.name.toLower(), at++);
        }
        for (const DBColumn& column : Database::instance()->tables().value(documentsTable).columns) {
            _documentTypes.insert(column.name, column.type);
            _documentAt.insert(column.name, _document.count());
            _document.append(QSqlField(column.name));
        }
    }

    // Inside the write's transaction, before the first document.
    bool readTemplate(QString* error) {
        _templateFrdo = QVector<QVariant>(_frdoColumns.size());
        _fromTemplate = QVector<bool>(_frdoColumns.size(), false);
        _hours = QVariant();
        if (_templateId <= 0)
            return true;
        QVector<QVariantMap> appendix;
        QSqlQuery subjects(QSqlDatabase::database());
        subjects.setForwardOnly(true);
        if (!StoreQuery::prepare(subjects,
                                 QStringLiteral("SELECT name, count, rate FROM ProfDetails WHERE profId=? ORDER BY "
                                                "detId;"),
                                 error))
            return false;
        subjects.bindValue(0, _templateId);
        if (!StoreQuery::write(subjects, error))
            return false;
        while (subjects.next())
            appendix << DocumentHistory::valuesOf(subjects.record());
        _subjectChanges = HistoryEntries::addedSubjects(appendix);
        return prepareSubjects(appendix, error) && readHours(error) && readTemplateFrdo(error);
    }

    // The document and its dependent rows; its id in `id`, and on a file its entry naming `source`.
    bool write(const ImportRecord& record, qint64* id, const QString& source, QString* error) {
        QVariantMap document;
        QVariantMap frdo;
        return insertDocument(record.document, &document, id, error) && copySubjects(*id, error) &&
               insertFrdo(record.frdo, *id, &frdo, error) &&
               (_server || _entries.recordImported(*id, document, frdo, _subjectChanges, source, error));
    }

private:
    // The appendix's rows as values of the inserts that copy them, in their order, a statement per
    // up to subjectsPerInsert of them: copying them from the template's rows would make SQLite
    // set the template's rows aside in a table of its own for every document. Only the document's
    // id is bound for each document.
    bool prepareSubjects(const QVector<QVariantMap>& appendix, QString* error) {
        _subjectInserts.clear();
        _subjectCount = appendix.size();
        for (int first = 0; first < appendix.size(); first += subjectsPerInsert) {
            const int rows = qMin(subjectsPerInsert, appendix.size() - first);
            QSqlQuery insert(QSqlDatabase::database());
            if (!StoreQuery::prepare(insert,
                                     QStringLiteral("%1 ProfDetails (profId, name, count, rate) VALUES %2;")
                                         .arg(insertInto(), QStringLiteral("(?, ?, ?, ?), ").repeated(rows).chopped(2)),
                                     error))
                return false;
            for (int row = 0; row < rows; ++row) {
                const QVariantMap& subject = appendix.at(first + row);
                int at = row * 4 + 1;
                for (const char* column : {"name", "count", "rate"})
                    insert.bindValue(at++, subject.value(QLatin1String(column)));
            }
            _subjectInserts << insert;
        }
        return true;
    }

    // A statement that writes several rows, or returns what it wrote, makes SQLite keep a copy of
    // every page it changes so that it can undo the statement alone; for an import that is most
    // of the work. Its failure undoes the whole import anyway, so none is kept on a file.
    QString insertInto() const {
        return _server ? QStringLiteral("INSERT INTO") : QStringLiteral("INSERT OR FAIL INTO");
    }

    // The same SUM as the auto-fill's own: what the appendix copied from the template adds up to.
    bool readHours(QString* error) {
        QSqlQuery hours(QSqlDatabase::database());
        hours.setForwardOnly(true);
        if (!StoreQuery::prepare(hours,
                                 QStringLiteral("SELECT SUM(COALESCE(count,0)) AS totalCount FROM ProfDetails WHERE "
                                                "ProfDetails.profId = ?;"),
                                 error))
            return false;
        hours.bindValue(0, _templateId);
        if (!StoreQuery::write(hours, error))
            return false;
        if (hours.next())
            _hours = hours.value(0);
        return true;
    }

    // The template's FRDO values a document takes: the columns a copy takes, when it has a row.
    bool readTemplateFrdo(QString* error) {
        QStringList copied;
        for (const DBColumn& column : Database::instance()->tables().value(frdoTable).columns)
            if (column.copyable)
                copied << column.name;
        QSqlQuery frdo(QSqlDatabase::database());
        frdo.setForwardOnly(true);
        if (!StoreQuery::prepare(
                frdo, QStringLiteral("SELECT %1 FROM ProfFrdo WHERE profId=?;").arg(copied.join(QStringLiteral(", "))),
                error))
            return false;
        frdo.bindValue(0, _templateId);
        if (!StoreQuery::write(frdo, error))
            return false;
        if (frdo.next())
            for (int i = 0; i < copied.size(); ++i) {
                const int at = _frdoAt.value(copied.at(i).toLower());
                _templateFrdo[at] = frdo.value(i);
                _fromTemplate[at] = true;
            }
        frdo.finish();
        return true;
    }

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
        const QString sql = QStringLiteral("%1 ProfDocuments (%2) VALUES (%3)%4;")
                                .arg(insertInto(), names.join(QStringLiteral(", ")),
                                     QStringLiteral("?, ").repeated(names.size()).chopped(2),
                                     SqlDialect::returningId(QSqlDatabase::database(), QStringLiteral("profId")));
        QSqlQuery query;
        if (!StoreQuery::prepare(query, sql, error))
            return nullptr;
        return &_documentInserts.insert(key, query).value();
    }

    // The document's row; what it holds as stored, by column, goes to `row` and to the row the
    // auto-fill reads (_document).
    bool insertDocument(QVariantMap values, QVariantMap* row, qint64* id, QString* error) {
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
        if (!StoreQuery::write(*insert, error))
            return false;
        *id = SqlDialect::insertedId(*insert);
        if (*id <= 0) {
            StoreQuery::keep(error, QStringLiteral("новая запись не создана"));
            return false;
        }
        _document.clearValues();
        at = 0;
        for (auto value = values.constBegin(); value != values.constEnd(); ++value, ++at) {
            const QVariant stored = storedValue(_documentTypes.value(columns.at(at)), value.value());
            row->insert(columns.at(at), stored);
            _document.setValue(_documentAt.value(columns.at(at)), stored);
        }
        row->insert(QStringLiteral("editDate"), _editDate);
        row->insert(QStringLiteral("comment"), QStringLiteral(""));
        _document.setValue(_documentAt.value(QStringLiteral("editDate")), _editDate);
        _document.setValue(_documentAt.value(QStringLiteral("comment")), QStringLiteral(""));
        _document.setValue(_documentAt.value(QStringLiteral("profId")), *id);
        return true;
    }

    bool copySubjects(qint64 id, QString* error) {
        for (int first = 0; first < _subjectInserts.size() * subjectsPerInsert; first += subjectsPerInsert) {
            QSqlQuery& insert = _subjectInserts[first / subjectsPerInsert];
            const int rows = qMin(subjectsPerInsert, _subjectCount - first);
            for (int row = 0; row < rows; ++row)
                insert.bindValue(row * 4, id);
            if (!StoreQuery::write(insert, error))
                return false;
        }
        return true;
    }

    // What the auto-fill's rules read of the new document's FRDO row and appendix: the template's.
    AutoFillStored storedFromTemplate() const {
        AutoFillStored stored;
        stored.target = [this](const QString& column) {
            const int at = _frdoAt.value(column.toLower(), -1);
            return at >= 0 && _fromTemplate.at(at) ? _templateFrdo.at(at) : QVariant();
        };
        stored.appendixHours = [this] { return _hours; };
        return stored;
    }

    // The FRDO row as the template's copy, the auto-fill and then the record's own values (those
    // it gives) would leave it, written at once; on a file the row as stored goes to `written`.
    bool insertFrdo(const QVariantMap& given, qint64 id, QVariantMap* written, QString* error) {
        QVector<QVariant> values = _templateFrdo;
        QVector<bool> set = _fromTemplate;
        const auto put = [&](const QString& column, const QVariant& value) {
            const int at = _frdoAt.value(column.toLower(), -1);
            if (at < 0)
                return StoreQuery::fail(error, QStringLiteral("нет столбца %1.%2").arg(frdoTable, column));
            values[at] = value;
            set[at] = true;
            return true;
        };
        const QMap<QString, QVariant> filled = FrdoAutoFill::rules().values(_document, storedFromTemplate());
        for (auto it = filled.constBegin(); it != filled.constEnd(); ++it)
            if (!put(it.key(), it.value()))
                return false;
        QStringList columns;
        QVariantMap own;
        for (auto it = given.constBegin(); it != given.constEnd(); ++it)
            if (!it.value().isNull()) // a value the row does not give leaves the template's or the auto-fill's
                own.insert(it.key(), it.value());
        if (!columnsOf(own, frdoTable, &columns, error))
            return false;
        int at = 0;
        for (auto it = own.constBegin(); it != own.constEnd(); ++it, ++at)
            put(columns.at(at), storedFrdoValue(columns.at(at), it.value()));
        QSqlQuery* insert = frdoInsert(set, error);
        if (!insert)
            return false;
        int bound = 0;
        insert->bindValue(bound++, id);
        for (int i = 0; i < values.size(); ++i)
            if (set.at(i))
                insert->bindValue(bound++, values.at(i));
        if (!StoreQuery::write(*insert, error))
            return false;
        if (!_server)
            for (int i = 0; i < values.size(); ++i)
                if (set.at(i))
                    written->insert(_frdoColumns.at(i), storedValue(_frdoTypes.at(i), values.at(i)));
        return true;
    }

    // The FRDO row's insert for the columns `set` marks, prepared at its first use.
    QSqlQuery* frdoInsert(const QVector<bool>& set, QString* error) {
        QByteArray key(set.size(), '0');
        QStringList columns = {QStringLiteral("profId")};
        for (int i = 0; i < set.size(); ++i)
            if (set.at(i)) {
                key[i] = '1';
                columns << _frdoColumns.at(i);
            }
        auto it = _frdoInserts.find(key);
        if (it != _frdoInserts.end())
            return &it.value();
        QSqlQuery query;
        if (!StoreQuery::prepare(query,
                                 QStringLiteral("%1 ProfFrdo (%2) VALUES (%3);")
                                     .arg(insertInto(), columns.join(QStringLiteral(", ")),
                                          QStringLiteral("?, ").repeated(columns.size()).chopped(2)),
                                 error))
            return nullptr;
        return &_frdoInserts.insert(key, query).value();
    }

    const qint64 _templateId;
    const QString _editDate;
    const bool _server;
    QVector<QSqlQuery> _subjectInserts;
    int _subjectCount = 0;                  // the rows they insert
    QStringList _frdoColumns;               // of ProfFrdo, its key aside
    QStringList _frdoTypes;                 // theirs
    QHash<QString, int> _frdoAt;            // their places, by the lower-case name
    QVector<QVariant> _templateFrdo;        // the template's values in those places
    QVector<bool> _fromTemplate;            // which of them a document takes
    QVariant _hours;                        // of the template's appendix
    QString _subjectChanges;                // the entry's part for the appendix
    QHash<QString, QString> _documentTypes; // of the documents' columns
    QSqlRecord _document;                   // the last document's row, as the auto-fill reads it
    QHash<QString, int> _documentAt;        // its columns' places
    HistoryEntries _entries{QSqlDatabase::database()};
    QHash<QString, QSqlQuery> _documentInserts;
    QHash<QByteArray, QSqlQuery> _frdoInserts;
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
            if (!writer.readTemplate(error))
                return false;
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
