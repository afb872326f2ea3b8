#include "importsource.h"

#include "compoundfile.h"
#include "odsreader.h"
#include "tabletext.h"
#include "xlsreader.h"
#include "xlsxreader.h"
#include "zippackage.h"

#include <QFile>
#include <QFileInfo>
#include <memory>

namespace {
const char odsMimeType[] = "application/vnd.oasis.opendocument.spreadsheet";

QString whatToBring() {
    return QStringLiteral("Импортировать можно книгу Excel (.xlsx, .xls), таблицу OpenDocument (.ods) или текст CSV.");
}

// What a zip is by the parts it holds; `refusal` says what it seems to be when it is no table.
ImportSource::Kind zipKind(const QString& path, QString* refusal) {
    ZipPackage package;
    if (!package.open(path)) {
        if (package.failure() == ZipPackage::TooManyEntries) {
            *refusal = ZipPackage::tooManyEntriesText();
            return ImportSource::Kind::Unknown;
        }
        // A damaged package is left to the reader its name suggests, which says what it lacks.
        return QFileInfo(path).suffix().compare(QLatin1String("ods"), Qt::CaseInsensitive) == 0
                   ? ImportSource::Kind::Ods
                   : ImportSource::Kind::Xlsx;
    }
    if (package.contains(QStringLiteral("xl/workbook.xml")))
        return ImportSource::Kind::Xlsx;
    const QByteArray mimeType = package.readSmall(QStringLiteral("mimetype"), 256).trimmed();
    if (mimeType == odsMimeType || (mimeType.isEmpty() && package.contains(QStringLiteral("content.xml"))))
        return ImportSource::Kind::Ods;
    if (package.contains(QStringLiteral("word/document.xml")))
        *refusal = QStringLiteral("Файл — документ Word (.docx), а не таблица.");
    else if (package.contains(QStringLiteral("ppt/presentation.xml")))
        *refusal = QStringLiteral("Файл — презентация PowerPoint (.pptx), а не таблица.");
    else if (mimeType.startsWith("application/vnd.oasis.opendocument.text"))
        *refusal = QStringLiteral("Файл — текстовый документ OpenDocument (.odt), а не таблица.");
    else if (mimeType.startsWith("application/vnd.oasis.opendocument."))
        *refusal = QStringLiteral("Файл — документ OpenDocument (%1), а не таблица.")
                       .arg(QString::fromLatin1(mimeType.mid(35)));
    else
        *refusal = QStringLiteral("Файл — архив ZIP, в котором нет таблицы.");
    *refusal += QLatin1Char(' ') + whatToBring();
    return ImportSource::Kind::Unknown;
}

bool isZip(const QByteArray& head) {
    return head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06");
}
} // namespace

struct ImportSource::Private {
    Kind kind = Kind::Unknown;
    QString path;
    // The workbook's reader; none for a text.
    std::unique_ptr<SheetReader> reader;
};

ImportSource::ImportSource() : d(new Private) {}

ImportSource::~ImportSource() = default;

ImportSource::Kind ImportSource::detect(const QString& path) {
    QString refusal;
    return detect(path, &refusal);
}

ImportSource::Kind ImportSource::detect(const QString& path, QString* refusal) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Kind::Unknown;
    const QByteArray head = file.read(8);
    if (isZip(head))
        return zipKind(path, refusal);
    if (head == CompoundFile::signature())
        return Kind::Xls;
    return Kind::Text;
}

bool ImportSource::open(const QString& path, QString* error, const Progress& progress) {
    d->path = path;
    d->reader.reset();
    QString refusal;
    d->kind = detect(path, &refusal);
    switch (d->kind) {
    case Kind::Xlsx:
        d->reader.reset(new XlsxReader);
        break;
    case Kind::Ods:
        d->reader.reset(new OdsReader);
        break;
    case Kind::Xls:
        d->reader.reset(new XlsReader);
        break;
    case Kind::Text:
        return true;
    default:
        if (error)
            *error = refusal.isEmpty() ? QStringLiteral("Не удалось открыть файл.") : refusal;
        return false;
    }
    return d->reader->open(path, error, progress);
}

ImportSource::Kind ImportSource::kind() const {
    return d->kind;
}

QStringList ImportSource::sheetNames() const {
    return d->reader ? d->reader->sheetNames() : QStringList();
}

bool ImportSource::readSheet(int index, ImportTable* table, QString* error, const Progress& progress) const {
    if (d->reader)
        return d->reader->readSheet(index, table, error, progress);
    return TableText::readFile(d->path, table, error, progress);
}
