#include "messagebox.h"
#include "modalhelper.h"
#include "printsession.h"
#include "rendertool.h"
#include "reportpage.h"
#include "tablefield.h"
#include "testregistry.h"
#include "textfield.h"

#include <QPainter>
#include <QPointer>
#include <QPrintDialog>
#include <QPrintEngine>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QToolBar>
#include <QtTest>
#include <functional>
#include <memory>

namespace {
const QString backgroundQuestion = QStringLiteral("Включена печать фона.\nПродолжить?!");
const QString cutQuestion =
    QStringLiteral("Данные таблиц не помещаются на данном бланке и будут обрезаны.\nПродолжить?!");
const QString turnPrompt = QStringLiteral("Переверните страницу!");
const QString nextPrompt = QStringLiteral("Вставьте следующий лист");
constexpr int dpi = 100;
// About 270 characters: on three ruled lines of a certificate at 12 pt it ends after "гидроочистки и".
const QString longQualification =
    QStringLiteral("Оператор технологических установок по переработке нефти и газа, машинист насосных и компрессорных "
                   "установок технологических процессов каталитического риформинга бензиновых фракций, изомеризации, "
                   "депарафинизации, гидрокрекинга и гидроочистки и 5-го квалификационного разряда");
const QColor firstColor(200, 40, 40), secondColor(40, 40, 200);

QString box(const QString& text) {
    return QStringLiteral("box: ") + text;
}

QString job(int side) {
    return QStringLiteral("job %1").arg(side);
}

QString refused(int side) {
    return QStringLiteral("refused %1").arg(side);
}

QString error(const QString& text) {
    return QStringLiteral("error: ") + text;
}

QPixmap solid(const QColor& color) {
    QPixmap pixmap(40, 30);
    pixmap.fill(color);
    return pixmap;
}

// Which background a rasterised side shows, by the colour of its centre.
QString backgroundOf(const QImage& image) {
    const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
    for (const auto& known :
         {qMakePair(firstColor, QStringLiteral("first")), qMakePair(secondColor, QStringLiteral("second"))}) {
        if (qAbs(centre.red() - known.first.red()) < 30 && qAbs(centre.blue() - known.first.blue()) < 30)
            return known.second;
    }
    return centre == Qt::white ? QStringLiteral("none") : centre.name();
}
} // namespace

