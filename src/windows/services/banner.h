#pragma once

#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <memory>
#include <vector>

class QLabel;

// A strip of small animated pictures, each opening its web page when clicked. The description
// document ("Banner/url" of the data store) and the pictures are downloaded into the user settings
// folder, so the last downloaded state serves when the network is away; without any, and always
// while no banner address is set, a built-in picture is shown, linking to "Site/url" when that is set.
class Banner : public QWidget {
    Q_OBJECT

public:
    static constexpr int defaultStripHeight = 100;
    static constexpr int defaultVisibleCount = 2;
    // A document cannot make the strip taller than this or list more pictures than this.
    static constexpr int maxStripHeight = 300;
    static constexpr int maxEntries = 32;
    // The gap between two pictures.
    static constexpr int spacing = 5;

    // Starts fetching the description document ("Banner/url" of the data store) at once; the
    // strip keeps height 0 until the document has been handled. Without an address nothing is
    // fetched and the built-in picture shows at once.
    explicit Banner(QWidget* parent = nullptr);
    ~Banner() override;

    int stripHeight() const { return _stripHeight; }
    int visibleCount() const { return _visibleCount; }
    // The document was handled, or could not be had.
    bool isDocumentHandled() const { return _documentHandled; }
    // The labels of the pictures shown now, left to right.
    QList<QLabel*> shownLabels() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry;

    void onDocumentDownloaded(const QString& path);
    void onDocumentFailed();
    void applyHeight();
    void showBuiltIn();
    void fetchPicture(Entry* entry);
    void prepare(Entry* entry, const QString& file);
    void onShowTimeExpired(Entry* entry);
    void rotate();
    void placeShown();
    void destroy(Entry* entry);

    std::vector<std::unique_ptr<Entry>> _entries; // owns every entry
    QList<Entry*> _unplaced;
    QList<Entry*> _pool;
    QList<Entry*> _shown;
    quint16 _stripHeight = defaultStripHeight;
    quint8 _visibleCount = defaultVisibleCount;
    QUrl _documentUrl;
    QRandomGenerator _random;
    bool _documentHandled = false;
    bool _builtInShown = false;
};
