#include "form.h"

#include <QRegularExpression>
#include <QtMath>

namespace {
constexpr double segmentGap = 1.6;
// Heavy enough to survive the engine's unsmoothed scaling of the background to a low resolution.
constexpr double ruleWidth = 0.28;
const FontStyle roleFont{10.0};

// Signature row columns, page-local.
constexpr double roleRight = 54.0;
constexpr double signLeft = 56.0;
constexpr double signRight = 77.0;
constexpr double nameLeft = 79.0;

void hintUnder(Form& form, Page page, double u1, double u2, double rule, const QString& hint) {
    if (!hint.isEmpty())
        form.caption(page, QRectF(u1 - 6.0, rule + 0.3, u2 - u1 + 12.0, 3.0), hint, hintFont,
                     Qt::AlignHCenter | Qt::AlignTop, ink::hint);
}

// Rounds to hundredths that survive the file's cut to two decimals unchanged (of k / 100.0 some
// land a hair below k when multiplied back; the neighbouring hundredth then stands in), so that
// loading and saving the template in the designer does not move the field.
double snapped(double mm) {
    const int k = qRound(mm * 100.0);
    for (int candidate : {k, k - 1, k + 1})
        if (int(candidate / 100.0 * 100.0) == candidate)
            return candidate / 100.0;
    return k / 100.0;
}

QRectF snapped(const QRectF& r) {
    return QRectF(snapped(r.x()), snapped(r.y()), snapped(r.width()), snapped(r.height()));
}

bool nearlyZero(const QPointF& p) {
    return p.x() < 0.000001 && p.y() < 0.000001;
}
} // namespace

double lineBoxHeight(const FontStyle& font) {
    return 0.54 * font.pt;
}

double baselineDrop(const FontStyle& font) {
    // Measured on the engine's output: a bottom-aligned 12 pt line sits about 1.1 mm above the field's bottom.
    return 0.09 * font.pt;
}

double TableFieldDef::width() const {
    double sum = 0.0;
    for (const TableColumn& column : columns)
        sum += column.width;
    return sum;
}

QList<QRectF> TableFieldDef::parts() const {
    QList<QRectF> result;
    result.append(QRectF(origin, QSizeF(width(), maxHeights.value(0))));
    for (int i = 0; i < continuations.size(); ++i) {
        if (nearlyZero(continuations[i]))
            break;
        result.append(QRectF(continuations[i], QSizeF(width(), maxHeights.value(i + 1))));
    }
    return result;
}

void Form::caption(Page page, const QRectF& local, const QString& text, const FontStyle& font, int flags,
                   const QColor& colour) {
    art.text(page, local, text, font, flags, colour);
}

void Form::rule(Page page, double u1, double u2, double v, const QString& hint) {
    art.line(page, {u1, v}, {u2, v}, ruleWidth, ink::rule);
    hintUnder(*this, page, u1, u2, v, hint);
}

void Form::field(Page page, const QRectF& local, TextFieldDef def) {
    def.rect = snapped(sheetRect(page, local));
    texts.append(def);
}

void Form::shrinkLongValues() {
    const QStringList longValues = {QStringLiteral("$V{Full_Name}"), QStringLiteral("$V{qual}"),
                                    QStringLiteral("$V{prof_Prog_Name}")};
    for (TextFieldDef& def : texts)
        def.shrinkToFit = def.shrinkToFit || longValues.contains(def.text);
}

void Form::field(Page page, const QRectF& local, const QString& text, const FontStyle& font, int alignment,
                 bool wordWrap) {
    TextFieldDef def;
    def.text = text;
    def.font = font;
    def.align = alignment;
    def.wordWrap = wordWrap;
    field(page, local, def);
}

void Form::blankLine(Page page, double u1, double u2, double bottom, const QString& text, const FontStyle& font,
                     int alignment, const QString& hint) {
    const double height = lineBoxHeight(font);
    field(page, QRectF(u1, bottom - height, u2 - u1, height), text, font, alignment);
    rule(page, u1, u2, bottom, hint);
}

