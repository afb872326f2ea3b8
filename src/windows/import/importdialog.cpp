#include "importdialog.h"
#include "ui_importdialog.h"

#include "appkeys.h"
#include "dialoggeometry.h"
#include "documentstore.h"
#include "filedialog.h"
#include "frdocheck.h"
#include "importfielddelegate.h"
#include "importpreviewmodel.h"
#include "importrun.h"
#include "importsource.h"
#include "importstore.h"
#include "messagebox.h"
#include "mzlog.h"
#include "settingsregistry.h"
#include "tabletext.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QListWidgetItem>
#include <QProgressDialog>
#include <QStandardItemModel>
#include <QTimer>
#include <thread>

namespace {
const QString informationTitle = QStringLiteral("Информация");
// Above this many documents the write shows its progress and can be cancelled.
constexpr int progressThreshold = 200;
// Cells of a megabyte stay in the documents; the column table and the problem list show their start.
constexpr int shownTextLength = 200;

enum ColumnTableColumn { LetterColumn, HeaderColumn, SampleColumn, FieldColumn };

QString shortened(const QString& text) {
    return text.size() > shownTextLength ? text.left(shownTextLength) + QChar(0x2026) : text;
}

// "A".."Z", "AA".., as a spreadsheet names its columns.
QString columnLetters(int column) {
    QString letters;
    for (int n = column + 1; n > 0; n = (n - 1) / 26)
        letters.prepend(QChar('A' + (n - 1) % 26));
    return letters;
}
} // namespace

ImportDialog::ImportDialog(QWidget* parent)
    : QDialog(parent), ui(new Ui::ImportDialog), _preview(new ImportPreviewModel(this)),
      _columns(new QStandardItemModel(0, 4, this)) {
    _filling = true;
    ui->setupUi(this);
    _columns->setHorizontalHeaderLabels({QStringLiteral("Столбец"), QStringLiteral("Заголовок"),
                                         QStringLiteral("Пример"), QStringLiteral("Поле документа")});
    ui->tableViewColumns->setModel(_columns);
    ui->tableViewColumns->setItemDelegateForColumn(FieldColumn, new ImportFieldDelegate(ui->tableViewColumns));
    ui->tableViewColumns->setEditTriggers(QAbstractItemView::AllEditTriggers);
    ui->tableViewColumns->verticalHeader()->hide();
    ui->tableViewColumns->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    ui->tableViewColumns->horizontalHeader()->setStretchLastSection(true);
    ui->tableViewColumns->setColumnWidth(LetterColumn, 70);
    ui->tableViewColumns->setColumnWidth(HeaderColumn, 160);
    ui->tableViewColumns->setColumnWidth(SampleColumn, 160);
    connect(_columns, &QStandardItemModel::itemChanged, this, [this](QStandardItem* item) {
        if (!_filling && item->column() == FieldColumn)
            onColumnChoiceChanged(item->row(), ImportField(item->data(Qt::UserRole).toInt()));
    });

    // No widget per cell and fixed row heights: the preview stays quick with 100,000 rows.
    ui->tableViewPreview->setModel(_preview);
    ui->tableViewPreview->setWordWrap(false);
    ui->tableViewPreview->verticalHeader()->hide();
    ui->tableViewPreview->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ui->tableViewPreview->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    ui->tableViewPreview->horizontalHeader()->setResizeContentsPrecision(50);
    connect(_preview, &ImportPreviewModel::documentsEdited, this, &ImportDialog::recheck);

    connect(ui->lineEditFirstAttNumber, &QLineEdit::textChanged, this, [this](const QString& text) {
        _options.firstAttNumber = text.trimmed();
        recheck();
    });
    connect(ui->lineEditFirstRegNumber, &QLineEdit::textChanged, this, [this](const QString& text) {
        _options.firstRegNumber = text.trimmed();
        recheck();
    });
    fillTemplates();
    _filling = false;
    on_comboBoxTemplate_currentIndexChanged(ui->comboBoxTemplate->currentIndex());
    showProblems();
    DialogGeometry::restore(this);
}

ImportDialog::~ImportDialog() = default;

void ImportDialog::done(int result) {
    // Closing while a read or a write runs stops it; the window goes once that work has returned,
    // never from inside the method that waits for it.
    if (_busy) {
        _closeWhenIdle = true;
        _stop = true;
        return;
    }
    DialogGeometry::save(this);
    QDialog::done(result);
}

