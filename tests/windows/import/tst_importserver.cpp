#include "appsettings.h"
#include "database.h"
#include "documentrecords.h"
#include "importdialog.h"
#include "importpreviewmodel.h"
#include "messagebox.h"
#include "pgtestserver.h"
#include "serveraddress.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QtTest>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace {
QString groupText(int rows) {
    QString text = QStringLiteral("Фамилия\tИмя\n");
    for (int row = 1; row <= rows; ++row)
        text += QStringLiteral("Фамилия%1\tИмя\n").arg(row);
    return text;
}

qint64 value(const QString& sql, const QVariantList& values = {}) {
    QSqlQuery query = PgTestServer::run(QSqlDatabase::database(), sql, values);
    return query.next() ? query.value(0).toLongLong() : -1;
}
} // namespace

// An import on a server registry while another clerk saves a document under one of its numbers:
// the import takes the number's lock as the clerk's save does and checks its numbers again inside
// its transaction, so the number is written once.
class TestImportOnServer : public QObject {
    Q_OBJECT

    PgTestServer* _server = nullptr;
    std::unique_ptr<TestEnvironment> _env;
    QString _database;

    ServerAddress address() const { return _server->addressOf(_database); }

private slots:
    void initTestCase() {
        setUpAsTheProgram();
        QString error;
        _server = PgTestServer::shared(&error);
        if (!_server)
            QSKIP(qPrintable(QStringLiteral("no test server: ") + error));
    }

    void init() {
        _env = std::make_unique<TestEnvironment>();
        AppSettings::setup();
        MessageBox::clearShown();
        // A box no test answers is closed, so that a failing test never waits for it.
        MessageBox::setAutoAnswer(QMessageBox::Cancel);
        _database = _server->createDatabase();
        QVERIFY(!_database.isEmpty());
        Database::useServer(address());
        QVERIFY(Database::instance()->isValid());
    }

    void cleanup() {
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
        Database::shutdown();
        Database::useFile(_env->defaultDataFolder() + QStringLiteral("/unused.db"));
        _env.reset();
    }

    void numberTakenMeanwhile_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("clerk");
        QTest::addColumn<QString>("message");
        const QString taken = QStringLiteral("Документы не импортированы: пока окно было открыто, в реестре сохранены "
                                             "документы с номерами: N-%1.");
        QTest::newRow("saved before the import") << 3 << "commits first" << taken.arg(3);
        QTest::newRow("saved while the import waits") << 3 << "commits while the import waits" << taken.arg(3);
        // More numbers than an import locks one by one: it locks the documents' table.
        QTest::newRow("large import waits") << 600 << "commits while the import waits" << taken.arg(600);
        QTest::newRow("the clerk's save does not end")
            << 3 << "never commits"
            << QStringLiteral("Документы не импортированы: Номер свидетельства сохраняет другой пользователь, "
                              "повторите сохранение позже.");
    }

    void numberTakenMeanwhile() {
        QFETCH(int, rows);
        QFETCH(QString, clerk);
        QFETCH(QString, message);
        ImportDialog dialog;
        dialog.show();
        dialog.findChild<QLineEdit*>(QStringLiteral("lineEditFirstAttNumber"))->setText(QStringLiteral("N-1"));
        QVERIFY(dialog.loadClipboardText(groupText(rows)));
        QCOMPARE(ImportPlan::problemCount(dialog.preview()->documentList()), 0);

        // The clerk's save of the import's last number, on a connection of its own.
        const QString number = QStringLiteral("N-%1").arg(rows);
        std::promise<void> claimed;
        std::promise<void> importEnded;
        std::thread clerkThread([&] {
            {
                QString error;
                QSqlDatabase db = _server->connect(QStringLiteral("clerk"), _database, &error);
                bool taken = false;
                db.transaction();
                DocumentRecords::claimAttNumber(db, number, 0, &taken, &error);
                PgTestServer::run(db, "INSERT INTO ProfDocuments (fio1, attNumber) VALUES ('Кузнецов', ?)", {number});
                if (clerk == "commits first") {
                    db.commit();
                    claimed.set_value();
                } else {
                    claimed.set_value();
                    if (clerk == "never commits") {
                        importEnded.get_future().wait();
                        db.rollback();
                    } else {
                        // Once the import waits for the clerk's locks, the clerk's save ends.
                        for (int i = 0; i < 1000; ++i) {
                            QSqlQuery waiting =
                                PgTestServer::run(db, "SELECT count(*) FROM pg_locks WHERE NOT granted");
                            if (waiting.next() && waiting.value(0).toInt() > 0)
                                break;
                            std::this_thread::sleep_for(std::chrono::milliseconds(10));
                        }
                        db.commit();
                    }
                }
                db.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("clerk"));
        });
        claimed.get_future().wait();
        dialog.findChild<QPushButton*>(QStringLiteral("pushButtonImport"))->click();
        importEnded.set_value();
        clerkThread.join();

        QVERIFY2(MessageBox::lastShown().text.startsWith(message), qPrintable(MessageBox::lastShown().text));
        QVERIFY(MessageBox::lastShown().text.endsWith(QStringLiteral("Реестр не изменён.")));
        QVERIFY(dialog.isVisible());
        const qint64 held = clerk == "never commits" ? 0 : 1;
        QCOMPARE(value(QStringLiteral("SELECT count(*) FROM ProfDocuments WHERE attNumber = ?"), {number}), held);
        QCOMPARE(value(QStringLiteral("SELECT count(*) FROM ProfDocuments")), held);
        if (held) {
            // The preview marks the number as one the registry holds.
            const ImportDocument& last = dialog.preview()->documentList().last();
            QVERIFY(last.hasProblem(ImportField::AttNumber));
            QCOMPARE(ImportPlan::problemCount(dialog.preview()->documentList()), 1);
        }
    }
};

ORVANE_TEST(TestImportOnServer)

#include "tst_importserver.moc"
