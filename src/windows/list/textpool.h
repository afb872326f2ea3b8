#pragma once

#include <QString>
#include <QStringView>
#include <QVarLengthArray>
#include <cstdint>
#include <vector>

// The texts of one list column kept end to end in one buffer: each as Latin-1 when all its
// characters allow it, otherwise as UTF-16. A million short texts then cost their characters and
// five bytes each, where a QString each would cost about fifty more.
class TextPool {
public:
    // A UTF-16 copy of a Latin-1 text, made where a view is needed; most texts fit without an
    // allocation.
    using Scratch = QVarLengthArray<QChar, 256>;

    void clear();
    // Room for `values` texts of `bytes` bytes in all, so that a load grows nothing twice.
    void reserve(int values, size_t bytes);
    void squeeze();

    // Appends a text, a null string as NULL; its index. False in `full` when the pool's 4 GB of
    // offsets are used up (the text is not kept then).
    int append(QStringView text, bool isNull, bool* full = nullptr);
    // Appends SQLite's UTF-8 (null pointer for NULL): ASCII goes in without a conversion.
    int appendUtf8(const char* utf8, int size, bool* full = nullptr);

    int size() const { return int(_ends.size()); }
    bool isNull(int i) const { return _kinds[size_t(i)] == Null; }
    // The text, a null string for NULL.
    QString text(int i) const;
    // The text as UTF-16: into the pool, or into `scratch` for a Latin-1 text.
    QStringView view(int i, Scratch* scratch) const;
    // Whether the text is the one of SQLite's UTF-8 bytes (null pointer for NULL), read as
    // QString::fromUtf8 reads them; ASCII and the two- and three-byte forms are compared unconverted.
    bool equalsUtf8(int i, const char* utf8, int size) const;
    // QString::compare(text(a), text(b), Qt::CaseSensitive) < 0, without copies.
    bool less(int a, int b) const;
    // Bytes held, for the benchmarks.
    size_t bytes() const;

private:
    enum Kind : quint8 { Null, Narrow, Wide };
    size_t start(int i) const;
    int length(int i) const;

    std::vector<char> _data;
    // End of each text in _data; a UTF-16 text starts at an even offset.
    std::vector<quint32> _ends;
    std::vector<Kind> _kinds;
};
