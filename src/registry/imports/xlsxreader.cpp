#include "xlsxreader.h"

#include "mzlog.h"
#include "zippackage.h"

#include <QDate>
#include <QDir>
#include <QHash>
#include <QXmlStreamReader>
#include <cmath>

namespace {
QString notWorkbookText() {
    return QStringLiteral("Файл не является книгой Excel (.xlsx) или повреждён.");
}
QString damagedText() {
    return QStringLiteral("Файл повреждён или не является книгой Excel (.xlsx).");
}
QString protectedText() {
    return QStringLiteral("Книга защищена паролем или сохранена в старом формате .xls. Сохраните её в Excel как "
                          "«Книга Excel (.xlsx)» без пароля.");
}
QString tooLargeText() {
    return QStringLiteral("Файл слишком большой для импорта (часть книги больше 50 МБ).");
}

// Columns past the last one a workbook can hold all count as "beyond the limit".
constexpr int farColumn = 1 << 20;

QString reasonOf(PartFailure failure) {
    switch (failure) {
    case PartFailure::TooLarge:
        return tooLargeText();
    case PartFailure::Protected:
        return protectedText();
    case PartFailure::Missing:
        return notWorkbookText();
    case PartFailure::Unreadable:
    case PartFailure::Malformed:
        return damagedText();
    case PartFailure::None:
        break;
    }
    return QString();
}

// The text of a shared or inline string: plain <t>, rich-text runs <r><t>, phonetic runs skipped.
QString richText(QXmlStreamReader& xml, int depth = 0) {
    QString text;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("t"))
            text += xml.readElementText(QXmlStreamReader::SkipChildElements);
        else if (xml.name() == QLatin1String("r") && depth == 0)
            text += richText(xml, depth + 1);
        else
            xml.skipCurrentElement();
    }
    return text;
}

bool isBuiltinDateFormat(int id) {
    return (id >= 14 && id <= 22) || (id >= 45 && id <= 47);
}

// A custom number format shows a date or time when it has a date or time letter outside quoted
// texts, brackets (colours, conditions, locales) and escaped characters.
bool isDateFormatCode(const QString& code) {
    if (code.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0)
        return false;
    bool quoted = false;
    int bracket = 0;
    for (int i = 0; i < code.size(); ++i) {
        const QChar c = code.at(i);
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == QLatin1Char('['))
            ++bracket;
        else if (c == QLatin1Char(']'))
            bracket = std::max(0, bracket - 1);
        else if (bracket > 0)
            continue;
        else if (c == QLatin1Char('\\') || c == QLatin1Char('_') || c == QLatin1Char('*'))
            ++i;
        else if (QStringLiteral("dmyhsDMYHS").contains(c))
            return true;
    }
    return false;
}

// A day number as a date: 1 is 1 January 1900, 60 the 29 February 1900 that never was (kept as a
// number, like anything outside the years 1900 to 9999).
QVariant dateCell(double value, bool date1904) {
    const double day = std::floor(value) + (date1904 ? 1462 : 0);
    if (!(day >= 1 && day <= 2958465) || day == 60)
        return value;
    return QDate(1899, 12, 31).addDays(qint64(day < 60 ? day : day - 1));
}

// "B3" -> 1; `next` when the reference has no valid column.
int columnOfReference(const QStringRef& reference, int next) {
    int column = 0;
    int letters = 0;
    for (const QChar c : reference) {
        const ushort u = c.toUpper().unicode();
        if (u < 'A' || u > 'Z')
            break;
        if (++letters > 3)
            return farColumn;
        column = column * 26 + (u - 'A' + 1);
    }
    return letters == 0 ? next : column - 1;
}

bool blank(const QVariant& value) {
    return !value.isValid() || (value.type() == QVariant::String && value.toString().isEmpty());
}

