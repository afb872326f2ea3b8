#include "banner.h"

#include "filedownloader.h"
#include "webaddresses.h"
#include "mzlog.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QMovie>
#include <QTime>
#include <QTimer>
#include <QXmlStreamReader>
#include <algorithm>

namespace {
const QString builtInPicture = QStringLiteral(":/icons/animated_banner.gif");
const char linkProperty[] = "bannerLink";
// Larger pictures are refused before they are decoded: a few such frames would fill the memory.
const int maxPictureSide = 4096;

struct ParsedEntry {
    QUrl imgUrl;
    QUrl linkUrl;
    int showTime = 0;
};

// What a banner document says; the limits stay unset when it does not say them usably.
struct BannerDocument {
    QList<ParsedEntry> banners;
    int maxHeight = 0;
    int visibleCount = -1;
};

QString elementText(QXmlStreamReader& xml) {
    return xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
}

void readBanner(QXmlStreamReader& xml, BannerDocument* document) {
    QString img, link, showTime;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("imgUrl"))
            img = elementText(xml);
        else if (xml.name() == QLatin1String("linkUrl"))
            link = elementText(xml);
        else if (xml.name() == QLatin1String("showTime"))
            showTime = elementText(xml);
        else
            xml.skipCurrentElement();
    }
    bool isNumber = false;
    const qlonglong seconds = showTime.toLongLong(&isNumber);
    const ParsedEntry parsed{QUrl(img, QUrl::StrictMode), QUrl(link, QUrl::StrictMode),
                             int(std::clamp<qlonglong>(seconds, 0, 65535))};
    if (!parsed.imgUrl.isValid() || !parsed.linkUrl.isValid() || !isNumber)
        return;
    // Pictures come from the web only, never from a local file a document names.
    if (!FileDownloader::isHttpUrl(parsed.imgUrl)) {
        MZ_LOG() << "picture address skipped:" << img;
        return;
    }
    if (document->banners.size() < Banner::maxEntries)
        document->banners << parsed;
}

void readTopLevel(QXmlStreamReader& xml, BannerDocument* document) {
    while (xml.readNextStartElement()) {
        bool ok = false;
        if (xml.name() == QLatin1String("banner")) {
            readBanner(xml, document);
        } else if (xml.name() == QLatin1String("maxHeight")) {
            const int height = elementText(xml).toInt(&ok);
            if (ok && height > 0)
                document->maxHeight = std::min(height, int(Banner::maxStripHeight));
        } else if (xml.name() == QLatin1String("visibleBannersCount")) {
            const uint count = elementText(xml).toUInt(&ok);
            if (ok && count <= 255)
                document->visibleCount = int(count);
        } else {
            xml.skipCurrentElement();
        }
    }
}

// A streaming read: deep nesting costs no stack, and entity expansion is bounded by the reader.
bool readDocument(const QString& path, BannerDocument* document) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        MZ_LOG() << "cant open file" << path;
        return false;
    }
    QXmlStreamReader xml(&file);
    xml.setNamespaceProcessing(true);
    bool isBanners = false;
    if (xml.readNextStartElement()) {
        isBanners = xml.name() == QLatin1String("banners");
        if (isBanners)
            readTopLevel(xml, document);
        else
            xml.skipCurrentElement();
    }
    while (!xml.atEnd() && !xml.hasError())
        xml.readNext();
    if (xml.hasError()) {
        MZ_LOG() << "cant set content:" << xml.errorString();
        return false;
    }
    if (!isBanners) {
        MZ_LOG() << "The file is not a correct file";
        return false;
    }
    return true;
}
} // namespace

struct Banner::Entry {
    enum State : qint8 { Failed = -1, Loading = 0, Ready = 1 };

    QUrl imgUrl;
    QUrl linkUrl;
    QString file;
    QLabel* label = nullptr; // a child of the strip
    QMovie* movie = nullptr; // a child of the label
    quint16 showTime = 0;
    quint16 width = 0;
    State state = Loading;
    QTimer timer;
};

