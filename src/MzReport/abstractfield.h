#pragma once

#include <QFont>
#include <QObject>

class QDataStream;
class QJsonObject;
class QPainter;
class ReportPage;

// A field of a template: a rectangle in millimetres from the top-left corner of side 0, with the
// text settings every kind shares. The kinds lay themselves out and paint themselves.
class AbstractField : public QObject {
    Q_OBJECT

public:
    enum Type { TextType = 1, TableType = 2, QrType = 3 };

    explicit AbstractField(QObject* parent = nullptr);

    virtual int type() const = 0;
    // Brings the layout up to date before the page is judged (or painted).
    virtual void prepare() = 0;
    // `scale`: device pixels per millimetre, negative for the page's mmToPx(); `yOffset`: device-pixel
    // top of the side being painted within the strip of all sides.
    virtual void paint(QPainter* painter, double scale, double yOffset) = 0;
    virtual void writeTo(QDataStream& stream) const;
    virtual void readFrom(QDataStream& stream);
    virtual void read(const QJsonObject& object);
    virtual void write(QJsonObject& object) const;

    double x() const { return _x; }
    double y() const { return _y; }
    double width() const { return _width; }
    double height() const { return _height; }
    void setX(double x) { _x = x; }
    void setY(double y) { _y = y; }
    void setWidth(double width) { _width = width; }
    void setHeight(double height) { _height = height; }
    void setGeometry(double x, double y, double width, double height);

    int wrap() const { return _wrap; }
    void setWrap(int wrap) { _wrap = wrap; }
    QFont font() const { return _font; }
    void setFont(const QFont& font) { _font = font; }
    quint16 alignFlags() const { return _alignFlags; }
    void setAlignFlags(quint16 flags) { _alignFlags = flags; }
    bool wordWrap() const { return _wordWrap; }
    void setWordWrap(bool on) { _wordWrap = on; }
    bool zOnEmpty() const { return _zOnEmpty; }
    void setZOnEmpty(bool on) { _zOnEmpty = on; }

    ReportPage* page() const { return _page; }
    void setPage(ReportPage* page) { _page = page; }

    bool isLayoutValid() const { return _layoutValid; }
    // The designer calls this after an edit so that the next paint lays the field out again.
    void invalidateLayout() { _layoutValid = false; }

    // The field's font, or the page's default font while the field keeps the default-constructed one.
    QFont effectiveFont() const;
    // `override` when non-zero, else alignFlags(); the word-wrap text flag follows wordWrap().
    int effectiveAlignment(int override = 0) const;
    static bool isPrinterDevice(const QPainter* painter);
    // A font left at its default: the field prints in the page's default font.
    static bool isDefaultFont(const QFont& font);

    // Device pixels per millimetre for a paint call: `scale`, or the page's when it is negative.
    double resolveScale(double scale) const;
    // The page's fill-with-data flag (false without a page, as in the designer).
    bool fillsWithData() const;

signals:
    void fieldChanged();

protected:
    double _x = 0.0;
    double _y = 0.0;
    double _width = 20.0;
    double _height = 6.0;
    int _wrap = 0;
    QFont _font;
    quint16 _alignFlags = 0;
    ReportPage* _page = nullptr;
    bool _wordWrap = false;
    bool _zOnEmpty = false;
    bool _layoutValid = false;
};
