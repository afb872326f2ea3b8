#include "updater.h"

#include "appkeys.h"
#include "messagebox.h"
#include "filedownloader.h"
#include "webaddresses.h"
#include "mzlog.h"
#include "productinfo.h"
#include "settingsregistry.h"

#include <QDesktopServices>
#include <QDomDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSysInfo>
#include <QTimer>
#include <QWidget>
#include <QXmlStreamReader>
#include <tuple>

namespace {
const QString checkTitle = QStringLiteral("Проверка обновлений");
const QString newVersionText =
    QStringLiteral("Доступна новая версия. \nСсылка для скачивания будет открыта в вашем браузере.");
const QString offerText = QStringLiteral("Доступна новая версия. Загрузить?");
const QString noConnectionText = QStringLiteral("Не удалось подключиться к серверу обновлений");
const QString parseErrorText = QStringLiteral("Что-то пошло не так.");
const QString notVersionFileText = QStringLiteral("Что-то пошло не так...");
const QString badVersionText = QStringLiteral("Что-то пошло не так..");
const QString latestText = QStringLiteral("Установлена последняя версия программы.");
const QString rootTag = QStringLiteral("mz-versions");
const QString noServerText =
    QStringLiteral("Сервер обновлений не задан.\n\nАдрес сервера задаёт администратор: параметр url в разделе "
                   "[Updates] файла настроек\n%1\n(полный адрес файла last_version.xml, начиная с https:// или "
                   "http://).");

// The version document is a few lines; anything nested deeper is not one, and a deep DOM would
// cost stack to build and free.
constexpr int maxDepth = 32;

int requestTimeoutMs = Updater::defaultTimeoutMs;

// Finds nesting beyond maxDepth without building a tree; false with the place when found.
bool isShallow(const QByteArray& data, QString* message, int* line, int* column) {
    QXmlStreamReader reader(data);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > maxDepth) {
            *message = QStringLiteral("elements nested too deep");
            *line = int(reader.lineNumber());
            *column = int(reader.columnNumber());
            return false;
        }
        if (token == QXmlStreamReader::EndElement)
            --depth;
    }
    return true; // other faults are the DOM parser's to report
}

// A whole decimal number of any length, reduced to 8 bits as the published format stores it.
bool toByte(const QString& text, quint8* value) {
    if (text.isEmpty())
        return false;
    unsigned rest = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        rest = (rest * 10 + unsigned(c.unicode() - '0')) % 256;
    }
    *value = quint8(rest);
    return true;
}
} // namespace

