#include "mygraphicsscene.h"

#include "abstractfield.h"
#include "edithistory.h"
#include "fieldgraphicsitem.h"
#include "reportpage.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QPrinter>

namespace {
const QString nudgeText = QStringLiteral("Сдвиг полей");
constexpr double nudgeMm = 1.0;
// Free room around the sides, in pixels, so that a side's edge can be scrolled into the middle.
constexpr double sceneMargin = 40.0;
constexpr double sideZ = -3.0;
constexpr double backgroundZ = -2.0;
constexpr double backgroundOpacity = 0.5;
} // namespace

MyGraphicsScene::MyGraphicsScene(QObject* parent) : QGraphicsScene(parent) {
    connect(this, &QGraphicsScene::selectionChanged, this, &MyGraphicsScene::onSelectionChanged);
}

MyGraphicsScene::~MyGraphicsScene() {
    // Open drags end while the scene is whole; nobody listens for the emptied selection any more.
    blockSignals(true);
    clearAll();
}

ReportPage* MyGraphicsScene::page() const {
    return _page;
}

void MyGraphicsScene::setPage(ReportPage* page) {
    if (_page)
        disconnect(_page, nullptr, this, nullptr);
    clearAll();
    _page = page;
    if (page) {
        connect(page, &ReportPage::fieldAdded, this, &MyGraphicsScene::onFieldAdded);
        connect(page, &ReportPage::fieldRemoved, this, &MyGraphicsScene::onFieldRemoved);
        connect(page, &ReportPage::fieldChanged, this, &MyGraphicsScene::onFieldChanged);
        connect(page, &ReportPage::pageChanged, this, &MyGraphicsScene::onPageChanged);
        // Its fields go with it, so must their items.
        connect(page, &QObject::destroyed, this, &MyGraphicsScene::clearAll);
        for (AbstractField* field : page->fields())
            addItem(field);
        restack();
    }
    rebuildSides();
}

void MyGraphicsScene::clearAll() {
    const QList<FieldGraphicsItem*> items = _items.values();
    _items.clear();
    // Deleting a grabbing item closes its drag before the page can go.
    qDeleteAll(items);
    qDeleteAll(_sides);
    _sides.clear();
    qDeleteAll(_backgrounds);
    _backgrounds.clear();
    _current = nullptr;
}

// ---- sides and backgrounds

QList<QRectF> MyGraphicsScene::sideRects() const {
    QList<QRectF> rects;
    if (!_page)
        return rects;
    const QSizeF size = _page->printer()->pageRect(QPrinter::DevicePixel).size();
    for (int side = 0; side < _page->pagesCount(); ++side)
        rects << QRectF(QPointF(0.0, side * size.height()), size);
    return rects;
}

void MyGraphicsScene::rebuildSides() {
    qDeleteAll(_sides);
    _sides.clear();
    qDeleteAll(_backgrounds);
    _backgrounds.clear();
    QRectF bounds;
    const QList<QRectF> rects = sideRects();
    for (int index = 0; index < rects.size(); ++index) {
        const QRectF& rect = rects.at(index);
        auto* side = new QGraphicsRectItem(rect);
        side->setBrush(Qt::white);
        side->setPen(QPen(Qt::gray, 0));
        side->setZValue(sideZ);
        QGraphicsScene::addItem(side);
        _sides << side;
        bounds |= rect;

        const QPixmap pixmap = index % 2 ? _page->backgroundImage2() : _page->backgroundImage();
        QGraphicsPixmapItem* background = nullptr;
        if (!pixmap.isNull() && pixmap.width() > 0 && pixmap.height() > 0) {
            background = new QGraphicsPixmapItem(pixmap);
            background->setTransformationMode(Qt::SmoothTransformation);
            // Stretched over the side as printing stretches it over the page.
            background->setTransform(
                QTransform::fromScale(rect.width() / pixmap.width(), rect.height() / pixmap.height()));
            background->setPos(rect.topLeft());
            background->setOpacity(backgroundOpacity);
            background->setZValue(backgroundZ);
            QGraphicsScene::addItem(background);
        }
        _backgrounds << background;
    }
    for (FieldGraphicsItem* item : qAsConst(_items))
        bounds |= item->rect();
    setSceneRect(bounds.adjusted(-sceneMargin, -sceneMargin, sceneMargin, sceneMargin));
}

void MyGraphicsScene::growSceneRect(const QRectF& rect) {
    const QRectF wanted = rect.adjusted(-sceneMargin, -sceneMargin, sceneMargin, sceneMargin);
    if (!sceneRect().contains(wanted))
        setSceneRect(sceneRect() | wanted);
}

