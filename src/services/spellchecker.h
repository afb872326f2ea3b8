#pragma once

// The process-wide Russian spell checker.
class SpellChecker {
public:
    // Creates the instance from the data folder's dictionary; false when there is none.
    static bool init();
};
