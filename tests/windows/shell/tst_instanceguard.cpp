#include "instanceguard.h"
#include "messagebox.h"
#include "testregistry.h"

#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QUuid>
#include <QtTest>

// One copy of the program per computer: the second start is refused with the program's box.
class TestInstanceGuard : public QObject {
    Q_OBJECT

private slots:
    void guardRefusesSecondHolder() {
        const QString key = QStringLiteral("orvane-test-") + QUuid::createUuid().toString();
        MessageBox::clearShown();
        {
            InstanceGuard first(key);
            QVERIFY(first.acquire());
            InstanceGuard second(key);
            QVERIFY(!second.acquire());
            // The refusal path: one box without title and icon, exit code 1.
            MessageBox::setNextAnswer(QMessageBox::Ok);
            QCOMPARE(InstanceGuard::refuse(), 1);
            const MessageBox::Shown box = MessageBox::lastShown();
            QCOMPARE(box.title, QString());
            QCOMPARE(box.icon, QMessageBox::NoIcon);
            QCOMPARE(box.buttons, MessageBox::Buttons(QMessageBox::Ok));
            QCOMPARE(box.text, QStringLiteral("Приложение уже запущено на этом компьютере!\n"
                                              "Одновременный запуск нескольких копий приложения запрещён."));
            // A refused guard does not take the segment away from the holder.
            InstanceGuard third(key);
            QVERIFY(!third.acquire());
        }
        // Released with its holder.
        InstanceGuard again(key);
        QVERIFY(again.acquire());
    }

    // A copy killed on this computer leaves its token behind; the next start takes it over.
    void guardTakesOverKilledHolder() {
#ifndef Q_OS_WIN
        QProcess finished;
        finished.start(QStringLiteral("true"), QStringList());
        QVERIFY(finished.waitForFinished(10000));
        const qint64 deadPid = finished.processId() > 0 ? finished.processId() : 999999;
        const QString key = QStringLiteral("orvane-test-") + QUuid::createUuid().toString();
        QFile left(InstanceGuard::tokenLockPath(key));
        QVERIFY(left.open(QIODevice::WriteOnly));
        left.write(QByteArray::number(deadPid) + "\norvane\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        left.close();
        InstanceGuard next(key);
        QVERIFY(next.acquire());
        InstanceGuard second(key);
        QVERIFY(!second.acquire());
#endif
    }
};

ORVANE_TEST(TestInstanceGuard)
#include "tst_instanceguard.moc"
