#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Moving or copying the data folder's files (the database, the data store "settings.ini", every
// template of "reports" and every dictionary of "dict", the user's own included) into another
// folder without ever losing one: every file is first copied under a temporary name beside its
// target and verified; only when all copies are good are the targets replaced, and only then,
// on a move, the sources removed. Any failure leaves both folders as they were. What stays behind
// is named in the outcome, never passed over in silence.
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

    // Relative paths (with "/") of the files of the current folder that a relocation takes, and of
    // the others (backups, anything else), which stay where they are. Neither lists the running
    // program's lock file nor the shipped templates of the default folder ("default_reports").
    QStringList filesToTransfer() const;
    QStringList otherFiles() const;

    // What a transfer did; every list holds relative paths.
    struct Outcome {
        QStringList failed;         // could not be transferred; then nothing was changed at all
        QStringList kept;           // the target's own file was kept at the user's word
        QStringList notRemoved;     // moved: copied, but the old file could not be removed
        QStringList notTransferred; // otherFiles(): not a relocation's to take
        bool isComplete() const {
            return failed.isEmpty() && kept.isEmpty() && notRemoved.isEmpty() && notTransferred.isEmpty();
        }
    };
    // Writes the settings out, then transfers the files; the caller commits and closes the database
    // first (Database::commitAndClose).
    Outcome transfer(bool move, const OverwriteQuestion& askOverwrite);

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
    // Every file of the current folder (relative paths), sorted into the two lists.
    void listFiles(QStringList* transferred, QStringList* others) const;
    void removeEmptyFolders() const;

    QString _current;
    QString _target;
    static CopyFunction _copy;
};
