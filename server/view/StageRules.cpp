#include "server/view/StageRules.h"

#include "app/core/Clock.h"
#include "app/ui/TimelineBar.h"
#include "server/view/Tunables.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

using namespace kvr::ui;

namespace kvr::view {

namespace StageRules {

ModeLook modeLook(Mode mode)
{
    ModeLook look;
    switch (mode) {
    case Mode::LiveView:
        look.badge = QStringLiteral("LIVE");
        look.badgeProperty = QStringLiteral("live");
        look.accent = Theme::Colour::Live;
        look.pulsing = true;
        look.autoReconnect = true;
        look.mainSub = true;
        break;
    case Mode::DevicePlayback:
        look.badge = QStringLiteral("DEVICE PLAYBACK");
        look.badgeProperty = QStringLiteral("device");
        look.accent = Theme::Colour::Accent;
        look.playbackControls = true;
        look.playFromStart = true;
        break;
    case Mode::CloudPlayback:
        look.badge = QStringLiteral("CLOUD PLAYBACK");
        look.badgeProperty = QStringLiteral("cloud");
        look.accent = Theme::Colour::Cloud;
        look.playbackControls = true;
        look.speeds = true;
        break;
    }
    return look;
}

QList<double> playbackSpeeds()
{
    return {1.0, 1.25, 1.5, 2.0, 4.0, 8.0, 16.0};
}

QString speedText(double speed)
{
    // The shortest decimal form: 1, 1.25, 16.
    return QStringLiteral("%1×").arg(QLocale::c().toString(speed, 'g', QLocale::FloatingPointShortest));
}

SpeedEffect speedEffect(double speed)
{
    SpeedEffect effect;
    effect.rate = speed;
    effect.keyframesOnly = speed >= kKeyframesFromSpeed;
    effect.soundEnabled = speed == 1.0;
    return effect;
}

StatusView statusView(Mode mode, const QString& headline, const QString& detail, kvr::video::PlayerFailure failure)
{
    StatusView view{headline, detail, mode == Mode::LiveView};
    if (mode == Mode::DevicePlayback && failure == kvr::video::PlayerFailure::NotFound) {
        view.headline = QStringLiteral("No recording on the device for this time.");
        view.detail.clear();
    }
    return view;
}

double recordingStart(double second)
{
    return std::floor(clampToDay(second) / 60.0) * 60.0;
}

double clampToDay(double second)
{
    if (std::isnan(second))
        return 0.0;
    return std::clamp(second, 0.0, double(tun::kLastSecond.count()));
}

double snapToFootage(double second, const FootageBlocks& blocks, bool known)
{
    if (!known || blocks.isEmpty())
        return second;
    for (const auto& [start, end] : blocks) {
        if (start <= second && second < end)
            return second;
    }
    for (const auto& block : blocks) {
        if (block.first > second)
            return block.first;
    }
    return blocks.last().first;
}

QString clockText(double second)
{
    return TimelineBar::clock(second);
}

QString cloudEndText(const QDate& day, const QDate& today)
{
    return day < today ? QStringLiteral("23:59") : QStringLiteral("current");
}

int secondOfTime(const QTime& time)
{
    return time.isValid() ? time.msecsSinceStartOfDay() / 1000 : 0;
}

} // namespace StageRules

} // namespace kvr::view
