#pragma once

// The rules of the recording calendar and its month grid, apart from their
// widgets: which months to ask for, the coverage of the recording window
// (text, level, missing-days banner), merging and listing a day's clips, and
// the grid's cells, colours and hit test.

#include "native/services/CalendarSearch.h"

#include <QColor>
#include <QDate>
#include <QList>
#include <QLocale>
#include <QMap>
#include <QPointF>
#include <QRectF>
#include <QSet>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace kvr::live {

namespace CalendarRules {

// The one locale of dates in the calendar.
const QLocale& english();

// ---- Months ----
// The key of a known month: (channel, main, year, month), ordered so.
struct MonthKey {
    int channel = 1;
    bool main = true;
    int year = 0;
    int month = 0;
    auto operator<=>(const MonthKey&) const = default;
};
using MonthCache = QMap<MonthKey, QSet<int>>;

// today - (windowDays - 1) days.
QDate windowStart(const QDate& today, int windowDays);
// The shown month first, then every month from today's back to the one of
// windowStart, newest first, each once.
QList<QDate> monthsToKnow(const QDate& shownMonth, const QDate& today, const QDate& windowStart);

// ---- Coverage of the recording window ----
enum class Level { Ok, Warn, Bad };
QString levelName(Level level); // "ok", "warn", "bad"
Level levelFor(int percent);

struct Coverage {
    bool known = false; // every month of the window is known
    int recorded = 0;
    int windowDays = 0;
    int percent = 0;
    Level level = Level::Bad;
    QStringList missing; // "d MMM", in date order
};
// `daysOf` gives the recorded days of the month of a date, or nothing when
// that month is not known.
Coverage coverage(const QDate& today, int windowDays,
                  const std::function<std::optional<QSet<int>>(const QDate& month)>& daysOf);
QString coverageText(const Coverage& c); // "%1 of %2 days recorded (%3%)" or "Coverage unknown"
// "No recording on: d MMM, d MMM ..." with at most 14 days and " and N more";
// empty without missing days.
QString missingBanner(const QStringList& missing);

// ---- Clips of a day ----
// Clips sorted by start: one that starts less than 3 s after the end of the
// last merged one extends it.
QList<services::NativeCalendar::Clip> mergeClips(const QList<services::NativeCalendar::Clip>& clips);
// Whole minutes, at least 1.
int clipMinutes(const services::NativeCalendar::Clip& clip);
QString clipRow(const services::NativeCalendar::Clip& clip); // "HH:mm:ss – HH:mm:ss   (N min)"
QString dayStatus(int clips, bool playbackSupported, const QString& unsupportedReason);
QString windowTitle(bool deviceExists, const QString& siteName, const QString& deviceName);

// ---- The month grid ----
inline constexpr int kCells = 42;
inline constexpr double kHeaderHeight = 26.0;
// The date of cell 0..41: cell 0 is the Monday on or before `first`.
QDate dateAt(const QDate& first, int cell);
QRectF cellRect(int cell, const QSizeF& widget);

struct CellLook {
    bool drawn = false; // a day of the shown month
    QColor fill;
    QColor border; // alpha 0: no border
    QColor text;
    bool ring = false; // today
};
struct MonthState {
    QDate first;
    QSet<int> days;
    bool known = false;
    QDate windowStart;
    QDate selected;
};
CellLook cellLook(const MonthState& state, int cell, const QDate& today);
// The cell under a press, or -1: days of the shown month up to today only.
int cellAt(const MonthState& state, const QPointF& at, const QSizeF& widget, const QDate& today);
// The cell of `day` in the shown month, or -1.
int cellOf(const MonthState& state, const QDate& day);

// ---- The grid by keyboard ----
// The days the keys move over: those of the shown month up to today, as the
// pointer may pick them. Invalid when there is none.
QDate firstPickable(const MonthState& state, const QDate& today);
QDate lastPickable(const MonthState& state, const QDate& today);
// Where the keyboard's day stands as the grid takes the focus: the selected
// day, else today, else the month's first day, each where it may be picked.
QDate keyDayStart(const MonthState& state, const QDate& today);
// Where the keyboard's day goes from `from` by `days` (a day or a week either
// way): it stops at the ends of the pickable days rather than leave them.
QDate keyDayMoved(const MonthState& state, const QDate& from, int days, const QDate& today);
// What a screen reader says of a day: "Tuesday 4 June 2024, no recording"
// and, where they hold, ", today" and ", selected".
QString spokenDay(const MonthState& state, const QDate& day, const QDate& today);

} // namespace CalendarRules

} // namespace kvr::live
