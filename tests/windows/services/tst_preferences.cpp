#include "appkeys.h"
#include "appsettings.h"
#include "datarelocation.h"
#include "guifixture.h"
#include "preferencesdialog.h"
#include "proxysettings.h"
#include "reportlist.h"
#include "scrambledtext.h"
#include "scratchfilesystem.h"
#include "settingsregistry.h"
#include "spellchecker.h"
#include "spellfixture.h"
#include "testregistry.h"

#include <QCheckBox>
#include <QDirIterator>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkProxy>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTextCodec>
#include <QtTest>

namespace {
const QString successText =
    QStringLiteral("Каталог настроек успешно изменён!\nДля применения изменений программа будет закрыта.");

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), qint64(content.size()));
}

QByteArray original(const QString& relative) {
    return "content of " + relative.toUtf8();
}

// Entries below `folder` whose names contain `part`.
QStringList leftovers(const QString& folder, const QString& part) {
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        if (it.next().contains(part))
            found << it.filePath();
    return found;
}

QString dataPathSetting() {
    return SettingsRegistry::instance()->value(Keys::dataPath).toString();
}

// The templates of the report types, by file name.
QStringList reportFileNames() {
    ReportList::build();
    QStringList names;
    for (const ReportList::ReportInfo& report : ReportList::reports())
        names << report.fileName + QStringLiteral(".mzrpt");
    return names;
}

// The files of a data folder besides the database and the data store: the shipped templates, the
// user's own (one in a folder of its own) and the dictionaries.
QStringList dataFiles() {
    QStringList files;
    for (const QString& name : reportFileNames())
        files << QStringLiteral("reports/") + name;
    return files << QStringLiteral("reports/мой шаблон.mzrpt") << QStringLiteral("reports/2019/бланк.mzrpt")
                 << QStringLiteral("dict/ru_RU.aff") << QStringLiteral("dict/ru_RU.dic");
}

// Shared options, as a next start reads them from the data store.
QVariantList sharedOptions() {
    const SettingsRegistry* s = SettingsRegistry::instance();
    return {s->value(Keys::hideZeroInDate), s->value(Keys::proxyHostName), s->value(Keys::orderComboAlphabetically)};
}
const QVariantList chosenOptions{true, QStringLiteral("прокси.школа"), true};

// The dialog over a fresh data folder that holds every file a relocation transfers (the database
// with one document, shared options in the data store), and an empty target folder beside it.
// The program's ending is recorded.
class Preferences {
public:
    Preferences() {
        PreferencesDialog::setExitHandler([this](int code) { exitCodes << code; });
        runSql(QStringLiteral("INSERT INTO ProfDocuments (profId, fio1) VALUES (5, 'Иванов')"));
        for (const QString& relative : dataFiles())
            writeFile(source + relative, original(relative));
        SettingsRegistry* s = SettingsRegistry::instance();
        s->setValue(Keys::hideZeroInDate, chosenOptions.at(0));
        s->setValue(Keys::proxyHostName, chosenOptions.at(1));
        s->setValue(Keys::orderComboAlphabetically, chosenOptions.at(2));
        QDir().mkpath(target);
    }
    ~Preferences() {
        PreferencesDialog::setExitHandler({});
        DataRelocation::setCopyFunction({});
    }
    PreferencesDialog* open() { return f.build<PreferencesDialog>(); }
    template <typename T> T* w(const char* name) { return f.widget<T>(QLatin1String(name)); }
    void click(const char* name) { w<QPushButton>(name)->click(); }
    void answer(const QList<int>& answers) {
        for (int a : answers)
            f.answerNextBox(MessageBox::Button(a));
    }
    QStringList texts() const {
        QStringList result;
        for (const MessageBox::Shown& box : MessageBox::shown())
            result << box.text;
        return result;
    }
    void verifySourcesIntact() {
        for (const QString& relative : dataFiles())
            QCOMPARE(readFileBytes(source + relative), original(relative));
        QCOMPARE(sharedOptions(), chosenOptions);
        // An open database is held exclusively: only its own connection may read it then.
        const QString sql = QStringLiteral("SELECT fio1 FROM ProfDocuments");
        QSqlQuery open = f.db()->execSql(sql);
        if (open.next())
            QCOMPARE(open.value(0).toString(), QStringLiteral("Иванов"));
        else
            QCOMPARE(queryFile(f.db()->filePath(), sql), QList<QVariantList>{{QStringLiteral("Иванов")}});
    }

