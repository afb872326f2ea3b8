#include "appresources.h"
#include "database.h"
#include "fileschema.h"
#include "instanceguard.h"
#include "mainwindow.h"
#include "messagebox.h"
#include "registrybackup.h"
#include "scratchfilesystem.h"
#include "testdatabase.h"
#include "testregistry.h"
#include "usedvalues.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QtTest>

namespace {
QStringList expectedCreateStatements() {
    const QString docs = QStringLiteral(
        "'profId' INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE NOT NULL, 'isTemplate' INTEGER , 'isDuplicate' INTEGER , "
        "'isExcellent' INTEGER , 'fio1' TEXT , 'fio2' TEXT , 'fio3' TEXT , 'birthDate' TEXT , 'prevEducation' TEXT , "
        "'certificateType' INTEGER , 'profession' TEXT , 'qual' TEXT , 'protocolNumber' TEXT , 'protocolDate' TEXT , "
        "'regNumber' TEXT , 'issueDate' TEXT , 'comment' TEXT , 'editDate' TEXT , 'attNumber' TEXT , 'addInfo' TEXT , "
        "'showTotalCount' INTEGER , 'hideTotalCountInAdd' INTEGER , 'profProgName' TEXT , 'startDate' TEXT , "
        "'finishDate' TEXT ");
    const QString frdo = QStringLiteral(
        "'profId' INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE NOT NULL, 'sexIsMale' INTEGER , 'snils' TEXT , "
        "'studyPeriod' TEXT , 'docSerial' TEXT , 'docNumber' TEXT , 'RegNumberFrdo' TEXT , 'docName' TEXT , "
        "'docType' TEXT , 'educationLevel' TEXT , 'StateDuplicate' INTEGER , 'docNameOrig' TEXT , "
        "'issueDateOrig' TEXT , 'docSerialOrig' TEXT , 'docNumberOrig' TEXT , 'regNumberOrig' TEXT , "
        "'fio1orig' TEXT , 'fio2orig' TEXT , 'fio3orig' TEXT , 'studyCount' INTEGER , 'frdo13' TEXT , "
        "'frdo14' TEXT , 'frdo15' TEXT , 'frdo16' TEXT , 'frdo18' TEXT , 'frdo19' TEXT , 'frdo20' TEXT , "
        "'birthDateFrdo' TEXT , 'beginDate' TEXT , 'endDate' TEXT , 'issueDateFrdo' TEXT , 'frdo21' TEXT , "
        "'frdo22' TEXT , 'frdo23' TEXT , 'frdo24' TEXT ");
    // SQLite keeps the statement from the table name on, without "IF NOT EXISTS" and the semicolon.
    return {
        QStringLiteral("CREATE TABLE 'Bosses' ('bossId' INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE NOT NULL, "
                       "'bossType' INTEGER NOT NULL, 'name' TEXT )"),
        QStringLiteral("CREATE TABLE 'DocumentHistory' ('historyId' INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE NOT NULL, "
                       "'profId' INTEGER NOT NULL, 'changedAt' TEXT NOT NULL, 'kind' TEXT NOT NULL, 'login' TEXT , "
                       "'osUser' TEXT , 'host' TEXT , 'source' TEXT , 'docName' TEXT , 'attNumber' TEXT , "
                       "'changes' TEXT , 'snapshot' TEXT , 'xact' INTEGER )"),
        QStringLiteral("CREATE TABLE 'ProfDetails' ('detId' INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE NOT NULL, "
                       "'profId' INTEGER NOT NULL, 'name' TEXT , 'count' INTEGER , 'rate' TEXT )"),
        // The documents' number the list reads at the start, kept by triggers.
        QStringLiteral("CREATE TABLE ProfDocumentCount (documents INTEGER NOT NULL)"),
        QStringLiteral("CREATE TABLE 'ProfDocuments' (%1)").arg(docs),
        QStringLiteral("CREATE TABLE 'ProfFrdo' (%1)").arg(frdo),
        QStringLiteral("CREATE TABLE 'Variables' ('Name' TEXT PRIMARY KEY  UNIQUE, 'Value' TEXT )"),
    };
}

QList<QVariantList> rows(Database* db, const QString& sql) {
    QList<QVariantList> result;
    QSqlQuery query = db->execSql(sql);
    while (query.next()) {
        QVariantList row;
        for (int i = 0; i < query.record().count(); ++i)
            row << query.value(i);
        result << row;
    }
    return result;
}

// Rows as "a|b|NULL" texts, for comparisons that do not depend on the variant types.
QStringList asText(const QList<QVariantList>& rows) {
    QStringList lines;
    for (const QVariantList& row : rows) {
        QStringList cells;
        for (const QVariant& v : row)
            cells << (v.isNull() ? QStringLiteral("NULL") : v.toString());
        lines << cells.join(QLatin1Char('|'));
    }
    return lines;
}

QStringList backups(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*.bak")}, QDir::Files);
}

QStringList columnNames(const QString& path, const QString& table) {
    QStringList names;
    for (const QVariantList& row :
         queryFile(path, QStringLiteral("SELECT name FROM pragma_table_info('%1')").arg(table)))
        names << row.value(0).toString();
    return names;
}

// A table the check cannot repair: a NOT NULL column cannot be added to it.
QString writeUnrepairable(const QString& path, const QString& marker) {
    QFile::remove(path);
    return execOnFile(path, {QStringLiteral("CREATE TABLE 'ProfDetails' ('detId' INTEGER PRIMARY KEY, 'name' TEXT)"),
                             QStringLiteral("INSERT INTO ProfDetails VALUES (1, '%1')").arg(marker)});
}

// Every table as an older version made it: ProfFrdo with the numbers of the original as integers.
QStringList olderRegistry() {
    return {QStringLiteral("CREATE TABLE 'Bosses' ('bossId' INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE NOT NULL, "
                           "'bossType' INTEGER NOT NULL, 'name' TEXT)"),
            QStringLiteral("CREATE TABLE 'ProfDetails' ('detId' INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE NOT NULL, "
                           "'profId' INTEGER NOT NULL, 'name' TEXT, 'count' INTEGER, 'rate' TEXT)"),
            QStringLiteral("CREATE TABLE 'ProfDocuments' ('profId' INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE NOT NULL, "
                           "'isTemplate' INTEGER, 'fio1' TEXT, 'fio2' TEXT, 'fio3' TEXT, 'attNumber' TEXT)"),
            QStringLiteral("CREATE TABLE 'ProfFrdo' ('profId' INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE NOT NULL, "
                           "'StateDuplicate' INTEGER, 'docSerialOrig' INTEGER, 'docNumberOrig' INTEGER, "
                           "'regNumberOrig' INTEGER)"),
            QStringLiteral("CREATE TABLE 'Variables' ('Name' TEXT PRIMARY KEY UNIQUE, 'Value' TEXT)"),
            QStringLiteral("INSERT INTO ProfDocuments (profId, fio1) VALUES (1, 'Старый')"),
            QStringLiteral("INSERT INTO ProfFrdo VALUES (1, 1, '000123', 456, 'АБ-07')"),
            QStringLiteral("INSERT INTO ProfFrdo VALUES (2, 1, NULL, 0, 12.5)"),
            QStringLiteral("INSERT INTO Variables VALUES ('Data/City', 'Тверь')")};
}

void writeBytes(const QString& path, const QByteArray& bytes, qint64 size = -1) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
    if (size >= 0)
        QVERIFY(file.resize(size));
}

