#include "engine.h"
#include "messagebox.h"

#include "printsession.h"
#include "reportpage.h"
#include "reportwindow.h"
#include "appsettings.h"
#include "database.h"
#include "mzlog.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <memory>

namespace {
const QString errorTitle = MessageBox::errorTitle();
}

Engine::Engine(QObject* parent) : QObject(parent) {}

Engine::~Engine() = default;

ReportWindow* Engine::designer() const {
    return _designer;
}

QString Engine::templatePath(ReportList::ReportType type) {
    const ReportList::ReportInfo* info = ReportList::info(type);
    return AppSettings::dataPath() + QStringLiteral("/reports/") + (info ? info->fileName : QString()) +
           QStringLiteral(".mzrpt");
}

bool Engine::templateExists(const QString& path) {
    if (QFileInfo(path).isFile())
        return true;
    MZ_LOG() << "cant find report file" << path;
    return false;
}

const ReportList::ReportInfo* Engine::findTemplate(ReportList::ReportType type, QString* path) {
    const ReportList::ReportInfo* info = ReportList::info(type);
    if (!info) {
        MZ_LOG() << "unknown report type" << int(type);
        return nullptr;
    }
    *path = templatePath(type);
    if (!templateExists(*path)) {
        emit error(QStringLiteral("Шаблон отчёта %1 не найден.").arg(*path), errorTitle);
        return nullptr;
    }
    return info;
}

QPixmap Engine::templatePicture(ReportList::ReportType type) {
    const QString path = templatePath(type);
    if (!templateExists(path))
        return QPixmap();
    ReportPage page;
    page.load(path);
    return page.backgroundImage();
}

void Engine::setCurrentPage(ReportPage* page) {
    ReportPage* previous = _page;
    _page = page;
    // Pages of print requests are the engine's; a designer's page belongs to its window.
    if (previous && previous != page && previous->parent() == this) {
        if (previous->isPrinting())
            previous->deleteLater(); // carried out when its print session ends
        else
            delete previous;
    }
}

ReportPage* Engine::newPage(const QJsonObject& content) {
    auto* page = new ReportPage(this);
    page->fromJson(content);
    setCurrentPage(page);
    return page;
}

QJsonObject Engine::readTemplate(const QString& path) {
    QJsonObject content;
    QString failure;
    // Printing goes on with what could be read, as the blank form shows nothing wrong yet.
    if (!ReportPage::readFile(path, &content, &failure))
        emit error(failure, ReportPage::loadFailedTitle());
    return content;
}

QList<qint64> Engine::missingDocuments(const QList<qint64>& ids, QString* error) {
    QList<qint64> missing;
    Database* db = Database::instance();
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(QStringLiteral("SELECT 1 FROM %1 WHERE %2 = ?").arg(db->mainTableName(), db->mainPrimaryKeyName()));
    for (qint64 id : ids) {
        if (id == -1)
            continue; // never saved: the empty template prints, as a preview of the form
        query.bindValue(0, id);
        const bool found = db->execPrepared(query) && query.next();
        if (query.lastError().type() != QSqlError::NoError) {
            if (error)
                *error = query.lastError().text().trimmed();
            return {};
        }
        query.finish();
        if (!found)
            missing << id;
    }
    return missing;
}

bool Engine::filled(qint64 sqlDocId, const QString& failure) {
    if (failure.isEmpty())
        return true;
    MZ_LOG() << "document" << sqlDocId << "cannot be read:" << failure;
    emit error(QStringLiteral("Не удалось прочитать документ с кодом %1 из базы данных. Печать отменена.\nОшибка: %2")
                   .arg(sqlDocId)
                   .arg(failure),
               errorTitle);
    return false;
}

bool Engine::documentsPresent(QList<qint64>& sqlDocIds, bool dropMissing) {
    QString failure;
    const QList<qint64> missing = missingDocuments(sqlDocIds, &failure);
    if (!failure.isEmpty()) {
        MZ_LOG() << "documents cannot be looked up:" << failure;
        emit error(
            QStringLiteral("Не удалось прочитать документы из базы данных. Печать отменена.\nОшибка: %1").arg(failure),
            errorTitle);
        return false;
    }
    if (missing.isEmpty())
        return true;
    QStringList names;
    for (qint64 id : missing) {
        names << QString::number(id);
        sqlDocIds.removeAll(id);
    }
    MZ_LOG() << "documents not found" << names;
    if (!dropMissing) {
        emit error(QStringLiteral("Документ с кодом %1 не найден в базе данных. Печать отменена.").arg(names.first()),
                   errorTitle);
        return false;
    }
    emit error(QStringLiteral("Документы с кодами %1 не найдены в базе данных и не будут напечатаны.")
                   .arg(names.join(QStringLiteral(", "))),
               errorTitle);
    return true;
}

