#include "armedprobe.h"
#include "documenteditdialog.h"
#include "documentsmodel.h"
#include "documentstable.h"
#include "filedialog.h"
#include "frdocheck.h"
#include "frdocheckdialog.h"
#include "frdodialog.h"
#include "guifixture.h"
#include "mainwindow.h"
#include "optionaldateedit.h"
#include "testregistry.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlQuery>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>
#include <functional>

namespace {
const QVariantMap goodDocument = {
    {"fio1", "Альфина"},         {"fio2", "Мария"},           {"fio3", "Петровна"},
    {"attNumber", "АБ 000123"},  {"regNumber", "77"},         {"issueDate", "2021-03-04"},
    {"birthDate", "1990-05-17"}, {"startDate", "2021-01-11"}, {"finishDate", "2021-02-28"},
    {"profession", "Швея"},      {"qual", "2 разряд"},        {"profProgName", "Программа «Шитьё»"},
    {"isDuplicate", 0},          {"certificateType", 1},      {"showTotalCount", 0}};

const QString goodSnils = QStringLiteral("11223344595"); // 9+8+14+12+15+12+12+8+5 = 95
const QString badSnils = QStringLiteral("11223344596");

// A ProfFrdo row the registry takes; its choices are among the FRDO dialog's items.
const QVariantMap goodFrdo = {
    {"SexIsMale", -1},
    {"snils", goodSnils},
    {"studyPeriod", "2 мес."},
    {"DocSerial", "АБ"},
    {"DocNumber", "000123"},
    {"RegNumberFrdo", "77"},
    {"docName", "Свидетельство о профессии рабочего"},
    {"DocType", "Свидетельство о профессии рабочего, должности служащего"},
    {"StateDuplicate", 0},
    {"studyCount", 144},
    {"frdo13", "Программа профессиональной подготовки по профессии рабочего, должности служащего"},
    {"frdo14", "Программа «Шитьё»"},
    {"frdo15", "Швея"},
    {"frdo16", "2 разряд"},
    {"frdo20", "Нет"},
    {"birthDateFrdo", "1990-05-17"},
    {"beginDate", "2021-01-11"},
    {"endDate", "2021-02-28"},
    {"issueDateFrdo", "2021-03-04"},
    {"frdo21", "Российская Федерация"},
    {"frdo22", "Очная"},
    {"frdo23", "Платное обучение"},
    {"frdo24", "в образовательной организации"}};

qint64 addDocument(const QString& surname, const QString& snils, bool withFrdo = true) {
    QVariantMap document = goodDocument;
    document["fio1"] = surname;
    const qint64 id = insertRow(QStringLiteral("ProfDocuments"), document);
    if (withFrdo) {
        QVariantMap frdo = goodFrdo;
        frdo["profId"] = id;
        frdo["snils"] = snils;
        insertRow(QStringLiteral("ProfFrdo"), frdo);
    }
    return id;
}

QVariant scalar(const QString& sql, const QVariantList& values = {}) {
    QSqlQuery query = runSql(sql, values);
    return query.next() ? query.value(0) : QVariant();
}

// Every text cell of the workbook's sheet, read back with openpyxl.
QString workbookText(const QString& path) {
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {"-c",
                  "import sys, openpyxl\nws = openpyxl.load_workbook(sys.argv[1]).active\n"
                  "print('|'.join(str(c.value) for r in ws.iter_rows() for c in r if c.value is not None))",
                  path});
    python.waitForFinished(60000);
    return QString::fromUtf8(python.readAllStandardOutput());
}

// Acts on the check window once it is the modal window; one that is still open after the wait is
// cancelled, so that a failing test never hangs in its loop.
// The wait goes with `owner`, so that it never acts on a later test's window.
void onCheckWindow(QObject* owner, std::function<void(FrdoCheckDialog*)> action, int timeoutMs = 10000) {
    auto* timer = new QTimer(owner);
    auto left = std::make_shared<int>(timeoutMs / 20);
    QObject::connect(timer, &QTimer::timeout, [timer, action, left] {
        auto* check = qobject_cast<FrdoCheckDialog*>(QApplication::activeModalWidget());
        if (check || --*left <= 0) {
            timer->stop();
            timer->deleteLater();
            if (check)
                action(check);
        }
    });
    timer->start(20);
}

void clickButton(QWidget* window, const char* name) {
    window->findChild<QPushButton*>(QLatin1String(name))->click();
}

