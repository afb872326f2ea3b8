#pragma once

#include <QString>
#include <memory>

class QTemporaryFile;

// A new version of a file, written beside it under a temporary name and put in its place in one
// step once complete: the file is then either the old one or the whole new one, never a cut one,
// and a version given up (never committed) leaves nothing behind.
class ReplacementFile {
public:
    explicit ReplacementFile(const QString& target);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Creates the temporary file (closed, for the writer to open by name); false with the reason.
    bool create(QString* reason);
    // Where to write; empty before create().
    QString path() const;
    // Gives the new version the old file's permissions (a new file's when there was none) and
    // moves it over the target; false with the reason, the target then as it was.
    bool commit(QString* reason);

private:
    QString _target;
    std::unique_ptr<QTemporaryFile> _file;
};
