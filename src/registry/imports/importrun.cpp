#include "importrun.h"

#include "importstore.h"

QVector<ImportField> ImportRun::columnsOf(const ImportTable& table, int headerRow,
                                          const QHash<QString, QString>& remembered) {
    const int count = table.columnCount();
    QVector<ImportField> columns(count, ImportField::Ignore);
    if (headerRow < 0)
        return columns;
    QSet<int> taken;
    for (int column = 0; column < count; ++column) {
        const QString header = ImportPlan::headerText(table, headerRow, column);
        const QString key = ImportFields::normalisedHeader(header);
        const ImportField field = key.isEmpty() || !remembered.contains(key)
                                      ? ImportFields::fromHeader(header)
                                      : ImportFields::fromKey(remembered.value(key));
        if (field == ImportField::Ignore || taken.contains(int(field)))
            continue;
        taken.insert(int(field));
        columns[column] = field;
    }
    return columns;
}

QString ImportRun::columnTitle(ImportField field) {
    switch (field) {
    case ImportField::AttNumber:
        return QStringLiteral("Серия/номер");
    case ImportField::RegNumber:
        return QStringLiteral("Рег. номер");
    default:
        return ImportFields::title(field);
    }
}

QVector<ImportDocument> ImportRun::build(const ImportTable& table, const ImportOptions& options, Unread* unread) {
    QVector<ImportDocument> documents = ImportPlan::documents(table, options);
    check(&documents, options, unread);
    return documents;
}

void ImportRun::check(QVector<ImportDocument>* documents, const ImportOptions& options, Unread* unread) {
    *unread = Unread();
    ImportPlan::number(documents, options);
    ImportPlan::check(documents, options, takenNumbers(unread));
    // A registry that cannot be read leaves the checks among the documents themselves.
    if (_registry.update(*documents, options, &unread->registry))
        ImportPlan::checkAgainstRegistry(documents, options, _registry.matches());
    else if (unread->registry.isEmpty())
        unread->registry = QStringLiteral("реестр не прочитан");
}

void ImportRun::addTaken(const QStringList& numbers) {
    _taken.unite(QSet<QString>(numbers.cbegin(), numbers.cend()));
}

const QSet<QString>& ImportRun::takenNumbers(Unread* unread) {
    if (!_takenRead) {
        _takenRead = true;
        if (!ImportStore::takenNumbers(&_taken, &unread->takenNumbers) && unread->takenNumbers.isEmpty())
            unread->takenNumbers = QStringLiteral("номера не прочитаны");
    }
    return _taken;
}

bool ImportRun::write(const QVector<ImportDocument>& documents, const ImportOptions& options, qint64 templateId,
                      QList<qint64>* ids, QString* error, const std::function<bool(int, int)>& progress,
                      bool* cancelled, QStringList* taken, const QString& source) {
    return ImportStore::write(ImportPlan::records(documents, options), templateId, ids, error, progress, cancelled,
                              taken, source);
}
