#include "xlsxreader.h"

#include "mzlog.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QIODevice>
#include <QXmlStreamReader>
#include <cmath>
#include <zip.h>

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
QString rowsNotice() {
    return QStringLiteral("Прочитаны только первые %1 строк.").arg(ImportTable::maxRows);
}
QString columnsNotice() {
    return QStringLiteral("Прочитаны только первые %1 столбцов.").arg(ImportTable::maxColumns);
}

// Signature of an OLE compound file: an encrypted workbook or the old .xls format.
const char oleSignature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
// Columns past the last one a workbook can hold all count as "beyond the limit".
constexpr int farColumn = 1 << 20;

// One part of the package, unpacked as it is read and never beyond ImportTable::maxBytes.
class ZipPart : public QIODevice {
public:
    ~ZipPart() override {
        if (_file)
            zip_fclose(_file);
    }
    enum Failure { None, Missing, TooLarge, Protected, Unreadable };

    bool open(zip_t* zip, const QString& name) {
        const zip_int64_t index = zip_name_locate(zip, name.toUtf8().constData(), ZIP_FL_NOCASE);
        zip_stat_t stat;
        if (index < 0 || zip_stat_index(zip, zip_uint64_t(index), 0, &stat) != 0)
            return fail(Missing);
        // The size the directory declares is refused before anything is inflated.
        if ((stat.valid & ZIP_STAT_SIZE) && stat.size > zip_uint64_t(ImportTable::maxBytes))
            return fail(TooLarge);
        _size = (stat.valid & ZIP_STAT_SIZE) ? qint64(stat.size) : 0;
        _file = zip_fopen_index(zip, zip_uint64_t(index), 0);
        if (!_file) {
            const int code = zip_error_code_zip(zip_get_error(zip));
            return fail(code == ZIP_ER_NOPASSWD || code == ZIP_ER_WRONGPASSWD || code == ZIP_ER_ENCRNOTSUPP
                            ? Protected
                            : Unreadable);
        }
        return QIODevice::open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    bool atEnd() const override { return _ended; }
    Failure failure() const { return _failure; }
    int percent() const { return _size > 0 ? int(std::min<qint64>(100, _consumed * 100 / _size)) : 0; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        if (_ended)
            return -1;
        if (maxSize <= 0)
            return 0;
        const zip_int64_t count = zip_fread(_file, data, zip_uint64_t(maxSize));
        if (count <= 0) {
            _ended = true;
            if (count < 0)
                _failure = Unreadable;
            return count < 0 ? -1 : 0;
        }
        // A directory that understates the size does not get past the limit either.
        _consumed += count;
        if (_consumed > ImportTable::maxBytes) {
            _ended = true;
            _failure = TooLarge;
            return -1;
        }
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    bool fail(Failure failure) {
        _failure = failure;
        return false;
    }
    zip_file_t* _file = nullptr;
    qint64 _size = 0;
    qint64 _consumed = 0;
    bool _ended = false;
    Failure _failure = None;
};

// A part parsed as XML; a document type with entity declarations is refused before any text is
// read, so nothing is ever expanded.
class PartXml {
public:
    bool open(zip_t* zip, const QString& name) {
        _name = name;
        if (!_part.open(zip, name))
            return false;
        xml.setDevice(&_part);
        return true;
    }
    // Next element start; false at the end, on an error or on a refused document type.
    bool nextStart() {
        while (!xml.atEnd()) {
            const QXmlStreamReader::TokenType token = xml.readNext();
            if (token == QXmlStreamReader::StartElement)
                return true;
            if (token == QXmlStreamReader::DTD && !xml.entityDeclarations().isEmpty()) {
                _refused = true;
                return false;
            }
            if (token == QXmlStreamReader::Invalid)
                return false;
        }
        return false;
    }
    int percent() const { return _part.percent(); }
    // The reason the part could not be read; empty when it was read to its end.
    QString failure() const {
        switch (_part.failure()) {
        case ZipPart::TooLarge:
            return tooLargeText();
        case ZipPart::Protected:
            return protectedText();
        case ZipPart::Missing:
            return notWorkbookText();
        case ZipPart::Unreadable:
            return damagedText();
        case ZipPart::None:
            break;
        }
        if (_refused || xml.hasError())
            return damagedText();
        return QString();
    }
    QString detail() const { return _name + QLatin1Char(' ') + xml.errorString(); }
    bool isMissing() const { return _part.failure() == ZipPart::Missing; }

private:
    ZipPart _part; // declared before the reader, so that it outlives it

public:
    QXmlStreamReader xml;

private:
    QString _name;
    bool _refused = false;
};

// Reports the share of a part read each time it grows by a percent, checked at every row and
// cell so that one huge row cannot hide the progress either.
class ReadProgress {
public:
    ReadProgress(const PartXml& part, const std::function<bool(int)>& report) : _part(part), _report(report) {}
    bool go() {
        if (!_report || _stopped)
            return !_stopped;
        const int percent = _part.percent();
        if (percent != _last) {
            _last = percent;
            _stopped = !_report(percent);
        }
        return !_stopped;
    }
    bool stopped() const { return _stopped; }

private:
    const PartXml& _part;
    const std::function<bool(int)>& _report;
    int _last = -1;
    bool _stopped = false;
};

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
    QFile file;
    zip_t* zip = nullptr;
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
        if (zip)
            zip_discard(zip);
        zip = nullptr;
        file.close();
        workbookPart.clear();
        sheetNames.clear();
        sheetParts.clear();
        sharedStrings.clear();
        dateStyles.clear();
        date1904 = false;
    }
    bool fail(const QString& reason, const QString& detail, QString* error) const {
        MZ_LOG() << "workbook not read" << file.fileName() << detail << reason;
        if (error)
            *error = reason;
        return false;
    }
    // Parses `name` with `read` (which gets each element start); true when the part is missing
    // and `optional`.
    bool parse(const QString& name, bool optional, const std::function<void(QXmlStreamReader&)>& read,
               QString* error) const {
        PartXml part;
        if (part.open(zip, name))
            while (part.nextStart())
                read(part.xml);
        if (optional && part.isMissing())
            return true;
        const QString reason = part.failure();
        return reason.isEmpty() || fail(reason, part.detail(), error);
    }
    bool openZip(QString* error);
    bool readStructure(QString* error);
    void readRows(PartXml& part, ImportTable* table, ReadProgress& progress) const;
    bool readRow(QXmlStreamReader& xml, QVector<QVariant>* row, QString* notice, ReadProgress& progress) const;
    QVariant cellValue(QXmlStreamReader& xml, const QXmlStreamAttributes& attributes) const;
};

