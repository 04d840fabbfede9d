#pragma once

// The value records native mode passes around: sites, devices with their
// health block and cameras, the outcome of one probe, and the uptime grid
// cell. Plain values with copy semantics; the store owns the inventory and
// hands out copies or pointers into its lists.

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

namespace kvr::services {

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

// A part of a device's details that a fetch reads from an answer of its own.
enum class Detail : int {
    Clock = 0,
    Disks = 1,
    CameraStates = 2,
    ChannelNames = 3,
    Firmware = 4,
    DeviceName = 5,
};

// A part the latest details fetch asked for and could not read (no whole
// answer came, or what came reads as nothing), and why. A part the device
// does not offer (it answers 404 and the like) is not one.
struct Unread {
    Detail part = Detail::Disks;
    QString reason; // the failed answer's sentence
    bool operator==(const Unread&) const = default;
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
    QDateTime deviceTimeAt;  // when that clock answer arrived here
    int recordingDays = -1;  // -1: not counted
    int recordingWindow = 0; // days searched
    QString error;           // latest failure sentence, empty when none
    QDateTime lastUp;        // last time the device itself answered
    QDateTime fetchedAt;     // when details were last fetched
    // What the latest details fetch could not read, in the order asked: the
    // states among them (disks, cameras) are unknown now, the facts (names,
    // firmware, the clock's offset) stand as the last good answer gave them.
    QList<Unread> unread;

    bool operator==(const Health&) const = default;

    // Why the latest fetch could not read the part; null when it could.
    const Unread* unreadOf(Detail part) const
    {
        for (const Unread& u : unread)
            if (u.part == part)
                return &u;
        return nullptr;
    }
};

// What a camera's two flags say together.
enum class CameraState {
    Unknown, // no probe has reported the camera's state
    Online,
    Offline,
};

struct Camera {
    int channelId = 1; // 1-based channel number
    QString name;      // empty: no name yet
    bool online = false;
    bool onlineKnown = false;
    QDateTime lastOnline;
    QDateTime lastOffline;
    int blur = 0; // 1..100 threshold; 0 not set

    bool operator==(const Camera&) const = default;

    CameraState state() const
    {
        if (!onlineKnown)
            return CameraState::Unknown;
        return online ? CameraState::Online : CameraState::Offline;
    }
};

// A device as every native screen shows it (cards, filters, table rows).
enum class DeviceStatus {
    Deactivated, // not enabled
    NotChecked,  // enabled, never checked
    Online,      // checked, and the device itself answered
    Offline,     // checked, any other device state
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
    // The channels above the count that were once shown: their cameras (the
    // names and settings a person gave them) and their ignored marks, kept so
    // that a count lowered and raised again gets them back. Ascending, each
    // within channels+1..kMaxChannels; never shown, checked or counted.
    QList<Camera> hiddenCameras;
    QList<int> hiddenIgnored;

    bool operator==(const Device&) const = default;

    bool isIgnored(int channel) const { return ignored.contains(channel); }

    DeviceStatus status() const
    {
        if (!enabled)
            return DeviceStatus::Deactivated;
        if (!health.checkedAt.isValid())
            return DeviceStatus::NotChecked;
        return health.device == Passed ? DeviceStatus::Online : DeviceStatus::Offline;
    }

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

// What kind of failure a request or a check met. Code decides on the kind;
// the sentence beside it is for people.
enum class Failure {
    None,
    BadAddress,        // an address or port nothing is sent to
    ConnectionRefused, // the port refused the connection
    HostNotFound,
    ConnectionClosed, // the device closed the connection without an answer
    Timeout,          // no answer in time
    Network,          // any other network failure
    TooLarge,         // the answer passed its size limit
    Redirected,       // the device sent the request to another host
    LoginRefused,     // the device refused the user name or password (401)
    HttpStatus,       // an HTTP answer other than the one expected
    Offline,          // probe: no port answered
    HttpPortClosed,   // probe: the RTSP port answered, the HTTP port did not
    Unreadable,       // an answer came that cannot be read: no HTTP, or a body in a coding not understood
};

// The state of a device's live event stream. The numbers are fixed: readers
// compare them.
enum class Link : int {
    Off = 0,         // no stream (only used to remove a status)
    Connecting = 1,  // request sent, no answer yet
    Live = 2,        // answered 200, stream open
    Refused = 3,     // answered 401
    Unsupported = 4, // answered 403, 404, 405 or 501
    Lost = 5,        // ended or failed otherwise; retried
};

struct LinkStatus {
    Link link = Link::Off;
    QString text;       // for the user; empty for Connecting and Live
    QDateTime since;    // last change of link
    QDateTime lastData; // last headers or bytes with status 200
    // When the stream began to fail: kept through its retries (each goes
    // Connecting, then fails again) until a stream that worked ends; invalid
    // when it never failed since it last worked.
    QDateTime failingSince{};
    QString failure{}; // what the latest failure said, kept while a retry is under way
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
    // The kind of the failure health.error describes; None on success.
    Failure failure = Failure::None;
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

} // namespace kvr::services