double Form::afterLabel(const QString& label) {
    return geo::left + textWidth(phraseFont, label) + 2.0;
}

void Form::labelledLine(Page page, double bottom, const QString& label, const QString& text, double fieldLeft) {
    art.textAt(page, geo::left, bottom - baselineDrop(dataFont), label, phraseFont);
    blankLine(page, qMax(fieldLeft, afterLabel(label)), geo::right, bottom, text, dataFont, align::leftBottom);
}

void Form::sentence(Page page, double bottom, const QList<Segment>& segments, bool centred) {
    double total = -segmentGap;
    for (const Segment& s : segments)
        total += segmentGap + (s.field.isEmpty() ? textWidth(phraseFont, s.caption) : s.width);
    double u = centred ? geo::centre - total / 2.0 : geo::left;
    const double baseline = bottom - baselineDrop(dataFont);
    for (const Segment& s : segments) {
        if (s.field.isEmpty()) {
            art.textAt(page, u, baseline, s.caption, phraseFont);
            u += textWidth(phraseFont, s.caption);
        } else {
            blankLine(page, u, u + s.width, bottom, s.field, dataFont, align::centreBottom);
            u += s.width;
        }
        u += segmentGap;
    }
}

double Form::ruledBlock(Page page, double u1, double u2, double top, int lines, const QString& text, int alignment,
                        bool zOnEmpty, const QString& hint) {
    TextFieldDef def;
    def.text = text;
    def.align = alignment;
    def.wordWrap = true;
    def.zOnEmpty = zOnEmpty;
    def.lineHeight = ruledLineHeight;
    const double height = lines * ruledPitch + 0.5;
    field(page, QRectF(u1, top, u2 - u1, height), def);
    for (int k = 0; k < lines; ++k)
        rule(page, u1, u2, top + firstRuledLine + k * ruledPitch, k == lines - 1 ? hint : QString());
    return top + height;
}

void Form::signature(Page page, double bottom, const QString& role, const QString& text) {
    // The role's last line shares the baseline of the name.
    const double roleBottom = bottom - baselineDrop(dataFont) + textDescent(roleFont);
    caption(page, QRectF(geo::left, roleBottom - 12.0, roleRight - geo::left, 12.0), role, roleFont,
            Qt::AlignLeft | Qt::AlignBottom);
    rule(page, signLeft, signRight, bottom, QStringLiteral("(подпись)"));
    blankLine(page, nameLeft, geo::right, bottom, text, dataFont, align::leftBottom,
              QStringLiteral("(фамилия, инициалы)"));
}

void Form::sealPlace(Page page, const QPointF& centre) {
    caption(page, QRectF(centre.x() - 10.0, centre.y() - 3.0, 20.0, 6.0), QStringLiteral("М.П."), phraseFont,
            Qt::AlignCenter);
}

namespace {
// The rectangle as it will be read back from the file.
QRectF stored(const QRectF& r) {
    return QRectF(truncatedLength(r.x()), truncatedLength(r.y()), truncatedLength(r.width()),
                  truncatedLength(r.height()));
}
} // namespace

QList<QPair<QString, QRectF>> Form::dataRects() const {
    QList<QPair<QString, QRectF>> result;
    for (const TextFieldDef& t : texts)
        result.append({QStringLiteral("text \"%1\"").arg(t.text.left(40)), stored(t.rect)});
    for (const QrFieldDef& q : qrs)
        result.append({QStringLiteral("QR code"), stored(q.rect)});
    for (const TableFieldDef& t : tables) {
        const QList<QRectF> parts = t.parts();
        for (int i = 0; i < parts.size(); ++i)
            result.append({QStringLiteral("table %1 part %2").arg(t.model).arg(i), stored(parts[i])});
    }
    return result;
}

