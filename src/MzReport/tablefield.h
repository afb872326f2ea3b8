#pragma once

#include "abstractfield.h"

#include <QAbstractItemModel>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QStringList>

// Rows of a named table model printed into the ruled grid of a form, possibly broken into parts
// that continue elsewhere on the sheet. This class holds everything a template stores about a
// table and binds the model; the grid layout and its painting build on these members.
class TableField : public AbstractField {
    Q_OBJECT

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
    // Stores the name as given (the table dialog passes it trimmed and lower-cased), then binds.
    void setModelName(const QString& name);
    QString modelName() const { return _modelName; }
    QAbstractItemModel* model() const { return _model; }
    // Header text of a model column to its index, as bound.
    QMap<QString, int> columnMap() const { return _columnMap; }

    bool headerIsVisible() const { return _headerIsVisible; }
    void setHeaderIsVisible(bool on) { _headerIsVisible = on; }
    bool autoWidth() const { return _autoWidth; }
    void setAutoWidth(bool on) { _autoWidth = on; }
    quint8 columnCount() const { return _columnCount; }
    void setColumnCount(quint8 count) { _columnCount = count; }
    quint8 previewRowCount() const { return _previewRowCount; }
    void setPreviewRowCount(quint8 count) { _previewRowCount = count; }
    double headerHeight() const { return _headerHeight; }
    void setHeaderHeight(double mm) { _headerHeight = mm; }
    double rowHeight() const { return _rowHeight; }
    void setRowHeight(double mm) { _rowHeight = mm; }
    QList<double> columnsWidth() const { return _columnsWidth; }
    void setColumnsWidth(const QList<double>& widths) { _columnsWidth = widths; }
    QStringList headerNames() const { return _headerNames; }
    void setHeaderNames(const QStringList& names) { _headerNames = names; }
    QStringList columnIds() const { return _columnIds; }
    void setColumnIds(const QStringList& ids) { _columnIds = ids; }
    // Per column: 0 the field's alignment, else Qt's horizontal flag (1 left, 2 right, 4 centre).
    QList<quint8> columnsAlign() const { return _columnsAlign; }
    void setColumnsAlign(const QList<quint8>& codes) { _columnsAlign = codes; }
    bool drawBorders() const { return _drawBorders; }
    void setDrawBorders(bool on) { _drawBorders = on; }
    int splitsCount() const { return _splitsCount; }
    void setSplitsCount(int count) { _splitsCount = count; }
    // Per break: the height the part before it may take (<= 0.000001: unlimited) and where the
    // next part starts (both below 0.000001: nowhere, the rest is cut).
    QList<double> maxSplitHeight() const { return _maxSplitHeight; }
    void setMaxSplitHeight(const QList<double>& heights) { _maxSplitHeight = heights; }
    QList<double> splitX() const { return _splitX; }
    void setSplitX(const QList<double>& xs) { _splitX = xs; }
    QList<double> splitY() const { return _splitY; }
    void setSplitY(const QList<double>& ys) { _splitY = ys; }

private:
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
};