Banner::Banner(QWidget* parent)
    : QWidget(parent), _random(quint32(QTime::currentTime().msecsSinceStartOfDay() / 1000)) {
    setObjectName(QStringLiteral("banner"));
    setFixedHeight(0);
    _documentUrl = WebAddresses::banner();
    if (_documentUrl.isEmpty()) {
        // Not even a copy fetched earlier: it came from an address nobody here has chosen.
        MZ_LOG() << "no banner address is set (\"Banner/url\"), the built-in picture is shown";
        onDocumentFailed();
        return;
    }
    auto* downloader = new FileDownloader(this);
    downloader->setUrl(_documentUrl.toString());
    connect(downloader, &FileDownloader::done, this, &Banner::onDocumentDownloaded);
    connect(downloader, &FileDownloader::error, this, &Banner::onDocumentFailed);
    downloader->download();
}

Banner::~Banner() = default;

QList<QLabel*> Banner::shownLabels() const {
    QList<QLabel*> labels;
    for (const Entry* entry : _shown)
        labels << entry->label;
    return labels;
}

void Banner::applyHeight() {
    setFixedHeight(_visibleCount > 0 ? _stripHeight : 0);
}

void Banner::onDocumentFailed() {
    _documentHandled = true;
    applyHeight();
    showBuiltIn();
}

void Banner::onDocumentDownloaded(const QString& path) {
    BannerDocument document;
    const bool read = readDocument(path, &document);
    if (read) {
        if (document.maxHeight > 0)
            _stripHeight = quint16(document.maxHeight);
        if (document.visibleCount >= 0)
            _visibleCount = quint8(document.visibleCount);
    }
    _documentHandled = true;
    applyHeight();
    // A hidden strip needs no pictures.
    if (!read || document.banners.isEmpty() || _visibleCount == 0) {
        showBuiltIn();
        return;
    }
    for (const ParsedEntry& parsed : document.banners) {
        auto entry = std::make_unique<Entry>();
        entry->imgUrl = parsed.imgUrl;
        entry->linkUrl = parsed.linkUrl;
        entry->showTime = quint16(parsed.showTime);
        _unplaced << entry.get();
        _entries.push_back(std::move(entry));
    }
    // Collected first: a download may answer at once and change the lists.
    const QList<Entry*> loading = _unplaced;
    for (Entry* entry : loading)
        fetchPicture(entry);
}

void Banner::fetchPicture(Entry* entry) {
    auto* downloader = new FileDownloader(this);
    downloader->setUrl(entry->imgUrl.toString());
    connect(downloader, &FileDownloader::done, this, [this, entry](const QString& path) { prepare(entry, path); });
    connect(downloader, &FileDownloader::error, this, [this, entry] {
        entry->state = Entry::Failed;
        rotate();
    });
    downloader->download();
}

void Banner::showBuiltIn() {
    if (_builtInShown)
        return;
    _builtInShown = true;
    auto entry = std::make_unique<Entry>();
    entry->linkUrl = WebAddresses::site();
    Entry* builtIn = entry.get();
    _unplaced << builtIn;
    _entries.push_back(std::move(entry));
    prepare(builtIn, builtInPicture);
}