void ImportDialog::endBusy() {
    _busy = false;
    if (_closeWhenIdle)
        QMetaObject::invokeMethod(
            this, [this] { done(QDialog::Rejected); }, Qt::QueuedConnection);
}

void ImportDialog::showError(const QString& text) {
    MessageBox::critical(this, MessageBox::errorTitle(), text);
}

// --- sources -------------------------------------------------------------------------------------

void ImportDialog::fillTemplates() {
    ui->comboBoxTemplate->addItem(QStringLiteral("Без шаблона"), qint64(0));
    QVector<DocumentStore::TemplateEntry> templates;
    QString error;
    if (!DocumentStore::templates(&templates, &error))
        MZ_LOG() << "templates not read:" << error;
    const qint64 last = SettingsRegistry::instance()->value(Keys::importTemplateId).toLongLong();
    for (const DocumentStore::TemplateEntry& entry : templates) {
        ui->comboBoxTemplate->addItem(entry.name, entry.id);
        if (entry.id == last)
            ui->comboBoxTemplate->setCurrentIndex(ui->comboBoxTemplate->count() - 1);
    }
}

void ImportDialog::on_pushButtonOpenFile_clicked() {
    if (_busy)
        return;
    const QString folder = SettingsRegistry::instance()->value(Keys::importLastFolder).toString();
    const QString path = FileDialog::getOpenFileName(this, QStringLiteral("Открыть таблицу"), folder,
                                                     QStringLiteral("Таблицы (*.xlsx *.xls *.ods *.csv *.txt);;Все файлы (*)"));
    if (path.isEmpty())
        return;
    SettingsRegistry::instance()->setValue(Keys::importLastFolder, QFileInfo(path).absolutePath());
    loadFile(path);
}

void ImportDialog::on_pushButtonPaste_clicked() {
    if (_busy)
        return;
    loadClipboardText(QGuiApplication::clipboard()->text());
}