Updater::Updater(QObject* parent) : QObject(parent), _manager(new QNetworkAccessManager(this)) {
    _url = QUrl(SettingsRegistry::instance()->value(Keys::updatesUrl).toString().trimmed(), QUrl::TolerantMode);
    connect(_manager, &QNetworkAccessManager::finished, this, &Updater::fileDownloaded);
    if (!FileDownloader::isHttpUrl(_url)) {
        MZ_LOG() << "Error: the update address is not an http address:" << _url.toString();
        // Nobody has connected yet; answer from the event loop.
        QTimer::singleShot(0, this, [this] { fail(noConnectionText); });
        return;
    }
    QNetworkRequest request(_url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    FileDownloader::limitReply(_manager->get(request), maxDocumentSize, requestTimeoutMs);
}

void Updater::setTimeoutMs(int ms) {
    requestTimeoutMs = ms;
}
int Updater::timeoutMs() {
    return requestTimeoutMs;
}

void Updater::fileDownloaded(QNetworkReply* pReply) {
    pReply->deleteLater();
    const QString refused = FileDownloader::refusedReason(pReply);
    if (pReply->error() != QNetworkReply::NoError || !refused.isEmpty()) {
        MZ_LOG() << "Error: no version document" << pReply->errorString() << refused;
        fail(refused == QLatin1String("size") ? notVersionFileText : noConnectionText);
        return;
    }
    _data = pReply->readAll();
    if (_data.size() > maxDocumentSize) {
        MZ_LOG() << "Error: Not version info file, size" << _data.size();
        fail(notVersionFileText);
        return;
    }
    parse();
}

void Updater::parse() {
    QString message;
    int line = 0;
    int column = 0;
    QDomDocument document;
    if (!isShallow(_data, &message, &line, &column) || !document.setContent(_data, &message, &line, &column)) {
        MZ_LOG().noquote()
            << QStringLiteral("Error: Parse error at line %1, column %2: %3").arg(line).arg(column).arg(message);
        fail(parseErrorText);
        return;
    }
    const QDomElement root = document.documentElement();
    if (root.tagName() != rootTag) {
        MZ_LOG() << "Error: Not version info file";
        fail(notVersionFileText);
        return;
    }
    QString version;
    const QString product = ProductTypeInfo::appName();
    for (QDomElement e = root.firstChildElement(product); !e.isNull(); e = e.nextSiblingElement(product)) {
        for (QDomElement item = e.firstChildElement(); !item.isNull(); item = item.nextSiblingElement()) {
            if (item.tagName() == QLatin1String("lastVersion"))
                version = item.text();
            else if (item.tagName() == QLatin1String("downloadLink"))
                _downloadLink = item.text().trimmed();
            else if (item.tagName() == QLatin1String("downloadLink64"))
                _downloadLink64 = item.text().trimmed();
        }
    }
    if (!readVersion(version)) {
        MZ_LOG() << "Error: bad version" << version.left(100);
        fail(badVersionText);
        return;
    }
    const auto published = std::make_tuple(int(_major), int(_minor), int(_patch));
    const auto own =
        std::make_tuple(ProductTypeInfo::versionMajor, ProductTypeInfo::versionMinor, ProductTypeInfo::versionPatch);
    if (!(published > own)) {
        fail(latestText);
        return;
    }
    const QString link = chooseLink(_downloadLink, _downloadLink64, QSysInfo::currentCpuArchitecture());
    if (link.isEmpty()) {
        MZ_LOG() << "Error: no http download link";
        fail(notVersionFileText);
        return;
    }
    emit updateIsReady(link);
    deleteLater();
}

bool Updater::readVersion(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    return parts.size() == 3 && toByte(parts.at(0).trimmed(), &_major) && toByte(parts.at(1).trimmed(), &_minor) &&
           toByte(parts.at(2).trimmed(), &_patch);
}

void Updater::fail(const QString& text) {
    emit updatingError(text);
    deleteLater();
}

QString Updater::chooseLink(const QString& link, const QString& link64, const QString& architecture) {
    QStringList candidates;
    if (!link64.trimmed().isEmpty() && architecture.contains(QLatin1String("64")))
        candidates << link64.trimmed();
    candidates << link.trimmed();
    for (const QString& candidate : qAsConst(candidates)) {
        if (FileDownloader::isHttpUrl(QUrl(candidate, QUrl::StrictMode)))
            return candidate;
        if (!candidate.isEmpty())
            MZ_LOG() << "download link ignored:" << candidate.left(200);
    }
    return QString();
}

bool Updater::openLink(const QString& link) {
    const QUrl url(link.trimmed(), QUrl::StrictMode);
    if (!FileDownloader::isHttpUrl(url)) {
        MZ_LOG() << "link not opened, not an http address:" << link.left(200);
        return false;
    }
    return QDesktopServices::openUrl(url);
}

void Updater::offerDownload(QWidget* parent, const QString& link) {
    if (MessageBox::question(parent, checkTitle, offerText, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
        QMessageBox::Yes)
        openLink(link);
}

QString Updater::noServerMessage() {
    return noServerText.arg(WebAddresses::settingsFile());
}

Updater* Updater::checkUpdates(QWidget* window, bool isSilent, const Report& report) {
    if (WebAddresses::updates().isEmpty()) {
        if (isSilent)
            MZ_LOG() << "update check skipped: no update server is set (\"Updates/url\")";
        else if (report)
            report(noServerMessage(), checkTitle, QMessageBox::Information);
        return nullptr;
    }
    auto* updater = new Updater(window);
    QObject* context = window ? static_cast<QObject*>(window) : updater;
    // Queued: the boxes run their own event loop, which must not run inside the updater's answer.
    if (isSilent) {
        const QPointer<QWidget> parent(window);
        connect(
            updater, &Updater::updateIsReady, context, [parent](const QString& link) { offerDownload(parent, link); },
            Qt::QueuedConnection);
        return updater;
    }
    connect(
        updater, &Updater::updateIsReady, context,
        [report](const QString& link) {
            if (report)
                report(newVersionText, checkTitle, QMessageBox::Information);
            openLink(link);
        },
        Qt::QueuedConnection);
    connect(
        updater, &Updater::updatingError, context,
        [report](const QString& text) {
            // Being up to date is good news, not a fault.
            if (report)
                report(text, checkTitle, text == latestText ? QMessageBox::Information : QMessageBox::Warning);
        },
        Qt::QueuedConnection);
    return updater;
}
