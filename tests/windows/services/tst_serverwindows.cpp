#include "additionaleditdialog.h"
#include "appkeys.h"
#include "appsettings.h"
#include "database.h"
#include "documenteditdialog.h"
#include "documentstable.h"
#include "documentstore.h"
#include "edittransaction.h"
#include "filedialog.h"
#include "frdodialog.h"
#include "guifixture.h"
#include "mainwindow.h"
#include "modalhelper.h"
#include "pgtestserver.h"
#include "preferencesdialog.h"
#include "profschema.h"
#include "registrybackup.h"
#include "registrymove.h"
#include "reportlist.h"
#include "serverlogin.h"
#include "servermovedialog.h"
#include "serverpassworddialog.h"
#include "serverschema.h"
#include "serversettings.h"
#include "settingsregistry.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QtTest>

namespace {
const QString restartNotice = QStringLiteral("Новые параметры базы данных вступят в силу после перезапуска программы.");
const QString movedText =
    QStringLiteral("Реестр перенесён на сервер. Программа будет закрыта. Запустите программу снова, "
                   "чтобы работать с реестром на сервере.");

PgTestServer* server() {
    QString error;
    PgTestServer* s = PgTestServer::shared(&error);
    if (!s)
        qWarning() << error;
    return s;
}

// An address on the test server; the database is left to the caller.
ServerAddress testAddress(const QString& database = QString()) {
    return server()->addressOf(database);
}

// One value of a statement run as the superuser on `database`.
QVariant serverValue(const QString& database, const QString& sql) {
    QVariant value;
    {
        QSqlDatabase db = server()->connect(QStringLiteral("probe"), database);
        QSqlQuery query = PgTestServer::run(db, sql);
        if (query.next())
            value = query.value(0);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("probe"));
    return value;
}

int serverTables(const QString& database) {
    return serverValue(database, QStringLiteral("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'")).toInt();
}

QStringList boxTexts() {
    QStringList texts;
    for (const MessageBox::Shown& box : MessageBox::shown())
        texts << box.text;
    return texts;
}

// The preferences dialog over a fresh data folder (open() builds it), its ending recorded.
class Preferences {
public:
    Preferences() {
        PreferencesDialog::setExitHandler([this](int code) { exitCodes << code; });
    }
    void open() { dialog = f.build<PreferencesDialog>(); }
    ~Preferences() { PreferencesDialog::setExitHandler({}); }
    template <typename T> T* w(const char* name) { return f.widget<T>(QLatin1String(name)); }
    void type(const ServerAddress& address, bool remember) {
        w<QRadioButton>("radioButtonDbServer")->setChecked(true);
        w<QLineEdit>("lineEditDbHost")->setText(address.host);
        w<QSpinBox>("spinBoxDbPort")->setValue(address.port);
        w<QLineEdit>("lineEditDbName")->setText(address.database);
        w<QLineEdit>("lineEditDbUser")->setText(address.user);
        w<QLineEdit>("lineEditDbPassword")->setText(address.password);
        w<QCheckBox>("checkBoxDbRememberPassword")->setChecked(remember);
    }
    ServerAddress shown() {
        return {w<QLineEdit>("lineEditDbHost")->text(), w<QSpinBox>("spinBoxDbPort")->value(),
                w<QLineEdit>("lineEditDbName")->text(), w<QLineEdit>("lineEditDbUser")->text(),
                w<QLineEdit>("lineEditDbPassword")->text()};
    }
    void click(const char* name) { w<QPushButton>(name)->click(); }

    GuiFixture f;
    PreferencesDialog* dialog = nullptr;
    QList<int> exitCodes;
};

const QString noKeyring = QStringLiteral("Хранилище паролей рабочего стола недоступно");

ServerAddress withoutPassword(ServerAddress address) {
    address.password.clear();
    return address;
}

const ServerAddress typed{QStringLiteral("реестр.школа"), 6543, QStringLiteral("registry"), QStringLiteral("иванов"),
                          QStringLiteral("секрет")};
} // namespace

