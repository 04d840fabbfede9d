// The stage's playback modes: days and times, device playback, cloud
// playlists and jumps, snapshots.
#include "server/view/StagePages.h"

#include "app/ui/Theme.h"
#include "app/ui/TimelineBar.h"
#include "server/view/ControlBar.h"
#include "server/view/Logging.h"
#include "server/view/Snapshot.h"
#include "server/view/Tunables.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"

#include <QCalendarWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QPushButton>
#include <QTextCharFormat>
#include <QTimeEdit>
#include <QToolTip>
#include <QtDebug>

#include <algorithm>

using namespace kvr::core;
using namespace kvr::ui;

namespace kvr::view {

namespace {

// How a day with recordings looks in the day picker's calendar.
QTextCharFormat recordingDayFormat()
{
    QTextCharFormat f;
    f.setFontWeight(700);
    f.setForeground(Theme::colour(Theme::Colour::AccentText));
    f.setBackground(Theme::colour(Theme::Colour::Accent, 46 / 255.0));
    return f;
}

} // namespace

QDate StagePages::shownDay() const
{
    return m_dayPicker->date();
}

void StagePages::askMonth(int year, int month)
{
    // Only the latest month asked for is taken: its answer marks the days.
    const RequestTicket asked = m_months.issue();
    Q_EMIT deviceMonthRequested(year, month, asked);
}

void StagePages::showTime(double second)
{
    m_timeLabel->setText(TimelineBar::clock(second));
}

void StagePages::setPickerDay(const QDate& day)
{
    m_suppressDayChange = true;
    m_dayPicker->setMaximumDate(std::max(todayIst(), m_dayPicker->maximumDate()));
    m_dayPicker->setDate(day);
    m_suppressDayChange = false;
}

void StagePages::raisePickerMaximum()
{
    // Past midnight IST the picker's limit is still yesterday's: let it reach today.
    const QDate today = todayIst();
    if (m_dayPicker->maximumDate() >= today)
        return;
    m_suppressDayChange = true;
    m_dayPicker->setMaximumDate(today);
    m_suppressDayChange = false;
}

void StagePages::clearDayFormats()
{
    m_dayPicker->calendarWidget()->setDateTextFormat(QDate(), QTextCharFormat());
}

void StagePages::markDays(const QList<QDate>& days)
{
    const QTextCharFormat format = recordingDayFormat();
    for (const QDate& day : days) {
        m_deviceDays.insert(day);
        m_dayPicker->calendarWidget()->setDateTextFormat(day, format);
    }
}

// ---- Device playback ------------------------------------------------------------

void StagePages::prepareDevice(const QString& title)
{
    stopPlayerNow();
    setMode(Mode::DevicePlayback, title);
    m_playlist = CloudPlaylist();
    m_dayOffset = 0;
    const QDate today = todayIst();
    m_suppressDayChange = true;
    m_dayPicker->setMaximumDate(today);
    m_dayPicker->setDate(today);
    m_suppressDayChange = false;

    m_timeline->setCoverage({}, false);
    m_timeline->setPlayhead(-1);
    m_timeline->setInteractive(true);
    showTime(0);
    m_playheadSecond = 0;

    m_deviceDays.clear();
    m_coverage.clear();
    m_coverageKnown = false;
    m_coverageDay = QDate();
    clearDayFormats();

    m_speedBox->setCurrentIndex(0);
    applySpeed();

    askMonth(today.year(), today.month());
    Q_EMIT deviceDayRequested(today);
    // Today is already chosen in the day field: say what starts it.
    showMessage(QStringLiteral("Play from 00:00, or pick a time on the timeline"), QString());
}

void StagePages::addDeviceDays(const QList<QDate>& days, const RequestTicket& asked)
{
    // A later month was asked for, or the recorder's days mean nothing any
    // more in the mode the stage turned to.
    if (!asked.current())
        return;
    markDays(days);
}

void StagePages::setDeviceCoverage(const QDate& date, const QList<std::pair<double, double>>& blocks, bool known)
{
    if (m_mode != Mode::DevicePlayback || date != m_dayPicker->date())
        return;
    m_coverage = blocks;
    m_coverageKnown = known;
    m_coverageDay = date;
    m_timeline->setCoverage(blocks, known);
}

void StagePages::startDay(const QDate& date, double fromSecond)
{
    if (m_mode == Mode::LiveView)
        return;
    stopPlayerNow();
    // The picker shows the day that plays: playlists are read for it, and
    // snapshots are stamped with it.
    if (date != m_dayPicker->date())
        setPickerDay(date);
    const double from = StageRules::clampToDay(fromSecond);
    // A recording plays from the whole minute the recorder is asked for: the
    // clock counts from there, with the picture.
    const double shown = m_mode == Mode::DevicePlayback ? StageRules::recordingStart(from) : from;
    m_pendingStart = m_dayOffset = m_playheadSecond = shown;
    m_playlists.supersede();

    if (m_mode == Mode::DevicePlayback && date != m_coverageDay) {
        m_coverage.clear();
        m_coverageKnown = false;
        m_timeline->setCoverage({}, false);
        m_coverageDay = date;
        Q_EMIT deviceDayRequested(date);
    }
    m_timeline->setPlayhead(shown);
    showTime(shown);

    if (m_mode == Mode::CloudPlayback) {
        m_playlist = CloudPlaylist();
        m_timeline->setCoverage({}, true);
        if (!m_cloudDays.isEmpty() && !m_cloudDays.contains(date)) {
            showMessage(QStringLiteral("No cloud recording for this day."), QString());
            return;
        }
    }
    beginPlay(m_mode == Mode::CloudPlayback ? QStringLiteral("Loading the day’s recording…")
                                            : QStringLiteral("Opening the recording on the server…"));

    // Both ends carry IST, so the recorder gets the clock digits the user
    // chose whatever zone this computer is in.
    const int s = int(from);
    if (m_mode == Mode::DevicePlayback) {
        Q_EMIT playDevice(Ist::at(date, s), Ist::at(date, int(tun::kLastSecond.count())));
    } else {
        const RequestTicket asked = m_playlists.issue();
        Q_EMIT playCloud(date, QTime(0, 0).addSecs(s).toString(QStringLiteral("HH:mm")),
                         StageRules::cloudEndText(date, todayIst()), asked);
    }
}

double StagePages::snapToFootage(double second) const
{
    return StageRules::snapToFootage(second, m_coverage, m_coverageKnown);
}

void StagePages::jumpTo(double second)
{
    if (m_mode == Mode::LiveView)
        return;
    double t = StageRules::clampToDay(second);
    if (m_mode == Mode::DevicePlayback)
        t = snapToFootage(t);
    m_timeEdit->setTime(QTime(0, 0).addSecs(int(t)));
    onTimelineSeek(t);
}

void StagePages::onTimelineSeek(double second)
{
    if (m_mode == Mode::LiveView)
        return;
    // The bar's right end is 86400, which no clock of the day shows.
    double t = StageRules::clampToDay(second);
    if (m_mode == Mode::CloudPlayback && !m_playlist.segments.isEmpty()) {
        startCloudFrom(t);
        return;
    }
    if (m_mode == Mode::DevicePlayback)
        t = snapToFootage(t);
    startDay(m_dayPicker->date(), t);
}

void StagePages::onPosition(double mediaSeconds)
{
    if (m_positionBase < 0)
        m_positionBase = mediaSeconds;
    const double elapsed = m_elapsedOffset + std::max(mediaSeconds - m_positionBase, 0.0);
    double day = m_dayOffset + elapsed;
    if (m_mode == Mode::CloudPlayback && !m_playlist.segments.isEmpty())
        day = elapsedToDay(elapsed);
    m_playheadSecond = std::max(day, 0.0);
    m_timeline->setPlayhead(m_playheadSecond);
    showTime(m_playheadSecond);
}

void StagePages::onDayChanged(const QDate& date)
{
    if (m_suppressDayChange)
        return;
    startDay(date, 0);
}

void StagePages::stepDay(int days)
{
    if (days > 0)
        raisePickerMaximum();
    // The change of date starts the day; past the limit nothing changes.
    m_dayPicker->setDate(m_dayPicker->date().addDays(days));
}

void StagePages::goToday()
{
    raisePickerMaximum();
    const QDate today = todayIst();
    if (m_dayPicker->date() != today)
        m_dayPicker->setDate(today);
    else
        startDay(today, 0);
}

// ---- Cloud playback ------------------------------------------------------------------

void StagePages::prepareCloud(const QString& title, const QList<QDate>& days)
{
    stopPlayerNow();
    setMode(Mode::CloudPlayback, title);
    m_playlist = CloudPlaylist();
    m_dayOffset = 0;
    m_cloudDays = QSet<QDate>(days.begin(), days.end());

    m_timeline->setCoverage({}, true);
    m_timeline->setPlayhead(-1);
    m_timeline->setInteractive(true);
    showTime(0);
    m_playheadSecond = 0;

    m_speedBox->setCurrentIndex(0);
    applySpeed();

    clearDayFormats();
    const QTextCharFormat format = recordingDayFormat();
    for (const QDate& day : days)
        m_dayPicker->calendarWidget()->setDateTextFormat(day, format);
    m_suppressDayChange = true;
    m_dayPicker->setMaximumDate(todayIst());
    m_suppressDayChange = false;

    if (days.isEmpty()) {
        showMessage(QStringLiteral("This camera has no cloud archive."), QString());
        return;
    }
    setPickerDay(days.last());
    // The day starts on the next turn of the event loop, unless the stage was
    // given something else to do meanwhile: another mode or day, a stop or an
    // error lapse the ticket of this cloud playback's round.
    const RequestTicket unchanged = m_playlists.ticket();
    QTimer::singleShot(0, this, [this, unchanged] {
        if (unchanged.current() && !m_player->isRunning())
            startDay(m_dayPicker->date(), 0);
    });
}

void StagePages::parsePlaylist(const QByteArray& playlist, const QUrl& source)
{
    m_playlist = parseCloudPlaylist(playlist, m_dayPicker->date(), source);
    if (m_playlist.segments.isEmpty()) {
        qCWarning(lcView).noquote() << "[cloud] could not read segment start times; first segment:"
                                    << m_playlist.firstAddress.left(tun::kLoggedAddressChars);
        m_timeline->setCoverage({}, false);
        return;
    }
    m_timeline->setCoverage(m_playlist.blocks, true);
    m_dayOffset = std::max(m_playlist.segments.first().start, 0.0);
    qCWarning(lcView).noquote() << QStringLiteral("[cloud] %1 segments, %2 footage blocks, first at %3")
                                       .arg(m_playlist.segments.size())
                                       .arg(m_playlist.blocks.size())
                                       .arg(TimelineBar::clock(m_dayOffset));
}

void StagePages::playPlaylist(const QByteArray& playlist, const QUrl& source, const RequestTicket& asked)
{
    // Only the playlist of the day now awaited, and only in cloud playback:
    // a late answer never plays over what the user turned to since.
    if (!asked.current())
        return;
    m_playlists.supersede(); // taken: nothing is awaited any more
    parsePlaylist(playlist, source);
    if (!m_playlist.segments.isEmpty()
        && m_pendingStart > m_playlist.segments.first().start + tun::kPendingStartSlack.count()) {
        const double s = m_pendingStart;
        m_pendingStart = 0;
        startCloudFrom(s);
        return;
    }
    m_pendingStart = 0;
    beginPlay(QStringLiteral("Starting playback…"));
    m_player->options().live = false;
    play(QString(), m_playlist.text, 0);
}

void StagePages::startCloudFrom(double second)
{
    if (m_playlist.segments.isEmpty())
        return;
    const CloudJump jump = planCloudJump(m_playlist, second);
    qCWarning(lcView).noquote() << QStringLiteral("[cloud] jump to %1: segment %2 of %3, skipping %4 s into it")
                                       .arg(TimelineBar::clock(second))
                                       .arg(jump.index + 1)
                                       .arg(m_playlist.segments.size())
                                       .arg(jump.skip, 0, 'f', 1);
    beginPlay(QStringLiteral("Jumping to %1…").arg(TimelineBar::clock(second)));
    m_elapsedOffset = jump.elapsedOffset;
    m_positionBase = -1;
    m_playheadSecond = second;
    m_timeline->setPlayhead(second);
    showTime(second);
    m_player->options().live = false;
    play(QString(), jump.playlist, jump.skip);
}

double StagePages::elapsedToDay(double elapsed) const
{
    return view::elapsedToDay(m_playlist.segments, m_dayOffset, elapsed);
}

double StagePages::dayToElapsed(double second) const
{
    return view::dayToElapsed(m_playlist.segments, second);
}

// ---- Snapshots ---------------------------------------------------------------------

void StagePages::saveSnapshot()
{
    const QPoint at = m_snapshotButton->mapToGlobal(QPoint(0, -tun::kTooltipLift_px));
    const QImage picture = m_stage->currentFrame();
    if (picture.isNull()) {
        QToolTip::showText(at, snapshot::kNoPicture, m_snapshotButton);
        return;
    }
    const QString stamp = m_mode == Mode::LiveView ? snapshot::liveStamp(snapshot::localNow())
                                                   : snapshot::playbackStamp(m_dayPicker->date(), m_playheadSecond);
    const snapshot::Outcome out = snapshot::save(picture, m_title, stamp);
    QToolTip::showText(at, out.said, m_snapshotButton);
    if (out.saved)
        qCWarning(lcView).noquote() << "[snapshot]" << out.path;
    else
        qCWarning(lcView).noquote() << QStringLiteral("[snapshot] failed: ") + out.path << "(" + out.detail + ")";
}

} // namespace kvr::view
