#include "spellchecker.h"

bool SpellChecker::init() {
    // The checker over Hunspell is not part of this build yet: no instance, every user skips checking.
    return false;
}
