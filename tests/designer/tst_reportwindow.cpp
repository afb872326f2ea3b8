#include "edithistory.h"
#include "filedialog.h"
#include "guifixture.h"
#include "mygraphicsscene.h"
#include "projectviewwidget.h"
#include "qrfield.h"
#include "reportpage.h"
#include "reportwindow.h"
#include "tablefield.h"
#include "testenvironment.h"
#include "testregistry.h"
#include "textfield.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDockWidget>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QTimer>
#include <QUndoStack>
#include <QtTest>
#include <functional>

namespace {
using Edit = std::function<void(ReportPage*)>;

// A shipped template copied where the test may write, opened in a designer window.
ReportWindow* openShipped(GuiFixture& f, const QString& name, QString* path = nullptr) {
    const QString copy = f.env().root() + QStringLiteral("/") + name + QStringLiteral(".mzrpt");
    QFile::remove(copy);
    if (!QFile::copy(QStringLiteral(":/default_reports/") + name + QStringLiteral(".mzrpt"), copy))
        return nullptr;
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    auto* window = f.build<ReportWindow>();
    if (!window->openFile(copy))
        return nullptr;
    if (path)
        *path = copy;
    return window;
}

QByteArray savedBytes(ReportWindow* window, const QString& path) {
    return window->page()->save(path) ? readFileBytes(path) : QByteArray();
}

QJsonObject fieldJson(const AbstractField* field) {
    QJsonObject object;
    field->write(object);
    return object;
}

AbstractField* firstOfType(ReportPage* page, int type) {
    for (AbstractField* field : page->fields())
        if (field->type() == type)
            return field;
    return nullptr;
}
} // namespace

Q_DECLARE_METATYPE(Edit)

// The designer window: title and saved state, the save question, adding and nudging fields, undo
// and redo of every kind of edit, several fields at once, and the clipboard.
class TestReportWindow : public QObject {
    Q_OBJECT

    static MyGraphicsScene* scene(ReportWindow* window) { return window->projectView()->scene(); }

private slots:
    void titleFollowsSavedState() {
        GuiFixture f;
        auto* window = f.build<ReportWindow>();
        const QString fresh = QStringLiteral("Редактор отчёта - Несохранённый документ");
        QCOMPARE(window->windowTitle(), fresh);
        QVERIFY(f.trigger(QStringLiteral("actionAddTextField")));
        QCOMPARE(window->windowTitle(), fresh + QStringLiteral("*"));
        QVERIFY(f.trigger(QStringLiteral("actionUndo")));
        QCOMPARE(window->windowTitle(), fresh);
        QVERIFY(f.trigger(QStringLiteral("actionRedo")));
        const QString path = f.env().root() + QStringLiteral("/new.mzrpt");
        FileDialog::setNextFileName(path);
        QVERIFY(f.trigger(QStringLiteral("actionSave")));
        QCOMPARE(window->windowTitle(), QStringLiteral("Редактор отчёта - %1").arg(path));
        window->page()->fields().first()->setX(3.0);
        QVERIFY(window->windowTitle().endsWith(QStringLiteral("*")));
        QVERIFY(f.trigger(QStringLiteral("actionUndo")));
        QCOMPARE(window->windowTitle(), QStringLiteral("Редактор отчёта - %1").arg(path));
    }

