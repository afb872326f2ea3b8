#include "optionaldateedit.h"

#include <QCalendarWidget>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>

namespace {
// Far below any date of a document: no real date is lost to the marker.
const QDate emptyMarker(100, 1, 1);
// Shown for the marker; an empty text would switch the special text off.
const QString emptyText = QStringLiteral(" ");
} // namespace

OptionalDateEdit::OptionalDateEdit(QWidget* parent) : QDateEdit(parent) {
    setMinimumDate(emptyMarker);
    setSpecialValueText(emptyText);
    setDate(emptyMarker);
    connect(this, &QDateEdit::dateChanged, this, [this] {
        if (!_showingStored)
            _modified = true;
    });
}

QDate OptionalDateEdit::optionalDate() const {
    return isEmpty() ? QDate() : date();
}

// A date the edit cannot show as it is (beyond its range) shows as none rather than as the
// nearest date it can show.
void OptionalDateEdit::setOptionalDate(const QDate& value) {
    setDate(value.isValid() && value > emptyMarker && value <= maximumDate() ? value : emptyMarker);
}

bool OptionalDateEdit::isEmpty() const {
    return date() <= emptyMarker;
}

void OptionalDateEdit::showStoredDate(const QDate& value) {
    _showingStored = true;
    setOptionalDate(value);
    _showingStored = false;
    _modified = false;
}

void OptionalDateEdit::clear() {
    setOptionalDate(QDate());
}

void OptionalDateEdit::startFromToday() {
    setDate(QDate::currentDate());
    setCurrentSectionIndex(0);
    setSelectedSection(currentSection());
}

void OptionalDateEdit::keyPressEvent(QKeyEvent* event) {
    if (calendarPopup())
        watchCalendar();
    const int key = event->key();
    if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
        const QLineEdit* edit = lineEdit();
        if (isEmpty() || edit->selectedText() == edit->text()) {
            clear();
            event->accept();
            return;
        }
    } else if (isEmpty() && !event->text().isEmpty() && event->text().at(0).isDigit()) {
        startFromToday();
    }
    QDateEdit::keyPressEvent(event);
}

void OptionalDateEdit::mousePressEvent(QMouseEvent* event) {
    if (calendarPopup())
        watchCalendar();
    QDateEdit::mousePressEvent(event);
}

void OptionalDateEdit::stepBy(int steps) {
    if (isEmpty()) {
        startFromToday();
        return;
    }
    QDateEdit::stepBy(steps);
}

void OptionalDateEdit::watchCalendar() {
    if (_calendarWatched)
        return;
    if (QCalendarWidget* calendar = calendarWidget()) {
        calendar->window()->installEventFilter(this);
        _calendarWatched = true;
    }
}

// The pop-up of an empty field opens on today's month, not on the marker's; nothing is chosen
// until the user picks a day.
bool OptionalDateEdit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && isEmpty()) {
        if (QCalendarWidget* calendar = calendarWidget()) {
            const QSignalBlocker quiet(calendar);
            calendar->setSelectedDate(QDate::currentDate());
        }
    }
    return QDateEdit::eventFilter(watched, event);
}
