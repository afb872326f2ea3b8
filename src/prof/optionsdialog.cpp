#include "optionsdialog.h"
#include "ui_optionsdialog.h"

#include "bossguidedialog.h"
#include "database.h"
#include "dialoggeometry.h"
#include "messagebox.h"
#include "mzlog.h"
#include "services/inputhelpers.h"

#include <QApplication>
#include <QDateTime>
#include <QPair>
#include <QSqlError>
#include <QSqlQuery>
#include <QVector>

namespace {
// The names the print data reads back.
const char varOrgName1[] = "Data/OrgName_1";
const char varOrgName2[] = "Data/OrgName_2";
const char varCity[] = "Data/City";
const char varDate[] = "Data/Date";
const char varBoss[] = "Data/Boss";
const char varBoss2[] = "Data/Boss_2";
const char varBoss3[] = "Data/Boss_3";

const char savepoint[] = "organisation";

bool runStatement(const QString& sql) {
    return Database::instance()->execSql(sql).lastError().type() == QSqlError::NoError;
}
} // namespace

OptionsDialog::OptionsDialog(QWidget* parent) : QDialog(parent), ui(new Ui::OptionsDialog) {
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Настройки"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    setWindowModality(Qt::ApplicationModal);
    loadOptions();
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
    Database* db = Database::instance();
    auto value = [db](const char* name) { return db->variable(QLatin1String(name)); };
    // Set, not appended, so that loading again does not double the names.
    ui->plainTextEditOrgName_1->setPlainText(value(varOrgName1));
    ui->plainTextEditOrgName_2->setPlainText(value(varOrgName2));
    ui->lineEditCity->setText(value(varCity));
    ui->lineEditDate->setText(value(varDate));
    ui->lineEditBoss->setText(value(varBoss));
    ui->lineEditBoss_2->setText(value(varBoss2));
    ui->lineEditBoss_3->setText(value(varBoss3));
}

bool OptionsDialog::saveOptions() {
    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const QVector<QPair<const char*, QString>> values = {
        {varOrgName1, ui->plainTextEditOrgName_1->toPlainText()},
        {varOrgName2, ui->plainTextEditOrgName_2->toPlainText()},
        {varCity, ui->lineEditCity->text()},
        {varDate, now},
        {varBoss, ui->lineEditBoss->text()},
        {varBoss2, ui->lineEditBoss_2->text()},
        {varBoss3, ui->lineEditBoss_3->text()},
    };
    // All or nothing: half a set would print old and new signatories side by side. A savepoint
    // works whether or not a transaction is already open on the connection.
    const QString name = QLatin1String(savepoint);
    if (!runStatement(QStringLiteral("SAVEPOINT %1;").arg(name)))
        return false;
    Database* db = Database::instance();
    bool saved = true;
    for (const auto& value : values) {
        saved = db->setVariable(QLatin1String(value.first), value.second);
        if (!saved)
            break;
    }
    if (saved && runStatement(QStringLiteral("RELEASE %1;").arg(name))) {
        ui->lineEditDate->setText(now);
        return true;
    }
    runStatement(QStringLiteral("ROLLBACK TO %1;").arg(name));
    runStatement(QStringLiteral("RELEASE %1;").arg(name));
    MZ_LOG() << "organisation data not saved";
    return false;
}

void OptionsDialog::on_pushButtonSave_clicked() {
    // The main window already shows failures of the file itself; others are told here.
    bool announced = false;
    const QMetaObject::Connection watch =
        connect(Database::instance(), &Database::writeFailed, this, [&announced] { announced = true; });
    const bool saved = saveOptions();
    disconnect(watch);
    if (!saved) {
        // The dialog stays open, so that what was typed is not lost.
        if (!announced)
            MessageBox::critical(this, QStringLiteral("Ошибка"),
                                 QStringLiteral("Не удалось сохранить данные организации."));
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
