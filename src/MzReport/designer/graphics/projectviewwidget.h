#pragma once

#include "reportpage.h"

#include <QPointF>
#include <QPointer>
#include <QWidget>

class MyGraphicsScene;
class MyGraphicsView;
class ReportPage;

// The designer's canvas: a view that always fills the widget, showing the scene of one page. The
// view and the scene live as long as the widget, so connections to them survive a change of page.
class ProjectViewWidget : public QWidget {
    Q_OBJECT

public:
    explicit ProjectViewWidget(QWidget* parent = nullptr);
    ~ProjectViewWidget() override;

    // Non-owning; null empties the canvas.
    void setReportPage(ReportPage* page);
    ReportPage* reportPage() const;
    MyGraphicsScene* scene() const { return _scene; }
    MyGraphicsView* view() const { return _view; }
    // Centre of the visible part of the canvas, in millimetres of the page (0, 0 without a page).
    QPointF visibleCentreMm() const;

signals:
    // The selection or the page changed: actions that depend on them may need another state.
    void updateActions();

public slots:
    void on_zoomIn();
    void on_zoomOut();
    void resizeChildren();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QPointer<ReportPage> _page;
    MyGraphicsScene* _scene;
    MyGraphicsView* _view;
};
