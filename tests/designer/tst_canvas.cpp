#include "edithistory.h"
#include "fieldgraphicsitem.h"
#include "mygraphicsscene.h"
#include "mygraphicsview.h"
#include "projectviewwidget.h"
#include "qrfield.h"
#include "reportpage.h"
#include "tablefield.h"
#include "textfield.h"
#include "testregistry.h"

#include <QDragMoveEvent>
#include <QGraphicsPixmapItem>
#include <QGraphicsSceneMouseEvent>
#include <QStandardItemModel>
#include <QUndoStack>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <memory>

namespace {
// A page with its history and the canvas on it; the stack outlives the page, the page the canvas.
struct Canvas {
    QUndoStack stack;
    ReportPage page;
    ProjectViewWidget widget;
    explicit Canvas(bool history = false) {
        if (history)
            new EditHistory(&page, &stack);
        widget.setReportPage(&page);
    }
    MyGraphicsScene* scene() const { return widget.scene(); }
    double s() const { return page.mmToPx(); }
    template <typename Field> Field* add(const QRectF& mm) {
        auto* field = new Field;
        field->setGeometry(mm);
        page.addField(field);
        return field;
    }
    TableField* addTable(bool autoWidth) {
        auto* table = new TableField;
        table->setColumnCount(2);
        table->setColumnsWidth({30.0, 40.0});
        table->setHeaderNames({QStringLiteral("A"), QStringLiteral("B")});
        table->setColumnIds({QStringLiteral("a"), QStringLiteral("b")});
        table->setHeaderHeight(8.0);
        table->setRowHeight(6.0);
        table->setAutoWidth(autoWidth);
        table->setGeometry(20.0, 40.0, 70.0, 14.0);
        page.addField(table);
        return table;
    }
    // A pixel position given in millimetres of the page.
    QPointF px(double xMm, double yMm) const { return QPointF(xMm, yMm) * s(); }
};

void sendMouse(QGraphicsScene* scene, QEvent::Type type, const QPointF& pos, Qt::MouseButtons buttons,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QGraphicsSceneMouseEvent event(type);
    event.setScenePos(pos);
    event.setButtonDownScenePos(Qt::LeftButton, pos);
    event.setButton(type == QEvent::GraphicsSceneMouseMove ? Qt::NoButton : Qt::LeftButton);
    event.setButtons(buttons);
    event.setModifiers(modifiers);
    QCoreApplication::sendEvent(scene, &event);
}

// A left-button drag through `path`: press at the first point, move through the rest, release.
void drag(QGraphicsScene* scene, const QList<QPointF>& path, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    sendMouse(scene, QEvent::GraphicsSceneMousePress, path.first(), Qt::LeftButton, modifiers);
    for (int i = 1; i < path.size(); ++i)
        sendMouse(scene, QEvent::GraphicsSceneMouseMove, path.at(i), Qt::LeftButton, modifiers);
    sendMouse(scene, QEvent::GraphicsSceneMouseRelease, path.last(), Qt::NoButton, modifiers);
}

void compareRect(const QRectF& actual, const QRectF& expected, double tolerance) {
    QString text;
    QDebug(&text) << "actual" << actual << "expected" << expected;
    const QRectF d(actual.topLeft() - expected.topLeft(), actual.size() - expected.size());
    const double worst = std::max({qAbs(d.x()), qAbs(d.y()), qAbs(d.width()), qAbs(d.height())});
    QVERIFY2(worst <= tolerance, qPrintable(text));
}

QMimeData* variableDrag(QStandardItemModel& model, const QString& text) {
    model.appendRow({new QStandardItem(text), new QStandardItem(QStringLiteral("sample"))});
    return model.mimeData({model.index(0, 0), model.index(0, 1)});
}
} // namespace

