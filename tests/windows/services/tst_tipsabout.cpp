#include "appkeys.h"
#include "productinfo.h"
#include "aboutdialog.h"
#include "tipsdialog.h"
#include "settingsregistry.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>
#include <QtTest>

namespace {
const QString noTips = QStringLiteral("Ни одного совета не найдено =(");

void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

template <typename T> T* child(QWidget* dialog, const char* name) {
    auto* found = dialog->findChild<T*>(QLatin1String(name));
    if (!found)
        qWarning("no widget %s", name);
    return found;
}
} // namespace

class TestTipsAbout : public QObject {
    Q_OBJECT

private slots:
    void tipsCycle_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("tips");
        QTest::newRow("one tip") << QByteArray("**\nЕдинственный совет\n**") << QStringList{"Единственный совет"};
        QTest::newRow("two tips") << QByteArray("Первый\r\n**\r\nВторой\r\n") << QStringList{"Первый", "Второй"};
        QTest::newRow("empty file") << QByteArray() << QStringList{noTips};
        QTest::newRow("separators only") << QByteArray("**\n**\n****") << QStringList{noTips};
        QTest::newRow("missing file") << QByteArray("-") << QStringList{noTips};
    }
    // "Следующий совет" goes round every tip and back; a single tip keeps showing itself.
    void tipsCycle() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, tips);
        TestEnvironment env;
        QString path = env.root() + QStringLiteral("/tips.txt");
        if (content == "-")
            path += QStringLiteral(".missing");
        else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        QPointer<TipsDialog> dialog = new TipsDialog(nullptr, path);
        auto* text = child<QTextEdit>(dialog, "textEdit");
        QVERIFY(text->isReadOnly());
        QStringList seen{text->toPlainText()};
        for (int i = 0; i < 2 * tips.size(); ++i) {
            QTest::mouseClick(child<QPushButton>(dialog, "pushButtonNext"), Qt::LeftButton);
            QVERIFY2(tips.contains(text->toPlainText()), qPrintable(text->toPlainText()));
            QCOMPARE(text->toPlainText() == seen.last(), tips.size() == 1);
            seen << text->toPlainText();
        }
        seen.removeDuplicates();
        QCOMPARE(seen.size(), tips.size());
        delete dialog;
    }

    void startupChoice_data() {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<QString>("closeBy");
        QTest::newRow("unchecked, window button") << true << false << "window";
        QTest::newRow("unchecked, Закрыть") << true << false << "button";
        QTest::newRow("unchecked, Escape") << true << false << "escape";
        QTest::newRow("checked again, window button") << false << true << "window";
    }
    // The check box is stored however the dialog goes away, and the dialog deletes itself.
    void startupChoice() {
        QFETCH(bool, stored);
        QFETCH(bool, checked);
        QFETCH(QString, closeBy);
        TestEnvironment env;
        SettingsRegistry::instance()->setValue(Keys::showTipsOnStartup, stored);
        QPointer<TipsDialog> dialog = new TipsDialog;
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Совет дня"));
        auto* box = child<QCheckBox>(dialog, "checkBox");
        QCOMPARE(box->isChecked(), stored);
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(box->isChecked(), checked);
        if (closeBy == QLatin1String("window"))
            dialog->close();
        else if (closeBy == QLatin1String("button"))
            QTest::mouseClick(child<QPushButton>(dialog, "pushButtonClose"), Qt::LeftButton);
        else
            QTest::keyClick(dialog, Qt::Key_Escape);
        flushDeletes();
        QVERIFY(dialog.isNull());
        QCOMPARE(SettingsRegistry::instance()->value(Keys::showTipsOnStartup).toBool(), checked);
    }

    void releaseNotesAtTop_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("small window") << QSize(420, 360);
        QTest::newRow("stored small geometry") << QSize();
    }
    // The release notes open at their first line, also in a window too small for all of them.
    void releaseNotesAtTop() {
        QFETCH(QSize, size);
        TestEnvironment env;
        if (!size.isValid()) {
            auto* earlier = new AboutDialog;
            earlier->resize(420, 330);
            earlier->show();
            QVERIFY(QTest::qWaitForWindowExposed(earlier));
            delete earlier; // stores its geometry
        }
        QPointer<AboutDialog> dialog = new AboutDialog;
        if (size.isValid())
            dialog->resize(size);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("О программе"));
        auto* notes = child<QPlainTextEdit>(dialog, "plainTextEdit");
        QVERIFY(notes->isReadOnly());
        QVERIFY(notes->toPlainText().startsWith(QStringLiteral("Версия 0.7.3")));
        QVERIFY2(notes->verticalScrollBar()->maximum() > 0, "the notes should not fit this window");
        QCOMPARE(notes->verticalScrollBar()->value(), 0);
        QCOMPARE(notes->textCursor().position(), 0);
        QVERIFY(child<QLabel>(dialog, "progNameLabel")
                    ->text()
                    .startsWith(ProductTypeInfo::titledVersion() + QStringLiteral(" build 1160 ")));
        QCOMPARE(child<QLabel>(dialog, "progNameLabel_4")->text(), ProductTypeInfo::aboutText());
        dialog->close();
        flushDeletes();
        QVERIFY(dialog.isNull());
    }

    // The maker's block names a site or the forum only when an administrator has set its address.
    void makerInformation_data() {
        QTest::addColumn<QString>("site");
        QTest::addColumn<QString>("forum");
        QTest::addColumn<QString>("shown");
        const QString forumLine =
            QStringLiteral("\nВопросы и предложения принимаются на форуме поддержки (меню «Поддержка»).");
        QTest::newRow("nothing set") << QString() << QString() << QStringLiteral("Разработчик: MzSoftware");
        QTest::newRow("both set") << "https://school.example/"
                                  << "https://school.example/forum/"
                                  << QStringLiteral("Разработчик: MzSoftware\nСайт: https://school.example/") +
                                         forumLine;
        QTest::newRow("forum only") << QString() << "https://school.example/forum/"
                                    << QStringLiteral("Разработчик: MzSoftware") + forumLine;
        QTest::newRow("site not a web address")
            << "school.example" << QString() << QStringLiteral("Разработчик: MzSoftware");
    }
    void makerInformation() {
        QFETCH(QString, site);
        QFETCH(QString, forum);
        QFETCH(QString, shown);
        TestEnvironment env;
        SettingsRegistry::instance()->setValue(Keys::siteUrl, site);
        SettingsRegistry::instance()->setValue(Keys::forumUrl, forum);
        QPointer<AboutDialog> dialog = new AboutDialog;
        QCOMPARE(child<QLabel>(dialog, "progNameLabel_3")->text(), shown);
        delete dialog;
    }
};

ORVANE_TEST(TestTipsAbout)
#include "tst_tipsabout.moc"