class TestDatabaseTab : public QObject {
    Q_OBJECT

private slots:
    // What the tab shows of the stored choice, and what "Сохранить" keeps of the typed one.
    void loadsAndSaves_data() {
        QTest::addColumn<bool>("storedServer");
        QTest::addColumn<bool>("chooseServer");
        QTest::addColumn<bool>("remember");
        QTest::addColumn<bool>("notice");
        QTest::newRow("file stays file") << false << false << false << false;
        QTest::newRow("file to server, password remembered") << false << true << true << true;
        QTest::newRow("file to server, password not remembered") << false << true << false << true;
        QTest::newRow("server to file") << true << false << true << true;
        QTest::newRow("server kept as it was") << true << true << true << false;
    }
    void loadsAndSaves() {
        QFETCH(bool, storedServer);
        QFETCH(bool, chooseServer);
        QFETCH(bool, remember);
        QFETCH(bool, notice);
        Preferences p;
        // No keyring in these tests: a stored address comes without its password.
        if (storedServer)
            QVERIFY(ServerSettings::save(typed, false));
        p.open();
        // Nowhere to remember a password: the box is off and says why, and so does the line below it.
        const QCheckBox* rememberBox = p.w<QCheckBox>("checkBoxDbRememberPassword");
        QVERIFY(!rememberBox->isEnabled());
        QVERIFY(!rememberBox->isChecked());
        QVERIFY2(rememberBox->toolTip().startsWith(noKeyring), qPrintable(rememberBox->toolTip()));
        QCOMPARE(p.w<QLabel>("labelDbPasswordNote")->text(), rememberBox->toolTip());
        QCOMPARE(p.w<QRadioButton>("radioButtonDbServer")->isChecked(), storedServer);
        QCOMPARE(p.w<QGroupBox>("groupBoxDbServer")->isEnabled(), storedServer);
        if (storedServer)
            QCOMPARE(p.shown(), withoutPassword(typed));
        if (chooseServer)
            p.type(typed, remember);
        else
            p.w<QRadioButton>("radioButtonDbFile")->setChecked(true);
        QCOMPARE(p.w<QGroupBox>("groupBoxDbServer")->isEnabled(), chooseServer);

        p.click("pushButtonSave");
        QCOMPARE(boxTexts(), notice ? QStringList{restartNotice} : QStringList());
        QCOMPARE(ServerSettings::usesServer(), chooseServer);
        if (!chooseServer && !storedServer)
            return;
        QCOMPARE(ServerSettings::address(), withoutPassword(typed));
        // Not in the settings file at all, not even scrambled.
        QVERIFY(SettingsRegistry::instance()->value(Keys::databasePassword).toString().isEmpty());
    }

    void incompleteAddressRefused_data() {
        QTest::addColumn<QString>("field");
        QTest::newRow("no host") << "lineEditDbHost";
        QTest::newRow("no database") << "lineEditDbName";
        QTest::newRow("no user") << "lineEditDbUser";
    }
    void incompleteAddressRefused() {
        QFETCH(QString, field);
        Preferences p;
        p.open();
        p.type(typed, true);
        p.f.widget<QLineEdit>(field)->setText(QStringLiteral("  "));
        p.click("pushButtonSave");
        QCOMPARE(MessageBox::shown().size(), 1);
        QVERIFY2(MessageBox::lastShown().text.contains(QStringLiteral("не полностью")),
                 qPrintable(boxTexts().join("|")));
        QVERIFY(p.dialog->isVisible());
        QVERIFY(!ServerSettings::usesServer());
        QVERIFY(ServerSettings::address().host.isEmpty());
    }

