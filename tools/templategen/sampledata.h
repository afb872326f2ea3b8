// A long, realistic document for previews: the print variables and 25 appendix subjects.
#pragma once

#include <QList>
#include <QMap>
#include <QString>

struct SubjectRow {
    QString subject;
    QString hours;
    QString grade;
};

// Variable values keyed by the lower-cased name, as the page stores them.
QMap<QString, QString> sampleVariables();
// 25 subjects and the total row.
QList<SubjectRow> sampleSubjects();