    GuiFixture f;
    const QString source = AppSettings::dataPath() + QLatin1Char('/');
    const QString target = f.env().root() + QStringLiteral("/новая папка");
    QList<int> exitCodes;
};
// What the user sees of the stored options.
QVariantList shownOptions(Preferences& p) {
    return {p.w<QCheckBox>("checkBoxUseProxy")->isChecked(),
            p.w<QGroupBox>("groupBoxProxy")->isEnabled(),
            p.w<QLineEdit>("lineEditHost")->text(),
            p.w<QSpinBox>("spinBoxPort")->value(),
            p.w<QLineEdit>("lineEditUser")->text(),
            p.w<QLineEdit>("lineEditPass")->text(),
            p.w<QCheckBox>("checkBoxHideZeroInDate")->isChecked(),
            p.w<QRadioButton>("radioButtonSortAlphabetically")->isChecked(),
            p.w<QRadioButton>("radioButtonSortByCount")->isChecked(),
            p.w<QCheckBox>("checkBoxSpellChecking")->isChecked()};
}
} // namespace

class TestProxySettings : public QObject {
    Q_OBJECT

private slots:
    // The program runs with the Windows code page as its locale codec.
    void initTestCase() {
        _locale = QTextCodec::codecForLocale();
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("CP1251"));
    }
    void cleanupTestCase() { QTextCodec::setCodecForLocale(_locale); }

    void scramble_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("stored");
        // Byte i XORed with every key byte j plus i*j; "a": 0x61 ^ (xor of "lamplight42" = 0x68).
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("one byte") << QStringLiteral("a") << QStringLiteral("09");
        QTest::newRow("two bytes") << QStringLiteral("ab") << QStringLiteral("0911");
        QTest::newRow("word") << QStringLiteral("secret") << QStringLiteral("1b16ede709e3");
        QTest::newRow("longer than the key")
            << QStringLiteral("P@ssw0rd-2024!") << QStringLiteral("3833fde61ba73835bd49e6ffd08e");
        QTest::newRow("cyrillic, code page") << QStringLiteral("пароль") << QStringLiteral("87937e7b876b");
    }
    void scramble() {
        QFETCH(QString, password);
        QFETCH(QString, stored);
        QCOMPARE(ScrambledText::scramble(password), stored);
        QCOMPARE(ScrambledText::unscramble(stored), password);
    }

    void apply_data() {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("user");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("password");
        QTest::newRow("enabled with user")
            << true << QStringLiteral("иван") << int(QNetworkProxy::Socks5Proxy) << QStringLiteral("пароль");
        QTest::newRow("enabled, no user: no password")
            << true << QString() << int(QNetworkProxy::Socks5Proxy) << QString();
        QTest::newRow("disabled: no proxy at all")
            << false << QStringLiteral("иван") << int(QNetworkProxy::NoProxy) << QString();
    }
    void apply() {
        QFETCH(bool, enabled);
        QFETCH(QString, user);
        QFETCH(int, type);
        QFETCH(QString, password);
        TestEnvironment env;
        SettingsRegistry* settings = SettingsRegistry::instance();
        settings->setValue(Keys::proxyEnabled, enabled);
        settings->setValue(Keys::proxyHostName, QStringLiteral("proxy.example"));
        settings->setValue(Keys::proxyPort, 1080);
        settings->setValue(Keys::proxyUser, user);
        // No keyring in the tests: the password serves this run.
        ProxySettings::setPassword(QStringLiteral("пароль"), nullptr);
        auto forget = qScopeGuard([] { ProxySettings::setPassword(QString(), nullptr); });
        QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("stale"), 1));
        PreferencesDialog::setupProxy();
        const QNetworkProxy proxy = QNetworkProxy::applicationProxy();
        QCOMPARE(int(proxy.type()), type);
        if (enabled) {
            QCOMPARE(proxy.hostName(), QStringLiteral("proxy.example"));
            QCOMPARE(proxy.port(), quint16(1080));
            QCOMPARE(proxy.user(), user);
        }
        QCOMPARE(proxy.password(), password);
        QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    }

