#pragma once

#include "reporttype.h"

#include <QList>
#include <QMap>
#include <QString>

// The blank forms the program prints: one record per report type, each with its template file.
// Every type prints the values PrintData::read() gives of a document.
class ReportList : public ReportTypes {
public:
    struct ReportInfo {
        ReportType type;
        QString title;
        QString fileName;
        QString description;
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
