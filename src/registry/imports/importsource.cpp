#include "importsource.h"

#include "compoundfile.h"
#include "odsreader.h"
#include "tabletext.h"
#include "xlsreader.h"
#include "xlsxreader.h"
#include "zippackage.h"

#include "mzlog.h"

#include <QFile>
#include <QFileInfo>

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
    XlsxReader workbook;
    OdsReader spreadsheet;
    XlsReader oldWorkbook;
};

namespace {
// What a compound file holds decides between a locked workbook, an old one and other documents.
bool openCompound(const QString& path, XlsReader* reader, QString* error) {
    QFile file(path);
    QStringList names;
    if (file.open(QIODevice::ReadOnly) && CompoundFile::entryNames(&file, &names)) {
        QString reason;
        if (names.contains(QLatin1String("EncryptedPackage"), Qt::CaseInsensitive))
            reason = XlsReader::protectedText();
        else if (names.contains(QLatin1String("WordDocument"), Qt::CaseInsensitive))
            reason = QStringLiteral("Файл не похож на таблицу: это документ Word (.doc).");
        else if (names.contains(QLatin1String("PowerPoint Document"), Qt::CaseInsensitive))
            reason = QStringLiteral("Файл не похож на таблицу: это презентация PowerPoint (.ppt).");
        if (!reason.isEmpty()) {
            MZ_LOG() << "compound file refused" << path << names.join(QLatin1Char(','));
            if (error)
                *error = reason;
            return false;
        }
    }
    // A damaged directory is left to the workbook reader, which words the refusal.
    return reader->open(path, error);
}
} // namespace

ImportSource::ImportSource() : d(new Private) {}

ImportSource::~ImportSource() = default;

ImportSource::Kind ImportSource::detect(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Kind::Unknown;
    const QByteArray head = file.read(8);
    QString refusal;
    if (isZip(head))
        return zipKind(path, &refusal);
    if (head == CompoundFile::signature())
        return Kind::Xls;
    return Kind::Text;
}

bool ImportSource::open(const QString& path, QString* error, const Progress& progress) {
    d->path = path;
    d->kind = detect(path);
    switch (d->kind) {
    case Kind::Xlsx:
        return d->workbook.open(path, error, progress);
    case Kind::Ods:
        return d->spreadsheet.open(path, error, progress);
    case Kind::Xls:
        return openCompound(path, &d->oldWorkbook, error);
    case Kind::Text:
        return true;
    default:
        if (error)
            *error = refusalOf(path);
        return false;
    }
}

// Why a file of no kind the import reads is refused: a zip says what it seems to be.
QString ImportSource::refusalOf(const QString& path) {
    QFile file(path);
    QString refusal;
    if (file.open(QIODevice::ReadOnly) && isZip(file.read(8)))
        zipKind(path, &refusal);
    return refusal.isEmpty() ? QStringLiteral("Не удалось открыть файл.") : refusal;
}

ImportSource::Kind ImportSource::kind() const {
    return d->kind;
}

QStringList ImportSource::sheetNames() const {
    if (d->kind == Kind::Ods)
        return d->spreadsheet.sheetNames();
    if (d->kind == Kind::Xls)
        return d->oldWorkbook.sheetNames();
    return d->kind == Kind::Xlsx ? d->workbook.sheetNames() : QStringList();
}

bool ImportSource::readSheet(int index, ImportTable* table, QString* error, const Progress& progress) const {
    if (d->kind == Kind::Xlsx)
        return d->workbook.readSheet(index, table, error, progress);
    if (d->kind == Kind::Ods)
        return d->spreadsheet.readSheet(index, table, error, progress);
    if (d->kind == Kind::Xls)
        return d->oldWorkbook.readSheet(index, table, error, progress);
    return TableText::readFile(d->path, table, error, progress);
}