private:
    QTextCodec* _locale = nullptr;
};

class TestPreferencesDialog : public QObject {
    Q_OBJECT

private slots:
    void saveAndLoad_data() {
        QTest::addColumn<bool>("on");
        QTest::addColumn<bool>("save");
        QTest::newRow("everything on, saved") << true << true;
        QTest::newRow("everything off, saved") << false << true;
        QTest::newRow("everything on, cancelled") << true << false;
    }
    void saveAndLoad() {
        QFETCH(bool, on);
        QFETCH(bool, save);
        Preferences p;
        PreferencesDialog* dialog = p.open();
        QSignalSpy updated(dialog, &PreferencesDialog::updateOptions);
        const QVariantList defaults = shownOptions(p);
        const QString password = on ? QStringLiteral("тайна") : QString();
        p.w<QCheckBox>("checkBoxUseProxy")->setChecked(on);
        p.w<QLineEdit>("lineEditHost")->setText(QStringLiteral("10.0.0.1"));
        p.w<QSpinBox>("spinBoxPort")->setValue(3128);
        p.w<QLineEdit>("lineEditUser")->setText(QStringLiteral("user"));
        p.w<QLineEdit>("lineEditPass")->setText(password);
        p.w<QCheckBox>("checkBoxHideZeroInDate")->setChecked(on);
        p.w<QRadioButton>(on ? "radioButtonSortAlphabetically" : "radioButtonSortByCount")->setChecked(true);
        p.w<QCheckBox>("checkBoxSpellChecking")->setChecked(on);
        const QVariantList edited = shownOptions(p);
        QCOMPARE(p.w<QGroupBox>("groupBoxProxy")->isEnabled(), on);
        p.click(save ? "pushButtonSave" : "pushButtonCancel");
        QCOMPARE(updated.count(), int(save));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!p.f.window());

