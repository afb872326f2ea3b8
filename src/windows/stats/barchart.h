#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRectF>
#include <QStringList>
#include <QVector>
#include <QWidget>

class QPainter;

// A bar chart of a statistics tab that keeps its category labels readable: short labels are set
// upright (wrapped onto two lines, or turned upwards when the columns are narrow), long names beside
// horizontal bars wrap onto as many lines as their row holds and are shortened only when even that
// is too little, the full text then being the label's tool tip. The window and a saved picture of
// any size are painted by the same code.
class BarChart : public QWidget {
    Q_OBJECT

public:
    struct Series {
        QString name;
        QColor color;
        QVector<qint64> values; // one per category
    };
    // One category's label as it is painted: its lines inside `rect` (upwards when `rotated`), and
    // whether they hold the whole text.
    struct Label {
        QString text;
        QStringList lines;
        QRectF rect;
        Qt::Alignment alignment = Qt::AlignCenter;
        bool rotated = false;
        bool whole = true;
    };

    explicit BarChart(QWidget* parent = nullptr);

    // Qt::Vertical: columns, stacked by series, over the categories along the bottom.
    // Qt::Horizontal: bars, stacked by series, beside the categories, the first at the top.
    void setData(Qt::Orientation orientation, const QStringList& categories, const QVector<Series>& series);
    // The lines above the chart (what it counts, which documents); the first is bold.
    void setHeading(const QStringList& lines);

    Qt::Orientation orientation() const { return _orientation; }
    QStringList categories() const { return _categories; }
    QVector<Series> series() const { return _series; }
    QStringList heading() const { return _heading; }

    // The labels as paint() lays them out on `size` with `font`; without arguments, on the widget.
    QVector<Label> labels(const QSize& size, const QFont& font) const;
    QVector<Label> labels() const { return labels(size(), font()); }
    // The heading's lines likewise, the first painted in headingFont().
    QVector<Label> headingLabels(const QSize& size, const QFont& font) const;
    static QFont headingFont(const QFont& font);
    // What the widget's tool tip says at `pos`: the category's full name and its figures.
    QString toolTipAt(const QPointF& pos) const;

    void paint(QPainter* painter, const QSize& size, const QFont& font) const;
    static void paintLabel(QPainter* painter, const Label& label, const QFont& font);
    // The chart on a white picture of `size` (the same at any window size), its texts in `font`.
    QImage picture(const QSize& size, const QFont& font) const;
    static QSize pictureSize() { return {1600, 1000}; }
    static QFont pictureFont();

    QSize sizeHint() const override { return {640, 480}; }
    QSize minimumSizeHint() const override { return {320, 240}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Layout;
    Layout layout(const QSize& size, const QFont& font) const;
    qint64 categoryTotal(int category) const;

    Qt::Orientation _orientation = Qt::Vertical;
    QStringList _categories;
    QVector<Series> _series;
    QStringList _heading;
};
