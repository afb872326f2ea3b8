#include "barchart.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <cmath>

namespace {
const QColor textColor(0x30, 0x30, 0x30);
const QColor gridColor(0xdd, 0xdd, 0xdd);
const QColor axisColor(0x80, 0x80, 0x80);

// `text` in lines no wider than `width`, at most `maxLines` of them; false when it needed more and
// the last line was shortened.
bool wrap(const QString& text, qreal width, int maxLines, const QFontMetricsF& fm, QStringList* lines) {
    QStringList all;
    QString line;
    for (QString word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString joined = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (fm.horizontalAdvance(joined) <= width) {
            line = joined;
            continue;
        }
        if (!line.isEmpty())
            all << line;
        // A word longer than a line is broken where it must be.
        while (word.size() > 1 && fm.horizontalAdvance(word) > width) {
            int n = word.size() - 1;
            while (n > 1 && fm.horizontalAdvance(word.left(n)) > width)
                --n;
            all << word.left(n);
            word = word.mid(n);
        }
        line = word;
    }
    if (!line.isEmpty() || all.isEmpty())
        all << line;
    if (all.size() <= maxLines) {
        *lines = all;
        return true;
    }
    *lines = all.mid(0, maxLines - 1);
    *lines << fm.elidedText(all.mid(maxLines - 1).join(QLatin1Char(' ')), Qt::ElideRight, width);
    return false;
}

// A step of 1, 2 or 5 times a power of ten that divides `maximum` into about five parts.
qint64 niceStep(qint64 maximum) {
    const double raw = std::max(1.0, double(maximum) / 5);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double norm = raw / power;
    const double step = (norm <= 1 ? 1 : norm <= 2 ? 2 : norm <= 5 ? 5 : 10) * power;
    return std::max<qint64>(1, qint64(std::llround(step)));
}
} // namespace

struct BarChart::Layout {
    struct Text {
        QRectF rect;
        QString text;
    };
    QVector<Label> heading;
    QVector<QPair<QRectF, int>> legend; // a series' swatch; its name follows it
    QRectF plot;
    qint64 top = 1;
    qint64 step = 1;
    QVector<Text> ticks;
    QVector<QRectF> bands; // a category's band across the plot, its label included
    QVector<Label> labels;
    qreal valueWidth = 0; // room for the figure at the end of a horizontal bar
};

