// Certificate blank: outer spread (back cover left, front cover right) on side 0, inner spread
// (issuing details left, the graduate's record right) on side 1. All values are page-local mm.
#include "ornament.h"
#include "templates.h"

namespace {
const Page backCover{0, Half::Left};
const Page frontCover{0, Half::Right};
const Page issuer{1, Half::Left};
const Page record{1, Half::Right};

const FontStyle boldLarge{14.0, true};
const FontStyle honoursFont{14.0, true, true};
const QString orgHint =
    QStringLiteral("(полное наименование организации, осуществляющей образовательную деятельность)");
const QString nameHint = QStringLiteral("(фамилия, имя, отчество (при наличии))");

QRectF row(double top, double height) {
    return QRectF(geo::left, top, geo::width, height);
}

void title(Form& form, Page page, double top, double height, const QString& text, const FontStyle& font) {
    form.caption(page, row(top, height), text, font, Qt::AlignCenter, ink::title);
}

// Corner brackets that mark where the code is printed.
void cornerMarks(Form& form, Page page, const QRectF& r) {
    constexpr double arm = 4.0;
    QPainterPath path;
    for (const QPointF& corner : {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()}) {
        const double dx = corner.x() < r.center().x() ? arm : -arm;
        const double dy = corner.y() < r.center().y() ? arm : -arm;
        path.moveTo(corner + QPointF(dx, 0));
        path.lineTo(corner);
        path.lineTo(corner + QPointF(0, dy));
    }
    form.art.stroke(page, path, 0.3, ink::title);
}

void drawBackCover(Form& form) {
    dressPage(form.art, backCover);
    rosette(form.art, backCover, {geo::centre, 96.0}, 24.0, 9.0, 9, ink::ornamentSoft);
    rosette(form.art, backCover, {geo::centre, 96.0}, 7.5, 3.0, 7, ink::ornament);
    form.caption(backCover, row(184.0, 5.0), QStringLiteral("Бланк строгой отчётности"), hintFont, Qt::AlignCenter,
                 ink::hint);
}

void drawFrontCover(Form& form, const CertificateType& type) {
    const Page p = frontCover;
    dressPage(form.art, p);
    title(form, p, 19.0, 7.0, QStringLiteral("РОССИЙСКАЯ ФЕДЕРАЦИЯ"), FontStyle{11.0, true, false, false, 0.9});
    rosette(form.art, p, {geo::centre, 64.0}, 27.0, 11.0, 11, ink::ornament);
    rosette(form.art, p, {geo::centre, 64.0}, 9.0, 3.5, 8, ink::title);
    title(form, p, 102.0, 14.0, QStringLiteral("СВИДЕТЕЛЬСТВО"), FontStyle{26.0, true, false, false, 1.2});
    divider(form.art, p, 120.5, 34.0);
    title(form, p, 124.0, 8.0, kindPhrase(type.kind), FontStyle{14.0});
    if (type.honours)
        title(form, p, 133.0, 9.0, QStringLiteral("с отличием"), FontStyle{16.0, true, true});
    form.field(p, row(158.0, 8.0), QStringLiteral("$V{is_duplicate}"), boldLarge, align::centre);
}

// Organisation, locality and the blank's title with the honours mark.
void drawIssuerHeading(Form& form, const CertificateType& type) {
    const Page p = issuer;
    // Sits on the rule whatever its length; a long name grows upwards.
    form.field(p, row(15.0, 25.0), QStringLiteral("$V{Org_Name}"), dataFont, align::centreBottom, true);
    form.rule(p, geo::left, geo::right, 40.5, orgHint);
    form.blankLine(p, geo::centre - 35.0, geo::centre + 35.0, 52.0, QStringLiteral("$V{City}"), dataFont,
                   align::centreBottom, QStringLiteral("(населённый пункт)"));
    title(form, p, 63.0, 12.0, QStringLiteral("СВИДЕТЕЛЬСТВО"), FontStyle{22.0, true, false, false, 1.0});
    title(form, p, 75.0, 7.5, kindPhrase(type.kind), FontStyle{12.0});
    const QRectF honours = row(82.5, 8.0);
    if (type.honours)
        form.caption(p, honours, QStringLiteral("с отличием"), honoursFont, Qt::AlignCenter, ink::title);
    else
        form.field(p, honours, QStringLiteral("$V{is_excellent}"), honoursFont, align::centre);
    divider(form.art, p, 94.5, 30.0);
}

// Blank number, registration number, issue date and the verification code.
void drawIssuerNumbers(Form& form) {
    const Page p = issuer;
    form.blankLine(p, geo::centre - 32.0, geo::centre + 32.0, 108.0, QStringLiteral("$V{att_Number}"), boldLarge,
                   align::centreBottom, QStringLiteral("(серия и номер бланка)"));
    const QString regLabel = QStringLiteral("Регистрационный номер");
    const double valuesLeft = Form::afterLabel(regLabel);
    form.labelledLine(p, 122.0, regLabel, QStringLiteral("$V{reg_Number}"), valuesLeft);
    form.labelledLine(p, 131.0, QStringLiteral("Дата выдачи"), QStringLiteral("$V{Issue_Out}"), valuesLeft);

    constexpr double qrTop = 152.0;
    constexpr double qrSide = 28.0;
    QrFieldDef qr;
    qr.rect = sheetRect(p, QRectF(geo::left, qrTop, qrSide, qrSide));
    qr.text = QStringLiteral("Рег. № $V{reg_Number}\\nСвидетельство $V{att_Number}\\n$V{Full_Name}\\n"
                             "Выдано $V{Issue_Out_digit}");
    form.qrs.append(qr);
    cornerMarks(form, p, QRectF(geo::left, qrTop, qrSide, qrSide).adjusted(-1.0, -1.0, 1.0, 1.0));
    form.caption(p, QRectF(geo::left + qrSide + 4.0, qrTop, geo::width - qrSide - 4.0, qrSide),
                 QStringLiteral("QR-код содержит регистрационный номер, серию и номер бланка, фамилию, имя, "
                                "отчество (при наличии) выпускника и дату выдачи свидетельства для проверки "
                                "подлинности документа"),
                 FontStyle{8.0, false, true}, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, ink::hint);
}

// The graduate, the period and the programme with its volume.
void drawRecordStudy(Form& form) {
    const Page p = record;
    title(form, p, 14.0, 6.5, QStringLiteral("Настоящее свидетельство выдано"),
          FontStyle{12.0, false, false, false, 0.25});
    // Two lines of room so that a long double-barrelled name wraps upwards, away from the rule.
    form.field(p, row(20.5, 11.5), QStringLiteral("$V{Full_Name}"), boldLarge, align::centreBottom, true);
    form.rule(p, geo::left, geo::right, 32.0, nameHint);
    form.sentence(p, 43.0,
                  {{QStringLiteral("в том, что он(а) с"), {}, 0},
                   {{}, QStringLiteral("$V{startDate}"), 36.0},
                   {QStringLiteral("по"), {}, 0},
                   {{}, QStringLiteral("$V{finishDate}"), 36.0}});
    form.caption(p, row(44.3, 6.0), QStringLiteral("освоил(а) программу профессионального обучения"), phraseFont,
                 Qt::AlignCenter);
    form.ruledBlock(p, geo::left, geo::right, 50.5, 5, QStringLiteral("$V{prof_Prog_Name}"), align::centreTop);

    // The volume brings its own words ("в объёме:", then the hours on a second line): only the hours are ruled.
    constexpr double volumeTop = 79.0;
    TextFieldDef volume;
    volume.text = QStringLiteral("$V{total_count}");
    volume.align = align::centreTop;
    volume.wordWrap = true;
    volume.lineHeight = ruledLineHeight;
    form.field(p, row(volumeTop, 2 * ruledPitch + 0.5), volume);
    form.rule(p, geo::centre - 32.0, geo::centre + 32.0, volumeTop + firstRuledLine + ruledPitch);
}

// The commission's decision: protocol, qualification, profession or post.
void drawRecordDecision(Form& form, const CertificateType& type) {
    const Page p = record;
    form.caption(p, row(91.5, 6.0), QStringLiteral("Решением аттестационной комиссии"), phraseFont, Qt::AlignCenter);
    form.sentence(p, 104.5,
                  {{QStringLiteral("протокол от"), {}, 0},
                   {{}, QStringLiteral("$V{protocol_Date}"), 38.0},
                   {QStringLiteral("№"), {}, 0},
                   {{}, QStringLiteral("$V{protocol_Number}"), 22.0}});
    form.caption(p, row(105.8, 6.0), QStringLiteral("присвоена квалификация"), phraseFont, Qt::AlignCenter);
    form.ruledBlock(p, geo::left, geo::right, 112.0, 3, QStringLiteral("$V{qual}"), align::centreTop);

    constexpr double kindBottom = 136.5;
    if (type.kind == Kind::Either) {
        form.blankLine(p, geo::centre - 40.0, geo::centre + 40.0, kindBottom, QStringLiteral("$V{Certificate_type}"),
                       dataFont, align::centreBottom);
    } else {
        form.sentence(p, kindBottom,
                      {{type.kind == Kind::Profession ? QStringLiteral("по профессии рабочего")
                                                      : QStringLiteral("по должности служащего"),
                        {},
                        0}});
    }
    form.ruledBlock(p, geo::left, geo::right, kindBottom + 0.5, 2, QStringLiteral("$V{profession}"), align::centreTop);
}

void drawRecordSignatures(Form& form) {
    const Page p = record;
    form.signature(p, 160.0, QStringLiteral("Председатель\nаттестационной комиссии"),
                   QStringLiteral("$V{Boss2_short}"));
    form.signature(p, 172.5, QStringLiteral("Руководитель\nорганизации"), QStringLiteral("$V{Boss_short}"));
    form.signature(p, 185.0, QStringLiteral("Секретарь"), QStringLiteral("$V{Boss3_short}"));
    form.sealPlace(p, {30.0, 192.0});
}
} // namespace

QString kindPhrase(Kind kind) {
    switch (kind) {
    case Kind::Profession:
        return QStringLiteral("о профессии рабочего");
    case Kind::Post:
        return QStringLiteral("о должности служащего");
    case Kind::Either:
        break;
    }
    return QStringLiteral("о профессии рабочего, должности служащего");
}

std::unique_ptr<Form> buildCertificate(const CertificateType& type) {
    auto form = std::make_unique<Form>(type.fileName);
    drawBackCover(*form);
    drawFrontCover(*form, type);
    dressPage(form->art, issuer);
    drawIssuerHeading(*form, type);
    drawIssuerNumbers(*form);
    dressPage(form->art, record);
    drawRecordStudy(*form);
    drawRecordDecision(*form, type);
    drawRecordSignatures(*form);
    form->shrinkLongValues();
    form->art.finish();
    return form;
}
