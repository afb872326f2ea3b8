#include "appkeys.h"
#include "guifixture.h"
#include "modalhelper.h"
#include "productinfo.h"
#include "mainwindow.h"
#include "settingsregistry.h"
#include "testregistry.h"

#include <QAction>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

class TestGuiFixture : public QObject {
    Q_OBJECT

private slots:
    void init() { ProductTypeInfo::setProductType(ProductTypeInfo::ProfessionalTraining); }

    void triggerByName_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("runs");
        QTest::addColumn<QString>("failure");
        QTest::newRow("enabled") << "actionProbe" << true << 1 << QString();
        QTest::newRow("disabled") << "actionProbe" << false << 0
                                  << "Action \"actionProbe\" of QMainWindow \"ProbeWindow\" is disabled";
        QTest::newRow("missing") << "actionNone" << true << 0
                                 << "No action \"actionNone\" in QMainWindow \"ProbeWindow\"";
    }

    // The main window has no actions yet, so a small window stands in for it.
    void triggerByName() {
        QFETCH(QString, name);
        QFETCH(bool, enabled);
        QFETCH(int, runs);
        QFETCH(QString, failure);
        GuiFixture f;
        auto* window = f.build<QMainWindow>();
        window->setObjectName(QStringLiteral("ProbeWindow"));
        auto* action = new QAction(QStringLiteral("Проба"), window);
        action->setObjectName(QStringLiteral("actionProbe"));
        action->setEnabled(enabled);
        int ran = 0;
        connect(action, &QAction::triggered, window, [&ran] { ++ran; });
        auto* edit = new QLineEdit(window);
        edit->setObjectName(QStringLiteral("lineEditRegNumber"));
        QCOMPARE(f.widget<QLineEdit>(QStringLiteral("lineEditRegNumber")), edit);
        QEXPECT_FAIL("disabled", "a disabled action fails the test", Continue);
        QEXPECT_FAIL("missing", "a missing action fails the test", Continue);
        const bool triggered = f.trigger(name);
        QCOMPARE(triggered, failure.isEmpty());
        QCOMPARE(ran, runs);
        QCOMPARE(f.lastFailure(), failure);
    }

    void startUpNoticeIsPreAnswered() {
        GuiFixture f;
        // A folder written into the settings and an older version: the start-up notice is due.
        SettingsRegistry::instance()->setValue(Keys::dataPath, f.env().defaultDataFolder());
        SettingsRegistry::instance()->setValue(Keys::lastStartedVersion, QStringLiteral("0.7.2"));
        f.answerNextBox(QMessageBox::Ok);
        f.build<MainWindow>();
        QTRY_COMPARE(MessageBox::shown().size(), 1);
        QCOMPARE(MessageBox::pendingAnswers(), 0);
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Внимание!"));
        QCOMPARE(MessageBox::lastShown().icon, QMessageBox::Information);
        QCOMPARE(MessageBox::lastShown().text,
                 QStringLiteral("Похоже, что вы установили новую версию программы и у вас прописан нестандартный путь "
                                "к файлам настроек и шаблонов.\nДля того, чтобы программа использовала актуальные "
                                "шаблоны, необходимо зайти в Инструменты - Настройки программы -  Расположение файлов "
                                "и нажать на кнопку 'Восстановит шаблоны по умолчанию'"));
    }

    // Answers left over by one test must not answer the boxes of the next.
    void answersDoNotOutliveTheFixture() {
        {
            GuiFixture f;
            f.answerNextBox(QMessageBox::Yes);
            f.build<QMainWindow>();
        }
        QCOMPARE(MessageBox::pendingAnswers(), 0);
        bool realBox = false;
        ModalHelper::whenModal(
            [&realBox](QWidget* box) {
                realBox = true;
                qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
            },
            3000);
        QCOMPARE(MessageBox::warning(nullptr, QStringLiteral("Проба"), QStringLiteral("Текст")), QMessageBox::Ok);
        QVERIFY(realBox);
        MessageBox::clearShown();
    }
};

ORVANE_TEST(TestGuiFixture)
#include "tst_guifixture.moc"
