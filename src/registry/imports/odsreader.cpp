#include "odsreader.h"

#include "mzlog.h"
#include "zippackage.h"

#include <QDate>
#include <cmath>

namespace {
QString notSpreadsheetText() {
    return QStringLiteral("Файл не является таблицей OpenDocument (.ods) или повреждён.");
}
QString damagedText() {
    return QStringLiteral("Файл повреждён или не является таблицей OpenDocument (.ods).");
}
QString protectedText() {
    return QStringLiteral("Таблица защищена паролем. Сохраните её без пароля как «Электронная таблица ODF (.ods)».");
}
QString tooLargeText() {
    return QStringLiteral("Файл слишком большой для импорта (часть таблицы больше 50 МБ).");
}

const QString officeNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:office:1.0");
const QString tableNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:table:1.0");
const QString textNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:text:1.0");
const QString manifestNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:manifest:1.0");

// A sheet holds at most 1,048,576 rows and 16,384 columns; a larger count is taken as that.
constexpr qint64 maxRepeat = 1 << 20;
// Blanks a text:s element may stand for, one by one and over a whole sheet, so that a short file
// cannot unpack into gigabytes of blanks.
constexpr int maxBlanksAtOnce = 1024;
constexpr qint64 maxBlanks = 1 << 22;
// Inline elements (spans, links) nested deeper than this are passed over.
constexpr int maxDepth = 32;

bool is(const QXmlStreamReader& xml, const QString& ns, QLatin1String name) {
    return xml.name() == name && xml.namespaceUri() == ns;
}

qint64 repeatOf(const QXmlStreamAttributes& attributes, QLatin1String name) {
    bool ok = false;
    const qint64 count = attributes.value(tableNs, name).toLongLong(&ok);
    return ok && count > 1 ? std::min(count, maxRepeat) : 1;
}

bool blank(const QVariant& value) {
    return !value.isValid() || (value.type() == QVariant::String && value.toString().isEmpty());
}

QString reasonOf(PartFailure failure) {
    switch (failure) {
    case PartFailure::TooLarge:
        return tooLargeText();
    case PartFailure::Protected:
        return protectedText();
    case PartFailure::Missing:
        return notSpreadsheetText();
    case PartFailure::Unreadable:
    case PartFailure::Malformed:
        return damagedText();
    case PartFailure::None:
        break;
    }
    return QString();
}

// What one read of a sheet has taken so far.
struct SheetState {
    ImportTable table;
    SheetBounds cells;
    qint64 blanks = 0;
    qint64 emptyRows = 0; // empty rows seen since the last kept one, added only before a kept row
    QString columnNotice;
    QString rowNotice;
};

// The text of a paragraph or of an inline element in it, up to its end tag.
QString inlineText(QXmlStreamReader& xml, SheetState& state, int depth) {
    QString text;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::Characters) {
            text += xml.text();
        } else if (token == QXmlStreamReader::EndElement || token == QXmlStreamReader::Invalid) {
            break;
        } else if (token != QXmlStreamReader::StartElement) {
            continue;
        } else if (is(xml, textNs, QLatin1String("s"))) {
            bool ok = false;
            const int asked = xml.attributes().value(textNs, QLatin1String("c")).toInt(&ok);
            int count = ok ? std::max(1, std::min(asked, maxBlanksAtOnce)) : 1;
            if (state.blanks + count > maxBlanks)
                count = 1;
            state.blanks += count;
            text += QString(count, QLatin1Char(' '));
            xml.skipCurrentElement();
        } else if (is(xml, textNs, QLatin1String("tab"))) {
            text += QLatin1Char('\t');
            xml.skipCurrentElement();
        } else if (is(xml, textNs, QLatin1String("line-break"))) {
            text += QLatin1Char('\n');
            xml.skipCurrentElement();
        } else if (xml.namespaceUri() == textNs && depth < maxDepth && xml.name() != QLatin1String("note") &&
                   xml.name() != QLatin1String("ruby-text")) {
            text += inlineText(xml, state, depth + 1); // a span, a link, a field's shown text
        } else {
            xml.skipCurrentElement(); // a note, a frame, an annotation
        }
    }
    return text;
}

// The paragraphs of a cell, one line each; notes and pictures passed over.
QString cellText(QXmlStreamReader& xml, SheetState& state) {
    QStringList paragraphs;
    while (xml.readNextStartElement()) {
        if (is(xml, textNs, QLatin1String("p")) || is(xml, textNs, QLatin1String("h")))
            paragraphs << inlineText(xml, state, 0);
        else
            xml.skipCurrentElement();
    }
    // One paragraph is kept as it is: a cell may hold tens of megabytes.
    return paragraphs.size() == 1 ? paragraphs.first() : paragraphs.join(QLatin1Char('\n'));
}

