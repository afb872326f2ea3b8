#include "importtable.h"

#include <QDate>
#include <QLocale>
#include <algorithm>
#include <cmath>

QString ImportTable::stoppedText() {
    return QStringLiteral("Чтение прервано.");
}

QString ImportTable::tooLargeText() {
    return QStringLiteral("Файл слишком большой для импорта (больше %1 МБ).").arg(maxBytes / (1024 * 1024));
}

QString ImportTable::rowsNotice() {
    return QStringLiteral("Прочитаны только первые %1 строк.").arg(maxRows);
}

QString ImportTable::columnsNotice() {
    return QStringLiteral("Прочитаны только первые %1 столбцов.").arg(maxColumns);
}

QString ImportTable::cellsNotice(int rows) {
    return QStringLiteral("Прочитаны только первые %1 строк: в таблице больше %2 ячеек.").arg(rows).arg(maxCells);
}

QString ImportTable::joinNotices(const QStringList& notices) {
    QStringList given;
    for (const QString& notice : notices)
        if (!notice.isEmpty())
            given << notice;
    return given.join(QLatin1Char(' '));
}

int ImportTable::columnCount() const {
    int count = 0;
    for (const QVector<QVariant>& row : rows)
        count = std::max(count, int(row.size()));
    return count;
}

QString ImportTable::text(int row, int column) const {
    if (row < 0 || row >= rows.size() || column < 0 || column >= rows.at(row).size())
        return QString();
    const QVariant& cell = rows.at(row).at(column);
    switch (int(cell.type())) {
    case QMetaType::Double: {
        const double number = cell.toDouble();
        // Whole numbers (day numbers, counts, numbers of blanks) without ".0" or an exponent.
        if (std::isfinite(number) && number == std::floor(number) && std::fabs(number) < 1e15)
            return QString::number(qint64(number));
        return QLocale::c().toString(number, 'g', 15);
    }
    case QMetaType::QDate:
        return cell.toDate().toString(QStringLiteral("dd.MM.yyyy"));
    case QMetaType::Bool:
        return cell.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    default:
        return cell.toString();
    }
}

bool ImportTable::isBlankRow(int row) const {
    if (row < 0 || row >= rows.size())
        return true;
    for (int column = 0; column < rows.at(row).size(); ++column)
        if (!text(row, column).trimmed().isEmpty())
            return false;
    return true;
}
