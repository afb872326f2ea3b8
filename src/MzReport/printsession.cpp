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
const QString savingLabel = QStringLiteral("Сохранение: %1 из %2");
const QString cutTextsHeading = QStringLiteral("Не помещается на бланке:");
const QString cutTextsTail = QStringLiteral("Этот текст не будет напечатан.\nПродолжить?!");
const QString cutTextLine = QStringLiteral("поле «%1»: «%2»");
const QString cutTextDocumentLine = QStringLiteral("документ с кодом %1, поле «%2»: «%3»");
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
    MZ_LOG() << "Filled text does not fit on the form:" << lines;
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

bool PrintSession::printPage(ReportPage* page, bool fillData, int backgroundMode, bool preview, int pageIndex) {
    if (!page)
        return false;
    if (page->isPrinting()) {
        MZ_LOG() << "Print request ignored, a print sequence is running";
        return false;
    }
    _page = page;
    _cancelled = false;
    _stopped = false;
    _jobFailed = false;
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
    printNextSide(preview, pageIndex);
    // May delete the page (a deleteLater() that came during the sequence).
    page->endPrinting();
    return !_stopped && !_cancelled && !_jobFailed;
}

void PrintSession::printNextSide(bool preview, int pageIndex) {
    ReportPage* page = _page;
    if (!page || page->currentPage() >= page->pagesCount() || _cancelled)
        return;
    if (pageIndex < 0 && page->currentPage() == 0 && page->printsBackground()) {
        if (!askYes(backgroundQuestion)) {
            _stopped = true;
            return;
        }
    } else if (pageIndex < 0 && page->currentPage() > 0) {
        prompt(page->currentPage() % 2 == 1 ? turnSheetPrompt : nextSheetPrompt);
    }

    if (preview) {
        showPreview(pageIndex);
        return;
    }
    paintCurrentSide(page->printer());
    page->setCurrentPage(page->currentPage() + 1);
    if (!_cancelled && pageIndex < 0)
        printNextSide(false, -1);
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

void PrintSession::paintCurrentSide(QPrinter* printer) {
    ReportPage* page = _page;
    if (!page || !printer)
        return;
    // A printer of the office may place everything a little off; its stored correction applies to
    // what goes to it, the preview of its sheet included, and never to the template.
    if (!page->paintPage(printer, calibrationFor(printer)))
        _jobFailed = true;
    // Side 0 is printed whatever the answer; the answer decides about the later sides.
    if (page->currentPage() == 0 && page->tablesOverflow())
        askAboutCutTables();
}

void PrintSession::askAboutCutTables() {
    if (askYes(cutTablesQuestion))
        return;
    _cancelled = true;
    if (QPrintPreviewDialog* dialog = _preview) {
        // Hiding ends the preview's modal loop without its finished signal: no next side.
        QTimer::singleShot(0, dialog, [dialog] {
            dialog->hide();
            dialog->deleteLater();
        });
    }
}

// The preview runs modally. Printing from it accepts it and moves on to the next side; closing it
// without printing ends the sequence, and nothing more is asked or sent.
void PrintSession::showPreview(int pageIndex) {
    auto* dialog = new QPrintPreviewDialog(_page->printer());
    _preview = dialog;
    connect(dialog, &QPrintPreviewDialog::paintRequested, this, &PrintSession::paintCurrentSide);
    connect(dialog, &QDialog::finished, this, [this, dialog, pageIndex](int result) {
        dialog->hide();
        dialog->deleteLater();
        if (!_page)
            return;
        if (result != QDialog::Accepted) {
            MZ_LOG() << "Print preview closed without printing, side" << _page->currentPage();
            _stopped = true;
            return;
        }
        _page->setCurrentPage(_page->currentPage() + 1);
        if (!_cancelled && pageIndex < 0)
            printNextSide(true, -1);
    });
    dialog->setWindowFlags(dialog->windowFlags() | Qt::WindowMaximizeButtonHint);
    // The whole side at once, as it will come out of the printer.
    if (auto* fitPage = dialog->findChild<QAction*>(QStringLiteral("fitPageAction")))
        fitPage->trigger();
    else if (auto* view = dialog->findChild<QPrintPreviewWidget*>())
        view->fitInView();
    dialog->adjustSize();
    if (_cancelled) {
        dialog->deleteLater();
        return;
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        const QSize size(dialog->width(), int(area.height() * previewHeightShare));
        dialog->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, area));
    }
    dialog->exec();
}

bool PrintSession::printDocuments(QList<qint64> documentIds, int sides, const PageSource& pageFor, bool printBackground,
                                  bool preview) {
    _stopped = false;
    if (!confirmDocuments(documentIds, pageFor, -1.0))
        return false;
    bool allPrinted = true;
    // A child of the window that asked; it goes when the run ends.
    QPointer<QProgressDialog> progress =
        documentIds.size() > progressThreshold ? newProgress(documentIds.size(), sideTitle.arg(1)) : nullptr;
    const auto closeProgress = qScopeGuard([&progress] { delete progress.data(); });
    // Per side, the documents whose side was printed, so that a stopped run can tell which sheets
    // are done.
    QList<QList<qint64>> printed;
    for (int side = 0; side < sides && !documentIds.isEmpty(); ++side) {
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
            // A declined cut-table question ends that document's side only, as it ends one page.
            const bool done = printPage(page, true, printBackground ? 1 : -1, preview, side);
            if (done)
                printed.last().append(id);
            allPrinted = done && allPrinted;
            // A preview closed without printing ends the run; what was printed before is told.
            if (_stopped) {
                if (std::any_of(printed.cbegin(), printed.cend(),
                                [](const QList<qint64>& ids) { return !ids.isEmpty(); }))
                    reportStopped(printed);
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

void PrintSession::reportStopped(const QList<QList<qint64>>& printed) {
    QStringList lines{QStringLiteral("Печать остановлена.")};
    for (int side = 0; side < printed.size(); ++side) {
        QStringList ids;
        for (qint64 id : printed.at(side))
            ids << QString::number(id);
        lines << (ids.isEmpty() ? QStringLiteral("Сторона %1 не напечатана ни для одного документа.").arg(side + 1)
                                : QStringLiteral("Сторона %1 напечатана для документов с кодами: %2.")
                                      .arg(side + 1)
                                      .arg(ids.join(QStringLiteral(", "))));
    }
    MZ_LOG() << "print run stopped:" << lines;
    MessageBox::information(QApplication::activeWindow(), QStringLiteral("Информация"), lines.join(QLatin1Char('\n')));
}
