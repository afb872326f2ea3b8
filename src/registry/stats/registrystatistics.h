#pragma once

#include "chosenids.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QVector>

class DocumentFilter;
struct sqlite3;

// Documents of one period (or one name), counted by kind; duplicates are counted apart from the
// kinds, whatever their kind.
struct KindCounts {
    qint64 workers = 0;   // "о профессии рабочего": every certificateType but 2
    qint64 employees = 0; // "о должности служащего": certificateType 2
    qint64 duplicates = 0;
    qint64 total() const { return workers + employees + duplicates; }
    bool operator==(const KindCounts& o) const {
        return workers == o.workers && employees == o.employees && duplicates == o.duplicates;
    }
};

struct PeriodCounts {
    int period = 0; // a year, or a month 1..12; noDate for documents without a readable issue date
    KindCounts counts;
};

struct NamedCount {
    QString name;
    qint64 count = 0;
};

// The registry's figures for a set of documents: per year and month of issue, per profession and
// qualification, and the training hours. Templates are no documents and never count. A registry
// file is read in one pass in id order (or id by id for a few ids among many), grouping the raw
// values before any is turned into a date or a name; a server gets grouped statements.
class RegistryStatistics {
public:
    // Grouped statements over a temporary table of the ids: the server's way, and on a file the
    // yardstick the pass is checked against.
    enum class Reading { Automatic, Grouped };
    explicit RegistryStatistics(Reading reading = Reading::Automatic) : _reading(reading) {}

    static constexpr int noDate = 0;
    static constexpr int topCount = 20;
    static QString workersText() { return QStringLiteral("о профессии рабочего"); }
    static QString employeesText() { return QStringLiteral("о должности служащего"); }
    static QString duplicatesText() { return QStringLiteral("дубликаты"); }
    static QString noDateText() { return QStringLiteral("(без даты)"); }
    static QString blankText() { return QStringLiteral("(не указано)"); }
    static QString restText() { return QStringLiteral("Прочие"); }
    // The line that says which documents the figures are of: "Фильтр: ФИО содержит «козлов»", the
    // conditions joined by "; ", or "Фильтр: нет".
    static QString filterText(const DocumentFilter& filter);

    // Reads the figures of the documents `ids` on the default connection; false with the reason
    // (logged) when they cannot be read, the figures then being empty.
    bool read(const QList<qint64>& ids, QString* error);
    // The same in two steps, for a window that shows the counts before the hours: the hours sum the
    // appendix rows, a dozen per document, and take as long as all the counts together. The hours
    // are those of the documents readCounts() counted; readHoursSlice() reads a part of them per
    // call, so that a window can paint between the parts, until hoursRead().
    bool readCounts(const QList<qint64>& ids, QString* error);
    bool readHours(QString* error);
    bool readHoursSlice(QString* error);
    bool hoursRead() const { return _hoursRead; }

    qint64 documentCount() const { return _documents; }
    qint64 totalHours() const { return _hours; }
    // Ascending, every year from the first to the last dated one (those without documents as 0),
    // the documents without a date last.
    QVector<PeriodCounts> years() const;
    // The years that have dated documents, ascending.
    QList<int> datedYears() const;
    // All twelve months of `year`.
    QVector<PeriodCounts> months(int year) const;
    // The topCount most frequent names (ties by name), then restText() with the others' total.
    QVector<NamedCount> professions() const { return _professions; }
    QVector<NamedCount> qualifications() const { return _qualifications; }

private:
    bool scanCounts(const ChosenIds& chosen, QString* error);
    bool scanHoursSlice(QString* error);
    bool startHours(sqlite3* db, QString* error);
    bool readDates(QString* error);
    bool readNames(QString* error);
    bool sumHours(QString* error);
    void finishHours();
    // Forgets where a sum of the hours stood, so that the next slice begins it again.
    void restartHours();
    bool grouped() const;
    void clear();

    Reading _reading;
    ChosenIds _counted;        // the scan's documents, until the hours are read
    QList<qint64> _groupedIds; // the same for grouped statements
    qint64 _hoursCursor = 0;   // the next appendix row id, or the next index into _counted
    qint64 _hoursEnd = -1;     // the last appendix row id of a scan
    bool _hoursByLookup = false;
    bool _hoursStarted = false;
    double _hoursSum = 0;
    qint64 _documents = 0;
    qint64 _hours = 0;
    bool _hoursRead = false;
    QMap<int, KindCounts> _years;
    QMap<int, QMap<int, KindCounts>> _months; // year -> month -> counts
    QVector<NamedCount> _professions, _qualifications;
};