// The designer's canvas: what the user does with the mouse and the keys lands in the page, and
// what changes in the page shows on the canvas.
class TestCanvas : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<AbstractField*>(); }

    void nudgeMovesSelectedFields_data() {
        QTest::addColumn<int>("arrow");
        QTest::addColumn<int>("presses");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QPointF>("shiftMm");
        QTest::newRow("S three times") << int(Qt::DownArrow) << 3 << 1 << QPointF(0, 3);
        QTest::newRow("W") << int(Qt::UpArrow) << 1 << 1 << QPointF(0, -1);
        QTest::newRow("A twice") << int(Qt::LeftArrow) << 2 << 1 << QPointF(-2, 0);
        QTest::newRow("D, two selected") << int(Qt::RightArrow) << 1 << 2 << QPointF(1, 0);
        QTest::newRow("S, two selected") << int(Qt::DownArrow) << 2 << 2 << QPointF(0, 2);
        QTest::newRow("nothing selected") << int(Qt::DownArrow) << 1 << 0 << QPointF(0, 0);
    }
    void nudgeMovesSelectedFields() {
        QFETCH(int, arrow);
        QFETCH(int, presses);
        QFETCH(int, selected);
        QFETCH(QPointF, shiftMm);
        Canvas canvas(true);
        QList<AbstractField*> fields{canvas.add<TextField>({10, 20, 60, 10}), canvas.add<QrField>({100, 50, 20, 20}),
                                     canvas.add<TextField>({30, 120, 40, 8})};
        canvas.stack.clear();
        canvas.scene()->selectFields(fields.mid(0, selected));
        for (int i = 0; i < presses; ++i)
            canvas.scene()->onMoveField(Qt::ArrowType(arrow));

        const QList<QPointF> before{{10, 20}, {100, 50}, {30, 120}};
        for (int i = 0; i < fields.size(); ++i) {
            const QPointF expected = before.at(i) + (i < selected ? shiftMm : QPointF());
            QCOMPARE(fields.at(i)->geometry().topLeft(), expected);
        }
        // A run of nudges is one undo step.
        QCOMPARE(canvas.stack.count(), selected > 0 ? 1 : 0);
    }

    void zoomStopsAtLimits_data() {
        QTest::addColumn<bool>("in");
        QTest::addColumn<double>("finalScale");
        // 1.125^8 is the first step above 2.5; 1.125^-4 the first below 0.7.
        QTest::newRow("in") << true << std::pow(1.125, 8);
        QTest::newRow("out") << false << std::pow(1.125, -4);
    }
    void zoomStopsAtLimits() {
        QFETCH(bool, in);
        QFETCH(double, finalScale);
        Canvas canvas;
        QCOMPARE(canvas.widget.view()->currentScale(), 1.0);
        for (int i = 0; i < 20; ++i)
            in ? canvas.widget.on_zoomIn() : canvas.widget.on_zoomOut();
        QVERIFY2(qAbs(canvas.widget.view()->currentScale() - finalScale) < 1e-9,
                 qPrintable(QString::number(canvas.widget.view()->currentScale())));
        // The other direction still works from there.
        in ? canvas.widget.on_zoomOut() : canvas.widget.on_zoomIn();
        QVERIFY(qAbs(canvas.widget.view()->currentScale() - finalScale) > 0.01);
    }

    void mouseDragsFieldsAndEdges_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QRectF>("start");
        QTest::addColumn<QPointF>("pressMm");
        QTest::addColumn<QPointF>("moveMm");
        QTest::addColumn<QRectF>("expected");
        const int text = AbstractField::TextType, qr = AbstractField::QrType;
        QTest::newRow("qr right edge stays square")
            << qr << QRectF(20, 30, 20, 20) << QPointF(40, 40) << QPointF(10, 3) << QRectF(20, 30, 30, 30);
        QTest::newRow("qr bottom edge stays square")
            << qr << QRectF(20, 30, 20, 20) << QPointF(30, 50) << QPointF(0, 5) << QRectF(20, 30, 25, 25);
        QTest::newRow("qr left edge stays square")
            << qr << QRectF(20, 30, 20, 20) << QPointF(20, 40) << QPointF(-5, 0) << QRectF(15, 30, 25, 25);
        QTest::newRow("text right edge") << text << QRectF(20, 30, 40, 10) << QPointF(60, 35) << QPointF(10, 3)
                                         << QRectF(20, 30, 50, 10);
        QTest::newRow("text top edge") << text << QRectF(20, 30, 40, 10) << QPointF(40, 30) << QPointF(0, -4)
                                       << QRectF(20, 26, 40, 14);
        QTest::newRow("text left edge stops short of the right one")
            << text << QRectF(20, 30, 40, 10) << QPointF(20, 35) << QPointF(100, 0) << QRectF(60, 30, 0, 10);
        QTest::newRow("text moved from its middle")
            << text << QRectF(20, 30, 40, 10) << QPointF(40, 35) << QPointF(10, 5) << QRectF(30, 35, 40, 10);
        QTest::newRow("qr moved from its middle")
            << qr << QRectF(20, 30, 20, 20) << QPointF(30, 40) << QPointF(-3, 7) << QRectF(17, 37, 20, 20);
    }
    void mouseDragsFieldsAndEdges() {
        QFETCH(int, type);
        QFETCH(QRectF, start);
        QFETCH(QPointF, pressMm);
        QFETCH(QPointF, moveMm);
        QFETCH(QRectF, expected);
        Canvas canvas;
        AbstractField* field = type == AbstractField::QrType ? static_cast<AbstractField*>(canvas.add<QrField>(start))
                                                             : canvas.add<TextField>(start);
        canvas.scene()->selectFields({field});
        const QPointF press = canvas.px(pressMm.x(), pressMm.y());
        drag(canvas.scene(),
             {press, press + canvas.px(moveMm.x() / 2, moveMm.y() / 2), press + canvas.px(moveMm.x(), moveMm.y())});
        // Edges move in whole pixels and keep at least 5 of them.
        const double pixel = 1.0 / canvas.s();
        if (expected.width() == 0) // stopped 5 pixels short of the right edge, at `x`
            expected = QRectF(expected.x() - 5 * pixel, expected.y(), 5 * pixel, expected.height());
        compareRect(field->geometry(), expected, 1.01 * pixel);
        if (type == AbstractField::QrType)
            QCOMPARE(field->width(), field->height());
        QCOMPARE(canvas.scene()->itemFor(field)->rect().width(), field->width() * canvas.s());
    }

    void dragMovesEverySelectedField() {
        Canvas canvas;
        auto* a = canvas.add<TextField>({20, 30, 40, 10});
        auto* b = canvas.add<QrField>({100, 80, 20, 20});
        auto* c = canvas.add<TextField>({20, 150, 40, 10});
        canvas.scene()->selectFields({a, b});
        const QPointF press = canvas.px(60, 35); // a's right edge: no resize with two selected
        drag(canvas.scene(), {press, press + canvas.px(5, 10)});
        QCOMPARE(a->geometry(), QRectF(25, 40, 40, 10));
        QCOMPARE(b->geometry(), QRectF(105, 90, 20, 20));
        QCOMPARE(c->geometry(), QRectF(20, 150, 40, 10));
        QCOMPARE(canvas.scene()->selectedFields(), (QList<AbstractField*>{a, b}));
    }

    void clicksSelect_data() {
        QTest::addColumn<bool>("ctrl");
        QTest::addColumn<int>("selectedAfter");
        QTest::newRow("plain click picks one") << false << 1;
        QTest::newRow("ctrl click adds") << true << 2;
    }
    void clicksSelect() {
        QFETCH(bool, ctrl);
        QFETCH(int, selectedAfter);
        Canvas canvas;
        auto* a = canvas.add<TextField>({20, 30, 40, 10});
        auto* b = canvas.add<TextField>({20, 60, 40, 10});
        QSignalSpy changed(canvas.scene(), &MyGraphicsScene::selectedFieldChanged);
        canvas.scene()->selectFields({a});
        QCOMPARE(changed.last().first().value<AbstractField*>(), a);
        drag(canvas.scene(), {canvas.px(40, 65)}, ctrl ? Qt::ControlModifier : Qt::NoModifier);
        QCOMPARE(canvas.scene()->selectedFields().size(), selectedAfter);
        QVERIFY(canvas.scene()->selectedFields().contains(b));
        // Several selected: the property panel is told of none.
        QCOMPARE(changed.last().first().value<AbstractField*>(), selectedAfter == 1 ? b : nullptr);
        QCOMPARE(a->geometry(), QRectF(20, 30, 40, 10));
    }

    void rubberBandOnEmptySpace_data() {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QList<int>>("selectedAfter");
        // Field 0 lies inside the band, field 1 outside; field 1 is selected before.
        QTest::newRow("ctrl adds") << int(Qt::ControlModifier) << QList<int>{0, 1};
        QTest::newRow("shift replaces") << int(Qt::ShiftModifier) << QList<int>{0};
        QTest::newRow("plain drag pans") << int(Qt::NoModifier) << QList<int>{1};
    }
    void rubberBandOnEmptySpace() {
        QFETCH(int, modifiers);
        QFETCH(QList<int>, selectedAfter);
        Canvas canvas;
        canvas.widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&canvas.widget));
        const QList<AbstractField*> fields{canvas.add<TextField>({30, 30, 20, 10}),
                                           canvas.add<TextField>({30, 80, 20, 10})};
        canvas.scene()->selectFields({fields.at(1)});
        MyGraphicsView* view = canvas.widget.view();
        view->centerOn(canvas.px(40, 40));
        const QPoint from = view->mapFromScene(canvas.px(20, 20));
        const QPoint to = view->mapFromScene(canvas.px(60, 50));
        const auto send = [&](QEvent::Type type, const QPoint& pos, Qt::MouseButtons buttons) {
            QMouseEvent event(type, pos, view->viewport()->mapToGlobal(pos),
                              type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                              Qt::KeyboardModifiers(modifiers));
            QCoreApplication::sendEvent(view->viewport(), &event);
        };
        send(QEvent::MouseButtonPress, from, Qt::LeftButton);
        for (int step = 1; step <= 10; ++step)
            send(QEvent::MouseMove, from + (to - from) * step / 10, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, to, Qt::NoButton);

        QList<AbstractField*> expected;
        for (int index : selectedAfter)
            expected << fields.at(index);
        QCOMPARE(canvas.scene()->selectedFields(), expected);
        QCOMPARE(view->dragMode(), QGraphicsView::ScrollHandDrag);
        QCOMPARE(fields.at(0)->geometry(), QRectF(30, 30, 20, 10));
    }

    void columnBorderDrag_data() {
        QTest::addColumn<bool>("autoWidth");
        QTest::newRow("fixed widths: the column widens") << false;
        QTest::newRow("auto width: no grab, the table moves") << true;
    }
    void columnBorderDrag() {
        QFETCH(bool, autoWidth);
        Canvas canvas;
        TableField* table = canvas.addTable(autoWidth);
        canvas.scene()->selectFields({table});
        FieldGraphicsItem* item = canvas.scene()->itemFor(table);
        const QPointF border = canvas.px(20 + table->effectiveColumnsWidth().first(), 50);
        QCOMPARE(item->hoverCursor(border).shape(), autoWidth ? Qt::OpenHandCursor : Qt::SizeHorCursor);

        const QList<double> widthsBefore = table->columnsWidth();
        drag(canvas.scene(), {border, border + canvas.px(10, 0)});
        if (autoWidth) {
            QCOMPARE(table->columnsWidth(), widthsBefore);
            QVERIFY(qAbs(table->x() - 30.0) < 1e-9);
        } else {
            QVERIFY(qAbs(table->columnsWidth().at(0) - 40.0) < 1e-9);
            QCOMPARE(table->columnsWidth().at(1), 40.0);
            QCOMPARE(table->x(), 20.0);
            // The item follows the wider table.
            QVERIFY(qAbs(item->rect().width() - 80.0 * canvas.s()) < 1e-6);
        }
    }

    void dropVariables_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("dragged");
        QTest::addColumn<bool>("accepted");
        const int text = AbstractField::TextType, table = AbstractField::TableType;
        QTest::newRow("variable on text") << text << QStringLiteral("$V{fio}") << true;
        QTest::newRow("column on text") << text << QStringLiteral("$D{subjects.name}") << false;
        QTest::newRow("column on table") << table << QStringLiteral("$D{subjects.name}") << true;
        QTest::newRow("variable on table") << table << QStringLiteral("$V{fio}") << false;
    }
    void dropVariables() {
        QFETCH(int, type);
        QFETCH(QString, dragged);
        QFETCH(bool, accepted);
        Canvas canvas;
        canvas.widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&canvas.widget));
        AbstractField* field = type == AbstractField::TableType ? static_cast<AbstractField*>(canvas.addTable(false))
                                                                : canvas.add<TextField>({20, 40, 60, 12});
        canvas.scene()->selectFields({field});
        QSignalSpy shown(canvas.scene(), &MyGraphicsScene::selectedFieldChanged);
        MyGraphicsView* view = canvas.widget.view();
        view->centerOn(canvas.px(50, 45));
        // Inside the second column of the table (20 + 30 mm onwards), inside the text field too.
        const QPoint pos = view->mapFromScene(canvas.px(60, 50));

        QStandardItemModel model;
        std::unique_ptr<QMimeData> data(variableDrag(model, dragged));
        QDragEnterEvent enter(pos, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDragMoveEvent move(pos, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view->viewport(), &move);
        QCOMPARE(move.isAccepted(), accepted);
        QDropEvent drop(pos, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view->viewport(), &drop);

        const QStringList texts = type == AbstractField::TableType
                                      ? static_cast<TableField*>(field)->columnIds()
                                      : QStringList{static_cast<TextField*>(field)->text()};
        const QStringList expected = type == AbstractField::TableType
                                         ? QStringList{QStringLiteral("a"), accepted ? dragged : QStringLiteral("b")}
                                         : QStringList{accepted ? dragged : QString()};
        QCOMPARE(texts, expected);
        // The property panel is told to show the field again.
        QCOMPARE(shown.count(), accepted ? 1 : 0);
        if (accepted)
            QCOMPARE(shown.last().first().value<AbstractField*>(), field);
    }

    void itemsFollowFields() {
        Canvas canvas;
        QSignalSpy changed(canvas.scene(), &MyGraphicsScene::selectedFieldChanged);
        auto* field = canvas.add<TextField>({20, 30, 40, 10});
        FieldGraphicsItem* item = canvas.scene()->itemFor(field);
        QVERIFY(item);
        QCOMPARE(item->rect(), QRectF(canvas.px(20, 30), canvas.px(60, 40)));
        // A field added by the user is selected at once.
        QCOMPARE(canvas.scene()->selectedFields(), QList<AbstractField*>{field});
        QCOMPARE(changed.last().first().value<AbstractField*>(), field);

        field->setGeometry(25, 35, 40, 10);
        QCOMPARE(item->rect().topLeft(), canvas.px(25, 35));

        std::unique_ptr<AbstractField> taken(canvas.page.takeField(field));
        QVERIFY(!canvas.scene()->itemFor(field));
        QCOMPARE(canvas.scene()->selectedFields(), QList<AbstractField*>{});
        QCOMPARE(changed.last().first().value<AbstractField*>(), nullptr);
        int fieldItems = 0;
        for (QGraphicsItem* shown : canvas.scene()->items())
            fieldItems += shown->type() == FieldGraphicsItem::Type ? 1 : 0;
        QCOMPARE(fieldItems, 0);
    }

    void sidesFollowPage_data() {
        QTest::addColumn<int>("pages");
        QTest::addColumn<bool>("secondBackground");
        QTest::newRow("one side") << 1 << false;
        QTest::newRow("two sides") << 2 << false;
        QTest::newRow("two sides, second background") << 2 << true;
        QTest::newRow("three sides, backgrounds alternate") << 3 << true;
    }
    void sidesFollowPage() {
        QFETCH(int, pages);
        QFETCH(bool, secondBackground);
        Canvas canvas;
        canvas.page.setPagesCount(pages);
        if (secondBackground) {
            QPixmap pixmap(40, 60);
            pixmap.fill(Qt::darkCyan);
            canvas.page.setBackgroundImage2(pixmap);
        }
        const QList<QRectF> sides = canvas.scene()->sideRects();
        QCOMPARE(sides.size(), pages);
        for (int i = 1; i < sides.size(); ++i)
            QCOMPARE(sides.at(i).top(), sides.at(i - 1).bottom());
        const QList<QGraphicsPixmapItem*> backgrounds = canvas.scene()->backgroundItems();
        QCOMPARE(backgrounds.size(), pages);
        for (int i = 0; i < pages; ++i) {
            QCOMPARE(backgrounds.at(i) != nullptr, secondBackground && i % 2 == 1);
            if (backgrounds.at(i))
                QCOMPARE(backgrounds.at(i)->sceneBoundingRect(), sides.at(i));
        }
    }

    void dragIsOneUndoStep_data() {
        QTest::addColumn<QList<QPointF>>("pathMm");
        QTest::addColumn<int>("steps");
        QTest::newRow("moved") << QList<QPointF>{{40, 35}, {45, 38}, {50, 40}} << 1;
        QTest::newRow("right edge") << QList<QPointF>{{60, 35}, {65, 35}, {70, 36}} << 1;
        QTest::newRow("click without a move") << QList<QPointF>{{40, 35}} << 0;
        QTest::newRow("away and back") << QList<QPointF>{{40, 35}, {48, 40}, {40, 35}} << 0;
        QTest::newRow("edge away and back") << QList<QPointF>{{20, 35}, {24.3, 35}, {20, 35}} << 0;
    }
    void dragIsOneUndoStep() {
        QFETCH(QList<QPointF>, pathMm);
        QFETCH(int, steps);
        Canvas canvas(true);
        auto* field = canvas.add<TextField>({20, 30, 40, 10});
        canvas.stack.clear();
        canvas.scene()->selectFields({field});
        QSignalSpy changes(&canvas.page, &ReportPage::fieldChanged);
        QList<QPointF> path;
        for (const QPointF& mm : pathMm)
            path << canvas.px(mm.x(), mm.y());
        drag(canvas.scene(), path);
        QCOMPARE(canvas.stack.count(), steps);
        if (steps == 0)
            QCOMPARE(field->geometry(), QRectF(20, 30, 40, 10));
        if (pathMm.size() == 1)
            QCOMPARE(changes.count(), 0);
        canvas.stack.undo();
        QCOMPARE(field->geometry(), QRectF(20, 30, 40, 10));
        QCOMPARE(canvas.scene()->itemFor(field)->rect(), QRectF(canvas.px(20, 30), canvas.px(60, 40)));
    }

    void dragWithoutReleaseEndsWithTheScene() {
        Canvas canvas(true);
        auto* field = canvas.add<TextField>({20, 30, 40, 10});
        canvas.stack.clear();
        canvas.scene()->selectFields({field});
        sendMouse(canvas.scene(), QEvent::GraphicsSceneMousePress, canvas.px(40, 35), Qt::LeftButton);
        sendMouse(canvas.scene(), QEvent::GraphicsSceneMouseMove, canvas.px(50, 45), Qt::LeftButton);
        QVERIFY(EditHistory::of(&canvas.page)->isGroupOpen());
        canvas.widget.setReportPage(nullptr);
        QVERIFY(!EditHistory::of(&canvas.page)->isGroupOpen());
        QCOMPARE(canvas.stack.count(), 1);
        QCOMPARE(field->geometry(), QRectF(30, 40, 40, 10));
        canvas.stack.undo();
        QCOMPARE(field->geometry(), QRectF(20, 30, 40, 10));
    }

    void visibleCentreIsInMillimetres() {
        Canvas canvas;
        canvas.widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&canvas.widget));
        canvas.widget.view()->centerOn(canvas.px(100, 70));
        const QPointF centre = canvas.widget.visibleCentreMm();
        QVERIFY2(qAbs(centre.x() - 100) < 1 && qAbs(centre.y() - 70) < 1,
                 qPrintable(QStringLiteral("%1, %2").arg(centre.x()).arg(centre.y())));
        canvas.widget.setReportPage(nullptr);
        QCOMPARE(canvas.widget.visibleCentreMm(), QPointF());
    }
};

ORVANE_TEST(TestCanvas)
#include "tst_canvas.moc"