    // A settings file that cannot be written: said so, no restart notice, the dialog stays.
    void failedSaveIsSaid() {
        Preferences p;
        p.open();
        const QString file = AppSettings::dataSettings()->fileName();
        QVERIFY(QFile::remove(file) || !QFile::exists(file));
        QVERIFY(QDir().mkpath(file));
        p.type(typed, false);
        p.click("pushButtonSave");
        const QStringList texts = boxTexts();
        QVERIFY(!texts.contains(restartNotice));
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts.first().startsWith(QStringLiteral("Не удалось записать параметры базы данных")),
                 qPrintable(texts.first()));
        QVERIFY(p.dialog->isVisible());
        QVERIFY(QDir(file).removeRecursively());
    }

    // "Проверить подключение" says in words what it found.
    void connectionCheck_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("database");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("text");
        QTest::newRow("reachable") << QString() << QString() << int(QMessageBox::Information)
                                   << "Подключение установлено.";
        QTest::newRow("missing database")
            << QString() << "нет_такой" << int(QMessageBox::Warning) << "На сервере нет базы данных «нет_такой»";
        QTest::newRow("wrong host") << "/nonexistent/socket" << QString() << int(QMessageBox::Warning)
                                    << "Сервер не найден или не отвечает";
    }
    void connectionCheck() {
        QFETCH(QString, host);
        QFETCH(QString, database);
        QFETCH(int, icon);
        QFETCH(QString, text);
        QVERIFY(server());
        ServerAddress address = testAddress(database.isEmpty() ? server()->createDatabase() : database);
        if (!host.isEmpty())
            address.host = host;
        Preferences p;
        p.open();
        p.type(address, false);
        p.click("pushButtonDbCheck");
        QCOMPARE(MessageBox::shown().size(), 1);
        QVERIFY2(MessageBox::lastShown().text.contains(text), qPrintable(MessageBox::lastShown().text));
        QCOMPARE(int(MessageBox::lastShown().icon), icon);
        QVERIFY(!ServerSettings::usesServer());
    }
};

class TestServerMove : public QObject {
    Q_OBJECT

    // Runs the move dialog from the preferences onto `address`; `act` runs on the open dialog
    // (after "Перенести" was clicked when `start`), which is closed afterwards if still open.
    void runMove(Preferences& p, const ServerAddress& address, const std::function<void(QWidget*)>& before,
                 const std::function<void(QWidget*)>& after) {
        p.open();
        p.type(address, true);
        bool done = false;
        p.f.whenModal([&](QWidget* dialog) {
            QCOMPARE(dialog->objectName(), QStringLiteral("ServerMoveDialog"));
            if (before)
                before(dialog);
            dialog->findChild<QPushButton*>("pushButtonMoveStart")->click();
            if (after)
                after(dialog);
            if (dialog->isVisible())
                dialog->findChild<QPushButton*>("pushButtonMoveClose")->click();
            done = true;
        });
        p.click("pushButtonDbMove");
        QTRY_VERIFY(done);
        QVERIFY(!QSqlDatabase::contains(ServerMoveDialog::connectionName()));
    }

private slots:
    void initTestCase() { QVERIFY(server()); }

    // Every row arrives, the counts agree, the program switches to the server and ends.
    void movesTheRegistry() {
        Preferences p;
        for (const char* name : {"Иванов", "Петров", "Сидоров"})
            QVERIFY(insertRow(QStringLiteral("ProfDocuments"), {{"fio1", QString::fromUtf8(name)}}) > 0);
        const ServerAddress address = testAddress(server()->createDatabase());
        QStringList counts;
        runMove(p, address, {}, [&](QWidget* dialog) {
            auto table = dialog->findChild<QTableWidget*>("tableWidgetCounts");
            for (int row = 0; row < table->rowCount(); ++row) {
                counts << table->item(row, 0)->text();
                QCOMPARE(table->item(row, 1)->text(), table->item(row, 2)->text());
            }
        });
        QVERIFY(counts.contains(QStringLiteral("ProfDocuments")));
        QCOMPARE(serverValue(address.database, "SELECT string_agg(fio1, ',' ORDER BY fio1) FROM profdocuments"),
                 QVariant(QStringLiteral("Иванов,Петров,Сидоров")));
        QCOMPARE(boxTexts(), QStringList{movedText});
        QVERIFY(ServerSettings::usesServer());
        QCOMPARE(ServerSettings::address(), address);
        QCOMPARE(p.exitCodes, QList<int>{0});
    }