BarChart::BarChart(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void BarChart::setData(Qt::Orientation orientation, const QStringList& categories, const QVector<Series>& series) {
    _orientation = orientation;
    _categories = categories;
    _series = series;
    update();
}

void BarChart::setHeading(const QStringList& lines) {
    _heading = lines;
    update();
}

qint64 BarChart::categoryTotal(int category) const {
    qint64 total = 0;
    for (const Series& s : _series)
        total += s.values.value(category);
    return total;
}

BarChart::Layout BarChart::layout(const QSize& size, const QFont& font) const {
    Layout l;
    const QFontMetricsF fm(font), fmBold(headingFont(font));
    const qreal spacing = fm.lineSpacing();
    const qreal pad = spacing * 0.75;
    QRectF area = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(pad, pad, -pad, -pad);

    for (int i = 0; i < _heading.size(); ++i) {
        Label line;
        line.text = _heading.at(i);
        line.alignment = Qt::AlignTop | Qt::AlignHCenter;
        const QFontMetricsF& metrics = i == 0 ? fmBold : fm;
        line.whole = wrap(line.text, area.width(), 100, metrics, &line.lines);
        line.rect = QRectF(area.left(), area.top(), area.width(), line.lines.size() * metrics.lineSpacing());
        l.heading.append(line);
        area.setTop(line.rect.bottom());
    }
    if (!_heading.isEmpty())
        area.setTop(area.top() + pad);

    // The legend at the bottom, its entries flowing on as many rows as they need.
    if (_series.size() > 1) {
        const qreal box = fm.height() * 0.8, gap = fm.averageCharWidth();
        QVector<QVector<QPair<qreal, int>>> rows(1); // width, series
        qreal rowWidth = 0;
        for (int i = 0; i < _series.size(); ++i) {
            const qreal w = box + gap + fm.horizontalAdvance(_series.at(i).name) + 3 * gap;
            if (rowWidth > 0 && rowWidth + w > area.width()) {
                rows.append(QVector<QPair<qreal, int>>());
                rowWidth = 0;
            }
            rows.last().append({w, i});
            rowWidth += w;
        }
        qreal y = area.bottom() - rows.size() * spacing;
        area.setBottom(y - pad / 2);
        for (const auto& row : rows) {
            qreal width = 0;
            for (const auto& entry : row)
                width += entry.first;
            qreal x = area.center().x() - width / 2;
            for (const auto& entry : row) {
                l.legend.append(qMakePair(QRectF(x, y + (spacing - box) / 2, box, box), entry.second));
                x += entry.first;
            }
            y += spacing;
        }
    }

    const int n = _categories.size();
    qint64 maximum = 0;
    for (int c = 0; c < n; ++c)
        maximum = std::max(maximum, categoryTotal(c));
    l.step = niceStep(maximum);
    l.top = std::max<qint64>(l.step, (maximum + l.step - 1) / l.step * l.step);
    qreal tickWidth = 0;
    for (qint64 v = 0; v <= l.top; v += l.step)
        tickWidth = std::max(tickWidth, fm.horizontalAdvance(QString::number(v)));

    if (_orientation == Qt::Vertical) {
        l.plot =
            QRectF(area.left() + tickWidth + pad / 2, area.top(), area.width() - tickWidth - pad / 2, area.height());
        const qreal slot = n > 0 ? l.plot.width() / n : l.plot.width();
        const qreal room = slot - fm.averageCharWidth();
        // Upright on at most two lines while every label fits its column; else all turned upwards.
        bool upright = true;
        int lines = 1;
        qreal longest = 0;
        for (const QString& text : _categories) {
            Label label;
            upright = upright && wrap(text, room, 2, fm, &label.lines);
            lines = std::max(lines, int(label.lines.size()));
            longest = std::max(longest, fm.horizontalAdvance(text));
        }
        const qreal band = upright ? lines * spacing : std::min(longest, area.height() / 3);
        l.plot.setBottom(area.bottom() - band - pad / 3);
        // Columns narrower than a line: every few a label, the others in their tool tips.
        const int every = upright || slot >= spacing ? 1 : int(std::ceil(spacing / slot));
        for (int c = 0; c < n; ++c) {
            Label label;
            label.text = _categories.at(c);
            label.rect = QRectF(l.plot.left() + c * slot, l.plot.bottom() + pad / 3, slot, band);
            // A label shown over narrow columns takes a line's width, its neighbours having none.
            if (every > 1)
                label.rect.adjust((slot - spacing) / 2, 0, -(slot - spacing) / 2, 0);
            label.rotated = !upright;
            if (upright) {
                label.alignment = Qt::AlignTop | Qt::AlignHCenter;
                label.whole = wrap(label.text, room, 2, fm, &label.lines);
            } else {
                label.alignment = Qt::AlignVCenter | Qt::AlignRight;
                label.whole = c % every == 0 && wrap(label.text, band, 1, fm, &label.lines);
                if (c % every != 0)
                    label.lines.clear();
            }
            l.labels.append(label);
            l.bands.append(QRectF(l.plot.left() + c * slot, l.plot.top(), slot, label.rect.bottom() - l.plot.top()));
        }
        for (qint64 v = 0; v <= l.top; v += l.step) {
            const qreal y = l.plot.bottom() - l.plot.height() * v / l.top;
            l.ticks.append({QRectF(area.left(), y - spacing / 2, tickWidth, spacing), QString::number(v)});
        }
        return l;
    }

    // Names beside horizontal bars: as many lines as a row holds, the column at most 40% wide.
    l.valueWidth = fm.horizontalAdvance(QString::number(maximum)) + fm.averageCharWidth();
    l.plot = area;
    l.plot.setBottom(area.bottom() - spacing - pad / 3);
    const qreal row = n > 0 ? l.plot.height() / n : l.plot.height();
    const int maxLines = std::max(1, int(row / spacing));
    const int every = row >= spacing ? 1 : int(std::ceil(spacing / row));
    qreal longest = 0;
    for (const QString& text : _categories)
        longest = std::max(longest, fm.horizontalAdvance(text));
    const qreal column = std::min(std::ceil(longest) + 1, area.width() * 0.4);
    l.plot.setLeft(area.left() + column + pad / 2);
    l.plot.setRight(area.right() - l.valueWidth);
    for (int c = 0; c < n; ++c) {
        Label label;
        label.text = _categories.at(c);
        label.rect = QRectF(area.left(), l.plot.top() + c * row, column, row);
        label.alignment = Qt::AlignVCenter | Qt::AlignRight;
        // Rows lower than a line: every few a name, as over narrow columns.
        if (every > 1)
            label.rect.adjust(0, (row - spacing) / 2, 0, -(row - spacing) / 2);
        label.whole = c % every == 0 && wrap(label.text, column, maxLines, fm, &label.lines);
        if (c % every != 0)
            label.lines.clear();
        l.labels.append(label);
        l.bands.append(QRectF(area.left(), l.plot.top() + c * row, area.width(), row));
    }
    for (qint64 v = 0; v <= l.top; v += l.step) {
        const qreal x = l.plot.left() + l.plot.width() * v / l.top;
        const qreal w = fm.horizontalAdvance(QString::number(v)) + 2;
        l.ticks.append({QRectF(x - w / 2, l.plot.bottom() + pad / 3, w, spacing), QString::number(v)});
    }
    return l;
}

QVector<BarChart::Label> BarChart::labels(const QSize& size, const QFont& font) const {
    return layout(size, font).labels;
}

QVector<BarChart::Label> BarChart::headingLabels(const QSize& size, const QFont& font) const {
    return layout(size, font).heading;
}

QFont BarChart::headingFont(const QFont& font) {
    QFont bold = font;
    bold.setBold(true);
    return bold;
}

QString BarChart::toolTipAt(const QPointF& pos) const {
    const Layout l = layout(size(), font());
    for (int c = 0; c < l.bands.size(); ++c) {
        if (!l.bands.at(c).contains(pos))
            continue;
        QStringList lines{_categories.at(c)};
        for (const Series& s : _series)
            lines << QStringLiteral("%1: %2").arg(s.name).arg(s.values.value(c));
        return lines.join(QLatin1Char('\n'));
    }
    return QString();
}

void BarChart::paintLabel(QPainter* painter, const Label& label, const QFont& font) {
    painter->save();
    painter->setRenderHint(QPainter::TextAntialiasing);
    painter->setFont(font);
    painter->setPen(textColor);
    QRectF box = label.rect;
    if (label.rotated) {
        painter->translate(box.center());
        painter->rotate(-90);
        box = QRectF(-box.height() / 2, -box.width() / 2, box.height(), box.width());
    }
    const qreal spacing = QFontMetricsF(font).lineSpacing();
    qreal y =
        label.alignment & Qt::AlignTop ? box.top() : box.top() + (box.height() - spacing * label.lines.size()) / 2;
    const int flags = int(label.alignment & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter | Qt::TextDontClip;
    for (const QString& line : label.lines) {
        painter->drawText(QRectF(box.left(), y, box.width(), spacing), flags, line);
        y += spacing;
    }
    painter->restore();
}

void BarChart::paint(QPainter* painter, const QSize& size, const QFont& font) const {
    const Layout l = layout(size, font);
    painter->save();
    painter->fillRect(QRect(QPoint(0, 0), size), Qt::white);
    painter->setFont(font);
    painter->setPen(textColor);
    for (int i = 0; i < l.heading.size(); ++i)
        paintLabel(painter, l.heading.at(i), i == 0 ? headingFont(font) : font);

    const bool vertical = _orientation == Qt::Vertical;
    const QRectF& plot = l.plot;
    for (const Layout::Text& tick : l.ticks) {
        const qreal v = tick.text.toLongLong();
        painter->setPen(gridColor);
        if (vertical) {
            const qreal y = plot.bottom() - plot.height() * v / l.top;
            painter->drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        } else {
            const qreal x = plot.left() + plot.width() * v / l.top;
            painter->drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        }
        painter->setPen(textColor);
        painter->drawText(tick.rect, (vertical ? Qt::AlignRight : Qt::AlignHCenter) | Qt::AlignVCenter, tick.text);
    }

    const int n = _categories.size();
    for (int c = 0; c < n; ++c) {
        const QRectF slot =
            vertical ? QRectF(plot.left() + c * plot.width() / n, plot.top(), plot.width() / n, plot.height())
                     : QRectF(plot.left(), plot.top() + c * plot.height() / n, plot.width(), plot.height() / n);
        qreal done = 0;
        for (const Series& s : _series) {
            const qreal length = (vertical ? plot.height() : plot.width()) * s.values.value(c) / l.top;
            const QRectF bar = vertical ? QRectF(slot.center().x() - slot.width() * 0.3, plot.bottom() - done - length,
                                                 slot.width() * 0.6, length)
                                        : QRectF(plot.left() + done, slot.center().y() - slot.height() * 0.33, length,
                                                 slot.height() * 0.66);
            painter->fillRect(bar, s.color);
            done += length;
        }
        if (!vertical) {
            painter->setPen(textColor);
            painter->drawText(QRectF(plot.left() + done + 3, slot.top(), l.valueWidth, slot.height()),
                              Qt::AlignLeft | Qt::AlignVCenter, QString::number(categoryTotal(c)));
        }
    }
    painter->setPen(axisColor);
    if (vertical)
        painter->drawLine(plot.bottomLeft(), plot.bottomRight());
    else
        painter->drawLine(plot.topLeft(), plot.bottomLeft());

    for (const Label& label : l.labels)
        paintLabel(painter, label, font);

    const QFontMetricsF fm(font);
    for (const auto& entry : l.legend) {
        const QRectF& box = entry.first;
        painter->fillRect(box, _series.at(entry.second).color);
        painter->setPen(textColor);
        painter->drawText(QPointF(box.right() + fm.averageCharWidth(), box.center().y() + fm.ascent() / 2 - 1),
                          _series.at(entry.second).name);
    }
    painter->restore();
}

QFont BarChart::pictureFont() {
    QFont font = QApplication::font();
    font.setPixelSize(16);
    return font;
}

QImage BarChart::picture(const QSize& size, const QFont& font) const {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(&painter, size, font);
    return image;
}

void BarChart::paintEvent(QPaintEvent* event) {
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(&painter, size(), font());
}

bool BarChart::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = toolTipAt(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    return QWidget::event(event);
}
