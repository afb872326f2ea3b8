#include "messagebox.h"

#include <QAbstractButton>
#include <QCheckBox>

QList<MessageBox::Answer> MessageBox::_answers;
QList<MessageBox::Shown> MessageBox::_shown;
MessageBox::Button MessageBox::_autoAnswer = QMessageBox::NoButton;

MessageBox::Button MessageBox::show(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                                    Buttons buttons, Button defaultButton, bool* dontWarnAgain,
                                    const QString& informativeText) {
    return run(parent, Shown{icon, title, text, buttons, defaultButton, dontWarnAgain != nullptr, informativeText},
               dontWarnAgain);
}

MessageBox::Button MessageBox::ask(QWidget* parent, const QString& text, const QString& informativeText,
                                   Buttons buttons, Button defaultButton, const QList<QPair<Button, QString>>& labels) {
    return run(parent,
               Shown{QMessageBox::NoIcon, QString(), text, buttons, defaultButton, false, informativeText, labels},
               nullptr);
}

MessageBox::Button MessageBox::choose(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                      const QString& text, Buttons buttons, Button defaultButton,
                                      const QList<QPair<Button, QString>>& labels) {
    return run(parent, Shown{icon, title, text, buttons, defaultButton, false, QString(), labels}, nullptr);
}

MessageBox::Button MessageBox::run(QWidget* parent, const Shown& what, bool* dontWarnAgain) {
    _shown.append(what);
    if (!_answers.isEmpty()) {
        const Answer answer = _answers.takeFirst();
        if (dontWarnAgain)
            *dontWarnAgain = answer.dontWarn;
        return answer.button;
    }
    if (_autoAnswer != QMessageBox::NoButton)
        return _autoAnswer;

    QMessageBox box(what.icon, what.title, what.text, what.buttons, parent);
    if (what.defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(what.defaultButton);
    box.setInformativeText(what.informativeText);
    for (const auto& label : what.labels)
        if (QAbstractButton* button = box.button(label.first))
            button->setText(label.second);
    QCheckBox* check = nullptr;
    if (dontWarnAgain) {
        check = new QCheckBox(QStringLiteral("Больше не предупреждать"), &box);
        box.setCheckBox(check);
    }
    const int result = box.exec();
    if (dontWarnAgain)
        *dontWarnAgain = check->isChecked();
    return static_cast<Button>(result);
}

MessageBox::Button MessageBox::information(QWidget* parent, const QString& title, const QString& text, Buttons buttons,
                                           Button defaultButton) {
    return show(parent, QMessageBox::Information, title, text, buttons, defaultButton);
}

QMessageBox::Icon MessageBox::iconForTitle(const QString& title) {
    return title == QStringLiteral("Информация") ? QMessageBox::Information : QMessageBox::Warning;
}

MessageBox::Button MessageBox::message(QWidget* parent, const QString& title, const QString& text) {
    return show(parent, iconForTitle(title), title, text);
}

MessageBox::Button MessageBox::warning(QWidget* parent, const QString& title, const QString& text, Buttons buttons,
                                       Button defaultButton) {
    return show(parent, QMessageBox::Warning, title, text, buttons, defaultButton);
}

MessageBox::Button MessageBox::question(QWidget* parent, const QString& title, const QString& text, Buttons buttons,
                                        Button defaultButton) {
    return show(parent, QMessageBox::Question, title, text, buttons, defaultButton);
}

MessageBox::Button MessageBox::critical(QWidget* parent, const QString& title, const QString& text, Buttons buttons,
                                        Button defaultButton) {
    return show(parent, QMessageBox::Critical, title, text, buttons, defaultButton);
}

void MessageBox::setNextAnswer(Button answer, bool dontWarnAgainChecked) {
    _answers.append(Answer{answer, dontWarnAgainChecked});
}

void MessageBox::setAutoAnswer(Button answer) {
    _autoAnswer = answer;
}

int MessageBox::pendingAnswers() {
    return _answers.size();
}

QList<MessageBox::Shown> MessageBox::shown() {
    return _shown;
}

MessageBox::Shown MessageBox::lastShown() {
    return _shown.isEmpty() ? Shown() : _shown.last();
}

void MessageBox::clearShown() {
    _shown.clear();
    _answers.clear();
}
