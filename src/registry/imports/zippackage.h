#pragma once

#include "importtable.h"

#include <QFile>
#include <QIODevice>
#include <QXmlStreamReader>
#include <functional>
#include <zip.h>

// A zip-based package (a workbook, an OpenDocument spreadsheet) mapped from its file. What a
// directory may cost is bounded before libzip reads it: a directory of more than maxEntries
// entries is refused from the count its end record declares.
class ZipPackage {
public:
    static constexpr int maxEntries = 10000;
    enum Failure { None, Unopened, Compound, NotZip, TooManyEntries };

    ZipPackage();
    ~ZipPackage();
    ZipPackage(const ZipPackage&) = delete;
    ZipPackage& operator=(const ZipPackage&) = delete;

    bool open(const QString& path);
    // Back to no package. The file stays the same object: it was made on the thread that made
    // the package, whichever thread opens a file with it.
    void close();
    zip_t* zip() const { return _zip; }
    Failure failure() const { return _failure; }
    // The file's or libzip's own words for the failure, for the log.
    QString detail() const { return _detail; }
    QString fileName() const { return _file.fileName(); }
    bool contains(const QString& name) const;
    // The part `name` when it unpacks to at most `limit` bytes; empty otherwise.
    QByteArray readSmall(const QString& name, qint64 limit) const;

    // The reason given when a directory holds more than maxEntries entries.
    static QString tooManyEntriesText();

private:
    bool fail(Failure failure, const QString& detail);
    QFile _file;
    zip_t* _zip = nullptr;
    Failure _failure = None;
    QString _detail;
};

// Why a part of a package could not be read.
enum class PartFailure { None, Missing, TooLarge, Protected, Unreadable, Malformed };

// One part of a package, unpacked as it is read and never beyond ImportTable::maxBytes. Its raw
// bytes are looked over before the XML reader gets them: a start tag with more than
// maxAttributes attributes fails the part (the XML reader's check for repeated attributes takes
// time growing with the square of their number), and so do more than maxCrowded attributes in
// elements of more than crowdedAttributes, and a document type.
class ZipPart : public QIODevice {
public:
    static constexpr int maxAttributes = 128;
    // Attributes of the elements with more than crowdedAttributes of them, over the whole part.
    static constexpr int crowdedAttributes = 32;
    static constexpr int maxCrowded = 1 << 17;

    ~ZipPart() override;
    bool open(zip_t* zip, const QString& name);
    bool isSequential() const override { return true; }
    bool atEnd() const override { return _ended; }
    PartFailure failure() const { return _failure; }
    int percent() const { return _size > 0 ? int(std::min<qint64>(100, _consumed * 100 / _size)) : 0; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    bool fail(PartFailure failure);
    bool tagsBounded(const char* data, qint64 size);
    bool countAttribute();

    zip_file_t* _file = nullptr;
    qint64 _size = 0;
    qint64 _consumed = 0;
    bool _ended = false;
    PartFailure _failure = PartFailure::None;
    // Where the look-over stands between two reads.
    enum Scan { Text, TagStart, Declaration, InTag, Quoted, OtherTag } _scan = Text;
    char _quote = 0;
    int _attributes = 0;
    qint64 _crowded = 0;
};

// A part parsed as XML; a document type with entity declarations is refused before any text is
// read, so nothing is ever expanded.
class PartXml {
public:
    bool open(zip_t* zip, const QString& name);
    // Next token, a refused document type ending the part as an error.
    QXmlStreamReader::TokenType next();
    // Next element start; false at the end, on an error or on a refused document type.
    bool nextStart();
    int percent() const { return _part.percent(); }
    // Why the part was not read to its end; None when it was.
    PartFailure failure() const;
    QString detail() const { return _name + QLatin1Char(' ') + xml.errorString(); }
    bool isMissing() const { return _part.failure() == PartFailure::Missing; }

private:
    ZipPart _part; // declared before the reader, so that it outlives it

public:
    QXmlStreamReader xml;

private:
    QString _name;
    bool _refused = false;
};

// Reports the share of a part read each time it grows by a percent, checked at every element
// so that one huge row cannot hide the progress either.
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

// Keeps the count of cells a workbook reader has taken against ImportTable::maxCells.
struct SheetBounds {
    qint64 used = 0;
    bool take(qint64 cells) {
        if (used + cells > ImportTable::maxCells)
            return false;
        used += cells;
        return true;
    }
};
