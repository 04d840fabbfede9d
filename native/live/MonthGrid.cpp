#include "native/live/MonthGrid.h"

#include "app/core/Clock.h"
#include "native/screens/NativeStyle.h"

#include <QMouseEvent>
#include <QPainter>

using namespace kvr::screens;

namespace kvr::live {

namespace {
QDate today()
{
    return kvr::core::Clock::instance().nowUtc().toLocalTime().date();
}
} // namespace

MonthGrid::MonthGrid(QWidget* parent) : QWidget(parent)
{
    setMinimumHeight(260);
    setAccessibleName(QStringLiteral("Month"));
    // A click on a day takes the focus from the drop-down above, which a
    // passing wheel would otherwise still turn (another camera: the day lost).
    setFocusPolicy(Qt::ClickFocus);
}

void MonthGrid::setMonth(const QDate& month, const QSet<int>& recordedDays, bool known, const QDate& windowStart)
{
    m_state.first = month;
    m_state.days = recordedDays;
    m_state.known = known;
    m_state.windowStart = windowStart;
    update();
}

void MonthGrid::setSelected(const QDate& day)
{
    m_state.selected = day;
    update();
}

QDate MonthGrid::dateAt(int cell) const
{
    return CalendarRules::dateAt(m_state.first, cell);
}

QRectF MonthGrid::cellRect(int cell) const
{
    return CalendarRules::cellRect(cell, QSizeF(size()));
}

void MonthGrid::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QFont f = font();
    f.setPixelSize(12);
    p.setFont(f);
    const double w = width() / 7.0;
    p.setPen(NativeStyle::kMuted);
    for (int d = 1; d <= 7; ++d)
        p.drawText(QRectF(w * (d - 1), 0, w, CalendarRules::kHeaderHeight), Qt::AlignCenter,
                   CalendarRules::english().dayName(d, QLocale::ShortFormat));
    if (!m_state.first.isValid())
        return;
    const QDate now = today();
    for (int i = 0; i < CalendarRules::kCells; ++i) {
        const CalendarRules::CellLook look = CalendarRules::cellLook(m_state, i, now);
        if (!look.drawn)
            continue;
        const QRectF r = cellRect(i);
        p.setBrush(look.fill);
        if (look.border.alpha() != 0)
            p.setPen(QPen(look.border, 1));
        else
            p.setPen(Qt::NoPen);
        p.drawRoundedRect(r, 8, 8);
        if (look.ring) {
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(NativeStyle::kPrimary, 2));
            p.drawRoundedRect(r.adjusted(1, 1, -1, -1), 8, 8);
        }
        p.setPen(look.text);
        p.drawText(r, Qt::AlignCenter, QString::number(dateAt(i).day()));
    }
}

void MonthGrid::mousePressEvent(QMouseEvent* event)
{
    const int cell = CalendarRules::cellAt(m_state, event->position(), QSizeF(size()), today());
    if (cell >= 0)
        Q_EMIT dayClicked(dateAt(cell));
}

} // namespace kvr::live
