#include "preferencesdialog.h"

#include "appkeys.h"
#include "ui_preferencesdialog.h"
#include "writeaccess.h"

#include "appsettings.h"
#include "database.h"
#include "datarelocation.h"
#include "filedialog.h"
#include "historyjournal.h"
#include "messagebox.h"
#include "mzlog.h"
#include "passwordkeyring.h"
#include "proxysettings.h"
#include "reportlist.h"
#include "serverconnection.h"
#include "servermovedialog.h"
#include "serversettings.h"
#include "settingsregistry.h"
#include "spellchecker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QSettings>

std::function<void(int)> PreferencesDialog::_exit;

namespace {
const QString attention = MessageBox::attentionTitle();
const QString errorTitle = MessageBox::errorTitle();

MessageBox::Button tell(const QString& text, MessageBox::Buttons buttons = QMessageBox::Ok) {
    return MessageBox::show(nullptr, QMessageBox::NoIcon, attention, text, buttons);
}

bool confirm(const QString& text) {
    return tell(text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

QStringList listed(const QStringList& names) {
    QStringList lines;
    for (const QString& name : names)
        lines << QStringLiteral("  ") + QDir::toNativeSeparators(name);
    return lines;
}

const QString restartNotice = QStringLiteral("Новые параметры базы данных вступят в силу после перезапуска программы.");

// What the settings keep of an address: no password unless it is to be remembered.
ServerAddress storedForm(ServerAddress address, bool remember) {
    if (!remember)
        address.password.clear();
    return address;
}

// A long list (years of backups, say) is cut so that the box still fits the screen.
QString listedShort(const QStringList& names) {
    constexpr int shown = 15;
    QStringList lines = listed(names.mid(0, shown));
    if (names.size() > shown)
        lines << QStringLiteral("  … и ещё %1").arg(names.size() - shown);
    return lines.join(QLatin1Char('\n'));
}

// What a transfer left where it was; empty when everything went.
QString shortfall(const DataRelocation::Outcome& outcome, bool move, const QString& oldFolder) {
    if (outcome.isComplete())
        return QString();
    const QString done = move ? QStringLiteral("перенесены") : QStringLiteral("скопированы");
    QString text = QStringLiteral("Каталог настроек изменён, но %1 не все файлы.").arg(done);
    if (!outcome.kept.isEmpty())
        text += QStringLiteral("\n\nНе %1: в новом каталоге по вашему выбору оставлены его собственные файлы:\n")
                    .arg(done) +
                listedShort(outcome.kept);
    if (!outcome.notRemoved.isEmpty())
        text += QStringLiteral("\n\nСкопированы в новый каталог, но не удалены из прежнего:\n") +
                listedShort(outcome.notRemoved);
    if (!outcome.notTransferred.isEmpty())
        text += QStringLiteral("\n\nНе %1 (такие файлы не переносятся), они остались в прежнем каталоге %2:\n")
                    .arg(done, QDir::toNativeSeparators(oldFolder)) +
                listedShort(outcome.notTransferred);
    return text + QStringLiteral("\n\nДля применения изменений программа будет закрыта.");
}
} // namespace

PreferencesDialog::PreferencesDialog(QWidget* parent) : QDialog(parent), ui(new Ui::PreferencesDialog) {
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Настройки программы"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    setWindowModality(Qt::ApplicationModal);

    connect(ui->checkBoxUseProxy, &QCheckBox::toggled, ui->groupBoxProxy, &QWidget::setEnabled);
    connect(ui->checkBoxSpellChecking, &QCheckBox::toggled, ui->groupBoxAddWord, &QWidget::setEnabled);
    connect(ui->radioButtonDbServer, &QRadioButton::toggled, ui->groupBoxDbServer, &QWidget::setEnabled);
    loadOptions();
    loadDatabaseChoice();
    // Moving the data folder moves the registry file; moving to a server copies the registry there;
    // dropping old history entries deletes them.
    WriteAccess::mark(
        {ui->pushButtonMoveData, ui->pushButtonCopyData, ui->pushButtonDbMove, ui->pushButtonDropHistory});

    const QString stored = SettingsRegistry::instance()->value(Keys::dataPath).toString();
    ui->lineEditDataPath->setText(stored);
    _currentDataPath = stored.isEmpty() ? AppSettings::defaultDataPath() : stored;
    ui->tabWidget->setCurrentIndex(0);
}

PreferencesDialog::~PreferencesDialog() = default;

void PreferencesDialog::setupProxy() {
    ProxySettings::apply();
}

void PreferencesDialog::setExitHandler(std::function<void(int)> handler) {
    _exit = std::move(handler);
}

void PreferencesDialog::saveOptions() {
    SettingsRegistry* settings = SettingsRegistry::instance();
    settings->setValue(Keys::proxyEnabled, ui->checkBoxUseProxy->isChecked());
    settings->setValue(Keys::proxyHostName, ui->lineEditHost->text().trimmed());
    settings->setValue(Keys::proxyPort, ui->spinBoxPort->value());
    settings->setValue(Keys::proxyUser, ui->lineEditUser->text());
    QString keyringProblem;
    if (ui->lineEditPass->text() != ProxySettings::password() &&
        !ProxySettings::setPassword(ui->lineEditPass->text(), &keyringProblem) && PasswordKeyring::available())
        MessageBox::warning(this, errorTitle,
                            QStringLiteral("Пароль прокси-сервера не сохранён, он действует до закрытия программы.\n") +
                                keyringProblem);
    settings->setValue(Keys::hideZeroInDate, ui->checkBoxHideZeroInDate->isChecked());
    settings->setValue(Keys::orderComboAlphabetically, ui->radioButtonSortAlphabetically->isChecked());
    settings->setValue(Keys::spellCheckerEnabled, ui->checkBoxSpellChecking->isChecked());
}

void PreferencesDialog::loadOptions() {
    const SettingsRegistry* settings = SettingsRegistry::instance();
    ui->checkBoxUseProxy->setChecked(settings->value(Keys::proxyEnabled).toBool());
    ui->lineEditHost->setText(settings->value(Keys::proxyHostName).toString());
    ui->spinBoxPort->setValue(settings->value(Keys::proxyPort).toInt());
    ui->lineEditUser->setText(settings->value(Keys::proxyUser).toString());
    ui->lineEditPass->setText(ProxySettings::password());
    QString noKeyring;
    if (!PasswordKeyring::available(&noKeyring))
        ui->lineEditPass->setToolTip(noKeyring + QStringLiteral("\nПароль действует до закрытия программы."));
    ui->groupBoxProxy->setEnabled(ui->checkBoxUseProxy->isChecked());

    ui->checkBoxHideZeroInDate->setChecked(settings->value(Keys::hideZeroInDate).toBool());
    const bool alphabetically = settings->value(Keys::orderComboAlphabetically).toBool();
    ui->radioButtonSortAlphabetically->setChecked(alphabetically);
    ui->radioButtonSortByCount->setChecked(!alphabetically);

    ui->checkBoxSpellChecking->setChecked(settings->value(Keys::spellCheckerEnabled).toBool());
    ui->groupBoxAddWord->setEnabled(ui->checkBoxSpellChecking->isChecked());
    if (!SpellChecker::instance()) {
        ui->groupBoxAddWord->setEnabled(false);
        ui->checkBoxSpellChecking->setEnabled(false);
        ui->labelSpellCheckerState->setText(
            QStringLiteral("Не удалось найти словари для проверки орфографии, обновите или переустановите программу."));
        ui->labelSpellCheckerState->setStyleSheet(QStringLiteral("color: red;"));
    }
}

void PreferencesDialog::on_pushButtonSave_clicked() {
    if (ui->radioButtonDbServer->isChecked() &&
        !addressComplete(typedAddress(), QStringLiteral("Настройки не сохранены.")))
        return;
    saveOptions();
    setupProxy();
    emit updateOptions();
    if (!saveDatabaseChoice())
        return;
    hide();
    deleteLater();
}

void PreferencesDialog::on_pushButtonCancel_clicked() {
    deleteLater();
    hide();
}

void PreferencesDialog::on_pushButtonAddWord_clicked() {
    const QString word = ui->lineEditUserWord->text().trimmed();
    ui->lineEditUserWord->clear();
    // Blank words are refused by the checker: an empty line would end the word list early.
    if (SpellChecker* checker = SpellChecker::instance())
        checker->addToUserWordlist(word);
}

void PreferencesDialog::on_pushButtonBrowse_clicked() {
    const QString typed = ui->lineEditDataPath->text().trimmed();
    const QString folder = FileDialog::getExistingDirectory(this, QStringLiteral("Выберите каталог"),
                                                            typed.isEmpty() ? AppSettings::defaultDataPath() : typed);
    if (!folder.isEmpty())
        ui->lineEditDataPath->setText(folder);
}

void PreferencesDialog::on_pushButtonCopyData_clicked() {
    relocate(false);
}

void PreferencesDialog::on_pushButtonMoveData_clicked() {
    relocate(true);
}

void PreferencesDialog::on_pushButtonSetDataPath_clicked() {
    setDataFolder(targetFolder(), true);
}

void PreferencesDialog::on_pushButtonRestoreReports_clicked() {
    if (!confirm(QStringLiteral(
            "Вы уверены, что хотите безвозвратно заменить ваши текущие шаблоны на шаблоны по умолчанию?")))
        return;
    const QString reports = _currentDataPath + QStringLiteral("/reports/");
    QDir().mkpath(reports);
    const QString shipped = AppSettings::defaultDataPath() + QStringLiteral("/default_reports/");
    ReportList::build();
    QStringList missing;
    QStringList failed;
    for (const ReportList::ReportInfo& report : ReportList::reports()) {
        const QString name = report.fileName + QStringLiteral(".mzrpt");
        // Without its shipped counterpart the user's template is all there is: it stays.
        if (!QFileInfo(shipped + name).isFile())
            missing << name;
        else if (!DataRelocation::replaceWithCopy(shipped + name, reports + name))
            failed << name;
    }
    QString text = missing.size() + failed.size() < ReportList::reports().size()
                       ? QStringLiteral("Шаблоны восстановлены.")
                       : QStringLiteral("Шаблоны не восстановлены.");
    if (!missing.isEmpty())
        text += QStringLiteral("\n\nНе найдены шаблоны по умолчанию, ваши шаблоны оставлены без изменений:\n") +
                listed(missing).join(QLatin1Char('\n'));
    if (!failed.isEmpty())
        text += QStringLiteral("\n\nНе удалось заменить шаблоны, ваши шаблоны оставлены без изменений:\n") +
                listed(failed).join(QLatin1Char('\n'));
    tell(text);
}

QString PreferencesDialog::targetFolder() const {
    const QString typed = ui->lineEditDataPath->text().trimmed();
    return typed.isEmpty() ? AppSettings::defaultDataPath() : typed;
}

bool PreferencesDialog::checkFolder(const QString& target) {
    const DataRelocation relocation(_currentDataPath, target);
    switch (relocation.refusal()) {
    case DataRelocation::Refusal::SameFolder:
        tell(QStringLiteral("Настройки уже хранятся в указанном каталоге"));
        return false;
    case DataRelocation::Refusal::RelativePath:
    case DataRelocation::Refusal::NotAFolder:
        tell(QStringLiteral("Каталог введён некорректно."));
        return false;
    case DataRelocation::Refusal::None:
        break;
    }
    if (!relocation.targetExists()) {
        if (!confirm(QStringLiteral("Указаный каталог не существует!\nСоздать указанный каталог?")))
            return false;
        if (!relocation.createTarget()) {
            tell(QStringLiteral("Не удалось создать указанный каталог"));
            return false;
        }
    }
    if (!relocation.targetWritable()) {
        tell(QStringLiteral("У вас недостаточно прав для записы в выбранный каталог"));
        return false;
    }
    return true;
}

void PreferencesDialog::setDataFolder(const QString& target, bool ask, const QString& note) {
    if (ask) {
        if (!confirm(QStringLiteral("Вы уверены, что хотите место расположения данных, настроек и шаблонов бланков на "
                                    "каталог '%1?'")
                         .arg(target)))
            return;
        if (!checkFolder(target))
            return;
    }
    // The default folder is stored as no folder at all: it stays the default when that moves, and
    // the notice for relocated data folders does not apply to it.
    const bool isDefault =
        DataRelocation(AppSettings::defaultDataPath(), target).refusal() == DataRelocation::Refusal::SameFolder;
    SettingsRegistry::instance()->setValue(
        Keys::dataPath, isDefault ? QString() : QDir::cleanPath(QFileInfo(target).absoluteFilePath()));
    AppSettings::userSettings()->sync();
    QCoreApplication::processEvents();
    tell(note.isEmpty()
             ? QStringLiteral("Каталог настроек успешно изменён!\nДля применения изменений программа будет закрыта.")
             : note);
    endProgram();
}

void PreferencesDialog::relocate(bool move) {
    const QString target = targetFolder();
    if (!checkFolder(target))
        return;
    if (!confirm(QStringLiteral("Вы уверены, что хотите %1 файлы базы данных, настроек и шаблонов бланков в каталог "
                                "'%2?'")
                     .arg(move ? QStringLiteral("перенести") : QStringLiteral("скопировать"), target)))
        return;
    DataRelocation relocation(_currentDataPath, target);
    if (relocation.targetHasEntries() &&
        !confirm(QStringLiteral("Указаный каталог уже содержит файлы!\nНастоятельно рекомендуем %1 настройки в "
                                "пустой каталог\nПродолжить всё равно?")
                     .arg(move ? QStringLiteral("переносить") : QStringLiteral("копировать"))))
        return;
    QDir().mkpath(target + QStringLiteral("/reports"));

    // Nobody may write the database while it is copied.
    if (Database::hasInstance())
        Database::instance()->commitAndClose();
    const DataRelocation::Outcome outcome = relocation.transfer(move, [](const QString& file) {
        return confirm(QStringLiteral("Файл %1 уже существует.\nПерезаписать?").arg(QDir::toNativeSeparators(file)));
    });
    if (outcome.failed.isEmpty()) {
        setDataFolder(target, false, shortfall(outcome, move, _currentDataPath));
        return;
    }
    // The database was closed for the copy; the program restarts on the folder it had.
    MessageBox::show(nullptr, QMessageBox::NoIcon, errorTitle,
                     QStringLiteral("Не удалось %1 файлы:\n%2\nКаталог данных не изменён, все файлы остались на "
                                    "прежних местах.\nПрограмма будет закрыта.")
                         .arg(move ? QStringLiteral("перенести") : QStringLiteral("скопировать"),
                              listed(outcome.failed).join(QLatin1Char('\n'))));
    endProgram();
}

void PreferencesDialog::endProgram(const char* why) {
    MZ_LOG() << why;
    if (_exit)
        _exit(0);
    else
        QCoreApplication::exit(0);
}

void PreferencesDialog::loadDatabaseChoice() {
    _loadedServer = ServerSettings::usesServer();
    _loadedRemember = ServerSettings::remembersPassword();
    _loadedAddress = ServerSettings::address();
    ui->radioButtonDbServer->setChecked(_loadedServer);
    ui->radioButtonDbFile->setChecked(!_loadedServer);
    ui->groupBoxDbServer->setEnabled(_loadedServer);
    ui->lineEditDbHost->setText(_loadedAddress.host);
    ui->spinBoxDbPort->setValue(_loadedAddress.port > 0 ? _loadedAddress.port : 5432);
    ui->lineEditDbName->setText(_loadedAddress.database);
    ui->lineEditDbUser->setText(_loadedAddress.user);
    ui->lineEditDbPassword->setText(_loadedAddress.password);
    ui->checkBoxDbRememberPassword->setChecked(_loadedRemember);
    QString noKeyring;
    if (PasswordKeyring::available(&noKeyring)) {
        ui->labelDbPasswordNote->setText(QStringLiteral("Пароль хранится в хранилище паролей рабочего стола."));
        return;
    }
    // Nothing to remember it in: the box says why rather than keeping it anywhere else.
    _loadedRemember = false;
    ui->checkBoxDbRememberPassword->setChecked(false);
    ui->checkBoxDbRememberPassword->setEnabled(false);
    ui->checkBoxDbRememberPassword->setToolTip(noKeyring);
    ui->labelDbPasswordNote->setText(noKeyring);
}

ServerAddress PreferencesDialog::typedAddress() const {
    ServerAddress address;
    address.host = ui->lineEditDbHost->text().trimmed();
    address.port = ui->spinBoxDbPort->value();
    address.database = ui->lineEditDbName->text().trimmed();
    address.user = ui->lineEditDbUser->text().trimmed();
    address.password = ui->lineEditDbPassword->text();
    return address;
}

bool PreferencesDialog::addressComplete(const ServerAddress& address, const QString& consequence) {
    if (address.isComplete())
        return true;
    QString text = QStringLiteral("Адрес сервера указан не полностью: заполните поля «Сервер», «База данных» и "
                                  "«Пользователь».");
    if (!consequence.isEmpty())
        text += QLatin1Char('\n') + consequence;
    MessageBox::warning(this, errorTitle, text);
    return false;
}

bool PreferencesDialog::saveDatabaseChoice() {
    const bool server = ui->radioButtonDbServer->isChecked();
    const bool remember = ui->checkBoxDbRememberPassword->isEnabled() && ui->checkBoxDbRememberPassword->isChecked();
    const ServerAddress address = storedForm(typedAddress(), remember);
    const bool changed =
        server != _loadedServer ||
        (server && (!(address == storedForm(_loadedAddress, _loadedRemember)) || remember != _loadedRemember));
    if (!changed)
        return true;
    QString error;
    if (!(server ? ServerSettings::save(address, remember, &error) : ServerSettings::useFile())) {
        const QString fileText = QStringLiteral("Не удалось записать параметры базы данных в файл настроек. Программа "
                                                "продолжит работать с прежним реестром.");
        // A reason comes from the keyring, which refused the password before the file was touched.
        MessageBox::warning(this, errorTitle, error.isEmpty() ? fileText : error);
        return false;
    }
    MessageBox::information(this, MessageBox::attentionTitle(), restartNotice);
    return true;
}

void PreferencesDialog::on_pushButtonDbCheck_clicked() {
    const ServerAddress address = typedAddress();
    if (!addressComplete(address))
        return;
    ServerProblem problem = ServerProblem::None;
    QString text;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = ServerConnection::check(address, &problem, &text);
    QGuiApplication::restoreOverrideCursor();
    if (ok)
        MessageBox::information(this, QStringLiteral("Проверка подключения"), text);
    else
        MessageBox::warning(this, QStringLiteral("Проверка подключения"), text);
}

void PreferencesDialog::on_pushButtonDbMove_clicked() {
    if (Database::usesServer()) {
        MessageBox::information(this, MessageBox::attentionTitle(),
                                QStringLiteral("Программа уже работает с реестром на сервере %1. На сервер переносится "
                                               "реестр из файла на этом компьютере.")
                                    .arg(Database::serverAddress().displayText()));
        return;
    }
    const ServerAddress address = typedAddress();
    if (!addressComplete(address))
        return;
    ServerMoveDialog dialog(
        address, ui->checkBoxDbRememberPassword->isEnabled() && ui->checkBoxDbRememberPassword->isChecked(), this);
    // The dialog has stored the server's address: the frame starts the program again on it.
    if (dialog.exec() == QDialog::Accepted)
        endProgram("the registry's store changed to a server, the program ends");
}

namespace {
// "1 года", "2 лет", "21 года": after "старше".
QString olderThanYears(int years) {
    const bool one = years % 10 == 1 && years % 100 != 11;
    return QStringLiteral("%1 %2").arg(years).arg(one ? QStringLiteral("года") : QStringLiteral("лет"));
}
} // namespace

// Old entries go only after the count is seen and agreed to; the default answer keeps them.
void PreferencesDialog::on_pushButtonDropHistory_clicked() {
    const int years = ui->spinBoxHistoryYears->value();
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    qint64 count = 0;
    QString error;
    if (!HistoryJournal::countOlderThan(years, &count, &error)) {
        MessageBox::warning(this, MessageBox::errorTitle(),
                            QStringLiteral("Не удалось прочитать журнал изменений.\n%1").arg(error));
        return;
    }
    if (count == 0) {
        MessageBox::information(
            this, QStringLiteral("Информация"),
            QStringLiteral("В журнале изменений нет записей старше %1.").arg(olderThanYears(years)));
        return;
    }
    if (MessageBox::question(this, MessageBox::attentionTitle(),
                             QStringLiteral("Удалить из журнала изменений записи старше %1: %2?\nУдалённые записи "
                                            "вернуть нельзя.")
                                 .arg(olderThanYears(years), russian.toString(count)),
                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    qint64 dropped = 0;
    if (!HistoryJournal::dropOlderThan(years, &dropped, &error)) {
        MZ_LOG() << "old history entries not dropped:" << error;
        MessageBox::warning(
            this, MessageBox::errorTitle(),
            QStringLiteral("Записи журнала изменений не удалены, журнал остался прежним.\n%1").arg(error));
        return;
    }
    MessageBox::information(this, QStringLiteral("Информация"),
                            QStringLiteral("Из журнала изменений удалено записей: %1.").arg(russian.toString(dropped)));
}