    // A database with a registry is not copied into; the user may open it instead.
    void openExistingRegistry() {
        Preferences p;
        QVERIFY(insertRow(QStringLiteral("ProfDocuments"), {{"profId", 5}, {"fio1", QStringLiteral("Иванов")}}) > 0);
        const ServerAddress address = testAddress(server()->createDatabase());
        {
            QString error;
            QSqlDatabase db = server()->connect(QStringLiteral("maker"), address.database);
            QVERIFY2(ServerSchema::create(db, &error), qPrintable(error));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("maker"));
        QString status;
        bool offered = false;
        bool settingsKept = false;
        runMove(p, address, {}, [&](QWidget* dialog) {
            status = dialog->findChild<QLabel*>("labelMoveStatus")->text();
            auto open = dialog->findChild<QPushButton*>("pushButtonMoveOpen");
            offered = open->isVisible();
            settingsKept = !ServerSettings::usesServer() && p.exitCodes.isEmpty();
            open->click();
        });
        QVERIFY(status.endsWith(RegistryMove::alreadyThereText().mid(1)));
        QVERIFY(offered);
        QVERIFY(settingsKept);
        QCOMPARE(serverValue(address.database, "SELECT count(*) FROM profdocuments").toInt(), 0);
        QVERIFY(ServerSettings::usesServer());
        QCOMPARE(p.exitCodes, QList<int>{0});
    }

    // A move that fails or is cancelled leaves the server database empty and the settings alone.
    void failedMoveKeepsEverything_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("said");
        QTest::newRow("user may not create tables") << "norights"
                                                    << "сервер не создал таблицы реестра";
        QTest::newRow("no such database") << "nodatabase"
                                          << "На сервере нет базы данных";
        QTest::newRow("cancelled") << "cancel" << QString();
    }
    void failedMoveKeepsEverything() {
        QFETCH(QString, fault);
        QFETCH(QString, said);
        Preferences p;
        QVERIFY(insertRow(QStringLiteral("ProfDocuments"), {{"profId", 5}, {"fio1", QStringLiteral("Иванов")}}) > 0);
        ServerAddress address = testAddress(server()->createDatabase());
        const QString database = address.database;
        if (fault == "norights") {
            QVERIFY(server()->exec(QStringLiteral("postgres"),
                                   {"DO $$BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'clerk_b') THEN "
                                    "CREATE ROLE clerk_b LOGIN; END IF; END$$"}));
            QVERIFY(server()->exec(database, {"REVOKE CREATE ON SCHEMA public FROM PUBLIC"}));
            address.user = QStringLiteral("clerk_b");
        } else if (fault == "nodatabase") {
            address.database = QStringLiteral("нет_такой");
        }
        QString status;
        runMove(
            p, address,
            [&](QWidget* dialog) {
                if (fault != "cancel")
                    return;
                auto cancel = dialog->findChild<QPushButton*>("pushButtonMoveCancel");
                connect(dialog->findChild<QProgressBar*>("progressBarMove"), &QProgressBar::valueChanged, cancel,
                        &QPushButton::click);
            },
            [&](QWidget* dialog) { status = dialog->findChild<QLabel*>("labelMoveStatus")->text(); });
        if (said.isEmpty()) {
            QVERIFY2(status.startsWith(QStringLiteral("Перенос отменён")), qPrintable(status));
            QCOMPARE(MessageBox::shown().size(), 0);
        } else {
            QCOMPARE(MessageBox::shown().size(), 1);
            QVERIFY2(MessageBox::lastShown().text.contains(said, Qt::CaseInsensitive),
                     qPrintable(MessageBox::lastShown().text));
        }
        QCOMPARE(serverTables(database), 0);
        QVERIFY(!ServerSettings::usesServer());
        QVERIFY(ServerSettings::address().host.isEmpty());
        QVERIFY(p.exitCodes.isEmpty());
        QSqlQuery kept = runSql(QStringLiteral("SELECT count(*) FROM ProfDocuments"));
        QVERIFY(kept.next());
        QCOMPARE(kept.value(0).toInt(), 1);
    }
};

