#pragma once

#include "server/api/ApiTypes.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace kvr::shell {

// One row of a device-health table.
struct HealthRow {
    enum State { Unknown = 0, Pass = 1, Fail = 2 };

    QString key;   // "reachable", "ch-<channel id>", "main", ...
    QString label; // what the table shows for the check
    int state = Unknown;
    QString detail;
};

// How to reach a device directly.
struct DeviceConnection {
    QString host;
    int port = 554;
    QString user;
    QString password;
    QString serial;  // the device's serial, for brands whose libraries address by it
    int channel = 1; // the channel a direct session starts on
};

// A request for a direct live address.
struct LiveRequest {
    QString deviceId;
    QString cameraId;
    int channel = 1; // as the device counts, from 1
    bool mainStream = true;
};

// A request for a direct address of recorded video.
struct PlaybackRequest {
    QString deviceId;
    QString cameraId;
    int channel = 1;
    QDateTime start;
    QDateTime end;
};

// What the system knows about one device brand: which health checks its
// devices have and how their direct RTSP addresses are written.
class IBrandProvider {
public:
    virtual ~IBrandProvider() = default;
    virtual QString id() const = 0;
    virtual QString displayName() const = 0;
    virtual bool available() const = 0;
    virtual QString unavailableReason() const = 0;
    // The rows of a device's health table before any check ran.
    virtual QList<HealthRow> startHealth(const api::Device& device) = 0;
    // Runs the checks; `done` gets the rows later, on the main thread. The
    // callback must only touch objects that live as long as the process.
    virtual void refreshHealth(const api::Device& device, const DeviceConnection& connection,
                               std::function<void(QList<HealthRow>)> done) = 0;
    // Direct addresses; empty when none can be made.
    virtual QString liveUrl(const LiveRequest& request, const DeviceConnection& connection) const = 0;
    virtual QString devicePlaybackUrl(const PlaybackRequest& request, const DeviceConnection& connection) const = 0;
};

// The process-wide registry of brand providers, in order of registration,
// which is the order of lookup.
class BrandRegistry {
public:
    static BrandRegistry& instance();
    ~BrandRegistry();

    void add(std::unique_ptr<IBrandProvider> provider);
    // The provider whose id equals `brandId` exactly; otherwise the first
    // registered one. Null only while nothing is registered.
    IBrandProvider* get(const QString& brandId) const;
    int count() const { return int(m_providers.size()); }

private:
    BrandRegistry() = default;
    std::vector<std::unique_ptr<IBrandProvider>> m_providers;
};

// The built-in provider for the catalogue's default brand ("imou", which the
// server client also gives devices of Dahua or of no brand).
class ImouProvider final : public IBrandProvider {
public:
    ImouProvider();
    QString id() const override { return QStringLiteral("imou"); }
    QString displayName() const override { return QStringLiteral("Imou / Dahua"); }
    bool available() const override { return true; }
    QString unavailableReason() const override { return m_unavailableReason; }
    QList<HealthRow> startHealth(const api::Device& device) override;
    void refreshHealth(const api::Device& device, const DeviceConnection& connection,
                       std::function<void(QList<HealthRow>)> done) override;
    QString liveUrl(const LiveRequest& request, const DeviceConnection& connection) const override;
    QString devicePlaybackUrl(const PlaybackRequest& request, const DeviceConnection& connection) const override;

private:
    QString m_unavailableReason;
};

} // namespace kvr::shell
