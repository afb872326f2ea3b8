#include "historyentries.h"

#include "fileschema.h"
#include "mzlog.h"
#include "storequery.h"

#include <QDateTime>
#include <QMap>
#include <QSet>
#include <cmath>
#include <iterator>
#include <sqlite3.h>

namespace {
const QString documents = QStringLiteral("ProfDocuments");
const QString subjects = QStringLiteral("ProfDetails");
const QString frdo = QStringLiteral("ProfFrdo");
const QString subjectKey = QStringLiteral("detId");
const QString changedAtFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss");
const char* const insertEntry =
    "INSERT INTO DocumentHistory (profId, changedAt, kind, login, osUser, host, source, docName, attNumber, changes, "
    "snapshot, xact) VALUES (?, ?, ?, NULL, ?, ?, ?, ?, ?, ?, ?, NULL)";
// Beyond this a JSON number (a double) no longer holds every integer: larger ones are kept as text.
constexpr qint64 exactInJson = qint64(1) << 53;

// Never listed as changes: the keys, the time of the last save and the server's row version.
bool isBookkeeping(const QString& column) {
    for (QLatin1String name : {QLatin1String("profId"), QLatin1String("detId"), QLatin1String("historyId"),
                               QLatin1String("editDate"), QLatin1String("rowVersion")})
        if (column.size() == name.size() && column.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool isKey(const QString& column) {
    for (const char* name : {"profId", "detId", "rowVersion"})
        if (column.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// JSON is written as text: an import writes an entry per document, and Qt's JSON objects would
// cost more than the document's own rows.
void appendString(QString* out, const QString& text) {
    out->append(QLatin1Char('"'));
    int from = 0;
    for (int i = 0; i < text.size(); ++i) {
        const ushort c = text.at(i).unicode();
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out->append(text.midRef(from, i - from));
        from = i + 1;
        switch (c) {
        case '"':
            out->append(QLatin1String("\\\""));
            break;
        case '\\':
            out->append(QLatin1String("\\\\"));
            break;
        case '\n':
            out->append(QLatin1String("\\n"));
            break;
        case '\t':
            out->append(QLatin1String("\\t"));
            break;
        case '\r':
            out->append(QLatin1String("\\r"));
            break;
        default:
            out->append(QStringLiteral("\\u%1").arg(c, 4, 16, QLatin1Char('0')));
        }
    }
    out->append(text.midRef(from));
    out->append(QLatin1Char('"'));
}

// A value as JSON text, appended to `out`: NULL as null, integers as numbers (as text beyond what
// a double holds exactly), everything else as a string.
void appendJson(QString* out, const QVariant& value) {
    if (!value.isValid() || value.isNull()) {
        out->append(QLatin1String("null"));
        return;
    }
    switch (value.type()) {
    case QVariant::Bool:
    case QVariant::Int:
    case QVariant::UInt:
    case QVariant::LongLong:
    case QVariant::ULongLong: {
        const qint64 number = value.toLongLong();
        const bool exact = number > -exactInJson && number < exactInJson;
        if (!exact)
            out->append(QLatin1Char('"'));
        out->append(QString::number(number));
        if (!exact)
            out->append(QLatin1Char('"'));
        return;
    }
    case QVariant::Double: {
        const double number = value.toDouble();
        if (std::isfinite(number)) {
            out->append(QString::number(number, 'g', 17));
            return;
        }
        break;
    }
    case QVariant::String:
        appendString(out, *static_cast<const QString*>(value.constData()));
        return;
    default:
        break;
    }
    appendString(out, value.toString());
}

QString jsonOf(const QVariant& value) {
    QString text;
    appendJson(&text, value);
    return text;
}

void appendMember(QString* out, const QString& name, const QString& json) {
    if (!out->endsWith(QLatin1Char('{')))
        out->append(QLatin1Char(','));
    appendString(out, name);
    out->append(QLatin1Char(':'));
    out->append(json);
}

// A row without its keys, as a deletion's snapshot and an added or removed subject show it.
QString rowObject(const QVariantMap& row) {
    QString object = QStringLiteral("{");
    for (auto it = row.cbegin(); it != row.cend(); ++it)
        if (!isKey(it.key()))
            appendMember(&object, it.key(), jsonOf(it.value()));
    return object + QLatin1Char('}');
}

// The changes of one document, as a JSON array's text.
class Changes {
public:
    Changes() : _text(&_own) { _own.append(QLatin1Char('[')); }
    // Written into `buffer`, whose room is kept from one document's entry to the next.
    // `withoutOld` leaves "old" out, for a new document whose every "old" is null.
    Changes(QString* buffer, bool withoutOld) : _text(buffer), _withoutOld(withoutOld) {
        buffer->resize(0);
        buffer->append(QLatin1Char('['));
    }
    Changes(const Changes&) = delete;
    Changes& operator=(const Changes&) = delete;

    bool isEmpty() const { return _count == 0; }
    QString text() const { return *_text + QLatin1Char(']'); }
    // The array's text, ended in place.
    const QString& close() {
        _text->append(QLatin1Char(']'));
        return *_text;
    }

    // The changed values of one row; a row that is not there counts as all NULL. `subject` names
    // a subject's row.
    void diffRow(const QString& table, const QVariantMap& old, const QVariantMap& now, const QString& subject = {}) {
        if (old.isEmpty()) { // all of a new row's values: nothing to compare
            for (auto it = now.cbegin(); it != now.cend(); ++it)
                addNew(table, subject, it.key(), it.value());
            return;
        }
        for (auto it = old.cbegin(); it != old.cend(); ++it)
            if (!isBookkeeping(it.key()))
                compare(table, it.key(), jsonOf(it.value()), jsonOf(now.value(it.key())), subject);
        for (auto it = now.cbegin(); it != now.cend(); ++it)
            if (!old.contains(it.key()) && !isBookkeeping(it.key()))
                compare(table, it.key(), QStringLiteral("null"), jsonOf(it.value()), subject);
    }

    // All of a new row's values, without a subject's members.
    void addRow(const QString& table, const HistoryEntries::Row& row) {
        for (int i = 0; i < row.columns.size(); ++i)
            addNew(table, QString(), row.columns.at(i), row.values.at(i));
    }

    // Change objects made elsewhere, `count` of them, as one array's text without its brackets.
    void addObjects(const QString& objects, int count) {
        if (count <= 0)
            return;
        if (_count > 0)
            _text->append(QLatin1Char(','));
        _text->append(objects);
        _count += count;
    }

    // A subject added (`old` null) or removed (`now` null) whole.
    void addWhole(const QString& table, const QString& subject, const QString& old, const QString& now) {
        add(table, subject, QString(), old, now);
    }

private:
    void addNew(const QString& table, const QString& subject, const QString& field, const QVariant& value) {
        if (value.isNull() || isBookkeeping(field))
            return;
        begin(table, subject, field, QLatin1String("null"));
        appendJson(_text, value);
        _text->append(QLatin1Char('}'));
    }

    void compare(const QString& table, const QString& field, const QString& old, const QString& now,
                 const QString& subject) {
        if (old != now)
            add(table, subject, field, old, now);
    }

    void add(const QString& table, const QString& subject, const QString& field, const QString& old,
             const QString& now) {
        begin(table, subject, field, old);
        _text->append(now);
        _text->append(QLatin1Char('}'));
    }

    // A change object up to its "new" value, which the caller appends and closes.
    template <typename Old>
    void begin(const QString& table, const QString& subject, const QString& field, const Old& old) {
        if (_count++ > 0)
            _text->append(QLatin1Char(','));
        _text->append(QLatin1String("{\"table\":"));
        appendString(_text, table);
        if (!subject.isNull()) {
            _text->append(QLatin1Char(','));
            _text->append(subject);
        }
        _text->append(QLatin1String(",\"field\":"));
        appendString(_text, field);
        if (!_withoutOld) {
            _text->append(QLatin1String(",\"old\":"));
            _text->append(old);
        }
        _text->append(QLatin1String(",\"new\":"));
    }

    QString _own;
    QString* _text;
    bool _withoutOld = false;
    int _count = 0;
};

// "row" and "name" of a subject's changes; only "name" for a subject whose key is not known.
QString subjectMembers(qint64 id, const QVariantMap& row) {
    QString members =
        id > 0 ? QStringLiteral("\"row\":") + jsonOf(id) + QStringLiteral(",\"name\":") : QStringLiteral("\"name\":");
    appendString(&members, row.value(QStringLiteral("name")).toString());
    return members;
}

// Subjects are matched by their key: a row whose name changed is the same subject renamed.
void diffSubjects(const QVector<QVariantMap>& old, const QVector<QVariantMap>& now, Changes* changes) {
    QMap<qint64, QVariantMap> before;
    for (const QVariantMap& row : old)
        before.insert(row.value(subjectKey).toLongLong(), row);
    QSet<qint64> kept;
    for (const QVariantMap& row : now) {
        const qint64 id = row.value(subjectKey).toLongLong();
        const auto found = before.constFind(id);
        if (found == before.constEnd()) {
            changes->addWhole(subjects, subjectMembers(id, row), QStringLiteral("null"), rowObject(row));
            continue;
        }
        kept.insert(id);
        changes->diffRow(subjects, found.value(), row, subjectMembers(id, row));
    }
    for (const QVariantMap& row : old) {
        const qint64 id = row.value(subjectKey).toLongLong();
        if (!kept.contains(id))
            changes->addWhole(subjects, subjectMembers(id, row), rowObject(row), QStringLiteral("null"));
    }
}

void changesOf(const DocumentHistory::State& before, const DocumentHistory::State& after, Changes* changes) {
    changes->diffRow(documents, before.document, after.document);
    diffSubjects(before.subjects, after.subjects, changes);
    changes->diffRow(frdo, before.frdo, after.frdo);
}

QString snapshotOf(const DocumentHistory::State& state) {
    QString rows;
    for (const QVariantMap& row : state.subjects)
        rows += (rows.isEmpty() ? QString() : QStringLiteral(",")) + rowObject(row);
    QString snapshot = QStringLiteral("{");
    appendMember(&snapshot, documents, rowObject(state.document));
    appendMember(&snapshot, subjects, QLatin1Char('[') + rows + QLatin1Char(']'));
    appendMember(&snapshot, frdo, state.frdo.isEmpty() ? QStringLiteral("null") : rowObject(state.frdo));
    return snapshot + QLatin1Char('}');
}

template <typename Row> QString docNameOf(const Row& document) {
    QStringList parts;
    for (const char* column : {"fio1", "fio2", "fio3"}) {
        const QString part = document.value(QLatin1String(column)).toString().simplified();
        if (!part.isEmpty())
            parts << part;
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace

HistoryEntries::HistoryEntries(const QSqlDatabase& db)
    : _db(db), _insert(nullptr, sqlite3_finalize), _changedAt(QDateTime::currentDateTime().toString(changedAtFormat)) {}

bool HistoryEntries::record(qint64 profId, DocumentHistory::Kind kind, const DocumentHistory::State& before,
                            const DocumentHistory::State& after, const QString& source, QString* error) {
    using Kind = DocumentHistory::Kind;
    Changes changes;
    changesOf(before, after, &changes);
    if (kind == Kind::Edited && changes.isEmpty())
        return true;
    const QVariantMap& named = after.exists ? after.document : before.document;
    return write(profId, kind, docNameOf(named), named.value(QStringLiteral("attNumber")), changes.text(),
                 kind == Kind::Deleted ? QVariant(snapshotOf(before)) : QVariant(QVariant::String), source, error);
}

QVariant HistoryEntries::Row::value(const QString& column) const {
    const int at = columns.indexOf(column);
    return at < 0 ? QVariant() : values.at(at);
}

bool HistoryEntries::recordImported(qint64 profId, const Row& document, const Row& frdoRow,
                                    const QString& subjectChanges, const QString& source, QString* error) {
    Changes changes(&_changes, true);
    changes.addRow(documents, document);
    // Counted by what it holds: only whether there is any matters.
    changes.addObjects(subjectChanges, subjectChanges.isEmpty() ? 0 : 1);
    changes.addRow(frdo, frdoRow);
    return write(profId, DocumentHistory::Kind::Imported, docNameOf(document),
                 document.value(QStringLiteral("attNumber")), changes.close(), QVariant(QVariant::String), source,
                 error);
}

QString HistoryEntries::addedSubjects(const QVector<QVariantMap>& rows) {
    QString text;
    Changes changes(&text, true);
    for (const QVariantMap& row : rows)
        changes.addWhole(subjects, subjectMembers(0, row), QStringLiteral("null"), rowObject(row));
    return text.mid(1);
}

bool HistoryEntries::write(qint64 profId, DocumentHistory::Kind kind, const QString& docName, const QVariant& attNumber,
                           const QString& changes, const QVariant& snapshot, const QString& source, QString* error) {
    if (!_insert) {
        sqlite3* handle = FileSchema::sqliteHandle(_db);
        _insert = StoreQuery::prepareSqlite(handle, insertEntry);
        if (!_insert)
            return StoreQuery::fail(error,
                                    handle ? QString::fromUtf8(sqlite3_errmsg(handle)) : StoreQuery::notOpenText());
    }
    // Neither changes while the program runs.
    static const QString user = DocumentHistory::osUser();
    static const QString host = DocumentHistory::hostName();
    const QVariant values[] = {profId,  _changedAt, DocumentHistory::code(kind),
                               user,    host,       source.isEmpty() ? QVariant(QVariant::String) : QVariant(source),
                               docName, attNumber,  changes,
                               snapshot};
    if (!StoreQuery::runSqlite(_insert.get(), values, int(std::size(values)), error)) {
        MZ_LOG() << "cannot record the change of document" << profId;
        return false;
    }
    return true;
}