        if (save) {
            const SettingsRegistry* s = SettingsRegistry::instance();
            // Never in the settings file; without a keyring it serves this run only.
            QVERIFY(!s->value(Keys::proxyPassword).isValid() || s->value(Keys::proxyPassword).toString().isEmpty());
            QCOMPARE(ProxySettings::password(), password);
            QCOMPARE(s->value(Keys::hideZeroInDate).toBool(), on);
            QCOMPARE(s->value(Keys::orderComboAlphabetically).toBool(), on);
            QCOMPARE(s->value(Keys::spellCheckerEnabled).toBool(), on);
            QCOMPARE(int(QNetworkProxy::applicationProxy().type()),
                     int(on ? QNetworkProxy::Socks5Proxy : QNetworkProxy::NoProxy));
            QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        }
        p.open();
        QCOMPARE(shownOptions(p), save ? edited : defaults);
    }

    void spellChecking_data() {
        QTest::addColumn<bool>("dictionary");
        QTest::newRow("dictionary missing") << false;
        QTest::newRow("dictionary present") << true;
    }
    void spellChecking() {
        QFETCH(bool, dictionary);
        Preferences p;
        QDir(p.source + QStringLiteral("dict")).removeRecursively();
        if (dictionary)
            QVERIFY(installRussianDictionary() && SpellChecker::init());
        p.open();
        auto* label = p.w<QLabel>("labelSpellCheckerState");
        QCOMPARE(p.w<QCheckBox>("checkBoxSpellChecking")->isEnabled(), dictionary);
        QCOMPARE(p.w<QGroupBox>("groupBoxAddWord")->isEnabled(), dictionary);
        QCOMPARE(label->text(), dictionary
                                    ? QString()
                                    : QStringLiteral("Не удалось найти словари для проверки орфографии, обновите или "
                                                     "переустановите программу."));
        QCOMPARE(label->styleSheet(), dictionary ? QString() : QStringLiteral("color: red;"));
        if (dictionary) {
            p.w<QLineEdit>("lineEditUserWord")->setText(QStringLiteral("Орвейн"));
            p.click("pushButtonAddWord");
            QCOMPARE(p.w<QLineEdit>("lineEditUserWord")->text(), QString());
            QVERIFY(SpellChecker::instance()->spell(QStringLiteral("Орвейн")));
            QVERIFY(readFileBytes(SpellChecker::instance()->userDictionaryPath())
                        .contains(QTextCodec::codecForLocale()->fromUnicode(QStringLiteral("Орвейн"))));
            SpellChecker::release();
        }
    }

    void refused_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("target"); // "%src": the data folder, "%root": the test's folder
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QString>("message");
        const QString same = QStringLiteral("Настройки уже хранятся в указанном каталоге");
        const QString relative = QStringLiteral("Каталог введён некорректно.");
        const QString cannotCreate = QStringLiteral("Не удалось создать указанный каталог");
        const QString noRights = QStringLiteral("У вас недостаточно прав для записы в выбранный каталог");
        const QList<int> none;
        const QList<int> yes{QMessageBox::Yes};
        QTest::newRow("same folder") << "pushButtonMoveData"
                                     << "%src" << none << same;
        QTest::newRow("same, trailing separator") << "pushButtonCopyData"
                                                  << "%src/" << none << same;
        QTest::newRow("same, empty field") << "pushButtonMoveData"
                                           << "" << none << same;
        QTest::newRow("same, only change") << "pushButtonSetDataPath"
                                           << "%src//" << yes << same;
        QTest::newRow("relative") << "pushButtonMoveData"
                                  << "data" << none << relative;
        QTest::newRow("a file") << "pushButtonCopyData"
                                << "%src/reports/id130.mzrpt" << none << relative;
        QTest::newRow("under a file") << "pushButtonMoveData"
                                      << "%src/reports/id130.mzrpt/sub" << yes << cannotCreate;
        QTest::newRow("creation declined") << "pushButtonMoveData"
                                           << "%root/absent" << QList<int>{QMessageBox::No}
                                           << QStringLiteral("Указаный каталог не существует!\nСоздать указанный "
                                                             "каталог?");
        QTest::newRow("read-only medium") << "pushButtonMoveData"
                                          << "%readonly" << none << noRights;
        QTest::newRow("no folders allowed") << "pushButtonSetDataPath"
                                            << "/proc" << yes << noRights;
    }
    void refused() {
        QFETCH(QString, button);
        QFETCH(QString, target);
        QFETCH(QList<int>, answers);
        QFETCH(QString, message);
        Preferences p;
        std::unique_ptr<ScratchFileSystem> disk;
        if (target == QLatin1String("%readonly")) {
            target = p.f.env().root() + QStringLiteral("/disk");
            disk = std::make_unique<ScratchFileSystem>(target, 256 * 1024);
            if (!disk->canBeReadOnly() || !disk->setReadOnly(true))
                QSKIP("no read-only folder can be made here");
        }
        target.replace(QLatin1String("%src/"), p.source).replace(QLatin1String("%src"), AppSettings::dataPath());
        target.replace(QLatin1String("%root"), p.f.env().root());
        p.open();
        p.w<QLineEdit>("lineEditDataPath")->setText(target);
        p.answer(answers);
        p.click(button.toLatin1().constData());

        QCOMPARE(p.texts().last(), message);
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Внимание!"));
        QVERIFY(p.exitCodes.isEmpty());
        QCOMPARE(dataPathSetting(), QString());
        p.verifySourcesIntact();
        QVERIFY(p.f.db()->execSql(QStringLiteral("SELECT 1")).next()); // the database stays open
        if (QFileInfo(target).isDir())
            QCOMPARE(QDir(target).entryList({QStringLiteral("Temp*")}, QDir::AllEntries | QDir::NoDotAndDotDot),
                     QStringList());
    }

    void transfer_data() {
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("overwrite");
        QTest::addColumn<bool>("backup"); // a safety copy of the database lies in the data folder
        QTest::newRow("move, overwrite") << true << true << false;
        QTest::newRow("move, keep existing") << true << false << false;
        QTest::newRow("move, with a backup") << true << true << true;
        QTest::newRow("copy, overwrite") << false << true << false;
        QTest::newRow("copy, keep existing, with a backup") << false << false << true;
    }
    // Everything the question promises arrives: the database, every template (the user's own
    // too), the dictionaries and the shared options. What stays behind is named, never hidden
    // behind the success message.
    void transfer() {
        QFETCH(bool, move);
        QFETCH(bool, overwrite);
        QFETCH(bool, backup);
        Preferences p;
        const QString existing = QStringLiteral("reports/мой шаблон.mzrpt");
        writeFile(p.target + QLatin1Char('/') + existing, "old");
        const QString backupFile = QStringLiteral("Orvane_10-30_01-02-2024.bak");
        if (backup)
            writeFile(p.source + backupFile, "backup");
        // Installation data of the default folder: neither moved nor worth a word.
        const QString shipped = QStringLiteral("default_reports/id130.mzrpt");
        writeFile(p.source + shipped, "shipped");
        p.open();
        p.w<QLineEdit>("lineEditDataPath")->setText(p.target);
        p.answer({QMessageBox::Yes, QMessageBox::Yes, overwrite ? QMessageBox::Yes : QMessageBox::No});
        p.click(move ? "pushButtonMoveData" : "pushButtonCopyData");

        const QString verb = move ? QStringLiteral("перенести") : QStringLiteral("скопировать");
        const QString filesVerb = move ? QStringLiteral("переносить") : QStringLiteral("копировать");
        const QStringList texts = p.texts();
        QCOMPARE(
            texts.mid(0, 3),
            (QStringList{
                QStringLiteral("Вы уверены, что хотите %1 файлы базы данных, настроек и шаблонов "
                               "бланков в каталог '%2?'")
                    .arg(verb, p.target),
                QStringLiteral("Указаный каталог уже содержит файлы!\nНастоятельно рекомендуем %1 "
                               "настройки в пустой каталог\nПродолжить всё равно?")
                    .arg(filesVerb),
                QStringLiteral("Файл %1 уже существует.\nПерезаписать?").arg(p.target + QLatin1Char('/') + existing)}));
        QCOMPARE(texts.size(), 4);
        const QString last = texts.last();
        if (overwrite && !backup) {
            QCOMPARE(last, successText);
        } else {
            const QString done = move ? QStringLiteral("перенесены") : QStringLiteral("скопированы");
            QVERIFY2(last.startsWith(QStringLiteral("Каталог настроек изменён, но %1 не все файлы.").arg(done)),
                     qPrintable(last));
            QCOMPARE(last.contains(QStringLiteral("\n  ") + existing), !overwrite);
            QCOMPARE(last.contains(QStringLiteral("\n  ") + backupFile), backup);
            QVERIFY(!last.contains(shipped));
            QVERIFY(last.endsWith(QStringLiteral("\n\nДля применения изменений программа будет закрыта.")));
        }
        QCOMPARE(p.exitCodes, QList<int>{0});
        QCOMPARE(dataPathSetting(), p.target);
        for (const QString& relative : dataFiles()) {
            const bool kept = relative == existing && !overwrite;
            QCOMPARE(readFileBytes(p.target + QLatin1Char('/') + relative), kept ? "old" : original(relative));
            QCOMPARE(QFileInfo::exists(p.source + relative), !move || kept);
        }
        QVERIFY(QFileInfo::exists(p.source + backupFile) == backup && !QFileInfo::exists(p.target + '/' + backupFile));
        QVERIFY(QFileInfo::exists(p.source + shipped) && !QFileInfo::exists(p.target + '/' + shipped));
        QCOMPARE(queryFile(p.target + QStringLiteral("/Orvane.db"), QStringLiteral("SELECT fio1 FROM ProfDocuments")),
                 QList<QVariantList>{{QStringLiteral("Иванов")}});
        QCOMPARE(QFileInfo::exists(p.source + QStringLiteral("Orvane.db")), !move);
        QCOMPARE(leftovers(p.target, QStringLiteral(".orvane-")), QStringList());

        // The next start reads the shared options from the new folder, and nothing writes the old
        // data store back when this run ends.
        AppSettings::release();
        QCOMPARE(AppSettings::dataPath(), p.target);
        QCOMPARE(sharedOptions(), chosenOptions);
        QCOMPARE(QFileInfo::exists(p.source + QStringLiteral("settings.ini")), !move);
    }

    // A move whose old files cannot be removed (a read-only medium) still moves the data, but
    // says which files stayed behind.
    void oldFilesThatStayAreNamed() {
        Preferences p;
        ScratchFileSystem reports(p.source + QStringLiteral("reports"), 1024 * 1024);
        if (!reports.isMounted())
            QSKIP("no file system of its own can be mounted here");
        for (const QString& relative : dataFiles())
            if (relative.startsWith(QLatin1String("reports/")))
                writeFile(p.source + relative, original(relative));
        QVERIFY(reports.setReadOnly(true));
        p.open();
        p.w<QLineEdit>("lineEditDataPath")->setText(p.target);
        p.answer({QMessageBox::Yes});
        p.click("pushButtonMoveData");
        const QString last = p.texts().last();
        QVERIFY2(last.startsWith(QStringLiteral("Каталог настроек изменён, но перенесены не все файлы.\n\nСкопированы "
                                                "в новый каталог, но не удалены из прежнего:\n")),
                 qPrintable(last));
        QVERIFY(last.contains(QStringLiteral("\n  reports/мой шаблон.mzrpt")));
        QVERIFY(!last.contains(QStringLiteral("ru_RU.dic")));
        QCOMPARE(dataPathSetting(), p.target);
        for (const QString& relative : dataFiles())
            QCOMPARE(readFileBytes(p.target + QLatin1Char('/') + relative), original(relative));
        QVERIFY(reports.setReadOnly(false));
    }

    void failedTransferChangesNothing_data() {
        QTest::addColumn<bool>("move");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("failedFile");
        for (bool move : {true, false}) {
            const char* kind = move ? "move" : "copy";
            QTest::addRow("%s, database copy fails", kind) << move << "fails"
                                                           << "Orvane.db";
            QTest::addRow("%s, database copy damaged", kind) << move << "damaged"
                                                             << "Orvane.db";
            QTest::addRow("%s, dictionary target is a folder", kind) << move << "folder"
                                                                     << "dict/ru_RU.dic";
            QTest::addRow("%s, user template target is a folder", kind) << move << "folder"
                                                                        << "reports/мой шаблон.mzrpt";
            QTest::addRow("%s, settings target is a folder", kind) << move << "folder"
                                                                   << "settings.ini";
        }
    }
    void failedTransferChangesNothing() {
        QFETCH(bool, move);
        QFETCH(QString, failure);
        QFETCH(QString, failedFile);
        Preferences p;
        writeFile(p.target + QStringLiteral("/reports/id130.mzrpt"), "old");
        if (failure == QLatin1String("folder"))
            QDir().mkpath(p.target + QLatin1Char('/') + failedFile);
        DataRelocation::setCopyFunction([failure](const QString& from, const QString& to) {
            if (!from.endsWith(QLatin1String(".db")) || failure == QLatin1String("folder"))
                return QFile::copy(from, to);
            if (failure == QLatin1String("fails"))
                return false;
            QFile::copy(from, to);
            QFile copy(to);
            return copy.open(QIODevice::ReadWrite) && copy.write(QByteArray(100, 'x')) == 100;
        });
        p.open();
        p.w<QLineEdit>("lineEditDataPath")->setText(p.target);
        p.answer({QMessageBox::Yes, QMessageBox::Yes, QMessageBox::Yes, QMessageBox::Yes});
        p.click(move ? "pushButtonMoveData" : "pushButtonCopyData");

        QVERIFY2(p.texts().last().contains(QStringLiteral("\n  ") + failedFile), qPrintable(p.texts().last()));
        QVERIFY(p.texts().last().contains(QStringLiteral("Каталог данных не изменён")));
        QVERIFY(!p.texts().contains(successText));
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Ошибка"));
        QCOMPARE(dataPathSetting(), QString());
        p.verifySourcesIntact();
        QCOMPARE(readFileBytes(p.target + QStringLiteral("/reports/id130.mzrpt")), QByteArray("old"));
        if (failure == QLatin1String("folder"))
            QVERIFY(QFileInfo(p.target + QLatin1Char('/') + failedFile).isDir());
        const QStringList everything = dataFiles() + QStringList{"Orvane.db", "settings.ini"};
        for (const QString& relative : everything)
            if (relative != QLatin1String("reports/id130.mzrpt") && relative != failedFile)
                QVERIFY2(!QFileInfo::exists(p.target + QLatin1Char('/') + relative), qPrintable(relative));
        QCOMPARE(leftovers(p.target, QStringLiteral(".orvane-")), QStringList());
        // The database was closed for the copy: the program ends and starts again on the old folder.
        QCOMPARE(p.exitCodes, QList<int>{0});
    }

    void onlyChangeFolder_data() {
        QTest::addColumn<bool>("relocated"); // the program runs on a folder elsewhere
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<QString>("stored");
        QTest::newRow("new folder") << false << "%target" << true << "%target";
        QTest::newRow("new folder, trailing separator") << false << "%target/" << true << "%target";
        QTest::newRow("declined") << false << "%target" << false << "";
        QTest::newRow("back to the default: empty field") << true << "" << true << "";
    }
    void onlyChangeFolder() {
        QFETCH(bool, relocated);
        QFETCH(QString, field);
        QFETCH(bool, confirmed);
        QFETCH(QString, stored);
        Preferences p;
        field.replace(QLatin1String("%target"), p.target);
        stored.replace(QLatin1String("%target"), p.target);
        if (relocated)
            SettingsRegistry::instance()->setValue(Keys::dataPath, p.target);
        p.open();
        p.w<QLineEdit>("lineEditDataPath")->setText(field);
        p.answer({confirmed ? QMessageBox::Yes : QMessageBox::No});
        p.click("pushButtonSetDataPath");

        const QString shownTarget = field.isEmpty() ? AppSettings::defaultDataPath() : field;
        QCOMPARE(p.texts().first(), QStringLiteral("Вы уверены, что хотите место расположения данных, настроек и "
                                                   "шаблонов бланков на каталог '%1?'")
                                        .arg(shownTarget));
        QCOMPARE(p.texts().last() == successText, confirmed);
        QCOMPARE(p.exitCodes, confirmed ? QList<int>{0} : QList<int>{});
        QCOMPARE(dataPathSetting(), relocated && !confirmed ? p.target : stored);
        p.verifySourcesIntact();
    }

    void restoreTemplates_data() {
        QTest::addColumn<QStringList>("notShipped");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("message");
        QTest::newRow("all shipped") << QStringList() << int(QMessageBox::Yes)
                                     << QStringLiteral("Шаблоны восстановлены.");
        QTest::newRow("one not shipped")
            << QStringList{QStringLiteral("id145.mzrpt")} << int(QMessageBox::Yes)
            << QStringLiteral("Шаблоны восстановлены.\n\nНе найдены шаблоны по умолчанию, ваши шаблоны оставлены без "
                              "изменений:\n  id145.mzrpt");
        QTest::newRow("declined") << QStringList() << int(QMessageBox::No)
                                  << QStringLiteral("Вы уверены, что хотите безвозвратно заменить ваши текущие "
                                                    "шаблоны на шаблоны по умолчанию?");
    }
    void restoreTemplates() {
        QFETCH(QStringList, notShipped);
        QFETCH(int, answer);
        QFETCH(QString, message);
        Preferences p;
        const QString shipped = AppSettings::defaultDataPath() + QStringLiteral("/default_reports/");
        const QStringList names = reportFileNames();
        for (const QString& name : names)
            if (!notShipped.contains(name))
                writeFile(shipped + name, "shipped " + name.toUtf8());
        p.open();
        p.answer({answer});
        p.click("pushButtonRestoreReports");

        QCOMPARE(p.texts().last(), message);
        for (const QString& name : names) {
            const bool restored = answer == QMessageBox::Yes && !notShipped.contains(name);
            QCOMPARE(readFileBytes(p.source + QStringLiteral("reports/") + name),
                     restored ? "shipped " + name.toUtf8() : original(QStringLiteral("reports/") + name));
        }
        QCOMPARE(leftovers(p.source + QStringLiteral("reports"), QStringLiteral(".orvane-")), QStringList());
    }
};

ORVANE_TEST(TestProxySettings)
ORVANE_TEST(TestPreferencesDialog)

#include "tst_preferences.moc"
