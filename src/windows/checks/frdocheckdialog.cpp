#include "frdocheckdialog.h"
#include "ui_frdocheckdialog.h"

#include "abstracteditdialog.h"
#include "mzlog.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QSet>

namespace {
const int idRole = Qt::UserRole;

// The problems in one line, those of one kind joined after their common head: "Не заполнено:
// Имя получателя, Пол получателя; Неверное контрольное число СНИЛС".
QString joinedProblems(const QStringList& texts) {
    QStringList heads, parts;
    for (const QString& text : texts) {
        const int colon = text.indexOf(QStringLiteral(": "));
        const QString head = colon > 0 ? text.left(colon) : text;
        const int at = colon > 0 ? heads.indexOf(head) : -1;
        if (at >= 0) {
            parts[at] += QStringLiteral(", ") + text.mid(colon + 2);
        } else {
            heads << (colon > 0 ? head : QString());
            parts << text;
        }
    }
    return parts.join(QStringLiteral("; "));
}
} // namespace

FrdoCheckDialog::FrdoCheckDialog(const QList<qint64>& ids, const QVector<FrdoCheck::FailingDocument>& failing,
                                 QWidget* parent)
    : QDialog(parent), ui(new Ui::FrdoCheckDialog), _ids(ids), _failing(failing) {
    ui->setupUi(this);
    QTreeWidget* tree = ui->treeWidgetDocuments;
    tree->header()->setStretchLastSection(true);
    tree->setUniformRowHeights(true);
    // Room for a long full name and a series/number, whatever the first rows hold.
    const QFontMetrics metrics(tree->font());
    tree->header()->resizeSection(0, metrics.horizontalAdvance(QStringLiteral("Александрова Екатерина Владимировна")) +
                                         16);
    tree->header()->resizeSection(1, metrics.horizontalAdvance(QStringLiteral("СВ 0000000")) + 16);
    connect(ui->treeWidgetDocuments, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (item)
            emit documentActivated(item->data(0, idRole).toLongLong());
    });
    showFailing();
}

FrdoCheckDialog::~FrdoCheckDialog() = default;

FrdoCheckDialog* FrdoCheckDialog::showList(const QList<qint64>& ids, QWidget* parent) {
    QVector<FrdoCheck::FailingDocument> failing;
    QString error;
    const bool checked = FrdoCheck::checkDocuments(ids, &failing, &error);
    auto* dialog = new FrdoCheckDialog(ids, failing, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->ui->pushButtonExportAll->hide();
    dialog->ui->pushButtonExportCorrect->hide();
    dialog->ui->pushButtonCancel->setText(QStringLiteral("Закрыть"));
    if (!checked) {
        MZ_LOG() << "FRDO check failed:" << error;
        dialog->ui->labelSummary->setText(QStringLiteral("Не удалось проверить документы: %1").arg(error));
    }
    dialog->show();
    return dialog;
}

QList<qint64> FrdoCheckDialog::idsToExport() const {
    if (_choice == Choice::All)
        return _ids;
    if (_choice == Choice::Cancel)
        return {};
    QSet<qint64> failingIds;
    for (const FrdoCheck::FailingDocument& document : _failing)
        failingIds.insert(document.id);
    QList<qint64> correct;
    for (qint64 id : _ids)
        if (!failingIds.contains(id))
            correct << id;
    return correct;
}

void FrdoCheckDialog::recheck() {
    QVector<FrdoCheck::FailingDocument> failing;
    QString error;
    if (!FrdoCheck::checkDocuments(_ids, &failing, &error)) {
        // The list stays as it was checked last; an export of "only the correct" ones stays on it.
        MZ_LOG() << "FRDO check failed:" << error;
        ui->labelSummary->setText(QStringLiteral("Не удалось проверить документы заново: %1").arg(error));
        return;
    }
    _failing = failing;
    showFailing();
}

void FrdoCheckDialog::showFailing() {
    // The row under the cursor stays chosen when it still fails.
    const qint64 current = ui->treeWidgetDocuments->currentItem()
                               ? ui->treeWidgetDocuments->currentItem()->data(0, idRole).toLongLong()
                               : 0;
    ui->treeWidgetDocuments->clear();
    for (const FrdoCheck::FailingDocument& document : _failing) {
        QStringList texts;
        for (const FrdoProblem& problem : document.problems)
            texts << problem.text;
        auto* item =
            new QTreeWidgetItem(ui->treeWidgetDocuments, {document.name, document.attNumber, joinedProblems(texts)});
        item->setData(0, idRole, document.id);
        item->setToolTip(2, texts.join(QLatin1Char('\n')));
        if (document.id == current)
            ui->treeWidgetDocuments->setCurrentItem(item);
    }
    ui->labelSummary->setText(QStringLiteral("Документов с ошибками: %1 из %2. Двойной щелчок открывает документ.")
                                  .arg(_failing.size())
                                  .arg(_ids.size()));
    ui->pushButtonExportCorrect->setEnabled(_failing.size() < _ids.size());
}

bool FrdoCheckDialog::closeDocuments() {
    for (AbstractEditDialog* document : findChildren<AbstractEditDialog*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!document->isVisible())
            continue;
        if (!document->maybeSave())
            return false;
        document->close();
    }
    return true;
}

void FrdoCheckDialog::finish(Choice choice) {
    // The export reads what is saved: an open document is saved or discarded first, as the user says.
    if (!closeDocuments())
        return;
    _choice = choice;
    if (choice == Choice::Cancel)
        reject();
    else
        accept();
}

void FrdoCheckDialog::reject() {
    if (!closeDocuments())
        return;
    _choice = Choice::Cancel;
    QDialog::reject();
}

void FrdoCheckDialog::on_pushButtonExportAll_clicked() {
    finish(Choice::All);
}

void FrdoCheckDialog::on_pushButtonExportCorrect_clicked() {
    finish(Choice::OnlyCorrect);
}

void FrdoCheckDialog::on_pushButtonCancel_clicked() {
    reject();
}
