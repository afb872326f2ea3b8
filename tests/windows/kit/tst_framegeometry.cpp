#include "appkeys.h"
#include "dialoggeometry.h"
#include "guifixture.h"
#include "mainwindow.h"
#include "settingsregistry.h"
#include "testregistry.h"

#include <QAction>
#include <QScreen>
#include <QtTest>

namespace {
QRect available(const QWidget* window) {
    return window->screen()->availableGeometry();
}
} // namespace

class TestFrameGeometry : public QObject {
    Q_OBJECT

private slots:
    // Whatever it was given, a window ends up whole on the screen: too large, partly off an edge,
    // or with a minimum size beyond the screen.
    void fitIntoScreen_data() {
        QTest::addColumn<QRect>("geometry"); // relative to the available area
        QTest::addColumn<QSize>("minimum");
        QTest::addColumn<bool>("center");
        QTest::newRow("larger than the screen") << QRect(0, 0, 1100, 700) << QSize(100, 100) << true;
        QTest::newRow("below the bottom edge") << QRect(100, 400, 400, 300) << QSize(100, 100) << false;
        QTest::newRow("left of and above the screen") << QRect(-300, -200, 400, 300) << QSize(100, 100) << false;
        QTest::newRow("minimum beyond the screen") << QRect(0, 0, 900, 700) << QSize(900, 700) << false;
        QTest::newRow("fits already, centred") << QRect(0, 0, 200, 100) << QSize(100, 50) << true;
    }
    void fitIntoScreen() {
        QFETCH(QRect, geometry);
        QFETCH(QSize, minimum);
        QFETCH(bool, center);
        QWidget window;
        window.setMinimumSize(minimum);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QRect area = available(&window);
        window.setGeometry(geometry.translated(area.topLeft()));
        DialogGeometry::fitIntoScreen(&window, center);
        QVERIFY2(area.contains(window.frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                       .arg(window.frameGeometry().x())
                                                                       .arg(window.frameGeometry().y())
                                                                       .arg(window.frameGeometry().width())
                                                                       .arg(window.frameGeometry().height())));
        // Nothing shrinks that fitted already; what did not fit fills the area.
        const QSize frame = window.frameGeometry().size() - window.size();
        QCOMPARE(window.size(), geometry.size().boundedTo(area.size() - frame));
        if (center)
            QVERIFY(qAbs(window.frameGeometry().center().x() - area.center().x()) <= 1);
    }

    // The main window on its first start, and with a geometry saved on a larger screen, opens
    // whole on the screen it has.
    void mainWindowFitsTheScreen_data() {
        QTest::addColumn<QRect>("saved"); // empty: a first start
        QTest::newRow("first start") << QRect();
        QTest::newRow("saved on a larger screen") << QRect(300, 400, 1500, 1000);
    }
    void mainWindowFitsTheScreen() {
        QFETCH(QRect, saved);
        GuiFixture f;
        if (!saved.isEmpty()) {
            QWidget larger;
            larger.setGeometry(saved);
            SettingsRegistry::instance()->setValue(Keys::mainWindowGeometry, larger.saveGeometry());
        }
        auto* window = f.build<MainWindow>();
        QTRY_VERIFY(f.widget<QAction>(QStringLiteral("actionShowToolbar"))->isChecked()); // settings loaded
        QTRY_VERIFY(window->hasExportLayout(QStringLiteral("FRDO")));                     // the start-up work has run
        QVERIFY2(available(window).contains(window->frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(window->frameGeometry().x())
                                .arg(window->frameGeometry().y())
                                .arg(window->frameGeometry().width())
                                .arg(window->frameGeometry().height())));
    }
};

ORVANE_TEST(TestFrameGeometry)
#include "tst_framegeometry.moc"
