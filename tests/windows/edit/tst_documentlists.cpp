#include "armedprobe.h"
#include "documenteditdialog.h"
#include "guifixture.h"
#include "testregistry.h"
#include "usedvalues.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSqlQuery>
#include <QtTest>

// The document dialog's lists of used values on a registry large enough for them to be counted
// between events: the dialog is there first, and each list arrives under what the clerk typed.
namespace {
constexpr int arrivalMs = 60000;

// More documents than a first slice of counting takes, with every value of the four lists: ties,
// values with blanks around them, blanks, NULL, and a value of a megabyte.
void seedRegistry() {
    runSql(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 12000) "
                          "INSERT INTO ProfDocuments (profession, profProgName, prevEducation, attNumber) "
                          "SELECT CASE i % 4 WHEN 0 THEN 'Повар' WHEN 1 THEN 'Сварщик' WHEN 2 THEN NULL ELSE '' END, "
                          "CASE WHEN i % 3 = 0 THEN ' Программа ' ELSE 'Программа' END, "
                          "CASE WHEN i % 2 = 0 THEN 'Аттестат' ELSE '  ' END, 'СВ ' || i FROM n"));
    const QString megabyte = QString(1 << 20, QChar(0x44F));
    for (int i = 0; i < 2; ++i)
        runSql(QStringLiteral("INSERT INTO ProfDocuments (profession, profProgName, prevEducation, attNumber) "
                              "VALUES (?, ?, ?, ?)"),
               {QStringLiteral("Токарь"), megabyte, QStringLiteral("Диплом"), QStringLiteral("СВ 5")});
}

// What one count of the whole column gives, by another way than the program's: most frequent first,
// equally frequent in the order of their texts.
QStringList expectedValues(const QString& column) {
    QSqlQuery query = runSql(QStringLiteral("SELECT trim(%1) AS v FROM ProfDocuments WHERE trim(%1) <> '' "
                                            "GROUP BY v ORDER BY COUNT(*) DESC, v")
                                 .arg(column));
    QStringList values;
    while (query.next())
        values << query.value(0).toString();
    return values;
}

QStringList itemsOf(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

DocumentEditDialog* openDialog(GuiFixture& f) {
    auto* dialog = f.build<DocumentEditDialog>();
    dialog->setId(-1);
    dialog->show();
    return dialog;
}
} // namespace

class TestDocumentLists : public QObject {
    Q_OBJECT

private slots:
    // Each list holds what the counting of the whole column at once gave, in the same order.
    void sameAsWholeCount_data() {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("comboName");
        QTest::newRow("profession") << "profession"
                                    << "comboBoxProfession";
        QTest::newRow("programme, values with blanks around") << "profProgName"
                                                              << "comboBoxEditProfProgramName";
        QTest::newRow("previous education, blanks") << "prevEducation"
                                                    << "comboBoxPrevEducation";
        QTest::newRow("certificate numbers, one a document") << "attNumber"
                                                             << "comboBoxAttNumber";
    }
    void sameAsWholeCount() {
        QFETCH(QString, column);
        QFETCH(QString, comboName);
        GuiFixture f;
        seedRegistry();
        openDialog(f);
        auto* combo = f.widget<QComboBox>(comboName);
        QVERIFY(UsedValues::countingUnderWay());
        QTRY_VERIFY_WITH_TIMEOUT(combo->count() > 0, arrivalMs);
        QCOMPARE(itemsOf(combo), expectedValues(column));
        QCOMPARE(combo->currentText(), QString());
    }