// Everything in a folder: names, sizes and permissions.
QStringList listing(const QString& folder) {
    QStringList entries;
    for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        entries << QStringLiteral("%1 %2 %3").arg(info.fileName()).arg(info.size()).arg(int(info.permissions()), 0, 16);
    return entries;
}

const QString oldDocuments = QStringLiteral(
    "CREATE TABLE 'ProfDocuments' ('profId' INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE NOT NULL, 'isTemplate' INTEGER, "
    "'fio1' TEXT, 'fio2' TEXT, 'fio3' TEXT, 'qual' TEXT, 'regNumber' TEXT, 'attNumber' TEXT)");
} // namespace

// The registry file as the program opens it: made, checked and migrated, refused with its start-up
// boxes when damaged or unavailable, backed up, restored and locked.
class TestRegistryFile : public QObject {
    Q_OBJECT

private slots:
    void init() {
        MessageBox::clearShown();
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
    }

    void newFileHasExactTables() {
        TestDatabase t;
        Database* db = t.open();
        QVERIFY(db->isValid());
        QStringList sql;
        for (const QVariantList& row :
             rows(db, QStringLiteral("SELECT sql FROM sqlite_master WHERE type='table' AND name != 'sqlite_sequence' "
                                     "ORDER BY name")))
            sql << row.value(0).toString();
        QCOMPARE(sql, expectedCreateStatements());
        QCOMPARE(rows(db, QStringLiteral("SELECT name FROM sqlite_master WHERE type='view' ORDER BY name")),
                 (QList<QVariantList>{{QStringLiteral("ViewProfDetails")}, {QStringLiteral("ViewProfDocuments")}}));
        QVERIFY(backups(t.env().defaultDataFolder()).isEmpty());
        QVERIFY(MessageBox::shown().isEmpty());

        // A second start finds nothing to change and leaves no backup either.
        t.open();
        QVERIFY(backups(t.env().defaultDataFolder()).isEmpty());
        QVERIFY(MessageBox::shown().isEmpty());
    }

    void registryQueries() {
        TestDatabase t;
        Database* db = t.open();
        QCOMPARE(db->mainTableName(), QStringLiteral("ProfDocuments"));
        QCOMPARE(db->additionalTableNames(), (QStringList{QStringLiteral("ProfDetails"), QStringLiteral("ProfFrdo")}));
        QCOMPARE(db->mainPrimaryKeyName(), QStringLiteral("profId"));
        QCOMPARE(db->columns(QStringLiteral("ProfDetails"), true), QStringLiteral("detId, profId, name, count, rate"));
        QCOMPARE(db->columns(QStringLiteral("ProfDetails"), false), QStringLiteral("name, count, rate"));
        QVERIFY(db->columns(QStringLiteral("ProfDocuments"), false)
                    .startsWith(QStringLiteral("isTemplate, isDuplicate, isExcellent, birthDate, prevEducation")));
        QVERIFY(!db->columns(QStringLiteral("ProfDocuments"), false).contains(QStringLiteral("regNumber")));
        QCOMPARE(db->columns(QStringLiteral("NoSuchTable"), true), QString());

        QSqlTableModel* model = db->tableModel(QStringLiteral("Bosses"));
        QCOMPARE(db->tableModel(QStringLiteral("Bosses")), model);
        QCOMPARE(model->tableName(), QStringLiteral("Bosses"));
    }

    void views() {
        TestDatabase t;
        Database* db = t.open();
        const QStringList inserts = {
            "INSERT INTO ProfDocuments (profId, isTemplate, fio1, fio2, fio3, qual) VALUES (1, 0, 'Иванов', 'Иван', "
            "'Иванович', 'Слесарь' || CHAR(10) || '3 разряд')",
            "INSERT INTO ProfDocuments (profId, isTemplate, fio1) VALUES (2, 1, 'Шаблон')",
            "INSERT INTO ProfDocuments (profId, fio1) VALUES (3, 'Петров')",
            "INSERT INTO ProfDocuments (profId, fio1, hideTotalCountInAdd) VALUES (4, 'Сидоров', 1)",
            "INSERT INTO ProfDetails (detId, profId, name, count, rate) VALUES (10, 1, 'Охрана труда', 8, 'зачёт')",
            "INSERT INTO ProfDetails (detId, profId, name, count, rate) VALUES (11, 1, 'Практика', NULL, '5')",
            "INSERT INTO ProfDetails (detId, profId, name, count, rate) VALUES (9, 1, 'Материаловедение', 16, '4')",
            "INSERT INTO ProfDetails (detId, profId, name, count, rate) VALUES (12, 4, 'Черчение', 4, '3')",
        };
        for (const QString& sql : inserts)
            QVERIFY(db->execSql(sql).lastError().text().trimmed().isEmpty());

        const QList<QVariantList> docs =
            rows(db, QStringLiteral("SELECT profId, fio, qual FROM ViewProfDocuments ORDER BY profId"));
        QCOMPARE(docs.size(), 3); // the template is hidden
        QCOMPARE(docs[0][1].toString(), QStringLiteral("Иванов Иван Иванович"));
        QCOMPARE(docs[0][2].toString(), QStringLiteral("Слесарь 3 разряд"));
        QCOMPARE(docs[1][1].toString(), QStringLiteral("Петров  ")); // NULL names keep their blanks
        QCOMPARE(docs[2][0].toInt(), 4);

        const QList<QVariantList> details = rows(db, QStringLiteral("SELECT * FROM ViewProfDetails"));
        const QList<QVariantList> expected = {
            {1, QStringLiteral("Материаловедение"), 16, QStringLiteral("4")},
            {1, QStringLiteral("Охрана труда"), 8, QStringLiteral("зачёт")},
            {1, QStringLiteral("Практика"), QVariant(), QStringLiteral("5")},
            {4, QStringLiteral("Черчение"), 4, QStringLiteral("3")},
            {1, QStringLiteral("ВСЕГО:"), 24, QString()},
        };
        QCOMPARE(details.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i)
            for (int c = 0; c < 4; ++c)
                QCOMPARE(details[i][c].toString(), expected[i][c].toString());
        QVERIFY(details[2][2].isNull());
    }

