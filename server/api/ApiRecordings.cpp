// Recording calendars, availability, cloud days and cloud playlists.
#include "server/api/ApiClient.h"

#include "server/api/ApiJson.h"
#include "server/api/ApiReaders.h"
#include "server/api/ApiRules.h"
#include "server/api/Logging.h"

#include <QElapsedTimer>
#include <QNetworkReply>
#include <QTimer>

namespace kvr::api {

namespace {

// The answer of a playback feature a recorder may lack. A request that failed
// says nothing about the feature, so its error goes with "supported".
template <typename Answer, typename Value>
auto featureAnswer(std::function<void(const Value&, bool supported, const QString& error)> callback,
                   Answer (*read)(const QJsonObject&), Value Answer::*field)
{
    return [callback = std::move(callback), read, field](const QJsonObject& answer, int status, const QString& error) {
        if (!callback)
            return;
        if (status == 0 || status >= 400) {
            callback({}, true, error);
            return;
        }
        const Answer a = read(answer);
        callback(a.*field, a.supported, QString());
    };
}

} // namespace

void ApiClient::fetchPlaybackCalendar(
    const QString& deviceId, int channel, int year, int month,
    std::function<void(const QList<QDate>&, bool supported, const QString& error)> callback, QObject* context)
{
    callback = tied(context, std::move(callback));
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("device_id"), deviceId);
    q.addQueryItem(QStringLiteral("year"), QString::number(year));
    q.addQueryItem(QStringLiteral("month"), QString::number(month));
    q.addQueryItem(QStringLiteral("channel_id"), QString::number(channel));
    getJson(QStringLiteral("/v2/api/playback/calendar/"), true,
            featureAnswer(callback, readPlaybackCalendar, &CalendarAnswer::days), q);
}

void ApiClient::fetchPlaybackAvailability(
    const QString& cameraId, const QDate& date,
    std::function<void(const QList<std::pair<double, double>>&, bool supported, const QString& error)> callback,
    QObject* context)
{
    callback = tied(context, std::move(callback));
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("camera_id"), cameraId);
    q.addQueryItem(QStringLiteral("date"), date.toString(QStringLiteral("yyyy-MM-dd")));
    getJson(QStringLiteral("/v2/api/playback/availability/"), true,
            featureAnswer(callback, readPlaybackAvailability, &AvailabilityAnswer::ranges), q);
}

void ApiClient::fetchCloudDates(const QString& deviceId, const QString& cameraId,
                                std::function<void(const QList<QDate>&, const QString& error)> callback,
                                QObject* context)
{
    callback = tied(context, std::move(callback));
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("device_id"), deviceId);
    q.addQueryItem(QStringLiteral("stream_type"), m_cloudStreamType);
    getJson(
        QStringLiteral("/v2/api/cloud/recording/dates/"), true,
        [callback, cameraId](const QJsonObject& answer, int status, const QString& error) {
            if (!callback)
                return;
            if (status == 0 || status >= 400)
                callback({}, error);
            else
                callback(readCloudDates(answer, cameraId), QString());
        },
        q);
}

void ApiClient::fetchCloudPlaylist(
    const CloudPlayRequest& request,
    std::function<void(const QByteArray& playlist, const QUrl& address, const QString& error)> callback, bool retried,
    QObject* context)
{
    callback = tied(context, std::move(callback));
    if (heldForEndedSession(true, QStringLiteral("/v2/api/cloud/playback/"))) {
        QTimer::singleShot(0, this, [callback] {
            if (callback)
                callback(QByteArray(), QUrl(), ApiRules::sessionExpiredText());
        });
        return;
    }
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("camera_id"), request.cameraId);
    q.addQueryItem(QStringLiteral("date"), request.date.toString(QStringLiteral("yyyy-MM-dd")));
    q.addQueryItem(QStringLiteral("start_time"), cloudTimeText(request.startTime));
    q.addQueryItem(QStringLiteral("end_time"), cloudTimeText(request.endTime));
    q.addQueryItem(QStringLiteral("stream_type"), m_cloudStreamType);
    QNetworkRequest req = makeRequest(QStringLiteral("/v2/api/cloud/playback/"), true, false, q);
    req.setRawHeader("Accept", "application/vnd.apple.mpegurl, application/json");
    qCWarning(lcApi).noquote() << "[cloud] requesting playlist:" << q.toString(QUrl::FullyDecoded);
    QElapsedTimer clock;
    clock.start();
    const QString sentToken = m_accessToken;
    const QUrl address = req.url();
    exchange({req, "GET", {}}, [this, request, callback, retried, clock, sentToken, address](const ReplyOutcome& out) {
        if (out.status == 401 && !retried && !m_refreshToken.isEmpty()) {
            if (!m_accessToken.isEmpty() && m_accessToken != sentToken) {
                fetchCloudPlaylist(request, callback, true); // renewed meanwhile
                return;
            }
            qCWarning(lcApi).noquote() << "[cloud] playlist 401: renewing the session and retrying";
            refreshSession([this, request, callback](bool ok) {
                if (ok)
                    fetchCloudPlaylist(request, callback, true);
                else if (callback)
                    callback(QByteArray(), QUrl(), ApiRules::sessionExpiredText());
            });
            return;
        }
        const bool playlist = out.status == 200 && looksLikePlaylist(out.body);
        qCWarning(lcApi).noquote() << QStringLiteral("[cloud] playlist HTTP %1, %2 bytes in %3 ms")
                                          .arg(out.status)
                                          .arg(out.body.size())
                                          .arg(clock.elapsed())
                                   << (playlist ? QString() : redactUrl(QString::fromUtf8(out.body.left(160))))
                                   << out.networkText;
        const QString transportError = out.status != 0 ? QString()
            : out.words.isEmpty()                      ? QStringLiteral("No answer from the server.")
                                                       : out.words;
        const PlaylistOutcome result = readCloudPlaylist(out.status, out.body, transportError);
        if (callback)
            callback(result.playlist, address, result.error);
    });
}

} // namespace kvr::api
