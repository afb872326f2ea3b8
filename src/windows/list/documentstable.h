#pragma once

#include "documentstableabstract.h"

class DocumentsModel;
class MyFilterModel;

// The registry list of training documents: the rows of ViewProfDocuments, newest first, filtered
// by the filter panel, with the FRDO auto-fill rules of this kind of document.
class DocumentsTable : public DocumentsTableAbstract {
    Q_OBJECT

public:
    explicit DocumentsTable(QWidget* parent = nullptr);

    bool checkRecords(int kind, QList<qint64> ids) override;
    bool checkRecord(int kind, qint64 id) override;

    DocumentsModel* documentsModel() const { return _documents; }
    MyFilterModel* filterModel() const { return _filter; }

public slots:
    void onFiltersChanged(FilterListType filterList) override;

protected:
    void initAutoFill() override;
    void initTable() override;
    QDialog* createPrintDialog(QWidget* parent) override;
    void reloadSource() override;

private:
    DocumentsModel* _documents = nullptr;
    MyFilterModel* _filter = nullptr;
};
