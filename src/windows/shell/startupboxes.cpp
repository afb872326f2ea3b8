#include "startupboxes.h"

#include "messagebox.h"

bool StartupBoxes::replaceUnrepairable(const StartupProblem& problem) {
    return MessageBox::show(nullptr, QMessageBox::NoIcon, MessageBox::attentionTitle(), problem.text,
                            QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void StartupBoxes::tellFatal(const StartupProblem& problem) {
    MessageBox::show(nullptr, QMessageBox::NoIcon, MessageBox::attentionTitle(), problem.text);
}
