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
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>
#include <map>
#include <memory>
#include <sqlite3.h>
#include <vector>

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
    default:
        text = StoreQuery::boundText(value);
    }
    return type == QLatin1String("INTEGER") ? numberOrText(text) : QVariant(text);
}

// One of an import's inserts. On a file it is SQLite's own statement: its values are bound as
// UTF-8, the file's encoding, and a value bound once stays for every run, which the driver would
// bind again as UTF-16 for SQLite to convert. On a server it is the driver's query.
class ImportInsert {
public:
    ImportInsert() : _statement(nullptr, sqlite3_finalize) {}

    bool prepare(const QString& sql, QString* error) {
        _file = StoreQuery::mainFileHandle();
        if (!_file)
            return StoreQuery::prepare(_query, sql, error);
        _statement = StoreQuery::prepareSqlite(_file, sql.toUtf8().constData());
        return _statement ? true : StoreQuery::fail(error, QString::fromUtf8(sqlite3_errmsg(_file)));
    }

    // Value `at` (from 0) for this run and the next ones, until it is bound again.
    void bind(int at, const QVariant& value) {
        if (!_file)
            _query.bindValue(at, value);
        else if (!StoreQuery::bindSqlite(_statement.get(), at + 1, value) && _refused.isEmpty())
            _refused = QString::fromUtf8(sqlite3_errmsg(_file));
    }

    bool run(QString* error) {
        if (!_refused.isEmpty())
            return StoreQuery::fail(error, _refused);
        return _file ? StoreQuery::stepSqlite(_statement.get(), error) : StoreQuery::write(_query, error);
    }

    // The id of the row the last run inserted; 0 when it inserted none.
    qint64 insertedId() {
        if (!_file)
            return SqlDialect::insertedId(_query);
        return sqlite3_changes(_file) == 1 ? sqlite3_last_insert_rowid(_file) : 0;
    }

private:
    sqlite3* _file = nullptr;
    StoreQuery::SqliteStatement _statement;
    QSqlQuery _query;
    QString _refused; // why SQLite refused a value
};

// The registry's names of a record's keys in one table, found once for each set of keys: the
// records of one import have the same ones.
class KnownColumns {
public:
    explicit KnownColumns(QString table) : _table(std::move(table)) {}

    // Null, with the reason, when a key is not one of the table's columns (they are formatted into
    // the statements).
    const QStringList* of(const QVariantMap& values, QString* error) {
        if (sameKeys(values))
            return &_columns;
        ++_generation;
        _keys.clear();
        _columns.clear();
        for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
            const QString column = knownColumn(_table, it.key());
            if (column.isEmpty()) {
                _keys.clear();
                _columns.clear();
                StoreQuery::keep(error, QStringLiteral("нет столбца %1.%2").arg(_table, it.key()));
                return nullptr;
            }
            _keys << it.key();
            _columns << column;
        }
        return &_columns;
    }

    // Changes with each new set of keys.
    int generation() const { return _generation; }

private:
    bool sameKeys(const QVariantMap& values) const {
        if (values.size() != _keys.size() || _keys.isEmpty())
            return false;
        int at = 0;
        for (auto it = values.constBegin(); it != values.constEnd(); ++it)
            if (it.key() != _keys.at(at++))
                return false;
        return true;
    }

    const QString _table;
    QStringList _keys;
    QStringList _columns;
    int _generation = 0;
};

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
        QMap<QString, int> byName;
        for (int i = 0; i < _frdoColumns.size(); ++i)
            byName.insert(_frdoColumns.at(i), i);
        _frdoWritten.columns = byName.keys();
        _frdoWritten.values.resize(byName.size());
        _frdoByName = byName.values().toVector();
        for (const DBColumn& column : Database::instance()->tables().value(documentsTable).columns) {
            _documentTypes.insert(column.name, column.type);
            _documentAt.insert(column.name, _document.size());
            _document.append(QVariant());
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
        if (!runOnTemplate(subjects,
                           QStringLiteral("SELECT name, count, rate FROM ProfDetails WHERE profId=? ORDER BY detId;"),
                           error))
            return false;
        while (subjects.next())
            appendix << DocumentHistory::valuesOf(subjects.record());
        _subjectChanges = HistoryEntries::addedSubjects(appendix);
        return prepareSubjects(appendix, error) && readHours(error) && readTemplateFrdo(error);
    }

    // The document and its dependent rows; its id in `id`, and on a file its entry naming `source`.
    bool write(const ImportRecord& record, qint64* id, const QString& source, QString* error) {
        const HistoryEntries::Row* document = nullptr;
        return insertDocument(record.document, &document, id, error) && copySubjects(*id, error) &&
               insertFrdo(record.frdo, *id, error) &&
               (_server || _entries.recordImported(*id, *document, _frdoWritten, _subjectChanges, source, error));
    }

