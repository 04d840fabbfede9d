// Lease renewal of a wall of 36 live streams against the fake organisation
// server, which ends a stream whose 30 s lease runs out.
//
// First, a wall kept for three minutes on a server that answers each lease
// after 3 s, then after 5 s, then after 8 s: the renewals a minute, the longest and the
// median time between two renewals of one stream as the server saw them (its
// start counts as the first), how many came later than 25 s (the headroom
// kept on a 30 s lease) and later than the lease, the most lease requests the
// server saw at once, and the streams the server ended. Each on a client that
// has had no lease answered yet: with live starts answered as slowly, the
// wall starting four at a time as the camera wall does; and with starts
// answered at once, so that the whole wall starts within a second, its
// leases all due together. Last, a server whose leases are answered at once
// for a minute and then after 5 s (and after 8 s): the round that falls due
// then meets a pace the client has yet to learn; and, three times, a server
// whose leases turn from quick to 8 s at once right after the wall started.
//
// Then two forced rounds are timed:
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

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace kvr::api;

namespace {

using bench::waitUntil;

constexpr int kStreams = 36;
constexpr int kLeaseDelayMs = 2000;
constexpr int kSteadyMs = 180000;
constexpr int kSlowsAfterMs = 60000;
constexpr qint64 kHeadroomMs = 25000;
const QString kLeasePath = QStringLiteral("/v2/api/vms/stream/lease/");
const QString kStartPath = QStringLiteral("/v2/api/start/live/stream/");

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

// What the server saw of each stream's lease: the times between its start
// and its first renewal, and between two renewals.
struct Renewals {
    QElapsedTimer clock;
    QHash<QString, qint64> last; // camera -> when its start or last lease arrived
    QList<qint64> gaps;
    int leases = 0;
};

struct Steady {
    double perMinute = 0;
    qint64 longestMs = 0;
    qint64 medianMs = 0;
    int pastHeadroom = 0;
    int late = 0;
    int peakLeases = 0;
    int lapsed = 0;
    int started = 0;
};

// When the leases turn slow: from the wall's start, once every stream of
// the wall has started, or from a time on.
constexpr int kSlowOnceStarted = -1;

// A fresh wall of 36 streams on a fresh client, kept for a while with every
// lease answered after `leaseDelayMs` (from `slowFromMs` on, or once the wall
// has started; at once before); starts are answered after `startDelayMs`,
// and sent four at a time.
Steady runSteady(int leaseDelayMs, int startDelayMs, int slowFromMs = 0)
{
    apitest::Rig rig(apitest::signedIn);
    ApiClientTestAccess::setLeasePace(*rig.client, -1); // a client fresh from sign-in
    rig.server.populate(1, 1, kStreams);
    rig.server.leasesExpire = true;
    QElapsedTimer since;
    since.start();
    Steady out;
    rig.server.delayRule = [&since, &out, leaseDelayMs, startDelayMs, slowFromMs](const orgserver::Request& q) {
        if (q.path == kLeasePath) {
            const bool slow = slowFromMs == kSlowOnceStarted ? out.started == kStreams : since.elapsed() >= slowFromMs;
            return slow ? leaseDelayMs : 0;
        }
        return q.path == kStartPath ? startDelayMs : 0;
    };
    rig.server.http().resetPeak();
    Renewals seen;
    seen.clock.start();
    QObject::connect(&rig.server.http(), &orgserver::HttpServer::requestReceived, [&](const orgserver::Request& q) {
        if (q.path != kLeasePath && q.path != kStartPath)
            return;
        const QString camera = q.queryValue(QStringLiteral("camera_id"));
        const qint64 now = seen.clock.elapsed();
        if (q.path == kLeasePath) {
            ++seen.leases;
            seen.gaps << now - seen.last.value(camera);
            out.peakLeases = std::max(out.peakLeases, ApiClientTestAccess::leasesInFlight(*rig.client));
        }
        seen.last[camera] = now;
    });
    QList<QString> queue;
    for (const orgserver::FakeCamera& c : rig.server.sites[0].devices[0].cameras)
        queue << c.id;
    int inFlight = 0;
    std::function<void()> pump = [&] {
        while (inFlight < 4 && !queue.isEmpty()) {
            ++inFlight;
            rig.client->startLiveHls(queue.takeFirst(), false, [&](const StreamInfo& info, const QString&) {
                --inFlight;
                out.started += info.url.isEmpty() ? 0 : 1;
                pump();
            });
        }
    };
    pump();
    const int leasesBefore = seen.leases;
    bench::spin(kSteadyMs);
    out.perMinute = double(seen.leases - leasesBefore) * 60000.0 / kSteadyMs;
    std::sort(seen.gaps.begin(), seen.gaps.end());
    if (!seen.gaps.isEmpty()) {
        out.longestMs = seen.gaps.last();
        out.medianMs = seen.gaps.at(seen.gaps.size() / 2);
    }
    out.late = int(std::count_if(seen.gaps.cbegin(), seen.gaps.cend(),
                                 [&rig](qint64 g) { return g > qint64(rig.server.streamTtlSecs) * 1000; }));
    out.pastHeadroom =
        int(std::count_if(seen.gaps.cbegin(), seen.gaps.cend(), [](qint64 g) { return g > kHeadroomMs; }));
    out.lapsed = int(rig.server.lapsed.size());
    rig.client->stopAllLive();
    return out;
}

void printSteady(const char* title, const Steady& s)
{
    std::printf("%s:\n", title);
    std::printf("  streams started             %6d\n", s.started);
    std::printf("  renewals a minute           %6.1f\n", s.perMinute);
    std::printf("  longest between renewals    %6lld ms\n", static_cast<long long>(s.longestMs));
    std::printf("  median between renewals     %6lld ms\n", static_cast<long long>(s.medianMs));
    std::printf("  renewals later than 25 s    %6d\n", s.pastHeadroom);
    std::printf("  renewals later than the lease %4d\n", s.late);
    std::printf("  lease requests at once      %6d\n", s.peakLeases);
    std::printf("  streams the server ended    %6d\n\n", s.lapsed);
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

    for (const int answerMs : {3000, 5000, 8000}) {
        std::printf("A wall of %d live streams kept %d s, every lease answered after %d ms (30 s leases)\n\n", kStreams,
                    kSteadyMs / 1000, answerMs);
        const QByteArray slowStarts =
            QByteArray("starts answered after ") + QByteArray::number(answerMs) + " ms, four at a time";
        printSteady(slowStarts.constData(), runSteady(answerMs, answerMs));
        printSteady("starts answered at once", runSteady(answerMs, 0));
    }
    for (const int answerMs : {5000, 8000}) {
        std::printf("A wall of %d live streams kept %d s, leases answered at once for %d s, then after %d ms\n\n",
                    kStreams, kSteadyMs / 1000, kSlowsAfterMs / 1000, answerMs);
        printSteady("starts answered at once", runSteady(answerMs, 0, kSlowsAfterMs));
    }
    // The server turns slow at once right after the wall started: the
    // client knows it only as quick, and the wall's leases fall due together.
    for (int run = 1; run <= 3; ++run) {
        std::printf("A wall of %d live streams kept %d s, leases answered at once until it started, then after "
                    "8000 ms (run %d of 3)\n\n",
                    kStreams, kSteadyMs / 1000, run);
        printSteady("starts answered at once", runSteady(8000, 0, kSlowOnceStarted));
    }

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
