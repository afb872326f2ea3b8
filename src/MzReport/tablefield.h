#pragma once

#include "abstractfield.h"
#include "textfield.h"

#include <QAbstractItemModel>
#include <QImage>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QStringList>

class QFontMetrics;

// Rows of a named table model printed into the ruled grid of a form, possibly broken into parts
// that continue elsewhere on the sheet. Each part but the last has a maximum height; rows that fit
// in no part are cut and overflow() tells the page to ask before printing. Only the rows that can
// be printed are laid out: those that fit in the parts and, when the table is cut, the first one
// that does not; in a last part without a maximum height, none that starts below the last side.
class TableField : public AbstractField {
    Q_OBJECT
    Q_PROPERTY(QString modelName READ modelName WRITE setModelName)
    Q_PROPERTY(bool headerIsVisible READ headerIsVisible WRITE setHeaderIsVisible)
    Q_PROPERTY(bool autoWidth READ autoWidth WRITE setAutoWidth)
    Q_PROPERTY(quint8 columnCount READ columnCount WRITE setColumnCount)
    Q_PROPERTY(quint8 previewRowCount READ previewRowCount WRITE setPreviewRowCount)
    Q_PROPERTY(double headerHeight READ headerHeight WRITE setHeaderHeight)
    Q_PROPERTY(double rowHeight READ rowHeight WRITE setRowHeight)
    Q_PROPERTY(QList<double> columnsWidth READ columnsWidth WRITE setColumnsWidth)
    Q_PROPERTY(QStringList headerNames READ headerNames WRITE setHeaderNames)
    Q_PROPERTY(QStringList columnIds READ columnIds WRITE setColumnIds)
    Q_PROPERTY(QList<quint8> columnsAlign READ columnsAlign WRITE setColumnsAlign)
    Q_PROPERTY(bool drawBorders READ drawBorders WRITE setDrawBorders)
    Q_PROPERTY(int splitsCount READ splitsCount WRITE setSplitsCount)
    Q_PROPERTY(QList<double> maxSplitHeight READ maxSplitHeight WRITE setMaxSplitHeight)
    Q_PROPERTY(QList<double> splitX READ splitX WRITE setSplitX)
    Q_PROPERTY(QList<double> splitY READ splitY WRITE setSplitY)

public:
    explicit TableField(QObject* parent = nullptr);

    int type() const override { return TableType; }
    void prepare() override;
    void paint(QPainter* painter, double scale, double yOffset) override;
    void writeTo(QDataStream& stream) const override;
    void readFrom(QDataStream& stream) override;
    void read(const QJsonObject& object) override;
    void write(QJsonObject& object) const override;

    // Looks the model up on the page under modelName(); false without a page or model.
    bool bindModel();
    // Stores the name as given (the table dialog passes it trimmed and lower-cased), then binds,
    // also to the same name: the page may hold another model under it by now.
    void setModelName(const QString& name);
    QString modelName() const { return _modelName; }
    QAbstractItemModel* model() const { return _model; }
    // Header text of a model column to its index, as bound.
    QMap<QString, int> columnMap() const { return _columnMap; }

    // Fills the $D{model.column} placeholders of `text` from model row `row`, then the $V{...}
    // ones; returns the text unchanged while the table is not data-bound. Placeholders from
    // TextField::maxTextLength on are left as they are and the variables are filled in the text cut
    // there: a cell shows no more.
    QString substituteRow(const QString& text, int row);
    // One text per row in effect and column: filled templates, or the raw ones in the designer;
    // each at most TextField::maxTextLength characters.
    void rebuildCellTexts();
    QList<QStringList> cellTexts() const { return _cellTexts; }

    // Layout results of the last prepare(), in millimetres. The rows in effect are those laid out.
    // prepare() also sets the field's width and height, without a notification: laying out is no
    // edit of the template.
    bool isDataBound() const { return _dataBound; }
    int rowCountInEffect() const { return _rowCount; }
    QList<double> effectiveColumnsWidth() const { return _effectiveWidths; }
    QList<double> rowHeights() const { return _rowHeights; }
    double headerHeightInEffect() const { return _headerInEffect; }
    double headerInset() const { return _headerInset; }
    double totalWidth() const { return _totalWidth; }
    // The header and every row, those that are not laid out counted at the row height.
    double totalHeight() const { return _totalHeight; }
    // Device pixels per millimetre of the last paint (0 before it).
    double layoutScale() const { return _scale; }
    // Some rows fit in no part, or are beyond what a table may lay out, and are not printed.
    bool overflow() const { return _overflow; }
    static constexpr double minAutoWidth = 10.0;