QString resolveTarget(const QString& base, const QString& target) {
    if (target.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(target.mid(1));
    return QDir::cleanPath(base.isEmpty() ? target : base + QLatin1Char('/') + target);
}

QString folderOf(const QString& part) {
    const int slash = part.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : part.left(slash);
}

QString relationsOf(const QString& part) {
    const int slash = part.lastIndexOf(QLatin1Char('/'));
    return part.left(slash + 1) + QLatin1String("_rels/") + part.mid(slash + 1) + QLatin1String(".rels");
}

struct Relation {
    QString type;
    QString target;
};
} // namespace

struct XlsxReader::Private {
    ZipPackage package;
    QString workbookPart;
    QStringList sheetNames;
    QStringList sheetParts;
    QStringList sharedStrings;
    QVector<bool> dateStyles;
    bool date1904 = false;

    ~Private() { clear(); }
    // Back to a reader of no workbook. The file stays the same object: it was made on the thread
    // that made the reader, whichever thread opens a workbook with it.
    void clear() {
        package.close();
        workbookPart.clear();
        sheetNames.clear();
        sheetParts.clear();
        sharedStrings.clear();
        dateStyles.clear();
        date1904 = false;
    }
    bool fail(const QString& reason, const QString& detail, QString* error) const {
        MZ_LOG() << "workbook not read" << package.fileName() << detail << reason;
        if (error)
            *error = reason;
        return false;
    }
    // Parses `name` with `read` (which gets each element start); true when the part is missing
    // and `optional`.
    bool parse(const QString& name, bool optional, const std::function<void(QXmlStreamReader&)>& read, QString* error,
               const std::function<bool(int)>& progress) const {
        PartXml part;
        ReadProgress reading(part, progress);
        if (part.open(package.zip(), name))
            while (reading.go() && part.nextStart())
                read(part.xml);
        if (reading.stopped())
            return fail(ImportTable::stoppedText(), name, error);
        if (optional && part.isMissing())
            return true;
        const QString reason = reasonOf(part.failure());
        return reason.isEmpty() || fail(reason, part.detail(), error);
    }
    bool openZip(const QString& path, QString* error);
    bool readStructure(QString* error, const std::function<bool(int)>& progress);
    void readRows(PartXml& part, ImportTable* table, ReadProgress& progress) const;
    bool readRow(QXmlStreamReader& xml, QVector<QVariant>* row, QString* notice, ReadProgress& progress) const;
    QVariant cellValue(QXmlStreamReader& xml, const QXmlStreamAttributes& attributes) const;
};

bool XlsxReader::Private::openZip(const QString& path, QString* error) {
    if (package.open(path))
        return true;
    switch (package.failure()) {
    case ZipPackage::Unopened:
        return fail(QStringLiteral("Не удалось открыть файл %1: %2.").arg(package.fileName(), package.detail()),
                    QString(), error);
    case ZipPackage::Compound:
        return fail(protectedText(), package.detail(), error);
    case ZipPackage::TooManyEntries:
        return fail(ZipPackage::tooManyEntriesText(), package.detail(), error);
    default:
        return fail(notWorkbookText(), package.detail(), error);
    }
}

