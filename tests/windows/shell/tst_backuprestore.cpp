#include "database.h"
#include "documentstable.h"
#include "filedialog.h"
#include "guifixture.h"
#include "mainwindow.h"
#include "registrybackup.h"
#include "scratchfilesystem.h"
#include "testregistry.h"

#include <QAbstractItemModel>
#include <QRegularExpression>
#include <QtTest>

namespace {
void addDocuments(int count) {
    for (int i = 0; i < count; ++i)
        insertRow(QStringLiteral("ProfDocuments"), {{"isTemplate", 0}, {"fio1", QStringLiteral("Фамилия%1").arg(i)}});
}

void writeFile(const QString& path, const QByteArray& bytes, qint64 size = -1) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
    if (size >= 0)
        QVERIFY(file.resize(size));
}

const QString question = QStringLiteral("Вновь загруженная база полностью заменит собой существующую. Продолжить?");
} // namespace

// The window's backup and restore: what is asked, what is said, and what becomes of the registry.
class TestBackupRestore : public QObject {
    Q_OBJECT

private slots:
    // A file that cannot become the registry is refused before the question, in Russian words with
    // SQLite's text on a line of its own; the registry stays as it was.
    void restoreRefused_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("partial registry") << "partial";
        QTest::newRow("2 GB sparse file") << "sparse";
        QTest::newRow("damaged registry") << "damaged";
    }
    void restoreRefused() {
        QFETCH(QString, kind);
        GuiFixture f;
        addDocuments(3);
        const QString candidate = f.env().root() + QStringLiteral("/candidate.db");
        if (kind == QLatin1String("partial")) {
            QCOMPARE(execOnFile(candidate, {"CREATE TABLE ProfDocuments (profId INTEGER PRIMARY KEY, fio1 TEXT)",
                                            "INSERT INTO ProfDocuments VALUES (1, 'Чужой')"}),
                     QString());
        } else if (kind == QLatin1String("sparse")) {
            writeFile(candidate, QByteArray(), 2LL << 30);
        } else {
            QVERIFY(RegistryBackup(*f.db()).backup(candidate));
            QByteArray bytes = readFileBytes(candidate);
            for (int i = 4096; i < bytes.size(); ++i)
                bytes[i] = 'x';
            writeFile(candidate, bytes);
        }
        auto* window = f.build<MainWindow>();
        QTRY_COMPARE(window->documentsTable()->model()->rowCount(), 3);
        FileDialog::setNextFileName(candidate);
        f.answerNextBox(QMessageBox::Yes);
        QVERIFY(f.trigger(QStringLiteral("actionLoadDb")));

        QCOMPARE(MessageBox::shown().size(), 1);
        const MessageBox::Shown box = MessageBox::lastShown();
        QCOMPARE(box.title, QStringLiteral("Ошибка"));
        QVERIFY2(box.text.startsWith(QStringLiteral("Файл %1 нельзя загрузить: ").arg(candidate)),
                 qPrintable(box.text));
        QVERIFY(box.text.contains(QStringLiteral("\nТекущая база данных не изменена.")));
        QStringList lines = box.text.split(QLatin1Char('\n'));
        lines.first().remove(candidate);
        for (const QString& line : qAsConst(lines))
            if (!line.startsWith(QStringLiteral("Технические сведения: ")))
                QVERIFY2(!line.contains(QRegularExpression(QStringLiteral("[A-Za-z]"))), qPrintable(line));

        QCOMPARE(window->documentsTable()->model()->rowCount(), 3);
        QVERIFY(Database::instance()->setVariable(QStringLiteral("Data/City"), QStringLiteral("Тверь")));
        QCOMPARE(Database::instance()->variable(QStringLiteral("Data/City")), QStringLiteral("Тверь"));
        Database::instance()->commitAndClose();
        QCOMPARE(queryFile(f.db()->filePath(), QStringLiteral("SELECT COUNT(*) FROM ProfDocuments")),
                 (QList<QVariantList>{{3}}));
    }

    // A registry of an older version is asked about, brought into shape and shown at once.
    void restoreOlderRegistry() {
        GuiFixture f;
        addDocuments(2);
        const QString candidate = f.env().root() + QStringLiteral("/older.db");
        QCOMPARE(execOnFile(candidate,
                            {"CREATE TABLE 'Bosses' ('bossId' INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE NOT NULL, "
                             "'bossType' INTEGER NOT NULL, 'name' TEXT)",
                             "CREATE TABLE 'ProfDetails' ('detId' INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE NOT NULL, "
                             "'profId' INTEGER NOT NULL, 'name' TEXT, 'count' INTEGER, 'rate' TEXT)",
                             "CREATE TABLE 'ProfDocuments' ('profId' INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE NOT "
                             "NULL, 'isTemplate' INTEGER, 'fio1' TEXT, 'fio2' TEXT, 'fio3' TEXT)",
                             "CREATE TABLE 'ProfFrdo' ('profId' INTEGER PRIMARY KEY, 'docNumberOrig' INTEGER)",
                             "CREATE TABLE 'Variables' ('Name' TEXT PRIMARY KEY UNIQUE, 'Value' TEXT)",
                             "INSERT INTO ProfDocuments (isTemplate, fio1) VALUES (0, 'Первый'), (0, 'Второй'), "
                             "(0, 'Третий'), (0, 'Четвёртый')"}),
                 QString());
        auto* window = f.build<MainWindow>();
        QTRY_COMPARE(window->documentsTable()->model()->rowCount(), 2);
        FileDialog::setNextFileName(candidate);
        f.answerNextBox(QMessageBox::Yes);
        f.answerNextBox(QMessageBox::Ok);
        QVERIFY(f.trigger(QStringLiteral("actionLoadDb")));
        QCOMPARE(MessageBox::shown().size(), 2);
        QCOMPARE(MessageBox::shown().first().text, question);
        const MessageBox::Shown done = MessageBox::lastShown();
        QCOMPARE(done.text, QStringLiteral("Резервная копия успешно загружена."));
        QCOMPARE(done.title, QStringLiteral("Информация"));
        QCOMPARE(done.icon, QMessageBox::Information);
        QTRY_COMPARE(window->documentsTable()->model()->rowCount(), 4);
        QVERIFY(Database::instance()
                    ->execSql(QStringLiteral("INSERT INTO ProfFrdo (profId, docNumberOrig) VALUES (1, '000123')"))
                    .isActive());
        QSqlQuery stored = Database::instance()->execSql(QStringLiteral("SELECT docNumberOrig FROM ProfFrdo"));
        QVERIFY(stored.next());
        QCOMPARE(stored.value(0).toString(), QStringLiteral("000123"));
    }

    // A backup says how it went: success with the information icon, failure with its reason.
    void backupResult_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("written") << "written"
                                 << "Резервная копия успешно создана.";
        QTest::newRow("full disk") << "full disk"
                                   << "Не удалось сохранить резервную копию.\nНа диске нет места";
        QTest::newRow("read-only disk") << "read-only disk"
                                        << "Не удалось сохранить резервную копию.\nНет права на запись в папку ";
    }
    void backupResult() {
        QFETCH(QString, kind);
        QFETCH(QString, text);
        GuiFixture f;
        addDocuments(50);
        const QString folderPath = f.env().root() + QStringLiteral("/target");
        ScratchFileSystem folder(folderPath, 256 << 10);
        if (kind != QLatin1String("written") && !folder.isMounted())
            QSKIP("needs a file system of its own (root)");
        if (kind == QLatin1String("full disk"))
            QVERIFY(folder.fill(0));
        else if (kind == QLatin1String("read-only disk"))
            QVERIFY(folder.setReadOnly(true));
        f.build<MainWindow>();
        const QString target = folderPath + QStringLiteral("/copy.db");
        FileDialog::setNextFileName(target);
        f.answerNextBox(QMessageBox::Ok);
        QVERIFY(f.trigger(QStringLiteral("actionSaveDb")));
        const MessageBox::Shown box = MessageBox::lastShown();
        QVERIFY2(box.text.startsWith(text), qPrintable(box.text));
        QCOMPARE(QFileInfo::exists(target), kind == QLatin1String("written"));
        if (kind == QLatin1String("written")) {
            QCOMPARE(box.icon, QMessageBox::Information);
            QCOMPARE(box.title, QStringLiteral("Информация"));
            QCOMPARE(queryFile(target, QStringLiteral("SELECT COUNT(*) FROM ProfDocuments")),
                     (QList<QVariantList>{{50}}));
        } else {
            QCOMPARE(box.title, QStringLiteral("Ошибка"));
        }
        QVERIFY(folder.setReadOnly(false));
    }
};

ORVANE_TEST(TestBackupRestore)
#include "tst_backuprestore.moc"
