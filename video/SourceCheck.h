#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class QNetworkAccessManager;

namespace kvr::video {

// A cheap question to a stream's source, asked without playing it: whether
// an RTSP address's path is served now (its DESCRIBE is answered 200), or
// whether a playlist answers, and with what. No media is read and no decoder
// starts, so a wall may ask it of each of its failed tiles every few seconds,
// and start a tile again once its source answers instead of waiting out a
// retry grown over earlier failures. GUI thread; each question ends within
// tun::kSourceCheckTimeout and reads a bounded answer.
class SourceCheck : public QObject {
    Q_OBJECT
public:
    struct Answer {
        bool answers = false; // the path is served, or a playlist came
        // A playlist's digest (empty for RTSP): two answers with one digest
        // are a playlist that did not move on between them.
        QByteArray playlist;
    };
    using Done = std::function<void(const Answer&)>;

    explicit SourceCheck(QObject* parent = nullptr);
    ~SourceCheck() override;

    // Asks the address (rtsp, rtsps, http or https). The bearer token goes
    // only where the player would send it (tokenAllowed). `done` runs once,
    // on this thread, unless `context` or this object is gone by then.
    void ask(const QString& url, const QString& token, const QString& tokenOrigin, QObject* context, Done done);
    // Questions not answered yet.
    int underWay() const { return m_underWay; }

private:
    void askRtsp(const QString& url, QObject* context, Done done);
    void askPlaylist(const QString& url, const QString& token, const QString& tokenOrigin, QObject* context, Done done);

    QNetworkAccessManager* m_net = nullptr;
    int m_underWay = 0;
};

// The RTSP side, free of sockets: the DESCRIBE asked, and what an answer's
// head says. `authorization` is a whole header value, or empty.
namespace SourceCheckRules {

QByteArray describeRequest(const QString& url, int cseq, const QByteArray& authorization);
// The status of a complete head ("RTSP/1.0 200 OK ... \r\n\r\n"); 0 when it
// is not one.
int rtspStatus(const QByteArray& head);
// The Digest answer to a 401's challenge in `head`, for `method` of `uri`;
// empty when the head asks for no Digest (Basic is sent from the start).
QByteArray digestAuthorization(const QByteArray& head, const QByteArray& method, const QString& user,
                               const QString& password, const QString& uri, const QByteArray& cnonce);

} // namespace SourceCheckRules

} // namespace kvr::video
