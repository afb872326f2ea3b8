#pragma once

#include "abstractfield.h"

#include <QCursor>
#include <QGraphicsRectItem>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointF>
#include <QPointer>
#include <QRectF>

class AbstractField;
class EditHistory;
class ReportPage;

// One field on the canvas. The item shows the field and turns mouse drags into calls of the
// field's setters; it keeps nothing of the field but what one drag needs.
class FieldGraphicsItem : public QObject, public QGraphicsRectItem {
    Q_OBJECT

public:
    enum Edge { NoEdge, LeftEdge, RightEdge, TopEdge, BottomEdge };
    enum { Type = UserType + 1 };
    // Pixels around an edge or a column border that grab it.
    static constexpr double grabMargin = 5.0;

    explicit FieldGraphicsItem(AbstractField* field, QGraphicsItem* parent = nullptr);
    ~FieldGraphicsItem() override;

    int type() const override { return Type; }
    AbstractField* field() const;
    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

    // What a press at `scenePos` would grab, were this item the only one selected.
    Edge edgeAt(const QPointF& scenePos) const;
    // The table column whose right border is at `scenePos`, -1 for none (or no table to widen).
    int columnBorderAt(const QPointF& scenePos) const;
    // The column under `scenePos` (any table), -1 outside the columns.
    int columnAt(const QPointF& scenePos) const;
    // The cursor shown while hovering over this item.
    QCursor hoverCursor(const QPointF& scenePos) const;
    bool isDragging() const { return _dragging; }
    // Closes a drag whose release never came; what it changed so far stays as one step.
    void endDrag();

public slots:
    void onFieldUpdated();
    void onTableFieldModified();

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;
    bool sceneEvent(QEvent* event) override;

private:
    double scale() const;
    bool isSoleSelection() const;
    void beginDrag(const QPointF& scenePos, bool mayGrab);
    void dragEdge(const QPointF& d);
    void dragColumn(const QPointF& d);
    void dragSelection(const QPointF& d);

    QPointer<AbstractField> _field;
    bool _dragging = false;
    Edge _edge = NoEdge;
    int _column = -1;
    double _columnWidthAtPress = 0.0;
    QPointF _pressPos;
    // Pixel rectangle of this item and millimetre geometry of every moved field, at the press.
    QRectF _rectAtPress;
    QList<QPair<QPointer<AbstractField>, QRectF>> _geometryAtPress;
    bool _moved = false;
    QPointer<EditHistory> _history;
};
