#include "preview.h"

#include "mzrptwriter.h"
#include "sampledata.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QTextBlock>
#include <QTextDocument>
#include <QtMath>

namespace {
// The engine's millimetres per inch.
constexpr double mmPerInch = 25.399931;

struct Device {
    double scale;   // pixels per millimetre
    double yOffset; // pixels of the side band above this side
};

QString substitute(QString text, const QMap<QString, QString>& vars) {
    for (int start = text.indexOf(QLatin1String("$V{")); start >= 0; start = text.indexOf(QLatin1String("$V{"))) {
        const int end = text.indexOf(QLatin1Char('}'), start);
        if (end < 0)
            break;
        const QString name = text.mid(start + 3, end - start - 3).trimmed().toLower();
        text.replace(start, end - start + 1, vars.value(name));
    }
    return text.replace(QLatin1String("\\n"), QLatin1String("\n"));
}

QFont pixelFont(const FontStyle& style, double scale, int* pixels) {
    QFont font = fieldFont(style);
    *pixels = int(QFontInfo(font).pointSizeF() * scale * mmPerInch / 72.0);
    font.setPixelSize(qMax(1, *pixels));
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

QRectF deviceRect(const QRectF& mm, const Device& d) {
    return QRectF(mm.x() * d.scale, mm.y() * d.scale - d.yOffset, mm.width() * d.scale, mm.height() * d.scale);
}

void zStrike(QPainter& p, double m, double top, double right, double bottom) {
    if (!(right > m && bottom > top))
        return;
    p.setPen(QPen(Qt::black, 1));
    p.drawLine(QPointF(m, top), QPointF(right, top));
    p.drawLine(QPointF(right, top), QPointF(m, bottom));
    p.drawLine(QPointF(m, bottom), QPointF(right, bottom));
}

void paintText(QPainter& p, const TextFieldDef& t, const QString& text, const Device& d) {
    QRectF rect = deviceRect(t.rect, d);
    if (rect.bottom() <= 0.0)
        return;
    int fontPixels = 0;
    QTextDocument doc;
    doc.setDefaultFont(pixelFont(t.font, d.scale, &fontPixels));
    const int spacing = qMax(0, int(t.lineHeight * d.scale));
    QString source =
        spacing > 0 ? QStringLiteral("<p style=\"line-height:%1px; text-indent: 0px;\">%2</p>").arg(spacing).arg(text)
                    : QStringLiteral("<p style=\"text-indent: 0px;\">%1</p>").arg(text);
    if (t.wordWrap)
        source.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    QTextOption option;
    option.setAlignment(Qt::Alignment(t.align));
    option.setWrapMode(t.wordWrap ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    doc.setDefaultTextOption(option);
    doc.setDocumentMargin(0);
    doc.setTextWidth(rect.width());
    doc.setHtml(source);
    if (spacing > 0)
        rect.setTop(rect.top() + (fontPixels - spacing / 1.25));

    QRectF blocks;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        blocks = blocks.united(doc.documentLayout()->blockBoundingRect(b));
    const double content = spacing > fontPixels ? int(doc.documentLayout()->documentSize().height()) : blocks.height();
    int shift = 0;
    if (t.align & Qt::AlignVCenter)
        shift = int((rect.height() - content) * 0.5);
    else if (t.align & Qt::AlignBottom)
        shift = int(rect.height() - content);

    p.save();
    p.translate(rect.topLeft());
    p.setClipRect(QRectF(0, 0, rect.width(), rect.height()));
    p.translate(0, qMax(0, shift));
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Text, Qt::black);
    doc.documentLayout()->draw(&p, context);
    p.restore();
    if (t.zOnEmpty) {
        p.save();
        p.translate(rect.topLeft());
        const double m = 2.0 * d.scale;
        zStrike(p, m, content + qMax(0, shift) + m, rect.width() - m, rect.height() - m);
        p.restore();
    }
}

// Stand-in for the code: finder squares and a pattern seeded by the text.
void paintQr(QPainter& p, const QrFieldDef& q, const QString& text, const Device& d) {
    const QRectF rect = deviceRect(q.rect, d);
    if (rect.bottom() <= 0.0)
        return;
    const double side = qMin(rect.width(), rect.height());
    const int modules = 57;
    const double m = side / (modules + 8);
    p.fillRect(QRectF(rect.topLeft(), QSizeF(side, side)), Qt::white);
    uint seed = qHash(text);
    auto finder = [&](int x, int y) {
        for (int i = 0; i < 7; ++i)
            for (int j = 0; j < 7; ++j)
                if (i == 0 || j == 0 || i == 6 || j == 6 || (i >= 2 && i <= 4 && j >= 2 && j <= 4))
                    p.fillRect(QRectF(rect.left() + (x + i + 4) * m, rect.top() + (y + j + 4) * m, m, m), Qt::black);
    };
    for (int x = 0; x < modules; ++x)
        for (int y = 0; y < modules; ++y) {
            seed = seed * 1103515245u + 12345u;
            const bool inFinder = (x < 8 && y < 8) || (x >= modules - 8 && y < 8) || (x < 8 && y >= modules - 8);
            if (!inFinder && (seed >> 16) % 2)
                p.fillRect(QRectF(rect.left() + (x + 4) * m, rect.top() + (y + 4) * m, m, m), Qt::black);
        }
    finder(0, 0);
    finder(modules - 7, 0);
    finder(0, modules - 7);
}

struct Cell {
    QString text;
    double width; // mm
    int align;
};

void cellDocument(QTextDocument& doc, const QString& text, double widthPx, int alignment, const QFont& font) {
    doc.setDefaultFont(font);
    QTextOption option;
    option.setAlignment(Qt::Alignment(alignment));
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc.setDefaultTextOption(option);
    doc.setDocumentMargin(0);
    doc.setTextWidth(widthPx);
    doc.setHtml(text.isEmpty() ? QString() : QStringLiteral("<p>%1</p>").arg(text));
}

// The subject table laid out and painted by the rules of the engine's table field, filled with
// the sample subjects, without borders as on a printer.
class TablePainter {
public:
    TablePainter(QPainter& p, const TableFieldDef& t, const Device& d) : m_p(p), m_t(t), m_d(d) {
        int pixels = 0;
        m_font = pixelFont(t.font, d.scale, &pixels);
    }

    void paint() {
        m_p.save();
        m_p.setPen(Qt::black);
        m_p.setFont(m_font);
        paintHeader();
        paintRows();
        paintStrikes();
        m_p.restore();
    }

private:
    QPointF toDevice(const QPointF& mm) const { return {mm.x() * m_d.scale, mm.y() * m_d.scale - m_d.yOffset}; }

    QList<QList<Cell>> rows() const {
        QList<QList<Cell>> result;
        for (const SubjectRow& s : sampleSubjects()) {
            const QString values[3] = {s.subject, s.hours, s.grade};
            QList<Cell> cells;
            for (int c = 0; c < m_t.columns.size(); ++c) {
                QString text = values[c];
                // The engine's hyphenation of the one long grade word.
                if (QFontMetricsF(m_font).horizontalAdvance(text) > m_t.columns[c].width * m_d.scale)
                    text.replace(QStringLiteral("довлетворительно"), QStringLiteral("довлетво- рительно"));
                cells.append({text, m_t.columns[c].width, m_t.columns[c].align});
            }
            result.append(cells);
        }
        return result;
    }

    double rowHeight(const QList<Cell>& cells) const {
        double height = m_t.rowHeight * m_d.scale;
        for (const Cell& c : cells) {
            QTextDocument doc;
            cellDocument(doc, c.text, c.width * m_d.scale, c.align, m_font);
            height = qMax(height, doc.size().height());
        }
        return height;
    }

    // Half a text line, as the engine insets the header texts.
    double headerInset() const {
        QTextDocument probe;
        cellDocument(probe, QStringLiteral("W"), 100, 0x21, m_font);
        const double one = probe.size().height();
        cellDocument(probe, QStringLiteral("W<br>W"), 100, 0x21, m_font);
        return (probe.size().height() - one) / 2.0;
    }

    void paintHeader() {
        const double inset = headerInset();
        QPointF at = toDevice(m_t.origin);
        for (const TableColumn& c : m_t.columns) {
            const QRectF r(at, QSizeF(c.width * m_d.scale, m_t.headerHeight * m_d.scale));
            const int flags =
                (c.align == 1 ? Qt::AlignLeft : Qt::AlignHCenter) | (m_t.align & 0x1E0) | Qt::TextWordWrap;
            if (r.bottom() > 0)
                m_p.drawText(r.adjusted(inset, inset, -inset, 0), flags, c.header);
            at.rx() += r.width();
        }
    }

    void paintCell(const Cell& c, const QRectF& r) {
        QTextDocument doc;
        cellDocument(doc, c.text, r.width(), c.align, m_font);
        m_p.save();
        m_p.translate(r.left(), r.top() + qMax(0.0, (r.height() - doc.size().height()) * 0.5));
        doc.drawContents(&m_p);
        m_p.restore();
    }

    void paintRows() {
        m_row = toDevice(m_t.origin) + QPointF(0, m_t.headerHeight * m_d.scale);
        double used = m_t.headerHeight * m_d.scale;
        for (const QList<Cell>& cells : rows()) {
            const double height = rowHeight(cells);
            if (m_part < m_t.maxHeights.size() && m_t.maxHeights[m_part] * m_d.scale <= height + used) {
                const QPointF next = m_t.continuations.value(m_part);
                if (next.x() < 0.000001 && next.y() < 0.000001)
                    return;
                m_row = toDevice(next);
                used = 0;
                ++m_part;
            }
            double x = m_row.x();
            for (const Cell& c : cells) {
                const QRectF r(x, m_row.y(), c.width * m_d.scale, height);
                x += r.width();
                if (r.bottom() > 0)
                    paintCell(c, r);
            }
            m_row.ry() += height;
            used += height;
        }
    }

    // The Z strike over the free rest of the current part and over every part left empty.
    void paintStrikes() {
        const double m = 2.0 * m_d.scale;
        for (int i = m_part; i < m_t.maxHeights.size(); ++i) {
            const double partTop = toDevice(i == 0 ? m_t.origin : m_t.continuations[i - 1]).y();
            m_p.save();
            m_p.translate(m_row);
            zStrike(m_p, m, m, (m_t.width() - 2.0) * m_d.scale,
                    partTop + (m_t.maxHeights[i] - 2.0) * m_d.scale - m_row.y());
            m_p.restore();
            m_row = toDevice(m_t.continuations.value(i));
        }
    }

    QPainter& m_p;
    const TableFieldDef& m_t;
    const Device& m_d;
    QFont m_font;
    QPointF m_row;
    int m_part = 0;
};
} // namespace

QString writePreview(const Form& form, const QString& dir, int dpi, bool boxes) {
    const QMap<QString, QString> vars = sampleVariables();
    const double scale = dpi / mmPerInch;
    const QSize size(qRound(geo::paperWidth * scale), qRound(geo::paperHeight * scale));
    for (int side = 0; side < 2; ++side) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
        p.drawImage(QRectF(QPointF(0, 0), QSizeF(size)), form.art.image(side));
        const Device d{scale, size.height() * double(side)};
        for (const TextFieldDef& t : form.texts)
            paintText(p, t, substitute(t.text, vars), d);
        for (const TableFieldDef& t : form.tables)
            TablePainter(p, t, d).paint();
        for (const QrFieldDef& q : form.qrs)
            paintQr(p, q, substitute(q.text, vars), d);
        if (boxes) {
            p.setPen(QPen(QColor(220, 0, 80, 160), 1));
            p.setBrush(Qt::NoBrush);
            for (const auto& r : form.dataRects())
                p.drawRect(deviceRect(r.second, d));
        }
        p.end();
        const QString path = QDir(dir).filePath(QStringLiteral("%1-%2%3.png")
                                                    .arg(form.fileName)
                                                    .arg(side)
                                                    .arg(boxes ? QStringLiteral("-boxes") : QString()));
        if (!image.save(path))
            return QStringLiteral("cannot write %1").arg(path);
    }
    return QString();
}

QString writeBackgrounds(const Form& form, const QString& dir) {
    for (int side = 0; side < 2; ++side) {
        const QString path = QDir(dir).filePath(QStringLiteral("%1-bg%2.jpg").arg(form.fileName).arg(side));
        QFile file(path);
        const QByteArray bytes = backgroundJpeg(form.art.image(side));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            return QStringLiteral("cannot write %1").arg(path);
    }
    return QString();
}
