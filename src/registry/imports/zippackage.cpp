#include "zippackage.h"

#include <QtEndian>
#include <cstring>

namespace {
// Signature of an OLE compound file: an encrypted workbook or an old binary one.
const char oleSignature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

// The largest count of entries any end-of-directory record in the file's tail declares (libzip
// weighs every candidate it finds there, so each one is bounded).
quint64 declaredEntries(const uchar* data, qint64 size) {
    constexpr qint64 endLength = 22;
    constexpr qint64 locatorLength = 20;
    const qint64 first = std::max<qint64>(0, size - (0xFFFF + endLength + locatorLength));
    quint64 most = 0;
    for (qint64 at = size - endLength; at >= first; --at) {
        if (std::memcmp(data + at, "PK\x05\x06", 4) != 0)
            continue;
        quint64 count = std::max(qFromLittleEndian<quint16>(data + at + 8), qFromLittleEndian<quint16>(data + at + 10));
        const qint64 locator = at - locatorLength;
        if (locator >= 0 && std::memcmp(data + locator, "PK\x06\x07", 4) == 0) {
            const quint64 record = qFromLittleEndian<quint64>(data + locator + 8);
            if (size >= 56 && record <= quint64(size - 56) && std::memcmp(data + record, "PK\x06\x06", 4) == 0)
                count = std::max({count, qFromLittleEndian<quint64>(data + record + 24),
                                  qFromLittleEndian<quint64>(data + record + 32)});
        }
        most = std::max(most, count);
    }
    return most;
}
} // namespace

ZipPackage::ZipPackage() = default;

ZipPackage::~ZipPackage() {
    close();
}

QString ZipPackage::tooManyEntriesText() {
    return QStringLiteral("Файл повреждён или не является таблицей: в архиве больше %1 файлов.").arg(maxEntries);
}

void ZipPackage::close() {
    if (_zip)
        zip_discard(_zip);
    _zip = nullptr;
    _file.close();
    _failure = None;
    _detail.clear();
}

bool ZipPackage::fail(Failure failure, const QString& detail) {
    _failure = failure;
    _detail = detail;
    return false;
}

bool ZipPackage::open(const QString& path) {
    close();
    _file.setFileName(path);
    if (!_file.open(QIODevice::ReadOnly))
        return fail(Unopened, _file.errorString());
    if (_file.peek(8) == QByteArray(oleSignature, 8))
        return fail(Compound, QStringLiteral("compound file"));
    const qint64 size = _file.size();
    const uchar* data = size > 0 ? _file.map(0, size) : nullptr;
    if (!data)
        return fail(NotZip, QStringLiteral("empty or unmapped"));
    const quint64 entries = declaredEntries(data, size);
    if (entries > quint64(maxEntries))
        return fail(TooManyEntries, QStringLiteral("%1 entries declared").arg(entries));
    zip_error_t zipError;
    zip_error_init(&zipError);
    zip_source_t* source = zip_source_buffer_create(data, zip_uint64_t(size), 0, &zipError);
    if (source) {
        _zip = zip_open_from_source(source, ZIP_RDONLY, &zipError);
        if (!_zip)
            zip_source_free(source);
    }
    const QString detail = QString::fromUtf8(zip_error_strerror(&zipError));
    zip_error_fini(&zipError);
    return _zip || fail(NotZip, detail);
}

bool ZipPackage::contains(const QString& name) const {
    return _zip && zip_name_locate(_zip, name.toUtf8().constData(), ZIP_FL_NOCASE) >= 0;
}

QByteArray ZipPackage::readSmall(const QString& name, qint64 limit) const {
    ZipPart part;
    if (!_zip || !part.open(_zip, name))
        return QByteArray();
    const QByteArray bytes = part.read(limit + 1);
    return bytes.size() > limit ? QByteArray() : bytes;
}

ZipPart::~ZipPart() {
    if (_file)
        zip_fclose(_file);
}

bool ZipPart::fail(PartFailure failure) {
    _failure = failure;
    return false;
}

