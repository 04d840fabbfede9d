// The playback mode of the live wall page: the transport bar, the common
// playback clock, each tile's recording window and the footage shown on the
// timeline.

#include "app/core/Clock.h"
#include "app/ui/TimelineBar.h"
#include "native/live/LiveWallRules.h"
#include "native/live/PlaybackRules.h"
#include "native/live/Tunables.h"
#include "native/live/VmsPage.h"
#include "native/live/VmsTile.h"
#include "native/screens/NativeUi.h"
#include "native/services/Brands.h"
#include "native/services/CalendarDaySearch.h"
#include "native/services/NativeStore.h"

#include <QButtonGroup>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <memory>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::services;
using namespace kvr::screens;

namespace kvr::live {

namespace {
QDateTime localNow()
{
    return kvr::core::Clock::instance().nowUtc().toLocalTime();
}

// One coverage load: the cameras of the page, asked one after the other.
struct CoverageLoad {
    QStringList keys;
    int next = 0;
    QList<PlaybackRules::Block> blocks;
    bool complete = true;
    QDate day;
    RequestTicket ticket; // a newer load drops this one
};
} // namespace

QWidget* VmsPage::buildTransport()
{
    m_transportBar = new QWidget(this);
    m_transportBar->setObjectName(QStringLiteral("VBar"));
    m_transportBar->setAttribute(Qt::WA_StyledBackground);
    m_transportBar->hide();
    auto* column = new QVBoxLayout(m_transportBar);
    column->setContentsMargins(20, 10, 20, 8);
    column->setSpacing(6);
    // Groups that move onto a second line on a narrow page.
    auto* row = new WrapRow(nullptr, 16, 8);
    auto* when = new QWidget(m_transportBar);
    QHBoxLayout* whenRow = groupRow(when, 8);
    auto* steps = new QWidget(m_transportBar);
    QHBoxLayout* stepsRow = groupRow(steps, 8);

    const QDateTime now = localNow();
    m_dayEdit = new QDateEdit(now.date(), when);
    m_dayEdit->setCalendarPopup(true);
    m_dayEdit->setDisplayFormat(QStringLiteral("ddd d MMM yyyy"));
    m_dayEdit->setMaximumDate(now.date());
    m_dayEdit->setMinimumDate(now.date().addDays(-365));
    m_dayEdit->setAccessibleName(QStringLiteral("Playback day"));
    fitToWidestText(m_dayEdit);
    m_timeEdit = new QTimeEdit(now.addSecs(-1800).time(), when);
    m_timeEdit->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    m_timeEdit->setAccessibleName(QStringLiteral("Playback time"));
    fitToWidestText(m_timeEdit);
    m_playButton = NativeUi::button(QStringLiteral("Play"), "VPrimary");
    m_back30Button = NativeUi::button(QStringLiteral("\u221230 s"), "VBtn");
    m_back30Button->setAccessibleName(QStringLiteral("Back 30 seconds"));
    m_pauseButton = NativeUi::button(QStringLiteral("Pause"), "VBtn");
    m_forward30Button = NativeUi::button(QStringLiteral("+30 s"), "VBtn");
    m_forward30Button->setAccessibleName(QStringLiteral("Forward 30 seconds"));
    m_coverageNote = new QLabel(m_transportBar);
    m_coverageNote->setObjectName(QStringLiteral("VMuted"));
    m_statusLabel = new QLabel(m_transportBar);
    m_statusLabel->setObjectName(QStringLiteral("VTitle"));
    whenRow->addWidget(m_dayEdit);
    whenRow->addWidget(m_timeEdit);
    whenRow->addWidget(m_playButton);
    stepsRow->addWidget(m_back30Button);
    stepsRow->addWidget(m_pauseButton);
    stepsRow->addWidget(m_forward30Button);
    row->addLeading(when);
    row->addLeading(steps);
    row->addTrailing(m_coverageNote);
    row->addTrailing(m_statusLabel);
    column->addLayout(row);
    m_timeline = new TimelineBar(m_transportBar);
    m_timeline->setAccessibleName(QStringLiteral("Timeline"));
    column->addWidget(m_timeline);

    connect(m_playButton, &QPushButton::clicked, this,
            [this] { startPlaybackAt(QDateTime(m_dayEdit->date(), m_timeEdit->time())); });
    connect(m_pauseButton, &QPushButton::clicked, this, [this] {
        if (!m_started)
            return;
        if (!m_paused)
            pausePlayback();
        else
            startPlaybackAt(m_position);
    });
    connect(m_back30Button, &QPushButton::clicked, this, [this] { restartFromPosition(-30); });
    connect(m_forward30Button, &QPushButton::clicked, this, [this] { restartFromPosition(30); });
    connect(m_timeline, &TimelineBar::seekRequested, this, &VmsPage::onSeek);
    connect(m_dayEdit, &QDateEdit::dateChanged, this, &VmsPage::onDayChanged);
    return m_transportBar;
}

void VmsPage::restartFromPosition(int stepSeconds)
{
    startPlaybackAt(PlaybackRules::stepped(m_position, stepSeconds));
}

void VmsPage::onSeek(double second)
{
    startPlaybackAt(PlaybackRules::seekTarget(m_dayEdit->date(), second));
}

void VmsPage::onDayChanged()
{
    loadCoverage();
    if (m_started && !m_paused)
        startPlaybackAt(QDateTime(m_dayEdit->date(), m_position.time()));
}

void VmsPage::setMode(bool playback)
{
    if (m_playback == playback)
        return;
    m_playback = playback;
    if (QAbstractButton* b = m_modeGroup->button(playback ? 1 : 0))
        b->setChecked(true);
    m_transportBar->setVisible(playback);
    stopAllTiles();
    m_started = false;
    m_paused = false;
    m_clockBase = -1.0;
    if (playback) {
        const QDate today = localNow().date();
        const QSignalBlocker blocker(m_dayEdit);
        m_dayEdit->setMaximumDate(today);
        m_dayEdit->setDate(today);
    }
    rebuildWall();
}

void VmsPage::startPlaybackAt(const QDateTime& at)
{
    if (m_tiles.isEmpty())
        return;
    const QDateTime start = PlaybackRules::clampStart(at, localNow());
    const QDateTime end = PlaybackRules::windowEnd(start);
    m_playStart = m_position = start;
    m_clockTile = nullptr;
    m_clockBase = -1.0;
    m_started = true;
    m_paused = false;
    {
        const QSignalBlocker dayBlock(m_dayEdit);
        const QSignalBlocker timeBlock(m_timeEdit);
        m_dayEdit->setDate(start.date());
        m_timeEdit->setTime(start.time());
    }
    const bool main = tileUsesMainPlayback();
    stopAllTiles();
    const bool hardware = LiveWallRules::hardwareDecodeFor(int(m_tiles.size()));
    for (VmsTile* tile : std::as_const(m_tiles)) {
        tile->setPlayback(start, end);
        tile->setHardwareDecode(hardware);
        tile->startPaced(main);
    }
    updateTransport();
}

void VmsPage::resumePlayback()
{
    startPlaybackAt(m_position);
}

void VmsPage::pausePlayback()
{
    m_paused = true;
    stopAllTiles();
    for (VmsTile* tile : std::as_const(m_tiles))
        tile->showIdle(PlaybackRules::idleHeadline(true), PlaybackRules::idleDetail(true));
    updateTransport();
}

void VmsPage::setupPlaybackTile(VmsTile* tile)
{
    if (m_started && !m_paused && m_active) {
        const QDateTime start = m_position.isValid() ? m_position : m_playStart;
        m_playStart = start;
        tile->setPlayback(start, PlaybackRules::windowEnd(start));
        tile->startPaced(tileUsesMainPlayback());
        return;
    }
    tile->setPlayback(QDateTime(), QDateTime());
    tile->showIdle(PlaybackRules::idleHeadline(m_paused), PlaybackRules::idleDetail(m_paused));
}

void VmsPage::onTilePosition(VmsTile* tile, double seconds)
{
    if (!m_playback || !m_started || m_paused)
        return;
    if (!m_clockTile || m_clockTile->isFailed()) {
        m_clockTile = tile;
        m_clockBase = -1.0;
        if (!tile)
            return;
    }
    if (tile != m_clockTile)
        return;
    if (m_clockBase < 0)
        m_clockBase = seconds;
    if (const auto next = PlaybackRules::clockStep(m_playStart, m_clockBase, seconds, m_position)) {
        m_position = *next;
        updateTransport();
    }
}

void VmsPage::updateTransport()
{
    const PlaybackRules::Transport t =
        PlaybackRules::transportFor(!m_tiles.isEmpty(), m_started, m_paused, m_position, m_dayEdit->date());
    m_playButton->setEnabled(t.playEnabled);
    m_pauseButton->setEnabled(t.stepEnabled);
    m_back30Button->setEnabled(t.stepEnabled);
    m_forward30Button->setEnabled(t.stepEnabled);
    m_pauseButton->setText(t.pauseText);
    m_statusLabel->setText(t.status);
    m_timeline->setPlayhead(t.playhead);
}

void VmsPage::loadCoverage()
{
    const RequestTicket ticket = m_coverage.issue();
    m_timeline->setCoverage({}, false);
    m_coverageNote->clear();
    auto load = std::make_shared<CoverageLoad>();
    for (VmsTile* tile : std::as_const(m_tiles))
        load->keys << tile->key();
    load->day = m_dayEdit->date();
    load->ticket = ticket;
    if (load->keys.isEmpty())
        return;

    // The devices are asked one after the other; a newer load ends the chain.
    // The step holds itself only weakly: each pending answer keeps it alive,
    // so the chain is released with its last answer.
    auto step = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> weakStep = step;
    *step = [this, load, weakStep] {
        if (!load->ticket.current())
            return;
        while (load->next < load->keys.size()) {
            const LiveWallRules::TileKey key = LiveWallRules::parseTileKey(load->keys.at(load->next++));
            const std::optional<Native::Device> device =
                key.valid ? NativeStore::instance().device(key.deviceId) : std::nullopt;
            if (!device || !NativeBrand::calendarSupported(*device)) {
                load->complete = false;
                continue;
            }
            NativeCalendar::day(
                *device, key.channel, true, load->day,
                [load, next = weakStep.lock()](const QList<NativeCalendar::Clip>& clips, const QString& error) {
                    if (!load->ticket.current() || !next)
                        return;
                    if (!error.isEmpty())
                        load->complete = false;
                    else
                        PlaybackRules::appendClips(load->blocks, clips, load->day);
                    (*next)();
                });
            return;
        }
        const QList<PlaybackRules::Block> merged = PlaybackRules::mergeBlocks(load->blocks);
        // What was found shows, also while some cameras list no footage.
        m_timeline->setFoundCoverage(merged, load->complete);
        m_coverageNote->setText(PlaybackRules::coverageNote(load->complete, int(merged.size())));
    };
    (*step)();
}

} // namespace kvr::live