    void closeQuestion_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("saved");
        QTest::newRow("cancel keeps the window") << int(QMessageBox::Cancel) << false << false;
        QTest::newRow("discard closes unsaved") << int(QMessageBox::Discard) << true << false;
        QTest::newRow("save writes and closes") << int(QMessageBox::Save) << true << true;
    }
    void closeQuestion() {
        QFETCH(int, answer);
        QFETCH(bool, closed);
        QFETCH(bool, saved);
        GuiFixture f;
        QString path;
        QPointer<ReportWindow> window = openShipped(f, QStringLiteral("id130"), &path);
        QVERIFY(window);
        const QByteArray before = readFileBytes(path);
        window->page()->fields().first()->setY(1.0);
        f.answerNextBox(MessageBox::Button(answer));
        window->close();
        const MessageBox::Shown asked = MessageBox::lastShown();
        QCOMPARE(asked.text, QStringLiteral("Шаблон был изменен."));
        QCOMPARE(asked.informativeText, QStringLiteral("Сохранить изменения?"));
        QTRY_COMPARE(window.isNull(), closed);
        QCOMPARE(readFileBytes(path) != before, saved);
    }

    void addedFieldsAreOffset_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("type");
        QTest::addColumn<QSizeF>("size");
        QTest::newRow("text") << "actionAddTextField" << int(AbstractField::TextType) << QSizeF(60, 10);
        QTest::newRow("qr") << "action_QR" << int(AbstractField::QrType) << QSizeF(20, 20);
    }
    void addedFieldsAreOffset() {
        QFETCH(QString, action);
        QFETCH(int, type);
        QFETCH(QSizeF, size);
        GuiFixture f;
        auto* window = f.build<ReportWindow>();
        for (int i = 0; i < 3; ++i)
            QVERIFY(f.trigger(action));
        const QList<AbstractField*> fields = window->page()->fields();
        QCOMPARE(fields.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(fields.at(i)->type(), type);
            QCOMPARE(fields.at(i)->geometry().size(), size);
            if (i > 0) {
                QCOMPARE(fields.at(i)->x() - fields.at(i - 1)->x(), 2.0);
                QCOMPARE(fields.at(i)->y() - fields.at(i - 1)->y(), 2.0);
            }
        }
        if (type == AbstractField::TextType)
            QCOMPARE(int(fields.first()->alignFlags()), 0x21);
        // The field just added is the one selected.
        QCOMPARE(scene(window)->selectedFields(), QList<AbstractField*>{fields.last()});
    }

    void keysNudgeAsOneStep_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<QPointF>("shift");
        QTest::newRow("S down") << int(Qt::Key_S) << QPointF(0, 3);
        QTest::newRow("W up") << int(Qt::Key_W) << QPointF(0, -3);
        QTest::newRow("A left") << int(Qt::Key_A) << QPointF(-3, 0);
        QTest::newRow("D right") << int(Qt::Key_D) << QPointF(3, 0);
        QTest::newRow("Russian layout: Ы down") << 0x42b << QPointF(0, 3);
    }
    void keysNudgeAsOneStep() {
        QFETCH(int, key);
        QFETCH(QPointF, shift);
        GuiFixture f;
        ReportWindow* window = openShipped(f, QStringLiteral("id130"));
        QVERIFY(window);
        AbstractField* field = window->page()->fields().at(2);
        const QPointF start = field->geometry().topLeft();
        scene(window)->selectFields({field});
        for (int i = 0; i < 3; ++i) {
            // Sent as the window system would: the test's key click knows Latin keys only.
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(QChar(key)));
            QApplication::sendEvent(window, &press);
        }
        QCOMPARE(field->geometry().topLeft(), start + shift);
        QCOMPARE(window->undoStack()->count(), 1);
        QVERIFY(window->isEdited());
        window->undoStack()->undo();
        QCOMPARE(field->geometry().topLeft(), start);
        QVERIFY(!window->isEdited());
    }

    void severalFieldsAtOnce() {
        GuiFixture f;
        ReportWindow* window = openShipped(f, QStringLiteral("id130"));
        QVERIFY(window);
        ReportPage* page = window->page();
        const QList<AbstractField*> chosen{page->fields().at(1), page->fields().at(4)};
        const QRectF first = chosen.at(0)->geometry(), second = chosen.at(1)->geometry();
        scene(window)->selectFields(chosen);
        QTest::keyClick(window, Qt::Key_D);
        QTest::keyClick(window, Qt::Key_D);
        QCOMPARE(chosen.at(0)->x(), first.x() + 2);
        QCOMPARE(chosen.at(1)->x(), second.x() + 2);
        QCOMPARE(window->undoStack()->count(), 1);

        const int count = page->fields().size();
        QVERIFY(f.trigger(QStringLiteral("actionDeleteField")));
        QCOMPARE(page->fields().size(), count - 2);
        QCOMPARE(window->undoStack()->count(), 2);
        window->undoStack()->undo();
        QCOMPARE(page->fields().size(), count);
        QCOMPARE(page->indexOf(chosen.at(0)), 1);
        QCOMPARE(page->indexOf(chosen.at(1)), 4);
        window->undoStack()->undo();
        QCOMPARE(chosen.at(0)->geometry(), first);
        QCOMPARE(chosen.at(1)->geometry(), second);
    }

    // Every kind of edit is undone back to the very file that was saved before it, and redone.
    void undoRestoresTheSavedFile_data() {
        QTest::addColumn<Edit>("edit");
        QTest::newRow("move") << Edit([](ReportPage* p) { p->fields().at(3)->setX(p->fields().at(3)->x() + 7.5); });
        QTest::newRow("resize") << Edit([](ReportPage* p) { p->fields().at(3)->setWidth(11.0); });
        QTest::newRow("property") << Edit([](ReportPage* p) {
            static_cast<TextField*>(firstOfType(p, AbstractField::TextType))->setText(QStringLiteral("$V{fio}"));
        });
        QTest::newRow("column widths") << Edit([](ReportPage* p) {
            auto* table = static_cast<TableField*>(firstOfType(p, AbstractField::TableType));
            QList<double> widths = table->columnsWidth();
            widths[0] += 12.0;
            table->setColumnsWidth(widths);
        });
        QTest::newRow("shrink to fit") << Edit([](ReportPage* p) {
            static_cast<TextField*>(firstOfType(p, AbstractField::TextType))->setShrinkToFit(true);
        });
        QTest::newRow("sides") << Edit([](ReportPage* p) { p->setPagesCount(3); });
        QTest::newRow("font") << Edit(
            [](ReportPage* p) { p->setDefaultFont(QFont(QStringLiteral("Liberation Sans"), 9)); });
        QTest::newRow("add") << Edit([](ReportPage* p) {
            auto* field = new QrField;
            field->setGeometry(10, 10, 20, 20);
            EditHistory::of(p)->addFields({field}, QString());
        });
        QTest::newRow("delete") << Edit([](ReportPage* p) {
            EditHistory::of(p)->removeFields({p->fields().at(0), p->fields().at(5)}, QString());
        });
    }
    void undoRestoresTheSavedFile() {
        QFETCH(Edit, edit);
        GuiFixture f;
        ReportWindow* window = openShipped(f, QStringLiteral("id133"));
        QVERIFY(window);
        const QString root = f.env().root();
        const QByteArray before = savedBytes(window, root + QStringLiteral("/before.mzrpt"));
        QVERIFY(!before.isEmpty());
        edit(window->page());
        QVERIFY(window->isEdited());
        QCOMPARE(window->undoStack()->count(), 1);
        const QByteArray edited = savedBytes(window, root + QStringLiteral("/edited.mzrpt"));
        QVERIFY(edited != before);
        window->undoStack()->undo();
        QVERIFY(!window->isEdited());
        QCOMPARE(savedBytes(window, root + QStringLiteral("/undone.mzrpt")), before);
        window->undoStack()->redo();
        QCOMPARE(savedBytes(window, root + QStringLiteral("/redone.mzrpt")), edited);
    }

    // "Печать" previews the raw template with its backgrounds, every side of it, and leaves the
    // template as it was.
    void printPreview() {
        GuiFixture f;
        ReportWindow* window = openShipped(f, QStringLiteral("id130"));
        QVERIFY(window);
        QCOMPARE(window->page()->pagesCount(), 2);
        QVERIFY(!window->page()->printBackgroundImage());
        QString shown;
        bool withBackground = false, filled = true;
        int sidesShown = 0;
        // The designer is modal itself, so the preview is looked for by its kind.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (widget->isVisible() && qobject_cast<QPrintPreviewDialog*>(widget)) {
                    shown = QLatin1String(widget->metaObject()->className());
                    withBackground = window->page()->printsBackground();
                    filled = window->page()->fillWithData();
                    if (auto* view = widget->findChild<QPrintPreviewWidget*>())
                        sidesShown = view->pageCount();
                    widget->close();
                }
            }
        });
        poll.start(20);
        f.answerNextBox(QMessageBox::Yes);
        QVERIFY(f.trigger(QStringLiteral("actionPrint")));
        QCOMPARE(MessageBox::lastShown().text, QStringLiteral("Включена печать фона.\nПродолжить?!"));
        QCOMPARE(shown, QStringLiteral("QPrintPreviewDialog"));
        QVERIFY(withBackground && !filled);
        QCOMPARE(sidesShown, 2);
        QVERIFY(!window->page()->printsBackground());
        QCOMPARE(window->undoStack()->count(), 0);
    }

    // A window deleted while it shows both panels: the panels are hidden after the window's own
    // parts are gone, and nothing of the window may answer them then (the sanitizer run checks).
    void deletedWhileShown() {
        GuiFixture f;
        QPointer<ReportWindow> window = f.build<ReportWindow>();
        window->show();
        window->findChild<QAction*>(QStringLiteral("actionDataManager"))->setChecked(true);
        auto* structure = window->findChild<QDockWidget*>(QStringLiteral("structureDockWidget"));
        auto* data = window->findChild<QDockWidget*>(QStringLiteral("dataManagerDockWidget"));
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QVERIFY(structure->isVisible() && data->isVisible());
        delete window;
        QVERIFY(!window);
    }

    // The window's size, dock layout and folder come back in the next designer window.
    void settingsComeBack() {
        GuiFixture f;
        QPointer<ReportWindow> window = f.build<ReportWindow>();
        window->resize(1010, 707);
        window->findChild<QAction*>(QStringLiteral("actionDataManager"))->setChecked(true);
        window->close();
        QTRY_VERIFY(!window);
        QVERIFY(readFileBytes(f.env().userFolder() + QStringLiteral("/settings.ini")).contains("[ReportWindow]"));
        auto* next = f.build<ReportWindow>();
        QCOMPARE(next->size(), QSize(1010, 707));
        QVERIFY(next->findChild<QAction*>(QStringLiteral("actionDataManager"))->isChecked());
    }

    void secondBackgroundAction() {
        GuiFixture f;
        auto* window = f.build<ReportWindow>();
        auto* action = window->findChild<QAction*>(QStringLiteral("actionLoadBackgroundImage2"));
        QVERIFY(!action->isVisible());
        window->page()->setPagesCount(2);
        QVERIFY(action->isVisible());
        window->undoStack()->undo();
        QVERIFY(!action->isVisible());
    }

    // Fields travel through the clipboard whole, also into another designer window.
    void copyAndPaste_data() {
        QTest::addColumn<bool>("otherWindow");
        QTest::addColumn<bool>("cut");
        QTest::newRow("same window") << false << false;
        QTest::newRow("another window") << true << false;
        QTest::newRow("cut") << false << true;
    }
    void copyAndPaste() {
        QFETCH(bool, otherWindow);
        QFETCH(bool, cut);
        GuiFixture f;
        ReportWindow* source = openShipped(f, QStringLiteral("id133"));
        QVERIFY(source);
        ReportPage* page = source->page();
        auto* text = static_cast<TextField*>(firstOfType(page, AbstractField::TextType));
        text->setZOnEmpty(true);
        text->setIndent(4.25);
        text->setLineHeight(5.5);
        const QList<AbstractField*> chosen{text, firstOfType(page, AbstractField::TableType)};
        QList<QJsonObject> originals;
        for (AbstractField* field : chosen)
            originals << fieldJson(field);
        scene(source)->selectFields(chosen);
        const int count = page->fields().size(), steps = source->undoStack()->count();
        source->findChild<QAction*>(cut ? QStringLiteral("actionCut") : QStringLiteral("actionCopy"))->trigger();
        QCOMPARE(page->fields().size(), cut ? count - 2 : count);

        ReportWindow* target = source;
        std::unique_ptr<ReportWindow> other;
        if (otherWindow) {
            other = std::make_unique<ReportWindow>();
            target = other.get();
        }
        const int targetCount = target->page()->fields().size();
        target->findChild<QAction*>(QStringLiteral("actionPaste"))->trigger();
        const QList<AbstractField*> pasted = scene(target)->selectedFields();
        QCOMPARE(pasted.size(), 2);
        QCOMPARE(target->page()->fields().size(), targetCount + 2);
        for (int i = 0; i < 2; ++i) {
            QJsonObject expected = originals.at(i), got = fieldJson(pasted.at(i));
            for (const QString& key : {QStringLiteral("x"), QStringLiteral("y")}) {
                // Lengths are written cut to two decimals, so the shifted value may lose 0.01.
                QVERIFY(qAbs(got.take(key).toDouble() - expected.take(key).toDouble() - 2.0) < 0.011);
            }
            QCOMPARE(got, expected);
        }
        // Cut and paste are a step each.
        QCOMPARE(target->undoStack()->count(), otherWindow ? 1 : steps + (cut ? 2 : 1));
    }
};

ORVANE_TEST(TestReportWindow)
#include "tst_reportwindow.moc"