bool ZipPart::open(zip_t* zip, const QString& name) {
    const zip_int64_t index = zip_name_locate(zip, name.toUtf8().constData(), ZIP_FL_NOCASE);
    zip_stat_t stat;
    if (index < 0 || zip_stat_index(zip, zip_uint64_t(index), 0, &stat) != 0)
        return fail(PartFailure::Missing);
    // The size the directory declares is refused before anything is inflated.
    if ((stat.valid & ZIP_STAT_SIZE) && stat.size > zip_uint64_t(ImportTable::maxBytes))
        return fail(PartFailure::TooLarge);
    _size = (stat.valid & ZIP_STAT_SIZE) ? qint64(stat.size) : 0;
    _file = zip_fopen_index(zip, zip_uint64_t(index), 0);
    if (!_file) {
        const int code = zip_error_code_zip(zip_get_error(zip));
        return fail(code == ZIP_ER_NOPASSWD || code == ZIP_ER_WRONGPASSWD || code == ZIP_ER_ENCRNOTSUPP
                        ? PartFailure::Protected
                        : PartFailure::Unreadable);
    }
    return QIODevice::open(QIODevice::ReadOnly);
}

qint64 ZipPart::readData(char* data, qint64 maxSize) {
    if (_ended)
        return -1;
    if (maxSize <= 0)
        return 0;
    const zip_int64_t count = zip_fread(_file, data, zip_uint64_t(maxSize));
    if (count <= 0) {
        _ended = true;
        if (count < 0)
            _failure = PartFailure::Unreadable;
        return count < 0 ? -1 : 0;
    }
    // A directory that understates the size does not get past the limit either.
    _consumed += count;
    if (_consumed > ImportTable::maxBytes || !tagsBounded(data, count)) {
        _ended = true;
        _failure = _consumed > ImportTable::maxBytes ? PartFailure::TooLarge : PartFailure::Malformed;
        return -1;
    }
    return count;
}

// Elements of many attributes are rare in a spreadsheet (a root's namespaces, a style): a part
// may hold only so many of them, which bounds what they all cost the XML reader together.
bool ZipPart::countAttribute() {
    ++_attributes;
    if (_attributes > crowdedAttributes)
        _crowded += _attributes == crowdedAttributes + 1 ? _attributes : 1;
    return _attributes <= maxAttributes && _crowded <= maxCrowded;
}

// Counts the '=' of each start tag outside its quoted values, one pass over the bytes, its state
// kept from one read to the next; refuses a document type. Comments, processing instructions and
// end tags are passed over.
bool ZipPart::tagsBounded(const char* data, qint64 size) {
    const char* at = data;
    const char* const end = data + size;
    while (at < end) {
        switch (_scan) {
        case Text: {
            const char* open = static_cast<const char*>(std::memchr(at, '<', size_t(end - at)));
            if (!open)
                return true;
            at = open + 1;
            _scan = TagStart;
            break;
        }
        case TagStart:
            if (*at == '!') {
                _scan = Declaration;
                ++at;
            } else {
                _scan = (*at == '?' || *at == '/') ? OtherTag : InTag;
                _attributes = 0;
            }
            break;
        case Declaration:
            // No part of a spreadsheet has a document type; its declarations cost time to parse.
            if (*at == 'D')
                return false;
            _scan = OtherTag;
            break;
        case InTag:
            for (; at < end && _scan == InTag; ++at) {
                if (*at == '"' || *at == '\'') {
                    _quote = *at;
                    _scan = Quoted;
                } else if (*at == '>') {
                    _scan = Text;
                } else if (*at == '=' && !countAttribute()) {
                    return false;
                }
            }
            break;
        case Quoted: {
            const char* close = static_cast<const char*>(std::memchr(at, _quote, size_t(end - at)));
            if (!close)
                return true;
            at = close + 1;
            _scan = InTag;
            break;
        }
        case OtherTag: {
            const char* close = static_cast<const char*>(std::memchr(at, '>', size_t(end - at)));
            if (!close)
                return true;
            at = close + 1;
            _scan = Text;
            break;
        }
        }
    }
    return true;
}

bool PartXml::open(zip_t* zip, const QString& name) {
    _name = name;
    if (!_part.open(zip, name))
        return false;
    xml.setDevice(&_part);
    return true;
}

QXmlStreamReader::TokenType PartXml::next() {
    const QXmlStreamReader::TokenType token = xml.readNext();
    if (token == QXmlStreamReader::DTD && !xml.entityDeclarations().isEmpty()) {
        _refused = true;
        xml.raiseError(QStringLiteral("entity declarations"));
        return QXmlStreamReader::Invalid;
    }
    return token;
}

bool PartXml::nextStart() {
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = next();
        if (token == QXmlStreamReader::StartElement)
            return true;
        if (token == QXmlStreamReader::Invalid)
            return false;
    }
    return false;
}

PartFailure PartXml::failure() const {
    if (_part.failure() != PartFailure::None)
        return _part.failure();
    return _refused || xml.hasError() ? PartFailure::Malformed : PartFailure::None;
}
