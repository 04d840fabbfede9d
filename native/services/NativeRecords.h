#pragma once

// The value records native mode passes around: sites, devices with their
// health block and cameras, the outcome of one probe, and the uptime grid
// cell. Plain values with copy semantics; the store owns the inventory and
// hands out copies or pointers into its lists.

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

namespace Native {

// The six check states of a health block. Stored and compared as plain
// ints; a number read from a file that is not one of these counts as
// NotTested.
enum State : int {
    NotTested = 0, // never checked
    Failed = 1,    // closed, unreachable, refused
    Passed = 2,    // good / up / open / accepted
};

struct Site {
    QString id; // random UUID text without braces, given by the store
    QString name;
    QString address;
    QString contact;
    QString isp;
    QString sim;
    QString notes;
};

// The result of a device's latest probe. A default-constructed block is the
// "fresh" block of a new device or of one whose connection changed.
struct Health {
    QDateTime checkedAt; // when the latest probe result was applied
    int internet = NotTested;
    int device = NotTested;
    int httpPort = NotTested;
    int rtspPort = NotTested;
    int digest = NotTested;
    int basic = NotTested;
    int latencyMs = -1;   // -1: not measured
    int lossPercent = -1; // -1: not measured
    QString quality;      // "Good", "Degraded", "Poor" or empty
    QString hdd;          // "OK", "Fault" or empty when unknown
    QString model;
    QString deviceName;
    QString serial;
    QString firmware;
    QString mac;
    QString deviceTime;      // the device's clock as it reported it
    int recordingDays = -1;  // -1: not counted
    int recordingWindow = 0; // days searched
    QString error;           // latest failure sentence, empty when none
    QDateTime lastUp;        // last time the device itself answered
    QDateTime fetchedAt;     // when details were last fetched
};

struct Camera {
    int channelId = 1; // 1-based channel number
    QString name;      // empty: no name yet
    bool online = false;
    bool onlineKnown = false;
    QDateTime lastOnline;
    QDateTime lastOffline;
    int blur = 0; // 1..100 threshold; 0 not set
};

inline constexpr int kMinChannels = 1;
inline constexpr int kMaxChannels = 256;

struct Device {
    QString id;
    QString siteId;
    QString name;
    QString ip; // host name or IP address, never with port, path or user
    int httpPort = 80;
    int rtspPort = 554;
    int serverPort = 8000;
    QString username;
    QString password;
    QString manufacturer = QStringLiteral("HIKVISION");
    QString type = QStringLiteral("nvr");
    int channels = 1;   // kept within kMinChannels..kMaxChannels
    QList<int> ignored; // channel numbers the user excludes
    bool enabled = true;
    QString disabledReason;
    QDateTime createdAt;
    Health health;
    QList<Camera> cameras; // one per channel 1..channels, in channel order

    bool isIgnored(int channel) const { return ignored.contains(channel); }

    // Cameras not ignored whose online state is known and online.
    int onlineCameras() const
    {
        int n = 0;
        for (const Camera& c : cameras)
            if (!isIgnored(c.channelId) && c.online && c.onlineKnown)
                ++n;
        return n;
    }

    // Cameras not ignored.
    int totalCameras() const
    {
        int n = 0;
        for (const Camera& c : cameras)
            if (!isIgnored(c.channelId))
                ++n;
        return n;
    }

    // The first camera with this channel number, or null.
    Camera* camera(int channel)
    {
        for (Camera& c : cameras)
            if (c.channelId == channel)
                return &c;
        return nullptr;
    }
    const Camera* camera(int channel) const
    {
        for (const Camera& c : cameras)
            if (c.channelId == channel)
                return &c;
        return nullptr;
    }
};

// One channel as a device reports it during a details fetch.
struct ChannelInfo {
    int channel = 0; // the device's channel number, counted from 1
    QString name;    // may be empty
    bool onlineKnown = false;
    bool online = false; // meaningful only when onlineKnown
};

// The outcome of one probe job (the probe calls it NativeProbe::Outcome).
// A default-constructed result is the probe's fresh outcome.
struct ProbeResult {
    Health health;
    bool detailsFetched = false;
    QList<ChannelInfo> channels; // ascending by channel number
    bool channelsKnown = false;
    bool loginRefused = false; // kept by the scheduler, not by the store
};

// Which uptime series an uptime grid shows.
enum class GraphType : int {
    Internet = 0,
    Device = 1,
    Camera = 2,
};

// One hour of an uptime grid.
struct UptimeCell {
    QDate date;
    int hour = 0;     // 0..23
    int minutes = -1; // 0..60; -1 unknown
};

} // namespace Native
