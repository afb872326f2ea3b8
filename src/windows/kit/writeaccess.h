#pragma once

#include <QString>
#include <initializer_list>

class QObject;
class QWidget;

// Which of the windows' actions and buttons write to the registry, and how they look on a run that
// may not write (a file or folder that cannot be written, a server login that may only read): each
// window marks what writes where it makes it, and a marked action or button stays disabled for the
// whole run with the reason as its tooltip, whatever its window enables later. Nothing else asks.
class WriteAccess {
public:
    // Whether this run may not write, and why (empty when it may).
    static bool readOnly();
    static QString reason();

    // Marks actions and buttons as writing; on a read-only run they are disabled at once.
    static void mark(QObject* object);
    static void mark(std::initializer_list<QObject*> objects);
    static bool writes(const QObject* object);
    // False for a marked action or button on a read-only run: its slot must not run, whoever calls.
    static bool allowed(const QObject* object);

    // A window that shows a record for viewing only: its text fields read-only, its choices (combo
    // boxes, check boxes, radio buttons) and tables closed to input, their values still readable.
    // Nothing on a run that may write.
    static void viewOnly(QWidget* window);

    // What the main window's title adds on a read-only run ("только чтение").
    static QString titleMark();
};
