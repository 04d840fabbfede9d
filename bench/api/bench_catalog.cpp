// Loads a catalogue of 500 sites, 5,000 devices and 40,000 channels from the
// fake organisation server (a separate process on loopback) and reports wall
// time, the client's CPU time, peak requests in flight, the longest stall of
// the main thread and peak memory.
#include "bench/support/BenchKit.h"
#include "server/api/ApiClient.h"
#include "tests/server/api/ApiTestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryFile>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

#include <cstdio>

using namespace kvr::api;

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double mainThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

double peakMegabytes()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
#ifdef __APPLE__
    return u.ru_maxrss / (1024.0 * 1024.0);
#else
    return u.ru_maxrss / 1024.0;
#endif
}

quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The product writes each request's line to its log file: so does the
    // benchmark (a temporary file), so that the cost of logging is counted.
    static QTemporaryFile logFile;
    logFile.open();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& msg) {
        const QByteArray line =
            (QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss.zzz ") + msg + '\n').toUtf8();
        logFile.write(line);
    });
    ApiClient::setAddressGuard([](const QUrl& u) {
        if (!kvrtest::isLoopbackHost(u.host()))
            qFatal("non-loopback address");
        return true;
    });

    const QString serverPath = QStringLiteral(KVR_FAKE_SERVER_PROGRAM);
    const quint16 port = freePort();
    QProcess server;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KVR_FAKE_PORT", QString::number(port));
    env.insert("KVR_FAKE_POPULATE", "500x10x8");
    server.setProcessEnvironment(env);
    server.start(serverPath, {});
    if (!server.waitForStarted(5000) || !server.waitForReadyRead(10000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(serverPath));
        return 1;
    }

    ApiClient client;
    client.setBaseUrl(QString("http://127.0.0.1:%1").arg(port));
    bool signedIn = false;
    client.login("demo", "demo", false, [&](const LoginStart& r) {
        client.setAccessToken(r.accessToken);
        signedIn = r.step == LoginStart::SignedIn;
        app.quit();
    });
    app.exec();
    if (!signedIn) {
        std::fprintf(stderr, "sign-in failed\n");
        return 1;
    }

    // The main thread's longest gap between turns of its event loop, and its
    // own longest work in one turn.
    bench::StallMeter stall;
    stall.stop();

    int sites = 0, devices = 0, channels = 0, siteCalls = 0;
    QString error;
    const double cpuBefore = cpuSeconds();
    const double mainBefore = mainThreadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    stall.start();
    ApiClient::CatalogHandlers h;
    h.sites = [&](const QList<Site>& s) { sites = int(s.size()); };
    h.site = [&](int, const Site& s) {
        ++siteCalls;
        devices += int(s.devices.size());
        for (const Device& d : s.devices)
            channels += int(d.channels.size());
    };
    h.done = [&](const QString& e) {
        error = e;
        app.quit();
    };
    client.fetchCatalogProgressive("Demo Organisation", h);
    app.exec();
    stall.stop();
    const qint64 wallMs = wall.elapsed();
    const double cpu = cpuSeconds() - cpuBefore;
    const double mainCpu = mainThreadCpuSeconds() - mainBefore;

    server.kill();
    server.waitForFinished(3000);

    std::printf("catalogue: %d sites, %d completed, %d devices, %d channels%s%s\n", sites, siteCalls, devices, channels,
                error.isEmpty() ? "" : ", error: ", qPrintable(error));
    std::printf("wall time          %8lld ms\n", static_cast<long long>(wallMs));
    std::printf("client CPU time    %8.0f ms   (target under 2000 ms; all threads of the client process)\n",
                cpu * 1000);
    std::printf("  of which main    %8.0f ms\n", mainCpu * 1000);
    std::printf("peak in flight     %8d      (requests sent and not yet answered, at most 10)\n",
                ApiClientTestAccess::peakOutstanding(client));
    std::printf("longest stall      %8.0f ms   (target at most 50 ms)\n", stall.longestMs());
    std::printf("  own work a turn  %8.0f ms   (the main thread's processor time, at most, between two turns)\n",
                stall.longestWorkMs());
    std::printf("peak memory        %8.1f MB   (target under 150 MB)\n", peakMegabytes());
    return error.isEmpty() && devices == 5000 && channels == 40000 ? 0 : 1;
}
