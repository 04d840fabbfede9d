#pragma once

// A painted month calendar: seven columns (Monday first) by six rows under
// the short weekday names, each day coloured by whether the recorder holds
// recordings for it and whether it lies in the recording window; today
// ringed, the selected day filled; a click on a day up to today is reported.

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

Q_SIGNALS:
    void dayClicked(const QDate& day);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    CalendarRules::MonthState m_state;
};

} // namespace kvr::live
