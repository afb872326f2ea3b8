// A run that may not write (a server login that may only read, a registry file on a read-only
// disk) gets a program that only reads: the title says so, every action that writes is disabled
// with the reason as its tooltip whatever the window enables later, the keys that write do
// nothing, and a document opens for viewing. A login that may write gets everything.
#include "appsettings.h"
#include "database.h"
#include "documenteditdialog.h"
#include "documentstable.h"
#include "journaldialog.h"
#include "mainwindow.h"
#include "messagebox.h"
#include "pgtestserver.h"
#include "preferencesdialog.h"
#include "registryroles.h"
#include "scratchfilesystem.h"
#include "testdatabase.h"
#include "testregistry.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

namespace {
const QString serverReader = QStringLiteral("server reader");
const QString serverEditor = QStringLiteral("server editor");
const QString readOnlyFile = QStringLiteral("read-only file");

const QStringList writingActions = {
    "actionCreateDoc",       "actionCopy",    "actionRemove",   "actionImport",     "actionLoadDb",
    "actionSettings",        "actionListAdd", "actionListCopy", "actionListDelete", "actionListFillFromTemplate",
    "actionListAutoFillFrdo"};
const QStringList readingActions = {"actionEdit",     "actionPrint",     "actionExport",
                                    "actionFrdo",     "actionSaveDb",    "actionStatistics",
                                    "actionListEdit", "actionListPrint", "actionListUpdate"};

// The program on one kind of store, its registry holding one document, its main window shown.
class StoreRun {
public:
    StoreRun(const QString& store, const ServerAddress& login) {
        MessageBox::clearShown();
        // The read-only file's warning at start is answered as a clerk would.
        MessageBox::setAutoAnswer(QMessageBox::Ok);
        if (store != readOnlyFile)
            Database::useServer(login);
        _data = std::make_unique<TestDatabase>();
        if (store == readOnlyFile && !makeReadOnlyFile())
            return;
        _data->open();
        if (!_data->db() || !_data->db()->isValid())
            return;
        _window = std::make_unique<MainWindow>();
        _window->show();
        _table = _window->documentsTable();
        QTRY_COMPARE(_table->model()->rowCount(), 1);
        _table->selectRow(0);
        // The start-up's warning about the file comes once the window shows.
        if (store == readOnlyFile)
            QTRY_COMPARE(MessageBox::shown().size(), 1);
    }
    ~StoreRun() {
        _window.reset(); // shuts the database down
        _data.reset();
        if (_folder)
            _folder->setReadOnly(false);
        _folder.reset();
        Database::useDataFolderFile();
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
        MessageBox::clearShown();
    }

    MainWindow* window() const { return _window.get(); }
    DocumentsTable* table() const { return _table; }
    QString skipped() const { return _skipped; }
    QString reason() const { return Database::instance()->readOnlyReason(); }

private:
    bool makeReadOnlyFile() {
        _folder = std::make_unique<ScratchFileSystem>(_data->env().defaultDataFolder(), 8 << 20);
        if (!_folder->canBeReadOnly()) {
            _skipped = QStringLiteral("no way to make a folder read-only for root without mounting");
            return false;
        }
        _data->open();
        runSql(QStringLiteral("INSERT INTO ProfDocuments (profId, fio1, attNumber) VALUES (1, 'Иванов', 'СВ 1')"));
        _data->close();
        return _folder->setReadOnly(true);
    }

    std::unique_ptr<TestDatabase> _data;
    std::unique_ptr<ScratchFileSystem> _folder;
    std::unique_ptr<MainWindow> _window;
    DocumentsTable* _table = nullptr;
    QString _skipped;
};
} // namespace

class TestReadOnlyWindows : public QObject {
    Q_OBJECT

    PgTestServer* _server = nullptr;
    QMap<QString, ServerAddress> _logins;

    ServerAddress loginFor(const QString& store) const { return _logins.value(store); }

    // The registry on the server, made by its owner, and a login of each kind.
    bool makeServerRegistry(QString* error) {
        const QString database = _server->createDatabase(error);
        {
            TestDatabase owner;
            Database::useServer(_server->addressOf(database));
            if (database.isEmpty() || !owner.open()->isValid())
                return false;
            runSql(QStringLiteral("INSERT INTO ProfDocuments (fio1, attNumber) VALUES ('Иванов', 'СВ 1')"));
        }
        Database::useDataFolderFile();
        using namespace RegistryRoles;
        _logins.insert(serverReader, addLogin(_server, database, QStringLiteral("ro_reader"), readerRights(), error));
        _logins.insert(serverEditor, addLogin(_server, database, QStringLiteral("ro_editor"), editorRights(), error));
        return _logins.value(serverReader).isComplete() && _logins.value(serverEditor).isComplete();
    }

    static void addStores() {
        for (const QString& store : {serverReader, readOnlyFile, serverEditor})
            QTest::newRow(qPrintable(store)) << store;
    }

private slots:
    void initTestCase() {
        setUpAsTheProgram();
        QString error;
        _server = PgTestServer::shared(&error);
        if (!_server)
            QSKIP(qPrintable(QStringLiteral("no test server: ") + error));
        QVERIFY2(makeServerRegistry(&error), qPrintable(error));
    }

