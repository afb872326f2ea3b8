#include "reportpage.h"

#include "abstractfield.h"
#include "jsonvalues.h"
#include "mzlog.h"
#include "qrfield.h"
#include "tablefield.h"
#include "textfield.h"

#include <QAbstractItemModel>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPageSize>
#include <QPaintEngine>
#include <QPainter>
#include <QPrinter>
#include <QSaveFile>
#include <utility>

namespace {
// Beyond any form; the caps keep a damaged file from building millions of objects, sides or pixels.
constexpr int maxFields = 2000;
constexpr int maxPagesCount = 100;
constexpr qint64 maxBackgroundPixels = 50 * 1000 * 1000;
// A variable whose value names itself would be expanded for ever.
constexpr int maxSubstitutions = 1000;
constexpr int maxSubstitutedLength = 1 << 20;

const QString variableOpen = QStringLiteral("$V{");

QString normalizedKey(const QString& name) {
    return name.trimmed().toLower();
}

QImage readImage(QIODevice* device, const char* format) {
    QImageReader reader(device, format);
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > maxBackgroundPixels) {
        MZ_LOG() << "Background image too large:" << size.width() << size.height();
        return QImage();
    }
    return reader.read();
}

QPixmap decodeBackground(const QByteArray& base64, const char* format) {
    QByteArray bytes = QByteArray::fromBase64(base64);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const QImage image = readImage(&buffer, format);
    if (image.isNull())
        MZ_LOG() << "Background image not decoded, format" << format;
    return QPixmap::fromImage(image);
}

QString encodeBackground(const QPixmap& pixmap) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!pixmap.save(&buffer, "JPG"))
        MZ_LOG() << "Background image not encoded as JPEG";
    return QString::fromLatin1(bytes.toBase64());
}

bool isUsablePageSize(int id) {
    return id >= 0 && id <= int(QPageSize::LastPageSize) && id != int(QPageSize::Custom) &&
           QPageSize(QPageSize::PageSizeId(id)).isValid();
}
} // namespace

ReportPage::ReportPage(QObject* parent)
    : QObject(parent), _defaultFont(QStringLiteral("Times New Roman"), 14),
      _printer(std::make_unique<QPrinter>(QPrinter::ScreenResolution)) {
    _printer->setFullPage(true);
    applyPrinterLayout();
}

ReportPage::~ReportPage() {
    clearFields();
}

// The printer and the owned models must outlive a running print sequence: a deleteLater() that
// arrives from one of its nested event loops is carried out once the sequence has ended.
bool ReportPage::event(QEvent* event) {
    if (event->type() == QEvent::DeferredDelete && _printing) {
        _deleteWhenDone = true;
        return true;
    }
    return QObject::event(event);
}

void ReportPage::beginPrinting(int backgroundMode) {
    _printing = true;
    _backgroundOverride = backgroundMode;
}

void ReportPage::endPrinting() {
    _printing = false;
    _backgroundOverride = 0;
    if (std::exchange(_deleteWhenDone, false))
        deleteLater();
}

void ReportPage::applyPrinterLayout() {
    _printer->setPageOrientation(_orientation == 0 ? QPageLayout::Portrait : QPageLayout::Landscape);
    if (isUsablePageSize(_pageSize))
        _printer->setPageSize(QPageSize(QPageSize::PageSizeId(_pageSize)));
}

namespace {
// Tables lay out their rows down to the last side of the paper.
void invalidateLayouts(const QList<AbstractField*>& fields) {
    for (AbstractField* field : fields)
        field->invalidateLayout();
}
} // namespace

// Orientation does not move the last side's bottom: tables measure the paper in either one.
void ReportPage::setOrientation(int orientation) {
    if (orientation == _orientation)
        return;
    _orientation = orientation;
    applyPrinterLayout();
    emit pageChanged(QByteArrayLiteral("orientation"));
}

void ReportPage::setPageSize(int pageSize) {
    if (pageSize == _pageSize)
        return;
    _pageSize = pageSize;
    applyPrinterLayout();
    invalidateLayouts(_fields);
    emit pageChanged(QByteArrayLiteral("pageSize"));
}

void ReportPage::setPagesCount(int count) {
    if (count == _pagesCount)
        return;
    _pagesCount = count;
    invalidateLayouts(_fields);
    emit pageChanged(QByteArrayLiteral("pagesCount"));
}

