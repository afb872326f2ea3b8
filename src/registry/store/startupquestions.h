#pragma once

#include <QString>

// What the data store met at start-up that the user has to hear of or decide, in the words the
// user is shown. The store itself shows nothing: it hands this to StartupQuestions.
struct StartupProblem {
    enum class Kind {
        None,
        CannotCreate, // a new database file could not be made
        CannotOpen,   // the main connection could not be opened
        Unavailable,  // locked, read-only or on a full disk: the file is left as it is
        Unrepairable, // the structure check failed; the file as it was waits in the backup
    };
    Kind kind = Kind::None;
    QString text;       // the message for the user
    QString error;      // the technical reason (the driver's or the check's text)
    QString backupPath; // Unrepairable: where the file as it was is kept
    int exitCode = 0;   // what the program ends with when the start ends here

    bool isNone() const { return kind == Kind::None; }
};

// The questions the data store asks while it starts, answered by whoever runs it: the program's
// shell asks the user, a tool or a test answers for itself.
class StartupQuestions {
public:
    virtual ~StartupQuestions() = default;
    // The file cannot be brought into shape: true replaces it with a new empty database, false
    // ends the start.
    virtual bool replaceUnrepairable(const StartupProblem& problem) = 0;
    // The start ends with `problem`; it is told before the program ends.
    virtual void tellFatal(const StartupProblem& problem) = 0;
};
