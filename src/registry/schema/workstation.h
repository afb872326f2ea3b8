#pragma once

#include <QString>

// The computer the program runs on, as the history names it: its user and its name. Below the
// store and the server connection, which both tell them.
class Workstation {
public:
    static QString user();
    static QString name();
};