bool XlsxReader::Private::readStructure(QString* error, const std::function<bool(int)>& progress) {
    workbookPart = QStringLiteral("xl/workbook.xml");
    const auto relationsReader = [](QHash<QString, Relation>* relations, const QString& base) {
        return [relations, base](QXmlStreamReader& xml) {
            if (xml.name() != QLatin1String("Relationship") ||
                xml.attributes().value(QLatin1String("TargetMode")) == QLatin1String("External"))
                return;
            const QXmlStreamAttributes a = xml.attributes();
            relations->insert(a.value(QLatin1String("Id")).toString(),
                              {a.value(QLatin1String("Type")).toString(),
                               resolveTarget(base, a.value(QLatin1String("Target")).toString())});
        };
    };
    QHash<QString, Relation> packageRelations;
    if (!parse(QStringLiteral("_rels/.rels"), true, relationsReader(&packageRelations, QString()), error, progress))
        return false;
    for (const Relation& relation : qAsConst(packageRelations))
        if (relation.type.endsWith(QLatin1String("/officeDocument")))
            workbookPart = relation.target;

    QStringList sheetIds;
    const auto workbookReader = [&](QXmlStreamReader& xml) {
        if (xml.name() == QLatin1String("workbookPr")) {
            const QStringRef value = xml.attributes().value(QLatin1String("date1904"));
            date1904 = value == QLatin1String("1") || value == QLatin1String("true");
        } else if (xml.name() == QLatin1String("sheet")) {
            QString id;
            for (const QXmlStreamAttribute& attribute : xml.attributes())
                if (attribute.name() == QLatin1String("id"))
                    id = attribute.value().toString();
            sheetNames << xml.attributes().value(QLatin1String("name")).toString();
            sheetIds << id;
        }
    };
    if (!parse(workbookPart, false, workbookReader, error, progress))
        return false;
    if (sheetNames.isEmpty())
        return fail(notWorkbookText(), QStringLiteral("no sheets"), error);

    QHash<QString, Relation> relations;
    if (!parse(relationsOf(workbookPart), true, relationsReader(&relations, folderOf(workbookPart)), error, progress))
        return false;
    QString sharedStringsPart = folderOf(workbookPart) + QLatin1String("/sharedStrings.xml");
    QString stylesPart = folderOf(workbookPart) + QLatin1String("/styles.xml");
    for (const Relation& relation : qAsConst(relations)) {
        if (relation.type.endsWith(QLatin1String("/sharedStrings")))
            sharedStringsPart = relation.target;
        else if (relation.type.endsWith(QLatin1String("/styles")))
            stylesPart = relation.target;
    }
    for (int i = 0; i < sheetIds.size(); ++i) {
        const QString fallback = folderOf(workbookPart) + QStringLiteral("/worksheets/sheet%1.xml").arg(i + 1);
        sheetParts << (relations.contains(sheetIds.at(i)) ? relations.value(sheetIds.at(i)).target : fallback);
    }

    const auto stringsReader = [this](QXmlStreamReader& xml) {
        if (xml.name() == QLatin1String("si"))
            sharedStrings << richText(xml);
    };
    if (!parse(sharedStringsPart, true, stringsReader, error, progress))
        return false;

    QHash<int, bool> customDates;
    bool inCellFormats = false;
    const auto stylesReader = [&](QXmlStreamReader& xml) {
        const QXmlStreamAttributes a = xml.attributes();
        if (xml.name() == QLatin1String("numFmt")) {
            customDates.insert(a.value(QLatin1String("numFmtId")).toInt(),
                               isDateFormatCode(a.value(QLatin1String("formatCode")).toString()));
        } else if (xml.name() == QLatin1String("cellXfs")) {
            inCellFormats = true;
        } else if (xml.name() == QLatin1String("cellStyleXfs") || xml.name() == QLatin1String("dxfs")) {
            inCellFormats = false;
        } else if (xml.name() == QLatin1String("xf") && inCellFormats) {
            const int id = a.value(QLatin1String("numFmtId")).toInt();
            dateStyles << customDates.value(id, isBuiltinDateFormat(id));
        }
    };
    return parse(stylesPart, true, stylesReader, error, progress);
}

QVariant XlsxReader::Private::cellValue(QXmlStreamReader& xml, const QXmlStreamAttributes& a) const {
    const QStringRef type = a.value(QLatin1String("t"));
    const int style = a.value(QLatin1String("s")).toInt();
    QString value;
    QString inlineText;
    bool hasValue = false;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("v")) {
            value = xml.readElementText(QXmlStreamReader::SkipChildElements);
            hasValue = true;
        } else if (xml.name() == QLatin1String("is")) {
            inlineText = richText(xml);
        } else {
            xml.skipCurrentElement(); // a formula's text; its cached value is in <v>
        }
    }
    if (type == QLatin1String("inlineStr"))
        return inlineText;
    if (!hasValue || type == QLatin1String("e"))
        return QVariant();
    if (type == QLatin1String("s")) {
        bool ok = false;
        const int index = value.toInt(&ok);
        return ok && index >= 0 && index < sharedStrings.size() ? QVariant(sharedStrings.at(index)) : QVariant();
    }
    if (type == QLatin1String("str"))
        return value;
    if (type == QLatin1String("b"))
        return value.trimmed() == QLatin1String("1") || value.trimmed() == QLatin1String("true");
    if (type == QLatin1String("d")) {
        const QDate date = QDate::fromString(value.left(10), Qt::ISODate);
        return date.isValid() ? QVariant(date) : QVariant(value);
    }
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return value.trimmed().isEmpty() ? QVariant() : QVariant(value);
    return style >= 0 && style < dateStyles.size() && dateStyles.at(style) ? dateCell(number, date1904)
                                                                           : QVariant(number);
}

