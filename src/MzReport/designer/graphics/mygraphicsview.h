#pragma once

#include <QGraphicsView>
#include <QPoint>
#include <QString>

class AbstractField;
class FieldGraphicsItem;
class QMimeData;

// The canvas's view: zooms with Ctrl and the wheel, pans with the right button (and the left one
// on empty space), selects several fields with a rubber band when Ctrl or Shift is held, and takes
// variables dropped from the variable manager onto fields.
class MyGraphicsView : public QGraphicsView {
    Q_OBJECT

public:
    explicit MyGraphicsView(QWidget* parent = nullptr);

    double currentScale() const;
    // Dragged rows of an item view, as the variable manager sends them.
    static QString itemModelMimeType() { return QStringLiteral("application/x-qabstractitemmodeldatalist"); }
    // The display text of the first dragged cell, empty when there is none.
    static QString draggedText(const QMimeData* data);

    static constexpr double zoomStep = 1.125;
    static constexpr double minZoom = 0.7;
    static constexpr double maxZoom = 2.5;

public slots:
    void zoomIn();
    void zoomOut();

protected:
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    FieldGraphicsItem* fieldItemAt(const QPoint& viewPos) const;
    // Whether the dragged text may land on the item's field.
    bool acceptsDrop(const FieldGraphicsItem* item) const;
    void updateHoverCursor(const QPoint& viewPos);

    bool _panning = false;
    QPoint _panStart;
    bool _rubberBand = false;
    QString _dragText;
};
