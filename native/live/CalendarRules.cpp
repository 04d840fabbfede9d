#include "native/live/CalendarRules.h"

#include "native/live/Tunables.h"

#include <algorithm>

using namespace kvr::services;

namespace kvr::live {

namespace CalendarRules {

const QLocale& english()
{
    static const QLocale locale(QLocale::English);
    return locale;
}

QDate windowStart(const QDate& today, int windowDays)
{
    return today.addDays(-(qint64(windowDays) - 1));
}

QList<QDate> monthsToKnow(const QDate& shownMonth, const QDate& today, const QDate& start)
{
    QList<QDate> out{QDate(shownMonth.year(), shownMonth.month(), 1)};
    const QDate last(start.year(), start.month(), 1);
    for (QDate m(today.year(), today.month(), 1); m >= last; m = m.addMonths(-1)) {
        if (!out.contains(m))
            out << m;
    }
    return out;
}

QString levelName(Level level)
{
    switch (level) {
    case Level::Ok:
        return QStringLiteral("ok");
    case Level::Warn:
        return QStringLiteral("warn");
    case Level::Bad:
        break;
    }
    return QStringLiteral("bad");
}

Level levelFor(int percent)
{
    if (percent >= tun::kCoverageOkPercent)
        return Level::Ok;
    if (percent >= tun::kCoverageWarnPercent)
        return Level::Warn;
    return Level::Bad;
}

Coverage coverage(const QDate& today, int windowDays,
                  const std::function<std::optional<QSet<int>>(const QDate& month)>& daysOf)
{
    Coverage c;
    c.windowDays = windowDays;
    const QDate start = windowStart(today, windowDays);
    QMap<QDate, QSet<int>> months;
    for (QDate d = start; d <= today; d = d.addDays(1)) {
        const QDate month(d.year(), d.month(), 1);
        if (!months.contains(month)) {
            const std::optional<QSet<int>> days = daysOf(month);
            if (!days)
                return c; // not known: "Coverage unknown"
            months.insert(month, *days);
        }
        if (months.value(month).contains(d.day()))
            ++c.recorded;
        else
            c.missing << english().toString(d, QStringLiteral("d MMM"));
    }
    c.known = true;
    c.percent = windowDays < 1 ? 0 : c.recorded * 100 / windowDays;
    c.level = levelFor(c.percent);
    return c;
}

QString coverageText(const Coverage& c)
{
    if (!c.known)
        return QStringLiteral("Coverage unknown");
    return QStringLiteral("%1 of %2 days recorded (%3%)").arg(c.recorded).arg(c.windowDays).arg(c.percent);
}

QString missingBanner(const QStringList& missing)
{
    if (missing.isEmpty())
        return QString();
    QString text =
        QStringLiteral("No recording on: %1").arg(missing.mid(0, tun::kBannerDays).join(QStringLiteral(", ")));
    if (missing.size() > tun::kBannerDays)
        text += QStringLiteral(" and %1 more").arg(missing.size() - tun::kBannerDays);
    return text;
}

QList<NativeCalendar::Clip> mergeClips(const QList<NativeCalendar::Clip>& clips)
{
    QList<NativeCalendar::Clip> merged;
    for (const NativeCalendar::Clip& clip : clips) {
        if (!merged.isEmpty() && clip.start < merged.last().end.addSecs(tun::kClipJoinGap.count())) {
            if (clip.end > merged.last().end)
                merged.last().end = clip.end;
        } else {
            merged << clip;
        }
    }
    return merged;
}

int clipMinutes(const NativeCalendar::Clip& clip)
{
    return std::max<qint64>(1, clip.start.secsTo(clip.end) / 60);
}

QString clipRow(const NativeCalendar::Clip& clip)
{
    return QStringLiteral("%1 \u2013 %2   (%3 min)")
        .arg(clip.start.toString(QStringLiteral("HH:mm:ss")), clip.end.toString(QStringLiteral("HH:mm:ss")))
        .arg(clipMinutes(clip));
}

QString dayStatus(int clips, bool playbackSupported, const QString& unsupportedReason)
{
    if (clips == 0)
        return QStringLiteral("No recording on this day.");
    if (!playbackSupported)
        return unsupportedReason;
    return QStringLiteral("%1 recording%2. Times are the device's clock.")
        .arg(clips)
        .arg(clips == 1 ? QString() : QStringLiteral("s"));
}

QString windowTitle(bool deviceExists, const QString& siteName, const QString& deviceName)
{
    QString suffix;
    if (deviceExists)
        suffix = siteName.isEmpty() ? deviceName : QStringLiteral("%1 / %2").arg(siteName, deviceName);
    return QStringLiteral("Recording retention \u2014 %1").arg(suffix);
}

QDate dateAt(const QDate& first, int cell)
{
    return first.addDays(cell - first.dayOfWeek() + 1);
}

QRectF cellRect(int cell, const QSizeF& widget)
{
    const double w = widget.width() / 7.0;
    const double h = (widget.height() - kHeaderHeight) / 6.0;
    const int column = cell % 7;
    const int row = cell / 7;
    return QRectF(2.0 + column * w, 28.0 + row * h, w - 4.0, h - 4.0);
}

CellLook cellLook(const MonthState& s, int cell, const QDate& today)
{
    CellLook look;
    if (!s.first.isValid())
        return look;
    const QDate date = dateAt(s.first, cell);
    if (date.year() != s.first.year() || date.month() != s.first.month())
        return look;
    look.drawn = true;
    look.border = QColor(0, 0, 0, 0);
    const QColor muted(0x6c, 0x75, 0x7d);
    const bool recorded = s.known && s.days.contains(date.day());
    const bool inWindow = s.windowStart.isValid() && date >= s.windowStart;
    if (date > today) {
        look.fill = QColor(0, 0, 0, 0);
        look.text = QColor(0xce, 0xd4, 0xda);
    } else if (!s.known) {
        look.fill = QColor(0xf8, 0xf9, 0xfa);
        look.text = muted;
    } else if (recorded && inWindow) {
        look.fill = QColor(40, 167, 69, 46);
        look.text = QColor(0x1e, 0x7e, 0x34);
    } else if (recorded) {
        look.fill = QColor(40, 167, 69, 20);
        look.text = muted;
    } else if (inWindow) {
        look.fill = QColor(220, 53, 69, 20);
        look.border = QColor(220, 53, 69, 130);
        look.text = QColor(0xdc, 0x35, 0x45);
    } else {
        look.fill = QColor(0xf1, 0xf3, 0xf5);
        look.text = QColor(0xad, 0xb5, 0xbd);
    }
    if (s.selected.isValid() && date == s.selected) {
        look.fill = QColor(0x00, 0x4a, 0xad);
        look.border = QColor(0, 0, 0, 0);
        look.text = QColor(Qt::white);
    }
    look.ring = date == today;
    return look;
}

int cellAt(const MonthState& s, const QPointF& at, const QSizeF& widget, const QDate& today)
{
    if (!s.first.isValid())
        return -1;
    for (int i = 0; i < kCells; ++i) {
        const QDate date = dateAt(s.first, i);
        if (date.year() != s.first.year() || date.month() != s.first.month() || date > today)
            continue;
        if (cellRect(i, widget).contains(at))
            return i;
    }
    return -1;
}

int cellOf(const MonthState& s, const QDate& day)
{
    if (!s.first.isValid() || !day.isValid() || day.year() != s.first.year() || day.month() != s.first.month())
        return -1;
    // As dateAt counts: cell 0 is the Monday on or before `first`.
    const int cell = int(s.first.daysTo(day)) + s.first.dayOfWeek() - 1;
    return cell >= 0 && cell < kCells ? cell : -1;
}

QDate firstPickable(const MonthState& s, const QDate& today)
{
    if (!s.first.isValid())
        return {};
    const QDate first(s.first.year(), s.first.month(), 1);
    return first <= today ? first : QDate();
}

QDate lastPickable(const MonthState& s, const QDate& today)
{
    const QDate first = firstPickable(s, today);
    if (!first.isValid())
        return {};
    return std::min(first.addDays(first.daysInMonth() - 1), today);
}

QDate keyDayStart(const MonthState& s, const QDate& today)
{
    const QDate first = firstPickable(s, today);
    const QDate last = lastPickable(s, today);
    for (const QDate& day : {s.selected, today})
        if (day.isValid() && first.isValid() && day >= first && day <= last)
            return day;
    return first;
}

QDate keyDayMoved(const MonthState& s, const QDate& from, int days, const QDate& today)
{
    const QDate first = firstPickable(s, today);
    const QDate last = lastPickable(s, today);
    if (!first.isValid())
        return {};
    const QDate start = from.isValid() && from >= first && from <= last ? from : keyDayStart(s, today);
    return std::clamp(start.addDays(days), first, last);
}

QString spokenDay(const MonthState& s, const QDate& day, const QDate& today)
{
    QString said = english().toString(day, QStringLiteral("dddd d MMMM yyyy"));
    const bool inWindow = s.windowStart.isValid() && day >= s.windowStart;
    if (day > today)
        said += QStringLiteral(", not yet");
    else if (!s.known)
        said += QStringLiteral(", not known yet");
    else if (s.days.contains(day.day()))
        said += inWindow ? QStringLiteral(", recorded") : QStringLiteral(", recorded, before the recording window");
    else
        said +=
            inWindow ? QStringLiteral(", no recording") : QStringLiteral(", no recording, before the recording window");
    if (day == today)
        said += QStringLiteral(", today");
    if (s.selected.isValid() && day == s.selected)
        said += QStringLiteral(", selected");
    return said;
}

} // namespace CalendarRules

} // namespace kvr::live
