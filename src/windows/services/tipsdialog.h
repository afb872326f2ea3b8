#pragma once

#include <QDialog>
#include <QScopedPointer>
#include <QStringList>

namespace Ui {
class TipsDialog;
}

// "Совет дня": one usage tip at a time, starting at a random one, and the user's choice whether
// tips appear when the program starts. Application-modal, deletes itself when closed.
class TipsDialog : public QDialog {
    Q_OBJECT

public:
    explicit TipsDialog(QWidget* parent = nullptr, const QString& tipsFile = QStringLiteral(":/common_tips.txt"));
    // Stores the start-up choice, however the dialog was closed.
    ~TipsDialog() override;

    // The tips of `text`: pieces between "**", empty ones dropped, each without its leading line
    // break; never empty.
    static QStringList parseTips(const QString& text);

private slots:
    void on_pushButtonNext_clicked();
    void on_pushButtonClose_clicked();

private:
    void showNextTip();

    QScopedPointer<Ui::TipsDialog> ui;
    QStringList _tips;
    int _index = 0;
};
