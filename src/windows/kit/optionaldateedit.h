#pragma once

#include <QDate>
#include <QDateEdit>

// A date edit that can also hold no date at all, as a stored NULL does. It then shows an empty
// field; Delete or Backspace over the whole text empties it again. The empty state is the lowest
// date the edit accepts, so dateChanged() reports emptying like any other change.
class OptionalDateEdit : public QDateEdit {
    Q_OBJECT

public:
    explicit OptionalDateEdit(QWidget* parent = nullptr);

    // Invalid while the field is empty.
    QDate optionalDate() const;
    // An invalid date empties the field.
    void setOptionalDate(const QDate& date);
    bool isEmpty() const;
    // Shows a date as it was read from the file: isModified() is false until the date changes.
    void showStoredDate(const QDate& date);
    bool isModified() const { return _modified; }

    // Empties the field.
    void clear() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void stepBy(int steps) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Typing or stepping into an empty field starts from today, not from the empty marker.
    void startFromToday();
    void watchCalendar();

    bool _modified = false;
    bool _showingStored = false;
    bool _calendarWatched = false;
};
