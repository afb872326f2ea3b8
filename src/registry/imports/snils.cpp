#include "snils.h"

#include <algorithm>

namespace {
// The first nine digits of the numbers issued before the check number was introduced end here.
constexpr int lastUncheckedNumber = 1001998;
} // namespace

QString Snils::digits(const QString& text) {
    QString result;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u >= '0' && u <= '9') {
            if (result.size() == 11)
                return QString();
            result.append(c);
        } else if (!c.isSpace() && c != QLatin1Char('-')) {
            return QString();
        }
    }
    return result.size() == 11 ? result : QString();
}

int Snils::checkNumber(const QString& nineDigits) {
    if (nineDigits.size() != 9)
        return -1;
    int sum = 0;
    for (int i = 0; i < 9; ++i) {
        const ushort u = nineDigits.at(i).unicode();
        if (u < '0' || u > '9')
            return -1;
        sum += (u - '0') * (9 - i);
    }
    if (sum < 100)
        return sum;
    if (sum <= 101)
        return 0;
    const int remainder = sum % 101;
    return remainder == 100 ? 0 : remainder;
}

QString Snils::written(const QString& digits) {
    return QStringLiteral("%1-%2-%3 %4").arg(digits.mid(0, 3), digits.mid(3, 3), digits.mid(6, 3), digits.mid(9));
}

bool Snils::isPlaceholder(const QString& text) {
    const QString number = digits(text);
    return !number.isEmpty() && std::all_of(number.cbegin(), number.cend(), [](QChar c) { return c == '0'; });
}

bool Snils::isValid(const QString& text) {
    const QString number = digits(text);
    if (number.isEmpty() || isPlaceholder(number))
        return false;
    const QString nine = number.left(9);
    if (nine.toInt() <= lastUncheckedNumber)
        return true;
    return checkNumber(nine) == number.right(2).toInt();
}