QVariant cellValue(QXmlStreamReader& xml, const QXmlStreamAttributes& a, SheetState& state) {
    const QString text = cellText(xml, state);
    const QStringRef type = a.value(officeNs, QLatin1String("value-type"));
    if (type == QLatin1String("float") || type == QLatin1String("percentage") || type == QLatin1String("currency")) {
        bool ok = false;
        const double number = a.value(officeNs, QLatin1String("value")).toDouble(&ok);
        if (ok && std::isfinite(number))
            return number;
    } else if (type == QLatin1String("date")) {
        const QDate date =
            QDate::fromString(a.value(officeNs, QLatin1String("date-value")).left(10).toString(), Qt::ISODate);
        if (date.isValid())
            return date;
    } else if (type == QLatin1String("boolean")) {
        const QStringRef value = a.value(officeNs, QLatin1String("boolean-value"));
        if (value == QLatin1String("true") || value == QLatin1String("false"))
            return value == QLatin1String("true");
    } else if (type == QLatin1String("string") && a.hasAttribute(officeNs, QLatin1String("string-value"))) {
        return a.value(officeNs, QLatin1String("string-value")).toString();
    }
    return text.isEmpty() ? QVariant() : QVariant(text);
}

// Reads the cells of the row the reader stands on; a repeated cell is kept up to maxColumns, an
// empty one only moves the column on.
QVector<QVariant> readRow(QXmlStreamReader& xml, SheetState& state, ReadProgress& progress) {
    QVector<QVariant> row;
    qint64 column = 0;
    while (progress.go() && xml.readNextStartElement()) {
        const bool covered = is(xml, tableNs, QLatin1String("covered-table-cell"));
        if (!covered && !is(xml, tableNs, QLatin1String("table-cell"))) {
            xml.skipCurrentElement();
            continue;
        }
        const QXmlStreamAttributes attributes = xml.attributes();
        const qint64 repeat = repeatOf(attributes, QLatin1String("number-columns-repeated"));
        QVariant value;
        if (covered)
            xml.skipCurrentElement();
        else
            value = cellValue(xml, attributes, state);
        if (!blank(value)) {
            if (column + repeat > ImportTable::maxColumns)
                state.columnNotice = ImportTable::columnsNotice();
            const int end = int(std::min<qint64>(column + repeat, ImportTable::maxColumns));
            if (end > row.size())
                row.resize(end);
            for (int c = int(std::min<qint64>(column, end)); c < end; ++c)
                row[c] = value;
        }
        column = std::min(column + repeat, maxRepeat * 2);
    }
    return row;
}

// Keeps a row `repeat` times after the empty rows before it; false when a bound stops the sheet.
bool keepRow(const QVector<QVariant>& row, qint64 repeat, SheetState& state) {
    if (row.isEmpty()) {
        state.emptyRows = std::min(state.emptyRows + repeat, maxRepeat * 2);
        return true;
    }
    ImportTable& table = state.table;
    for (qint64 copy = 0; copy < repeat; ++copy) {
        if (table.rows.size() + state.emptyRows >= ImportTable::maxRows) {
            state.rowNotice = ImportTable::rowsNotice();
            return false;
        }
        if (!state.cells.take(row.size())) {
            state.rowNotice = ImportTable::cellsNotice(table.rows.size());
            return false;
        }
        for (; state.emptyRows > 0; --state.emptyRows)
            table.rows.append(QVector<QVariant>());
        table.rows.append(row); // shared, not copied
    }
    return true;
}

// Reads the rows of the table:table the reader stands on, in header rows and row groups too.
void readTable(PartXml& part, SheetState& state, ReadProgress& progress) {
    QXmlStreamReader& xml = part.xml;
    while (progress.go()) {
        const QXmlStreamReader::TokenType token = part.next();
        if (token == QXmlStreamReader::Invalid || token == QXmlStreamReader::EndDocument)
            return;
        if (token == QXmlStreamReader::EndElement && is(xml, tableNs, QLatin1String("table")))
            return;
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (is(xml, tableNs, QLatin1String("table-row"))) {
            const qint64 repeat = repeatOf(xml.attributes(), QLatin1String("number-rows-repeated"));
            const QVector<QVariant> row = readRow(xml, state, progress);
            if (!keepRow(row, repeat, state))
                return;
        } else if (is(xml, tableNs, QLatin1String("shapes")) || is(xml, tableNs, QLatin1String("table-column"))) {
            xml.skipCurrentElement();
        }
    }
}
} // namespace

struct OdsReader::Private {
    ZipPackage package;
    QStringList sheetNames;

