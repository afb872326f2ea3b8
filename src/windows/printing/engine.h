#pragma once

#include "printdata.h"
#include "printsession.h"
#include "reportlist.h"
#include "reportpage.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <functional>

class QJsonObject;
class ReportWindow;

// Turns a print request (a report type and documents) into printed sides: finds the type's
// template, reads each document once and prints a page filled with its values. Problems go out
// through error().
class Engine : public QObject {
    Q_OBJECT

public:
    explicit Engine(QObject* parent = nullptr);
    ~Engine() override;

    // The data folder, "/reports/", the type's template file name and ".mzrpt".
    static QString templatePath(ReportList::ReportType type);
    // The first background of the type's template; null when the file is missing.
    static QPixmap templatePicture(ReportList::ReportType type);
    // Puts a document's values on `page`: its variables, and the appendix rows as the table model
    // the templates name, owned by the page.
    static void fillPage(ReportPage* page, const PrintValues& values);
    // Reads document `sqlDocId` and fills `page` with it (see PrintData::read()).
    static bool fillPage(ReportPage* page, qint64 sqlDocId, bool forPrinting, QString* error);
    // The page of the last print request, or a page that a designer window owns and shows.
    ReportPage* currentPage() const { return _page; }
    // Makes `page` current; a page of an earlier request is released, a borrowed one is not.
    void setCurrentPage(ReportPage* page);
    // Called with every page just before it prints (tests direct the printer to files).
    void setPageHook(std::function<void(ReportPage*)> hook) { _pageHook = std::move(hook); }

signals:
    void error(QString text, QString title);

public slots:
    void onDocumentPrint(ReportList::ReportType type, qint64 sqlDocId, bool printBackground, bool showPreview);
    void onDocumentsPrint(ReportList::ReportType type, QList<qint64> sqlDocIds, bool printBackground, bool showPreview);

public:
    // Writes every side of the documents, filled as for printing, into one PDF file at `pdfPath`
    // (backgrounds as asked), without the questions and prompts of printing. False when nothing
    // was written: reported through error(), stopped by the user, or the file could not be written
    // (the reason in `failure`, for the window that asked to show).
    bool saveDocumentsPdf(ReportList::ReportType type, QList<qint64> sqlDocIds, bool printBackground,
                          const QString& pdfPath, QString* failure = nullptr);

public slots:
    // Opens the type's template in a designer window filled with sample values. The window owns
    // its page; the engine only refers to it, so a print request meanwhile leaves it alone.
    void onGuiEdit(ReportList::ReportType type);

public:
    // The designer window the last onGuiEdit() opened, while it is open.
    ReportWindow* designer() const;

private:
    static bool templateExists(const QString& path);
    // The type's record with its template's path in `path`; null (reported) when the type is
    // unknown or its template is missing.
    const ReportList::ReportInfo* findTemplate(ReportList::ReportType type, QString* path);
    // The documents of one request, each read once.
    struct Documents {
        QHash<qint64, PrintValues> values;
        // The first document that could not be read, and why (empty when all could).
        qint64 unreadable = 0;
        QString failure;
    };
    // Reads every document once; false (reported) when one is missing or the database cannot
    // tell. With `dropMissing` the missing ones are reported and left out of `sqlDocIds`.
    bool readDocuments(QList<qint64>& sqlDocIds, bool dropMissing, Documents* documents);
    // False (reported) when a document could not be read, so that a run stops before any blank
    // is used.
    bool readable(const Documents& documents);
    // Fresh pages of the template's content, filled with a document's values each.
    PrintSession::PageSource pageSource(const Documents& documents, const QJsonObject& content, bool printBackground);
    // The template's content; an unreadable file is reported and reads as an empty object.
    QJsonObject readTemplate(const QString& path);
    // A page of the engine's own, made current.
    ReportPage* newPage(const QJsonObject& content);

    QPointer<ReportPage> _page;
    QPointer<ReportWindow> _designer;
    std::function<void(ReportPage*)> _pageHook;
};