    void migrationOfOlderFile() {
        TestDatabase t;
        QCOMPARE(execOnFile(t.filePath(),
                            {oldDocuments,
                             "INSERT INTO ProfDocuments (fio1, fio2, qual, attNumber) VALUES ('Д''Артаньян', 'Шарль', "
                             "'Мушкетёр', '0001')",
                             "INSERT INTO ProfDocuments (fio1, attNumber) VALUES ('Портос', '0002')",
                             "CREATE TABLE 'ProfDetails' ('detId' INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE NOT NULL, "
                             "'profId' INTEGER NOT NULL, 'name' TEXT, 'count' TEXT, 'rate' TEXT, 'legacy' TEXT)",
                             "INSERT INTO ProfDetails VALUES (5, 1, 'Фехтование', '72', '5', 'x')",
                             "INSERT INTO ProfDetails VALUES (7, 1, 'Верховая езда', '36', '4', 'y')",
                             "CREATE TABLE tmp_table_ProfDetails (junk TEXT)",
                             "CREATE TABLE 'Bosses' ('bossId' INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE NOT NULL, "
                             "'bossType' INTEGER NOT NULL, 'name' TEXT, 'extra' TEXT)",
                             "INSERT INTO Bosses VALUES (1, 1, 'Тревиль', 'kept')"}),
                 QString());
        Database* db = t.open();
        QVERIFY(db->isValid());
        QVERIFY(MessageBox::shown().isEmpty());
        db->commitAndClose();

        const QStringList docColumns = columnNames(t.filePath(), QStringLiteral("ProfDocuments"));
        for (const char* added : {"profProgName", "startDate", "finishDate", "certificateType", "addInfo"})
            QVERIFY2(docColumns.contains(QLatin1String(added)), added);
        QCOMPARE(asText(queryFile(t.filePath(), QStringLiteral("SELECT profId, fio1, qual, attNumber, profProgName "
                                                               "FROM ProfDocuments ORDER BY profId"))),
                 (QStringList{"1|Д'Артаньян|Мушкетёр|0001|NULL", "2|Портос|NULL|0002|NULL"}));

        // The mistyped table was rebuilt: the rows and their keys kept, the count now an integer,
        // the unknown column gone with the rebuild, the leftover work table dropped.
        QCOMPARE(asText(queryFile(t.filePath(), QStringLiteral("SELECT detId, profId, name, count, typeof(count) "
                                                               "FROM ProfDetails ORDER BY detId"))),
                 (QStringList{"5|1|Фехтование|72|integer", "7|1|Верховая езда|36|integer"}));
        QCOMPARE(columnNames(t.filePath(), QStringLiteral("ProfDetails")),
                 (QStringList{"detId", "profId", "name", "count", "rate"}));
        QCOMPARE(queryFile(t.filePath(), QStringLiteral("SELECT pk FROM pragma_table_info('ProfDetails') WHERE "
                                                        "name='detId'")),
                 (QList<QVariantList>{{1}}));
        QVERIFY(queryFile(t.filePath(), QStringLiteral("SELECT name FROM sqlite_master WHERE name LIKE 'tmp_%'"))
                    .isEmpty());
        // A table without a wrong type keeps a column it does not know.
        QCOMPARE(queryFile(t.filePath(), QStringLiteral("SELECT extra FROM Bosses")),
                 (QList<QVariantList>{{QStringLiteral("kept")}}));
        QVERIFY(backups(t.env().defaultDataFolder()).isEmpty());
    }

    void unrepairableFile_data() {
        QTest::addColumn<int>("answer");
        QTest::newRow("OK replaces the file") << int(QMessageBox::Ok);
        QTest::newRow("Cancel ends the program") << int(QMessageBox::Cancel);
    }

