#include "database.h"
#include "engine.h"
#include "printdata.h"
#include "printsession.h"
#include "reportlist.h"
#include "reportpage.h"
#include "testdatabase.h"
#include "testregistry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QtTest>

namespace {
struct Word {
    int page;
    QRectF box;
    QString text;
};

// Word boxes of a PDF, in points, from pdftotext -bbox.
QList<Word> words(const QString& pdf) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    p.waitForFinished(30000);
    const QString html = QString::fromUtf8(p.readAllStandardOutput());
    QList<Word> result;
    int page = -1;
    const QRegularExpression pageRe(QStringLiteral("<page "));
    const QRegularExpression wordRe(QStringLiteral(
        "<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">([^<]*)</word>"));
    for (const QString& line : html.split(QLatin1Char('\n'))) {
        if (pageRe.match(line).hasMatch())
            ++page;
        const QRegularExpressionMatch m = wordRe.match(line);
        if (m.hasMatch())
            result.append(Word{page,
                               QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                                      QPointF(m.captured(3).toDouble(), m.captured(4).toDouble())),
                               m.captured(5)});
    }
    return result;
}

void exec(const QString& sql, const QVariantList& values) {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(sql);
    for (const QVariant& v : values)
        query.addBindValue(v);
    QVERIFY2(Database::instance()->execPrepared(query), qPrintable(sql));
}

// A document as a records office fills it in, with long texts where forms get tight.
void insertRealisticDocument() {
    exec(QStringLiteral("INSERT INTO ProfDocuments (profId, fio1, fio2, fio3, birthDate, prevEducation, "
                        "certificateType, profession, qual, protocolNumber, protocolDate, regNumber, issueDate, "
                        "attNumber, addInfo, showTotalCount, profProgName, startDate, finishDate, isDuplicate, "
                        "isExcellent) VALUES (1, ?, ?, ?, '1991-01-05', ?, 1, ?, ?, '12-к', '2024-06-28', '000457', "
                        "'2024-07-01', '69 0001234', ?, 1, ?, '2024-01-09', '2024-06-28', 1, 1)"),
         {QStringLiteral("Константинопольская"), QStringLiteral("Александра"), QStringLiteral("Владимировна"),
          QStringLiteral("Аттестат о среднем общем образовании 69 БА 0012345 от 25 июня 2009 года"),
          QStringLiteral("Сварщик ручной дуговой сварки плавящимся покрытым электродом"),
          QStringLiteral("Сварщик ручной дуговой сварки\n3 разряд"),
          QStringLiteral("Прошла производственную практику на АО «Тверской вагоностроительный завод»."),
          QStringLiteral("Основная программа профессионального обучения — программа профессиональной подготовки "
                         "по профессии рабочего «Сварщик ручной дуговой сварки плавящимся покрытым электродом»")});
    const QStringList subjects = {"Охрана труда",
                                  "Материаловедение",
                                  "Черчение и чтение чертежей",
                                  "Электротехника и электроника",
                                  "Основы экономики организации",
                                  "Допуски и технические измерения",
                                  "Технология сварочных работ",
                                  "Сварочное оборудование",
                                  "Контроль качества сварных соединений",
                                  "Основы слесарного дела",
                                  "Газосварка и газорезка",
                                  "Ручная дуговая сварка",
                                  "Промышленная безопасность",
                                  "Пожарная безопасность",
                                  "Первая помощь пострадавшим",
                                  "Информационные технологии в профессиональной деятельности",
                                  "Основы предпринимательства",
                                  "Физическая культура",
                                  "Учебная практика",
                                  "Производственная практика",
                                  "Технологическая оснастка",
                                  "Дефектоскопия",
                                  "Экологическая безопасность",
                                  "Основы права",
                                  "Квалификационный экзамен"};
    const QStringList grades = {"отлично", "хорошо", "удовлетворительно", "зачтено"};
    for (int i = 0; i < subjects.size(); ++i)
        exec(QStringLiteral("INSERT INTO ProfDetails (profId, name, count, rate) VALUES (1, ?, ?, ?)"),
             {subjects[i], 8 + i * 3, grades[i % grades.size()]});
    const QList<QPair<QString, QString>> organisation = {
        {"Data/OrgName_1", "Государственное бюджетное профессиональное образовательное учреждение «Тверской колледж "
                           "технологий и сервиса № 7»"},
        {"Data/City", "г. Тверь"},
        {"Data/Boss", "Кузнецова Анна Сергеевна"},
        {"Data/Boss_2", "Петров Пётр Петрович"},
        {"Data/Boss_3", "Сидорова Елена Викторовна"}};
    for (const auto& v : organisation)
        Database::instance()->setVariable(v.first, v.second);
}

QStringList placeholders(const QJsonValue& value, const QRegularExpression& re) {
    QStringList found;
    if (value.isString()) {
        auto it = re.globalMatch(value.toString());
        while (it.hasNext())
            found << it.next().captured(1).trimmed().toLower();
    } else if (value.isArray()) {
        for (const QJsonValue& v : value.toArray())
            found << placeholders(v, re);
    } else if (value.isObject()) {
        for (const QJsonValue& v : value.toObject())
            found << placeholders(v, re);
    }
    return found;
}
} // namespace

