#include "mygraphicsview.h"

#include "edithistory.h"
#include "fieldgraphicsitem.h"
#include "mygraphicsscene.h"
#include "tablefield.h"
#include "textfield.h"

#include <QDataStream>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <cmath>
#include <utility>

namespace {
const QString dropText = QStringLiteral("Вставка переменной");
const QString variableOpen = QStringLiteral("$V{");
const QString columnOpen = QStringLiteral("$D{");
// Right-button panning scrolls this much slower than the mouse moves, times the zoom.
constexpr double panDivisor = 13.0;
} // namespace

MyGraphicsView::MyGraphicsView(QWidget* parent) : QGraphicsView(parent) {
    setStyleSheet(QStringLiteral("background-color: transparent;"));
    setRenderHint(QPainter::Antialiasing);
    setInteractive(true);
    setTransformationAnchor(QGraphicsView::NoAnchor);
    setDragMode(QGraphicsView::ScrollHandDrag);
    setRubberBandSelectionMode(Qt::IntersectsItemShape);
    setAcceptDrops(true);
    setMouseTracking(true);
}

double MyGraphicsView::currentScale() const {
    return transform().m11();
}

// Each step is taken while the scale is inside the limits, so the last one passes a limit.
void MyGraphicsView::zoomIn() {
    if (currentScale() < maxZoom)
        scale(zoomStep, zoomStep);
}

void MyGraphicsView::zoomOut() {
    if (currentScale() > minZoom)
        scale(1.0 / zoomStep, 1.0 / zoomStep);
}

void MyGraphicsView::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QGraphicsView::wheelEvent(event);
        return;
    }
    const int delta = event->angleDelta().y();
    if (delta > 0)
        zoomIn();
    else if (delta < 0)
        zoomOut();
    event->accept();
}

// ---- mouse

FieldGraphicsItem* MyGraphicsView::fieldItemAt(const QPoint& viewPos) const {
    for (QGraphicsItem* item : items(viewPos)) {
        if (item->type() == FieldGraphicsItem::Type)
            return static_cast<FieldGraphicsItem*>(item);
    }
    return nullptr;
}

void MyGraphicsView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        _panning = true;
        _panStart = event->pos();
        viewport()->setCursor(Qt::ClosedHandCursor);
        event->accept();
        return;
    }
    // Ctrl or Shift on empty space draws a rubber band (Ctrl adds to the selection, Shift replaces
    // it); a plain drag there pans.
    const bool selecting = event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier);
    if (event->button() == Qt::LeftButton && selecting && !fieldItemAt(event->pos())) {
        _rubberBand = true;
        setDragMode(QGraphicsView::RubberBandDrag);
    }
    QGraphicsView::mousePressEvent(event);
}

void MyGraphicsView::mouseMoveEvent(QMouseEvent* event) {
    if (_panning) {
        const QPoint d = event->pos() - _panStart;
        const double factor = currentScale() / panDivisor;
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - int(std::lround(d.x() * factor)));
        verticalScrollBar()->setValue(verticalScrollBar()->value() - int(std::lround(d.y() * factor)));
        event->accept();
        return;
    }
    QGraphicsView::mouseMoveEvent(event);
    if (event->buttons() == Qt::NoButton)
        updateHoverCursor(event->pos());
}

void MyGraphicsView::mouseReleaseEvent(QMouseEvent* event) {
    if (_panning && event->button() == Qt::RightButton) {
        _panning = false;
        updateHoverCursor(event->pos());
        event->accept();
        return;
    }
    QGraphicsView::mouseReleaseEvent(event);
    if (_rubberBand && event->button() == Qt::LeftButton) {
        _rubberBand = false;
        setDragMode(QGraphicsView::ScrollHandDrag);
    }
    updateHoverCursor(event->pos());
}

void MyGraphicsView::updateHoverCursor(const QPoint& viewPos) {
    const FieldGraphicsItem* item = fieldItemAt(viewPos);
    if (item)
        viewport()->setCursor(item->hoverCursor(mapToScene(viewPos)));
    else
        viewport()->setCursor(dragMode() == QGraphicsView::ScrollHandDrag ? Qt::OpenHandCursor : Qt::ArrowCursor);
}

// ---- variables dropped from the variable manager

QString MyGraphicsView::draggedText(const QMimeData* data) {
    if (!data || !data->hasFormat(itemModelMimeType()))
        return QString();
    QByteArray encoded = data->data(itemModelMimeType());
    QDataStream stream(&encoded, QIODevice::ReadOnly);
    QString first;
    while (!stream.atEnd()) {
        int row = 0, column = 0;
        QMap<int, QVariant> roles;
        stream >> row >> column >> roles;
        if (stream.status() != QDataStream::Ok)
            break;
        const QString text = roles.value(Qt::DisplayRole).toString();
        // A dragged row may carry the value beside the placeholder: the placeholder is what lands.
        if (text.contains(variableOpen) || text.contains(columnOpen))
            return text;
        if (first.isEmpty())
            first = text;
    }
    return first;
}

bool MyGraphicsView::acceptsDrop(const FieldGraphicsItem* item) const {
    const AbstractField* field = item ? item->field() : nullptr;
    if (!field || _dragText.isEmpty())
        return false;
    if (field->type() == AbstractField::TableType)
        return _dragText.contains(columnOpen);
    return _dragText.contains(variableOpen);
}

void MyGraphicsView::dragEnterEvent(QDragEnterEvent* event) {
    _dragText = draggedText(event->mimeData());
    if (_dragText.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void MyGraphicsView::dragMoveEvent(QDragMoveEvent* event) {
    if (acceptsDrop(fieldItemAt(event->pos())))
        event->acceptProposedAction();
    else
        event->ignore();
}

void MyGraphicsView::dragLeaveEvent(QDragLeaveEvent* event) {
    _dragText.clear();
    event->accept();
}

void MyGraphicsView::dropEvent(QDropEvent* event) {
    if (_dragText.isEmpty())
        _dragText = draggedText(event->mimeData());
    FieldGraphicsItem* item = fieldItemAt(event->pos());
    const bool accepted = acceptsDrop(item);
    const QString text = std::exchange(_dragText, QString());
    if (!accepted) {
        event->ignore();
        return;
    }
    AbstractField* field = item->field();
    auto* scene = qobject_cast<MyGraphicsScene*>(this->scene());
    if (field->type() == AbstractField::TableType) {
        auto* table = static_cast<TableField*>(field);
        const int column = item->columnAt(mapToScene(event->pos()));
        if (column < 0) {
            event->ignore();
            return;
        }
        QStringList ids = table->columnIds();
        while (ids.size() <= column)
            ids.append(QString());
        ids[column] = text;
        EditHistory::Group group(field->page(), dropText);
        table->setColumnIds(ids);
    } else {
        EditHistory::Group group(field->page(), dropText);
        static_cast<TextField*>(field)->setText(text);
    }
    // The field that took the variable is the one the property panel shows.
    if (scene)
        scene->showField(field);
    event->acceptProposedAction();
}
