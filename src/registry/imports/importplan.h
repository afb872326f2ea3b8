#pragma once

#include "importfield.h"
#include "importtable.h"

#include <QDate>
#include <QSet>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

// What the user chose in the import window.
struct ImportOptions {
    // The row holding the headers, -1 when the table has none (its data then starts at row 0).
    int headerRow = -1;
    // The field of each column of the table; a missing entry is Ignore.
    QVector<ImportField> columns;
    // The first certificate series/number and registration number, counted up over the documents
    // that are imported (NumberSequence); empty: no numbering. A number the row itself gives wins.
    QString firstAttNumber;
    QString firstRegNumber;
    // The base template's own row of ProfDocuments (column name to stored value); empty for
    // "Без шаблона". Supplies what the rows do not: dates, qualification, duplicate flag...
    QVariantMap templateRow;
};

struct ImportProblem {
    ImportField field;
    QString text; // Russian, for the list under the preview ("Не указана фамилия", ...)
};

// A person the registry already holds: a document's name, birth date and SNILS (its digits).
struct RegistryPerson {
    QString surname;
    QString name;
    QString patronymic;
    QDate birthDate;
    QString snils;
};

// What the registry holds of an import's people and numbers (ImportRegistry reads it): at least
// every document that shares a surname and first name or a SNILS with the imported ones, and
// which of their registration numbers it holds already.
struct RegistryMatches {
    QVector<RegistryPerson> people;
    QSet<QString> regNumbers;
};

// One document to be made: the texts the row gives (or the user typed in the preview), per field.
struct ImportDocument {
    int sourceRow = -1; // row of the table, 0-based
    bool included = true;
    // Indexed by ImportField, documentFieldCount entries; a null text: the row gives no value.
    // Dates are kept as the user sees them ("dd.MM.yyyy" when the source held a date or a number).
    QVector<QString> texts;
    // The numbers the numbering gave this document (empty when none or the row has its own).
    QString numberedAttNumber;
    QString numberedRegNumber;
    QVector<ImportProblem> problems;
    // What the clerk should know but may well mean (the same person twice): asked once, not refused.
    QVector<ImportProblem> warnings;
    // The name came from one full-name cell, split by NameParts.
    bool nameFromFullName = false;

    QString text(ImportField field) const;
    // What the document will hold: the row's text, else the numbering's, else the template's value
    // shown as text.
    QString effectiveText(ImportField field, const ImportOptions& options) const;
    bool hasProblem(ImportField field) const;
    bool hasWarning(ImportField field) const;
};

// What one imported document is written with.
struct ImportRecord {
    QVariantMap document; // ProfDocuments columns
    QVariantMap frdo;     // ProfFrdo columns the row gives
    int row = 0;          // the row of the source a failure names, 1-based; 0: its place among the records
};

namespace ImportPlan {
// The header row among the first rows of the table (the first row in which at least two cells
// name a field, so that a title above it is passed over) and the field of each of its columns;
// -1 and no fields when there is none. When the row right below it is a row of field titles too
// (Фамилия | Имя | Отчество under a merged "Ф.И.О."), the header spans both: the lower row is
// the header row and its titles name the columns where it has one (headerText).
int findHeaderRow(const ImportTable& table, QVector<ImportField>* columns);
// The text that names a column under a header row: the row's own text, or, under a header that
// spans two rows, the upper row's text where the lower one is empty (a title merged over both
// rows). Empty when there is no header.
QString headerText(const ImportTable& table, int headerRow, int column);
// The documents of the rows below the header (all rows when there is none); blank rows and rows
// of field titles (a header printed again on each page) are skipped; cell texts are cleaned
// (cleanedText); a FullName column is split by NameParts. Numbering and checks are not applied yet.
QVector<ImportDocument> documents(const ImportTable& table, const ImportOptions& options);
// A cell's text without what can only be noise: zero-width characters and soft hyphens removed,
// no-break and other Unicode spaces as ordinary blanks, line and paragraph separators as line
// breaks, then trimmed. Control and format characters that remain are check()'s problems.
QString cleanedText(const QString& text);
// The first character of `text` that the field may not hold (a control character but the line
// breaks and tab of a field that may hold them, a format character such as a bidi override, half
// a surrogate pair), as its code point; -1 when there is none.
int forbiddenCharacter(const QString& text, ImportField field);
// Gives the included documents, in order, their numbers by the options' numbering; clears the
// numbers of left-out ones.
void number(QVector<ImportDocument>* documents, const ImportOptions& options);
// Finds every problem of every included document (left-out ones get none): no surname or first
// name, a date that cannot be read or lies outside the plausible years, a birth date after the
// issue date, a SNILS that cannot be, one SNILS of two different people, an unknown sex, a
// series/number twice among the included documents or in `taken` (the numbers of the registry's
// documents that are not duplicates), unless the document is a duplicate by its template; a
// registration number twice among them likewise. The same person (surname, name, patronymic and
// birth date) twice among them is a warning, and so is a name of more than four words (NameParts
// counts them) or a full name of one word. A character a field may not hold (forbiddenCharacter)
// is a problem. Problems and warnings found before are cleared.
void check(QVector<ImportDocument>* documents, const ImportOptions& options, const QSet<QString>& taken);
// After check(), what the registry adds: a registration number it holds, a SNILS it holds for
// another person (problems), a person it holds already (a warning, unless the documents are
// duplicates by their template).
void checkAgainstRegistry(QVector<ImportDocument>* documents, const ImportOptions& options,
                          const RegistryMatches& registry);
// The ProfDocuments columns the document is written with: the template's row (its copyable
// columns), overridden by the document's effective values (dates as QDate, NULL when empty), with
// isTemplate 0. Texts are stored as they stand, trimmed.
QVariantMap documentColumns(const ImportDocument& document, const ImportOptions& options);
// The ProfFrdo columns the row gives: "snils" (as written), "sexIsMale" (1 male, 0 female).
QVariantMap frdoColumns(const ImportDocument& document);
// The records of the included documents, in order.
QVector<ImportRecord> records(const QVector<ImportDocument>& documents, const ImportOptions& options);
int includedCount(const QVector<ImportDocument>& documents);
int problemCount(const QVector<ImportDocument>& documents); // included documents with a problem
int warningCount(const QVector<ImportDocument>& documents); // included documents with a warning
// Two people are one when their names agree (case, blanks and "ё" aside) and their birth dates do,
// or one of the dates is not known.
bool samePerson(const RegistryPerson& a, const RegistryPerson& b);
// The person a document names, as it will be written (the SNILS as its digits, empty if invalid).
RegistryPerson personOf(const ImportDocument& document, const ImportOptions& options);
} // namespace ImportPlan
