#pragma once

#include "server/api/ApiTypes.h"

#include <QObject>
#include <QString>

#include <functional>

namespace kvr::api {

// What a camera tile asks of the server to play one camera live: start the
// camera's stream for a holder, give it back, and hear when the server wants
// a holder to start it again. ApiClient implements it; screen tests put a
// fake with scripted, deferred answers in its place.
//
// A holder is named by its owner text: empty for the stage and the camera
// wall, "videowall" for the video wall. One holder has at most one stream per
// camera; different holders of one camera are independent.
class LiveStreamService : public QObject {
    Q_OBJECT
public:
    using StreamCallback = std::function<void(const StreamInfo& info, const QString& error)>;

    using QObject::QObject;

    // Starts the camera's live stream (Main or Sub) for the holder, after
    // giving back the holder's earlier stream of that camera. Calls back
    // exactly once, on the GUI thread, with one of:
    //  - a StreamInfo with a playable `url` and an empty error;
    //  - an empty StreamInfo whose `failure` tells the kind (Offline among
    //    them) and an error text for the user;
    //  - a StreamInfo with only `superseded` set and an empty error: a newer
    //    start or a stop of the same holder and camera overtook this one, and
    //    the caller does nothing.
    // With a context the callback is dropped once the context is destroyed
    // (see ApiClient.h).
    virtual void startLiveHls(const QString& cameraId, bool mainStream, StreamCallback callback,
                              const QString& owner = QString(), QObject* context = nullptr) = 0;

    // Gives the holder's stream of the camera back to the server (unless
    // another holder still plays the same stream); a start of it still under
    // way ends superseded. Calls nothing back.
    virtual void stopLiveCamera(const QString& cameraId, const QString& owner = QString()) = 0;

    // The address a holder played (its relay's or the public route's) answered
    // again: a route found unreachable a moment ago is not passed over at the
    // next start on that answer, kept for a few seconds, but asked afresh.
    virtual void sourceAnswers(const QString& url) { Q_UNUSED(url) }

Q_SIGNALS:
    // The server wants the camera restarted (its secure ticket ran out): the
    // holder stops and starts it again. streamNeedsRestart is for the holder
    // without owner, ownedStreamNeedsRestart for a named one.
    void streamNeedsRestart(const QString& cameraId);
    void ownedStreamNeedsRestart(const QString& owner, const QString& cameraId);
};

} // namespace kvr::api
