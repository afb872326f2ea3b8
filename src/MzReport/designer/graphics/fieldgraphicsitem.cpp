#include "fieldgraphicsitem.h"

#include "abstractfield.h"
#include "edithistory.h"
#include "reportpage.h"
#include "tablefield.h"

#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>
#include <QStyleOptionGraphicsItem>
#include <cmath>

namespace {
const QString moveText = QStringLiteral("Перемещение полей");
const QString resizeText = QStringLiteral("Изменение размера поля");
const QString columnText = QStringLiteral("Ширина столбца");

// Smallest size an edge drag leaves, in pixels, and the narrowest column, in millimetres.
constexpr double minEdgeSize = 5.0;
constexpr double minColumnWidth = 1.0;

TableField* asTable(AbstractField* field) {
    return field && field->type() == AbstractField::TableType ? static_cast<TableField*>(field) : nullptr;
}

// The stored widths with one entry per column, so that widening one keeps the others.
QList<double> fullColumnsWidth(const TableField* table) {
    QList<double> widths = table->columnsWidth();
    const QList<double> effective = table->effectiveColumnsWidth();
    while (widths.size() < table->columnCount())
        widths.append(widths.size() < effective.size() ? effective.at(widths.size()) : 0.0);
    return widths;
}
} // namespace

FieldGraphicsItem::FieldGraphicsItem(AbstractField* field, QGraphicsItem* parent)
    : QObject(nullptr), QGraphicsRectItem(parent), _field(field) {
    setFlag(ItemIsSelectable);
    setAcceptHoverEvents(false);
    onFieldUpdated();
}

FieldGraphicsItem::~FieldGraphicsItem() {
    endDrag();
}

AbstractField* FieldGraphicsItem::field() const {
    return _field;
}

double FieldGraphicsItem::scale() const {
    const ReportPage* page = _field ? _field->page() : nullptr;
    return page ? page->mmToPx() : 0.0;
}

void FieldGraphicsItem::onFieldUpdated() {
    const double s = scale();
    if (!(s > 0.0))
        return;
    // A table sizes itself when laid out; the item must show that size.
    if (TableField* table = asTable(_field))
        table->prepare();
    const QRectF geometry = _field->geometry();
    prepareGeometryChange();
    setRect(QRectF(geometry.x() * s, geometry.y() * s, geometry.width() * s, geometry.height() * s));
    update();
}

void FieldGraphicsItem::onTableFieldModified() {
    if (TableField* table = asTable(_field))
        table->invalidateLayout();
    onFieldUpdated();
}

QRectF FieldGraphicsItem::boundingRect() const {
    QRectF bounds = rect().adjusted(-1.0, -1.0, 1.0, 1.0);
    const TableField* table = asTable(_field);
    const double s = scale();
    if (!table || !(s > 0.0))
        return bounds;
    // Later parts of a broken table are painted where they continue.
    const QList<double> xs = table->splitX(), ys = table->splitY();
    const double height = std::max(table->totalHeight(), table->height()) * s;
    for (int i = 0; i < table->splitsCount() && i < xs.size() && i < ys.size(); ++i) {
        if (xs.at(i) > 0.000001 || ys.at(i) > 0.000001)
            bounds |= QRectF(xs.at(i) * s, ys.at(i) * s, table->width() * s, height).adjusted(-1.0, -1.0, 1.0, 1.0);
    }
    return bounds;
}

void FieldGraphicsItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    const double s = scale();
    if (!(s > 0.0))
        return;
    painter->save();
    _field->paint(painter, s, 0.0);
    painter->restore();

    QPen pen(isSelected() ? Qt::red : Qt::darkGray);
    pen.setCosmetic(true);
    pen.setWidth(1);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(rect());
    if (isSelected())
        painter->fillRect(rect(), QColor(255, 0, 0, 10));
}

// ---- hit tests