    void unrepairableFile() {
        QFETCH(int, answer);
        TestDatabase t;
        // ProfDetails without profId: a NOT NULL column cannot be added to a table.
        QCOMPARE(execOnFile(t.filePath(), {"CREATE TABLE 'ProfDetails' ('detId' INTEGER PRIMARY KEY, 'name' TEXT)",
                                           "INSERT INTO ProfDetails VALUES (1, 'keep me')"}),
                 QString());
        const QByteArray original = readFileBytes(t.filePath());
        MessageBox::setNextAnswer(MessageBox::Button(answer));
        Database* db = t.open();

        const MessageBox::Shown box = MessageBox::lastShown();
        QCOMPARE(box.title, QStringLiteral("Внимание!"));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
        QCOMPARE(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QVERIFY2(box.text.startsWith(QStringLiteral("Неверный формат базы данных. Исправить не удалось.\nОшибка: "
                                                    "Database::createColumn: ")),
                 qPrintable(box.text));
        QVERIFY(box.text.endsWith(QStringLiteral("\nБудет создана пустая база данных верного формата взамен текущей")));
        const QStringList bak = backups(t.env().defaultDataFolder());
        QCOMPARE(bak.size(), 1);
        const QString backupPath = t.env().defaultDataFolder() + QLatin1Char('/') + bak.first();
        QVERIFY(box.text.contains(QStringLiteral(".\nБэкап сохранён:\n") + backupPath + QLatin1Char('\n')));
        QVERIFY(QRegularExpression(QStringLiteral("^Orvane_\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d{4}\\.bak$"))
                    .match(bak.first())
                    .hasMatch());
        QCOMPARE(readFileBytes(backupPath), original);

        if (answer == QMessageBox::Cancel) {
            QCOMPARE(t.exitCodes(), QList<int>{-1});
            QVERIFY(!db->isValid());
            return;
        }
        QVERIFY(t.exitCodes().isEmpty());
        QVERIFY(db->isValid());
        QCOMPARE(rows(db, QStringLiteral("SELECT COUNT(*) FROM ProfDetails")), (QList<QVariantList>{{0}}));
        QCOMPARE(rows(db, QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type='view'")),
                 (QList<QVariantList>{{2}}));
    }

    void damagedFiles_data() {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"random bytes", "truncated", "zero length", "directory", "read-only"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }

    void damagedFiles() {
        QFETCH(QString, kind);
        TestDatabase t;
        const QString path = t.filePath();
        // Build a good file first, with a row that must not get lost.
        t.open()->execSql(QStringLiteral("INSERT INTO Variables VALUES ('Data/City', 'Тверь')"));
        t.close();
        const QByteArray good = readFileBytes(path);
        QFile::remove(path);
        if (kind == QLatin1String("random bytes") || kind == QLatin1String("truncated")) {
            QByteArray bytes = kind == QLatin1String("truncated") ? good.left(good.size() / 3) : QByteArray();
            while (kind != QLatin1String("truncated") && bytes.size() < 20000)
                bytes.append(char(QRandomGenerator::global()->generate() & 0xff));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        } else if (kind == QLatin1String("zero length")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (kind == QLatin1String("directory")) {
            QVERIFY(QDir().mkpath(path));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(good);
            file.close();
            QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup);
        }

        for (int i = 0; i < 3; ++i)
            MessageBox::setNextAnswer(QMessageBox::Ok);
        Database* db = t.open();
        if (!db->isValid()) {
            // The designed end: a message and an exit code, never a crash.
            QVERIFY(!MessageBox::shown().isEmpty());
            QCOMPARE(t.exitCodes(), QList<int>{0});
            return;
        }
        QCOMPARE(rows(db, QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type='table' AND name IN "
                                         "('Bosses','ProfDetails','ProfDocuments','ProfFrdo','Variables')")),
                 (QList<QVariantList>{{5}}));
        if (kind == QLatin1String("read-only"))
            QCOMPARE(db->variable(QStringLiteral("Data/City")), QStringLiteral("Тверь"));
        if (!MessageBox::shown().isEmpty()) // replaced: the old content waits in the backup
            QCOMPARE(backups(t.env().defaultDataFolder()).size(), 1);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }

    // A file SQLite cannot use now is no damaged file: nothing is copied, replaced or asked about,
    // and the program ends with a box that says what is wrong.
    void unavailableFileIsLeftAlone_data() {
        QTest::addColumn<bool>("locked");
        QTest::addColumn<QString>("message");
        QTest::newRow("locked by another process") << true << QStringLiteral("База данных занята другой программой:\n");
        QTest::newRow("read-only, needs migration") << false << QStringLiteral("Нет права на запись в базу данных:\n");
    }

    void unavailableFileIsLeftAlone() {
        QFETCH(bool, locked);
        QFETCH(QString, message);
        TestDatabase t;
        ScratchFileSystem folder(t.env().defaultDataFolder(), 8 << 20);
        if (!locked && !folder.canBeReadOnly())
            QSKIP("no way to make a folder read-only for root without mounting");
        // An older file: the check would add columns to it.
        QCOMPARE(execOnFile(t.filePath(), {oldDocuments, "INSERT INTO ProfDocuments (fio1) VALUES ('Иванов')"}),
                 QString());
        const QByteArray original = readFileBytes(t.filePath());
        QProcess holder;
        if (locked) {
            holder.start(QStringLiteral("sqlite3"), {t.filePath()});
            holder.write("BEGIN EXCLUSIVE;\nSELECT 'held';\n");
            QVERIFY(holder.waitForReadyRead(10000));
        } else {
            QVERIFY(folder.setReadOnly(true));
        }

        MessageBox::setNextAnswer(QMessageBox::Ok);
        const Database* db = t.open();
        QVERIFY(!db->isValid());
        QCOMPARE(t.exitCodes(), QList<int>{1});
        QCOMPARE(MessageBox::shown().size(), 1);
        const MessageBox::Shown box = MessageBox::lastShown();
        QCOMPARE(box.title, QStringLiteral("Внимание!"));
        QVERIFY2(box.text.startsWith(message + t.filePath() + QLatin1Char('\n')), qPrintable(box.text));
        QVERIFY(box.text.endsWith(QStringLiteral("\nФайл базы данных не изменён. Программа будет закрыта.")));
        t.close();
        if (locked) {
            holder.write("SELECT 'still held';\n");
            QVERIFY(holder.waitForReadyRead(10000)); // the other program kept its lock and its file
            holder.closeWriteChannel();
            QVERIFY(holder.waitForFinished(10000));
        } else {
            QVERIFY(folder.setReadOnly(false));
        }
        QVERIFY(readFileBytes(t.filePath()) == original);
        QVERIFY(backups(t.env().defaultDataFolder()).isEmpty());
    }

    // The numbers of the original are text: a registry of an older version keeps its values
    // through the structure check, and leading zeros are kept from then on.
    void originalNumbersBecomeText() {
        TestDatabase t;
        QCOMPARE(execOnFile(t.filePath(), olderRegistry()), QString());
        Database* db = t.open();
        QVERIFY(db->isValid());
        QVERIFY(MessageBox::shown().isEmpty());
        QCOMPARE(asText(rows(db, QStringLiteral("SELECT docSerialOrig, typeof(docSerialOrig), docNumberOrig, "
                                                "regNumberOrig FROM ProfFrdo ORDER BY profId"))),
                 (QStringList{"123|text|456|АБ-07", "NULL|null|0|12.5"}));
        QSqlQuery update(QSqlDatabase::database());
        update.prepare(QStringLiteral("UPDATE ProfFrdo SET docSerialOrig = ?, docNumberOrig = ?, regNumberOrig = ? "
                                      "WHERE profId = 2"));
        for (const char* value : {"000123", "0042", "007"})
            update.addBindValue(QString::fromLatin1(value));
        QVERIFY(db->execPrepared(update));
        t.close();
        for (const char* column : {"docSerialOrig", "docNumberOrig", "regNumberOrig"})
            QCOMPARE(queryFile(t.filePath(), QStringLiteral("SELECT type FROM pragma_table_info('ProfFrdo') WHERE "
                                                            "name = '%1'")
                                                 .arg(QLatin1String(column))),
                     (QList<QVariantList>{{QStringLiteral("TEXT")}}));
        QCOMPARE(asText(queryFile(t.filePath(), QStringLiteral("SELECT docSerialOrig, docNumberOrig, regNumberOrig "
                                                               "FROM ProfFrdo WHERE profId = 2"))),
                 QStringList{"000123|0042|007"});
        QCOMPARE(queryFile(t.filePath(), QStringLiteral("SELECT Value FROM Variables")),
                 (QList<QVariantList>{{QStringLiteral("Тверь")}}));
    }

    // A full disk at start is reported as such: no missing permission, no read-only mode; a start
    // that has to migrate the file ends with the same words and leaves the file as it was.
    void fullDiskAtStart_data() {
        QTest::addColumn<bool>("needsMigration");
        QTest::newRow("current registry") << false;
        QTest::newRow("registry to migrate") << true;
    }
    void fullDiskAtStart() {
        QFETCH(bool, needsMigration);
        TestDatabase t;
        ScratchFileSystem folder(t.env().defaultDataFolder(), 4 << 20);
        if (!folder.isMounted())
            QSKIP("a full disk needs a file system of its own (root)");
        if (needsMigration)
            QCOMPARE(execOnFile(t.filePath(), olderRegistry()), QString());
        else
            t.open()->setVariable(QStringLiteral("Data/City"), QStringLiteral("Тверь"));
        t.close();
        const QByteArray before = readFileBytes(t.filePath());
        QVERIFY(folder.fill(0));

        MessageBox::setNextAnswer(QMessageBox::Ok);
        Database* db = t.open();
        if (needsMigration) {
            QVERIFY(!db->isValid());
            QCOMPARE(t.exitCodes(), QList<int>{1});
            QVERIFY2(MessageBox::lastShown().text.startsWith(QStringLiteral("На диске нет места для базы данных:\n")),
                     qPrintable(MessageBox::lastShown().text));
        } else {
            QVERIFY(db->isValid());
            QVERIFY(!db->isReadOnly());
            QVERIFY(MessageBox::shown().isEmpty());
            QVERIFY2(db->startWarning().startsWith(QStringLiteral("На диске нет места для базы данных:\n")),
                     qPrintable(db->startWarning()));
            QCOMPARE(db->variable(QStringLiteral("Data/City")), QStringLiteral("Тверь"));
        }
        QVERIFY(!MessageBox::lastShown().text.contains(QStringLiteral("Нет права")));
        t.close();
        QVERIFY(readFileBytes(t.filePath()) == before);
    }

    // Failed backups say why in the user's words and leave the target as it was; the database
    // goes on working.
    void backupFailures_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing folder") << "missing folder"
                                        << "Папка ";
        QTest::newRow("folder in the way") << "folder"
                                           << " — это папка, а не файл.";
        QTest::newRow("read-only file") << "read-only file"
                                        << " защищён от записи.";
        QTest::newRow("full disk") << "full disk"
                                   << "На диске нет места";
        QTest::newRow("read-only disk") << "read-only disk"
                                        << "Нет права на запись в папку ";
    }
    void backupFailures() {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        TestDatabase t;
        Database* db = t.open();
        db->setVariable(QStringLiteral("Data/City"), QStringLiteral("Тверь"));
        const QString folderPath = t.env().root() + QStringLiteral("/target");
        ScratchFileSystem folder(folderPath, 64 << 10);
        if (kind.contains(QLatin1String("disk")) && !folder.isMounted())
            QSKIP("needs a file system of its own (root)");
        QString target = folderPath + QStringLiteral("/copy.db");
        if (kind == QLatin1String("missing folder")) {
            target = folderPath + QStringLiteral("/missing/copy.db");
        } else if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(target));
        } else if (kind == QLatin1String("read-only file")) {
            writeBytes(target, "old copy");
            QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::ReadGroup));
        } else if (kind == QLatin1String("full disk")) {
            QVERIFY(folder.fill(0));
        } else {
            QVERIFY(folder.setReadOnly(true));
        }
        const QStringList before = listing(folderPath);
        QString error;
        QVERIFY(!RegistryBackup(*db).backup(target, &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(listing(folderPath), before);
        if (kind == QLatin1String("read-only file"))
            QCOMPARE(readFileBytes(target), QByteArray("old copy"));
        QVERIFY(folder.setReadOnly(false));
        QVERIFY(db->setVariable(QStringLiteral("Data/City"), QStringLiteral("Псков")));
        QCOMPARE(db->variable(QStringLiteral("Data/City")), QStringLiteral("Псков"));
    }

    // A file that cannot take the registry's place is refused from what it is, read in place and
    // never written; the registry stays open as it was and nothing is copied into the data folder.
    void restoreCandidates_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason"); // empty: accepted
        QTest::newRow("partial registry") << "partial"
                                          << "программы, в нём нет нужных таблиц или столбцов.\n"
                                             "Текущая база данных не изменена.\n"
                                             "Технические сведения: missing Bosses, ProfDetails, ProfFrdo";
        QTest::newRow("no column that may not be empty") << "unaddable"
                                                         << "ProfDetails.profId";
        QTest::newRow("2 GB sparse file") << "sparse"
                                          << "это не файл базы данных.";
        QTest::newRow("registry padded to 2 GB") << "padded"
                                                 << "его размер больше, чем база данных в нём";
        QTest::newRow("cut registry") << "cut"
                                      << "он обрезан";
        QTest::newRow("damaged page") << "damaged"
                                      << "он повреждён";
        QTest::newRow("empty file") << "empty"
                                    << "он пуст.";
        QTest::newRow("text file") << "text"
                                   << "это не файл базы данных.";
        QTest::newRow("the registry itself") << "itself"
                                             << "это и есть текущая база данных программы.";
        QTest::newRow("older registry") << "older"
                                        << "";
        QTest::newRow("backup") << "backup"
                                << "";
    }
    void restoreCandidates() {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        TestDatabase t;
        Database* db = t.open();
        db->setVariable(QStringLiteral("Data/City"), QStringLiteral("Тверь"));
        QVERIFY(db->execSql(QStringLiteral("INSERT INTO ProfDocuments (fio1) VALUES ('Текущий')")).isActive());
        QTemporaryDir dir;
        QString file = dir.filePath(QStringLiteral("candidate.db"));
        const QString backup = dir.filePath(QStringLiteral("backup.db"));
        QVERIFY(RegistryBackup(*db).backup(backup));
        db->setVariable(QStringLiteral("Data/City"), QStringLiteral("Псков"));
        const QByteArray good = readFileBytes(backup);
        if (kind == QLatin1String("partial")) {
            QCOMPARE(execOnFile(file, {"CREATE TABLE ProfDocuments (profId INTEGER PRIMARY KEY, fio1 TEXT)",
                                       "INSERT INTO ProfDocuments VALUES (1, 'Чужой')"}),
                     QString());
        } else if (kind == QLatin1String("unaddable")) {
            QStringList statements = olderRegistry();
            statements[1] = QStringLiteral("CREATE TABLE 'ProfDetails' ('detId' INTEGER PRIMARY KEY, 'name' TEXT)");
            QCOMPARE(execOnFile(file, statements), QString());
        } else if (kind == QLatin1String("sparse")) {
            writeBytes(file, QByteArray(), 2LL << 30);
        } else if (kind == QLatin1String("padded")) {
            writeBytes(file, good, 2LL << 30);
        } else if (kind == QLatin1String("cut")) {
            writeBytes(file, good.left(good.size() - 1024));
        } else if (kind == QLatin1String("damaged")) {
            QByteArray bytes = good;
            // The schema stays readable; every page after it is overwritten.
            for (int i = 4096; i < bytes.size(); ++i)
                bytes[i] = char(0xA5);
            writeBytes(file, bytes);
        } else if (kind == QLatin1String("empty")) {
            writeBytes(file, QByteArray());
        } else if (kind == QLatin1String("text")) {
            writeBytes(file, QByteArray("not a database\n").repeated(100));
        } else if (kind == QLatin1String("itself")) {
            file = t.filePath();
        } else if (kind == QLatin1String("older")) {
            QCOMPARE(execOnFile(file, olderRegistry()), QString());
        } else {
            file = backup;
        }
        const QByteArray candidate =
            kind == QLatin1String("itself") || QFileInfo(file).size() > (64 << 20) ? QByteArray() : readFileBytes(file);
        const QStringList dataFolder = listing(t.env().defaultDataFolder());

        QElapsedTimer timer;
        timer.start();
        QString error;
        const bool candidateAccepted = RegistryBackup(*db).isRestoreCandidate(file, &error);
        qDebug() << kind << "judged in" << timer.elapsed() << "ms";
        QCOMPARE(candidateAccepted, reason.isEmpty());
        if (!reason.isEmpty()) {
            QVERIFY2(error.startsWith(QStringLiteral("Файл %1 нельзя загрузить: ").arg(file)), qPrintable(error));
            QVERIFY2(error.contains(reason), qPrintable(error));
            QVERIFY(error.contains(QStringLiteral("\nТекущая база данных не изменена.")));
            QVERIFY(!RegistryBackup(*db).restore(file, &error));
            QVERIFY2(error.contains(reason), qPrintable(error));
            QCOMPARE(listing(t.env().defaultDataFolder()), dataFolder);
            QCOMPARE(db->variable(QStringLiteral("Data/City")), QStringLiteral("Псков"));
            QVERIFY(db->setVariable(QStringLiteral("Data/Date"), QStringLiteral("still writable")));
        } else {
            QVERIFY2(error.isEmpty(), qPrintable(error));
            QVERIFY2(RegistryBackup(*db).restore(file, &error), qPrintable(error));
            QCOMPARE(rows(db, QStringLiteral("SELECT COUNT(*) FROM ViewProfDocuments")), (QList<QVariantList>{{1}}));
            QCOMPARE(db->variable(QStringLiteral("Data/City")), QStringLiteral("Тверь"));
            // Brought into shape at once: every later save works.
            QVERIFY(db->execSql(QStringLiteral("INSERT INTO ProfFrdo (profId, docSerialOrig) VALUES (7, '0007')"))
                        .isActive());
            QCOMPARE(rows(db, QStringLiteral("SELECT docSerialOrig FROM ProfFrdo WHERE profId = 7")),
                     (QList<QVariantList>{{QStringLiteral("0007")}}));
            QVERIFY(db->setVariable(QStringLiteral("Data/Date"), QStringLiteral("written")));
        }
        if (!candidate.isEmpty())
            QVERIFY(readFileBytes(file) == candidate);
        QVERIFY(!QFileInfo::exists(RegistryBackup::restoreStagingPath()));
    }

    // The views script is a resource: missing, or failing on a file, it is an error, not a silent
    // return that leaves a registry without views.
    void viewsScriptFailures() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("tables.db"));
        QCOMPARE(execOnFile(file, {"CREATE TABLE ProfDocuments (profId INTEGER PRIMARY KEY, fio1 TEXT)"}), QString());
        bool made = true;
        const auto runOnFile = [&file, &made] {
            QString error;
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("views"));
                db.setDatabaseName(file);
                db.open();
                made = FileSchema::runViewsScript(db, false, &error);
                db.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("views"));
            return error;
        };
        Q_CLEANUP_RESOURCE(resources);
        const QString missing = runOnFile();
        initAppResources();
        QVERIFY(!made);
        QVERIFY2(missing.contains(QStringLiteral(":/views.sql")), qPrintable(missing));
        const QString failing = runOnFile();
        QVERIFY(!made);
        QVERIFY2(failing.contains(QStringLiteral("ProfDetails")), qPrintable(failing));
    }

    // Two starts within one minute: the backup that the first one announced is never replaced.
    void backupsAreNeverReplaced() {
        TestDatabase t;
        const QString folder = t.env().defaultDataFolder();
        QCOMPARE(writeUnrepairable(t.filePath(), QStringLiteral("первый")), QString());
        const QByteArray first = readFileBytes(t.filePath());
        MessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(t.open()->isValid());
        t.close();
        const QStringList afterFirst = backups(folder);
        QCOMPARE(afterFirst.size(), 1);
        const QString firstBackup = folder + QLatin1Char('/') + afterFirst.first();

        // The new file is healthy: the next start copies nothing and leaves the backup alone.
        QVERIFY(t.open()->isValid());
        t.close();
        QCOMPARE(backups(folder), afterFirst);
        QVERIFY(readFileBytes(firstBackup) == first);

        QCOMPARE(writeUnrepairable(t.filePath(), QStringLiteral("второй")), QString());
        const QByteArray second = readFileBytes(t.filePath());
        MessageBox::setNextAnswer(QMessageBox::Ok);
        t.open();
        t.close();
        QStringList both = backups(folder);
        QCOMPARE(both.size(), 2);
        QVERIFY(readFileBytes(firstBackup) == first);
        both.removeOne(afterFirst.first());
        QVERIFY(readFileBytes(folder + QLatin1Char('/') + both.first()) == second);
        QVERIFY(MessageBox::lastShown().text.contains(folder + QLatin1Char('/') + both.first()));
        if (both.first().left(23) == afterFirst.first().left(23)) // within the same minute
            QVERIFY2(both.first().endsWith(QStringLiteral("_2.bak")), qPrintable(both.first()));
    }

    // A registry on a read-only disk opens for reading and printing; every save then fails, told by
    // the one who saves.
    void readOnlyRegistry() {
        TestDatabase t;
        ScratchFileSystem folder(t.env().defaultDataFolder(), 8 << 20);
        if (!folder.canBeReadOnly())
            QSKIP("no way to make a folder read-only for root without mounting");
        t.open()->setVariable(QStringLiteral("Data/City"), QStringLiteral("Тверь"));
        QVERIFY(t.db()->execSql(QStringLiteral("DROP VIEW ViewProfDocuments")).isActive());
        t.close();
        QVERIFY(folder.setReadOnly(true));

        Database* db = t.open();
        QVERIFY(db->isValid());
        QVERIFY(db->isReadOnly());
        QVERIFY(MessageBox::shown().isEmpty());
        QCOMPARE(db->variable(QStringLiteral("Data/City")), QStringLiteral("Тверь"));
        // The missing view is made for this run only.
        QCOMPARE(rows(db, QStringLiteral("SELECT COUNT(*) FROM ViewProfDocuments")), (QList<QVariantList>{{0}}));

        MessageBox::setAutoAnswer(QMessageBox::Ok);
        MainWindow window;
        window.show();
        QTRY_COMPARE(MessageBox::shown().size(), 1);
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Внимание!"));
        QVERIFY(MessageBox::lastShown().text.startsWith(QStringLiteral("База данных открыта только для чтения:\n") +
                                                        t.filePath() + QLatin1Char('\n')));
        QString error;
        QVERIFY(!db->setVariable(QStringLiteral("Data/City"), QStringLiteral("Псков"), &error));
        QVERIFY2(error.contains(QStringLiteral("readonly")), qPrintable(error));
        QVERIFY(!db->execSql(QStringLiteral("DELETE FROM Variables")).isActive());
        QTest::qWait(50); // no box of the frame may follow: time for it to show if it did
        // The callers have the failures and tell of them; the frame adds nothing.
        QCOMPARE(MessageBox::shown().size(), 1);
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
        t.close();
        QVERIFY(folder.setReadOnly(false));
        QCOMPARE(queryFile(t.filePath(), QStringLiteral("SELECT Value FROM Variables WHERE Name = 'Data/City'")),
                 (QList<QVariantList>{{QStringLiteral("Тверь")}}));
    }

    // The lock beside the database keeps a second program out while the first runs; a lock left
    // by a crash is taken over, also where the folder has become read-only and cannot lose it.
    void dataFolderLock() {
        TestDatabase t;
        ScratchFileSystem folder(t.env().defaultDataFolder(), 1 << 20);
        const QString lock = Database::lockFilePath();
        {
            InstanceGuard first(QStringLiteral("orvane-test-first"));
            InstanceGuard second(QStringLiteral("orvane-test-second"));
            QVERIFY(first.lockDataFolder(lock));
            QVERIFY(!second.lockDataFolder(lock));
        }
        if (!folder.canBeReadOnly())
            QSKIP("no way to make a folder read-only for root without mounting");
        QProcess finished;
        finished.start(QStringLiteral("true"), QStringList());
        QVERIFY(finished.waitForFinished(10000));
        QFile stale(lock);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write(QByteArray::number(finished.processId()) + "\nOrvane\n" + QSysInfo::machineHostName().toUtf8() +
                    "\n");
        stale.close();
        QVERIFY(folder.setReadOnly(true));
        InstanceGuard afterCrash(QStringLiteral("orvane-test-third"));
        QVERIFY(afterCrash.lockDataFolder(lock));
        QVERIFY(folder.setReadOnly(false));
    }

    // dbgen is a test tool, but it must not destroy a file it was pointed at by mistake.
    void dbgenOptions_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("help") << QStringList{"--help"} << 0 << false;
        QTest::newRow("existing file") << QStringList{"target.db", "--docs", "1"} << 2 << false;
        QTest::newRow("unknown option") << QStringList{"--dcs", "1", "target.db"} << 2 << false;
        QTest::newRow("bad number") << QStringList{"--docs", "many", "target.db"} << 2 << false;
        QTest::newRow("force") << QStringList{"--force", "--docs", "2", "--templates", "0", "target.db"} << 0 << true;
    }

    void dbgenOptions() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(bool, replaced);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("target.db"));
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep me");
        file.close();
        QProcess dbgen;
        dbgen.setWorkingDirectory(dir.path());
        dbgen.start(binaryPath(QStringLiteral("dbgen")), arguments);
        QVERIFY(dbgen.waitForFinished(60000));
        QCOMPARE(dbgen.exitCode(), exitCode);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("target.db")});
        if (!replaced) {
            QCOMPARE(readFileBytes(target), QByteArray("keep me"));
            return;
        }
        QCOMPARE(queryFile(target, QStringLiteral("SELECT COUNT(*) FROM ProfDocuments")), (QList<QVariantList>{{2}}));
    }

    // The file stays locked against other processes for the whole run, also after a backup has
    // read it (closing a second descriptor of the file would drop the process's locks).
    void exclusiveLock() {
        TestDatabase t;
        Database* db = t.open();
        db->setVariable(QStringLiteral("x"), QStringLiteral("y"));
        const auto lockedOut = [&] {
            QProcess sqlite;
            sqlite.start(QStringLiteral("sqlite3"), {t.filePath(), QStringLiteral("SELECT COUNT(*) FROM Variables;")});
            return sqlite.waitForFinished(10000) && sqlite.exitCode() != 0 &&
                   sqlite.readAllStandardError().contains("locked");
        };
        QVERIFY2(lockedOut(), "another process must not read the file");
        const QString copy = t.env().root() + QStringLiteral("/copy.db");
        QVERIFY(RegistryBackup(*db).backup(copy));
        QVERIFY2(lockedOut(), "a backup must not unlock the file");
        db->setVariable(QStringLiteral("x"), QStringLiteral("z"));
        QVERIFY(lockedOut());
        QCOMPARE(queryFile(copy, QStringLiteral("SELECT Value FROM Variables WHERE Name = 'x'")),
                 (QList<QVariantList>{{QStringLiteral("y")}}));
    }

    void variables_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("apostrophe") << QStringLiteral("Кот-д'Ивуар");
        QTest::newRow("quotes") << QStringLiteral("ООО \"Ромашка\" и 'Лютик'");
        QTest::newRow("newlines") << QStringLiteral("первая\nвторая\r\nтретья");
        QTest::newRow("sql") << QStringLiteral("'); DROP TABLE Variables; --");
        QTest::newRow("empty") << QString();
    }

    void variables() {
        QFETCH(QString, value);
        TestDatabase t;
        Database* db = t.open();
        db->setVariable(QStringLiteral("Data/Boss"), value);
        QCOMPARE(db->variable(QStringLiteral("Data/Boss")), value);
        QCOMPARE(db->variable(QStringLiteral("data/boss")), value); // LIKE ignores the case of Latin letters
        QCOMPARE(db->variable(QStringLiteral("Data/Nothing")), QString());
        db->setVariable(QStringLiteral("Data/Boss"), QStringLiteral("Д'Артаньян"));
        QCOMPARE(db->variable(QStringLiteral("Data/Boss")), QStringLiteral("Д'Артаньян"));
    }

    void mostFrequentValues() {
        TestDatabase t;
        Database* db = t.open();
        const QStringList values = {"Сварщик", "токарь", "Сварщик", " Сварщик ", "Повар",
                                    "токарь",  "",       "  ",      "аппаратчик"};
        for (const QString& v : values) {
            QSqlQuery q(QSqlDatabase::database());
            q.prepare(QStringLiteral("INSERT INTO ProfDocuments (profession, qual) VALUES (?, ?)"));
            q.addBindValue(v);
            const bool other = v == QStringLiteral("Повар") || v == QStringLiteral("аппаратчик");
            q.addBindValue(other ? QStringLiteral("токарь") : QString());
            QVERIFY(db->execPrepared(q));
        }
        const QString table = QStringLiteral("ProfDocuments");
        QCOMPARE(UsedValues::mostFrequentValues(table, {"profession"}, 0, false).mid(0, 2),
                 (QStringList{"Сварщик", "токарь"}));
        QCOMPARE(UsedValues::mostFrequentValues(table, {"profession"}, 0, false).size(), 4);
        QCOMPARE(UsedValues::mostFrequentValues(table, {"profession"}, 1, false), QStringList{"Сварщик"});
        QCOMPARE(UsedValues::mostFrequentValues(table, {"profession"}, 0, true),
                 (QStringList{"аппаратчик", "Повар", "Сварщик", "токарь"}));
        // Every listed column counts: "токарь" now leads with four.
        QCOMPARE(UsedValues::mostFrequentValues(table, {"profession", "qual"}, 0, false).first(),
                 QStringLiteral("токарь"));
    }

    void backupAndRestore() {
        TestDatabase t;
        Database* db = t.open();
        db->setVariable(QStringLiteral("Data/City"), QStringLiteral("Тверь"));
        const QString saved = t.env().root() + QStringLiteral("/copy.db");
        QVERIFY(RegistryBackup(*db).backup(saved));
        QProcess sqlite;
        sqlite.start(QStringLiteral("sqlite3"), {saved, QStringLiteral("PRAGMA integrity_check;")});
        QVERIFY(sqlite.waitForFinished(10000));
        QCOMPARE(sqlite.readAllStandardOutput().trimmed(), QByteArray("ok"));
        db->setVariable(QStringLiteral("Data/City"), QStringLiteral("Псков"));

        QString error;
        QVERIFY(!RegistryBackup(*db).restore(t.env().root() + QStringLiteral("/missing.db"), &error));
        QCOMPARE(error, QStringLiteral("Файл '%1' не найден").arg(t.env().root() + QStringLiteral("/missing.db")));
        QCOMPARE(db->variable(QStringLiteral("Data/City")), QStringLiteral("Псков"));

        // A copy that cannot be made leaves the current database working.
        QVERIFY(QDir().mkpath(RegistryBackup::restoreStagingPath() + QStringLiteral("/blocked")));
        QVERIFY(!RegistryBackup(*db).restore(saved, &error));
        QVERIFY2(error.startsWith(QStringLiteral("Не удалось скопировать '%1' в '%2'\n").arg(saved, t.filePath())),
                 qPrintable(error));
        QCOMPARE(db->variable(QStringLiteral("Data/City")), QStringLiteral("Псков"));
        db->setVariable(QStringLiteral("Data/Date"), QStringLiteral("still writable"));
        QCOMPARE(db->variable(QStringLiteral("Data/Date")), QStringLiteral("still writable"));
        QVERIFY(QDir(RegistryBackup::restoreStagingPath()).removeRecursively());

        QVERIFY(RegistryBackup(*db).restore(saved, &error));
        QCOMPARE(db->variable(QStringLiteral("Data/City")), QStringLiteral("Тверь"));
        QCOMPARE(rows(db, QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type='view'")),
                 (QList<QVariantList>{{2}}));
        QVERIFY(!QFileInfo::exists(RegistryBackup::restoreStagingPath()));
    }
};

ORVANE_TEST(TestRegistryFile)
#include "tst_registryfile.moc"