class TestServerPassword : public QObject {
    Q_OBJECT

private slots:
    void ask_data() {
        QTest::addColumn<QString>("problem");
        QTest::addColumn<bool>("remember");
        QTest::addColumn<bool>("ok");
        QTest::newRow("typed, remembered") << QString() << true << true;
        QTest::newRow("typed after a refusal, not remembered")
            << "Неверное имя пользователя или пароль." << false << true;
        QTest::newRow("cancelled") << QString() << true << false;
    }
    void ask() {
        QFETCH(QString, problem);
        QFETCH(bool, remember);
        QFETCH(bool, ok);
        ServerAddress address = typed;
        address.password.clear();
        bool remembered = !remember;
        QString prompt;
        bool problemShown = false;
        QString rememberTip;
        QString keyringLine;
        bool rememberEnabled = true;
        ModalHelper::whenModal([&](QWidget* dialog) {
            prompt = dialog->findChild<QLabel*>("labelPrompt")->text();
            problemShown = dialog->findChild<QLabel*>("labelProblem")->isVisible();
            const auto* box = dialog->findChild<QCheckBox*>("checkBoxRemember");
            rememberEnabled = box->isEnabled();
            rememberTip = box->toolTip();
            const auto* line = dialog->findChild<QLabel*>("labelKeyring");
            keyringLine = line->isVisible() ? line->text() : QString();
            dialog->findChild<QLineEdit*>("lineEditPassword")->setText(QStringLiteral("пароль 1"));
            dialog->findChild<QCheckBox*>("checkBoxRemember")->setChecked(remember);
            auto buttons = dialog->findChild<QDialogButtonBox*>("buttonBox");
            buttons->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
        });
        QCOMPARE(ServerPasswordDialog::ask(&address, &remembered, problem), ok);
        QCOMPARE(prompt,
                 QStringLiteral("Пароль пользователя иванов для базы данных registry на сервере реестр.школа:"));
        QCOMPARE(problemShown, !problem.isEmpty());
        QCOMPARE(address.password, ok ? QStringLiteral("пароль 1") : QString());
        // No keyring in these tests: whatever the box was made to show, nothing is remembered.
        QCOMPARE(remembered, ok ? false : !remember);
        QVERIFY(!rememberEnabled);
        QVERIFY2(rememberTip.startsWith(noKeyring), qPrintable(rememberTip));
        QCOMPARE(keyringLine, rememberTip);
    }
};

