#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

namespace kvr::api {

// Records the server client reads from the server's answers and hands to its
// callers. Plain values, freely copied.

// Why an operation failed, beside the text shown to the user. Code decides on
// the kind, never on the wording of the text.
enum class ApiFailure : quint8 {
    None,        // no failure
    Unreachable, // no connection: refused, unknown host, certificate, a redirect elsewhere
    NoAnswer,    // connected, but no answer in time, or the connection dropped
    Throttled,   // the server asked to slow down (HTTP 429)
    ServerError, // the server failed (5xx) or gave an answer that cannot be used
    Refused,     // the server said no: credentials, a wrong code, a bad request
    Forbidden,   // the account may not do this (HTTP 403)
    NotFound,    // the user, camera or recording is not known to the server (HTTP 404)
    Expired,     // the session ended and could not be renewed
    Offline,     // the camera or its recorder is offline
};

// Whether a camera or device is online, where the server said so.
enum class OnlineState : quint8 { Unknown, Online, Offline };

inline OnlineState onlineStateOf(bool online, bool known)
{
    return !known ? OnlineState::Unknown : online ? OnlineState::Online : OnlineState::Offline;
}

// One camera of a device in the server catalogue.
struct Channel {
    QString id;
    QString deviceId;
    QString name;
    qint32 number = 0;
    bool online = false;
    bool onlineKnown = false;
    bool recordingEnabled = false;

    OnlineState onlineState() const { return onlineStateOf(online, onlineKnown); }
};

// A device of a site in the server catalogue.
struct Device {
    QString id;
    QString siteId;
    QString name;
    QString serial;
    QString brand; // always lower case
    bool online = false;
    bool onlineKnown = false;
    QDateTime checkedAt; // left invalid by the catalogue
    QList<Channel> channels;

    OnlineState onlineState() const { return onlineStateOf(online, onlineKnown); }
};

// A camera is known to be offline when it, or the device it belongs to, said so.
inline bool knownOffline(const Device& device, const Channel& channel)
{
    return device.onlineState() == OnlineState::Offline || channel.onlineState() == OnlineState::Offline;
}

// How a catalogue list (a site's devices, or the site list itself) came back.
enum class DeviceList : quint8 {
    Read,       // read (it may hold no device)
    Failed,     // no usable answer: none at all, or a server in trouble
    Unreadable, // answered, but with something other than a list
};

// A site of the chosen organisation.
struct Site {
    QString id;
    QString name;
    bool loading = false;
    QList<Device> devices;
    // A list that failed or could not be read is not a site without devices:
    // the site stays, and ApiClient::reloadSites asks again.
    DeviceList deviceList = DeviceList::Read;
    // The wait the server asked for before the list is asked for again
    // (Retry-After, bounded); 0 when it asked for none.
    qint64 retryAfterMs = 0;

    bool devicesFailed() const { return deviceList != DeviceList::Read; }
};

// The signed-in user.
struct UserProfile {
    QString username;
    QString firstName;
    QString role;
    QString organisationName;
    QString organisationId;
    bool canView = true;
    bool canAdd = false;
    bool canEdit = false;
    bool superuser = false;
    bool headOffice = false;
    bool recordingEnabled = false;
    QString cloudRecordingStreamType = QStringLiteral("MAIN");
    QString streamType;
};

// The result of one sign-in step (sign-in, code check, code resend, refresh).
struct LoginStart {
    enum Step { SignedIn = 0, CodeRequired = 1, MobileVerification = 2, Failed = 3 };

    qint32 step = Failed;
    QString accessToken;
    QString refreshToken;
    qint32 expiresIn = 0;
    QString userId;
    qint32 otpLength = 6;
    qint32 otpTime = 0;
    qint32 attempts = 0;
    QString contact;
    QUrl verificationLink;
    QString error;
    QString message;
    UserProfile user;
    bool userNotFound = false;
    bool otpResent = false;
    bool otpAlreadySent = false;
    bool rememberMe = false;
    // The kind of a failed step (None when the step did not fail).
    ApiFailure failure = ApiFailure::None;
};

// An organisation the user may choose.
struct Organisation {
    QString id;
    QString name;
    bool headOffice = false;
};

// A camera selection saved on the server.
struct Preset {
    QString id;
    QString name;
    QString updatedAt;
    QList<QString> cameraIds;
};

// One camera of a preset.
struct PresetCamera {
    QString id;
    QString name;
    QString deviceId;
    bool online = false;
    bool onlineKnown = false;

    OnlineState onlineState() const { return onlineStateOf(online, onlineKnown); }
};

// How a started stream reaches this computer, in falling order of preference.
enum class StreamRoute : quint8 {
    None,        // no stream (failed or superseded)
    PublicRtsps, // the server's public RTSPS address with the ticket's account
    Relay,       // the organisation's relay over RTSP
    Hls,         // HLS from the server itself
};

// One started server stream. A superseded result has every other field empty.
struct StreamInfo {
    bool publicRtsps = false;
    QString rtspUser;
    QString rtspPassword;
    bool hls = false;
    bool superseded = false;
    QString url;
    QString streamId;
    QString playId;
    QString cameraId;
    // The kind of a failed start (None when it did not fail or was superseded).
    ApiFailure failure = ApiFailure::None;

    StreamRoute route() const
    {
        if (url.isEmpty())
            return StreamRoute::None;
        return publicRtsps ? StreamRoute::PublicRtsps : hls ? StreamRoute::Hls : StreamRoute::Relay;
    }
};

// What a player needs to open the server's own streams (HLS, recordings,
// cloud segments): the session's access token, and the one origin it may be
// sent to, the server's own scheme, host and port ("https://vms.example.org"),
// never a relay's, another host's, nor another port or scheme of the same host.
struct StreamAccess {
    QString token;
    QString origin;
};

// A cloud-archive playback request.
struct CloudPlayRequest {
    QString cameraId;
    QDate date;
    QString startTime; // "HH:mm" or longer
    QString endTime;   // clock text, or "current"
};

} // namespace kvr::api
