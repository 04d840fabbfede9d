#pragma once

// A painted month calendar: seven columns (Monday first) by six rows under
// the short weekday names, each day coloured by whether the recorder holds
// recordings for it and whether it lies in the recording window; today
// ringed, the selected day filled; a click on a day up to today is reported.
// The keyboard works it as the pointer does: the arrows move a day (or a
// week) over the days that may be picked, ringed while the grid holds the
// focus, and Enter or Space picks it. A screen reader finds every day of the
// month as an item of the grid, said with what it holds ("Tuesday 4 June
// 2024, no recording"), and may pick it.

#include "native/live/CalendarRules.h"

#include <QDate>
#include <QSet>
#include <QWidget>

namespace kvr::live {

class MonthGrid : public QWidget {
    Q_OBJECT
public:
    explicit MonthGrid(QWidget* parent = nullptr);

    void setMonth(const QDate& month, const QSet<int>& recordedDays, bool known, const QDate& windowStart);
    void setSelected(const QDate& day);
    QDate dateAt(int cell) const;
    QRectF cellRect(int cell) const;
    QSize sizeHint() const override { return {420, 300}; }
    QSize minimumSizeHint() const override { return {360, 260}; }
    const CalendarRules::MonthState& state() const { return m_state; }
    // The day the keys stand on (invalid until the grid first takes the focus).
    QDate keyDay() const { return m_keyDay; }
    // Picks `day` as a click on it does, where a click may pick it.
    void pick(const QDate& day);

Q_SIGNALS:
    void dayClicked(const QDate& day);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void moveKeyDay(const QDate& day);

    CalendarRules::MonthState m_state;
    QDate m_keyDay;
};

} // namespace kvr::live
