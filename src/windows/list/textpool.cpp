#include "textpool.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {
constexpr size_t limit = std::numeric_limits<quint32>::max();

bool isAscii(const char* bytes, int size) {
    for (int i = 0; i < size; ++i)
        if (quint8(bytes[i]) >= 0x80)
            return false;
    return true;
}

// The k-th UTF-16 unit of a text stored as UTF-16 (`wide`) or Latin-1.
char16_t unitAt(const char* text, bool wide, int k) {
    return wide ? reinterpret_cast<const char16_t*>(text)[k] : char16_t(quint8(text[k]));
}

// Reads one character of well-formed UTF-8 below U+10000 at `p`; 0 when it is none, so that the
// caller falls back to the toolkit's reading (which also replaces bad bytes).
int utf8Unit(const quint8* p, const quint8* end, char16_t* unit) {
    const quint8 b = p[0];
    if (b < 0x80) {
        *unit = b;
        return 1;
    }
    if (b >= 0xC2 && b < 0xE0 && end - p >= 2 && (p[1] & 0xC0) == 0x80) {
        *unit = char16_t(((b & 0x1F) << 6) | (p[1] & 0x3F));
        return 2;
    }
    if (b >= 0xE0 && b < 0xF0 && end - p >= 3 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
        const char16_t u = char16_t(((b & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
        // Overlong forms and surrogates are bad bytes to the toolkit.
        if (u < 0x800 || (u >= 0xD800 && u < 0xE000))
            return 0;
        *unit = u;
        return 3;
    }
    return 0;
}
} // namespace

void TextPool::clear() {
    std::vector<char>().swap(_data);
    std::vector<quint32>().swap(_ends);
    std::vector<Kind>().swap(_kinds);
}

void TextPool::reserve(int values, size_t bytes) {
    _ends.reserve(size_t(values));
    _kinds.reserve(size_t(values));
    _data.reserve(std::min(bytes, limit));
}

void TextPool::squeeze() {
    _data.shrink_to_fit();
    _ends.shrink_to_fit();
    _kinds.shrink_to_fit();
}

size_t TextPool::start(int i) const {
    if (i == 0)
        return 0;
    const size_t previous = _ends[size_t(i) - 1];
    return _kinds[size_t(i)] == Wide ? (previous + 1) & ~size_t(1) : previous;
}

int TextPool::length(int i) const {
    const size_t bytes = _ends[size_t(i)] - start(i);
    return int(_kinds[size_t(i)] == Wide ? bytes / 2 : bytes);
}

int TextPool::append(QStringView text, bool isNull, bool* full) {
    const bool narrow = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x100; });
    const Kind kind = isNull ? Null : narrow ? Narrow : Wide;
    size_t at = _data.size();
    if (kind == Wide)
        at = (at + 1) & ~size_t(1);
    const size_t bytes = kind == Wide ? size_t(text.size()) * 2 : kind == Narrow ? size_t(text.size()) : 0;
    if (at + bytes > limit) {
        if (full)
            *full = true;
        return -1;
    }
    _data.resize(at + bytes);
    if (kind == Wide)
        std::memcpy(_data.data() + at, text.data(), bytes);
    else if (kind == Narrow)
        for (qsizetype i = 0; i < text.size(); ++i)
            _data[at + size_t(i)] = char(text[i].unicode());
    _ends.push_back(quint32(at + bytes));
    _kinds.push_back(kind);
    return size() - 1;
}

int TextPool::appendUtf8(const char* utf8, int size, bool* full) {
    if (!utf8)
        return append(QStringView(), true, full);
    if (!isAscii(utf8, size))
        return append(QString::fromUtf8(utf8, size), false, full);
    const size_t at = _data.size();
    if (at + size_t(size) > limit) {
        if (full)
            *full = true;
        return -1;
    }
    _data.insert(_data.end(), utf8, utf8 + size);
    _ends.push_back(quint32(at + size_t(size)));
    _kinds.push_back(Narrow);
    return this->size() - 1;
}

QString TextPool::text(int i) const {
    switch (_kinds[size_t(i)]) {
    case Null:
        return QString();
    case Narrow:
        return QString::fromLatin1(_data.data() + start(i), length(i));
    case Wide:
        break;
    }
    return QString(reinterpret_cast<const QChar*>(_data.data() + start(i)), length(i));
}

QStringView TextPool::view(int i, Scratch* scratch) const {
    const char* at = _data.data() + start(i);
    const int n = length(i);
    if (_kinds[size_t(i)] == Wide)
        return QStringView(reinterpret_cast<const QChar*>(at), n);
    scratch->resize(n);
    for (int k = 0; k < n; ++k)
        (*scratch)[k] = QChar(quint8(at[k]));
    return QStringView(scratch->constData(), n);
}

bool TextPool::equalsUtf8(int i, const char* utf8, int size) const {
    if (!utf8 || isNull(i))
        return !utf8 && isNull(i);
    const char* at = _data.data() + start(i);
    const int n = length(i);
    if (_kinds[size_t(i)] == Narrow && isAscii(utf8, size))
        return n == size && (size == 0 || std::memcmp(at, utf8, size_t(size)) == 0);
    const auto* p = reinterpret_cast<const quint8*>(utf8);
    const auto* end = p + size;
    const bool wide = _kinds[size_t(i)] == Wide;
    int k = 0;
    while (p < end) {
        char16_t unit = 0;
        const int used = utf8Unit(p, end, &unit);
        if (used == 0) {
            Scratch scratch;
            return view(i, &scratch) == QString::fromUtf8(utf8, size);
        }
        if (k >= n)
            return false;
        const char16_t stored = unitAt(at, wide, k);
        if (stored != unit)
            return false;
        p += used;
        ++k;
    }
    return k == n;
}

bool TextPool::less(int a, int b) const {
    const Kind ka = _kinds[size_t(a)];
    const Kind kb = _kinds[size_t(b)];
    const int na = length(a);
    const int nb = length(b);
    const char* pa = _data.data() + start(a);
    const char* pb = _data.data() + start(b);
    const int n = std::min(na, nb);
    if (ka != Wide && kb != Wide) {
        const int c = n > 0 ? std::memcmp(pa, pb, size_t(n)) : 0;
        return c != 0 ? c < 0 : na < nb;
    }
    for (int k = 0; k < n; ++k) {
        const char16_t ua = unitAt(pa, ka == Wide, k);
        const char16_t ub = unitAt(pb, kb == Wide, k);
        if (ua != ub)
            return ua < ub;
    }
    return na < nb;
}

size_t TextPool::bytes() const {
    return _data.capacity() + _ends.capacity() * sizeof(quint32) + _kinds.capacity();
}
