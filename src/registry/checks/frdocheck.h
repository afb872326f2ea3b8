#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QVector>
#include <functional>

class DocumentFilter;

// One way a document would be refused by the federal registry of education documents, or would
// print a wrong certificate. `columns` are the columns of ProfDocuments / ProfFrdo the rule reads,
// in lower case as the rows carry them, so that a dialog can mark the field that holds them.
struct FrdoRule {
    QString id;   // stable, for tests and logs ("snilsCheck", "startAfterEnd", ...)
    QString text; // Russian, as the clerk reads it ("Неверное контрольное число СНИЛС")
    QStringList columns; // the columns whose widgets are marked
    // True when the document passes. `row` holds the document's columns of ProfDocuments and
    // ProfFrdo by name (lower case keys), NULL as an invalid QVariant, plus "totalhours" (the sum of
    // its appendix hours) and "hassubjects" (bool).
    std::function<bool(const QVariantMap& row)> passes;
};

struct FrdoProblem {
    QString ruleId;
    QString text;
    QStringList columns;
};

// The rules, each stated once in one table, so that a change of the registry's requirements is one
// edit there.
namespace FrdoCheck {
// What the FRDO table needs: the columns it always needs filled, SNILS (not eleven zeros), dates
// that read and fall in the plausible years, the order of the dates, age at issue, a duplicate's
// original details, hours.
const QVector<FrdoRule>& registryRules();
// What makes the certificate itself wrong: training that ends before it starts, an issue date
// before the end, no name or patronymic, no qualification, an appendix of 0 hours where the
// total is printed.
const QVector<FrdoRule>& certificateRules();

// The problems of one row by a rule set.
QVector<FrdoProblem> problems(const QVariantMap& row, const QVector<FrdoRule>& rules);

// A document that fails, with what the check list shows of it.
struct FailingDocument {
    qint64 id = 0;
    QString name;      // "fio1 fio2 fio3"
    QString attNumber; // series/number
    QVector<FrdoProblem> problems;
};
// Checks the documents by the registry rules, reading them in one pass (100,000 documents well
// under a second); only the failing ones are returned, in the order of `ids`. A document without a
// ProfFrdo row fails with "Нет данных ФРДО". False with the reason when the registry cannot be read.
bool checkDocuments(const QList<qint64>& ids, QVector<FailingDocument>* failing, QString* error);
// Checks by the registry rules every document the list shows under `filter`, in the list's own
// order (DocumentFilter::shownIds(): newest first), in one pass over the registry, handing each
// failing one to `take` as it is read, so that a million documents are never held at once. False
// with the reason when the registry cannot be read; `take` may have had some documents by then.
bool checkShown(const DocumentFilter& filter, const std::function<void(const FailingDocument&)>& take, QString* error);
// One line per problem, tab-separated: id, name, series/number, problem text.
QStringList reportLines(const QVector<FailingDocument>& failing);
// The same lines of one document, each in UTF-8 with its line end, appended to `out`.
void appendReport(const FailingDocument& document, QByteArray* out);
} // namespace FrdoCheck