void ReportPage::setDefaultFont(const QFont& font) {
    if (font == _defaultFont)
        return;
    _defaultFont = font;
    for (AbstractField* field : qAsConst(_fields)) {
        if (AbstractField::isDefaultFont(field->font()))
            field->invalidateLayout();
    }
    emit pageChanged(QByteArrayLiteral("defaultFont"));
}

void ReportPage::setPrintBackgroundImage(bool on) {
    if (on == _printBackgroundImage)
        return;
    _printBackgroundImage = on;
    emit pageChanged(QByteArrayLiteral("printBackgroundImage"));
}

double ReportPage::mmToPx() const {
    return mmToPx(_printer->logicalDpiX());
}

double ReportPage::mmToPx(int dotsPerInch) {
    return dotsPerInch / mmPerInch;
}

// ---- fields

AbstractField* ReportPage::newField(int type) {
    if (type == AbstractField::TableType)
        return new TableField;
    if (type == AbstractField::QrType)
        return new QrField;
    return new TextField;
}

void ReportPage::insertField(int index, AbstractField* field) {
    if (!field || _fields.contains(field))
        return;
    adopt(index, field);
    emit fieldAdded(field);
}

void ReportPage::adopt(int index, AbstractField* field) {
    field->setParent(this);
    field->setPage(this);
    _fields.insert(qBound(0, index, _fields.size()), field);
    // A table made or pasted elsewhere shows this page's rows under its model name.
    if (field->type() == AbstractField::TableType)
        static_cast<TableField*>(field)->bindModel();
    // A field deleted by someone else must not stay in the painting list.
    connect(field, &QObject::destroyed, this, &ReportPage::forgetField);
    connect(field, &AbstractField::fieldChanged, this, &ReportPage::fieldChanged);
}

AbstractField* ReportPage::takeField(AbstractField* field) {
    if (!_fields.removeOne(field))
        return nullptr;
    disconnect(field, &QObject::destroyed, this, &ReportPage::forgetField);
    disconnect(field, &AbstractField::fieldChanged, this, &ReportPage::fieldChanged);
    field->setParent(nullptr);
    field->setPage(nullptr);
    emit fieldRemoved(field);
    return field;
}

void ReportPage::clearFields() {
    const QList<AbstractField*> fields = std::exchange(_fields, {});
    for (AbstractField* field : fields) {
        disconnect(field, &QObject::destroyed, this, &ReportPage::forgetField);
        delete field;
    }
}

int ReportPage::fieldsSharing(int type) const {
    constexpr int maxCountedFields = 1000;
    if (_fields.size() > maxCountedFields)
        return _fields.size();
    int count = 0;
    for (const AbstractField* field : _fields)
        count += field->type() == type ? 1 : 0;
    return count;
}

void ReportPage::forgetField(QObject* field) {
    for (int i = _fields.size() - 1; i >= 0; --i) {
        if (static_cast<QObject*>(_fields.at(i)) == field)
            _fields.removeAt(i);
    }
}

// ---- variables and models

void ReportPage::setVariable(const QString& name, const QVariant& value, bool markup) {
    const QString key = normalizedKey(name);
    _variables.insert(key, value);
    if (markup)
        _markupVariables.insert(key);
    else
        _markupVariables.remove(key);
    emit dataUpdated();
}

QVariant ReportPage::variable(const QString& name) const {
    return _variables.value(normalizedKey(name));
}

bool ReportPage::setModel(const QString& name, QAbstractItemModel* model, bool takeOwnership) {
    if (model && takeOwnership)
        model->setParent(this);
    _models.insert(normalizedKey(name), model);
    for (AbstractField* field : qAsConst(_fields)) {
        if (field->type() == AbstractField::TableType)
            static_cast<TableField*>(field)->bindModel();
    }
    emit dataUpdated();
    return true;
}

QAbstractItemModel* ReportPage::model(const QString& name) const {
    return _models.value(normalizedKey(name));
}

