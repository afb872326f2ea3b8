#include "printsession.h"

#include "messagebox.h"
#include "mzlog.h"
#include "pdfsideswriter.h"
#include "replacementfile.h"
#include "reportpage.h"
#include "textfield.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPaintEngine>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProgressDialog>
#include <QScopeGuard>
#include <QScreen>
#include <QStorageInfo>
#include <QStyle>
#include <QTimer>
#include <algorithm>

namespace {
const QString attention = MessageBox::attentionTitle();
const QString backgroundQuestion = QStringLiteral("Включена печать фона.\nПродолжить?!");
const QString cutTablesQuestion =
    QStringLiteral("Данные таблиц не помещаются на данном бланке и будут обрезаны.\nПродолжить?!");
const QString turnSheetPrompt = QStringLiteral("Переверните страницу!");
const QString nextSheetPrompt = QStringLiteral("Вставьте следующий лист");
const QString reinsertSheetsPrompt = QStringLiteral("Переложите напечатанные страницы обратно в лоток.");
const QString sideTitle = QStringLiteral("Сторона %1");
const QString printingLabel = QStringLiteral("Печать: %1 из %2");
const QString savingTitle = QStringLiteral("Сохранить в PDF");
const QString previewTitle = QStringLiteral("Предварительный просмотр");
const QString previewLabel = QStringLiteral("Подготовка: %1 из %2");
const QString savingLabel = QStringLiteral("Сохранение: %1 из %2");
const QString cutTextsHeading = QStringLiteral("Не помещается на бланке:");
const QString cutTextsTail = QStringLiteral("Этот текст не будет напечатан.\nПродолжить?!");
const QString cutTextLine = QStringLiteral("поле «%1»: «%2»");
const QString cutTextDocumentLine = QStringLiteral("документ с кодом %1, поле «%2»: «%3»");
const QString refusedLine = QStringLiteral("Принтер «%1» не принял задание: %2 не напечатана.");
const QString noPrinterLine = QStringLiteral("Принтер не выбран или не установлен: %1 не напечатана.");
const QString refusedSide = QStringLiteral("сторона %1");
const QString refusedDocumentSide = QStringLiteral("сторона %1 документа с кодом %2");
const QString stoppedText = QStringLiteral("Печать остановлена.");
const QString sidePrintedLine = QStringLiteral("Сторона %1 напечатана.");
const QString sideNoneLine = QStringLiteral("Сторона %1 не напечатана ни для одного документа.");
const QString sideDocumentsLine = QStringLiteral("Сторона %1 напечатана для документов с кодами: %2.");
const QString sideLeftLine = QStringLiteral("Сторона %1 не напечатана для документов с кодами: %2.");
// A box lists this many fields at most; the log has them all.
constexpr int maxCutTextsListed = 10;
// A field is named by its template text, cut to this length.
constexpr int fieldNameLength = 40;
// Free room below this counts as a full disk when a write has failed.
constexpr qint64 lowDiskSpace = 1024 * 1024;
// A run of more documents than this shows its progress and can be stopped between documents.
constexpr int progressThreshold = 5;
// Share of the screen's available height that a preview takes.
constexpr double previewHeightShare = 0.9;

bool askYes(const QString& text, QMessageBox::StandardButton defaultButton = QMessageBox::Yes) {
    return MessageBox::question(QApplication::activeWindow(), attention, text, QMessageBox::Yes | QMessageBox::No,
                                defaultButton) == QMessageBox::Yes;
}

// A field as the designer shows it: its template text.
QString fieldName(const TextField* field) {
    const QString text = field->text().simplified();
    return text.size() > fieldNameLength ? TextField::cutText(text, fieldNameLength) + QStringLiteral("…") : text;
}

// Why a file at `path` could not be written, in the user's words; the system's own text, when
// there is one, follows on a line of its own.
QString writeFailure(const QString& path, const QString& technical) {
    const QString folder = QFileInfo(path).absolutePath();
    const QFileInfo folderInfo(folder);
    const QStorageInfo storage(folder);
    QString reason;
    if (!folderInfo.isDir())
        reason = QStringLiteral("Папка «%1» не найдена.").arg(QDir::toNativeSeparators(folder));
    else if (storage.isValid() && storage.isReadOnly())
        reason = QStringLiteral("Диск с папкой «%1» доступен только для чтения.").arg(QDir::toNativeSeparators(folder));
    else if (!folderInfo.isWritable())
        reason = QStringLiteral("Нет права на запись в папку «%1».").arg(QDir::toNativeSeparators(folder));
    else if (storage.isValid() && storage.bytesAvailable() < lowDiskSpace)
        reason = QStringLiteral("На диске недостаточно свободного места.");
    else
        reason = QStringLiteral("Файл не удалось записать.");
    return technical.isEmpty() ? reason : reason + QLatin1Char('\n') + technical;
}
} // namespace