// Reads the cells of the <row> the reader stands on; true when any holds a value.
bool XlsxReader::Private::readRow(QXmlStreamReader& xml, QVector<QVariant>* row, QString* notice,
                                  ReadProgress& progress) const {
    int next = 0;
    while (progress.go() && xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("c")) {
            xml.skipCurrentElement();
            continue;
        }
        const QXmlStreamAttributes attributes = xml.attributes();
        const int column = columnOfReference(attributes.value(QLatin1String("r")), next);
        next = std::min(column, farColumn) + 1;
        const QVariant value = cellValue(xml, attributes);
        if (blank(value))
            continue;
        if (column >= ImportTable::maxColumns) {
            *notice = ImportTable::columnsNotice();
            continue;
        }
        if (column >= row->size())
            row->resize(column + 1);
        (*row)[column] = value;
    }
    return !row->isEmpty();
}

void XlsxReader::Private::readRows(PartXml& part, ImportTable* table, ReadProgress& progress) const {
    QXmlStreamReader& xml = part.xml;
    qint64 lastNumber = 0;
    QString columnNotice;
    QString rowNotice;
    SheetBounds cells;
    while (progress.go() && part.nextStart()) {
        if (xml.name() != QLatin1String("row"))
            continue;
        bool ok = false;
        const qint64 number = xml.attributes().value(QLatin1String("r")).toLongLong(&ok);
        lastNumber = ok && number > 0 ? number : lastNumber + 1;
        QVector<QVariant> row;
        if (!readRow(xml, &row, &columnNotice, progress))
            continue;
        // Rows keep their file order; a gap is filled with empty rows only up to the limit.
        if (lastNumber > ImportTable::maxRows || table->rows.size() >= ImportTable::maxRows) {
            rowNotice = ImportTable::rowsNotice();
            break;
        }
        if (!cells.take(row.size())) {
            rowNotice = ImportTable::cellsNotice(table->rows.size());
            break;
        }
        while (table->rows.size() < lastNumber - 1)
            table->rows.append(QVector<QVariant>());
        table->rows.append(row);
    }
    table->notice = ImportTable::joinNotices({columnNotice, rowNotice});
}

XlsxReader::XlsxReader() : d(new Private) {}

XlsxReader::~XlsxReader() = default;

bool XlsxReader::open(const QString& path, QString* error, const Progress& progress) {
    d->clear();
    if (d->openZip(path, error) && d->readStructure(error, progress))
        return true;
    d->clear();
    return false;
}

QStringList XlsxReader::sheetNames() const {
    return d->sheetNames;
}

bool XlsxReader::readSheet(int index, ImportTable* table, QString* error, const Progress& progress) const {
    if (!d->package.zip() || index < 0 || index >= d->sheetParts.size())
        return d->fail(notWorkbookText(), QStringLiteral("no sheet %1").arg(index), error);
    ImportTable read;
    PartXml part;
    ReadProgress reading(part, progress);
    if (part.open(d->package.zip(), d->sheetParts.at(index)))
        d->readRows(part, &read, reading);
    if (reading.stopped())
        return d->fail(ImportTable::stoppedText(), d->sheetParts.at(index), error);
    const QString reason = reasonOf(part.failure());
    if (!reason.isEmpty())
        return d->fail(reason, part.detail(), error);
    if (progress)
        progress(100);
    *table = std::move(read);
    return true;
}