void Engine::onDocumentPrint(ReportList::ReportType type, qint64 sqlDocId, bool printBackground, bool showPreview) {
    if (sqlDocId < -1) {
        MZ_LOG() << "Error printing sqlDocId < 0" << sqlDocId;
        return;
    }
    QString path;
    const ReportList::ReportInfo* info = findTemplate(type, &path);
    if (!info)
        return;
    // A blank costs money: a document that is gone or unreadable prints nothing instead of an
    // empty or half-filled form.
    QList<qint64> ids{sqlDocId};
    if (!documentsPresent(ids, false))
        return;
    ReportPage* page = newPage(readTemplate(path));
    if (!filled(sqlDocId, info->fill(page, sqlDocId, true)))
        return;
    if (_pageHook)
        _pageHook(page);
    PrintSession session;
    session.printPage(page, true, printBackground ? 1 : -1, showPreview, -1);
}

bool Engine::documentsReadable(const ReportList::ReportInfo* info, const QList<qint64>& sqlDocIds) {
    ReportPage probe;
    for (qint64 id : sqlDocIds) {
        if (!filled(id, info->fill(&probe, id, true)))
            return false;
    }
    return true;
}

PrintSession::PageSource Engine::pageSource(const ReportList::ReportInfo* info, const QJsonObject& content,
                                            bool printBackground) {
    // Printed backgrounds are decoded once for the whole run; unprinted ones never are.
    std::shared_ptr<ReportPage> pictures;
    if (printBackground) {
        pictures = std::make_shared<ReportPage>();
        pictures->fromJson(content);
    }
    return [this, info, content, pictures](qint64 id) -> ReportPage* {
        ReportPage* page = newPage(content);
        if (pictures)
            page->shareBackgrounds(*pictures);
        if (!filled(id, info->fill(page, id, true)))
            return nullptr;
        if (_pageHook)
            _pageHook(page);
        return page;
    };
}

void Engine::onDocumentsPrint(ReportList::ReportType type, QList<qint64> sqlDocIds, bool printBackground,
                              bool showPreview) {
    QString path;
    const ReportList::ReportInfo* info = findTemplate(type, &path);
    if (!info)
        return;
    PrintSession session;
    if (printBackground && !session.confirmBackground())
        return;
    // Every document is read once before the first sheet goes in, so that an unreadable one
    // stops the run before any blank is used.
    if (!documentsPresent(sqlDocIds, true) || !documentsReadable(info, sqlDocIds))
        return;
    // The template is read once; each document gets a fresh page from it.
    const QJsonObject content = readTemplate(path);
    const int sides = newPage(content)->pagesCount();
    if (sides <= 0 || sqlDocIds.isEmpty())
        return;
    session.printDocuments(sqlDocIds, sides, pageSource(info, content, printBackground), printBackground, showPreview);
}

bool Engine::saveDocumentsPdf(ReportList::ReportType type, QList<qint64> sqlDocIds, bool printBackground,
                              const QString& pdfPath, QString* failure) {
    if (failure)
        failure->clear();
    QString path;
    const ReportList::ReportInfo* info = findTemplate(type, &path);
    if (!info || !documentsPresent(sqlDocIds, true) || sqlDocIds.isEmpty() || !documentsReadable(info, sqlDocIds))
        return false;
    // A copy is no blank form waiting in the printer: from an unreadable template it would only
    // hold empty pages, so nothing is written.
    QJsonObject content;
    QString unreadable;
    if (!ReportPage::readFile(path, &content, &unreadable)) {
        emit error(unreadable, ReportPage::loadFailedTitle());
        return false;
    }
    PrintSession session;
    return session.saveDocuments(sqlDocIds, pageSource(info, content, printBackground), printBackground, pdfPath,
                                 failure);
}

void Engine::onGuiEdit(ReportList::ReportType type) {
    QString path;
    const ReportList::ReportInfo* info = findTemplate(type, &path);
    if (!info)
        return;
    auto* window = new ReportWindow;
    if (!window->openFile(path)) {
        emit error(QStringLiteral("Шаблон отчёта %1 имеет неверный формат.").arg(path), errorTitle);
        window->deleteLater();
        return;
    }
    setCurrentPage(window->page());
    const QString failure = info->fill(window->page(), 0, false);
    if (!failure.isEmpty())
        MZ_LOG() << "sample values for the designer cannot be read:" << failure;
    _designer = window;
    window->show();
}
