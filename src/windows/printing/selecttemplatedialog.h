#pragma once

#include <QDialog>
#include <QScopedPointer>
#include <QString>

class QListWidgetItem;

namespace Ui {
class SelectTemplateDialog;
}

// Asked when a document is created: an empty document or one filled from a stored template, and
// the place where those templates are made, edited, copied and deleted.
class SelectTemplateDialog : public QDialog {
    Q_OBJECT

public:
    // Lists the registry's templates.
    explicit SelectTemplateDialog(QWidget* parent = nullptr);
    ~SelectTemplateDialog() override;

signals:
    // 0 asks for an empty document, any other id for a document made from that template.
    void sqlIdSelected(qint64 sqlId);
    void editTemplate(qint64 sqlId);
    void newTemplate();

public slots:
    void fillListWidget();
    void onItemDoubleClicked(QListWidgetItem* item);
    void onCurrentRowChanged(int currentRow);
    void onCreateEmpty();
    void onCreateWithTemplate();
    void onNewTemplate();
    void onEditTemplate();
    void onDeleteTemplate();
    void onCopyTemplate();

private:
    // Disables the dialog while `emitter` runs, then closes it.
    template <typename F> void emitAndClose(F emitter);
    qint64 currentId() const;
    void setTemplateButtonsEnabled(bool enabled);

    QScopedPointer<Ui::SelectTemplateDialog> ui;
};
