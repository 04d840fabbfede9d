#include "server/shell/BrandRegistry.h"

#include "server/shell/Tunables.h"

#include <QTimer>

using namespace kvr::api;

namespace kvr::shell {

BrandRegistry& BrandRegistry::instance()
{
    // Filled at start-up and read afterwards, on the main thread only.
    static BrandRegistry registry;
    return registry;
}

BrandRegistry::~BrandRegistry()
{
    // The last registered provider goes first.
    while (!m_providers.empty())
        m_providers.pop_back();
}

void BrandRegistry::add(std::unique_ptr<IBrandProvider> provider)
{
    if (provider)
        m_providers.push_back(std::move(provider));
}

IBrandProvider* BrandRegistry::get(const QString& brandId) const
{
    for (const auto& p : m_providers)
        if (p->id() == brandId)
            return p.get();
    return m_providers.empty() ? nullptr : m_providers.front().get();
}

ImouProvider::ImouProvider()
    : m_unavailableReason(QStringLiteral(
        "The Imou device SDK is a Windows library. On this computer, live and device playback can use RTSP "
        "through the native player when connection fields are available."))
{}

QList<HealthRow> ImouProvider::startHealth(const Device& device)
{
    const QString checking = QStringLiteral("Checking");
    QList<HealthRow> rows;
    rows.append({QStringLiteral("reachable"), QStringLiteral("Device reachable"), HealthRow::Unknown, checking});
    for (const Channel& c : device.channels)
        rows.append({QStringLiteral("ch-") + c.id, c.name, HealthRow::Unknown, checking});
    rows.append({QStringLiteral("main"), QStringLiteral("Main stream"), HealthRow::Unknown, checking});
    rows.append({QStringLiteral("sub"), QStringLiteral("Sub stream"), HealthRow::Unknown, checking});
    rows.append({QStringLiteral("alarm"), QStringLiteral("Alarm"), HealthRow::Unknown, checking});
    rows.append({QStringLiteral("recording"), QStringLiteral("Recording"), HealthRow::Unknown, checking});
    rows.append({QStringLiteral("ptz"), QStringLiteral("PTZ"), HealthRow::Unknown, checking});
    return rows;
}

void ImouProvider::refreshHealth(const Device& device, const DeviceConnection& /*connection*/,
                                 std::function<void(QList<HealthRow>)> done)
{
    // Through the interface, so that a provider overriding startHealth gets its own rows.
    QList<HealthRow> rows = static_cast<IBrandProvider*>(this)->startHealth(device);
    // This brand's checks need its own device library, which does not run
    // here: every check ends without a result.
    QTimer::singleShot(tun::kHealthAnswerDelay, Qt::PreciseTimer, [rows, done]() mutable {
        for (HealthRow& r : rows) {
            r.state = HealthRow::Unknown;
            r.detail = QStringLiteral("No result");
        }
        done(rows);
    });
}

QString ImouProvider::liveUrl(const LiveRequest& request, const DeviceConnection& c) const
{
    if (c.host.isEmpty())
        return {};
    // One pass, so that a '%' in the account cannot be taken for a placeholder.
    return QStringLiteral("rtsp://%1:%2@%3:%4/cam/realmonitor?channel=%5&subtype=%6")
        .arg(c.user, c.password, c.host, QString::number(c.port), QString::number(request.channel),
             QString::number(request.mainStream ? 0 : 1));
}

QString ImouProvider::devicePlaybackUrl(const PlaybackRequest& request, const DeviceConnection& c) const
{
    if (c.host.isEmpty())
        return {};
    const QString format = QStringLiteral("yyyy_MM_dd_HH_mm_ss");
    return QStringLiteral("rtsp://%1:%2@%3:%4/cam/playback?channel=%5&starttime=%6&endtime=%7")
        .arg(c.user, c.password, c.host, QString::number(c.port), QString::number(request.channel),
             request.start.toString(format), request.end.toString(format));
}

} // namespace kvr::shell