    void actions_data() {
        QTest::addColumn<QString>("store");
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("writes");
        for (const QString& store : {serverReader, readOnlyFile, serverEditor}) {
            for (const QString& action : writingActions)
                QTest::newRow(qPrintable(store + QLatin1String(": ") + action)) << store << action << true;
            for (const QString& action : readingActions)
                QTest::newRow(qPrintable(store + QLatin1String(": ") + action)) << store << action << false;
        }
    }

    void actions() {
        QFETCH(QString, store);
        QFETCH(QString, action);
        QFETCH(bool, writes);
        StoreRun run(store, loginFor(store));
        if (!run.skipped().isEmpty())
            QSKIP(qPrintable(run.skipped()));
        QVERIFY(run.window());
        const bool readOnly = store != serverEditor;
        QCOMPARE(Database::instance()->isReadOnly(), readOnly);
        QCOMPARE(run.window()->windowTitle().endsWith(QStringLiteral(" — только чтение")), readOnly);

        // The list enables its menu for the row under the mouse, the window its tool bar for the
        // selection: neither brings a writing action back.
        const QRect row = run.table()->visualRect(run.table()->model()->index(0, 1));
        run.table()->provideContexMenu(row.center());
        auto* menu = run.table()->findChild<QMenu*>();
        QVERIFY(menu);
        menu->hide();
        run.window()->onUpdateIcons(1);

        auto* found = run.window()->findChild<QAction*>(action);
        QVERIFY2(found, qPrintable(action));
        const bool disabled = readOnly && writes;
        QCOMPARE(found->isEnabled(), !disabled);
        if (disabled)
            QCOMPARE(found->toolTip(), run.reason());
        else
            QVERIFY(found->toolTip() != run.reason());
    }

    // Enter opens the document to read it; Delete does nothing; the dialog shows the document
    // with every field closed to typing and its save disabled, and closes without a question.
    void documentForViewing_data() {
        QTest::addColumn<QString>("store");
        addStores();
    }

    void documentForViewing() {
        QFETCH(QString, store);
        StoreRun run(store, loginFor(store));
        if (!run.skipped().isEmpty())
            QSKIP(qPrintable(run.skipped()));
        QVERIFY(run.window());
        const bool readOnly = store != serverEditor;
        const int boxesAtStart = MessageBox::shown().size();

        if (readOnly) {
            QTest::keyClick(run.table(), Qt::Key_Delete);
            QCOMPARE(MessageBox::shown().size(), boxesAtStart);
            run.table()->updateData();
            QCOMPARE(run.table()->model()->rowCount(), 1);
        }

        QTest::keyClick(run.table(), Qt::Key_Return);
        QTRY_VERIFY(run.window()->editDialog() && run.window()->editDialog()->isVisible());
        DocumentEditDialog* dialog = run.window()->editDialog();
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("lineEditFio_1"));
        QCOMPARE(name->text(), QStringLiteral("Иванов"));
        QCOMPARE(name->isReadOnly(), readOnly);
        QCOMPARE(dialog->findChild<QPlainTextEdit*>(QStringLiteral("plainTextEditQual"))->isReadOnly(), readOnly);
        auto* number = dialog->findChild<QComboBox*>(QStringLiteral("comboBoxAttNumber"));
        QCOMPARE(number->testAttribute(Qt::WA_TransparentForMouseEvents), readOnly);
        auto* save = dialog->findChild<QPushButton*>(QStringLiteral("pushButtonSave"));
        QCOMPARE(save->isEnabled(), !readOnly);
        if (readOnly)
            QCOMPARE(save->toolTip(), run.reason());
        QVERIFY(dialog->findChild<QPushButton*>(QStringLiteral("pushButtonPrint"))->isEnabled());

        name->setFocus();
        name->end(false);
        QTest::keyClicks(name, QStringLiteral("x"));
        QCOMPARE(name->text(), readOnly ? QStringLiteral("Иванов") : QStringLiteral("Ивановx"));
        if (!readOnly)
            return;
        // A field that reports a change (a list filled in late) makes nothing to save.
        dialog->setEdited();
        QVERIFY(!dialog->isEdited());
        QPointer<DocumentEditDialog> gone = dialog;
        dialog->close();
        QTRY_VERIFY(!gone);
        QCOMPARE(MessageBox::shown().size(), boxesAtStart);
    }

    // The history's two writes, bringing a document back and dropping old entries, stay off with
    // the reason on a read-only run, whatever the window enables for the entry chosen.
    void historyWrites_data() {
        QTest::addColumn<QString>("store");
        addStores();
    }

    void historyWrites() {
        QFETCH(QString, store);
        StoreRun run(store, loginFor(store));
        if (!run.skipped().isEmpty())
            QSKIP(qPrintable(run.skipped()));
        QVERIFY(run.window());
        const bool readOnly = store != serverEditor;
        JournalDialog journal(run.window());
        auto* restore = journal.findChild<QPushButton*>(QStringLiteral("pushButtonRestore"));
        QVERIFY(restore);
        restore->setEnabled(true); // as for a deletion entry chosen
        QCOMPARE(restore->isEnabled(), !readOnly);
        if (readOnly)
            QCOMPARE(restore->toolTip(), run.reason());
        PreferencesDialog preferences(run.window());
        auto* drop = preferences.findChild<QPushButton*>(QStringLiteral("pushButtonDropHistory"));
        QVERIFY(drop);
        QCOMPARE(drop->isEnabled(), !readOnly);
        if (readOnly)
            QCOMPARE(drop->toolTip(), run.reason());
    }
};

ORVANE_TEST(TestReadOnlyWindows)
#include "tst_readonlywindows.moc"
