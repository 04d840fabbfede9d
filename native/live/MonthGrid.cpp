#include "native/live/MonthGrid.h"

#include "app/core/Clock.h"
#include "app/ui/PaintedItems.h"
#include "native/screens/NativeStyle.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

using namespace kvr::screens;

namespace kvr::live {

namespace {

QDate today()
{
    return kvr::core::Clock::instance().nowUtc().toLocalTime().date();
}

bool pickable(const CalendarRules::MonthState& state, const QDate& day)
{
    const QDate first = CalendarRules::firstPickable(state, today());
    return first.isValid() && day >= first && day <= CalendarRules::lastPickable(state, today());
}

} // namespace

MonthGrid::MonthGrid(QWidget* parent) : QWidget(parent)
{
    // A screen reader finds the days as the items of a list, said with what
    // they hold, that may be picked.
    const auto dayOf = [this](int item) { return m_state.first.isValid() ? m_state.first.addDays(item) : QDate(); };
    ui::PaintedItems::describe(
        this,
        {.count = [this] { return m_state.first.isValid() ? m_state.first.daysInMonth() : 0; },
         .name = [this, dayOf](int item) { return CalendarRules::spokenDay(m_state, dayOf(item), today()); },
         .rect =
             [this, dayOf](int item) {
                 const int cell = CalendarRules::cellOf(m_state, dayOf(item));
                 return cell < 0 ? QRect() : cellRect(cell).toAlignedRect();
             },
         .selected = [this, dayOf](int item) { return dayOf(item) == m_state.selected; },
         .pickable = [this, dayOf](int item) { return pickable(m_state, dayOf(item)); },
         .pick = [this, dayOf](int item) { pick(dayOf(item)); },
         .current = [this] { return m_keyDay.isValid() ? m_keyDay.day() - 1 : -1; }});
    setMinimumHeight(260);
    setAccessibleName(QStringLiteral("Month"));
    // Tab reaches the days; a click on one also takes the focus from the
    // drop-down above, which a passing wheel would otherwise still turn
    // (another camera: the day lost).
    setFocusPolicy(Qt::StrongFocus);
}

void MonthGrid::setMonth(const QDate& month, const QSet<int>& recordedDays, bool known, const QDate& windowStart)
{
    m_state.first = month;
    m_state.days = recordedDays;
    m_state.known = known;
    m_state.windowStart = windowStart;
    // The keys' day stays in the month shown.
    if (m_keyDay.isValid() && !pickable(m_state, m_keyDay))
        m_keyDay = hasFocus() ? CalendarRules::keyDayStart(m_state, today()) : QDate();
    update();
}

void MonthGrid::setSelected(const QDate& day)
{
    m_state.selected = day;
    if (day.isValid() && pickable(m_state, day))
        m_keyDay = day;
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

void MonthGrid::pick(const QDate& day)
{
    if (!pickable(m_state, day))
        return;
    m_keyDay = day;
    Q_EMIT dayClicked(day);
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
    // The day the keys stand on, ringed in the focus colour just outside it
    // (in the gap between the days).
    const int keyCell = CalendarRules::cellOf(m_state, m_keyDay);
    if (hasFocus() && keyCell >= 0) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(NativeStyle::token("vFocus"), 2));
        p.drawRoundedRect(cellRect(keyCell).adjusted(-1.5, -1.5, 1.5, 1.5), 9, 9);
    }
}

void MonthGrid::mousePressEvent(QMouseEvent* event)
{
    const int cell = CalendarRules::cellAt(m_state, event->position(), QSizeF(size()), today());
    if (cell >= 0)
        pick(dateAt(cell));
}

void MonthGrid::keyPressEvent(QKeyEvent* event)
{
    if (event->modifiers() & ~Qt::KeypadModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    const QDate now = today();
    switch (event->key()) {
    case Qt::Key_Left:
        moveKeyDay(CalendarRules::keyDayMoved(m_state, m_keyDay, -1, now));
        break;
    case Qt::Key_Right:
        moveKeyDay(CalendarRules::keyDayMoved(m_state, m_keyDay, 1, now));
        break;
    case Qt::Key_Up:
        moveKeyDay(CalendarRules::keyDayMoved(m_state, m_keyDay, -7, now));
        break;
    case Qt::Key_Down:
        moveKeyDay(CalendarRules::keyDayMoved(m_state, m_keyDay, 7, now));
        break;
    case Qt::Key_Home:
        moveKeyDay(CalendarRules::firstPickable(m_state, now));
        break;
    case Qt::Key_End:
        moveKeyDay(CalendarRules::lastPickable(m_state, now));
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (!pickable(m_state, m_keyDay)) {
            // Nothing to pick: Enter goes on to the dialog.
            QWidget::keyPressEvent(event);
            return;
        }
        pick(m_keyDay);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void MonthGrid::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    if (!pickable(m_state, m_keyDay))
        m_keyDay = CalendarRules::keyDayStart(m_state, today());
    moveKeyDay(m_keyDay);
}

void MonthGrid::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

void MonthGrid::moveKeyDay(const QDate& day)
{
    if (!day.isValid())
        return;
    m_keyDay = day;
    update();
    // A screen reader says the day the keys moved to.
    if (QAccessible::isActive() && hasFocus()) {
        QAccessibleEvent moved(this, QAccessible::Focus);
        moved.setChild(day.day() - 1);
        QAccessible::updateAccessibility(&moved);
    }
}

} // namespace kvr::live
