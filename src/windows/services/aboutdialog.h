#pragma once

#include <QDialog>
#include <QScopedPointer>

namespace Ui {
class AboutDialog;
}

// "О программе": the name with version, build and processor, the product description, the
// release notes and the toolkit's own about box. Application-modal, deletes itself when closed,
// remembers its geometry.
class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;

    // "<titled version> build 1160 <built for> running on <running on>", with the report
    // library's version when there is a library file to read it from.
    static QString nameLine();

private slots:
    void on_pushButtonClose_clicked();

private:
    // "major.minor" of the report library file next to the program; empty when there is none.
    static QString reportLibraryVersion();

    QScopedPointer<Ui::AboutDialog> ui;
};