void Banner::prepare(Entry* entry, const QString& file) {
    entry->file = file;
    // Decided by the content: a picture named .gif that is something else is not shown.
    QImageReader reader(file);
    reader.setDecideFormatFromContent(true);
    const QSize size = reader.size();
    if (reader.format() != "gif" || !size.isValid() || size.height() < 10 || size.width() > maxPictureSide ||
        size.height() > maxPictureSide) {
        MZ_LOG() << "GIF is not valid!" << file;
        entry->state = Entry::Failed;
        rotate();
        return;
    }
    auto* label = new QLabel(this);
    label->hide();
    auto* movie = new QMovie(file, "gif", label);
    if (!movie->isValid()) {
        MZ_LOG() << "GIF is not valid!" << file;
        delete label;
        entry->state = Entry::Failed;
        rotate();
        return;
    }
    QSize shown = size;
    if (size.height() > _stripHeight) {
        shown = QSize(std::max(1, int(qint64(size.width()) * _stripHeight / size.height())), _stripHeight);
        movie->setScaledSize(shown);
    }
    entry->width = quint16(std::min(shown.width(), 65535));
    label->setFixedSize(shown);
    label->setMovie(movie);
    movie->start();
    if (!entry->linkUrl.isEmpty() && entry->linkUrl.isValid()) {
        label->setToolTip(entry->linkUrl.toString());
        label->setProperty(linkProperty, entry->linkUrl);
    }
    label->installEventFilter(this);
    entry->label = label;
    entry->movie = movie;
    if (entry->showTime > 0) {
        entry->timer.setSingleShot(true);
        connect(&entry->timer, &QTimer::timeout, this, [this, entry] { onShowTimeExpired(entry); });
    }
    entry->state = Entry::Ready;
    rotate();
}

void Banner::onShowTimeExpired(Entry* entry) {
    entry->timer.stop();
    entry->label->hide();
    _shown.removeOne(entry);
    // Another waiting picture takes the place first, so that the expired one is really replaced.
    const bool alone = _pool.isEmpty();
    if (alone)
        _pool << entry;
    rotate();
    if (!alone)
        _pool << entry;
}

void Banner::rotate() {
    for (auto it = _unplaced.begin(); it != _unplaced.end();) {
        Entry* entry = *it;
        if (entry->state == Entry::Loading) {
            ++it;
            continue;
        }
        it = _unplaced.erase(it);
        if (entry->state == Entry::Failed)
            destroy(entry);
        else if (entry->showTime > 0)
            _pool << entry;
        else
            _shown << entry;
    }
    while (_shown.size() < _visibleCount && !_pool.isEmpty()) {
        Entry* entry = _pool.takeAt(int(_random.bounded(quint32(_pool.size()))));
        entry->timer.start(entry->showTime * 1000);
        _shown << entry;
    }
    placeShown();
    // Every picture of the document failed: an empty strip would look broken.
    if (_documentHandled && _unplaced.isEmpty() && _pool.isEmpty() && _shown.isEmpty())
        showBuiltIn();
}

void Banner::placeShown() {
    int x = 0;
    for (Entry* entry : _shown) {
        entry->label->move(x, 0);
        entry->label->show();
        x += entry->width + spacing;
    }
}

void Banner::destroy(Entry* entry) {
    _pool.removeOne(entry);
    _shown.removeOne(entry);
    delete entry->label;
    _entries.erase(std::remove_if(_entries.begin(), _entries.end(),
                                  [entry](const std::unique_ptr<Entry>& owned) { return owned.get() == entry; }),
                   _entries.end());
}

bool Banner::eventFilter(QObject* watched, QEvent* event) {
    auto* label = qobject_cast<QLabel*>(watched);
    if (!label)
        return QWidget::eventFilter(watched, event);
    const QUrl link = label->property(linkProperty).toUrl();
    switch (event->type()) {
    case QEvent::Enter:
        // Only a picture that leads somewhere looks clickable.
        label->setCursor(link.isEmpty() ? Qt::ArrowCursor : Qt::PointingHandCursor);
        break;
    case QEvent::Leave:
        label->setCursor(Qt::ArrowCursor);
        break;
    case QEvent::MouseButtonPress:
        // The address comes from the network: only a web page may be opened from it.
        if (link.isEmpty())
            break;
        if (FileDownloader::isHttpUrl(link))
            QDesktopServices::openUrl(link);
        else
            MZ_LOG() << "not a web link, not opened:" << link.toString();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}
