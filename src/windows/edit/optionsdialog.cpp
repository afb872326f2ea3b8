#include "optionsdialog.h"
#include "ui_optionsdialog.h"

#include "bossguidedialog.h"
#include "database.h"
#include "dialoggeometry.h"
#include "messagebox.h"
#include "mzlog.h"
#include "inputhelpers.h"

#include <QApplication>
#include <QDateTime>
#include <QPair>
#include <QSignalBlocker>
#include <QSqlError>
#include <QSqlQuery>
#include <QVector>
#include <sqlite3.h>

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

bool runStatement(const QString& sql, QString* reason = nullptr) {
    const QSqlQuery query = Database::instance()->execSql(sql);
    if (query.lastError().type() == QSqlError::NoError)
        return true;
    if (reason)
        *reason = query.lastError().databaseText().trimmed();
    return false;
}

// SQLite's word on the statement that failed last on the main connection.
QString lastReason() {
    sqlite3* handle = Database::sqliteHandle(QSqlDatabase::database());
    return handle ? QString::fromUtf8(sqlite3_errmsg(handle)) : QString();
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

bool OptionsDialog::saveOptions(QString* reason) {
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
    QString why;
    if (!runStatement(QStringLiteral("SAVEPOINT %1;").arg(name), &why)) {
        if (reason)
            *reason = why;
        return false;
    }
    Database* db = Database::instance();
    bool saved = true;
    for (const auto& value : values) {
        saved = db->setVariable(QLatin1String(value.first), value.second);
        if (!saved) {
            why = lastReason(); // before the rollback replaces it
            break;
        }
    }
    if (saved && runStatement(QStringLiteral("RELEASE %1;").arg(name), &why)) {
        ui->lineEditDate->setText(now);
        return true;
    }
    runStatement(QStringLiteral("ROLLBACK TO %1;").arg(name));
    runStatement(QStringLiteral("RELEASE %1;").arg(name));
    MZ_LOG() << "organisation data not saved" << why;
    if (reason)
        *reason = why;
    return false;
}

void OptionsDialog::on_pushButtonSave_clicked() {
    QString reason;
    bool saved = false;
    {
        // This dialog tells why; the main window's box would only repeat it.
        const QSignalBlocker quiet(Database::instance());
        saved = saveOptions(&reason);
    }
    if (!saved) {
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
