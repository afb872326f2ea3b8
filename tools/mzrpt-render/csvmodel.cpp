#include "csvmodel.h"

#include <QFile>
#include <QTextCodec>

namespace {
struct Record {
    QStringList fields;
    int line = 0;
    bool blank = false; // a line with nothing on it
};

// Splits CSV text into records; returns an error text or an empty string.
QString splitRecords(const QString& text, QList<Record>* records) {
    Record record;
    QString field;
    bool quoted = false;     // inside a quoted field
    bool wasQuoted = false;  // the current field was quoted
    bool afterQuote = false; // a quoted field just closed
    int line = 1;
    record.line = 1;
    const auto endField = [&] {
        record.fields.append(field);
        field.clear();
        wasQuoted = afterQuote = false;
    };
    const auto endRecord = [&] {
        record.blank = record.fields.isEmpty() && field.isEmpty() && !wasQuoted;
        endField();
        records->append(record);
        record = Record();
        record.line = line;
    };
    for (int i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (quoted) {
            if (ch == QLatin1Char('"')) {
                if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                    field += ch;
                    ++i;
                } else {
                    quoted = false;
                    afterQuote = true;
                }
            } else {
                if (ch == QLatin1Char('\n'))
                    ++line;
                field += ch;
            }
            continue;
        }
        if (ch == QLatin1Char(',')) {
            endField();
        } else if (ch == QLatin1Char('\n') || ch == QLatin1Char('\r')) {
            if (ch == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            ++line;
            endRecord();
        } else if (afterQuote) {
            return QStringLiteral("line %1: unexpected text after a closing quote").arg(line);
        } else if (ch == QLatin1Char('"') && field.isEmpty()) {
            quoted = wasQuoted = true;
        } else {
            field += ch;
        }
    }
    if (quoted)
        return QStringLiteral("line %1: a quoted field is not closed").arg(record.line);
    if (!record.fields.isEmpty() || !field.isEmpty() || wasQuoted)
        endRecord();
    return QString();
}
} // namespace

CsvModel::CsvModel(QObject* parent) : QAbstractTableModel(parent) {}

QString CsvModel::load(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    return parse(file.readAll());
}

QString CsvModel::parse(const QByteArray& bytes) {
    QTextCodec::ConverterState state;
    QString text = QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars > 0)
        return QStringLiteral("not UTF-8 text");
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QList<Record> records;
    const QString error = splitRecords(text, &records);
    if (!error.isEmpty())
        return error;
    // Blank lines separate nothing in a table.
    for (int i = records.size() - 1; i >= 0; --i) {
        if (records.at(i).blank)
            records.removeAt(i);
    }
    if (records.isEmpty())
        return QStringLiteral("no header row");

    QList<QStringList> rows;
    const QStringList header = records.first().fields;
    for (int i = 1; i < records.size(); ++i) {
        QStringList fields = records.at(i).fields;
        if (fields.size() > header.size())
            return QStringLiteral("line %1: %2 fields, the header has %3")
                .arg(records.at(i).line)
                .arg(fields.size())
                .arg(header.size());
        // Trailing empty fields are often left out.
        while (fields.size() < header.size())
            fields.append(QString());
        rows.append(fields);
    }
    beginResetModel();
    _header = header;
    _rows = rows;
    endResetModel();
    return QString();
}

int CsvModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : _rows.size();
}

int CsvModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : _header.size();
}

QVariant CsvModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return QVariant();
    return _rows.value(index.row()).value(index.column());
}

QVariant CsvModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Horizontal)
        return _header.value(section);
    return section + 1;
}

Qt::ItemFlags CsvModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}
