#include "historydialog.h"
#include "ui_historydialog.h"

#include "dialoggeometry.h"
#include "historytext.h"
#include "messagebox.h"

#include <QHeaderView>
#include <QTableWidgetItem>

namespace {
enum Column { When, Who, Action, What, Change, ColumnCount };

QTableWidgetItem* item(const QString& text) {
    auto* cell = new QTableWidgetItem(text);
    cell->setToolTip(text);
    return cell;
}
} // namespace

HistoryDialog::HistoryDialog(QWidget* parent) : QDialog(parent), ui(new Ui::HistoryDialog) {
    ui->setupUi(this);
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    QTableWidget* table = ui->tableWidgetHistory;
    table->setColumnCount(ColumnCount);
    table->setHorizontalHeaderLabels({QStringLiteral("Когда"), QStringLiteral("Кто"), QStringLiteral("Действие"),
                                      QStringLiteral("Что"), QStringLiteral("Было → стало")});
    const int widths[] = {150, 190, 150, 220};
    for (int c = 0; c < Change; ++c)
        table->setColumnWidth(c, widths[c]);
    DialogGeometry::restore(this);
    DialogGeometry::fitIntoScreen(this);
}

HistoryDialog::~HistoryDialog() {
    DialogGeometry::save(this);
}

bool HistoryDialog::load(qint64 profId, QString* error) {
    QVector<HistoryJournal::Entry> entries;
    if (!HistoryJournal::entriesOf(profId, &entries, error))
        return false;
    QString name;
    for (const HistoryJournal::Entry& entry : qAsConst(entries))
        if (!entry.docName.trimmed().isEmpty()) {
            name = entry.docName.trimmed();
            break;
        }
    ui->labelDocument->setText(name.isEmpty() ? QStringLiteral("Документ %1").arg(profId)
                                              : QStringLiteral("Документ %1: %2").arg(profId).arg(name));
    if (entries.isEmpty())
        ui->labelDocument->setText(ui->labelDocument->text() + QStringLiteral("\nИзменений не записано."));
    fill(entries);
    return true;
}

// An entry's when, who and what kind span its rows of changed values.
void HistoryDialog::fill(const QVector<HistoryJournal::Entry>& entries) {
    QTableWidget* table = ui->tableWidgetHistory;
    table->clearSpans();
    table->setRowCount(0);
    for (const HistoryJournal::Entry& entry : entries) {
        const QVector<HistoryText::Row> rows = HistoryText::rowsOf(entry);
        const int first = table->rowCount();
        table->setRowCount(first + rows.size());
        table->setItem(first, When, item(HistoryText::when(entry)));
        table->setItem(first, Who, item(HistoryText::who(entry)));
        table->setItem(first, Action, item(HistoryText::action(entry)));
        for (int r = 0; r < rows.size(); ++r) {
            table->setItem(first + r, What, item(rows.at(r).what));
            table->setItem(first + r, Change, item(rows.at(r).change));
        }
        if (rows.size() > 1)
            for (int c = When; c <= Action; ++c)
                table->setSpan(first, c, rows.size(), 1);
    }
    table->resizeRowsToContents();
}

HistoryDialog* HistoryDialog::open(qint64 profId, QWidget* parent) {
    auto* dialog = new HistoryDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QString error;
    if (!dialog->load(profId, &error)) {
        delete dialog;
        MessageBox::warning(parent, MessageBox::errorTitle(),
                            QStringLiteral("Не удалось прочитать историю изменений документа.\n%1").arg(error));
        return nullptr;
    }
    dialog->show();
    return dialog;
}
