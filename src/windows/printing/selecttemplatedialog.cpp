#include "selecttemplatedialog.h"
#include "ui_selecttemplatedialog.h"
#include "writeaccess.h"

#include "dialoggeometry.h"
#include "documentstore.h"
#include "inputhelpers.h"
#include "messagebox.h"

#include <QListWidgetItem>

SelectTemplateDialog::SelectTemplateDialog(QWidget* parent) : QDialog(parent), ui(new Ui::SelectTemplateDialog) {
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Создать документ"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::ApplicationModal);
    WriteAccess::mark({ui->pushButtonCreateEmpty, ui->pushButtonCreateWithTemplate, ui->pushButtonNewTempl,
                       ui->pushButtonCopyTempl, ui->pushButtonDeleteTempl});
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
    QVector<DocumentStore::TemplateEntry> entries;
    QString error;
    if (!DocumentStore::templates(&entries, &error))
        MessageBox::critical(this, MessageBox::errorTitle(),
                             QStringLiteral("Не удалось прочитать список шаблонов.\n") + error);
    for (const DocumentStore::TemplateEntry& entry : qAsConst(entries)) {
        auto* item = new QListWidgetItem(entry.name, ui->listWidget);
        item->setData(Qt::UserRole, entry.id);
    }
    // A filled list has no current row yet.
    setTemplateButtonsEnabled(ui->listWidget->currentRow() >= 0);
}

void SelectTemplateDialog::onItemDoubleClicked(QListWidgetItem* item) {
    if (!item || !WriteAccess::allowed(ui->pushButtonCreateWithTemplate))
        return;
    const qint64 id = item->data(Qt::UserRole).toLongLong();
    emitAndClose([this, id] { emit sqlIdSelected(id); });
}

void SelectTemplateDialog::onCurrentRowChanged(int currentRow) {
    setTemplateButtonsEnabled(currentRow >= 0);
}

void SelectTemplateDialog::onCreateEmpty() {
    emitAndClose([this] { emit sqlIdSelected(0); });
}

void SelectTemplateDialog::onCreateWithTemplate() {
    const qint64 id = currentId();
    if (id > 0)
        emitAndClose([this, id] { emit sqlIdSelected(id); });
}

void SelectTemplateDialog::onNewTemplate() {
    emitAndClose([this] { emit newTemplate(); });
}

void SelectTemplateDialog::onEditTemplate() {
    const qint64 id = currentId();
    if (id > 0)
        emitAndClose([this, id] { emit editTemplate(id); });
}

void SelectTemplateDialog::onDeleteTemplate() {
    const QListWidgetItem* item = ui->listWidget->currentItem();
    if (!item)
        return;
    const qint64 id = item->data(Qt::UserRole).toLongLong();
    const auto answer =
        MessageBox::show(this, QMessageBox::Warning, MessageBox::attentionTitle(),
                         QStringLiteral("Вы уверены, что хотите удалить шаблон \"%1\"?").arg(item->text()),
                         QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer != QMessageBox::Ok)
        return;
    QString error;
    if (!DocumentStore::deleteDocuments({id}, &error))
        MessageBox::critical(this, MessageBox::errorTitle(), QStringLiteral("Не удалось удалить шаблон.\n") + error);
    fillListWidget();
    setTemplateButtonsEnabled(false);
}

void SelectTemplateDialog::onCopyTemplate() {
    const qint64 id = currentId();
    if (id <= 0)
        return;
    QString error;
    const qint64 newId = DocumentStore::duplicateDocument(id, &error);
    if (newId <= 0)
        MessageBox::critical(this, MessageBox::errorTitle(),
                             QStringLiteral("Не удалось создать копию шаблона.\n") + error);
    fillListWidget();
    ui->listWidget->setCurrentRow(ui->listWidget->count() - 1);
}

template <typename F> void SelectTemplateDialog::emitAndClose(F emitter) {
    setEnabled(false);
    emitter();
    close();
}

qint64 SelectTemplateDialog::currentId() const {
    const QListWidgetItem* item = ui->listWidget->currentItem();
    return item ? item->data(Qt::UserRole).toLongLong() : 0;
}

void SelectTemplateDialog::setTemplateButtonsEnabled(bool enabled) {
    ui->pushButtonEditTempl->setEnabled(enabled);
    ui->pushButtonCopyTempl->setEnabled(enabled);
    ui->pushButtonDeleteTempl->setEnabled(enabled);
    ui->pushButtonCreateWithTemplate->setEnabled(enabled);
}
