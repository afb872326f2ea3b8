#include "importsource.h"

#include "compoundfile.h"
#include "tabletext.h"
#include "xlsreader.h"
#include "xlsxreader.h"

#include "mzlog.h"

#include <QFile>

struct ImportSource::Private {
    Kind kind = Kind::Unknown;
    QString path;
    XlsxReader workbook;
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
    if (head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06"))
        return Kind::Xlsx;
    if (head == CompoundFile::signature())
        return Kind::Xls;
    return Kind::Text;
}

bool ImportSource::open(const QString& path, QString* error) {
    d->path = path;
    d->kind = detect(path);
    switch (d->kind) {
    case Kind::Xlsx:
        return d->workbook.open(path, error);
    case Kind::Xls:
        return openCompound(path, &d->oldWorkbook, error);
    case Kind::Text:
        return true;
    default:
        if (error)
            *error = QStringLiteral("Не удалось открыть файл.");
        return false;
    }
}

ImportSource::Kind ImportSource::kind() const {
    return d->kind;
}

QStringList ImportSource::sheetNames() const {
    if (d->kind == Kind::Xls)
        return d->oldWorkbook.sheetNames();
    return d->kind == Kind::Xlsx ? d->workbook.sheetNames() : QStringList();
}

bool ImportSource::readSheet(int index, ImportTable* table, QString* error, const Progress& progress) const {
    if (d->kind == Kind::Xlsx)
        return d->workbook.readSheet(index, table, error, progress);
    if (d->kind == Kind::Xls)
        return d->oldWorkbook.readSheet(index, table, error, progress);
    return TableText::readFile(d->path, table, error, progress);
}
