// A relay on a link-local IPv6 address with its zone ("fe80::10%lo") plays:
// the address the server client builds for the relay route is handed to the
// player's engine, which opens it and shows pictures, and the camera wall's
// scout asks the same address. Loopback has no link-local address, so the
// suite runs in a network namespace of its own (made before main, while
// the process has one thread), where the address is put on its loopback and
// the RTSP test camera listens on every address. Where the platform gives
// no such namespace, the suite says so and skips.

#include "server/api/ApiRules.h"
#include "tests/support/TestKit.h"
#include "tests/video/Peers.h"
#include "video/FfmpegPlayer.h"
#include "video/SourceCheck.h"

#include <QNetworkProxyFactory>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <cstdio>
#include <cstdlib>

#ifdef __linux__
#include <sched.h>
#endif

using namespace kvr::video;

namespace {

constexpr char kLinkLocal[] = "fe80::10";

#ifdef __linux__
const bool g_network = kvrtest::enterOwnNamespaces(CLONE_NEWNET);
#else
const bool g_network = false;
#endif

// The suite's own namespace reaches nothing but itself: its link-local
// address is let through beside loopback, which alone the kit's guard lets.
class NamespaceGuard final : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        // (Once a socket has its address, the network layer asks again with
        // none, for the connection it then makes.)
        const QString host = query.peerHostName().isEmpty() ? query.url().host() : query.peerHostName();
        if (query.queryType() == QNetworkProxyQuery::TcpSocket && !host.isEmpty()
            && !host.startsWith(QLatin1String(kLinkLocal)) && !kvrtest::isLoopbackHost(host)) {
            std::fprintf(stderr, "FAIL! test tried to connect outside its namespace: %s\n", qPrintable(host));
            std::abort();
        }
        return {QNetworkProxy(QNetworkProxy::NoProxy)};
    }
};

bool run(const QStringList& args)
{
    QProcess ip;
    ip.start(QStringLiteral("ip"), args);
    return ip.waitForFinished(10000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
}

} // namespace

class ZonedRelay : public QObject {
    Q_OBJECT
    peers::Peer relay;

private Q_SLOTS:
    void initTestCase()
    {
        if (!g_network)
            QSKIP("No network namespace of the suite's own can be made here.");
        // Its loopback, up, with a link-local address beside ::1.
        QVERIFY(run({"link", "set", "lo", "up"}));
        QVERIFY(
            run({"-6", "addr", "add", QStringLiteral("%1/64").arg(QLatin1String(kLinkLocal)), "dev", "lo", "nodad"}));
        QVERIFY(peers::startRtsp(relay, {"--address", "::", "--no-audio", "--user", "admin", "--password", "wisp"}));
        QNetworkProxyFactory::setApplicationProxyFactory(new NamespaceGuard);
    }

    void zonedRelayPlays()
    {
        const QString host = QStringLiteral("%1%lo").arg(QLatin1String(kLinkLocal));
        const QString url = kvr::api::ApiRules::relayUrl(host, relay.port, "admin", "wisp", "live");
        FfmpegPlayer player;
        player.options().audioEnabled = false;
        QSignalSpy frames(&player, &FfmpegPlayer::frameReady);
        QSignalSpy status(&player, &FfmpegPlayer::status);
        player.play(url);
        QTRY_VERIFY_WITH_TIMEOUT(!frames.isEmpty() || !status.isEmpty(), 30000);
        QVERIFY2(!frames.isEmpty(), qPrintable(status.isEmpty() ? QString() : status.first().at(1).toString()));
        player.stop();
        // The zone as it is: the resolver refuses "%25lo".
        QCOMPARE(url, QStringLiteral("rtsp://admin:wisp@[fe80::10%lo]:%1/live").arg(relay.port));

        // The camera wall's scout asks the same address of the relay.
        SourceCheck check;
        std::optional<bool> answers;
        check.ask(url, {}, {}, nullptr, [&](const SourceCheck::Answer& a) { answers = a.answers; });
        QTRY_VERIFY_WITH_TIMEOUT(answers.has_value(), 20000);
        QVERIFY(*answers);
    }
};

KVR_TEST_MAIN(ZonedRelay)

#include "tst_zoned_relay.moc"