    // What the clerk typed before the list came stays as typed, with the cursor and the selection.
    void typingKept_data() {
        QTest::addColumn<QString>("comboName");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("selectFrom");
        QTest::addColumn<int>("selectLength"); // negative: the cursor at the selection's start
        QTest::addColumn<int>("cursor");
        QTest::addColumn<QString>("selected");
        QTest::newRow("profession, cursor at the end") << "comboBoxProfession"
                                                       << "Пов" << -1 << 0 << 3 << "";
        QTest::newRow("certificate number, cursor inside") << "comboBoxAttNumber"
                                                           << "СВ 12" << 2 << 0 << 2 << "";
        QTest::newRow("programme, selected forwards") << "comboBoxEditProfProgramName"
                                                      << "Программа 2" << 0 << 9 << 9 << "Программа";
        QTest::newRow("previous education, selected backwards") << "comboBoxPrevEducation"
                                                                << "Аттестат о" << 10 << -1 << 9 << "о";
        QTest::newRow("quotes") << "comboBoxProfession"
                                << "\"Повар\" 'ы'" << -1 << 0 << 11 << "";
    }
    void typingKept() {
        QFETCH(QString, comboName);
        QFETCH(QString, typed);
        QFETCH(int, selectFrom);
        QFETCH(int, selectLength);
        QFETCH(int, cursor);
        QFETCH(QString, selected);
        GuiFixture f;
        seedRegistry();
        openDialog(f);
        auto* combo = f.widget<QComboBox>(comboName);
        QCOMPARE(combo->count(), 0); // typed before the list came
        combo->lineEdit()->setFocus();
        // Key by key, as the clerk types (keyClicks takes Latin letters only).
        for (const QChar c : typed)
            QTest::sendKeyEvent(QTest::Click, combo->lineEdit(), Qt::Key_unknown, QString(c), Qt::NoModifier);
        QCOMPARE(combo->currentText(), typed);
        if (selectFrom >= 0)
            combo->lineEdit()->setSelection(selectFrom, selectLength);
        QTRY_VERIFY_WITH_TIMEOUT(combo->count() > 0, arrivalMs);
        QCOMPARE(combo->currentText(), typed);
        QCOMPARE(combo->lineEdit()->cursorPosition(), cursor);
        QCOMPARE(combo->lineEdit()->selectedText(), selected);
    }

    // A saved document's values are in the next dialog's lists, counted again; a save the file
    // refused leaves them as they were.
    void valuesAfterSave_data() {
        QTest::addColumn<bool>("refused");
        QTest::newRow("saved") << false;
        QTest::newRow("refused by the file") << true;
    }
    void valuesAfterSave() {
        QFETCH(bool, refused);
        GuiFixture f;
        seedRegistry();
        auto* dialog = openDialog(f);
        auto* profession = f.widget<QComboBox>("comboBoxProfession");
        QTRY_VERIFY_WITH_TIMEOUT(profession->count() > 0, arrivalMs);
        waitUntilArmed(dialog);
        if (refused)
            runSql(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON ProfDocuments "
                                  "BEGIN SELECT RAISE(ABORT, 'refused'); END;"));
        profession->setEditText(QStringLiteral("Акушер"));
        f.widget<QComboBox>("comboBoxAttNumber")->setEditText(QStringLiteral("СВ 99999"));
        MessageBox::setNextAnswer(QMessageBox::Yes); // the certificate check's question
        dialog->setEdited();
        QCOMPARE(dialog->save(), !refused);
        if (refused) {
            QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Ошибка"));
            QVERIFY(MessageBox::lastShown().text.contains(QStringLiteral("refused")));
        }
        delete dialog;

        auto* again = f.build<DocumentEditDialog>();
        again->setId(-1);
        auto* list = again->findChild<QComboBox*>("comboBoxProfession");
        auto* numbers = again->findChild<QComboBox*>("comboBoxAttNumber");
        QTRY_VERIFY_WITH_TIMEOUT(list->count() > 0 && numbers->count() > 0, arrivalMs);
        QCOMPARE(list->findText(QStringLiteral("Акушер")) >= 0, !refused);
        QCOMPARE(numbers->findText(QStringLiteral("СВ 99999")) >= 0, !refused);
        QCOMPARE(itemsOf(list), expectedValues("profession"));
    }

    // A dialog closed before its lists came leaves no counting behind, and the next one gets them.
    void closedBeforeListsCame_data() {
        QTest::addColumn<bool>("firstListCame");
        QTest::newRow("closed at once") << false;
        QTest::newRow("closed after the first list") << true;
    }
    void closedBeforeListsCame() {
        QFETCH(bool, firstListCame);
        GuiFixture f;
        seedRegistry();
        auto* dialog = openDialog(f);
        QVERIFY(UsedValues::countingUnderWay());
        if (firstListCame)
            QTRY_VERIFY_WITH_TIMEOUT(f.widget<QComboBox>("comboBoxProfession")->count() > 0, arrivalMs);
        else
            QCOMPARE(f.widget<QComboBox>("comboBoxAttNumber")->count(), 0);
        delete dialog;
        QTRY_VERIFY(!UsedValues::countingUnderWay());

        auto* again = f.build<DocumentEditDialog>();
        again->setId(-1);
        auto* numbers = again->findChild<QComboBox*>("comboBoxAttNumber");
        QTRY_VERIFY_WITH_TIMEOUT(numbers->count() > 0, arrivalMs);
        QCOMPARE(itemsOf(numbers), expectedValues("attNumber"));
    }
};

ORVANE_TEST(TestDocumentLists)

#include "tst_documentlists.moc"
