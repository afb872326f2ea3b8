#include "documentfilter.h"

#include "appkeys.h"
#include "valuetext.h"
#include "textmatch.h"

DocumentFilter::DocumentFilter(const FilterListType& filters) {
    for (const auto& entry : filters) {
        const QVariant& value = entry.second;
        if (!value.isValid())
            continue;
        const QString& key = entry.first;
        if (key == FilterKeys::fio)
            _fio = value.toString().trimmed();
        else if (key == FilterKeys::qual)
            _qual = value.toString().trimmed();
        else if (key == FilterKeys::dateFrom)
            _dateFrom = value.toDate();
        else if (key == FilterKeys::dateTo)
            _dateTo = value.toDate();
        else if (key == FilterKeys::editDateFrom)
            _editDateFrom = value.toDate();
        else if (key == FilterKeys::editDateTo)
            _editDateTo = value.toDate();
    }
    // A range applies only when both of its ends are set.
    _issueRange = _dateFrom.isValid() && _dateTo.isValid();
    _editRange = _editDateFrom.isValid() && _editDateTo.isValid();
    _issueFrom = _dateFrom.toJulianDay();
    _issueTo = _dateTo.toJulianDay();
    _editFrom = _editDateFrom.toJulianDay();
    _editTo = _editDateTo.toJulianDay();
}

bool DocumentFilter::isEmpty() const {
    return _fio.isEmpty() && _qual.isEmpty() && !_issueRange && !_editRange;
}

bool DocumentFilter::acceptsFio(const QString& fio) const {
    return _fio.isEmpty() || TextMatch::contains(fio, _fio);
}

bool DocumentFilter::acceptsQual(const QString& qual) const {
    return _qual.isEmpty() || TextMatch::contains(qual, _qual);
}

bool DocumentFilter::inRange(qint64 day, bool range, qint64 from, qint64 to) {
    return !range || (day != ValueText::noDay && from <= day && day <= to);
}

bool DocumentFilter::accepts(const QString& fio, const QString& qual, const QVariant& issueDate,
                             const QVariant& editDate) const {
    return acceptsFio(fio) && acceptsQual(qual) && (!_issueRange || acceptsIssueDay(dayOf(issueDate))) &&
           (!_editRange || acceptsEditDay(dayOf(editDate)));
}

qint64 DocumentFilter::dayOf(const QVariant& value) {
    if (value.userType() == QMetaType::QDate || value.userType() == QMetaType::QDateTime) {
        const QDate date = value.toDate();
        return date.isValid() ? date.toJulianDay() : qint64(ValueText::noDay);
    }
    return ValueText::dayNumber(value.toString());
}
