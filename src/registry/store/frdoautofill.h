#pragma once

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QVariant>
#include <functional>

class QSqlRecord;

// What a rule reads besides the source record: the value a column of the document's target row
// holds before the fill, and the total hours of the document's appendix. A fill of one document
// asks the registry; an import, which wrote those rows itself, answers from what it wrote.
struct AutoFillStored {
    std::function<QVariant(const QString& column)> target;
    std::function<QVariant()> appendixHours;
};

// The document a rule reads: the value of one of its columns by the registry's name of it, NULL
// for a column it does not hold. A fill of one document reads its stored row; an import answers
// from the row it has just written, without the search of a QSqlRecord by name.
using AutoFillSource = std::function<QVariant(const QString& column)>;

// One column of an automatic fill: taken from a column of the source record, or computed from it.
struct AutoFillField {
    QString target;
    QString source;
    std::function<QVariant(const AutoFillSource& source, const AutoFillStored& stored)> compute;
};

// One rule set of the automatic fill: make sure the target row exists, read the source record,
// write the fields into the target table.
struct AutoFillSpec {
    QString table;
    QString insertSql;
    QString selectSql;
    QList<AutoFillField> fields;

    // The value of each target column, by the target's name; a NULL copied number stays NULL.
    QMap<QString, QVariant> values(const AutoFillSource& source, const AutoFillStored& stored) const;
    QMap<QString, QVariant> values(const QSqlRecord& source, const AutoFillStored& stored) const;
};

// The rules by which "Автозаполнение ФРДО" fills a document's ProfFrdo row from the document.
class FrdoAutoFill {
public:
    static const AutoFillSpec& rules();

    // The series and the number of a certificate's "Серия/номер свидетельства": apart at the first
    // blank when there is one ("2926 000101"). Without a blank: letters followed by digits apart
    // where the digits begin ("СВ100051"), digits alone of at most six characters are all number
    // ("000101"), anything else after the sixth character ("123456789012"). Blanks around the text
    // count for nothing. A part the text is too short for is empty; a NULL number gives NULL parts.
    static QPair<QVariant, QVariant> attNumberParts(const QVariant& stored);
};
