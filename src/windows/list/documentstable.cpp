#include "documentstable.h"

#include "database.h"
#include "documentsmodel.h"
#include "myfiltermodel.h"
#include "printdialog.h"

#include <QPair>
#include <QSqlQuery>
#include <algorithm>
#include <iterator>

namespace {
const QStringList headers = {QStringLiteral("docID"),         QStringLiteral("ФИО"),
                             QStringLiteral("Квалификация"),  QStringLiteral("Номер свид."),
                             QStringLiteral("Рег. номер"),    QStringLiteral("Дата выдачи"),
                             QStringLiteral("Дата изменения")};

bool isDuplicate(const QSqlQuery& source) {
    return source.value(QStringLiteral("isDuplicate")).toInt() > 0;
}

// The first column of a statement about the source document (":profId").
QVariant lookUp(const QSqlQuery& source, const QString& sql) {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(sql);
    query.bindValue(QStringLiteral(":profId"), source.value(QStringLiteral("profId")));
    if (!Database::instance()->execPrepared(query) || !query.next())
        return QVariant();
    return query.value(0);
}

QString storedFrdo(const QString& column) {
    return QStringLiteral("SELECT %1 FROM ProfFrdo WHERE profId = :profId;").arg(column);
}

// A duplicate carries the name it is issued to into the original's name columns.
AutoFillField originalName(const QString& target, const QString& nameColumn) {
    return {target, QString(), [target, nameColumn](const QSqlQuery& source) {
                return isDuplicate(source) ? QVariant(source.value(nameColumn).toString())
                                           : lookUp(source, storedFrdo(target));
            }};
}

// The duplicate's answers stay as entered; an original answers "Нет".
AutoFillField duplicateAnswer(const QString& target) {
    return {target, QString(), [target](const QSqlQuery& source) {
                return isDuplicate(source) ? lookUp(source, storedFrdo(target)) : QVariant(QStringLiteral("Нет"));
            }};
}

// The series and the number of a certificate's "Серия/номер свидетельства": apart at the first
// blank when there is one ("2926 000101"), otherwise after the sixth character ("123456789012").
// Blanks around the text count for nothing. A part the text is too short for is empty; a NULL
// number gives NULL parts.
QPair<QVariant, QVariant> attNumberParts(const QSqlQuery& source) {
    const QVariant stored = source.value(QStringLiteral("attNumber"));
    if (stored.isNull())
        return {QVariant(QVariant::String), QVariant(QVariant::String)};
    const QString number = stored.toString().trimmed();
    const auto blank = std::find_if(number.cbegin(), number.cend(), [](QChar c) { return c.isSpace(); });
    const int at = blank == number.cend() ? -1 : int(blank - number.cbegin());
    const QString series = at < 0 ? number.left(6) : number.left(at);
    const QString rest = at < 0 ? number.mid(6) : number.mid(at + 1).trimmed();
    // A null text would be bound as NULL.
    return {series.isNull() ? QStringLiteral("") : series, rest.isNull() ? QStringLiteral("") : rest};
}

// Both kinds of certificate this registry issues, of a worker's profession (certificateType 1, and
// anything but 2) and of an employee's position (2), are one kind in FRDO.
QVariant frdoDocumentKind(const QSqlQuery&) {
    return QStringLiteral("Свидетельство о профессии рабочего, должности служащего");
}
} // namespace

DocumentsTable::DocumentsTable(QWidget* parent) : DocumentsTableAbstract(parent) {
    initTable();
    initAutoFill();
}

void DocumentsTable::initTable() {
    _documents = new DocumentsModel(this);
    _documents->reload();
    _filter = new MyFilterModel(this);
    _filter->setSourceModel(_documents);
    for (int column = 0; column < headers.size(); ++column)
        _documents->setHeaderData(column, Qt::Horizontal, headers.at(column), Qt::EditRole);
    setModels(_documents, _filter);
    DocumentsTableAbstract::initTable();
    // Until the user sets (and the window saves) their own: a name and a qualification in full.
    const int widths[] = {0, 240, 210, 100, 80, 90};
    for (int column = 1; column < int(std::size(widths)); ++column)
        setColumnWidth(column, widths[column]);
}

QDialog* DocumentsTable::createPrintDialog(QWidget* parent) {
    return new PrintDialog(parent);
}

void DocumentsTable::reloadSource() {
    _documents->reload();
}

bool DocumentsTable::checkRecords(int, QList<qint64>) {
    return true;
}

bool DocumentsTable::checkRecord(int, qint64) {
    return true;
}

void DocumentsTable::onFiltersChanged(FilterListType filterList) {
    _filter->setFilter(DocumentFilter::fromList(filterList));
    fetchAll();
    clearSelection();
    emit unselect();
    emitRowCounts();
}

void DocumentsTable::initAutoFill() {
    AutoFillSpec frdo;
    frdo.table = QStringLiteral("ProfFrdo");
    frdo.insertSql = QStringLiteral("INSERT OR IGNORE INTO ProfFrdo (profId) SELECT :id WHERE NOT EXISTS(SELECT 1 "
                                    "FROM ProfFrdo WHERE profId = :id);");
    frdo.selectSql = QStringLiteral("SELECT * FROM ProfDocuments WHERE profId=:id;");
    const auto copy = [](const char* target, const char* source) {
        return AutoFillField{QLatin1String(target), QLatin1String(source), {}};
    };
    const auto computed = [](const char* target, std::function<QVariant(const QSqlQuery&)> compute) {
        return AutoFillField{QLatin1String(target), QString(), std::move(compute)};
    };
    frdo.fields = {
        copy("issueDateFrdo", "issueDate"),
        copy("RegNumberFrdo", "regNumber"),
        copy("birthDateFrdo", "birthDate"),
        computed("SexIsMale",
                 [](const QSqlQuery& source) {
                     const QString patronymic = source.value(QStringLiteral("fio3")).toString().trimmed();
                     return patronymic.endsWith(QStringLiteral("а"), Qt::CaseInsensitive) ? -1 : 1;
                 }),
        computed("DocSerial", [](const QSqlQuery& source) { return attNumberParts(source).first; }),
        computed("DocNumber", [](const QSqlQuery& source) { return attNumberParts(source).second; }),
        computed("DocType", frdoDocumentKind),
        copy("StateDuplicate", "isDuplicate"),
        copy("beginDate", "startDate"),
        copy("endDate", "finishDate"),
        copy("frdo15", "profession"),
        originalName(QStringLiteral("fio1orig"), QStringLiteral("fio1")),
        originalName(QStringLiteral("fio2orig"), QStringLiteral("fio2")),
        originalName(QStringLiteral("fio3orig"), QStringLiteral("fio3")),
        duplicateAnswer(QStringLiteral("frdo18")),
        duplicateAnswer(QStringLiteral("frdo19")),
        duplicateAnswer(QStringLiteral("frdo20")),
        computed("studyCount",
                 [](const QSqlQuery& source) {
                     return lookUp(source, QStringLiteral("SELECT SUM(IFNULL(count,0)) AS totalCount FROM ProfDetails "
                                                          "WHERE ProfDetails.profId = :profId;"));
                 }),
        copy("frdo14", "profProgName"),
        copy("frdo16", "qual"),
    };
    _autoFill.insert(QStringLiteral("Frdo"), frdo);
}