FieldGraphicsItem::Edge FieldGraphicsItem::edgeAt(const QPointF& scenePos) const {
    if (!_field || _field->type() == AbstractField::TableType)
        return NoEdge;
    const QRectF r = rect();
    if (std::abs(scenePos.x() - r.left()) <= grabMargin)
        return LeftEdge;
    if (std::abs(scenePos.x() - r.right()) <= grabMargin)
        return RightEdge;
    if (std::abs(scenePos.y() - r.top()) <= grabMargin)
        return TopEdge;
    if (std::abs(scenePos.y() - r.bottom()) <= grabMargin)
        return BottomEdge;
    return NoEdge;
}

int FieldGraphicsItem::columnBorderAt(const QPointF& scenePos) const {
    const TableField* table = asTable(_field);
    const double s = scale();
    if (!table || table->autoWidth() || !(s > 0.0))
        return -1;
    const QList<double> widths = table->effectiveColumnsWidth();
    double border = rect().left();
    int best = -1;
    double bestDistance = grabMargin;
    for (int i = 0; i < widths.size(); ++i) {
        border += widths.at(i) * s;
        const double distance = std::abs(scenePos.x() - border);
        if (distance <= bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

int FieldGraphicsItem::columnAt(const QPointF& scenePos) const {
    const TableField* table = asTable(_field);
    const double s = scale();
    if (!table || !(s > 0.0) || scenePos.x() < rect().left())
        return -1;
    const QList<double> widths = table->effectiveColumnsWidth();
    double right = rect().left();
    for (int i = 0; i < widths.size(); ++i) {
        right += widths.at(i) * s;
        if (scenePos.x() < right)
            return i;
    }
    return -1;
}

QCursor FieldGraphicsItem::hoverCursor(const QPointF& scenePos) const {
    if (!isSelected())
        return Qt::ArrowCursor;
    if (isSoleSelection()) {
        if (columnBorderAt(scenePos) >= 0)
            return Qt::SizeHorCursor;
        switch (edgeAt(scenePos)) {
        case LeftEdge:
        case RightEdge:
            return Qt::SizeHorCursor;
        case TopEdge:
        case BottomEdge:
            return Qt::SizeVerCursor;
        case NoEdge:
            break;
        }
    }
    return Qt::OpenHandCursor;
}

bool FieldGraphicsItem::isSoleSelection() const {
    if (!isSelected() || !scene())
        return false;
    const QList<QGraphicsItem*> selected = scene()->selectedItems();
    return selected.size() == 1 && selected.first() == this;
}

// ---- dragging

void FieldGraphicsItem::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !(scale() > 0.0) || !scene()) {
        event->ignore();
        return;
    }
    event->accept();
    if (event->modifiers() & Qt::ControlModifier) {
        setSelected(!isSelected());
        return;
    }
    const bool mayGrab = isSoleSelection();
    if (!isSelected()) {
        scene()->clearSelection();
        setSelected(true);
    }
    beginDrag(event->scenePos(), mayGrab);
}

void FieldGraphicsItem::beginDrag(const QPointF& scenePos, bool mayGrab) {
    endDrag();
    _pressPos = scenePos;
    _rectAtPress = rect();
    _edge = NoEdge;
    _column = mayGrab ? columnBorderAt(scenePos) : -1;
    if (_column >= 0) {
        _columnWidthAtPress = fullColumnsWidth(asTable(_field)).value(_column);
    } else if (mayGrab) {
        _edge = edgeAt(scenePos);
    }
    _geometryAtPress.clear();
    if (_edge != NoEdge)
        _geometryAtPress.append({_field, _field->geometry()});
    if (_column < 0 && _edge == NoEdge) {
        for (QGraphicsItem* item : scene()->selectedItems()) {
            if (item->type() == Type) {
                AbstractField* field = static_cast<FieldGraphicsItem*>(item)->field();
                if (field)
                    _geometryAtPress.append({field, field->geometry()});
            }
        }
    }
    _moved = false;
    _dragging = true;
    _history = EditHistory::of(_field->page());
    if (_history)
        _history->beginGroup(_column >= 0 ? columnText : _edge != NoEdge ? resizeText : moveText);
}

void FieldGraphicsItem::mouseMoveEvent(QGraphicsSceneMouseEvent* event) {
    if (!_dragging || !(event->buttons() & Qt::LeftButton) || !_field || !(scale() > 0.0))
        return;
    const QPointF d = event->scenePos() - _pressPos;
    if (!_moved && d.isNull())
        return;
    _moved = true;
    if (_column >= 0)
        dragColumn(d);
    else if (_edge != NoEdge)
        dragEdge(d);
    else
        dragSelection(d);
}

void FieldGraphicsItem::dragSelection(const QPointF& d) {
    const double s = scale();
    const ReportPage* page = _field->page();
    for (const auto& entry : qAsConst(_geometryAtPress)) {
        AbstractField* field = entry.first;
        if (!field || field->page() != page)
            continue;
        const QRectF& g = entry.second;
        field->setGeometry(g.x() + d.x() / s, g.y() + d.y() / s, g.width(), g.height());
    }
}

void FieldGraphicsItem::dragEdge(const QPointF& d) {
    if (d.isNull()) {
        // Back where it started: exactly the old geometry, not one rounded through pixels.
        _field->setGeometry(_geometryAtPress.value(0).second);
        return;
    }
    QRectF r = _rectAtPress;
    switch (_edge) {
    case LeftEdge:
        r.setLeft(std::max(0.0, std::trunc(std::min(r.left() + d.x(), r.right() - minEdgeSize))));
        break;
    case TopEdge:
        r.setTop(std::max(0.0, std::trunc(std::min(r.top() + d.y(), r.bottom() - minEdgeSize))));
        break;
    case RightEdge:
        r.setWidth(std::max(minEdgeSize, r.right() + d.x() - r.left()));
        break;
    case BottomEdge:
        r.setHeight(std::max(minEdgeSize, r.bottom() + d.y() - r.top()));
        break;
    case NoEdge:
        return;
    }
    // A QR code is square: the edge that was not dragged follows the one that was.
    if (_field->type() == AbstractField::QrType) {
        if (_edge == LeftEdge || _edge == RightEdge)
            r.setHeight(r.width());
        else
            r.setWidth(r.height());
    }
    const double s = scale();
    _field->setGeometry(r.x() / s, r.y() / s, r.width() / s, r.height() / s);
}

void FieldGraphicsItem::dragColumn(const QPointF& d) {
    TableField* table = asTable(_field);
    if (!table)
        return;
    QList<double> widths = fullColumnsWidth(table);
    if (_column >= widths.size())
        return;
    widths[_column] = std::max(minColumnWidth, _columnWidthAtPress + d.x() / scale());
    table->setColumnsWidth(widths);
    onTableFieldModified();
}

void FieldGraphicsItem::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
    if (_dragging && !_moved && event->button() == Qt::LeftButton && scene() &&
        !(event->modifiers() & Qt::ControlModifier) && !isSoleSelection()) {
        // A click on one of several selected fields picks that field alone.
        scene()->clearSelection();
        setSelected(true);
    }
    endDrag();
    event->accept();
}

bool FieldGraphicsItem::sceneEvent(QEvent* event) {
    // The grab can go without a release (a popup, a window taking the mouse).
    if (event->type() == QEvent::UngrabMouse)
        endDrag();
    return QGraphicsRectItem::sceneEvent(event);
}

void FieldGraphicsItem::endDrag() {
    if (!_dragging)
        return;
    _dragging = false;
    _moved = false;
    _geometryAtPress.clear();
    const QPointer<EditHistory> history = _history;
    _history = nullptr;
    if (history)
        history->endGroup();
}
