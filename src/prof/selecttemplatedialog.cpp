#include "selecttemplatedialog.h"
#include "ui_selecttemplatedialog.h"

#include "database.h"
#include "dialoggeometry.h"
#include "messagebox.h"
#include "modules/DocumentsTableAbstract/documentstableabstract.h"
#include "services/inputhelpers.h"

#include <QListWidgetItem>
#include <QSqlQuery>

SelectTemplateDialog::SelectTemplateDialog(QWidget* parent, const QString& queryText)
    : QDialog(parent), ui(new Ui::SelectTemplateDialog), _queryText(queryText) {
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Создать документ"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::ApplicationModal);
    fillListWidget();
    DialogGeometry::restore(this);

    connect(ui->pushButtonCreateEmpty, &QPushButton::clicked, this, &SelectTemplateDialog::onCreateEmpty);
    connect(ui->pushButtonCreateWithTemplate, &QPushButton::clicked, this, &SelectTemplateDialog::onCreateWithTemplate);
    connect(ui->pushButtonNewTempl, &QPushButton::clicked, this, &SelectTemplateDialog::onNewTemplate);
    connect(ui->pushButtonEditTempl, &QPushButton::clicked, this, &SelectTemplateDialog::onEditTemplate);
    connect(ui->pushButtonCopyTempl, &QPushButton::clicked, this, &SelectTemplateDialog::onCopyTemplate);
    connect(ui->pushButtonDeleteTempl, &QPushButton::clicked, this, &SelectTemplateDialog::onDeleteTemplate);
    connect(ui->listWidget, &QListWidget::itemDoubleClicked, this, &SelectTemplateDialog::onItemDoubleClicked);
    connect(ui->listWidget, &QListWidget::currentRowChanged, this, &SelectTemplateDialog::onCurrentRowChanged);
}

SelectTemplateDialog::~SelectTemplateDialog() {
    DialogGeometry::save(this);
}

void SelectTemplateDialog::fillListWidget() {
    ui->listWidget->clear();
    QSqlQuery query = Database::instance()->execSql(_queryText);
    while (query.next()) {
        auto* item = new QListWidgetItem(query.value(1).toString(), ui->listWidget);
        item->setData(Qt::UserRole, query.value(0).toInt());
    }
    // A filled list has no current row yet.
    setTemplateButtonsEnabled(ui->listWidget->currentRow() >= 0);
}

void SelectTemplateDialog::onItemDoubleClicked(QListWidgetItem* item) {
    if (!item)
        return;
    const int id = item->data(Qt::UserRole).toInt();
    emitAndClose([this, id] { emit sqlIdSelected(id); });
}

void SelectTemplateDialog::onCurrentRowChanged(int currentRow) {
    setTemplateButtonsEnabled(currentRow >= 0);
}

void SelectTemplateDialog::onCreateEmpty() {
    emitAndClose([this] { emit sqlIdSelected(0); });
}

void SelectTemplateDialog::onCreateWithTemplate() {
    const int id = currentId();
    if (id > 0)
        emitAndClose([this, id] { emit sqlIdSelected(id); });
}

void SelectTemplateDialog::onNewTemplate() {
    emitAndClose([this] { emit newTemplate(); });
}

void SelectTemplateDialog::onEditTemplate() {
    const int id = currentId();
    if (id > 0)
        emitAndClose([this, id] { emit editTemplate(id); });
}

void SelectTemplateDialog::onDeleteTemplate() {
    const QListWidgetItem* item = ui->listWidget->currentItem();
    if (!item)
        return;
    const int id = item->data(Qt::UserRole).toInt();
    const auto answer =
        MessageBox::show(this, QMessageBox::Warning, QStringLiteral("Внимание!"),
                         QStringLiteral("Вы уверены, что хотите удалить шаблон \"%1\"?").arg(item->text()),
                         QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer != QMessageBox::Ok)
        return;
    if (DocumentsTableAbstract* list = DocumentsTableAbstract::instance())
        list->deleteRecords({id});
    else
        DocumentsTableAbstract::deleteDocuments({id});
    fillListWidget();
    setTemplateButtonsEnabled(false);
}

void SelectTemplateDialog::onCopyTemplate() {
    const int id = currentId();
    if (id <= 0)
        return;
    if (DocumentsTableAbstract* list = DocumentsTableAbstract::instance()) {
        const int newId = list->copyRecord(id);
        if (newId > 0)
            list->copyAdditionalRecords(id, newId);
    } else if (const int newId = DocumentsTableAbstract::copyDocument(id); newId > 0) {
        DocumentsTableAbstract::copyDependentRows(id, newId);
    }
    fillListWidget();
    ui->listWidget->setCurrentRow(ui->listWidget->count() - 1);
}

template <typename F> void SelectTemplateDialog::emitAndClose(F emitter) {
    setEnabled(false);
    emitter();
    close();
}

int SelectTemplateDialog::currentId() const {
    const QListWidgetItem* item = ui->listWidget->currentItem();
    return item ? item->data(Qt::UserRole).toInt() : 0;
}

void SelectTemplateDialog::setTemplateButtonsEnabled(bool enabled) {
    ui->pushButtonEditTempl->setEnabled(enabled);
    ui->pushButtonCopyTempl->setEnabled(enabled);
    ui->pushButtonDeleteTempl->setEnabled(enabled);
    ui->pushButtonCreateWithTemplate->setEnabled(enabled);
}
