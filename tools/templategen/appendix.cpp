// Appendix blank: side 0 holds the graduate's details (left) and the subject table (right);
// side 1 the table's continuation (left) and the additional information with signatures (right).
#include "ornament.h"
#include "templates.h"

namespace {
const Page details{0, Half::Left};
const Page tableFront{0, Half::Right};
const Page tableBack{1, Half::Left};
const Page closing{1, Half::Right};

// Subject table, page-local: both parts span the same rows area of their page.
constexpr double tableTop = 22.0;
constexpr double headerHeight = 14.0;
constexpr double rowsTop = tableTop + headerHeight;
constexpr double tableBottom = geo::bottom;
constexpr double rowHeight = 6.5;
// The ruled frame starts a little left of the first column so the subjects do not touch it.
constexpr double frameLeft = geo::left - 1.5;
const FontStyle tableFont{11.0};

QList<TableColumn> subjectColumns() {
    return {{QStringLiteral("Наименование учебных предметов, курсов, дисциплин (модулей), практик"),
             QStringLiteral("$D{viewprofdetails.col1}"), 80.5, 1},
            {QStringLiteral("Кол-во часов"), QStringLiteral("$D{viewprofdetails.col2}"), 18.0, 4},
            {QStringLiteral("Оценка"), QStringLiteral("$D{viewprofdetails.col3}"), 22.0, 4}};
}

QRectF row(double top, double height) {
    return QRectF(geo::left, top, geo::width, height);
}

const QString regLabel = QStringLiteral("Регистрационный номер");

// Left edge of the values of the labelled lines, clear of the longest label.
double valuesLeft() {
    return Form::afterLabel(regLabel);
}

// Caption of a ruled block, standing on the block's top edge.
void blockCaption(Form& form, Page page, double blockTop, const QString& text) {
    form.caption(page, row(blockTop - 6.0, 6.0), text, phraseFont, Qt::AlignLeft | Qt::AlignBottom);
}

// Frame, header box and column rules of one part of the grid; the rows themselves are not
// ruled because their height follows the wrapped subject names.
void drawGrid(Form& form, Page page, bool headerTexts) {
    const QList<TableColumn> columns = subjectColumns();
    double right = geo::left;
    for (const TableColumn& c : columns)
        right += c.width;
    form.art.rect(page, QRectF(QPointF(frameLeft, tableTop), QPointF(right, tableBottom)), 0.4, ink::title);
    form.art.line(page, {frameLeft, rowsTop}, {right, rowsTop}, 0.4, ink::title);
    double u = geo::left;
    for (int i = 0; i < columns.size(); ++i) {
        if (i > 0)
            form.art.line(page, {u, tableTop}, {u, tableBottom}, 0.3, ink::title);
        if (headerTexts) {
            // The inset and alignment of the table's own header on the front: half a text line.
            const double inset = textLineSpacing(tableFont) / 2.0;
            const int flags =
                (columns[i].align == 1 ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignVCenter | Qt::TextWordWrap;
            form.caption(page, QRectF(u + inset, tableTop + inset, columns[i].width - 2 * inset, headerHeight - inset),
                         columns[i].header, tableFont, flags);
        }
        u += columns[i].width;
    }
}

// Organisation, locality, the blank's title and its numbers.
void drawHeading(Form& form, const AppendixType& type) {
    const Page p = details;
    // Sits on the rule whatever its length; a long name grows upwards.
    form.field(p, row(13.5, 21.0), QStringLiteral("$V{Org_Name}"), dataFont, align::centreBottom, true);
    form.rule(p, geo::left, geo::right, 34.8,
              QStringLiteral("(полное наименование организации, осуществляющей образовательную деятельность)"));
    form.blankLine(p, geo::centre - 35.0, geo::centre + 35.0, 45.0, QStringLiteral("$V{City}"), dataFont,
                   align::centreBottom, QStringLiteral("(населённый пункт)"));
    form.caption(p, row(48.5, 8.0), QStringLiteral("ПРИЛОЖЕНИЕ"), FontStyle{16.0, true, false, false, 0.8},
                 Qt::AlignCenter, ink::title);
    form.caption(p, row(56.0, 6.0), QStringLiteral("к свидетельству %1").arg(kindPhrase(type.kind)), phraseFont,
                 Qt::AlignCenter, ink::title);
    form.sentence(p, 69.0, {{QStringLiteral("№"), {}, 0}, {{}, QStringLiteral("$V{att_Number}"), 52.0}});
    form.labelledLine(p, 77.0, regLabel, QStringLiteral("$V{reg_Number}"), valuesLeft());
    form.labelledLine(p, 85.0, QStringLiteral("Дата выдачи"), QStringLiteral("$V{Issue_Out}"), valuesLeft());
    divider(form.art, p, 88.0, 30.0);
}

// The graduate and the course: name, birth, previous education, programme, period, qualification.
void drawGraduate(Form& form) {
    const Page p = details;
    // Room for a second line so that a very long name wraps upwards instead of being cut.
    form.field(p, row(89.0, 10.5), QStringLiteral("$V{Full_Name}"), FontStyle{12.0, true}, align::centreBottom, true);
    form.rule(p, geo::left, geo::right, 99.5, QStringLiteral("(фамилия, имя, отчество (при наличии))"));
    form.labelledLine(p, 109.5, QStringLiteral("Дата рождения"), QStringLiteral("$V{birth}"), valuesLeft());

    blockCaption(form, p, 115.0, QStringLiteral("Предыдущий уровень образования:"));
    form.ruledBlock(p, geo::left, geo::right, 115.0, 3, QStringLiteral("$V{prev_education}"), align::leftTop);
    blockCaption(form, p, 137.5, QStringLiteral("Программа профессионального обучения:"));
    form.ruledBlock(p, geo::left, geo::right, 137.5, 4, QStringLiteral("$V{prof_Prog_Name}"), align::leftTop);
    form.sentence(p, 167.5,
                  {{QStringLiteral("Срок обучения: с"), {}, 0},
                   {{}, QStringLiteral("$V{startDate}"), 36.0},
                   {QStringLiteral("по"), {}, 0},
                   {{}, QStringLiteral("$V{finishDate}"), 36.0}},
                  false);
    blockCaption(form, p, 174.0, QStringLiteral("Присвоена квалификация:"));
    form.ruledBlock(p, geo::left, geo::right, 174.0, 3, QStringLiteral("$V{qual}"), align::leftTop);
}

void drawTablePages(Form& form) {
    form.caption(tableFront, row(14.0, 7.0), QStringLiteral("Результаты освоения программы профессионального обучения"),
                 FontStyle{11.0, true}, Qt::AlignCenter, ink::title);
    drawGrid(form, tableFront, false);
    form.caption(tableBack, row(14.0, 7.0), QStringLiteral("Результаты освоения программы (продолжение)"),
                 FontStyle{11.0, true}, Qt::AlignCenter, ink::title);
    drawGrid(form, tableBack, true);
}

// The first piece stands under the header on the front; the continuation fills the same rows area
// on the back.
void addSubjectTable(Form& form) {
    TableFieldDef table;
    table.origin = sheetRect(tableFront, QRectF(geo::left, tableTop, 0, 0)).topLeft();
    table.font = tableFont;
    table.align = align::leftMiddle;
    table.headerHeight = headerHeight;
    table.rowHeight = rowHeight;
    table.previewRows = 3;
    table.model = QStringLiteral("viewprofdetails");
    table.columns = subjectColumns();
    table.maxHeights = {tableBottom - tableTop, tableBottom - rowsTop};
    table.continuations = {sheetRect(tableBack, QRectF(geo::left, rowsTop, 0, 0)).topLeft(), QPointF(0, 0)};
    form.tables.append(table);
}

void drawClosing(Form& form) {
    const Page p = closing;
    form.caption(p, row(14.0, 7.0), QStringLiteral("Дополнительные сведения"), FontStyle{12.0, true}, Qt::AlignCenter,
                 ink::title);
    form.ruledBlock(p, geo::left, geo::right, 22.0, 17, QStringLiteral("$V{add_info}"), align::leftTop, true);
    form.signature(p, 141.0, QStringLiteral("Руководитель\nорганизации"), QStringLiteral("$V{Boss_short}"));
    form.signature(p, 156.0, QStringLiteral("Секретарь"), QStringLiteral("$V{Boss3_short}"));
    form.sealPlace(p, {30.0, 166.0});
    divider(form.art, p, 182.0, 30.0);
    form.caption(p, row(185.0, 6.0), QStringLiteral("Приложение без свидетельства недействительно"),
                 FontStyle{9.0, false, true}, Qt::AlignCenter, ink::hint);
}
} // namespace

std::unique_ptr<Form> buildAppendix(const AppendixType& type) {
    auto form = std::make_unique<Form>(type.fileName);
    for (const Page page : {details, tableFront, tableBack, closing})
        dressPage(form->art, page);
    drawHeading(*form, type);
    drawGraduate(*form);
    drawTablePages(*form);
    addSubjectTable(*form);
    drawClosing(*form);
    form->shrinkLongValues();
    form->art.finish();
    return form;
}
