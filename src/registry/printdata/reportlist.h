#pragma once

#include "reporttype.h"

#include <QList>
#include <QMap>
#include <QString>
#include <functional>

class ReportPage;

// The blank forms the program prints: one record per report type, each with its template file and
// the function that fills a page from a document record.
class ReportList : public ReportTypes {
public:

    // Returns the database's error text when the document could not be read (empty on success):
    // a form filled from a failing query must not be printed.
    using FillFunction = std::function<QString(ReportPage* page, qint64 sqlDocId, bool forPrinting)>;

    struct ReportInfo {
        ReportType type;
        QString title;
        QString fileName;
        QString description;
        FillFunction fill;
    };

    // Builds the list once, at start-up; later calls keep the list as it is.
    static void build();
    // The record of a type, or null for an unknown type.
    static const ReportInfo* info(int type);
    // The records in their fixed order.
    static const QList<ReportInfo>& reports();

private:
    static QList<ReportInfo> _reports;
    static QMap<int, int> _index;
};
