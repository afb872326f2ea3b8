#pragma once

#include "importplan.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QVector>

// The documents an import would make, one row each: the "Импорт" check, the source row and the
// document's fields as they will be stored. Values the row does not give itself (the template's,
// the numbering's) are grey; a cell with a problem is red with the problem as its tooltip, one with
// only a warning has a colour of its own. Edits go into the document's own texts; the owner reruns
// the numbering and the checks on documentsEdited().
class ImportPreviewModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { IncludedColumn, SourceRowColumn, FirstFieldColumn };

    explicit ImportPreviewModel(QObject* parent = nullptr);

    static QColor problemColour();
    static QColor warningColour();

    // Replaces the documents; `options` must outlive the model's use of them.
    void setDocuments(const QVector<ImportDocument>& documents, const ImportOptions* options);
    QVector<ImportDocument>* documents() { return &_documents; }
    const QVector<ImportDocument>& documentList() const { return _documents; }
    // Repaints every cell after the documents' numbers or problems changed.
    void refresh();

    ImportField fieldAt(int column) const;
    // The preview column of `field`; -1 when it is not shown.
    int columnOf(ImportField field) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

signals:
    void documentsEdited();

private:
    static QString problemsOf(const ImportDocument& document, ImportField field);

    QVector<ImportDocument> _documents;
    const ImportOptions* _options = nullptr;
    QVector<ImportField> _fields;
};