class TestTemplates : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { ReportList::build(); }

    void usesOnlyKnownNames() {
        TestDatabase t;
        t.open();
        ReportPage sample;
        Engine::fillPage(&sample, 0, false, nullptr);
        const QStringList known = sample.variables().keys();
        for (const ReportList::ReportInfo& info : ReportList::reports()) {
            QFile file(QStringLiteral(":/default_reports/%1.mzrpt").arg(info.fileName));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
            QVERIFY2(!root.isEmpty(), qPrintable(info.fileName));
            for (const QString& name : placeholders(root, QRegularExpression(QStringLiteral("\\$V\\{([^}]*)\\}"))))
                QVERIFY2(known.contains(name), qPrintable(info.fileName + QLatin1Char(' ') + name));
            for (const QString& cell : placeholders(root, QRegularExpression(QStringLiteral("\\$D\\{([^}]*)\\}"))))
                QVERIFY2(QRegularExpression(QStringLiteral("^viewprofdetails\\.(profid|col1|col2|col3)$"))
                             .match(cell)
                             .hasMatch(),
                         qPrintable(info.fileName + QLatin1Char(' ') + cell));
            ReportPage page;
            QVERIFY(page.load(file.fileName()));
            QCOMPARE(page.pagesCount(), 2);
            QVERIFY(!page.backgroundImage().isNull());
            QVERIFY(!page.backgroundImage2().isNull());
        }
    }

    void realisticDocumentFitsEveryField_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("dpi");
        for (const ReportList::ReportInfo& info : ReportList::reports()) {
            for (int dpi : {96, 300, 600})
                QTest::addRow("%s at %d dpi", qPrintable(info.fileName), dpi) << int(info.type) << dpi;
        }
    }

    // The question about text cut by the blank is for text that is really lost: a document as an
    // office fills it in fits every field of the shipped forms, at the resolution of the screen's
    // preview and of printers.
    void realisticDocumentFitsEveryField() {
        QFETCH(int, type);
        QFETCH(int, dpi);
        TestDatabase t;
        t.open();
        insertRealisticDocument();
        ReportPage page;
        QVERIFY(page.load(QStringLiteral(":/default_reports/%1.mzrpt").arg(ReportList::info(type)->fileName)));
        QVERIFY(Engine::fillPage(&page, 1, true, nullptr));
        page.setFillWithData(true);
        QCOMPARE(PrintSession::describeCutTexts(page, ReportPage::mmToPx(dpi)), QStringList());
    }

    void rendersARealisticDocument_data() {
        QTest::addColumn<int>("type");
        for (const ReportList::ReportInfo& info : ReportList::reports())
            QTest::newRow(qPrintable(info.fileName)) << int(info.type);
    }

    void rendersARealisticDocument() {
        QFETCH(int, type);
        TestDatabase t;
        t.open();
        insertRealisticDocument();
        t.close(); // the tool opens the file itself
        // The tool reads the registry and never writes it: a missing view is made for its own
        // connection only, and the file keeps every byte.
        QCOMPARE(execOnFile(t.filePath(), {QStringLiteral("DROP VIEW ViewProfDetails")}), QString());
        const QByteArray registry = readFileBytes(t.filePath());
        const QString reports = QFileInfo(t.filePath()).absolutePath() + QStringLiteral("/reports");
        QDir().mkpath(reports);
        const QString fileName = ReportList::info(type)->fileName + QStringLiteral(".mzrpt");
        QVERIFY(QFile::copy(QStringLiteral(":/default_reports/") + fileName, reports + QLatin1Char('/') + fileName));

        const QString pdf = t.env().root() + QStringLiteral("/out.pdf");
        QProcess tool;
        tool.start(binaryPath(QStringLiteral("mzrpt-render")),
                   {QStringLiteral("--db"), t.filePath(), QStringLiteral("--type"), QString::number(type),
                    QStringLiteral("--doc"), QStringLiteral("1"), pdf});
        QVERIFY(tool.waitForFinished(60000));
        const QByteArray errors = tool.readAllStandardError();
        QCOMPARE(tool.exitCode(), 0);
        QVERIFY2(!errors.contains("does not fit"), errors.constData());
        QVERIFY(readFileBytes(t.filePath()) == registry);
        QCOMPARE(QDir(QFileInfo(t.filePath()).absolutePath()).entryList(QDir::Files),
                 QStringList{QFileInfo(t.filePath()).fileName()});

        const QList<Word> printed = words(pdf);
        QVERIFY(printed.size() > 20);
        const QRectF paper(0, 0, 842, 595);
        for (int i = 0; i < printed.size(); ++i) {
            QVERIFY2(paper.contains(printed[i].box), qPrintable(printed[i].text));
            for (int j = i + 1; j < printed.size(); ++j) {
                if (printed[i].page != printed[j].page)
                    continue;
                const QRectF overlap = printed[i].box.intersected(printed[j].box);
                QVERIFY2(overlap.width() < 0.5 || overlap.height() < 0.5,
                         qPrintable(printed[i].text + QStringLiteral(" / ") + printed[j].text));
            }
        }
        QString text;
        for (const Word& w : printed)
            text += w.text + QLatin1Char(' ');
        QVERIFY(text.contains(QStringLiteral("Константинопольская")));
        QVERIFY(text.contains(QStringLiteral("Тверь")));
        const bool appendix = type == ReportList::AppendixAny || type == ReportList::AppendixProfession ||
                              type == ReportList::AppendixPosition;
        if (appendix) {
            for (const QString& word : {QStringLiteral("Охрана"), QStringLiteral("Дефектоскопия"),
                                        QStringLiteral("Квалификационный"), QStringLiteral("ВСЕГО:")})
                QVERIFY2(text.contains(word), qPrintable(word));
            QVERIFY(text.contains(QStringLiteral("Прошла производственную практику")));
        } else {
            QVERIFY(text.contains(QStringLiteral("000457")));
            QVERIFY(text.contains(QStringLiteral("ДУБЛИКАТ")));
        }
    }
};

ORVANE_TEST(TestTemplates)
#include "tst_templates.moc"
