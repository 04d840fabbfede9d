// Lease renewal of a wall of 36 live streams against the fake organisation
// server. Two rounds are timed:
//  - every lease answered after 2 s: the time the whole round takes (against
//    the 15 s renewal interval of a 30 s lease), the most lease requests the
//    server saw at once, and how long a status request and a catalogue
//    request sent just after the round began waited for their answers;
//  - a lease route that never answers: the same two requests, and when the
//    hung leases gave up.
//
// Fixed parameters, no options: run it and read the lines.

#include "bench/support/BenchKit.h"
#include "server/api/ApiClient.h"
#include "tests/server/api/ApiTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

using namespace kvr::api;

namespace {

using bench::waitUntil;

constexpr int kStreams = 36;
constexpr int kLeaseDelayMs = 2000;
const QString kLeasePath = QStringLiteral("/v2/api/vms/stream/lease/");

std::atomic<int> leaseAnswers{0};

struct Round {
    qint64 allAnsweredMs = -1;
    qint64 statusMs = -1;
    qint64 catalogMs = -1;
    int peakLeases = 0;
};

// Fires one lease round and, 100 ms into it, a status and a catalogue request.
Round runRound(ApiClient& client, orgserver::FakeOrgServer& server, int limitMs)
{
    Round r;
    const int before = leaseAnswers.load();
    // Lease requests the client has on their way, looked at whenever one arrives.
    const QMetaObject::Connection seen =
        QObject::connect(&server.http(), &orgserver::HttpServer::requestReceived, [&](const orgserver::Request& q) {
            if (q.path == kLeasePath)
                r.peakLeases = std::max(r.peakLeases, ApiClientTestAccess::leasesInFlight(client));
        });
    QElapsedTimer t;
    t.start();
    QTimer::singleShot(100, [&] {
        const qint64 sent = t.elapsed();
        client.fetchSystemStatus([&r, &t, sent](bool, int, ApiFailure) { r.statusMs = t.elapsed() - sent; });
        client.fetchOrganisations(
            [&r, &t, sent](const QList<Organisation>&, const QString&) { r.catalogMs = t.elapsed() - sent; });
    });
    ApiClientTestAccess::fireLease(client);
    if (waitUntil([&] { return leaseAnswers.load() - before >= kStreams; }, limitMs) >= 0)
        r.allAnsweredMs = t.elapsed();
    waitUntil([&] { return r.statusMs >= 0 && r.catalogMs >= 0; }, 35000);
    QObject::disconnect(seen);
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("bench_leases");
    QCoreApplication app(argc, argv);
    kvrtest::prepareApplication();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& msg) {
        if (msg.startsWith(QLatin1String("KVR GET /v2/api/vms/stream/lease/ status")))
            ++leaseAnswers;
    });
    apitest::installLoopbackGuard();
    qputenv("KVR_RTSP_HOST", "127.0.0.1");

    apitest::Rig rig(apitest::signedIn);
    rig.server.populate(1, 1, kStreams);
    int started = 0;
    for (const orgserver::FakeCamera& c : rig.server.sites[0].devices[0].cameras)
        rig.client->startLiveHls(
            c.id, false, [&](const StreamInfo& info, const QString&) { started += info.url.isEmpty() ? 0 : 1; });
    if (waitUntil([&] { return started == kStreams; }, 20000) < 0) {
        std::fprintf(stderr, "only %d of %d streams started\n", started, kStreams);
        return 1;
    }

    std::printf("Lease renewal of %d live streams (renewal interval %d ms for a %d s lease)\n\n", kStreams,
                ApiClientTestAccess::leaseIntervalMs(*rig.client), rig.server.streamTtlSecs);

    rig.server.delayRule = [](const orgserver::Request& q) { return q.path == kLeasePath ? kLeaseDelayMs : 0; };
    const Round slow = runRound(*rig.client, rig.server, 60000);
    std::printf("leases answered after %d ms:\n", kLeaseDelayMs);
    std::printf("  whole round                 %6lld ms\n", static_cast<long long>(slow.allAnsweredMs));
    std::printf("  lease requests at once      %6d\n", slow.peakLeases);
    std::printf("  status answered after       %6lld ms\n", static_cast<long long>(slow.statusMs));
    std::printf("  organisations answered after%6lld ms\n\n", static_cast<long long>(slow.catalogMs));

    rig.server.delayRule = nullptr;
    waitUntil([&] { return rig.server.http().inFlight() == 0; }, 10000);
    rig.server.script(kLeasePath, orgserver::Answer::never(), -1);
    const Round hung = runRound(*rig.client, rig.server, 240000);
    std::printf("lease route that never answers:\n");
    std::printf("  every lease given up after  %6lld ms\n", static_cast<long long>(hung.allAnsweredMs));
    std::printf("  lease requests at once      %6d\n", hung.peakLeases);
    std::printf("  status answered after       %6lld ms\n", static_cast<long long>(hung.statusMs));
    std::printf("  organisations answered after%6lld ms\n", static_cast<long long>(hung.catalogMs));
    return 0;
}