bool XlsxReader::Private::openZip(QString* error) {
    if (!file.open(QIODevice::ReadOnly)) {
        const QString reason =
            QStringLiteral("Не удалось открыть файл %1: %2.").arg(file.fileName(), file.errorString());
        return fail(reason, QString(), error);
    }
    if (file.peek(8) == QByteArray(oleSignature, 8))
        return fail(protectedText(), QStringLiteral("compound file"), error);
    const qint64 size = file.size();
    const uchar* data = size > 0 ? file.map(0, size) : nullptr;
    zip_error_t zipError;
    zip_error_init(&zipError);
    zip_source_t* source = data ? zip_source_buffer_create(data, zip_uint64_t(size), 0, &zipError) : nullptr;
    if (source) {
        zip = zip_open_from_source(source, ZIP_RDONLY, &zipError);
        if (!zip)
            zip_source_free(source);
    }
    const QString detail = QString::fromUtf8(zip_error_strerror(&zipError));
    zip_error_fini(&zipError);
    return zip || fail(notWorkbookText(), detail, error);
}

bool XlsxReader::Private::readStructure(QString* error) {
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
    if (!parse(QStringLiteral("_rels/.rels"), true, relationsReader(&packageRelations, QString()), error))
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
    if (!parse(workbookPart, false, workbookReader, error))
        return false;
    if (sheetNames.isEmpty())
        return fail(notWorkbookText(), QStringLiteral("no sheets"), error);

    QHash<QString, Relation> relations;
    if (!parse(relationsOf(workbookPart), true, relationsReader(&relations, folderOf(workbookPart)), error))
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
    if (!parse(sharedStringsPart, true, stringsReader, error))
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
    return parse(stylesPart, true, stylesReader, error);
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
            *notice = columnsNotice();
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
            rowNotice = rowsNotice();
            break;
        }
        while (table->rows.size() < lastNumber - 1)
            table->rows.append(QVector<QVariant>());
        table->rows.append(row);
    }
    table->notice = QStringList({columnNotice, rowNotice}).join(QLatin1Char(' ')).trimmed();
}

XlsxReader::XlsxReader() : d(new Private) {}

XlsxReader::~XlsxReader() = default;

bool XlsxReader::open(const QString& path, QString* error) {
    d->clear();
    d->file.setFileName(path);
    if (d->openZip(error) && d->readStructure(error))
        return true;
    d->clear();
    return false;
}

QStringList XlsxReader::sheetNames() const {
    return d->sheetNames;
}

bool XlsxReader::readSheet(int index, ImportTable* table, QString* error,
                           const std::function<bool(int percent)>& progress) const {
    if (!d->zip || index < 0 || index >= d->sheetParts.size())
        return d->fail(notWorkbookText(), QStringLiteral("no sheet %1").arg(index), error);
    ImportTable read;
    PartXml part;
    ReadProgress reading(part, progress);
    if (part.open(d->zip, d->sheetParts.at(index)))
        d->readRows(part, &read, reading);
    if (reading.stopped())
        return d->fail(ImportTable::stoppedText(), d->sheetParts.at(index), error);
    const QString reason = part.failure();
    if (!reason.isEmpty())
        return d->fail(reason, part.detail(), error);
    if (progress)
        progress(100);
    *table = std::move(read);
    return true;
}