namespace {
QString placementProblem(const QRectF& r) {
    const int side = int(std::floor(r.top() / geo::paperHeight));
    const double sideTop = side * geo::paperHeight;
    const double c = geo::clearance;
    if (r.width() <= 0.0 || r.height() <= 0.0)
        return QStringLiteral("is empty");
    if (r.left() < c || r.right() > geo::paperWidth - c)
        return QStringLiteral("is too near the left or right paper edge");
    if (r.top() < sideTop + c || r.bottom() > sideTop + geo::paperHeight - c)
        return QStringLiteral("is too near the top or bottom edge of side %1").arg(side);
    if (r.right() > geo::halfWidth - c && r.left() < geo::halfWidth + c)
        return QStringLiteral("is too near the fold or crosses it");
    return QString();
}

// Every name the document fill function sets; a template may use no other.
const QStringList& knownVariables() {
    static const QStringList names = [] {
        QStringList list = {"Last_Name",
                            "First_Name",
                            "Middle_Name",
                            "Full_Name",
                            "Full_Name_short",
                            "birth",
                            "birth_day",
                            "birth_month",
                            "birth_year",
                            "birth_year_short",
                            "birth_digit",
                            "protocol_Number",
                            "reg_Number",
                            "protocol_Date",
                            "protocol_Date_digit",
                            "Issue_Out",
                            "Issue_Out_digit",
                            "Issue_Out_day",
                            "Issue_Out_month",
                            "Issue_Out_year",
                            "Issue_Out_year_short",
                            "Reg_Number",
                            "att_Number",
                            "comment",
                            "add_info",
                            "qual",
                            "profession",
                            "prev_education",
                            "is_excellent",
                            "is_duplicate",
                            "Certificate_type",
                            "startDate",
                            "startDate_digit",
                            "startDate_day",
                            "startDate_month",
                            "startDate_year",
                            "finishDate",
                            "finishDate_digit",
                            "finishDate_day",
                            "finishDate_month",
                            "finishDate_year",
                            "total_count",
                            "prof_Prog_Name",
                            "Boss",
                            "Boss_short",
                            "Boss2",
                            "Boss2_short",
                            "Boss3",
                            "Boss3_short",
                            "City",
                            "Org_Name",
                            "Org_Name_short"};
        for (QString& name : list)
            name = name.toLower();
        return list;
    }();
    return names;
}

QStringList unknownPlaceholders(const QString& text) {
    QStringList unknown;
    static const QRegularExpression variable(QStringLiteral("\\$V\\{([^}]*)\\}"));
    for (auto it = variable.globalMatch(text); it.hasNext();) {
        const QString name = it.next().captured(1);
        if (!knownVariables().contains(name.trimmed().toLower()))
            unknown << name;
    }
    return unknown;
}

QString mm(const QRectF& r) {
    return QStringLiteral("(%1, %2, %3 x %4 mm)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}
} // namespace

QStringList Form::check() const {
    QStringList problems;
    QStringList templatesTexts;
    for (const TextFieldDef& t : texts)
        templatesTexts << t.text;
    for (const QrFieldDef& q : qrs)
        templatesTexts << q.text;
    for (const QString& text : templatesTexts)
        for (const QString& name : unknownPlaceholders(text))
            problems << QStringLiteral("%1: unknown variable %2").arg(fileName, name);
    static const QRegularExpression cell(QStringLiteral("^\\$D\\{viewprofdetails\\.col[123]\\}$"));
    for (const TableFieldDef& t : tables)
        for (const TableColumn& c : t.columns)
            if (!cell.match(c.cell).hasMatch() || t.model != QLatin1String("viewprofdetails"))
                problems << QStringLiteral("%1: unknown table cell %2").arg(fileName, c.cell);
    const auto rects = dataRects();
    for (int i = 0; i < rects.size(); ++i) {
        const QString problem = placementProblem(rects[i].second);
        if (!problem.isEmpty())
            problems << QStringLiteral("%1: %2 %3 %4").arg(fileName, rects[i].first, mm(rects[i].second), problem);
        for (int j = i + 1; j < rects.size(); ++j) {
            const QRectF common = rects[i].second.intersected(rects[j].second);
            if (common.width() > 0.000001 && common.height() > 0.000001)
                problems << QStringLiteral("%1: %2 %3 overlaps %4 %5")
                                .arg(fileName, rects[i].first, mm(rects[i].second), rects[j].first,
                                     mm(rects[j].second));
        }
    }
    return problems;
}
