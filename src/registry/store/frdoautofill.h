#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>
#include <functional>

class QSqlRecord;

// One column of an automatic fill: taken from a column of the source record, or computed from it.
struct AutoFillField {
    QString target;
    QString source;
    std::function<QVariant(const QSqlRecord& source)> compute;
};

// One rule set of the automatic fill: make sure the target row exists, read the source record,
// write the fields into the target table.
struct AutoFillSpec {
    QString table;
    QString insertSql;
    QString selectSql;
    QList<AutoFillField> fields;
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
