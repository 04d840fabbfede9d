#pragma once

#include "server/api/ApiTypes.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <utility>

namespace kvr::api {

// Readers that turn the server's answers into records. Pure functions: each
// takes the answer object (and its HTTP status where that matters) and
// returns what the client hands on.

// Sign-in, code check and refresh answers.
LoginStart parseLoginStart(const QJsonObject& answer, int status, const QString& transportError);
// Answer to a request for a new one-time code.
LoginStart parseResendAnswer(const QJsonObject& answer, int status, const QString& transportError);
UserProfile parseUserProfile(const QJsonObject& user);

// The text shown when the server cannot be reached; %1 is its host.
QString cannotReachText(const QString& host);
// A server that took the connection and the request and sent nothing back
// in time; `endpoint` is "host:port".
QString noAnswerText(const QString& endpoint);

// Catalogue lists.
QList<Site> readSites(const QJsonObject& answer);
// A record without a name is named from what is known of it: a site by its
// id, a device by its serial (else its id), a channel by its number.
QList<Device> readDevices(const QJsonObject& answer, const QString& siteId);
QList<Channel> readChannels(const QJsonObject& answer, const QString& deviceId);
// Whether an answer holds its list at all (see holdsList): an object where
// the list belongs, or no JSON at all, cannot be read as one.
bool devicesReadable(const QJsonObject& answer);
bool sitesReadable(const QJsonObject& answer);
bool channelsReadable(const QJsonObject& answer);
QString normaliseBrand(const QString& brand);

// Organisations, presets, status.
QList<Organisation> readOrganisations(const QJsonObject& answer);
QList<Preset> readPresets(const QJsonObject& answer);
QList<PresetCamera> readPresetCameras(const QJsonObject& answer);
struct SystemStatus {
    bool online = false;
    int streamCount = 0;
};
SystemStatus readSystemStatus(const QJsonObject& answer);

// Recordings.
struct CalendarAnswer {
    QList<QDate> days;
    bool supported = true;
};
CalendarAnswer readPlaybackCalendar(const QJsonObject& answer);
struct AvailabilityAnswer {
    QList<std::pair<double, double>> ranges;
    bool supported = true;
};
AvailabilityAnswer readPlaybackAvailability(const QJsonObject& answer);
QList<QDate> readCloudDates(const QJsonObject& answer, const QString& cameraId);
// "HH:mm" of a clock text; "current" unchanged.
QString cloudTimeText(const QString& text);
// Seconds of the day of a clock text ("HH:mm[:ss]", ISO date-times too); -1 when unreadable.
double clockToSeconds(const QString& text);
// Device-playback clock text: "HH:mm:00", or the text itself when short or "current".
QString playbackTimeText(const QString& text);

// Outcome of a cloud playlist answer: the playlist, or a text for the user.
struct PlaylistOutcome {
    QByteArray playlist;
    QString error;
};
PlaylistOutcome readCloudPlaylist(int status, const QByteArray& body, const QString& transportError);
// Whether a body is an HLS playlist (after leading white space).
bool looksLikePlaylist(const QByteArray& body);

// The RTSPS ticket of a start or lease answer.
struct StreamTicket {
    QString url;
    QString user = QStringLiteral("app");
    QString password;
    int ttlSecs = 0;
    bool usable() const { return !url.isEmpty() && !password.isEmpty(); }
};
StreamTicket readTicket(const QJsonObject& payload);

} // namespace kvr::api
