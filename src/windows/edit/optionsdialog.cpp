#include "optionsdialog.h"
#include "ui_optionsdialog.h"
#include "writeaccess.h"

#include "bossguidedialog.h"
#include "dialoggeometry.h"
#include "inputhelpers.h"
#include "messagebox.h"
#include "organisationdata.h"

#include <QApplication>
#include <QDateTime>
#include <QPair>
#include <QVector>

OptionsDialog::OptionsDialog(QWidget* parent) : QDialog(parent), ui(new Ui::OptionsDialog) {
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Настройки"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    setWindowModality(Qt::ApplicationModal);
    loadOptions();
    WriteAccess::mark({ui->pushButtonSave, ui->pushButtonGuide1, ui->pushButtonGuide2});
    WriteAccess::viewOnly(this);
    connect(qApp, &QApplication::focusChanged, this, &OptionsDialog::onFocusChanged);
    // The date is written by the program, not typed.
    InputHelpers::installSpellChecking(this, {ui->lineEditDate});
    DialogGeometry::restore(this);
}

OptionsDialog::~OptionsDialog() {
    // Focus moves while the children are torn down, after this part of the object is gone.
    disconnect(qApp, &QApplication::focusChanged, this, &OptionsDialog::onFocusChanged);
    DialogGeometry::save(this);
}

void OptionsDialog::loadOptions() {
    using namespace OrganisationData;
    // Set, not appended, so that loading again does not double the names.
    ui->plainTextEditOrgName_1->setPlainText(value(orgName1));
    ui->plainTextEditOrgName_2->setPlainText(value(orgName2));
    ui->lineEditCity->setText(value(city));
    ui->lineEditDate->setText(value(date));
    ui->lineEditBoss->setText(value(boss));
    ui->lineEditBoss_2->setText(value(boss2));
    ui->lineEditBoss_3->setText(value(boss3));
}

bool OptionsDialog::saveOptions(QString* reason) {
    using namespace OrganisationData;
    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const QVector<QPair<QString, QString>> values = {
        {orgName1, ui->plainTextEditOrgName_1->toPlainText()},
        {orgName2, ui->plainTextEditOrgName_2->toPlainText()},
        {city, ui->lineEditCity->text()},
        {date, now},
        {boss, ui->lineEditBoss->text()},
        {boss2, ui->lineEditBoss_2->text()},
        {boss3, ui->lineEditBoss_3->text()},
    };
    if (!write(values, reason))
        return false;
    ui->lineEditDate->setText(now);
    return true;
}

void OptionsDialog::on_pushButtonSave_clicked() {
    // The write tells why it failed on its own; this dialog shows it.
    QString reason;
    if (!saveOptions(&reason)) {
        // The dialog stays open, so that what was typed is not lost.
        const QString headline = QStringLiteral("Не удалось сохранить данные организации.");
        MessageBox::critical(this, MessageBox::errorTitle(),
                             reason.isEmpty() ? headline : headline + QLatin1Char('\n') + reason);
        return;
    }
    emit updateOptions();
    dismiss();
}

void OptionsDialog::on_pushButtonCancel_clicked() {
    dismiss();
}

void OptionsDialog::dismiss() {
    hide();
    deleteLater();
}

void OptionsDialog::onFocusChanged(QWidget*, QWidget* now) {
    // The pop-up list of a combo box has no help of its own; the panel keeps the combo's.
    if (!now || now->inherits("QComboBoxListView"))
        return;
    ui->labelHelp->setText(InputHelpers::helpText(now));
}

void OptionsDialog::on_pushButtonGuide1_clicked() {
    openDirectory(BossGuideDialog::Chairman, ui->lineEditBoss_2);
}

void OptionsDialog::on_pushButtonGuide2_clicked() {
    openDirectory(BossGuideDialog::Secretary, ui->lineEditBoss_3);
}

void OptionsDialog::openDirectory(int bossType, QLineEdit* target) {
    auto* directory = new BossGuideDialog(bossType, this);
    // Only the field changes; the stored value waits for Save.
    connect(directory, &BossGuideDialog::bossSelected, target, &QLineEdit::setText);
    directory->show();
}