// Prints pages with the message-box wrapper answering and the printer writing PDF: every side's job
// is copied away as it finishes, and the boxes and jobs are logged in the order they happen.
class TestPrintSequence : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> _dir;
    std::unique_ptr<ReportPage> _page;
    ReportPage* _current = nullptr;
    QStringList _log;
    int _previewsShown = 0;
    QStringList _jobFiles;
    int _boxesLogged = 0;
    int _refuseFrom = -1;
    QString _refusedTarget;

    void logNewBoxes() {
        const QList<MessageBox::Shown> shown = MessageBox::shown();
        for (; _boxesLogged < shown.size(); ++_boxesLogged) {
            const MessageBox::Shown& b = shown.at(_boxesLogged);
            if (b.title == MessageBox::errorTitle()) {
                _log << error(QString(b.text).replace(QDir::toNativeSeparators(_dir->path()), QStringLiteral("DIR")));
                continue;
            }
            // The sheet prompts come without a title and icon, the questions with "Внимание!".
            const bool titled = b.text == backgroundQuestion || b.text == cutQuestion ||
                                b.text.startsWith(QStringLiteral("Не помещается на бланке:"));
            QString entry = b.title == (titled ? QStringLiteral("Внимание!") : QString())
                                ? box(b.text)
                                : box(b.text) + " titled " + b.title;
            if (!titled && (b.icon != QMessageBox::NoIcon || b.defaultButton != QMessageBox::Ok))
                entry += " with an icon or without OK as default";
            _log << entry;
        }
    }

    // A page of `sides` sides, each carrying its number as a word, printing PDF jobs.
    ReportPage* makePage(int sides) {
        _page = std::make_unique<ReportPage>();
        _current = _page.get();
        _page->setPagesCount(sides);
        QPrinter* printer = _page->printer();
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setResolution(dpi);
        printer->setOutputFileName(_dir->filePath(QStringLiteral("job.pdf")));
        const double sideHeight = pxToMm(printer->pageRect(QPrinter::DevicePixel).height(), dpi);
        for (int side = 0; side < sides; ++side) {
            auto* field = new TextField;
            field->setGeometry(30, 20 + side * sideHeight, 100, 12);
            field->setText(QStringLiteral("сторона%1").arg(side));
            _page->addField(field);
        }
        connect(_page.get(), &ReportPage::sideJobFinished, this, [this](int side) {
            logNewBoxes();
            QPrinter* printer = _current->printer();
            if (!QFileInfo(printer->outputFileName()).isFile()) {
                _log << refused(side);
                return;
            }
            _log << job(side);
            const QString copy = _dir->filePath(QStringLiteral("job-%1.pdf").arg(_jobFiles.size()));
            QFile::copy(printer->outputFileName(), copy);
            _jobFiles << copy;
            // The printer refuses from this side on.
            if (side + 1 == _refuseFrom)
                printer->setOutputFileName(_refusedTarget);
        });
        return _page.get();
    }

    // A table on side 0 whose rows do not fit: five rows of 8 mm under a 20 mm limit, no continuation.
    TableField* addCutTable(QAbstractItemModel* model) {
        auto* table = new TableField;
        table->setGeometry(30, 60, 60, 20);
        table->setColumnCount(1);
        table->setColumnsWidth({60.0});
        table->setHeaderIsVisible(false);
        table->setHeaderNames({QStringLiteral("Предмет")});
        table->setColumnIds({QStringLiteral("$D{m.name}")});
        table->setColumnsAlign({0});
        table->setRowHeight(8);
        table->setSplitsCount(1);
        table->setMaxSplitHeight({20.0});
        table->setSplitX({0.0});
        table->setSplitY({0.0});
        _current->addField(table);
        table->setModelName(QStringLiteral("m"));
        _current->setModel(QStringLiteral("m"), model, false);
        return table;
    }

    // The qualification field of the certificate: three ruled lines of 12 pt, 120.5 mm wide.
    TextField* addQualification(const QString& text, bool shrinkToFit) {
        auto* field = new TextField;
        field->setGeometry(30, 60, 120.5, 17);
        field->setWordWrap(true);
        field->setAlignFlags(Qt::AlignHCenter | Qt::AlignTop);
        field->setLineHeight(5.51);
        field->setFont(QFont(QStringLiteral("Times New Roman"), 12));
        field->setShrinkToFit(shrinkToFit);
        field->setText(QStringLiteral("$V{qual}"));
        _current->addField(field);
        _current->setVariable(QStringLiteral("qual"), text);
        return field;
    }

    static QStandardItemModel* subjects(int rows) {
        auto* model = new QStandardItemModel(rows, 1);
        model->setHorizontalHeaderLabels({QStringLiteral("name")});
        for (int r = 0; r < rows; ++r)
            model->setItem(r, new QStandardItem(QStringLiteral("Предмет%1").arg(r)));
        return model;
    }

    static void answer(const QList<int>& answers) {
        for (int a : answers)
            MessageBox::setNextAnswer(MessageBox::Button(a));
    }

    QStringList wordsOfJob(int index) const {
        QStringList words;
        for (const PdfWord& word : pdfWords(_jobFiles.value(index)))
            words << word.text;
        return words;
    }

    // Prints from the preview when it comes up, after `check`, as its print button does once the
    // printer is chosen.
    static void printFromPreview(std::function<void(QWidget*)> check) {
        ModalHelper::whenModal([check](QWidget* dialog) {
            check(dialog);
            static_cast<QDialog*>(dialog)->accept();
        });
    }

    // Counts the previews that come up, however briefly.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && qobject_cast<QPrintPreviewDialog*>(watched))
            ++_previewsShown;
        return false;
    }

