#include "applog.h"
#include "mzlog.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QTextCodec>
#include <QtTest>

class TestAppLog : public QObject {
    Q_OBJECT

private slots:
    void messagesAreSingleLines() {
        TestEnvironment env;
        QCOMPARE(AppLog::filePath(), env.userFolder() + QStringLiteral("//debug.txt"));
        {
            QFile old(AppLog::filePath());
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("line of the previous run\n");
        }
        AppLog::truncate();
        QCOMPARE(QFileInfo(AppLog::filePath()).size(), 0);

        const QtMessageHandler previous = qInstallMessageHandler(&AppLog::messageHandler);
        qDebug() << "Tables inited";
        qWarning("two\nlines\r\nin one message");
        qDebug() << QStringLiteral("Кот-д'Ивуар");
        MZ_LOG() << "No such table" << QStringLiteral("Foo");
        AppLog::writeStartupBanner();
        qInstallMessageHandler(previous);

        const QByteArray log = readFileBytes(AppLog::filePath());
        QVERIFY(!log.contains('\r'));
        const QString text = QTextCodec::codecForLocale()->toUnicode(log);
        const QStringList lines = text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 6); // five messages and the empty rest after the last line feed
        QCOMPARE(lines[0], QStringLiteral("Tables inited"));
        QCOMPARE(lines[1], QStringLiteral("two\\nlines\\nin one message"));
        QCOMPARE(lines[2], QStringLiteral("\"Кот-д'Ивуар\""));
        QVERIFY2(
            QRegularExpression(QStringLiteral("^tst_applog:\\d+\\tNo such table \"Foo\"$")).match(lines[3]).hasMatch(),
            qPrintable(lines[3]));
        QVERIFY2(QRegularExpression(QStringLiteral("^\"Orvane build 1160 \\S+ running on \\S+\"$"))
                     .match(lines[4])
                     .hasMatch(),
                 qPrintable(lines[4]));
        QVERIFY(lines[4].contains(QSysInfo::currentCpuArchitecture()));
        QVERIFY(lines[5].isEmpty());
    }

    // What gets masked, and what looks alike but is no SNILS.
    void maskedLines_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("logged");
        QTest::newRow("grouped") << "СНИЛС 123-456-789 01 сохранён"
                                 << "СНИЛС ***-***-*** ** сохранён";
        QTest::newRow("dashes only") << "snils=123-456-789-01;"
                                     << "snils=***-***-*** **;";
        QTest::newRow("eleven digits") << "(12345678901)"
                                       << "(***-***-*** **)";
        QTest::newRow("two in one line") << "11223344595 and 987 654 321 00"
                                         << "***-***-*** ** and ***-***-*** **";
        QTest::newRow("twelve digits stay") << "id 123456789012"
                                            << "id 123456789012";
        QTest::newRow("ten digits stay") << "id 1234567890"
                                         << "id 1234567890";
        QTest::newRow("server row detail")
            << "duplicate key\nDETAIL:  Key (snils)=(x, 1990-05-17) already exists.\nINSERT"
            << "duplicate key\\n(row values left out)\\nINSERT";
        QTest::newRow("failing row") << "null value in column\nFailing row contains (7, Иванов, 17.05.1990)."
                                     << "null value in column\\n(row values left out)";
    }
    void maskedLines() {
        QFETCH(QString, message);
        QFETCH(QString, logged);
        QCOMPARE(QString::fromLocal8Bit(AppLog::lineBytes(message)), logged + QLatin1Char('\n'));
    }

    void unwritableLogLosesLinesQuietly() {
        TestEnvironment env;
        QDir().mkpath(AppLog::filePath()); // a folder where the file should be
        const QtMessageHandler previous = qInstallMessageHandler(&AppLog::messageHandler);
        qDebug() << "lost";
        qInstallMessageHandler(previous);
        QVERIFY(QFileInfo(AppLog::filePath()).isDir());
    }
};

ORVANE_TEST(TestAppLog)
#include "tst_applog.moc"