    bool headerIsVisible() const { return _headerIsVisible; }
    void setHeaderIsVisible(bool on) { assign(_headerIsVisible, on, "headerIsVisible"); }
    bool autoWidth() const { return _autoWidth; }
    void setAutoWidth(bool on) { assign(_autoWidth, on, "autoWidth"); }
    quint8 columnCount() const { return _columnCount; }
    void setColumnCount(quint8 count) { assign(_columnCount, count, "columnCount"); }
    quint8 previewRowCount() const { return _previewRowCount; }
    void setPreviewRowCount(quint8 count) { assign(_previewRowCount, count, "previewRowCount"); }
    double headerHeight() const { return _headerHeight; }
    void setHeaderHeight(double mm) { assign(_headerHeight, mm, "headerHeight"); }
    double rowHeight() const { return _rowHeight; }
    void setRowHeight(double mm) { assign(_rowHeight, mm, "rowHeight"); }
    QList<double> columnsWidth() const { return _columnsWidth; }
    void setColumnsWidth(const QList<double>& widths) { assign(_columnsWidth, widths, "columnsWidth"); }
    QStringList headerNames() const { return _headerNames; }
    void setHeaderNames(const QStringList& names) { assign(_headerNames, names, "headerNames"); }
    QStringList columnIds() const { return _columnIds; }
    void setColumnIds(const QStringList& ids) { assign(_columnIds, ids, "columnIds"); }
    // Per column: 0 the field's alignment, else Qt's horizontal flag (1 left, 2 right, 4 centre).
    QList<quint8> columnsAlign() const { return _columnsAlign; }
    void setColumnsAlign(const QList<quint8>& codes) { assign(_columnsAlign, codes, "columnsAlign"); }
    bool drawBorders() const { return _drawBorders; }
    void setDrawBorders(bool on) { assign(_drawBorders, on, "drawBorders"); }
    int splitsCount() const { return _splitsCount; }
    void setSplitsCount(int count) { assign(_splitsCount, count, "splitsCount"); }
    // Per break: the height the part before it may take (<= 0.000001: unlimited) and where the
    // next part starts (both below 0.000001: nowhere, the rest is cut).
    QList<double> maxSplitHeight() const { return _maxSplitHeight; }
    void setMaxSplitHeight(const QList<double>& heights) { assign(_maxSplitHeight, heights, "maxSplitHeight"); }
    QList<double> splitX() const { return _splitX; }
    void setSplitX(const QList<double>& xs) { assign(_splitX, xs, "splitX"); }
    QList<double> splitY() const { return _splitY; }
    void setSplitY(const QList<double>& ys) { assign(_splitY, ys, "splitY"); }

private:
    // Where the rows placed so far end: the part and the height used in it, in millimetres.
    struct Walk {
        int part = 0;
        double used = 0.0;
    };

    // Rows filled and measured by a layout, with what is left of its allowance.
    struct Rows {
        QList<QStringList> texts;
        QList<double> heights;
        QList<int> costs;
        // Texts and heights of the rows of a valid layout.
        QList<QStringList> known;
        QList<double> knownHeights;
        int allowance = 0;
        int laidOut = 0;
        double startHeight(int row, double rowHeight) const {
            return row < knownHeights.size() ? knownHeights.at(row) : rowHeight;
        }
    };

    int rowsToShow() const;
    void useScale(double scale);
    QFont metricsFont(double scale) const;
    void layOutDocument(TextField::Document& document, const QString& text, double widthPx, int alignment);
    void computeHeaderInset(double scale);
    int tableAllowance() const;
    int limitHeader(int allowance);
    QString headerText(int column) const;
    QStringList rowTexts(int row);
    void startAutoWidths(const QFontMetrics& metrics, double scale);
    bool widenColumns(const QStringList& texts, const QFontMetrics& metrics, double scale);
    double measureRow(QStringList& texts, double height, const QFontMetrics& metrics, double scale);
    void layOutRows(const QFont& font, double scale);
    int walkRows(Rows& rows, const QFontMetrics& metrics, double scale, double strip);
    bool measureAgain(Rows& rows, int end, const QFontMetrics& metrics, double scale);
    bool placeRow(Walk& walk, double height) const;
    bool isLastPart(int part) const;
    double partTop(int part) const;
    double stripBottom() const;
    void noteVisibleBottom(const QPainter* painter, double scale, double yOffset);
    void reportCut(const QString& what);
    void forgetModel();
    void watchModel();
    void paintHeader(QPainter* painter, const QPointF& origin, double scale, bool borders);
    void paintRow(QPainter* painter, int row, const QPointF& start, double height, double scale, bool borders);
    void paintZStrike(QPainter* painter, int part, QPointF start, double scale, double yOffset);

    bool _headerIsVisible = true;
    bool _autoWidth = false;
    quint8 _columnCount = 0;
    quint8 _previewRowCount = 1;
    double _headerHeight = 0.0;
    double _rowHeight = 0.0;
    QList<double> _columnsWidth;
    QStringList _headerNames;
    QStringList _columnIds;
    QList<quint8> _columnsAlign;
    bool _drawBorders = true;
    int _splitsCount = 0;
    QList<double> _maxSplitHeight;
    QList<double> _splitX;
    QList<double> _splitY;
    QString _modelName;

    QPointer<QAbstractItemModel> _model;
    QMap<QString, int> _columnMap;

    bool _dataBound = false;
    int _rowCount = 0;
    QList<double> _effectiveWidths;
    QList<double> _rowHeights;
    // Per row laid out: the part it is printed in, -1 for the row that fits in none.
    QList<int> _rowParts;
    double _headerInEffect = 0.0;
    double _totalHeight = 0.0;
    double _totalWidth = 0.0;
    double _scale = 0.0;
    QList<QStringList> _cellTexts;
    bool _overflow = false;
    double _headerInset = 1.0;
    int _headerLimit = TextField::maxTextLength;
    int _headerColumns = 0;
    double _preparedScale = 0.0;
    // Bottom of the strip, in millimetres, that the last painted side showed, and the one below
    // which rows were left out (0 when none was).
    double _paintedBottom = 0.0;
    double _stripCut = 0.0;
    bool _cutReported = false;
    // Documents are laid out at the resolution of the scale, so that a point size measures the same
    // number of millimetres on every device.
    QImage _layoutDevice;
};
