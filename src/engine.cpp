#include "engine.h"

#include "messagebox.h"
#include "mzlog.h"
#include "MzReport/reportpage.h"
#include "appsettings.h"
#include "database.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>

namespace {
const QString errorTitle = QStringLiteral("Ошибка");
}

Engine::Engine(QObject* parent) : QObject(parent) {}

Engine::~Engine() = default;

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

QPixmap Engine::templatePicture(ReportList::ReportType type) {
    const QString path = templatePath(type);
    if (!templateExists(path))
        return QPixmap();
    ReportPage page;
    page.load(path);
    return page.backgroundImage();
}

ReportPage* Engine::newPage(const QString& path) {
    // The page lives until the next request replaces it; a designer keeps its own page.
    _page = std::shared_ptr<ReportPage>(new ReportPage(this), [](ReportPage* p) { delete p; });
    _page->load(path);
    return _page.get();
}

QList<int> Engine::missingDocuments(const QList<int>& ids, QString* error) {
    QList<int> missing;
    Database* db = Database::instance();
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(QStringLiteral("SELECT 1 FROM %1 WHERE %2 = ?").arg(db->mainTableName(), db->mainPrimaryKeyName()));
    for (int id : ids) {
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

bool Engine::filled(int sqlDocId, const QString& failure) {
    if (failure.isEmpty())
        return true;
    MZ_LOG() << "document" << sqlDocId << "cannot be read:" << failure;
    emit error(QStringLiteral("Не удалось прочитать документ с кодом %1 из базы данных. Печать отменена.\nОшибка: %2")
                   .arg(sqlDocId)
                   .arg(failure),
               errorTitle);
    return false;
}

bool Engine::documentsPresent(QList<int>& sqlDocIds, bool dropMissing) {
    QString failure;
    const QList<int> missing = missingDocuments(sqlDocIds, &failure);
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
    for (int id : missing) {
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
void Engine::printSides(ReportPage* page, bool printBackground, bool showPreview, int side) {
    if (_pageHook)
        _pageHook(page);
    page->print(true, printBackground ? 1 : -1, showPreview, side);
}

void Engine::onDocumentPrint(ReportList::ReportType type, int sqlDocId, bool printBackground, bool showPreview) {
    const ReportList::ReportInfo* info = ReportList::info(type);
    if (!info) {
        MZ_LOG() << "unknown report type" << int(type);
        return;
    }
    if (sqlDocId < -1) {
        MZ_LOG() << "Error printing sqlDocId < 0" << sqlDocId;
        return;
    }
    const QString path = templatePath(type);
    if (!templateExists(path)) {
        emit error(QStringLiteral("Шаблон отчёта %1 не найден.").arg(path), errorTitle);
        return;
    }
    // A blank costs money: a document that is gone or unreadable prints nothing instead of an
    // empty or half-filled form.
    QList<int> ids{sqlDocId};
    if (!documentsPresent(ids, false))
        return;
    ReportPage* page = newPage(path);
    if (!filled(sqlDocId, info->fill(page, sqlDocId, true)))
        return;
    printSides(page, printBackground, showPreview, -1);
}

void Engine::onDocumentsPrint(ReportList::ReportType type, QList<int> sqlDocIds, bool printBackground,
                              bool showPreview) {
    const ReportList::ReportInfo* info = ReportList::info(type);
    if (!info) {
        MZ_LOG() << "unknown report type" << int(type);
        return;
    }
    const QString path = templatePath(type);
    if (!templateExists(path)) {
        emit error(QStringLiteral("Шаблон отчёта %1 не найден.").arg(path), errorTitle);
        return;
    }
    if (printBackground &&
        MessageBox::question(nullptr, QStringLiteral("Внимание!"), ReportPage::backgroundQuestionText(),
                             QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) != QMessageBox::Yes)
        return;

    if (!documentsPresent(sqlDocIds, true))
        return;
    // Every document is read once before the first sheet goes in, so that an unreadable one
    // stops the run before any blank is used.
    {
        ReportPage probe;
        for (int id : qAsConst(sqlDocIds)) {
            if (!filled(id, info->fill(&probe, id, true)))
                return;
        }
    }
    const int sides = newPage(path)->pagesCount();
    if (sides <= 0 || sqlDocIds.isEmpty())
        return;
    for (int side = 0; side < sides; ++side) {
        if (side > 0) {
            // The printed stack goes back into the tray upside down: the next pass meets it in reverse.
            std::reverse(sqlDocIds.begin(), sqlDocIds.end());
            MessageBox::show(nullptr, QMessageBox::NoIcon, QString(),
                             side % 2 ? QStringLiteral("Переложите напечатанные страницы обратно в лоток.")
                                      : ReportPage::nextSheetPromptText(),
                             QMessageBox::Ok, QMessageBox::Ok);
        }
        for (int id : qAsConst(sqlDocIds)) {
            ReportPage* page = newPage(path);
            if (!filled(id, info->fill(page, id, true)))
                return;
            printSides(page, printBackground, showPreview, side);
        }
    }
}
