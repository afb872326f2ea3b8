#include "numbersequence.h"

namespace {
bool isDigit(QChar c) {
    return c.unicode() >= '0' && c.unicode() <= '9';
}
} // namespace

QString NumberSequence::nth(const QString& first, int steps) {
    int end = first.size();
    while (end > 0 && !isDigit(first.at(end - 1)))
        --end;
    if (end == 0)
        return QString();
    int begin = end;
    while (begin > 0 && isDigit(first.at(begin - 1)))
        --begin;
    // Added digit by digit: a number of any length counts up without overflowing.
    QString run = first.mid(begin, end - begin);
    qint64 carry = qMax(steps, 0);
    for (int i = run.size() - 1; i >= 0 && carry > 0; --i) {
        const qint64 sum = (run.at(i).unicode() - '0') + carry;
        run[i] = QLatin1Char(char('0' + sum % 10));
        carry = sum / 10;
    }
    if (carry > 0)
        run.prepend(QString::number(carry));
    return first.left(begin) + run + first.mid(end);
}

bool NumberSequence::hasDigits(const QString& text) {
    for (const QChar c : text)
        if (isDigit(c))
            return true;
    return false;
}