QString PrintSession::attentionTitle() {
    return attention;
}

QString PrintSession::backgroundQuestionText() {
    return backgroundQuestion;
}

QString PrintSession::cutTablesQuestionText() {
    return cutTablesQuestion;
}

QString PrintSession::turnSheetPromptText() {
    return turnSheetPrompt;
}

QString PrintSession::nextSheetPromptText() {
    return nextSheetPrompt;
}

QString PrintSession::reinsertSheetsPromptText() {
    return reinsertSheetsPrompt;
}

QString PrintSession::cutTextsQuestionText(const QStringList& lines) {
    QStringList listed = lines.mid(0, maxCutTextsListed);
    if (lines.size() > maxCutTextsListed)
        listed << QStringLiteral("и ещё %1").arg(lines.size() - maxCutTextsListed);
    return cutTextsHeading + QLatin1Char('\n') + listed.join(QLatin1Char('\n')) + QLatin1Char('\n') + cutTextsTail;
}

QStringList PrintSession::describeCutTexts(ReportPage& page, double scale, qint64 documentId) {
    QStringList lines;
    for (const ReportPage::CutText& cut : page.cutTexts(scale)) {
        lines << (documentId < 0
                      ? cutTextLine.arg(fieldName(cut.field), cut.lost)
                      : cutTextDocumentLine.arg(QString::number(documentId), fieldName(cut.field), cut.lost));
    }
    return lines;
}

// A legal document with part of its text missing is worse than none: No is the default.
bool PrintSession::confirmCutTexts(const QStringList& lines) {
    if (lines.isEmpty())
        return true;
    // The box shows the lost text; the log only how many fields lost some (it is a document's text).
    MZ_LOG() << "Filled text does not fit on the form, fields:" << lines.size();
    return askYes(cutTextsQuestionText(lines), QMessageBox::No);
}

bool PrintSession::confirmDocuments(const QList<qint64>& documentIds, const PageSource& pageFor, double scale) {
    QStringList lines;
    for (qint64 id : documentIds) {
        ReportPage* page = pageFor(id);
        if (!page)
            return false;
        page->setFillWithData(true);
        // One document needs no name.
        lines << describeCutTexts(*page, scale > 0.0 ? scale : page->mmToPx(), documentIds.size() > 1 ? id : -1);
    }
    return confirmCutTexts(lines);
}

PrintSession::PrintSession(QObject* parent) : QObject(parent) {}

PrintSession::~PrintSession() {
    // An open preview refers to the page's printer.
    delete _preview.data();
}

bool PrintSession::confirmBackground() {
    return askYes(backgroundQuestion);
}

// The sheet prompts have neither title nor icon; printing waits for OK whatever the answer.
void PrintSession::prompt(const QString& text) {
    MessageBox::show(QApplication::activeWindow(), QMessageBox::NoIcon, QString(), text, QMessageBox::Ok,
                     QMessageBox::Ok);
}

bool PrintSession::printPage(ReportPage* page, bool fillData, int backgroundMode, bool preview, int pageIndex,
                             qint64 documentId) {
    const bool printed = runPage(page, fillData, backgroundMode, preview, pageIndex);
    if (_jobFailed) {
        QStringList reached;
        for (int side = pageIndex < 0 ? 0 : pageIndex; side < _refusedSide; ++side)
            reached << sidePrintedLine.arg(side + 1);
        tellRefused(documentId, reached);
    }
    return printed;
}