bool ImportDialog::readInBackground(const QString& label, const Reader& read, ImportTable* table, QString* error) {
    QProgressDialog progress(label, QStringLiteral("Отмена"), 0, 100, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(400);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    _busy = true;
    _stop = false;
    std::atomic_int percent{0};
    std::atomic_bool finished{false};
    bool result = false;
    QEventLoop loop;
    // "Отмена", or Escape, which only rejects the progress box.
    connect(&progress, &QProgressDialog::canceled, &loop, [this] { _stop = true; });
    connect(&progress, &QDialog::rejected, &loop, [this] { _stop = true; });
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (progress.wasCanceled())
            _stop = true;
        else
            progress.setValue(percent);
    });
    poll.start(100);
    // The worker touches only its own table and reason until it has finished.
    std::thread worker([&] {
        result = read(table, error, [&](int value) {
            percent = value;
            return !_stop;
        });
        finished = true;
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    // Input still reaches the window, so that it can be closed; what would start another read or
    // a write waits for this one.
    loop.exec();
    // The loop ends early only when the application quits: the reader is stopped, not waited for.
    if (!finished)
        _stop = true;
    worker.join();
    poll.stop();
    const bool stopped = _stop;
    endBusy();
    if (!stopped)
        return result;
    // The user stopped: nothing to tell.
    error->clear();
    return false;
}

bool ImportDialog::loadFile(const QString& path) {
    if (_busy)
        return false;
    const QString fileName = QFileInfo(path).fileName();
    ImportTable table;
    QString error;
    // The window keeps its previous source until the new one reads.
    QScopedPointer<ImportSource> source(new ImportSource);
    ImportSource* reader = source.data();
    const bool read = readInBackground(
        QStringLiteral("Чтение файла…"),
        [reader, path](ImportTable* t, QString* e, const std::function<bool(int)>& progress) {
            // A workbook's sheet list and strings take the first half of the bar, its sheet the rest.
            if (!reader->open(path, e, [&progress](int percent) { return progress(percent / 2); }))
                return false;
            const int base = reader->kind() == ImportSource::Kind::Text ? 0 : 50;
            const int share = 100 - base;
            return reader->readSheet(
                0, t, e, [&progress, base, share](int percent) { return progress(base + percent * share / 100); });
        },
        &table, &error);
    if (read) {
        _workbook.reset(source.take());
        const QSignalBlocker block(ui->comboBoxSheet);
        ui->comboBoxSheet->clear();
        ui->comboBoxSheet->addItems(_workbook->sheetNames());
        _sheetIndex = 0;
        ui->comboBoxSheet->setEnabled(ui->comboBoxSheet->count() > 1);
    }
    if (!read) {
        MZ_LOG() << "import source not read:" << path << error;
        if (!error.isEmpty())
            showError(QStringLiteral("Не удалось прочитать файл %1:\n%2").arg(fileName, error));
        return false;
    }
    setTable(table, fileName);
    return true;
}

bool ImportDialog::loadClipboardText(const QString& text) {
    if (_busy)
        return false;
    ImportTable table;
    QString error;
    if (!readInBackground(
            QStringLiteral("Чтение таблицы…"),
            [&text](ImportTable* t, QString* e, const std::function<bool(int)>& progress) {
                return TableText::fromClipboard(text, t, e, progress);
            },
            &table, &error)) {
        if (!error.isEmpty())
            showError(QStringLiteral("Не удалось прочитать строки из буфера обмена:\n%1").arg(error));
        return false;
    }
    _workbook.reset();
    ui->comboBoxSheet->clear();
    ui->comboBoxSheet->setEnabled(false);
    setTable(table, QStringLiteral("Буфер обмена"));
    return true;
}

void ImportDialog::on_comboBoxSheet_activated(int index) {
    ImportTable table;
    QString error;
    ImportSource* reader = _workbook.data();
    const bool read = reader && !reader->sheetNames().isEmpty() && !_busy &&
                      readInBackground(
                          QStringLiteral("Чтение книги…"),
                          [reader, index](ImportTable* t, QString* e, const std::function<bool(int)>& progress) {
                              return reader->readSheet(index, t, e, progress);
                          },
                          &table, &error);
    if (!read) {
        if (!error.isEmpty())
            showError(
                QStringLiteral("Не удалось прочитать лист %1:\n%2").arg(ui->comboBoxSheet->itemText(index), error));
        // The choice shows the sheet whose table the window still holds.
        const QSignalBlocker block(ui->comboBoxSheet);
        ui->comboBoxSheet->setCurrentIndex(_sheetIndex);
        return;
    }
    _sheetIndex = index;
    setTable(table, _sourceName);
}

void ImportDialog::setTable(const ImportTable& table, const QString& sourceName) {
    _table = table;
    _sourceName = sourceName;
    _options.headerRow = ImportPlan::findHeaderRow(_table, nullptr);
    {
        const QSignalBlocker block(ui->spinBoxHeaderRow);
        ui->spinBoxHeaderRow->setMaximum(qMax(1, int(_table.rows.size())));
        ui->spinBoxHeaderRow->setValue(_options.headerRow + 1);
    }
    chooseColumns();
    fillColumnTable();
    rebuild();
    showSource();
}

void ImportDialog::showSource() {
    QString text = QStringLiteral("%1: прочитано строк: %2").arg(_sourceName).arg(_table.rows.size());
    if (!_table.notice.isEmpty())
        text += QLatin1Char('\n') + _table.notice;
    ui->labelSource->setText(text);
}

// --- columns -------------------------------------------------------------------------------------

QHash<QString, QString> ImportDialog::rememberedByHeader() const {
    QHash<QString, QString> remembered;
    const QStringList entries = SettingsRegistry::instance()->value(Keys::importColumns).toStringList();
    for (const QString& entry : entries) {
        const int at = entry.lastIndexOf(QLatin1Char('='));
        if (at > 0)
            remembered.insert(entry.left(at), entry.mid(at + 1));
    }
    return remembered;
}

void ImportDialog::chooseColumns() {
    if (_options.headerRow >= 0) {
        _options.columns = ImportRun::columnsOf(_table, _options.headerRow, rememberedByHeader());
        return;
    }
    const int count = _table.columnCount();
    _options.columns = QVector<ImportField>(count, ImportField::Ignore);
    const QStringList byPosition = SettingsRegistry::instance()->value(Keys::importColumnsByPosition).toStringList();
    for (int column = 0; column < count && column < byPosition.size(); ++column)
        _options.columns[column] = ImportFields::fromKey(byPosition.at(column));
}

void ImportDialog::fillColumnTable() {
    _filling = true;
    _columns->setRowCount(0);
    int sampleRow = _options.headerRow + 1;
    while (sampleRow < _table.rows.size() && _table.isBlankRow(sampleRow))
        ++sampleRow;
    for (int column = 0; column < _options.columns.size(); ++column) {
        QList<QStandardItem*> cells{
            new QStandardItem(columnLetters(column)),
            new QStandardItem(_options.headerRow < 0
                                  ? QString()
                                  : shortened(ImportPlan::headerText(_table, _options.headerRow, column))),
            new QStandardItem(shortened(_table.text(sampleRow, column))), new QStandardItem};
        for (int i = 0; i < FieldColumn; ++i)
            cells.at(i)->setEditable(false);
        const ImportField field = _options.columns.at(column);
        cells.last()->setData(int(field), Qt::UserRole);
        cells.last()->setText(ImportFieldDelegate::choiceTitle(int(field)));
        _columns->appendRow(cells);
    }
    _filling = false;
}

void ImportDialog::onColumnChoiceChanged(int column, ImportField field) {
    if (column < 0 || column >= _options.columns.size())
        return;
    _filling = true;
    // A field chosen again leaves the column that had it.
    if (field != ImportField::Ignore) {
        for (int other = 0; other < _options.columns.size(); ++other) {
            if (other == column || _options.columns.at(other) != field)
                continue;
            _options.columns[other] = ImportField::Ignore;
            _columns->item(other, FieldColumn)->setData(int(ImportField::Ignore), Qt::UserRole);
            _columns->item(other, FieldColumn)->setText(ImportFieldDelegate::ignoreTitle());
            rememberChoice(other, ImportField::Ignore);
        }
    }
    _options.columns[column] = field;
    _columns->item(column, FieldColumn)->setText(ImportFieldDelegate::choiceTitle(int(field)));
    _filling = false;
    rememberChoice(column, field);
    rebuild();
}

void ImportDialog::rememberChoice(int column, ImportField field) {
    SettingsRegistry* settings = SettingsRegistry::instance();
    const QString header =
        _options.headerRow < 0 ? QString() : ImportPlan::headerText(_table, _options.headerRow, column);
    const QString key = ImportFields::normalisedHeader(header);
    if (key.isEmpty()) {
        QStringList byPosition = settings->value(Keys::importColumnsByPosition).toStringList();
        while (byPosition.size() <= column)
            byPosition << QString();
        byPosition[column] = ImportFields::key(field);
        settings->setValue(Keys::importColumnsByPosition, byPosition);
        return;
    }
    QHash<QString, QString> remembered = rememberedByHeader();
    // What the header names anyway needs no memory.
    if (field == ImportFields::fromHeader(header))
        remembered.remove(key);
    else
        remembered.insert(key, ImportFields::key(field));
    QStringList entries;
    for (auto it = remembered.cbegin(); it != remembered.cend(); ++it)
        entries << it.key() + QLatin1Char('=') + it.value();
    entries.sort();
    settings->setValue(Keys::importColumns, entries);
}

void ImportDialog::on_spinBoxHeaderRow_valueChanged(int value) {
    if (_filling)
        return;
    _options.headerRow = value - 1;
    chooseColumns();
    fillColumnTable();
    rebuild();
}

void ImportDialog::on_comboBoxTemplate_currentIndexChanged(int index) {
    if (_filling)
        return;
    const qint64 id = ui->comboBoxTemplate->itemData(index).toLongLong();
    QVariantMap row;
    QString error;
    if (id > 0 && !ImportStore::templateRow(id, &row, &error)) {
        MZ_LOG() << "template not read:" << id << error;
        showError(QStringLiteral("Не удалось прочитать шаблон:\n%1").arg(error));
        const QSignalBlocker block(ui->comboBoxTemplate);
        ui->comboBoxTemplate->setCurrentIndex(0);
        row.clear();
    }
    _templateId = row.isEmpty() ? 0 : id;
    _options.templateRow = row;
    SettingsRegistry::instance()->setValue(Keys::importTemplateId, _templateId);
    recheck();
}

// --- preview -------------------------------------------------------------------------------------

void ImportDialog::rebuild() {
    QElapsedTimer timer;
    timer.start();
    ImportRun::Unread unread;
    const QVector<ImportDocument> documents = _run.build(_table, _options, &unread);
    tellUnread(unread);
    _preview->setDocuments(documents, &_options);
    ui->tableViewPreview->resizeColumnsToContents();
    showProblems();
    MZ_LOG() << "import preview of" << documents.size() << "documents built in" << timer.elapsed() << "ms";
}

void ImportDialog::recheck() {
    if (_preview->rowCount() == 0) {
        showProblems();
        return;
    }
    ImportRun::Unread unread;
    _run.check(_preview->documents(), _options, &unread);
    tellUnread(unread);
    _preview->refresh();
    showProblems();
}

void ImportDialog::showProblems() {
    QListWidget* list = ui->listWidgetProblems;
    list->setUpdatesEnabled(false);
    list->clear();
    const QVector<ImportDocument>& documents = _preview->documentList();
    for (int row = 0; row < documents.size(); ++row) {
        const ImportDocument& document = documents.at(row);
        if (!document.included)
            continue;
        for (const ImportProblem& problem : document.problems) {
            auto* item = new QListWidgetItem(
                QStringLiteral("Строка %1: %2").arg(document.sourceRow + 1).arg(shortened(problem.text)), list);
            item->setData(Qt::UserRole, row);
            item->setData(Qt::UserRole + 1, int(problem.field));
        }
        listWarnings(document, row);
    }
    list->setUpdatesEnabled(true);
    ui->labelSummary->setText(summaryText());
}

// --- people and registration numbers the registry holds ------------------------------------------

void ImportDialog::tellUnread(const ImportRun::Unread& unread) {
    if (!unread.takenNumbers.isEmpty()) {
        MZ_LOG() << "registry numbers not read:" << unread.takenNumbers;
        showError(QStringLiteral("Не удалось прочитать номера документов реестра:\n%1").arg(unread.takenNumbers));
    }
    if (!unread.registry.isEmpty()) {
        MZ_LOG() << "registry people not read:" << unread.registry;
        // Told once; the clerk may still import without these checks.
        if (!_registryFailed)
            showError(QStringLiteral("Не удалось прочитать документы реестра для проверки:\n%1").arg(unread.registry));
        _registryFailed = true;
    }
}

void ImportDialog::listWarnings(const ImportDocument& document, int row) {
    for (const ImportProblem& warning : document.warnings) {
        auto* item = new QListWidgetItem(
            QStringLiteral("Строка %1: %2").arg(document.sourceRow + 1).arg(shortened(warning.text)),
            ui->listWidgetProblems);
        item->setData(Qt::UserRole, row);
        item->setData(Qt::UserRole + 1, int(warning.field));
        item->setBackground(ImportPreviewModel::warningColour());
    }
}

QString ImportDialog::summaryText() const {
    const QVector<ImportDocument>& documents = _preview->documentList();
    return QStringLiteral("Документов к импорту: %1, с ошибками: %2, предупреждений: %3")
        .arg(ImportPlan::includedCount(documents))
        .arg(ImportPlan::problemCount(documents))
        .arg(ImportPlan::warningCount(documents));
}

bool ImportDialog::confirmWarnings() {
    const int withWarnings = ImportPlan::warningCount(_preview->documentList());
    if (withWarnings == 0)
        return true;
    return MessageBox::question(this, MessageBox::attentionTitle(),
                                QStringLiteral("У %1 документов есть предупреждения (они в списке под таблицей): тот же "
                                               "человек в файле или в реестре, ФИО, которое стоит проверить.\n"
                                               "Импортировать их всё равно?")
                                    .arg(withWarnings),
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void ImportDialog::on_listWidgetProblems_itemDoubleClicked(QListWidgetItem* item) {
    const int row = item->data(Qt::UserRole).toInt();
    int column = _preview->columnOf(ImportField(item->data(Qt::UserRole + 1).toInt()));
    if (column < 0)
        column = ImportPreviewModel::SourceRowColumn;
    const QModelIndex index = _preview->index(row, column);
    ui->tableViewPreview->setCurrentIndex(index);
    ui->tableViewPreview->scrollTo(index);
    ui->tableViewPreview->setFocus();
}

// --- import --------------------------------------------------------------------------------------

void ImportDialog::on_pushButtonImport_clicked() {
    importDocuments();
}

void ImportDialog::on_pushButtonClose_clicked() {
    reject();
}

void ImportDialog::importDocuments() {
    if (_busy)
        return;
    const QVector<ImportDocument>& documents = _preview->documentList();
    if (ImportPlan::includedCount(documents) == 0) {
        MessageBox::information(this, informationTitle, QStringLiteral("Нет документов для импорта."));
        return;
    }
    const int withProblems = ImportPlan::problemCount(documents);
    if (withProblems > 0) {
        MessageBox::warning(this, MessageBox::attentionTitle(),
                            QStringLiteral("В %1 документах есть ошибки. Исправьте их или снимите отметку "
                                           "«Импорт» у этих строк.")
                                .arg(withProblems));
        return;
    }
    if (!confirmWarnings())
        return;
    const int recordCount = ImportPlan::includedCount(documents);
    QScopedPointer<QProgressDialog> progress;
    std::function<bool(int, int)> report;
    _busy = true;
    _stop = false;
    if (recordCount > progressThreshold) {
        progress.reset(
            new QProgressDialog(QStringLiteral("Импорт документов…"), QStringLiteral("Отмена"), 0, recordCount, this));
        progress->setWindowModality(Qt::WindowModal);
        progress->setMinimumDuration(0);
        progress->setAutoReset(false);
        connect(progress.data(), &QDialog::rejected, this, [this] { _stop = true; });
        report = [this, &progress](int done, int total) {
            progress->setMaximum(total);
            progress->setValue(done);
            QCoreApplication::processEvents();
            return !progress->wasCanceled() && !_stop;
        };
    }
    QList<qint64> ids;
    QString error;
    bool cancelled = false;
    QStringList taken;
    const bool written =
        ImportRun::write(documents, _options, _templateId, &ids, &error, report, &cancelled, &taken, _sourceName);
    progress.reset();
    if (!written) {
        if (cancelled) {
            MessageBox::information(this, informationTitle, QStringLiteral("Импорт отменён. Реестр не изменён."));
        } else if (!taken.isEmpty()) {
            MZ_LOG() << "import refused, numbers taken meanwhile:" << taken;
            // The preview marks them as it marks any number the registry holds.
            _run.addTaken(taken);
            recheck();
            MessageBox::warning(this, MessageBox::attentionTitle(),
                                QStringLiteral("Документы не импортированы: пока окно было открыто, в реестре "
                                               "сохранены документы с номерами: %1.\nЭти строки отмечены в списке "
                                               "ошибок. Реестр не изменён.")
                                    .arg(shortened(taken.join(QStringLiteral(", ")))));
        } else {
            MZ_LOG() << "import failed:" << error;
            showError(QStringLiteral("Документы не импортированы: %1\nРеестр не изменён.").arg(error));
        }
        endBusy();
        return;
    }
    MZ_LOG() << "imported" << ids.size() << "documents";
    emit documentsImported(ids);
    // The window closes after its box, whatever was asked meanwhile.
    reportImported(ids);
}

void ImportDialog::reportImported(const QList<qint64>& ids) {
    QString text = QStringLiteral("Импортировано документов: %1.").arg(ids.size());
    QVector<FrdoCheck::FailingDocument> failing;
    QString error;
    bool open = false;
    if (!FrdoCheck::checkDocuments(ids, &failing, &error)) {
        MZ_LOG() << "FRDO check of the imported documents failed:" << error;
        MessageBox::information(this, informationTitle,
                                text + QStringLiteral("\nНе удалось проверить их данные ФРДО.\n%1").arg(error));
    } else if (failing.isEmpty()) {
        MessageBox::information(this, informationTitle,
                                text + QStringLiteral("\nВсе они проходят проверку данных ФРДО."));
    } else {
        text += QStringLiteral("\nНе пройдут проверку данных ФРДО: %1 из %2.\n\nОткрыть список документов с "
                               "ошибками?")
                    .arg(failing.size())
                    .arg(ids.size());
        open = MessageBox::question(this, informationTitle, text) == QMessageBox::Yes;
    }
    _busy = false;
    _closeWhenIdle = false;
    accept();
    if (open)
        emit frdoCheckWanted(ids);
}