class UrlRecorder : public QObject {
    Q_OBJECT
public slots:
    void open(const QUrl& url) { opened << url; }

public:
    QList<QUrl> opened;
};
} // namespace

class TestFrdoCheckWindows : public QObject {
    Q_OBJECT

    UrlRecorder urls;

    static MainWindow* openWindow(GuiFixture& f, int rows) {
        auto* window = f.build<MainWindow>();
        // The export layouts are set up shortly after the window shows.
        [&] {
            QTRY_VERIFY(window->hasExportLayout("FRDO"));
            QTRY_COMPARE(window->documentsTable()->model()->rowCount(), rows);
        }();
        return window;
    }

private slots:
    void initTestCase() {
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &urls, "open");
        // The fixtures are what they claim: a good document passes both rule sets.
        GuiFixture f;
        const qint64 id = addDocument("Альфина", goodSnils);
        QVector<FrdoCheck::FailingDocument> failing;
        QString error;
        QVERIFY2(FrdoCheck::checkDocuments({id}, &failing, &error), qPrintable(error));
        QStringList problems;
        for (const auto& document : failing)
            for (const FrdoProblem& problem : document.problems)
                problems << problem.text;
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join("; ")));
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    // A file name a test queued but the export never asked for stays with that test.
    void init() { FileDialog::clear(); }

    // The field is marked with the reason as it is typed, and gets its own look back once fixed.
    void marksAsTyped_data() {
        QTest::addColumn<bool>("frdo");
        QTest::addColumn<QString>("widget");
        QTest::addColumn<QString>("bad");
        QTest::addColumn<QString>("good");
        QTest::newRow("FRDO: SNILS check number") << true << "lineEditSnils" << badSnils << goodSnils;
        QTest::newRow("document: end before start") << false << "dateEditFinish"
                                                    << "2020-12-01"
                                                    << "2021-02-28";
    }
    void marksAsTyped() {
        QFETCH(bool, frdo);
        QFETCH(QString, widget);
        QFETCH(QString, bad);
        QFETCH(QString, good);
        GuiFixture f;
        const qint64 id = addDocument("Альфина", goodSnils);
        if (frdo)
            f.build<FrdoDialog>()->setDocId(id);
        else
            f.build<DocumentEditDialog>()->setId(id);
        QWidget* field = f.widget<QWidget>(widget);
        auto* status = f.widget<QLabel>("labelCheckStatus");
        const QString ownTip = field->toolTip();
        QVERIFY2(field->styleSheet().isEmpty() && status->text().isEmpty(), qPrintable(status->text()));
        const auto type = [&](const QString& value) {
            if (auto* edit = qobject_cast<QLineEdit*>(field)) {
                edit->clear();
                QTest::keyClicks(edit, value);
            } else {
                qobject_cast<OptionalDateEdit*>(field)->setOptionalDate(QDate::fromString(value, Qt::ISODate));
            }
        };
        type(bad);
        QVERIFY(field->styleSheet().contains("background"));
        QVERIFY(!field->toolTip().isEmpty());
        QVERIFY(status->text().startsWith(QStringLiteral("Проблем: ")));
        for (const QString& reason : field->toolTip().split('\n'))
            QVERIFY2(status->text().contains(reason), qPrintable(reason));
        type(good);
        QCOMPARE(field->styleSheet(), QString());
        QCOMPARE(field->toolTip(), ownTip);
        QCOMPARE(status->text(), QString());
    }

    // A wrong certificate is saved only when the user says so; a correct one is not asked about;
    // a refused write after "Yes" keeps the typing and writes nothing.
    void saveQuestion_data() {
        QTest::addColumn<QString>("finish");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("saved");
        QTest::newRow("no keeps the dialog") << "2020-12-01" << int(QMessageBox::No) << false << true << false;
        QTest::newRow("closed box is no") << "2020-12-01" << int(QMessageBox::Cancel) << false << true << false;
        QTest::newRow("yes saves") << "2020-12-01" << int(QMessageBox::Yes) << false << true << true;
        QTest::newRow("correct is not asked") << "2021-02-27" << int(QMessageBox::NoButton) << false << false << true;
        QTest::newRow("yes, write refused") << "2020-12-01" << int(QMessageBox::Yes) << true << true << false;
    }
    void saveQuestion() {
        QFETCH(QString, finish);
        QFETCH(int, answer);
        QFETCH(bool, refused);
        QFETCH(bool, asked);
        QFETCH(bool, saved);
        GuiFixture f;
        const qint64 id = addDocument("Альфина", goodSnils);
        if (refused)
            QVERIFY(f.db()
                        ->execSql("CREATE TRIGGER refuse BEFORE UPDATE ON ProfDocuments "
                                  "BEGIN SELECT RAISE(ABORT, 'refused'); END")
                        .isActive());
        auto* dialog = f.build<DocumentEditDialog>();
        dialog->setId(id);
        waitUntilArmed(dialog);
        f.widget<OptionalDateEdit>("dateEditFinish")->setOptionalDate(QDate::fromString(finish, Qt::ISODate));
        MessageBox::clearShown();
        if (answer != QMessageBox::NoButton)
            f.answerNextBox(MessageBox::Button(answer));
        if (refused)
            f.answerNextBox(QMessageBox::Ok); // the box of the failed write
        dialog->setEdited();
        clickButton(dialog, "pushButtonSave");

        const QList<MessageBox::Shown> shown = MessageBox::shown();
        QCOMPARE(!shown.isEmpty() && shown.first().text.endsWith(QStringLiteral("Сохранить всё равно?")), asked);
        if (asked) {
            QCOMPARE(shown.first().title, MessageBox::attentionTitle());
            QCOMPARE(shown.first().buttons, MessageBox::Buttons(QMessageBox::Yes | QMessageBox::No));
        }
        QCOMPARE(shown.size(), int(asked) + int(refused));
        QCOMPARE(scalar("SELECT finishDate FROM ProfDocuments WHERE profId=?", {id}).toString(),
                 saved ? finish : QStringLiteral("2021-02-28"));
        QCOMPARE(dialog->isEdited(), !saved);
        QVERIFY(dialog->isVisible());
        QCOMPARE(f.widget<OptionalDateEdit>("dateEditFinish")->optionalDate(), QDate::fromString(finish, Qt::ISODate));
    }

    // The check window lists the failing documents; the workbook holds what the user chose.
    void exportChoices_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("good");
        QTest::addColumn<bool>("bad");
        QTest::addColumn<bool>("written");
        QTest::newRow("all") << "pushButtonExportAll" << true << true << true;
        QTest::newRow("only correct") << "pushButtonExportCorrect" << true << false << true;
        QTest::newRow("cancel") << "pushButtonCancel" << false << false << false;
        QTest::newRow("nothing fails: no window") << "" << true << false << true;
    }
    void exportChoices() {
        QFETCH(QString, button);
        QFETCH(bool, good);
        QFETCH(bool, bad);
        QFETCH(bool, written);
        GuiFixture f;
        addDocument("Альфина", goodSnils);
        if (!button.isEmpty()) {
            addDocument("Бетина", badSnils);
            addDocument("Гаммина", goodSnils, false);
        }
        openWindow(f, button.isEmpty() ? 1 : 3);
        const QString path = f.env().root() + QStringLiteral("/frdo.xlsx");
        FileDialog::setNextFileName(path);
        f.answerNextBox(QMessageBox::Ok); // the note about the filters
        QStringList listed;
        bool shown = false;
        QObject guard;
        onCheckWindow(&guard, [&](FrdoCheckDialog* check) {
            shown = true;
            auto* tree = check->findChild<QTreeWidget*>("treeWidgetDocuments");
            for (int i = 0; i < tree->topLevelItemCount(); ++i)
                listed << tree->topLevelItem(i)->text(0) + " | " + tree->topLevelItem(i)->text(1);
            if (!button.isEmpty())
                clickButton(check, qPrintable(button));
            else
                check->reject();
        });
        QVERIFY(f.trigger("actionFrdo"));
        QCOMPARE(shown, !button.isEmpty());
        QCOMPARE(FileDialog::captions().size(), written ? 1 : 0);
        listed.sort();
        if (shown)
            QCOMPARE(listed, QStringList({"Бетина Мария Петровна | АБ 000123", "Гаммина Мария Петровна | АБ 000123"}));
        QCOMPARE(QFile::exists(path), written);
        QCOMPARE(urls.opened.size(), written ? 1 : 0);
        urls.opened.clear();
        const QString cells = written ? workbookText(path) : QString();
        QCOMPARE(cells.contains("Альфина"), good);
        QCOMPARE(cells.contains("Бетина"), bad);
    }

    // A document's problems of one kind share their head in the list; the tooltip has one per line.
    void problemsOfOneKindJoined() {
        FrdoCheck::FailingDocument document;
        document.id = 5;
        document.name = QStringLiteral("Бетина Мария Петровна");
        document.problems = {{"a", QStringLiteral("Не заполнено: Пол получателя"), {}},
                             {"b", QStringLiteral("Неверное контрольное число СНИЛС"), {}},
                             {"c", QStringLiteral("Не заполнено: Форма обучения"), {}}};
        FrdoCheckDialog check({4, 5}, {document});
        const QTreeWidgetItem* item = check.findChild<QTreeWidget*>("treeWidgetDocuments")->topLevelItem(0);
        QCOMPARE(item->text(2), QStringLiteral("Не заполнено: Пол получателя, Форма обучения; Неверное контрольное "
                                               "число СНИЛС"));
        QCOMPARE(item->toolTip(2).split('\n').size(), 3);
    }

    // "Only the correct ones" into a folder that cannot take the file, and a registry the check
    // cannot read: the user is told why, and no file is left behind.
    void exportFailures_data() {
        QTest::addColumn<bool>("unreadable");
        QTest::addColumn<QString>("title");
        QTest::newRow("missing folder") << false << "Не удалось сохранить файл";
        QTest::newRow("check cannot read") << true << "Ошибка";
    }
    void exportFailures() {
        QFETCH(bool, unreadable);
        QFETCH(QString, title);
        GuiFixture f;
        addDocument("Альфина", goodSnils);
        addDocument("Бетина", badSnils);
        openWindow(f, 2);
        if (unreadable)
            QVERIFY(f.db()->execSql("DROP TABLE ProfFrdo").isActive());
        const QString path = f.env().root() + QStringLiteral("/missing/frdo.xlsx");
        FileDialog::setNextFileName(path);
        f.answerNextBox(QMessageBox::Ok);
        QObject guard;
        onCheckWindow(&guard, [](FrdoCheckDialog* check) { clickButton(check, "pushButtonExportCorrect"); });
        MessageBox::clearShown();
        QVERIFY(f.trigger("actionFrdo"));
        QTRY_COMPARE(MessageBox::lastShown().title, title);
        QVERIFY(!QFile::exists(path));
        QVERIFY(urls.opened.isEmpty());
    }

    // A double click opens the document; once its FRDO data is fixed and saved, the list shows it
    // no more, and the export takes it as a correct one.
    void doubleClickOpensAndRefreshes() {
        GuiFixture f;
        addDocument("Альфина", goodSnils);
        const qint64 bad = addDocument("Бетина", badSnils);
        MainWindow* window = openWindow(f, 2);
        const QString path = f.env().root() + QStringLiteral("/frdo.xlsx");
        FileDialog::setNextFileName(path);
        f.answerNextBox(QMessageBox::Ok);
        QStringList steps;
        QObject guard;
        onCheckWindow(&guard, [&](FrdoCheckDialog* check) {
            auto* tree = check->findChild<QTreeWidget*>("treeWidgetDocuments");
            QCOMPARE(tree->topLevelItemCount(), 1);
            emit tree->itemDoubleClicked(tree->topLevelItem(0), 0);
            QPointer<DocumentEditDialog> document = window->editDialog();
            QVERIFY(document && document->recordId() == bad && document->isVisible());
            document->findChild<QPushButton*>("pushButtonFrdo")->click();
            auto* frdo = document->findChild<FrdoDialog*>();
            QVERIFY(frdo);
            frdo->findChild<QLineEdit*>("lineEditSnils")->setText(goodSnils);
            frdo->setEdited();
            frdo->findChild<QPushButton*>("pushButtonSave")->click();
            QCOMPARE(tree->topLevelItemCount(), 0);
            steps << "refreshed";
            clickButton(check, "pushButtonExportCorrect");
        });
        QVERIFY(f.trigger("actionFrdo"));
        QCOMPARE(steps, QStringList{"refreshed"});
        QCOMPARE(scalar("SELECT snils FROM ProfFrdo WHERE profId=?", {bad}).toString(), goodSnils);
        QVERIFY(workbookText(path).contains("Бетина"));
        urls.opened.clear();
    }
};

ORVANE_TEST(TestFrdoCheckWindows)
#include "tst_frdocheckwindows.moc"