private:
    // How the documents of one set of keys are written: which of their values go in (the id, the
    // edit time and the comment are the import's own, not the template's), as which columns.
    struct DocumentPlan {
        QVector<int> kept;   // the places among the record's values of those written
        QStringList columns; // their columns
        QStringList types;   // theirs
        QVector<int> at;     // their places in _document
        ImportInsert insert;
        HistoryEntries::Row written; // the row for the entry: those columns, the edit time and comment
        QVector<int> writtenFrom;    // where its values come from: a place in columns, or past them
    };

    // The appendix's rows as values of the inserts that copy them, in their order, a statement per
    // up to subjectsPerInsert of them: copying them from the template's rows would make SQLite
    // set the template's rows aside in a table of its own for every document. Only the document's
    // id is bound for each document.
    bool prepareSubjects(const QVector<QVariantMap>& appendix, QString* error) {
        _subjectInserts.clear();
        _subjectCount = appendix.size();
        for (int first = 0; first < appendix.size(); first += subjectsPerInsert) {
            const int rows = qMin(subjectsPerInsert, appendix.size() - first);
            _subjectInserts.emplace_back();
            ImportInsert& insert = _subjectInserts.back();
            if (!insert.prepare(QStringLiteral("%1 ProfDetails (profId, name, count, rate) VALUES %2;")
                                    .arg(insertInto(), QStringLiteral("(?, ?, ?, ?), ").repeated(rows).chopped(2)),
                                error))
                return false;
            for (int row = 0; row < rows; ++row) {
                const QVariantMap& subject = appendix.at(first + row);
                int at = row * 4 + 1;
                for (const char* column : {"name", "count", "rate"})
                    insert.bind(at++, subject.value(QLatin1String(column)));
            }
        }
        return true;
    }

    // A statement that writes several rows, or returns what it wrote, makes SQLite keep a copy of
    // every page it changes so that it can undo the statement alone; for an import that is most
    // of the work. Its failure undoes the whole import anyway, so none is kept on a file.
    QString insertInto() const {
        return _server ? QStringLiteral("INSERT INTO") : QStringLiteral("INSERT OR FAIL INTO");
    }

    // Runs `sql`, a read of the template's rows whose one value is the template's id, on `query`.
    bool runOnTemplate(QSqlQuery& query, const QString& sql, QString* error) const {
        query.setForwardOnly(true);
        if (!StoreQuery::prepare(query, sql, error))
            return false;
        query.bindValue(0, _templateId);
        return StoreQuery::write(query, error);
    }

    // The same SUM as the auto-fill's own: what the appendix copied from the template adds up to.
    bool readHours(QString* error) {
        QSqlQuery hours(QSqlDatabase::database());
        if (!runOnTemplate(hours,
                           QStringLiteral("SELECT SUM(COALESCE(count,0)) AS totalCount FROM ProfDetails WHERE "
                                          "ProfDetails.profId = ?;"),
                           error))
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
        if (!runOnTemplate(
                frdo, QStringLiteral("SELECT %1 FROM ProfFrdo WHERE profId=?;").arg(copied.join(QStringLiteral(", "))),
                error))
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

    // The plan for the documents of this record's set of keys, made at its first use.
    DocumentPlan* documentPlan(const QVariantMap& values, QString* error) {
        const QStringList* known = _documentColumns.of(values, error);
        if (!known)
            return nullptr;
        if (_lastPlan && _lastPlanOf == _documentColumns.generation())
            return _lastPlan;
        _lastPlanOf = _documentColumns.generation();
        const QString key = known->join(QLatin1Char(','));
        auto found = _documentPlans.find(key);
        if (found != _documentPlans.end())
            return _lastPlan = found->second.get();
        _lastPlan = nullptr;
        auto plan = std::make_unique<DocumentPlan>();
        for (int i = 0; i < known->size(); ++i) {
            const QString& column = known->at(i);
            if (column == QLatin1String("editDate") || column == QLatin1String("comment") ||
                column == QLatin1String("profId"))
                continue;
            plan->kept << i;
            plan->columns << column;
            plan->types << _documentTypes.value(column);
            plan->at << _documentAt.value(column);
        }
        QStringList names = plan->columns;
        names << QStringLiteral("editDate") << QStringLiteral("comment");
        if (!plan->insert.prepare(QStringLiteral("%1 ProfDocuments (%2) VALUES (%3)%4;")
                                      .arg(insertInto(), names.join(QStringLiteral(", ")),
                                           QStringLiteral("?, ").repeated(names.size()).chopped(2),
                                           SqlDialect::returningId(QSqlDatabase::database(), QStringLiteral("profId"))),
                                  error))
            return nullptr;
        const int own = plan->columns.size();
        plan->insert.bind(own, _editDate);
        plan->insert.bind(own + 1, QStringLiteral(""));
        QMap<QString, int> byName; // in the order of names, a later column of the same name over an earlier one
        for (int i = 0; i < names.size(); ++i)
            byName.insert(names.at(i), i);
        plan->written.columns = byName.keys();
        plan->written.values.resize(byName.size());
        plan->writtenFrom = byName.values().toVector();
        return _lastPlan = _documentPlans.emplace(key, std::move(plan)).first->second.get();
    }

    // The document's row; what it holds as stored goes to the row for its entry (`row`) and to the
    // row the auto-fill reads (_document).
    bool insertDocument(const QVariantMap& values, const HistoryEntries::Row** row, qint64* id, QString* error) {
        DocumentPlan* plan = documentPlan(values, error);
        if (!plan)
            return false;
        QVector<QVariant> given;
        given.reserve(values.size());
        for (const QVariant& value : values)
            given << value;
        for (int i = 0; i < plan->kept.size(); ++i)
            plan->insert.bind(i, given.at(plan->kept.at(i)));
        if (!plan->insert.run(error))
            return false;
        *id = plan->insert.insertedId();
        if (*id <= 0) {
            StoreQuery::keep(error, QStringLiteral("новая запись не создана"));
            return false;
        }
        std::fill(_document.begin(), _document.end(), QVariant());
        QVector<QVariant> stored(plan->kept.size() + 2);
        for (int i = 0; i < plan->kept.size(); ++i) {
            stored[i] = storedValue(plan->types.at(i), given.at(plan->kept.at(i)));
            _document[plan->at.at(i)] = stored.at(i);
        }
        stored[plan->kept.size()] = _editDate;
        stored[plan->kept.size() + 1] = QStringLiteral("");
        for (int i = 0; i < plan->writtenFrom.size(); ++i)
            plan->written.values[i] = stored.at(plan->writtenFrom.at(i));
        *row = &plan->written;
        _document[_documentAt.value(QStringLiteral("editDate"))] = _editDate;
        _document[_documentAt.value(QStringLiteral("comment"))] = QStringLiteral("");
        _document[_documentAt.value(QStringLiteral("profId"))] = *id;
        return true;
    }

    bool copySubjects(qint64 id, QString* error) {
        for (size_t statement = 0; statement < _subjectInserts.size(); ++statement) {
            ImportInsert& insert = _subjectInserts[statement];
            const int first = int(statement) * subjectsPerInsert;
            const int rows = qMin(subjectsPerInsert, _subjectCount - first);
            for (int row = 0; row < rows; ++row)
                insert.bind(row * 4, id);
            if (!insert.run(error))
                return false;
        }
        return true;
    }

    // The last document's column as the auto-fill reads it: by the registry's name, any letter
    // case aside.
    QVariant documentValue(const QString& column) const {
        auto at = _documentAt.constFind(column);
        if (at == _documentAt.constEnd())
            for (at = _documentAt.constBegin(); at != _documentAt.constEnd(); ++at)
                if (at.key().compare(column, Qt::CaseInsensitive) == 0)
                    break;
        return at == _documentAt.constEnd() ? QVariant() : _document.at(at.value());
    }

    // The place of an FRDO column by any spelling of its name; -1 for none. The spellings met are
    // kept: the auto-fill names the same columns for every document.
    int frdoPlace(const QString& column) {
        auto known = _frdoSpelled.constFind(column);
        if (known == _frdoSpelled.constEnd())
            known = _frdoSpelled.insert(column, _frdoAt.value(column.toLower(), -1));
        return known.value();
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
    // it gives) would leave it, written at once; on a file the row as stored goes to _frdoWritten.
    bool insertFrdo(const QVariantMap& given, qint64 id, QString* error) {
        QVector<QVariant> values = _templateFrdo;
        QVector<bool> set = _fromTemplate;
        const auto put = [&](const QString& column, const QVariant& value) {
            const int at = frdoPlace(column);
            if (at < 0)
                return StoreQuery::fail(error, QStringLiteral("нет столбца %1.%2").arg(frdoTable, column));
            values[at] = value;
            set[at] = true;
            return true;
        };
        const QMap<QString, QVariant> filled = FrdoAutoFill::rules().values(
            [this](const QString& column) { return documentValue(column); }, storedFromTemplate());
        for (auto it = filled.constBegin(); it != filled.constEnd(); ++it)
            if (!put(it.key(), it.value()))
                return false;
        QVariantMap own;
        for (auto it = given.constBegin(); it != given.constEnd(); ++it)
            if (!it.value().isNull()) // a value the row does not give leaves the template's or the auto-fill's
                own.insert(it.key(), it.value());
        const QStringList* columns = _frdoColumnsGiven.of(own, error);
        if (!columns)
            return false;
        int at = 0;
        for (auto it = own.constBegin(); it != own.constEnd(); ++it, ++at)
            put(columns->at(at), storedFrdoValue(columns->at(at), it.value()));
        ImportInsert* insert = frdoInsert(set, error);
        if (!insert)
            return false;
        int bound = 0;
        insert->bind(bound++, id);
        for (int i = 0; i < values.size(); ++i)
            if (set.at(i))
                insert->bind(bound++, values.at(i));
        if (!insert->run(error))
            return false;
        if (!_server)
            for (int i = 0; i < _frdoByName.size(); ++i) {
                const int at = _frdoByName.at(i);
                _frdoWritten.values[i] = set.at(at) ? storedValue(_frdoTypes.at(at), values.at(at)) : QVariant();
            }
        return true;
    }

    // The FRDO row's insert for the columns `set` marks, prepared at its first use.
    ImportInsert* frdoInsert(const QVector<bool>& set, QString* error) {
        QByteArray key(set.size(), '0');
        QStringList columns = {QStringLiteral("profId")};
        for (int i = 0; i < set.size(); ++i)
            if (set.at(i)) {
                key[i] = '1';
                columns << _frdoColumns.at(i);
            }
        auto found = _frdoInserts.find(key);
        if (found != _frdoInserts.end())
            return found->second.get();
        auto insert = std::make_unique<ImportInsert>();
        if (!insert->prepare(QStringLiteral("%1 ProfFrdo (%2) VALUES (%3);")
                                 .arg(insertInto(), columns.join(QStringLiteral(", ")),
                                      QStringLiteral("?, ").repeated(columns.size()).chopped(2)),
                             error))
            return nullptr;
        return _frdoInserts.emplace(key, std::move(insert)).first->second.get();
    }

    const qint64 _templateId;
    const QString _editDate;
    const bool _server;
    std::vector<ImportInsert> _subjectInserts;
    int _subjectCount = 0;                  // the rows they insert
    QStringList _frdoColumns;               // of ProfFrdo, its key aside
    QStringList _frdoTypes;                 // theirs
    QHash<QString, int> _frdoAt;            // their places, by the lower-case name
    QHash<QString, int> _frdoSpelled;       // their places, by the spellings met
    QVector<int> _frdoByName;               // their places in the order of their names
    HistoryEntries::Row _frdoWritten;       // the last FRDO row, for its entry (NULL: not written)
    QVector<QVariant> _templateFrdo;        // the template's values in those places
    QVector<bool> _fromTemplate;            // which of them a document takes
    QVariant _hours;                        // of the template's appendix
    QString _subjectChanges;                // the entry's part for the appendix
    QHash<QString, QString> _documentTypes; // of the documents' columns
    QVector<QVariant> _document;            // the last document's row, as the auto-fill reads it
    QHash<QString, int> _documentAt;        // its columns' places
    KnownColumns _documentColumns{documentsTable};
    KnownColumns _frdoColumnsGiven{frdoTable};
    HistoryEntries _entries{QSqlDatabase::database()};
    std::map<QString, std::unique_ptr<DocumentPlan>> _documentPlans;
    DocumentPlan* _lastPlan = nullptr; // the plan of the last set of keys
    int _lastPlanOf = -1;              // that set's generation
    std::map<QByteArray, std::unique_ptr<ImportInsert>> _frdoInserts;
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
