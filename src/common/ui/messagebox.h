#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

class QWidget;

// Every message box of the program is built here, the same way: title, icon, buttons, default
// button and, on request, the "Больше не предупреждать" check box. Tests queue the answers in
// advance and read back what would have been shown.
class MessageBox {
public:
    using Button = QMessageBox::StandardButton;
    using Buttons = QMessageBox::StandardButtons;

    struct Shown {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title;
        QString text;
        Buttons buttons;
        Button defaultButton = QMessageBox::NoButton;
        bool withDontWarn = false;
        QString informativeText;
        // Buttons that say what they do instead of their standard text.
        QList<QPair<Button, QString>> labels;
    };

    // Shows a modal box and returns the button chosen (Cancel or Escape-button when the box was closed).
    // With dontWarnAgain set the box carries the check box; its state is written back whatever the answer.
    // An informative text stands under the text, smaller (how much a question concerns).
    static Button show(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                       Buttons buttons = QMessageBox::Ok, Button defaultButton = QMessageBox::NoButton,
                       bool* dontWarnAgain = nullptr, const QString& informativeText = QString());
    // The titles of the program's boxes, the same whoever asks.
    static QString errorTitle() { return QStringLiteral("Ошибка"); }
    static QString attentionTitle() { return QStringLiteral("Внимание!"); }

    static Button information(QWidget* parent, const QString& title, const QString& text,
                              Buttons buttons = QMessageBox::Ok, Button defaultButton = QMessageBox::NoButton);
    static Button warning(QWidget* parent, const QString& title, const QString& text, Buttons buttons = QMessageBox::Ok,
                          Button defaultButton = QMessageBox::NoButton);
    static Button question(QWidget* parent, const QString& title, const QString& text,
                           Buttons buttons = QMessageBox::Yes | QMessageBox::No,
                           Button defaultButton = QMessageBox::Yes);
    static Button critical(QWidget* parent, const QString& title, const QString& text,
                           Buttons buttons = QMessageBox::Ok, Button defaultButton = QMessageBox::NoButton);
    // A window's message with an OK button. Information (the title "Информация") carries the
    // information icon and everything else (errors, warnings) the warning icon, so that a message of
    // one kind looks the same whoever shows it.
    static Button message(QWidget* parent, const QString& title, const QString& text);
    static QMessageBox::Icon iconForTitle(const QString& title);
    // A box whose buttons say what they do instead of their standard text.
    static Button choose(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                         Buttons buttons, Button defaultButton, const QList<QPair<Button, QString>>& labels);
    // A box whose question stands under its text in the smaller informative text.
    static Button ask(QWidget* parent, const QString& text, const QString& informativeText, Buttons buttons,
                      Button defaultButton, const QList<QPair<Button, QString>>& labels = {});

    // Test hooks: the next box is not shown but answered with `answer` (and the check box state).
    static void setNextAnswer(Button answer, bool dontWarnAgainChecked = false);
    static int pendingAnswers();
    // Programs without a user (command-line tools) answer every box that is not pre-answered.
    static void setAutoAnswer(Button answer);
    static QList<Shown> shown();
    static Shown lastShown();
    static void clearShown();

private:
    static Button run(QWidget* parent, const Shown& what, bool* dontWarnAgain);
    struct Answer {
        Button button;
        bool dontWarn;
    };
    static QList<Answer> _answers;
    static Button _autoAnswer;
    static QList<Shown> _shown;
};
