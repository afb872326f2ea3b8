#pragma once

#include "printercalibration.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <functional>

class QProgressDialog;
class ReportPage;

// Prints filled pages onto blank forms fed by hand: the order of sides and sheets, the questions
// and prompts between them and the preview of each side. One session serves one request, one page
// or many documents of one template; whoever prints (the registry, the designer) prints through it,
// so every prompt looks the same.
class PrintSession : public QObject {
    Q_OBJECT

public:
    explicit PrintSession(QObject* parent = nullptr);
    ~PrintSession() override;

    static QString attentionTitle();
    static QString backgroundQuestionText();
    static QString cutTablesQuestionText();
    static QString turnSheetPromptText();
    static QString nextSheetPromptText();
    static QString reinsertSheetsPromptText();
    // "Не помещается на бланке:", a line per field (and document) with the text that would be
    // lost, then the question.
    static QString cutTextsQuestionText(const QStringList& lines);
    // The lines of that question for `page` painted at `scale`; `documentId` names the document
    // when it is not below 0.
    static QStringList describeCutTexts(ReportPage& page, double scale, qint64 documentId = -1);

    // Prints `page` on its printer, one job per side. pageIndex < 0: every side from side 0, asking
    // first about filled text that does not fit and about the background, and prompting to turn or
    // change the sheet between sides; otherwise only that side, without those questions. backgroundMode > 0 switches
    // the backgrounds on, < 0 off, 0 keeps the template's choice. With `preview` every requested side is shown first
    // in one modal preview; printing from it prints the sides as without it, closing it prints nothing. A job the
    // printer refuses ends the sequence with a box naming the printer, the side and `documentId` (when not below 0).
    // True when every requested side was printed; false when the user stopped, the side does not exist or a job
    // failed.
    bool printPage(ReportPage* page, bool fillData, int backgroundMode, bool preview, int pageIndex = -1,
                   qint64 documentId = -1);

    // Fills a page for a document; null stops the run (the source has told the user why).
    using PageSource = std::function<ReportPage*(qint64 documentId)>;
    // The correction of the printer of a given name. The application hands over where it keeps
    // them; without a source nothing is corrected.
    using CalibrationSource = std::function<PrinterCalibration(const QString& printerName)>;
    static void setCalibrationSource(CalibrationSource source);
    static PrinterCalibration calibrationFor(const QPrinter* printer);
    // Prints `sides` sides of every document, a side of all documents per pass: the printed stack
    // goes back into the tray upside down, so each later pass meets the documents in reverse
    // order, after a prompt. Text that does not fit is asked about for every document before the
    // first side; the background question is not asked here (see confirmBackground()). With
    // `preview` one preview shows every side of every document before anything is printed; closing
    // it prints nothing. A job the printer refuses ends the run with a box that names the printer,
    // the side and the documents printed and not.
    bool printDocuments(QList<qint64> documentIds, int sides, const PageSource& pageFor, bool printBackground,
                        bool preview);

    // Writes every side of every document into the PDF file `path`, backgrounds as asked, through
    // the painting a printed sheet gets but without any question or prompt; a long run shows its
    // progress and can be stopped. Text that does not fit is asked about first. The file is replaced
    // only when the copy is complete. False when it was not written: stopped by the user or the
    // source (`error` empty) or failed (`error`, in the user's words).
    bool saveDocuments(const QList<qint64>& documentIds, const PageSource& pageFor, bool printBackground,
                       const QString& path, QString* error);

    // "Включена печать фона. Продолжить?!": true when the user answers Yes.
    bool confirmBackground();
    // Asks about the lines of describeCutTexts(); true when there are none or the user answers Yes.
    static bool confirmCutTexts(const QStringList& lines);

    // The user declined to print cut tables; no further side of the page is printed.
    bool isCancelled() const { return _cancelled; }
    // The preview of the request, while it is open.
    QPrintPreviewDialog* previewDialog() const { return _preview; }
    // The page being printed and its side.
    ReportPage* page() const { return _page; }

private:
    // printPage() without the box about a refused job (a run of documents tells of its own).
    bool runPage(ReportPage* page, bool fillData, int backgroundMode, bool preview, int pageIndex);
    // Prints the page's sides from its current one, each as a job of its own: all of them with the sheet prompts
    // between them (pageIndex < 0) or that one only. Stops after a job the printer refused.
    void printSides(int pageIndex);
    // Paints the page's current side as one job; side 0 then asks about tables cut by the blank.
    // False (and the printer remembered for the message) when the printer refused the job.
    bool paintCurrentSide(QPrinter* printer);
    // Shows what `paint` puts on `printer` in a modal preview; true when the user printed from it. Its own
    // printing sends nothing: the caller prints the sides as a run without a preview would.
    bool showPreview(QPrinter* printer, const std::function<void(QPrinter*)>& paint);
    // One preview of every side of every document of a run, each document's sides together, on a printer like
    // that of the documents' pages; the printer chosen from it then prints the run. False when it was closed.
    bool previewDocuments(const QList<qint64>& documentIds, int sides, const PageSource& pageFor, bool printBackground);
    void askAboutCutTables();
    static void prompt(const QString& text);
    // Fills a page per document and asks about the text that does not fit any of them; false when
    // the user or the source stopped.
    static bool confirmDocuments(const QList<qint64>& documentIds, const PageSource& pageFor, double scale);
    // The progress of a long run of documents: "Печать: 12 из 140", with "Отмена".
    static QProgressDialog* newProgress(int documents, const QString& title);
    // Shows document `index` of a pass as the one being printed (`label` with "%1 из %2"); false
    // when the user stopped.
    static bool advance(QProgressDialog& progress, const QString& title, const QString& label, int index,
                        int documents);
    // Tells the user which documents got which side before the run was stopped.
    static void reportStopped(const QList<QList<qint64>>& printed);
    // "Принтер «…» не принял задание: сторона 2 документа с кодом 7 не напечатана." with the reason of
    // a PDF printer's file; the printer and the side are those of the refused job.
    QString refusedText(qint64 documentId) const;
    // The box of a refused job: what was refused, that printing stopped, then `reached` (what each
    // side got before).
    void tellRefused(qint64 documentId, const QStringList& reached) const;
    // Tells the user that the printer refused a job of a run: the side, the document, what each side
    // reached before (`printed`) and the documents left without the refused side (`notPrinted`).
    void reportRefused(qint64 documentId, const QList<QList<qint64>>& printed, const QList<qint64>& notPrinted);

    QPointer<ReportPage> _page;
    QPointer<QPrintPreviewDialog> _preview;
    bool _cancelled = false;
    bool _stopped = false;
    bool _jobFailed = false;
    // The printer a preview of a run was printed to, for every page of the run.
    struct PrinterChoice {
        bool isSet = false;
        QPrinter::OutputFormat format = QPrinter::NativeFormat;
        QString name;
        QString file;
        static PrinterChoice of(const QPrinter& printer);
        void applyTo(QPrinter& printer) const;
    };
    PrinterChoice _chosen;
    // The printer that refused the last job as the user knows it, and the file a PDF printer wrote.
    QString _refusingPrinter;
    QString _refusedFile;
    int _refusedSide = -1;
};