bool PrintSession::runPage(ReportPage* page, bool fillData, int backgroundMode, bool preview, int pageIndex) {
    _cancelled = false;
    _stopped = false;
    _jobFailed = false;
    if (!page)
        return false;
    if (page->isPrinting()) {
        MZ_LOG() << "Print request ignored, a print sequence is running";
        return false;
    }
    _page = page;
    page->setCurrentPage(pageIndex < 0 ? 0 : pageIndex);
    page->setFillWithData(fillData);
    QPrinter* printer = page->printer();
    printer->setFullPage(true);
    printer->setPageMargins(page->margins(), QPageLayout::Millimeter);
    if (page->currentPage() >= page->pagesCount()) {
        MZ_LOG() << "Nothing to print: side" << page->currentPage() << "of" << page->pagesCount();
        return false;
    }
    // Asked before anything goes to the printer; a run of documents has asked for all of them.
    if (fillData && pageIndex < 0 && !confirmCutTexts(describeCutTexts(*page, page->mmToPx()))) {
        _stopped = true;
        return false;
    }

    page->beginPrinting(backgroundMode);
    if (pageIndex < 0 && page->printsBackground() && !askYes(backgroundQuestion)) {
        _stopped = true;
    } else if (!preview || showPreview(printer, [this, pageIndex](QPrinter* target) {
                   if (ReportPage* shown = _page) {
                       const int first = pageIndex < 0 ? 0 : pageIndex;
                       const int last = pageIndex < 0 ? shown->pagesCount() - 1 : pageIndex;
                       QList<int> sides;
                       for (int side = first; side <= last; ++side)
                           sides << side;
                       shown->paintSides(target, sides, calibrationFor(target));
                   }
               })) {
        printSides(pageIndex);
    }
    // May delete the page (a deleteLater() that came during the sequence).
    page->endPrinting();
    return !_stopped && !_cancelled && !_jobFailed;
}

void PrintSession::printSides(int pageIndex) {
    for (;;) {
        ReportPage* page = _page;
        if (!page || page->currentPage() >= page->pagesCount() || _cancelled)
            return;
        if (pageIndex < 0 && page->currentPage() > 0)
            prompt(page->currentPage() % 2 == 1 ? turnSheetPrompt : nextSheetPrompt);
        // A sheet the printer did not take is no reason to turn it: nothing more is asked.
        if (!paintCurrentSide(page->printer()))
            return;
        page->setCurrentPage(page->currentPage() + 1);
        if (pageIndex >= 0)
            return;
    }
}

namespace {
PrintSession::CalibrationSource& calibrationSource() {
    static PrintSession::CalibrationSource source;
    return source;
}
} // namespace

void PrintSession::setCalibrationSource(CalibrationSource source) {
    calibrationSource() = std::move(source);
}

PrinterCalibration PrintSession::calibrationFor(const QPrinter* printer) {
    if (!printer || !calibrationSource())
        return PrinterCalibration();
    return calibrationSource()(printer->printerName());
}

bool PrintSession::paintCurrentSide(QPrinter* printer) {
    ReportPage* page = _page;
    if (!page || !printer)
        return false;
    const int side = page->currentPage();
    // A printer of the office may place everything a little off; its stored correction applies to
    // what goes to it, the preview of its sheet included, and never to the template.
    const bool painted = printer->isValid() && page->paintPage(printer, calibrationFor(printer)) &&
                         printer->printerState() != QPrinter::Error;
    if (!painted) {
        _jobFailed = true;
        _refusedSide = side;
        _refusingPrinter = printer->printerName();
        _refusedFile = printer->outputFormat() == QPrinter::PdfFormat ? printer->outputFileName() : QString();
        MZ_LOG() << "Printer refused side" << side << _refusingPrinter << _refusedFile;
        return false;
    }
    // Side 0 is printed whatever the answer; the answer decides about the later sides.
    if (side == 0 && page->tablesOverflow())
        askAboutCutTables();
    return true;
}

