#pragma once

#include "startupquestions.h"

// The data store's start-up questions as the program asks them: modal boxes without an icon,
// titled "Внимание!", before any window is up.
class StartupBoxes : public StartupQuestions {
public:
    bool replaceUnrepairable(const StartupProblem& problem) override;
    void tellFatal(const StartupProblem& problem) override;
};
