#pragma once

#include <QByteArray>
#include <QFont>
#include <QObject>
#include <QRectF>

class QDataStream;
class QJsonObject;
class QPainter;
class ReportPage;

// A field of a template: a rectangle in millimetres from the top-left corner of side 0, with the
// text settings every kind shares. The kinds lay themselves out and paint themselves.
//
// Every setter that changes a value lays the field out anew and emits fieldChanged() once with the
// name of a property declared here: an observer reads the new value with property(), an undo step
// puts the old one back with setProperty(). Position and size are notified as one property,
// "geometry", whichever part changed. Reading a template (read(), readFrom()) emits nothing, nor
// does laying out or painting.
class AbstractField : public QObject {
    Q_OBJECT
    Q_PROPERTY(QRectF geometry READ geometry WRITE setGeometry)
    Q_PROPERTY(double x READ x WRITE setX)
    Q_PROPERTY(double y READ y WRITE setY)
    Q_PROPERTY(double width READ width WRITE setWidth)
    Q_PROPERTY(double height READ height WRITE setHeight)
    Q_PROPERTY(int wrap READ wrap WRITE setWrap)
    Q_PROPERTY(QFont font READ font WRITE setFont)
    Q_PROPERTY(quint16 alignFlags READ alignFlags WRITE setAlignFlags)
    Q_PROPERTY(bool wordWrap READ wordWrap WRITE setWordWrap)
    Q_PROPERTY(bool zOnEmpty READ zOnEmpty WRITE setZOnEmpty)

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
    QRectF geometry() const { return QRectF(_x, _y, _width, _height); }
    void setX(double x) { setGeometry(x, _y, _width, _height); }
    void setY(double y) { setGeometry(_x, y, _width, _height); }
    void setWidth(double width) { setGeometry(_x, _y, width, _height); }
    void setHeight(double height) { setGeometry(_x, _y, _width, height); }
    void setGeometry(double x, double y, double width, double height);
    void setGeometry(const QRectF& rect) { setGeometry(rect.x(), rect.y(), rect.width(), rect.height()); }

    int wrap() const { return _wrap; }
    void setWrap(int wrap) { assign(_wrap, wrap, "wrap"); }
    QFont font() const { return _font; }
    void setFont(const QFont& font) { assign(_font, font, "font"); }
    quint16 alignFlags() const { return _alignFlags; }
    void setAlignFlags(quint16 flags) { assign(_alignFlags, flags, "alignFlags"); }
    bool wordWrap() const { return _wordWrap; }
    void setWordWrap(bool on) { assign(_wordWrap, on, "wordWrap"); }
    bool zOnEmpty() const { return _zOnEmpty; }
    void setZOnEmpty(bool on) { assign(_zOnEmpty, on, "zOnEmpty"); }

    ReportPage* page() const { return _page; }
    // Not a property of the template: the page adds and takes its fields. The page's font and
    // paper still change the layout.
    void setPage(ReportPage* page);

    bool isLayoutValid() const { return _layoutValid; }
    // The setters and the page call this themselves; public so that a layout can be measured anew.
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
    // `field` is the sender, so that a page can pass the signal on as it is.
    void fieldChanged(AbstractField* field, const QByteArray& property);

protected:
    // Stores `value` and, when it differs, notifies the change; true when it did.
    template <typename T> bool assign(T& member, const T& value, const char* property) {
        if (member == value)
            return false;
        member = value;
        notifyChanged(property);
        return true;
    }
    // Lays the field out anew and tells observers which property changed.
    void notifyChanged(const char* property);

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
