#include "importsource.h"

#include "tabletext.h"
#include "xlsxreader.h"

#include <QFile>

struct ImportSource::Private {
    Kind kind = Kind::Unknown;
    QString path;
    XlsxReader workbook;
};

ImportSource::ImportSource() : d(new Private) {}

ImportSource::~ImportSource() = default;

ImportSource::Kind ImportSource::detect(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Kind::Unknown;
    const QByteArray head = file.read(8);
    if (head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06"))
        return Kind::Xlsx;
    return Kind::Text;
}

bool ImportSource::open(const QString& path, QString* error) {
    d->path = path;
    d->kind = detect(path);
    switch (d->kind) {
    case Kind::Xlsx:
        return d->workbook.open(path, error);
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
    return d->kind == Kind::Xlsx ? d->workbook.sheetNames() : QStringList();
}

bool ImportSource::readSheet(int index, ImportTable* table, QString* error, const Progress& progress) const {
    if (d->kind == Kind::Xlsx)
        return d->workbook.readSheet(index, table, error, progress);
    return TableText::readFile(d->path, table, error, progress);
}
