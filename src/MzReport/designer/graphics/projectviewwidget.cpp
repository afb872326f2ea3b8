#include "projectviewwidget.h"

#include "mygraphicsscene.h"
#include "mygraphicsview.h"
#include "reportpage.h"

#include <QResizeEvent>

ProjectViewWidget::ProjectViewWidget(QWidget* parent)
    : QWidget(parent), _scene(new MyGraphicsScene(this)), _view(new MyGraphicsView(this)) {
    resize(728, 454);
    _view->setScene(_scene);
    connect(_scene, &QGraphicsScene::selectionChanged, this, &ProjectViewWidget::updateActions);
    resizeChildren();
}

ProjectViewWidget::~ProjectViewWidget() {
    // A drag still open ends before the view and the page go.
    _scene->setPage(nullptr);
}

ReportPage* ProjectViewWidget::reportPage() const {
    return _page;
}

void ProjectViewWidget::setReportPage(ReportPage* page) {
    _page = page;
    _scene->setPage(page);
    if (page)
        _view->centerOn(_scene->sceneRect().topLeft() +
                        QPointF(_view->viewport()->width() / 2.0 / _view->currentScale(),
                                _view->viewport()->height() / 2.0 / _view->currentScale()));
    emit updateActions();
}

QPointF ProjectViewWidget::visibleCentreMm() const {
    if (!_page)
        return QPointF();
    const double mmToPx = _page->mmToPx();
    if (!(mmToPx > 0.0))
        return QPointF();
    return _view->mapToScene(_view->viewport()->rect().center()) / mmToPx;
}

void ProjectViewWidget::on_zoomIn() {
    _view->zoomIn();
}

void ProjectViewWidget::on_zoomOut() {
    _view->zoomOut();
}

void ProjectViewWidget::resizeChildren() {
    _view->setGeometry(rect());
}

void ProjectViewWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    resizeChildren();
}
