#pragma once

#include "abstractfield.h"
#include "reportpage.h"

#include <QByteArray>
#include <QGraphicsScene>
#include <QHash>
#include <QList>
#include <QPointer>

class AbstractField;
class FieldGraphicsItem;
class QGraphicsPixmapItem;
class QGraphicsRectItem;
class ReportPage;

// The edited template: one rectangle per printed side, the backgrounds behind them and one item
// per field. The scene follows the page's notifications, so whoever changes the page (a panel,
// the undo stack) is shown without telling the scene.
class MyGraphicsScene : public QGraphicsScene {
    Q_OBJECT

public:
    explicit MyGraphicsScene(QObject* parent = nullptr);
    ~MyGraphicsScene() override;

    // Non-owning; null empties the scene.
    void setPage(ReportPage* page);
    ReportPage* page() const;

    // In the page's painting order.
    QList<AbstractField*> selectedFields() const;
    void selectFields(const QList<AbstractField*>& fields);
    // Selects only `field` and tells the property panel again, even when it was selected already
    // (after an edit the panel did not make).
    void showField(AbstractField* field);
    FieldGraphicsItem* itemFor(const AbstractField* field) const;
    // The device-pixel rectangle of each printed side, top to bottom.
    QList<QRectF> sideRects() const;
    // Background item per side, null where the side has none.
    QList<QGraphicsPixmapItem*> backgroundItems() const { return _backgrounds; }

signals:
    // The one selected field, or null when none or several are selected.
    void selectedFieldChanged(AbstractField* field);

public slots:
    void onFieldsUpdated();
    void onPageUpdated();
    void onMoveField(Qt::ArrowType direction);
    void updateAllItems();
    void onSelectionChanged();

private slots:
    void onFieldAdded(AbstractField* field);
    void onFieldRemoved(AbstractField* field);
    void onFieldChanged(AbstractField* field, const QByteArray& property);
    void onPageChanged(const QByteArray& property);

private:
    void clearAll();
    void rebuildSides();
    void addItem(AbstractField* field);
    void restack();
    void growSceneRect(const QRectF& rect);
    AbstractField* singleSelectedField() const;

    QPointer<ReportPage> _page;
    QHash<const AbstractField*, FieldGraphicsItem*> _items;
    QList<QGraphicsRectItem*> _sides;
    QList<QGraphicsPixmapItem*> _backgrounds;
    QPointer<AbstractField> _current;
    bool _selecting = false;
};