void PrintSession::askAboutCutTables() {
    if (!askYes(cutTablesQuestion))
        _cancelled = true;
}

// The preview runs modally and paints into pictures only. Its print button asks the platform for
// the printer and then prints the preview as one job: that job is left out here (the paint request
// for a real printer paints nothing), so that the caller prints side by side with its prompts.
bool PrintSession::showPreview(QPrinter* printer, const std::function<void(QPrinter*)>& paint) {
    auto* dialog = new QPrintPreviewDialog(printer);
    _preview = dialog;
    connect(dialog, &QPrintPreviewDialog::paintRequested, this, [paint](QPrinter* target) {
        const QPaintEngine* engine = target->paintEngine();
        if (engine && engine->type() == QPaintEngine::Picture)
            paint(target);
    });
    dialog->setWindowFlags(dialog->windowFlags() | Qt::WindowMaximizeButtonHint);
    // The whole side at once, as it will come out of the printer.
    if (auto* fitPage = dialog->findChild<QAction*>(QStringLiteral("fitPageAction")))
        fitPage->trigger();
    else if (auto* view = dialog->findChild<QPrintPreviewWidget*>())
        view->fitInView();
    dialog->adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        const QSize size(dialog->width(), int(area.height() * previewHeightShare));
        dialog->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, area));
    }
    const int result = dialog->exec();
    // Gone before the printer it shows (that of a run's preview lives on the caller's stack).
    delete _preview.data();
    if (result == QDialog::Accepted)
        return true;
    MZ_LOG() << "Print preview closed without printing";
    _stopped = true;
    return false;
}

PrintSession::PrinterChoice PrintSession::PrinterChoice::of(const QPrinter& printer) {
    return PrinterChoice{true, printer.outputFormat(), printer.printerName(), printer.outputFileName()};
}

void PrintSession::PrinterChoice::applyTo(QPrinter& printer) const {
    if (format == QPrinter::PdfFormat) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file);
    } else {
        printer.setOutputFormat(QPrinter::NativeFormat);
        printer.setPrinterName(name);
    }
}

bool PrintSession::previewDocuments(const QList<qint64>& documentIds, int sides, const PageSource& pageFor,
                                    bool printBackground) {
    ReportPage* first = pageFor(documentIds.first());
    if (!first)
        return false;
    // The pages come and go while the preview paints; the preview keeps a printer of its own.
    QPrinter printer(QPrinter::ScreenResolution);
    PrinterChoice::of(*first->printer()).applyTo(printer);
    printer.setFullPage(true);
    printer.setPageLayout(first->printer()->pageLayout());
    bool sourceFailed = false;
    bool stopped = false;
    QList<int> allSides;
    for (int side = 0; side < sides; ++side)
        allSides << side;
    const bool printed = showPreview(&printer, [&](QPrinter* target) {
        QPainter painter;
        if (!painter.begin(target))
            return;
        QPointer<QProgressDialog> progress =
            documentIds.size() > progressThreshold ? newProgress(documentIds.size(), previewTitle) : nullptr;
        const auto closeProgress = qScopeGuard([&progress] { delete progress.data(); });
        bool firstSheet = true;
        for (int i = 0; i < documentIds.size(); ++i) {
            // A stopped preview is closed: a part of the run is no picture of it.
            if (progress && !advance(*progress, previewTitle, previewLabel, i, documentIds.size())) {
                stopped = true;
                if (QPrintPreviewDialog* dialog = _preview)
                    QTimer::singleShot(0, dialog, &QDialog::reject);
                break;
            }
            const qint64 id = documentIds.at(i);
            ReportPage* page = pageFor(id);
            if (!page) {
                sourceFailed = true;
                break;
            }
            page->setFillWithData(true);
            page->beginPrinting(printBackground ? 1 : -1);
            for (int side : qAsConst(allSides)) {
                if (!std::exchange(firstSheet, false))
                    target->newPage();
                page->paintSideOn(painter, *target, side, calibrationFor(target));
            }
            page->endPrinting();
        }
        painter.end();
    });
    if (!printed || sourceFailed || stopped)
        return false;
    // What the platform's print dialog of the preview chose goes to every page of the run.
    _chosen = PrinterChoice::of(printer);
    return true;
}

