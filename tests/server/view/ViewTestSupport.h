#pragma once

// Shared by the server-screen suites: a stand-in for the server's live
// streams whose answers the test gives when it likes, finding controls by
// what the user reads, and screenshots.

#include "app/context/AppContext.h"
#include "app/core/RequestTicket.h"
#include "server/api/LiveStreamService.h"
#include "server/view/CameraTile.h"
#include "tests/fixtures/orgserver/FakeOrgServer.h"
#include "tests/support/TestKit.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <vector>

namespace viewtest {

// Holds every live start until the test answers it: with an address, an
// error or as superseded.
class FakeStreams final : public kvr::api::LiveStreamService {
public:
    struct Start {
        QString cameraId;
        bool main = true;
        QString owner;
        StreamCallback callback;
        bool answered = false;
    };

    void startLiveHls(const QString& cameraId, bool mainStream, StreamCallback callback, const QString& owner,
                      QObject*) override
    {
        starts.append({cameraId, mainStream, owner, std::move(callback), false});
    }
    void stopLiveCamera(const QString& cameraId, const QString& owner) override
    {
        stops << (owner.isEmpty() ? cameraId : owner + QLatin1Char('/') + cameraId);
    }

    template <typename F> auto column(F field) const
    {
        QList<decltype(field(starts[0]))> out;
        for (const Start& s : starts)
            out << field(s);
        return out;
    }
    QStringList startedIds() const
    {
        return column([](const Start& s) { return s.cameraId; });
    }
    QList<bool> mains() const
    {
        return column([](const Start& s) { return s.main; });
    }
    // Answers start `i` with an address, a failure or as superseded.
    void reply(int i, const QString& url, const QString& error = {},
               kvr::api::ApiFailure kind = kvr::api::ApiFailure::None, bool superseded = false)
    {
        Start& s = starts[i];
        s.answered = true;
        kvr::api::StreamInfo info;
        info.url = url;
        info.cameraId = s.cameraId;
        info.failure = kind;
        info.superseded = superseded;
        if (s.callback)
            s.callback(info, error);
    }
    void answer(int i, const QString& url) { reply(i, url); }
    void fail(int i, const QString& error, kvr::api::ApiFailure kind = kvr::api::ApiFailure::ServerError)
    {
        reply(i, {}, error, kind);
    }
    void supersede(int i) { reply(i, {}, {}, kvr::api::ApiFailure::None, true); }
    // Answers every outstanding start in order.
    void answerAll(const QString& url)
    {
        for (int i = 0; i < starts.size(); ++i)
            if (!starts[i].answered)
                answer(i, url);
    }

    QList<Start> starts;
    QStringList stops;
};

// "127.0.0.1:<port>" of a peer that takes connections and never answers: a
// player told to play from it (RTSP or HTTP) keeps its decode thread waiting
// for the input's time-out of several seconds, where a refused port would
// end the thread at once.
inline QString silentAddress()
{
    static QTcpServer* server = [] {
        auto* s = new QTcpServer; // kept for the life of the process
        s->listen(QHostAddress::LocalHost);
        return s;
    }();
    return QStringLiteral("127.0.0.1:%1").arg(server->serverPort());
}
inline QString silentRtsp()
{
    return QStringLiteral("rtsp://%1/live").arg(silentAddress());
}

// Signs a client (the application's own unless told) in to the fake
// organisation server as "demo" and reads the organisation and its catalogue
// into the context.
inline bool signInAndLoad(orgserver::FakeOrgServer& server,
                          kvr::api::ApiClient& api = kvr::context::AppContext::instance().api)
{
    kvr::context::AppContext& context = kvr::context::AppContext::instance();
    bool signedIn = false, loaded = false;
    server.addUser("demo", "secret", false);
    api.setBaseUrl(server.baseUrl());
    api.login("demo", "secret", false, [&](const kvr::api::LoginStart& r) {
        api.setAccessToken(r.accessToken);
        signedIn = true;
    });
    context.orgId = server.orgId;
    context.orgName = server.orgName;
    if (!QTest::qWaitFor([&] { return signedIn; }, 10000))
        return false;
    api.fetchCatalog(server.orgName, [&](const QList<kvr::api::Site>& sites, const QString& error) {
        context.sites = sites;
        loaded = error.isEmpty();
    });
    return QTest::qWaitFor([&] { return loaded; }, 10000);
}

// The button a user knows by its text or (icon-only) by its accessible name.
inline QAbstractButton* control(const QWidget* root, const QString& name)
{
    for (QAbstractButton* w : root->findChildren<QAbstractButton*>())
        if (w->accessibleName() == name || w->text() == name)
            return w;
    return nullptr;
}

// The mouse entering (or leaving) a widget, as the window system reports it.
inline void hover(QWidget* w, bool on = true)
{
    if (on) {
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)));
        QApplication::sendEvent(w, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(w, &leave);
    }
}

inline void click(const QWidget* root, const QString& name)
{
    QAbstractButton* b = control(root, name);
    QVERIFY2(b, qPrintable(QStringLiteral("no control \"%1\"").arg(name)));
    b->click();
}

// The ticket the last request a spy saw carries (its last argument), which
// the owner hands back with the answer; none when nothing was asked.
inline kvr::core::RequestTicket asked(const QSignalSpy& requests)
{
    return requests.isEmpty() ? kvr::core::RequestTicket() : requests.last().last().value<kvr::core::RequestTicket>();
}

// How many of the tiles show a picture.
inline int pictures(const QList<kvr::view::CameraTile*>& tiles)
{
    return int(std::count_if(tiles.begin(), tiles.end(),
                             [](kvr::view::CameraTile* t) { return t->videoStage()->hasPicture(); }));
}

// Waits until none of the tiles' players has delivered a picture for a
// second (what was under way when their stream stopped has come); false
// when pictures still came after `limitMs`.
inline bool picturesSettled(const QList<kvr::view::CameraTile*>& tiles, int limitMs = 20000)
{
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (kvr::view::CameraTile* t : tiles) {
        spies.push_back(std::make_unique<QSignalSpy>(t->player(), &kvr::video::FfmpegPlayer::frameReady));
        spies.push_back(std::make_unique<QSignalSpy>(t->player(), &kvr::video::FfmpegPlayer::yuvFrameReady));
    }
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < limitMs) {
        for (auto& spy : spies)
            spy->clear();
        QTest::qWait(1000);
        if (std::all_of(spies.begin(), spies.end(), [](const auto& spy) { return spy->isEmpty(); }))
            return true;
    }
    return false;
}

// Saves a picture of the widget under build/screenshots/.
inline void screenshot(QWidget* widget, const QString& name)
{
    QDir().mkpath(QStringLiteral(KVR_SCREENSHOT_DIR));
    QVERIFY(widget->grab().save(QStringLiteral(KVR_SCREENSHOT_DIR "/") + name + QStringLiteral(".png")));
}

} // namespace viewtest