// The document dialog on a server registry whose used values are still being read: it shows at
// once, and the lists arrive later without touching what the clerk typed meanwhile.
class TestUsedValuesLater : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(server());
        Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
    }

    void typingKeptWhenListsArrive_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("comboName");
        QTest::newRow("document dialog") << "ProfDocuments"
                                         << "AttNumber"
                                         << "comboBoxAttNumber";
        QTest::newRow("FRDO dialog") << "ProfFrdo"
                                     << "Frdo14"
                                     << "comboBoxFrdo14";
    }
    void typingKeptWhenListsArrive() {
        QFETCH(QString, table);
        QFETCH(QString, column);
        QFETCH(QString, comboName);
        TestEnvironment env;
        AppSettings::setup();
        const QString database = server()->createDatabase();
        Database::shutdown();
        Database::useServer(testAddress(database));
        QVERIFY(Database::instance()->isValid());
        QVERIFY(PgTestServer::run(QSqlDatabase::database(), "INSERT INTO ProfDocuments (profId, attNumber) "
                                                            "VALUES (1, 'СВ 1')")
                    .isActive());
        QVERIFY(PgTestServer::run(QSqlDatabase::database(), "INSERT INTO ProfFrdo (profId, frdo14) VALUES (1, 'СВ 1')")
                    .isActive());
        QString error;
        QSqlDatabase other = server()->connect(QStringLiteral("locker"), database, &error);
        // Another program holds the table: the read in the background waits for it.
        QVERIFY(other.transaction());
        QVERIFY(
            PgTestServer::run(other, QStringLiteral("LOCK TABLE %1 IN ACCESS EXCLUSIVE MODE").arg(table)).isActive());
        DocumentStore::readUsedValuesAhead(table, {column});
        QVERIFY(DocumentStore::usedValuesComing(table, {column}));
        {
            // A new document's dialogs read nothing of the locked table.
            std::unique_ptr<QWidget> dialog;
            if (table == QLatin1String("ProfFrdo"))
                dialog = std::make_unique<FrdoDialog>();
            else
                dialog = std::make_unique<DocumentEditDialog>();
            dialog->show();
            auto* combo = dialog->findChild<QComboBox*>(comboName);
            QCOMPARE(combo->count(), 0);
            combo->setEditText(QStringLiteral("СВ 2"));
            combo->lineEdit()->setCursorPosition(2);
            QVERIFY(other.rollback());
            QTRY_VERIFY_WITH_TIMEOUT(!DocumentStore::usedValuesComing(table, {column}), 5000);
            QTRY_COMPARE(combo->count(), 1);
            QCOMPARE(combo->itemText(0), QStringLiteral("СВ 1"));
            QCOMPARE(combo->currentText(), QStringLiteral("СВ 2"));
            QCOMPARE(combo->lineEdit()->cursorPosition(), 2);
        }
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("locker"));
        Database::shutdown();
        Database::useFile(env.defaultDataFolder() + QStringLiteral("/unused.db"));
    }
};

// For its life the program's registry is the one of `database` on the test server: a fixture built
// meanwhile opens it (the registry is made there when the database is empty).
class OnServer {
public:
    explicit OnServer(const QString& database) {
        Database::shutdown();
        Database::useServer(testAddress(database));
    }
    ~OnServer() {
        Database::shutdown();
        Database::useDataFolderFile();
    }
};

// The server stopped for a scope, and back after it, also when a check fails.
class ServerDown {
public:
    ServerDown() { _stopped = server()->pause(); }
    ~ServerDown() { back(); }
    bool stopped() const { return _stopped; }
    bool back() { return server()->isRunning() || server()->resume(); }

private:
    bool _stopped = false;
};

qint64 topId(QTableView* table) {
    const QModelIndex top = table->indexAt(QPoint(0, 0));
    return top.sibling(top.row(), 0).data().toLongLong();
}

int documentCount() {
    QSqlQuery query = runSql(QStringLiteral("SELECT count(*) FROM ProfDocuments"));
    return query.next() ? query.value(0).toInt() : -1;
}

