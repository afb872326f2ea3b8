#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Moving or copying the data folder's files (templates, dictionaries, database) into another
// folder without ever losing one: every file is first copied under a temporary name beside its
// target and verified; only when all copies are good are the targets replaced, and only then,
// on a move, the sources removed. Any failure leaves both folders as they were.
class DataRelocation {
public:
    enum class Refusal { None, SameFolder, RelativePath, NotAFolder };
    // Asked for each target file that exists already; false keeps it (the file is skipped).
    using OverwriteQuestion = std::function<bool(const QString& targetFile)>;
    using CopyFunction = std::function<bool(const QString& from, const QString& to)>;

    DataRelocation(const QString& currentFolder, const QString& targetFolder);

    // The checks that need no change on disk.
    Refusal refusal() const;
    bool targetExists() const;
    bool createTarget() const;
    // Creates and removes a test folder with a file in it; nothing stays behind.
    bool targetWritable() const;
    // Whether the target holds anything at all.
    bool targetHasEntries() const;

    // Paths relative to the data folder: every report template, the dictionary pair, the database.
    static QStringList dataFiles();

    // Commits and closes the database, then transfers the files. Returns the files (relative
    // paths) that could not be transferred; when there are any, nothing was changed. Sources that
    // do not exist are passed over.
    QStringList transfer(bool move, const OverwriteQuestion& askOverwrite);

    // Tests put a failing copy here; an empty function restores the real one.
    static void setCopyFunction(CopyFunction copy);

    // Replaces `target` by a verified copy of `source` (copied beside it first); false leaves
    // `target` as it was.
    static bool replaceWithCopy(const QString& source, const QString& target);

private:
    struct Item {
        QString relative;
        QString source;
        QString target;
        QString staged;
        QString previous;
    };
    static bool stage(const Item& item);
    static bool verify(const Item& item);
    static bool install(Item& item);
    static void rollBack(const Item& item);
    static bool isDatabaseIntact(const QString& path);

    QString _current;
    QString _target;
    static CopyFunction _copy;
};