QString ReportPage::substituteVariables(const QString& source, bool richText) {
    QString text = source;
    for (int done = 0;; ++done) {
        const int start = text.indexOf(variableOpen);
        if (start < 0)
            return text.replace(QLatin1String("\\n"), QLatin1String("\n"));
        const int close = text.indexOf(QLatin1Char('}'));
        if (close < start + variableOpen.size())
            return text;
        if (done >= maxSubstitutions || text.size() > maxSubstitutedLength) {
            MZ_LOG() << "Variable substitution stopped, the values keep expanding:" << source.left(200);
            return text;
        }
        const int nameStart = start + variableOpen.size();
        const QString key = normalizedKey(text.mid(nameStart, close - nameStart));
        auto entry = _variables.find(key);
        if (entry == _variables.end())
            entry = _variables.insert(key, QVariant());
        const QString value = entry.value().toString();
        const bool asTyped = !richText || _markupVariables.contains(key);
        text.replace(start, close - start + 1, asTyped ? value : value.toHtmlEscaped());
    }
}

// ---- backgrounds

bool ReportPage::setBackgroundFromFile(const QString& path, int index) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QImage image = readImage(&file, nullptr);
    if (image.isNull())
        return false;
    const QSize paper = _printer->paperRect(QPrinter::DevicePixel).size().toSize();
    setBackground(index, QPixmap::fromImage(image.scaled(paper, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
    return true;
}

bool ReportPage::setBackgroundImageFromFile(const QString& path) {
    return setBackgroundFromFile(path, 0);
}

bool ReportPage::setBackgroundImage2FromFile(const QString& path) {
    return setBackgroundFromFile(path, 1);
}

void ReportPage::clearBackgroundImages() {
    setBackground(0, QPixmap());
    setBackground(1, QPixmap());
}

// ---- file format

QString ReportPage::loadFailedTitle() {
    return QStringLiteral("Не удалось открыть файл");
}

QString ReportPage::saveFailedTitle() {
    return QStringLiteral("Не удалось сохранить файл");
}

QString ReportPage::notATemplateText() {
    return QStringLiteral("Файл не является шаблоном отчёта: его содержимое не объект JSON.");
}

bool ReportPage::readFile(const QString& path, QJsonObject* object, QString* error) {
    QFile file(path);
    QString failure;
    if (!file.open(QIODevice::ReadOnly)) {
        failure = file.errorString();
    } else {
        QJsonParseError parse;
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parse);
        if (parse.error != QJsonParseError::NoError)
            failure = parse.errorString();
        else if (!document.isObject())
            failure = notATemplateText();
        else if (object)
            *object = document.object();
    }
    if (failure.isEmpty())
        return true;
    MZ_LOG() << "Template not loaded:" << path << failure;
    if (error)
        *error = failure;
    return false;
}

bool ReportPage::load(const QString& path, QString* error) {
    QJsonObject object;
    if (!readFile(path, &object, error))
        return false;
    fromJson(object);
    return true;
}

bool ReportPage::save(const QString& path, QString* error) {
    const QString failure = writeFile(path);
    if (failure.isEmpty())
        return true;
    MZ_LOG() << "Template not saved:" << path << failure;
    if (error)
        *error = failure;
    return false;
}

QString ReportPage::writeFile(const QString& path) const {
    const QFileInfo target(path);
    if (target.exists() && !target.isFile())
        return QStringLiteral("«%1» не является обычным файлом.").arg(QDir::toNativeSeparators(path));
    QJsonObject object;
    toJson(object);
    const QByteArray content = QJsonDocument(object).toJson(QJsonDocument::Indented);
    // Written beside and renamed over the old file only when every byte got there: a full disk
    // must leave the old template, never half a new one. No direct-write fallback for the same
    // reason.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    const qint64 written = file.write(content);
    if (written != content.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return QStringLiteral("Файл записан не полностью (возможно, на диске нет места). %1").arg(reason).trimmed();
    }
    if (!file.commit())
        return file.errorString();
    return QString();
}

void ReportPage::fromJson(const QJsonObject& object) {
    using namespace mzjson;
    const int orientation = readInt(object, QStringLiteral("orientation"), _orientation, -1, 2);
    if (orientation == 0 || orientation == 1)
        _orientation = orientation;
    else
        MZ_LOG() << "Unknown orientation ignored";
    applyPrinterLayout();
    _printBackgroundImage = readBool(object, QStringLiteral("printBackgroundImage"), _printBackgroundImage);
    readBackgrounds(object);

    const QJsonValue font = object.value(QStringLiteral("defaultFont"));
    if (font.isString() && !parseFont(font.toString(), &_defaultFont))
        MZ_LOG() << "Unusable default font ignored:" << font.toString();
    _pagesCount = readInt(object, QStringLiteral("pagesCount"), _pagesCount, 0, maxPagesCount);
    const int pageSize = readInt(object, QStringLiteral("pageSize"), _pageSize, -1, int(QPageSize::LastPageSize) + 1);
    if (isUsablePageSize(pageSize))
        _pageSize = pageSize;
    else
        MZ_LOG() << "Unknown paper size ignored";
    applyPrinterLayout();

    clearFields();
    readFields(object);
}

void ReportPage::readBackgrounds(const QJsonObject& object) {
    using mzjson::readString;
    // PNG keys come from older files; the JPEG keys, when present, win.
    const QString keys[4] = {QStringLiteral("backgroundImage"), QStringLiteral("backgroundImage2"),
                             QStringLiteral("backgroundImageJPG"), QStringLiteral("backgroundImage2JPG")};
    for (int i = 0; i < 4; ++i) {
        const QJsonValue value = object.value(keys[i]);
        if (!value.isString())
            continue;
        Background& target = _backgrounds[i % 2];
        target.pixmap = QPixmap();
        target.base64 = value.toString().toLatin1();
        target.format = i < 2 ? "PNG" : "JPG";
    }
}

const QPixmap& ReportPage::background(int index) const {
    Background& target = _backgrounds[index];
    if (target.format) {
        target.pixmap = decodeBackground(target.base64, target.format);
        if (qstrcmp(target.format, "JPG") == 0 && !target.pixmap.isNull())
            target.jpeg = target.base64;
        target.base64.clear();
        target.format = nullptr;
    }
    return target.pixmap;
}

void ReportPage::shareBackgrounds(const ReportPage& other) {
    for (int i = 0; i < 2; ++i) {
        other.background(i);
        _backgrounds[i] = other._backgrounds[i];
    }
}

void ReportPage::setBackground(int index, const QPixmap& pixmap) {
    Background& target = _backgrounds[index];
    // The same picture again, or the same file read again, is no change. One still held as file
    // bytes is not decoded for the comparison.
    const QPixmap& held = target.pixmap;
    if (!target.format &&
        (held.cacheKey() == pixmap.cacheKey() || (held.size() == pixmap.size() && held.toImage() == pixmap.toImage())))
        return;
    target = Background{pixmap, QByteArray(), nullptr};
    emit pageChanged(index == 0 ? QByteArrayLiteral("backgroundImage") : QByteArrayLiteral("backgroundImage2"));
}

void ReportPage::readFields(const QJsonObject& object) {
    const std::pair<QString, int> groups[3] = {{QStringLiteral("textFields"), AbstractField::TextType},
                                               {QStringLiteral("tableFields"), AbstractField::TableType},
                                               {QStringLiteral("qrFields"), AbstractField::QrType}};
    for (const auto& group : groups) {
        const QJsonArray array = object.value(group.first).toArray();
        for (const QJsonValue& element : array) {
            if (_fields.size() >= maxFields) {
                MZ_LOG() << "Too many fields, the rest of the template is ignored";
                return;
            }
            AbstractField* field = newField(group.second);
            field->read(element.toObject());
            adopt(_fields.size(), field);
        }
    }
}

void ReportPage::toJson(QJsonObject& object) const {
    object.insert(QStringLiteral("orientation"), _orientation);
    object.insert(QStringLiteral("printBackgroundImage"), _printBackgroundImage);
    object.insert(QStringLiteral("defaultFont"), _defaultFont.toString());
    object.insert(QStringLiteral("pagesCount"), _pagesCount);
    object.insert(QStringLiteral("pageSize"), _pageSize);

    QJsonArray texts, tables, qrs;
    for (const AbstractField* field : _fields) {
        QJsonObject fieldObject;
        field->write(fieldObject);
        switch (field->type()) {
        case AbstractField::TextType:
            texts.append(fieldObject);
            break;
        case AbstractField::TableType:
            tables.append(fieldObject);
            break;
        case AbstractField::QrType:
            qrs.append(fieldObject);
            break;
        default:
            break;
        }
    }
    object.insert(QStringLiteral("textFields"), texts);
    object.insert(QStringLiteral("tableFields"), tables);
    object.insert(QStringLiteral("qrFields"), qrs);
    const QString keys[2] = {QStringLiteral("backgroundImageJPG"), QStringLiteral("backgroundImage2JPG")};
    for (int i = 0; i < 2; ++i) {
        if (background(i).isNull())
            continue;
        const QByteArray& original = _backgrounds[i].jpeg;
        object.insert(keys[i], original.isEmpty() ? encodeBackground(background(i)) : QString::fromLatin1(original));
    }
}

// ---- painting

bool ReportPage::beginJob(QPrinter* printer, QPainter& painter) {
    printer->setFullPage(true);
    const int w = printer->width();
    const int h = printer->height();
    if (!painter.begin(printer)) {
        MZ_LOG() << "Printer refused the job:" << printer->printerName() << printer->outputFileName();
        return false;
    }
    painter.save();
    painter.setWindow(0, 0, w, h);
    painter.setViewport(0, 0, w, h);
    return true;
}

bool ReportPage::endJob(QPrinter* printer, QPainter& painter) {
    // A preview paints into pictures, not into the printer's file.
    const bool writesFile = painter.paintEngine() && painter.paintEngine()->type() == QPaintEngine::Pdf;
    const bool ended = painter.end();
    QString error = ended ? QString() : QStringLiteral("the printer did not finish the job");
    if (ended && writesFile)
        error = outputError(printer);
    if (error.isEmpty())
        return true;
    MZ_LOG() << "Print job failed:" << printer->printerName() << printer->outputFileName() << error;
    return false;
}

// The PDF writer does not report a failed write (a full disk leaves a cut file behind), so a file
// counts as written only when it is a regular file that ends as every PDF ends.
QString ReportPage::outputError(const QPrinter* printer) {
    if (printer->outputFormat() != QPrinter::PdfFormat || printer->outputFileName().isEmpty())
        return QString();
    const QString path = printer->outputFileName();
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1 is not a readable regular file").arg(path);
    constexpr qint64 tail = 64;
    if (file.size() < tail || !file.seek(file.size() - tail))
        return QStringLiteral("%1 is incomplete").arg(path);
    if (!file.read(tail).contains("%%EOF"))
        return QStringLiteral("%1 is incomplete (no end of file mark)").arg(path);
    return QString();
}

void ReportPage::paintSide(QPainter& painter, int side, const QRect& target, double bandTop, double scale) {
    if (printsBackground()) {
        const QPixmap& picture = background(side % 2);
        if (!picture.isNull())
            painter.drawPixmap(target, picture);
    }
    for (AbstractField* field : qAsConst(_fields))
        field->paint(&painter, scale, bandTop);
}

bool ReportPage::paintPage(QPrinter* printer, const PrinterCalibration& calibration) {
    const int side = _currentPage;
    const bool painted =
        paintSides(printer, side >= 0 && side < _pagesCount ? QList<int>{side} : QList<int>(), calibration);
    emit sideJobFinished(side);
    return painted;
}

bool ReportPage::tablesOverflow() {
    bool overflow = false;
    const QList<AbstractField*> fields = _fields;
    for (AbstractField* field : fields) {
        field->prepare();
        if (field->type() == AbstractField::TableType && static_cast<TableField*>(field)->overflow())
            overflow = true;
    }
    return overflow;
}

QList<ReportPage::CutText> ReportPage::cutTexts(double scale) {
    if (!(scale > 0.0))
        scale = mmToPx();
    QList<CutText> cut;
    const QList<AbstractField*> fields = _fields;
    for (AbstractField* field : fields) {
        if (field->type() != AbstractField::TextType)
            continue;
        auto* text = static_cast<TextField*>(field);
        const QString lost = text->lostText(scale);
        if (!lost.isEmpty())
            cut.append(CutText{text, lost});
    }
    return cut;
}

bool ReportPage::paintSides(QPrinter* printer, const QList<int>& sides, const PrinterCalibration& calibration) {
    if (!printer)
        return false;
    QPainter painter;
    if (!beginJob(printer, painter))
        return false;
    bool ok = true;
    for (int i = 0; i < sides.size() && ok; ++i) {
        if (i > 0)
            ok = printer->newPage();
        if (ok)
            paintSideOn(painter, *printer, sides.at(i), calibration);
    }
    painter.restore();
    return endJob(printer, painter) && ok;
}

void ReportPage::paintSideOn(QPainter& painter, const QPrinter& printer, int side,
                             const PrinterCalibration& calibration) {
    const double scale = mmToPx(printer.logicalDpiX());
    const double bandHeight = printer.pageRect(QPrinter::DevicePixel).height();
    painter.save();
    calibration.apply(painter, scale);
    paintSide(painter, side, QRect(0, 0, printer.width(), printer.height()), bandHeight * side, scale);
    painter.restore();
}