// Several clerks on one server, through the real windows.
class TestServerClerks : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(server());
        ReportList::build();
    }

    // Another program adds a document: a clerk at the very top sees it arrive there; a clerk who
    // scrolled down keeps the document he looked at.
    void refreshKeepsTheTopOnlyWhenScrolled_data() {
        QTest::addColumn<bool>("scrolled");
        QTest::newRow("at the very top") << false;
        QTest::newRow("scrolled down") << true;
    }
    void refreshKeepsTheTopOnlyWhenScrolled() {
        QFETCH(bool, scrolled);
        const QString database = server()->createDatabase();
        OnServer on(database);
        GuiFixture f;
        QVERIFY(server()->exec(database, {"INSERT INTO ProfDocuments (fio1) SELECT 'Документ ' || i FROM "
                                          "generate_series(1, 200) AS i"}));
        auto* window = f.build<MainWindow>();
        window->resize(1000, 700);
        DocumentsTable* table = window->documentsTable();
        table->updateData();
        QCOMPARE(table->model()->rowCount(), 200);
        if (scrolled)
            table->scrollTo(table->model()->index(50, 1), QAbstractItemView::PositionAtTop);
        const qint64 before = topId(table);
        QVERIFY(server()->exec(database, {"INSERT INTO ProfDocuments (fio1) VALUES ('Новый')"}));
        QTRY_COMPARE_WITH_TIMEOUT(table->model()->rowCount(), 201, 10000);
        if (scrolled) {
            QCOMPARE(topId(table), before);
        } else {
            QCOMPARE(topId(table), qint64(201));
            QCOMPARE(table->verticalScrollBar()->value(), table->verticalScrollBar()->minimum());
        }
    }

    // With the server down the start-up box tries again on Enter; "Открыть" works on the local file,
    // which the window says for the whole run, and the first write asks once (again after "Нет").
    void staleCopySaidAndAsked_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("asked");
        QTest::addColumn<int>("documents");
        QTest::newRow("written") << int(QMessageBox::Yes) << 1 << 3;
        QTest::newRow("not written") << int(QMessageBox::No) << 2 << 1;
    }
    void staleCopySaidAndAsked() {
        QFETCH(int, answer);
        QFETCH(int, asked);
        QFETCH(int, documents);
        GuiFixture f;
        QVERIFY(ServerSettings::save(testAddress(server()->createDatabase()), false));
        ServerAddress address;
        {
            ServerDown down;
            QVERIFY(down.stopped());
            f.answerNextBox(QMessageBox::Open);
            QCOMPARE(ServerLogin::connect(&address), ServerLogin::Outcome::File);
        }
        const MessageBox::Shown start = MessageBox::lastShown();
        QCOMPARE(start.defaultButton, QMessageBox::Retry);
        QVERIFY2(start.text.contains(QStringLiteral("«Повторить» — попробовать ещё раз, «Открыть»")),
                 qPrintable(start.text));
        QVERIFY2(start.text.contains(server()->socketFolder()), qPrintable(start.text));
        QVERIFY(start.labels.contains(qMakePair(QMessageBox::Retry, QStringLiteral("Повторить"))));
        QVERIFY(Database::isServerFallback());
        const auto fallbackOff = qScopeGuard([] { Database::setServerFallback(false); });

        insertRow(QStringLiteral("ProfDocuments"), {{"fio1", QStringLiteral("Иванов")}});
        auto* window = f.build<MainWindow>();
        QVERIFY2(window->windowTitle().endsWith(QStringLiteral(" — локальный файл — сервер недоступен")),
                 qPrintable(window->windowTitle()));
        window->statusBar()->showMessage(QStringLiteral("Файл сохранён")); // a passing note hides nothing
        QVERIFY(f.widget<QLabel>(QStringLiteral("labelServerFallback"))->isVisible());
        MessageBox::clearShown();
        DocumentsTable* table = window->documentsTable();
        for (int copy = 0; copy < 2; ++copy) {
            table->updateData();
            table->selectIds({1});
            if (answer == QMessageBox::No || copy == 0)
                f.answerNextBox(MessageBox::Button(answer));
            table->onCopyRecordAction();
        }
        int questions = 0;
        for (const MessageBox::Shown& box : MessageBox::shown())
            questions += box.text.endsWith(QStringLiteral("Записать изменения в этот файл?"));
        QCOMPARE(questions, asked);
        QCOMPARE(int(MessageBox::shown().first().defaultButton), int(QMessageBox::No));
        QCOMPARE(documentCount(), documents);
        if (answer == QMessageBox::No)
            QVERIFY2(MessageBox::lastShown().text.startsWith(QStringLiteral("Не удалось создать копию документа.\n"
                                                                            "Изменения не записаны")),
                     qPrintable(MessageBox::lastShown().text));
    }

    // A restore on a server replaces every clerk's registry: the question says so, with how many
    // other programs are connected (ours left out), and its default keeps the registry.
    void restoreOnServerSaysWhoElse() {
        const QString database = server()->createDatabase();
        OnServer on(database);
        GuiFixture f;
        f.build<MainWindow>();
        QVERIFY(server()->exec(database, {"INSERT INTO ProfDocuments (fio1) VALUES ('Иванов')"}));
        const QString backup = f.env().root() + QStringLiteral("/copy.db");
        QString error;
        QVERIFY2(RegistryBackup(*Database::instance()).backup(backup, &error), qPrintable(error));
        {
            QSqlDatabase other = server()->connect(QStringLiteral("another-clerk"), database, &error);
            QVERIFY2(other.isOpen(), qPrintable(error));
            FileDialog::setNextFileName(backup);
            f.answerNextBox(QMessageBox::No);
            QVERIFY(f.trigger(QStringLiteral("actionLoadDb")));
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("another-clerk"));
        const MessageBox::Shown question = MessageBox::lastShown();
        QCOMPARE(question.text,
                 QStringLiteral("Вновь загруженная база полностью заменит собой существующую. Продолжить?"));
        QVERIFY2(question.informativeText.endsWith(QStringLiteral("Сейчас к нему подключено других программ: 1.")),
                 qPrintable(question.informativeText));
        QCOMPARE(question.defaultButton, QMessageBox::No);
    }

    // A save while the server is down says so in Russian first, the server's words after, and the
    // typing stays in the window; an idle window is told within seconds, and again when it is back.
    void stoppedServer() {
        const QString database = server()->createDatabase();
        OnServer on(database);
        GuiFixture f;
        QVERIFY(server()->exec(database, {"INSERT INTO ProfDocuments (fio1) VALUES ('Иванов')"}));
        auto* window = f.build<MainWindow>();
        auto* dialog = new AdditionalEditDialog(window);
        dialog->setId(1);
        dialog->show();
        auto* typing = dialog->findChild<QPlainTextEdit*>(QStringLiteral("plainTextEdit"));
        typing->setPlainText(QStringLiteral("Сведения, набранные до остановки сервера"));
        dialog->setEdited();
        MessageBox::clearShown();
        ServerDown down;
        QVERIFY(down.stopped());
        dialog->findChild<QPushButton*>(QStringLiteral("pushButtonSave"))->click();
        QVERIFY(!MessageBox::shown().isEmpty());
        const QStringList lines = MessageBox::shown().first().text.split(QLatin1Char('\n'));
        QCOMPARE(lines.value(0), QStringLiteral("Не удалось сохранить приложение к свидетельству."));
        QVERIFY2(lines.value(1).startsWith(QStringLiteral("Нет связи с сервером реестра")),
                 qPrintable(lines.join('|')));
        QVERIFY2(lines.value(2).startsWith(QStringLiteral("Введённое остаётся в открытых окнах")),
                 qPrintable(lines.join('|')));
        QVERIFY(dialog->isVisible());
        QCOMPARE(typing->toPlainText(), QStringLiteral("Сведения, набранные до остановки сервера"));
        delete dialog;

        // The same loss is not told twice; a new one is, by the idle window.
        QVERIFY(down.back());
        QTRY_COMPARE_WITH_TIMEOUT(window->statusBar()->currentMessage(),
                                  QStringLiteral("Связь с сервером реестра восстановлена."), 15000);
        MessageBox::clearShown();
        ServerDown again;
        QVERIFY(again.stopped());
        QTRY_VERIFY_WITH_TIMEOUT(!MessageBox::shown().isEmpty(), 15000);
        QVERIFY2(MessageBox::lastShown().text.startsWith(QStringLiteral("Нет связи с сервером реестра")),
                 qPrintable(MessageBox::lastShown().text));
        QVERIFY(again.back());
    }
};

ORVANE_TEST(TestDatabaseTab)
ORVANE_TEST(TestServerClerks)
ORVANE_TEST(TestUsedValuesLater)
ORVANE_TEST(TestServerMove)
ORVANE_TEST(TestServerPassword)

#include "tst_serverwindows.moc"
