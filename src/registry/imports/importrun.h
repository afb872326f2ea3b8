#pragma once

#include "importplan.h"
#include "importregistry.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

// One import as the window and orvane-import both run it, so that the two find the same documents,
// numbers and problems in the same table: the columns the header names, the documents of the rows,
// their numbering, their checks against each other and against the registry, and the one write.
// The registry's taken numbers are read once per run; its people and registration numbers are
// looked up for what is new on every check.
class ImportRun {
public:
    // What a check could not read of the registry; the documents are then checked without it.
    struct Unread {
        QString takenNumbers; // the series/numbers its documents hold (asked for once per run)
        QString registry;     // its people and registration numbers (asked for on every check)
        bool isEmpty() const { return takenNumbers.isEmpty() && registry.isEmpty(); }
    };

    // The field of each column of the table by the header row's titles, or by a remembered choice
    // for a title (ImportFields::normalisedHeader to ImportFields::key); the first column that
    // names a field holds it. All Ignore when there is no header row (-1).
    static QVector<ImportField> columnsOf(const ImportTable& table, int headerRow,
                                          const QHash<QString, QString>& remembered = {});
    // The title of a field's column in the preview; the tool names the field of a problem with it.
    static QString columnTitle(ImportField field);

    // The documents of the table's rows under the options, numbered and checked.
    QVector<ImportDocument> build(const ImportTable& table, const ImportOptions& options, Unread* unread);
    // Numbers and checks the documents again, keeping their texts: after an edit in the preview,
    // another template or other first numbers.
    void check(QVector<ImportDocument>* documents, const ImportOptions& options, Unread* unread);
    // Numbers another program saved since they were read (ImportStore::write's `taken`): the
    // next checks refuse them too.
    void addTaken(const QStringList& numbers);

    // Makes the included documents, all or none (ImportStore::write, their entries naming `source`);
    // the caller has refused documents with problems before.
    static bool write(const QVector<ImportDocument>& documents, const ImportOptions& options, qint64 templateId,
                      QList<qint64>* ids, QString* error, const std::function<bool(int done, int total)>& progress = {},
                      bool* cancelled = nullptr, QStringList* taken = nullptr, const QString& source = QString());

private:
    const QSet<QString>& takenNumbers(Unread* unread);

    QSet<QString> _taken;
    bool _takenRead = false;
    ImportRegistry _registry;
};
