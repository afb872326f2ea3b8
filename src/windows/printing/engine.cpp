#include "engine.h"
#include "messagebox.h"

#include "appsettings.h"
#include "mzlog.h"
#include "printsession.h"
#include "reportpage.h"
#include "reportwindow.h"

#include <QAbstractTableModel>
#include <QFileInfo>
#include <QJsonObject>
#include <memory>

namespace {
const QString errorTitle = MessageBox::errorTitle();

// The appendix rows of one document as the templates' tables read them: cells by column name.
class RowsModel : public QAbstractTableModel {
public:
    RowsModel(const QStringList& columns, const QVector<QVariantList>& rows, QObject* parent)
        : QAbstractTableModel(parent), _columns(columns), _rows(rows) {}
    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : _rows.size();
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : _columns.size();
    }
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override {
        if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
            return QVariant();
        return _rows.at(index.row()).value(index.column());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < _columns.size())
            return _columns.at(section);
        return QAbstractTableModel::headerData(section, orientation, role);
    }

private:
    QStringList _columns;
    QVector<QVariantList> _rows;
};
} // namespace

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

void Engine::fillPage(ReportPage* page, const PrintValues& values) {
    for (const PrintValues::Variable& variable : values.variables)
        page->setVariable(variable.name, variable.value, variable.markup);
    if (values.appendixColumns.isEmpty())
        return;
    // The model lives as long as the page that shows it.
    auto* model = new RowsModel(values.appendixColumns, values.appendixRows, page);
    page->setModel(PrintData::appendixModelName(), model, false);
}

bool Engine::fillPage(ReportPage* page, qint64 sqlDocId, bool forPrinting, QString* error) {
    PrintValues values;
    const bool read = PrintData::read(sqlDocId, forPrinting, &values, error);
    fillPage(page, values);
    return read;
}

bool Engine::readDocuments(QList<qint64>& sqlDocIds, bool dropMissing, Documents* documents) {
    QList<qint64> missing;
    for (qint64 id : qAsConst(sqlDocIds)) {
        if (id == -1 || documents->values.contains(id))
            continue; // -1, never saved: the empty template prints, as a preview of the form
        if (missing.contains(id)) {
            missing << id;
            continue;
        }
        PrintValues values;
        QString failure;
        const bool read = PrintData::read(id, true, &values, &failure);
        if (!read && !values.found) {
            MZ_LOG() << "documents cannot be looked up:" << failure;
            emit error(QStringLiteral("Не удалось прочитать документы из базы данных. Печать отменена.\nОшибка: %1")
                           .arg(failure),
                       errorTitle);
            return false;
        }
        if (!values.found) {
            missing << id;
            continue;
        }
        if (!read && documents->failure.isEmpty()) {
            documents->unreadable = id;
            documents->failure = failure;
        }
        documents->values.insert(id, values);
    }
    if (missing.isEmpty())
        return true;
    QStringList names;
    for (qint64 id : qAsConst(missing)) {
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

bool Engine::readable(const Documents& documents) {
    if (documents.failure.isEmpty())
        return true;
    MZ_LOG() << "document" << documents.unreadable << "cannot be read:" << documents.failure;
    emit error(QStringLiteral("Не удалось прочитать документ с кодом %1 из базы данных. Печать отменена.\nОшибка: %2")
                   .arg(documents.unreadable)
                   .arg(documents.failure),
               errorTitle);
    return false;
}

void Engine::onDocumentPrint(ReportList::ReportType type, qint64 sqlDocId, bool printBackground, bool showPreview) {
    if (sqlDocId < -1) {
        MZ_LOG() << "Error printing sqlDocId < 0" << sqlDocId;
        return;
    }
    QString path;
    if (!findTemplate(type, &path))
        return;
    // A blank costs money: a document that is gone or unreadable prints nothing instead of an
    // empty or half-filled form.
    QList<qint64> ids{sqlDocId};
    Documents documents;
    if (!readDocuments(ids, false, &documents))
        return;
    ReportPage* page = newPage(readTemplate(path));
    if (!readable(documents))
        return;
    fillPage(page, documents.values.value(sqlDocId));
    if (_pageHook)
        _pageHook(page);
    PrintSession session;
    session.printPage(page, true, printBackground ? 1 : -1, showPreview, -1, sqlDocId);
}

PrintSession::PageSource Engine::pageSource(const Documents& documents, const QJsonObject& content,
                                            bool printBackground) {
    // Printed backgrounds are decoded once for the whole run; unprinted ones never are.
    std::shared_ptr<ReportPage> pictures;
    if (printBackground) {
        pictures = std::make_shared<ReportPage>();
        pictures->fromJson(content);
    }
    // Every page of a document, on every side and for every question, shows the values read once.
    const QHash<qint64, PrintValues> values = documents.values;
    return [this, values, content, pictures](qint64 id) -> ReportPage* {
        ReportPage* page = newPage(content);
        if (pictures)
            page->shareBackgrounds(*pictures);
        fillPage(page, values.value(id));
        if (_pageHook)
            _pageHook(page);
        return page;
    };
}

void Engine::onDocumentsPrint(ReportList::ReportType type, QList<qint64> sqlDocIds, bool printBackground,
                              bool showPreview) {
    QString path;
    if (!findTemplate(type, &path))
        return;
    PrintSession session;
    if (printBackground && !session.confirmBackground())
        return;
    // Every document is read before the first sheet goes in, so that an unreadable one stops the
    // run before any blank is used.
    Documents documents;
    if (!readDocuments(sqlDocIds, true, &documents) || !readable(documents))
        return;
    // The template is read once; each document gets a fresh page from it.
    const QJsonObject content = readTemplate(path);
    const int sides = newPage(content)->pagesCount();
    if (sides <= 0 || sqlDocIds.isEmpty())
        return;
    session.printDocuments(sqlDocIds, sides, pageSource(documents, content, printBackground), printBackground,
                           showPreview);
}

bool Engine::saveDocumentsPdf(ReportList::ReportType type, QList<qint64> sqlDocIds, bool printBackground,
                              const QString& pdfPath, QString* failure) {
    if (failure)
        failure->clear();
    QString path;
    Documents documents;
    if (!findTemplate(type, &path) || !readDocuments(sqlDocIds, true, &documents) || sqlDocIds.isEmpty() ||
        !readable(documents))
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
    return session.saveDocuments(sqlDocIds, pageSource(documents, content, printBackground), printBackground, pdfPath,
                                 failure);
}

void Engine::onGuiEdit(ReportList::ReportType type) {
    QString path;
    if (!findTemplate(type, &path))
        return;
    auto* window = new ReportWindow;
    if (!window->openFile(path)) {
        emit error(QStringLiteral("Шаблон отчёта %1 имеет неверный формат.").arg(path), errorTitle);
        window->deleteLater();
        return;
    }
    setCurrentPage(window->page());
    QString failure;
    if (!fillPage(window->page(), 0, false, &failure))
        MZ_LOG() << "sample values for the designer cannot be read:" << failure;
    _designer = window;
    window->show();
}