bool PrintSession::printDocuments(QList<qint64> documentIds, int sides, const PageSource& pageFor, bool printBackground,
                                  bool preview) {
    _stopped = false;
    _chosen = PrinterChoice();
    if (documentIds.isEmpty() || !confirmDocuments(documentIds, pageFor, -1.0))
        return false;
    if (preview && !previewDocuments(documentIds, sides, pageFor, printBackground))
        return false;
    bool allPrinted = true;
    // A child of the window that asked; it goes when the run ends.
    QPointer<QProgressDialog> progress =
        documentIds.size() > progressThreshold ? newProgress(documentIds.size(), sideTitle.arg(1)) : nullptr;
    const auto closeProgress = qScopeGuard([&progress] { delete progress.data(); });
    // Per side, the documents whose side was printed, so that a stopped run can tell which sheets
    // are done.
    QList<QList<qint64>> printed;
    for (int side = 0; side < sides; ++side) {
        if (side > 0) {
            // The printed stack goes back into the tray upside down: the next pass meets it in reverse.
            std::reverse(documentIds.begin(), documentIds.end());
            prompt(side % 2 ? reinsertSheetsPrompt : nextSheetPrompt);
        }
        printed.append(QList<qint64>());
        for (int i = 0; i < documentIds.size(); ++i) {
            if (progress && !advance(*progress, sideTitle.arg(side + 1), printingLabel, i, documentIds.size())) {
                reportStopped(printed);
                return false;
            }
            const qint64 id = documentIds.at(i);
            ReportPage* page = pageFor(id);
            if (!page)
                return false;
            if (_chosen.isSet)
                _chosen.applyTo(*page->printer());
            // A declined cut-table question ends that document's side only, as it ends one page.
            const bool done = runPage(page, true, printBackground ? 1 : -1, false, side);
            if (done)
                printed.last().append(id);
            allPrinted = done && allPrinted;
            // The sheets of a refused job stay in the tray: the rest of the stack would get the
            // wrong documents, so the run ends here and says what each sheet got.
            if (_jobFailed) {
                reportRefused(id, printed, documentIds.mid(i));
                return false;
            }
        }
    }
    return allPrinted;
}

bool PrintSession::saveDocuments(const QList<qint64>& documentIds, const PageSource& pageFor, bool printBackground,
                                 const QString& path, QString* error) {
    const auto fail = [error](const QString& text) {
        MZ_LOG() << "PDF copy not written:" << text;
        if (error)
            *error = text;
        return false;
    };
    if (error)
        error->clear();
    if (!confirmDocuments(documentIds, pageFor, ReportPage::mmToPx(PdfSidesWriter::defaultDpi)))
        return false;
    const QFileInfo target(path);
    if (target.exists() && !target.isFile())
        return fail(QStringLiteral("«%1» — папка или устройство, а не файл.").arg(QDir::toNativeSeparators(path)));
    ReplacementFile copy(path);
    QString reason;
    if (!copy.create(&reason))
        return fail(writeFailure(path, reason));
    QPointer<QProgressDialog> progress =
        documentIds.size() > progressThreshold ? newProgress(documentIds.size(), savingTitle) : nullptr;
    const auto closeProgress = qScopeGuard([&progress] { delete progress.data(); });
    PdfSidesWriter writer(copy.path());
    writer.setCreator(QCoreApplication::applicationName());
    writer.setDocName(target.completeBaseName());
    for (int i = 0; i < documentIds.size(); ++i) {
        if (progress && !advance(*progress, savingTitle, savingLabel, i, documentIds.size()))
            return false;
        ReportPage* page = pageFor(documentIds.at(i));
        if (!page)
            return false;
        page->setFillWithData(true);
        page->beginPrinting(printBackground ? 1 : -1);
        QList<int> sides;
        for (int side = 0; side < page->pagesCount(); ++side)
            sides.append(side);
        const bool written = writer.addSides(*page, sides);
        if (written && page->tablesOverflow())
            MZ_LOG() << "PDF copy: table data of document" << documentIds.at(i) << "is cut by the form";
        page->endPrinting();
        if (!written)
            return fail(writeFailure(path, writer.error()));
    }
    // Judged while the unfinished file still takes its room on the disk.
    if (!writer.finish())
        return fail(writeFailure(path, writer.error()));
    if (!copy.commit(&reason))
        return fail(writeFailure(path, reason));
    return true;
}