    ~Private() { clear(); }
    void clear() {
        package.close();
        sheetNames.clear();
    }
    bool fail(const QString& reason, const QString& detail, QString* error) const {
        MZ_LOG() << "spreadsheet not read" << package.fileName() << detail << reason;
        if (error)
            *error = reason;
        return false;
    }
    bool failPart(const PartXml& part, bool stopped, QString* error) const {
        if (stopped)
            return fail(ImportTable::stoppedText(), part.detail(), error);
        const QString reason = reasonOf(part.failure());
        return reason.isEmpty() || fail(reason, part.detail(), error);
    }
    bool openPackage(const QString& path, QString* error);
    bool checkManifest(QString* error, const std::function<bool(int)>& progress);
    bool readNames(QString* error, const std::function<bool(int)>& progress);
    // Walks content.xml to the start of each sheet; `atSheet` gets its index and returns false
    // once it has read what it needs.
    bool walkSheets(PartXml& part, ReadProgress& progress, const std::function<bool(int)>& atSheet) const;
};

bool OdsReader::Private::openPackage(const QString& path, QString* error) {
    if (package.open(path))
        return true;
    switch (package.failure()) {
    case ZipPackage::Unopened:
        return fail(QStringLiteral("Не удалось открыть файл %1: %2.").arg(path, package.detail()), QString(), error);
    case ZipPackage::TooManyEntries:
        return fail(ZipPackage::tooManyEntriesText(), package.detail(), error);
    default:
        return fail(notSpreadsheetText(), package.detail(), error);
    }
}

// An encrypted spreadsheet keeps its parts as ordinary zip entries; only the manifest tells.
bool OdsReader::Private::checkManifest(QString* error, const std::function<bool(int)>& progress) {
    PartXml part;
    ReadProgress reading(part, progress);
    bool encrypted = false;
    if (part.open(package.zip(), QStringLiteral("META-INF/manifest.xml")))
        while (!encrypted && reading.go() && part.nextStart())
            encrypted = is(part.xml, manifestNs, QLatin1String("encryption-data"));
    if (encrypted)
        return fail(protectedText(), QStringLiteral("encrypted"), error);
    return part.isMissing() || failPart(part, reading.stopped(), error);
}

bool OdsReader::Private::walkSheets(PartXml& part, ReadProgress& progress,
                                    const std::function<bool(int)>& atSheet) const {
    QXmlStreamReader& xml = part.xml;
    int depth = 0; // tables inside tables (in cells, in text) are no sheets
    int index = 0;
    bool inSpreadsheet = false;
    while (progress.go()) {
        const QXmlStreamReader::TokenType token = part.next();
        if (token == QXmlStreamReader::Invalid || token == QXmlStreamReader::EndDocument)
            return true;
        if (token == QXmlStreamReader::StartElement) {
            if (is(xml, officeNs, QLatin1String("spreadsheet"))) {
                inSpreadsheet = true;
            } else if (is(xml, tableNs, QLatin1String("table")) && inSpreadsheet) {
                if (depth == 0 && !atSheet(index++))
                    return false;
                if (xml.tokenType() == QXmlStreamReader::StartElement)
                    ++depth;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (is(xml, officeNs, QLatin1String("spreadsheet")))
                inSpreadsheet = false;
            else if (is(xml, tableNs, QLatin1String("table")) && depth > 0)
                --depth;
        }
    }
    return true;
}

bool OdsReader::Private::readNames(QString* error, const std::function<bool(int)>& progress) {
    PartXml part;
    ReadProgress reading(part, progress);
    if (part.open(package.zip(), QStringLiteral("content.xml")))
        walkSheets(part, reading, [&](int) {
            sheetNames << part.xml.attributes().value(tableNs, QLatin1String("name")).toString();
            return true;
        });
    if (!failPart(part, reading.stopped(), error))
        return false;
    return !sheetNames.isEmpty() || fail(notSpreadsheetText(), QStringLiteral("no sheets"), error);
}

OdsReader::OdsReader() : d(new Private) {}

OdsReader::~OdsReader() = default;

bool OdsReader::open(const QString& path, QString* error, const Progress& progress) {
    d->clear();
    if (d->openPackage(path, error) && d->checkManifest(error, progress) && d->readNames(error, progress))
        return true;
    d->clear();
    return false;
}

QStringList OdsReader::sheetNames() const {
    return d->sheetNames;
}

bool OdsReader::readSheet(int index, ImportTable* table, QString* error, const Progress& progress) const {
    if (!d->package.zip() || index < 0 || index >= d->sheetNames.size())
        return d->fail(notSpreadsheetText(), QStringLiteral("no sheet %1").arg(index), error);
    SheetState state;
    PartXml part;
    ReadProgress reading(part, progress);
    bool found = false;
    if (part.open(d->package.zip(), QStringLiteral("content.xml")))
        d->walkSheets(part, reading, [&](int at) {
            if (at != index)
                return true;
            found = true;
            readTable(part, state, reading);
            return false;
        });
    if (!d->failPart(part, reading.stopped(), error))
        return false;
    if (!found)
        return d->fail(notSpreadsheetText(), QStringLiteral("sheet %1 gone").arg(index), error);
    if (progress)
        progress(100);
    state.table.notice = ImportTable::joinNotices({state.columnNotice, state.rowNotice});
    *table = std::move(state.table);
    return true;
}
