// A blank form under construction: its background art and its data fields. Every helper that
// places a data field also draws the pre-printed part that belongs to it (caption, rule, hint)
// from the same millimetre values, so the blank and the data cannot drift apart.
#pragma once

#include "art.h"

#include <QList>
#include <QString>
#include <QStringList>

// Qt alignment flags as the template stores them.
namespace align {
constexpr int leftTop = 0x21;
constexpr int centreTop = 0x24;
constexpr int centre = 0x84;
constexpr int centreBottom = 0x44;
constexpr int leftBottom = 0x41;
constexpr int leftMiddle = 0x81;
} // namespace align

// Page default font of every template; fields in it are written without a font.
const FontStyle dataFont{12.0};

struct TextFieldDef {
    QRectF rect; // template millimetres
    QString text;
    FontStyle font = dataFont;
    int align = align::leftTop;
    bool wordWrap = false;
    bool zOnEmpty = false;
    double lineHeight = 0.0;
    // The engine makes the font smaller until the filled text fits.
    bool shrinkToFit = false;
};

struct QrFieldDef {
    QRectF rect;
    QString text;
};

struct TableColumn {
    QString header;
    QString cell;
    double width = 0.0;
    int align = 1; // table column code: 1 left, 4 centre, 2 right
};

struct TableFieldDef {
    QPointF origin; // template millimetres
    FontStyle font = dataFont;
    int align = align::leftMiddle;
    double headerHeight = 0.0;
    double rowHeight = 0.0;
    int previewRows = 3;
    QString model;
    bool drawBorders = false;
    bool wordWrap = true;
    bool zOnEmpty = true;
    QList<TableColumn> columns;
    QList<double> maxHeights;     // one per part that has a limit
    QList<QPointF> continuations; // start of the part after each break; (0, 0) for none

    double width() const;
    // The area of each part, header included in the first.
    QList<QRectF> parts() const;
};

// A piece of a one-line sentence: pre-printed words, or a data slot of a given width.
struct Segment {
    QString caption;
    QString field;
    double width = 0.0;
};

class Form {
public:
    explicit Form(const QString& fileName) : fileName(fileName) {}

    QString fileName;
    Art art;
    QList<TextFieldDef> texts;
    QList<QrFieldDef> qrs;
    QList<TableFieldDef> tables;

    // Pre-printed text in a page-local rectangle.
    void caption(Page page, const QRectF& local, const QString& text, const FontStyle& font, int flags,
                 const QColor& colour = ink::text);
    // A printed rule from u1 to u2 at v, with an optional hint under it.
    void rule(Page page, double u1, double u2, double v, const QString& hint = {});
    // A data field in page-local millimetres, nothing pre-printed.
    void field(Page page, const QRectF& local, TextFieldDef def);
    // A one-paragraph data field with a font and alignment of its own, nothing pre-printed.
    void field(Page page, const QRectF& local, const QString& text, const FontStyle& font, int alignment,
               bool wordWrap = false);
    // One data line from u1 to u2 whose rule lies at `bottom`, with an optional hint under the rule.
    void blankLine(Page page, double u1, double u2, double bottom, const QString& text, const FontStyle& font,
                   int alignment, const QString& hint = {});
    // A caption at the left and a data line filling the rest of the row.
    void labelledLine(Page page, double bottom, const QString& label, const QString& text, double fieldLeft = 0.0);
    // Where the data of a labelled line starts, given its label.
    static double afterLabel(const QString& label);
    // A row of pre-printed words and data slots, all on one baseline, centred or from the left edge.
    void sentence(Page page, double bottom, const QList<Segment>& segments, bool centred = true);
    // A wrapped data block of `lines` ruled lines starting at `top`; returns the block's bottom.
    double ruledBlock(Page page, double u1, double u2, double top, int lines, const QString& text, int alignment,
                      bool zOnEmpty = false, const QString& hint = {});
    // Role caption, signature line and the signatory's short name on one row.
    void signature(Page page, double bottom, const QString& role, const QString& text);
    // Place of the seal.
    void sealPlace(Page page, const QPointF& centre);
    // Long values (the graduate's name, the programme, the qualification) shrink to fit their
    // fields rather than lose their ends: every data field that prints one asks for it.
    void shrinkLongValues();

    // Every data field as template rectangles (table parts one by one), with a name for messages.
    QList<QPair<QString, QRectF>> dataRects() const;
    // Problems of the placement: fields off the paper, across the fold, too near an edge, or overlapping.
    QStringList check() const;
};

// Phrase size of the pre-printed sentences and the small hints under the lines.
const FontStyle phraseFont{11.0};
const FontStyle hintFont{7.0, false, true};
// Height of a one-line data field of this size, and the drop from its baseline to its bottom.
double lineBoxHeight(const FontStyle& font);
double baselineDrop(const FontStyle& font);
// A length as the template file stores it: two decimals, cut off.
inline double truncatedLength(double mm) {
    return int(mm * 100.0) / 100.0;
}
// Ruled data blocks (12 pt text): the pitch of the printed rules, the fixed line height the field
// asks for (a hair more, so that printers at 300 and 600 dpi, which cut it to whole pixels, land
// on the pitch), and the first rule below the block's top: the engine puts the first baseline
// about 4.4 mm down, and the rule follows 1 mm under it.
constexpr double ruledPitch = 5.5;
constexpr double ruledLineHeight = 5.51;
constexpr double firstRuledLine = 5.4;