QProgressDialog* PrintSession::newProgress(int documents, const QString& title) {
    auto* progress =
        new QProgressDialog(QString(), QStringLiteral("Отмена"), 0, documents, QApplication::activeWindow());
    progress->setWindowTitle(title);
    progress->setObjectName(QStringLiteral("printProgress"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(0);
    progress->setAutoReset(false);
    progress->setAutoClose(false);
    // Printing a document takes seconds: the dialog shows at once rather than after an estimate.
    progress->show();
    return progress;
}

bool PrintSession::advance(QProgressDialog& progress, const QString& title, const QString& label, int index,
                           int documents) {
    progress.setWindowTitle(title);
    progress.setLabelText(label.arg(index + 1).arg(documents));
    // A modal progress dialog takes the user's clicks while its value is set.
    progress.setValue(index);
    return !progress.wasCanceled();
}

namespace {
QString idList(const QList<qint64>& ids) {
    QStringList texts;
    for (qint64 id : ids)
        texts << QString::number(id);
    return texts.join(QStringLiteral(", "));
}

// What each side of a run reached, a line per side; an empty last side is left out when
// `skipEmptyLast`.
QStringList sideLines(const QList<QList<qint64>>& printed, bool skipEmptyLast) {
    QStringList lines;
    for (int side = 0; side < printed.size(); ++side) {
        const QList<qint64>& ids = printed.at(side);
        if (ids.isEmpty() && skipEmptyLast && side == printed.size() - 1)
            break;
        lines << (ids.isEmpty() ? sideNoneLine.arg(side + 1) : sideDocumentsLine.arg(side + 1).arg(idList(ids)));
    }
    return lines;
}
} // namespace

void PrintSession::reportStopped(const QList<QList<qint64>>& printed) {
    const QStringList lines = QStringList{stoppedText} + sideLines(printed, false);
    MZ_LOG() << "print run stopped:" << lines;
    MessageBox::information(QApplication::activeWindow(), QStringLiteral("Информация"), lines.join(QLatin1Char('\n')));
}

QString PrintSession::refusedText(qint64 documentId) const {
    const int side = _refusedSide;
    const QString what = documentId < 0 ? refusedSide.arg(side + 1) : refusedDocumentSide.arg(side + 1).arg(documentId);
    // A PDF printer has no name of its own: its file names it.
    const QString printer = _refusingPrinter.isEmpty() ? QDir::toNativeSeparators(_refusedFile) : _refusingPrinter;
    const QString text = printer.isEmpty() ? noPrinterLine.arg(what) : refusedLine.arg(printer, what);
    return _refusedFile.isEmpty() ? text : text + QLatin1Char('\n') + writeFailure(_refusedFile, QString());
}

void PrintSession::tellRefused(qint64 documentId, const QStringList& reached) const {
    const QStringList lines = QStringList{refusedText(documentId), stoppedText} + reached;
    MZ_LOG() << "print job refused:" << lines;
    MessageBox::message(QApplication::activeWindow(), MessageBox::errorTitle(), lines.join(QLatin1Char('\n')));
}

void PrintSession::reportRefused(qint64 documentId, const QList<QList<qint64>>& printed,
                                 const QList<qint64>& notPrinted) {
    tellRefused(documentId, sideLines(printed, true) << sideLeftLine.arg(_refusedSide + 1).arg(idList(notPrinted)));
}
