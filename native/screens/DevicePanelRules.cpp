#include "native/screens/DevicePanelRules.h"
#include "app/core/ShownText.h"

#include "native/screens/FleetRules.h"
#include "native/services/Brands.h"
#include "native/services/NativeStore.h"
#include "native/services/Verdicts.h"

#include <QLocale>

using namespace kvr::services;

namespace kvr::screens {

using namespace NativeStyle;

namespace DevicePanelRules {

QString typeLabel(const QString& type)
{
    const QString upper = kvr::core::shownText(type).toUpper();
    return upper == QLatin1String("IPCAMERA") ? QStringLiteral("IP camera") : upper;
}

QString shortTime(const QDateTime& moment, const QDateTime& now)
{
    if (!moment.isValid())
        return {};
    const QDateTime local = moment.toLocalTime();
    if (local.date() == now.toLocalTime().date())
        return local.toString(QStringLiteral("HH:mm"));
    return QLocale::c().toString(local, QStringLiteral("d MMM HH:mm"));
}

HeaderStatus headerStatus(const Native::Device& d, bool busy, const QDateTime& now)
{
    if (!d.enabled)
        return {Disc::Unknown, QStringLiteral("Deactivated"), kvr::core::shownText(d.disabledReason)};
    if (busy)
        return {Disc::Unknown, QStringLiteral("Checking"), QString()};
    if (d.health.checkedAt.isValid()) {
        const QString note = QStringLiteral("Last checked %1").arg(shortTime(d.health.checkedAt, now));
        if (d.health.device == Native::Passed)
            return {Disc::Up, QStringLiteral("Online"), note};
        return {Disc::Down, QStringLiteral("Offline"), note};
    }
    return {Disc::Unknown, QStringLiteral("Not checked"), QString()};
}

ChipText checkChip(int state, const QString& pass, const QString& fail, const QString& unknown, bool busy)
{
    if (busy)
        return {QStringLiteral("Checking"), Chip::Info, {}};
    if (state == Native::Passed)
        return {pass, Chip::Pass, {}};
    if (state == Native::Failed)
        return {fail, Chip::Fail, {}};
    return {unknown, Chip::Unknown, {}};
}

ChipText networkChip(const Native::Health& h, bool busy)
{
    if (busy)
        return {QStringLiteral("Checking"), Chip::Info, {}};
    if (h.quality.isEmpty())
        return {QStringLiteral("Not checked"), Chip::Unknown, {}};
    const Chip kind = h.quality == QLatin1String("Good") ? Chip::Pass
        : h.quality == QLatin1String("Degraded")         ? Chip::Warn
                                                         : Chip::Poor;
    return {QStringLiteral("%1 · %2 ms").arg(h.quality).arg(h.latencyMs), kind,
            QStringLiteral("%1% of connection attempts failed").arg(h.lossPercent)};
}

ChipText loginChip(int state, const Native::Health& h, const QString& unknown, bool busy)
{
    ChipText c = checkChip(state, QStringLiteral("Passed"), QStringLiteral("Failed"), unknown, busy);
    // The device let the login through and then failed its answer: the
    // login is no reason to doubt the password.
    if (!busy && state == Native::Passed && h.device == Native::Failed && !h.error.isEmpty())
        c.tip = QStringLiteral("The login passed; then: %1").arg(h.error);
    return c;
}

ChipText diskChip(const Native::Health& h)
{
    if (h.hdd == QLatin1String("Fault"))
        return {QStringLiteral("Fault"), Chip::Fail, {}};
    if (h.hdd == QLatin1String("OK"))
        return {QStringLiteral("OK"), Chip::Pass, {}};
    if (const Native::Unread* u = h.unreadOf(Native::Detail::Disks))
        return {QStringLiteral("Unknown"), Chip::Warn, QStringLiteral("Not read at the last check: %1").arg(u->reason)};
    return {QStringLiteral("Not checked"), Chip::Unknown, {}};
}

ChipText recordingChip(const Native::Device& d)
{
    const Native::Health& h = d.health;
    if (h.recordingDays >= 0 && h.recordingWindow >= 1) {
        const FleetRules::RecordingLevel level = FleetRules::recordingLevel(h.recordingDays, h.recordingWindow);
        return {QStringLiteral("%1 of %2 days").arg(h.recordingDays).arg(h.recordingWindow),
                level == FleetRules::RecordingLevel::Good        ? Chip::Pass
                    : level == FleetRules::RecordingLevel::Short ? Chip::Warn
                                                                 : Chip::Fail,
                {}};
    }
    if (NativeBrand::calendarSupported(d))
        return {QStringLiteral("Not checked"), Chip::Unknown, {}};
    return {};
}

QString emptyField(const Native::Health& h)
{
    const bool never =
        h.model.isEmpty() && h.deviceName.isEmpty() && h.serial.isEmpty() && h.firmware.isEmpty() && h.mac.isEmpty();
    return never ? QStringLiteral("Not fetched yet") : QStringLiteral("—");
}

int testLiveChannel(const Native::Device& d)
{
    for (int c = 1; c <= d.channels; ++c)
        if (!d.isIgnored(c))
            return c;
    return 1;
}

ChipText percentChip(double percent)
{
    if (percent < 0)
        return {QStringLiteral("No data yet"), Chip::Unknown, {}};
    return {QStringLiteral("%1% up").arg(percent, 0, 'f', 1),
            percent >= 99.0       ? Chip::Pass
                : percent >= 90.0 ? Chip::Warn
                                  : Chip::Fail,
            {}};
}

QString cameraDisplayName(const Native::Camera& camera)
{
    const QString label = Native::cameraLabel(camera);
    const QString prefix = QStringLiteral("%1_").arg(camera.channelId);
    if (label.startsWith(prefix) && label.size() > prefix.size())
        return label.mid(prefix.size());
    return label;
}

std::optional<Native::Device> findDevice(const NativeContext& c, const QString& id)
{
    if (!c.store || id.isEmpty())
        return std::nullopt;
    return c.store->device(id);
}

} // namespace DevicePanelRules

} // namespace kvr::screens