// ---- fields

FieldGraphicsItem* MyGraphicsScene::itemFor(const AbstractField* field) const {
    return _items.value(field, nullptr);
}

void MyGraphicsScene::addItem(AbstractField* field) {
    if (!field || _items.contains(field))
        return;
    auto* item = new FieldGraphicsItem(field);
    _items.insert(field, item);
    QGraphicsScene::addItem(item);
    growSceneRect(item->rect());
}

// Later fields paint over earlier ones, as on paper.
void MyGraphicsScene::restack() {
    if (!_page)
        return;
    const QList<AbstractField*>& fields = _page->fields();
    for (int i = 0; i < fields.size(); ++i) {
        if (FieldGraphicsItem* item = itemFor(fields.at(i)))
            item->setZValue(i);
    }
}

void MyGraphicsScene::onFieldAdded(AbstractField* field) {
    addItem(field);
    restack();
    // Fields join the page on a user's action (an addition, a paste, an undone removal): show them.
    if (itemFor(field))
        selectFields({field});
}

void MyGraphicsScene::onFieldRemoved(AbstractField* field) {
    // The field may be deleted later; only the pointer is compared here.
    delete _items.take(field);
}

void MyGraphicsScene::onFieldChanged(AbstractField* field, const QByteArray&) {
    if (FieldGraphicsItem* item = itemFor(field)) {
        item->onFieldUpdated();
        growSceneRect(item->rect());
    }
}

void MyGraphicsScene::onPageChanged(const QByteArray& property) {
    static const QList<QByteArray> layout = {"pagesCount", "pageSize", "orientation", "backgroundImage",
                                             "backgroundImage2"};
    if (layout.contains(property))
        onPageUpdated();
    else if (property == "defaultFont")
        updateAllItems();
}

void MyGraphicsScene::onFieldsUpdated() {
    updateAllItems();
}

void MyGraphicsScene::onPageUpdated() {
    rebuildSides();
    updateAllItems();
}

void MyGraphicsScene::updateAllItems() {
    for (FieldGraphicsItem* item : qAsConst(_items)) {
        if (AbstractField* field = item->field())
            field->invalidateLayout();
        item->onFieldUpdated();
    }
    update();
}

// ---- selection

QList<AbstractField*> MyGraphicsScene::selectedFields() const {
    QList<AbstractField*> fields;
    if (!_page)
        return fields;
    for (AbstractField* field : _page->fields()) {
        const FieldGraphicsItem* item = itemFor(field);
        if (item && item->isSelected())
            fields << field;
    }
    return fields;
}

void MyGraphicsScene::selectFields(const QList<AbstractField*>& fields) {
    _selecting = true;
    clearSelection();
    for (const AbstractField* field : fields) {
        if (FieldGraphicsItem* item = itemFor(field))
            item->setSelected(true);
    }
    _selecting = false;
    onSelectionChanged();
}

void MyGraphicsScene::showField(AbstractField* field) {
    const AbstractField* before = _current;
    selectFields({field});
    if (_current == field && before == field)
        emit selectedFieldChanged(field);
}

AbstractField* MyGraphicsScene::singleSelectedField() const {
    const QList<AbstractField*> fields = selectedFields();
    return fields.size() == 1 ? fields.first() : nullptr;
}

void MyGraphicsScene::onSelectionChanged() {
    if (_selecting)
        return;
    AbstractField* field = singleSelectedField();
    if (field == _current)
        return;
    _current = field;
    emit selectedFieldChanged(field);
}

void MyGraphicsScene::onMoveField(Qt::ArrowType direction) {
    const QList<AbstractField*> fields = selectedFields();
    if (fields.isEmpty())
        return;
    double dx = 0.0, dy = 0.0;
    switch (direction) {
    case Qt::UpArrow:
        dy = -nudgeMm;
        break;
    case Qt::DownArrow:
        dy = nudgeMm;
        break;
    case Qt::LeftArrow:
        dx = -nudgeMm;
        break;
    case Qt::RightArrow:
        dx = nudgeMm;
        break;
    default:
        return;
    }
    {
        EditHistory::Group group(_page, nudgeText, EditHistory::NudgeRun);
        for (AbstractField* field : fields)
            field->setGeometry(field->x() + dx, field->y() + dy, field->width(), field->height());
    }
    emit selectedFieldChanged(singleSelectedField());
}
