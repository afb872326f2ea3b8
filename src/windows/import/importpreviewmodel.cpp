#include "importpreviewmodel.h"

#include "importrun.h"

#include <QBrush>
#include <QColor>

namespace {
// Always shown, whether a column gives them or not: what a clerk checks on every certificate.
const QVector<ImportField> alwaysShown = {ImportField::Surname,   ImportField::Name,      ImportField::Patronymic,
                                          ImportField::BirthDate, ImportField::Sex,       ImportField::Snils,
                                          ImportField::AttNumber, ImportField::RegNumber, ImportField::IssueDate};
} // namespace

ImportPreviewModel::ImportPreviewModel(QObject* parent) : QAbstractTableModel(parent), _fields(alwaysShown) {}

void ImportPreviewModel::setDocuments(const QVector<ImportDocument>& documents, const ImportOptions* options) {
    beginResetModel();
    _documents = documents;
    _options = options;
    _fields = alwaysShown;
    if (options) {
        // Any other field a column gives, in the fields' own order.
        for (int f = 0; f < ImportFields::documentFieldCount; ++f) {
            const auto field = ImportField(f);
            if (!_fields.contains(field) && options->columns.contains(field))
                _fields << field;
        }
    }
    endResetModel();
}

void ImportPreviewModel::refresh() {
    if (!_documents.isEmpty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

ImportField ImportPreviewModel::fieldAt(int column) const {
    const int i = column - FirstFieldColumn;
    return i >= 0 && i < _fields.size() ? _fields.at(i) : ImportField::Ignore;
}

int ImportPreviewModel::columnOf(ImportField field) const {
    const int i = _fields.indexOf(field);
    return i < 0 ? -1 : i + FirstFieldColumn;
}

int ImportPreviewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : _documents.size();
}

int ImportPreviewModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : FirstFieldColumn + _fields.size();
}

QColor ImportPreviewModel::problemColour() {
    return QColor(255, 170, 170);
}

QColor ImportPreviewModel::warningColour() {
    return QColor(255, 225, 140);
}

// The problems of the field, then its warnings.
QString ImportPreviewModel::problemsOf(const ImportDocument& document, ImportField field) {
    QStringList texts;
    for (const QVector<ImportProblem>* list : {&document.problems, &document.warnings})
        for (const ImportProblem& problem : *list)
            if (problem.field == field)
                texts << (problem.text.size() > 300 ? problem.text.left(300) + QChar(0x2026) : problem.text);
    return texts.join(QLatin1Char('\n'));
}

QVariant ImportPreviewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= _documents.size() || !_options)
        return QVariant();
    const ImportDocument& document = _documents.at(index.row());
    if (index.column() == IncludedColumn)
        return role == Qt::CheckStateRole ? QVariant(document.included ? Qt::Checked : Qt::Unchecked) : QVariant();
    if (index.column() == SourceRowColumn)
        return role == Qt::DisplayRole ? QVariant(document.sourceRow + 1) : QVariant();
    const ImportField field = fieldAt(index.column());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
        // A name of a megabyte would stall the painting of every row; the cell shows its start.
        const QString text = document.effectiveText(field, *_options);
        return role == Qt::DisplayRole && text.size() > 500 ? text.left(500) + QChar(0x2026) : text;
    }
    case Qt::ForegroundRole:
        return document.text(field).isNull() ? QVariant(QBrush(Qt::gray)) : QVariant();
    case Qt::BackgroundRole:
        if (!document.included)
            return QVariant();
        if (document.hasProblem(field))
            return QBrush(problemColour());
        return document.hasWarning(field) ? QVariant(QBrush(warningColour())) : QVariant();
    case Qt::ToolTipRole: {
        const QString problems = problemsOf(document, field);
        return problems.isEmpty() ? QVariant() : QVariant(problems);
    }
    default:
        return QVariant();
    }
}

QVariant ImportPreviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section == IncludedColumn)
        return QStringLiteral("Импорт");
    if (section == SourceRowColumn)
        return QStringLiteral("Строка");
    return ImportRun::columnTitle(fieldAt(section));
}

Qt::ItemFlags ImportPreviewModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == IncludedColumn)
        flags |= Qt::ItemIsUserCheckable;
    else if (index.column() >= FirstFieldColumn)
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool ImportPreviewModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.row() >= _documents.size())
        return false;
    ImportDocument& document = _documents[index.row()];
    if (index.column() == IncludedColumn && role == Qt::CheckStateRole) {
        document.included = value.toInt() == Qt::Checked;
    } else if (index.column() >= FirstFieldColumn && role == Qt::EditRole) {
        const ImportField field = fieldAt(index.column());
        if (int(field) < 0 || int(field) >= document.texts.size())
            return false;
        // An emptied cell gives the value back to the template or the numbering.
        const QString text = ImportPlan::cleanedText(value.toString());
        document.texts[int(field)] = text.isEmpty() ? QString() : text;
    } else {
        return false;
    }
    emit dataChanged(index.sibling(index.row(), 0), index.sibling(index.row(), columnCount() - 1));
    emit documentsEdited();
    return true;
}