private slots:
    void initTestCase() { qApp->installEventFilter(this); }
    void cleanupTestCase() { qApp->removeEventFilter(this); }

    void init() {
        MessageBox::clearShown();
        _dir = std::make_unique<QTemporaryDir>();
        _log.clear();
        _jobFiles.clear();
        _boxesLogged = 0;
        _previewsShown = 0;
        _refuseFrom = -1;
    }

    void cleanup() {
        _page.reset();
        QCOMPARE(MessageBox::pendingAnswers(), 0);
    }

    void sequence_data() {
        QTest::addColumn<int>("sides");
        QTest::addColumn<int>("pageIndex");
        QTest::addColumn<int>("backgroundMode");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<bool>("result");
        const int ok = QMessageBox::Ok, yes = QMessageBox::Yes, no = QMessageBox::No;
        QTest::newRow("three sides") << 3 << -1 << 0 << QList<int>{ok, ok}
                                     << QStringList{job(0), box(turnPrompt), job(1), box(nextPrompt), job(2)} << true;
        QTest::newRow("four sides") << 4 << -1 << 0 << QList<int>{ok, ok, ok}
                                    << QStringList{job(0), box(turnPrompt), job(1), box(nextPrompt),
                                                   job(2), box(turnPrompt), job(3)}
                                    << true;
        QTest::newRow("only side 1") << 3 << 1 << 0 << QList<int>() << QStringList{job(1)} << true;
        QTest::newRow("only side 0, backgrounds on") << 2 << 0 << 1 << QList<int>() << QStringList{job(0)} << true;
        QTest::newRow("no such side") << 2 << 2 << 0 << QList<int>() << QStringList() << false;
        QTest::newRow("background, yes") << 2 << -1 << 1 << QList<int>{yes, ok}
                                         << QStringList{box(backgroundQuestion), job(0), box(turnPrompt), job(1)}
                                         << true;
        QTest::newRow("background, no") << 2 << -1 << 1 << QList<int>{no} << QStringList{box(backgroundQuestion)}
                                        << false;
        QTest::newRow("background, box closed")
            << 2 << -1 << 1 << QList<int>{int(QMessageBox::Cancel)} << QStringList{box(backgroundQuestion)} << false;
    }

    // One job per side in side order, with the sheet prompts between them.
    void sequence() {
        QFETCH(int, sides);
        QFETCH(int, pageIndex);
        QFETCH(int, backgroundMode);
        QFETCH(QList<int>, answers);
        QFETCH(QStringList, log);
        QFETCH(bool, result);
        ReportPage* page = makePage(sides);
        answer(answers);
        QCOMPARE(PrintSession().printPage(page, true, backgroundMode, false, pageIndex), result);
        logNewBoxes();
        QCOMPARE(_log, log);
        for (int i = 0; i < _jobFiles.size(); ++i) {
            const int side = _log.filter(QStringLiteral("job ")).at(i).mid(4).toInt();
            QCOMPARE(wordsOfJob(i), QStringList{QStringLiteral("сторона%1").arg(side)});
        }
    }

    void refusedJob_data() {
        QTest::addColumn<int>("sides");
        QTest::addColumn<int>("pageIndex");
        QTest::addColumn<int>("refuseFrom");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("printerName");
        QTest::addColumn<QStringList>("log");
        const QString office = QStringLiteral("Кабинет 12");
        const QString noFolder = QStringLiteral("\nПапка «DIR/нет» не найдена.");
        const QString stopped = QStringLiteral("\nПечать остановлена.");
        QTest::newRow("the first side") << 2 << -1 << 0 << "нет/job.pdf" << office
                                        << QStringList{refused(0), error("Принтер «Кабинет 12» не принял задание: "
                                                                         "сторона 1 не напечатана." +
                                                                         noFolder + stopped)};
        // No prompt to insert the next sheet after the refused back.
        QTest::newRow("the back of three") << 3 << -1 << 1 << "нет/job.pdf" << office
                                           << QStringList{job(0), box(turnPrompt), refused(1),
                                                          error("Принтер «Кабинет 12» не принял задание: сторона 2 не "
                                                                "напечатана." +
                                                                noFolder + stopped + "\nСторона 1 напечатана.")};
        QTest::newRow("one side, a folder for the file")
            << 3 << 1 << 1 << "папка" << QString()
            << QStringList{refused(1), error("Принтер «DIR/папка» не принял задание: сторона 2 не напечатана.\nФайл не "
                                             "удалось записать." +
                                             stopped)};
        QTest::newRow("no printer at all") << 2 << -1 << 0 << QString() << QString()
                                           << QStringList{refused(0), error("Принтер не выбран или не установлен: "
                                                                            "сторона 1 не напечатана." +
                                                                            stopped)};
    }

    // A job the printer refuses ends the sequence with a box that names the printer and the side:
    // no sheet prompt after it, nothing more sent.
    void refusedJob() {
        QFETCH(int, sides);
        QFETCH(int, pageIndex);
        QFETCH(int, refuseFrom);
        QFETCH(QString, target);
        QFETCH(QString, printerName);
        QFETCH(QStringList, log);
        ReportPage* page = makePage(sides);
        QVERIFY(QDir(_dir->path()).mkdir(QStringLiteral("папка")));
        _refuseFrom = refuseFrom;
        _refusedTarget = target.isEmpty() ? QString() : _dir->filePath(target);
        QPrinter* printer = page->printer();
        // A PDF printer has no name of its own; the print engine keeps whatever it is given.
        printer->printEngine()->setProperty(QPrintEngine::PPK_PrinterName, printerName);
        if (refuseFrom == 0 || refuseFrom == pageIndex)
            printer->setOutputFileName(_refusedTarget);
        answer(QVector<int>(log.filter(QStringLiteral("box: ")).size() + 1, QMessageBox::Ok).toList());
        QVERIFY(!PrintSession().printPage(page, true, 0, false, pageIndex));
        logNewBoxes();
        QCOMPARE(_log, log);
    }

    void backgrounds_data() {
        QTest::addColumn<bool>("templateSetting");
        QTest::addColumn<int>("backgroundMode");
        QTest::addColumn<bool>("secondImage");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("off in the template") << false << 0 << true << QStringList{"none", "none", "none"};
        QTest::newRow("switched off") << true << -1 << true << QStringList{"none", "none", "none"};
        QTest::newRow("on in the template") << true << 0 << true << QStringList{"first", "second", "first"};
        QTest::newRow("switched on") << false << 1 << true << QStringList{"first", "second", "first"};
        QTest::newRow("no second image") << false << 1 << false << QStringList{"first", "none", "first"};
    }

    // Even sides print the first background, odd sides the second, and only when switched on.
    void backgrounds() {
        QFETCH(bool, templateSetting);
        QFETCH(int, backgroundMode);
        QFETCH(bool, secondImage);
        QFETCH(QStringList, shown);
        ReportPage* page = makePage(3);
        page->setBackgroundImage(solid(firstColor));
        if (secondImage)
            page->setBackgroundImage2(solid(secondColor));
        page->setPrintBackgroundImage(templateSetting);
        const bool asked = shown.first() != QLatin1String("none");
        if (asked)
            MessageBox::setNextAnswer(QMessageBox::Yes);
        answer({QMessageBox::Ok, QMessageBox::Ok});
        QSignalSpy edits(page, &ReportPage::pageChanged);
        QVERIFY(PrintSession().printPage(page, true, backgroundMode, false, -1));
        QCOMPARE(MessageBox::shown().first().text == backgroundQuestion, asked);
        // The choice made for one print is not an edit of the template.
        QCOMPARE(page->printBackgroundImage(), templateSetting);
        QCOMPARE(edits.count(), 0);
        QStringList found;
        for (const QString& file : _jobFiles) {
            const QList<QImage> images = rasterize(file, 10);
            QCOMPARE(images.size(), 1);
            found << backgroundOf(images.first());
        }
        QCOMPARE(found, shown);
    }

    void cutTables_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<bool>("result");
        const int ok = QMessageBox::Ok;
        QTest::newRow("rows fit") << 2 << QList<int>{ok, ok}
                                  << QStringList{job(0), box(turnPrompt), job(1), box(nextPrompt), job(2)} << true;
        QTest::newRow("cut, go on") << 5 << QList<int>{int(QMessageBox::Yes), ok, ok}
                                    << QStringList{job(0), box(cutQuestion), box(turnPrompt),
                                                   job(1), box(nextPrompt),  job(2)}
                                    << true;
        // Side 0 is already printed when the question comes; the later sides are not.
        QTest::newRow("cut, stop") << 5 << QList<int>{int(QMessageBox::No)} << QStringList{job(0), box(cutQuestion)}
                                   << false;
    }

    void cutTables() {
        QFETCH(int, rows);
        QFETCH(QList<int>, answers);
        QFETCH(QStringList, log);
        QFETCH(bool, result);
        ReportPage* page = makePage(3);
        std::unique_ptr<QStandardItemModel> model(subjects(rows));
        addCutTable(model.get());
        answer(answers);
        PrintSession session;
        QCOMPARE(session.printPage(page, true, 0, false, -1), result);
        logNewBoxes();
        QCOMPARE(_log, log);
        QCOMPARE(session.isCancelled(), !result);
        // Two rows of 8 mm fit under the 20 mm limit; the third would end at 24 mm.
        const QStringList words = wordsOfJob(0);
        QVERIFY2(words.contains(QStringLiteral("Предмет1")) && !words.contains(QStringLiteral("Предмет2")),
                 qPrintable(words.join(' ')));
    }

    void cutTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("shrinkToFit");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<bool>("result");
        QTest::addColumn<bool>("asked");
        const int yes = QMessageBox::Yes, no = QMessageBox::No, ok = QMessageBox::Ok;
        QTest::newRow("fits") << QStringLiteral("Слесарь-ремонтник 3-го разряда") << false << QList<int>{ok} << true
                              << false;
        QTest::newRow("cut, print anyway") << longQualification << false << QList<int>{yes, ok} << true << true;
        QTest::newRow("cut, stop") << longQualification << false << QList<int>{no} << false << true;
        QTest::newRow("box closed") << longQualification << false << QList<int>{int(QMessageBox::Cancel)} << false
                                    << true;
        QTest::newRow("shrinks to fit") << longQualification << true << QList<int>{ok} << true << false;
    }

    // Filled text that the field cannot hold is asked about before anything is printed, naming the
    // field and the words that would be lost; a field that shrinks its text prints it whole.
    void cutTexts() {
        QFETCH(QString, text);
        QFETCH(bool, shrinkToFit);
        QFETCH(QList<int>, answers);
        QFETCH(bool, result);
        QFETCH(bool, asked);
        ReportPage* page = makePage(2);
        addQualification(text, shrinkToFit);
        answer(answers);
        QCOMPARE(PrintSession().printPage(page, true, 0, false, -1), result);
        logNewBoxes();
        const QString question = MessageBox::shown().value(0).text;
        QCOMPARE(question.startsWith(QStringLiteral("Не помещается на бланке:\nполе «$V{qual}»: «")), asked);
        if (asked) {
            QVERIFY2(question.contains(QStringLiteral("5-го квалификационного разряда»")), qPrintable(question));
            QVERIFY2(!question.contains(QStringLiteral("Оператор")), qPrintable(question));
            QVERIFY(question.endsWith(QStringLiteral("\nПродолжить?!")));
            QCOMPARE(MessageBox::shown().value(0).defaultButton, QMessageBox::No);
        }
        // Nothing goes to the printer before the answer.
        QCOMPARE(_log.first(), asked ? box(question) : job(0));
        QCOMPARE(_jobFiles.size(), result ? 2 : 0);
        if (result) {
            const QStringList words = wordsOfJob(0);
            QCOMPARE(words.contains(QStringLiteral("разряда")), !asked);
            QVERIFY(words.contains(QStringLiteral("Оператор")) || !text.startsWith(QStringLiteral("Оператор")));
        }
    }

    // The lost text is what the clip takes: the lines below the field, or the end of a line that
    // does not wrap (laid out from its start whatever the alignment).
    void lostText_data() {
        QTest::addColumn<int>("align");
        QTest::addColumn<bool>("wordWrap");
        QTest::addColumn<double>("width");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("lost");
        const int left = Qt::AlignLeft | Qt::AlignTop, right = Qt::AlignRight | Qt::AlignTop;
        QTest::newRow("fits") << left << false << 100.0 << QStringLiteral("Иванов Иван") << QString();
        QTest::newRow("empty") << left << true << 100.0 << QString() << QString();
        QTest::newRow("line too long, left")
            << left << false << 50.0 << QStringLiteral("Иванов Иван Иванович Петров-Водкин") << "Водкин";
        QTest::newRow("line too long, right")
            << right << false << 50.0 << QStringLiteral("Иванов Иван Иванович Петров-Водкин") << "Водкин";
        QTest::newRow("lines below the field")
            << left << true << 120.5 << longQualification << "5-го квалификационного разряда";
    }

    void lostText() {
        QFETCH(int, align);
        QFETCH(bool, wordWrap);
        QFETCH(double, width);
        QFETCH(QString, text);
        QFETCH(QString, lost);
        makePage(1);
        TextField* field = addQualification(text, false);
        field->setAlignFlags(quint16(align));
        field->setWordWrap(wordWrap);
        field->setWidth(width);
        _current->setFillWithData(true);
        const QString found = field->lostText(ReportPage::mmToPx(300));
        if (lost.isEmpty())
            QCOMPARE(found, QString());
        else
            QVERIFY2(found.endsWith(lost), qPrintable(found));
        // The words that do print are not counted as lost.
        QVERIFY2(!found.contains(QStringLiteral("Иванович")) && !found.contains(QStringLiteral("Оператор")),
                 qPrintable(found));
        QCOMPARE(_current->cutTexts(ReportPage::mmToPx(300)).size(), lost.isEmpty() ? 0 : 1);
    }

    void preview_data() {
        QTest::addColumn<int>("sides");
        QTest::addColumn<int>("pageIndex");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QStringList>("log");
        const QString print = QStringLiteral("print"), close = QStringLiteral("close");
        QTest::newRow("one side") << 1 << -1 << print << QStringList{job(0)};
        QTest::newRow("two sides") << 2 << -1 << print << QStringList{job(0), box(turnPrompt), job(1)};
        QTest::newRow("three sides") << 3 << -1 << print
                                     << QStringList{job(0), box(turnPrompt), job(1), box(nextPrompt), job(2)};
        QTest::newRow("only side 2") << 3 << 2 << print << QStringList{job(2)};
        // Its print button asks the platform's print dialog for the printer first.
        QTest::newRow("two sides, its print button")
            << 2 << -1 << QStringLiteral("button") << QStringList{job(0), box(turnPrompt), job(1)};
        QTest::newRow("two sides, closed") << 2 << -1 << close << QStringList();
        QTest::newRow("only side 1, closed") << 2 << 1 << close << QStringList();
    }

    // One modal preview shows every side asked for, before anything is printed; it shows the whole
    // side, as tall as 0.9 of the screen's free height and centred on it. Printing from it prints
    // the sides as a run without a preview does, a job per side with the prompts between them;
    // closing it prints nothing.
    void preview() {
        QFETCH(int, sides);
        QFETCH(int, pageIndex);
        QFETCH(QString, reply);
        QFETCH(QStringList, log);
        ReportPage* page = makePage(sides);
        answer(QVector<int>(log.filter(QStringLiteral("box: ")).size(), QMessageBox::Ok).toList());
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QRect geometry;
        int pagesShown = -1;
        QStringList logWhenShown{"not shown"};
        bool printDialogShown = false;
        PrintSession session;
        ModalHelper::whenModal([&](QWidget* dialog) {
            QVERIFY(qobject_cast<QPrintPreviewDialog*>(dialog));
            QCOMPARE(session.previewDialog(), dialog);
            QVERIFY(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
            auto* view = dialog->findChild<QPrintPreviewWidget*>();
            QVERIFY(view);
            QCOMPARE(view->zoomMode(), QPrintPreviewWidget::FitInView);
            geometry = dialog->geometry();
            pagesShown = view->pageCount();
            logWhenShown = _log;
            if (reply == QLatin1String("close")) {
                dialog->close();
            } else if (reply == QLatin1String("print")) {
                static_cast<QDialog*>(dialog)->accept();
            } else {
                // The platform's print dialog keeps the printer as it is; the preview then leaves.
                ModalHelper::whenModal([&](QWidget* printDialog) {
                    printDialogShown = qobject_cast<QPrintDialog*>(printDialog);
                    static_cast<QDialog*>(printDialog)->accept();
                });
                auto* toolBar = dialog->findChild<QToolBar*>();
                QVERIFY(toolBar && !toolBar->actions().isEmpty());
                toolBar->actions().last()->trigger();
            }
        });
        QCOMPARE(session.printPage(page, true, 0, true, pageIndex), reply != QLatin1String("close"));
        logNewBoxes();
        QCOMPARE(logWhenShown, QStringList());
        QCOMPARE(pagesShown, pageIndex < 0 ? sides : 1);
        QCOMPARE(_log, log);
        QCOMPARE(_previewsShown, 1);
        QCOMPARE(printDialogShown, reply == QLatin1String("button"));
        QCOMPARE(geometry.height(), int(area.height() * 0.9));
        QVERIFY(qAbs(geometry.center().y() - area.center().y()) <= 1);
        QVERIFY(qAbs(geometry.center().x() - area.center().x()) <= 1);
        QVERIFY(!session.previewDialog());
        for (int i = 0; i < _jobFiles.size(); ++i)
            QCOMPARE(wordsOfJob(i), QStringList{QStringLiteral("сторона%1").arg(_log.filter("job ").at(i).mid(4))});
    }

    // No to the cut-table question after printing from the preview: side 0 is printed, no later side.
    void cutTableInPreview() {
        ReportPage* page = makePage(2);
        std::unique_ptr<QStandardItemModel> model(subjects(5));
        addCutTable(model.get());
        MessageBox::setNextAnswer(QMessageBox::No);
        PrintSession session;
        printFromPreview([](QWidget*) {});
        QVERIFY(!session.printPage(page, true, 0, true, -1));
        logNewBoxes();
        QCOMPARE(_log, (QStringList{job(0), box(cutQuestion)}));
        QVERIFY(session.isCancelled());
        QCOMPARE(_previewsShown, 1);
        QVERIFY(!QApplication::activeModalWidget());
    }

    // The page, its printer and its models outlive a running sequence: a deleteLater() from inside it
    // waits for its end, and a borrowed model deleted meanwhile only empties the table.
    void lifetimeDuringPreview() {
        ReportPage* page = makePage(2);
        (void)_page.release(); // deleted through deleteLater() below
        auto* model = subjects(2);
        TableField* table = addCutTable(model);
        table->setY(260); // on side 1
        table->setSplitsCount(0);
        QPointer<ReportPage> guard(page);
        QList<bool> alive;
        MessageBox::setNextAnswer(QMessageBox::Ok);
        printFromPreview([&](QWidget*) {
            if (alive.isEmpty()) {
                page->deleteLater();
                delete model;
            }
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            alive << bool(guard);
        });
        QVERIFY(PrintSession().printPage(page, true, 0, true, -1));
        QCOMPARE(alive, QList<bool>{true});
        QCOMPARE(_log, (QStringList{job(0), box(turnPrompt), job(1)}));
        QCOMPARE(table->rowCountInEffect(), 0);
        QVERIFY(!table->model());
        QTRY_VERIFY(!guard);
    }
};

ORVANE_TEST(TestPrintSequence)
#include "tst_printsequence.moc"
