// Alert-stream parsing and event storage at fleet scale: parser throughput
// for notifications, pictures in between and a device sending megabytes
// without a frame, all in network-sized pieces; storing 5,000 events from
// 500 devices and answering the standing conditions of every device; and a
// device flooding its stream at 100 MB/s for 30 s, and eight devices at
// once each at 5 MB/s (below the flood limit of one stream), with
// notifications, then bytes without a frame: the process's peak memory and
// the longest gap between turns of the main thread's event loop. Prints one
// line per figure.

#include "bench/support/BenchKit.h"
#include "native/services/AlertStream.h"
#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeStore.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTextStream>
#include <QTimer>

#include <iterator>
#include <memory>
#include <vector>

using namespace kvr::services;

using kvrtest::FakeDevice;

namespace {

constexpr qsizetype kPiece = 1460; // one TCP segment's payload

// Feeds the stream in network-sized pieces; returns milliseconds taken.
double feed(AlertStream::Parser& p, const QByteArray& stream, int* alerts)
{
    QElapsedTimer t;
    t.start();
    int n = 0;
    for (qsizetype at = 0; at < stream.size(); at += kPiece)
        n += int(p.feed(stream.mid(at, kPiece)).size());
    *alerts = n;
    return double(t.nsecsElapsed()) / 1e6;
}

void parser(QTextStream& out)
{
    QByteArray notes;
    for (int i = 0; notes.size() < (8 << 20); ++i)
        notes += FakeDevice::part(
            "boundary",
            FakeDevice::notification(i % 2 ? "VMD" : "videoloss", i % 2 ? "active" : "inactive", 1 + i % 16));
    QByteArray pictures;
    for (int i = 0; i < 16; ++i)
        pictures += FakeDevice::picturePart("boundary", 500 * 1024)
            + FakeDevice::part("boundary", FakeDevice::notification("linedetection"));
    const QByteArray junk(8 << 20, 'z');

    struct Case {
        const char* name;
        QByteArray contentType;
        const QByteArray* stream;
    };
    const Case cases[] = {
        {"notifications only", "multipart/mixed; boundary=boundary", &notes},
        {"500 KB pictures between notifications", "multipart/mixed; boundary=boundary", &pictures},
        {"no frame at all (cap emptied twice)", "application/xml", &junk},
    };
    for (const Case& c : cases) {
        AlertStream::Parser p;
        p.setContentType(c.contentType);
        int alerts = 0;
        const double ms = feed(p, *c.stream, &alerts);
        out << "parser, " << c.name << ": " << double(c.stream->size()) / (1 << 20) << " MiB in " << ms << " ms ("
            << double(c.stream->size()) / (1 << 20) / (ms / 1000.0) << " MiB/s), " << alerts << " notifications\n";
    }
}

void storage(QTextStream& out)
{
    kvrtest::TestClock clock;
    NativeStore store;
    NativeController controller(
        &store, [](const Native::Device&, NativeController::Kind, int, NativeController::Done done) { done({}); });
    NativeEvents events(&store, &controller);
    QStringList ids;
    for (int i = 0; i < 500; ++i)
        ids << QStringLiteral("device-%1").arg(i);

    // 5,000 events arriving one notification at a time, a second apart:
    // motion (folded against the last 30 s) and conditions.
    const QList<QByteArray> words = {"VMD", "linedetection", "diskerror", "shelteralarm", "io"};
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 5000; ++i) {
        AlertStream::Alert a;
        a.type = QString::fromLatin1(words[i % words.size()]);
        a.channel = 1 + i % 16;
        a.active = (i / 7) % 2 == 0;
        events.ingest(ids[i % ids.size()], {a});
        clock.advanceSecs(1);
    }
    const double ingestMs = double(t.nsecsElapsed()) / 1e6;
    out << "events, 5,000 notifications of 500 devices stored: " << ingestMs << " ms (" << events.events().size()
        << " kept)\n";

    t.restart();
    int standing = 0;
    for (const QString& id : std::as_const(ids))
        standing += int(events.standing(id, 24).size());
    out << "events, standing conditions of 500 devices over 5,000 events: " << double(t.nsecsElapsed()) / 1e6 << " ms ("
        << standing << " standing)\n";

    t.restart();
    int recent = 0;
    for (const QString& id : std::as_const(ids))
        recent += int(events.recent(id, 50).size());
    out << "events, newest 50 of each of 500 devices: " << double(t.nsecsElapsed()) / 1e6 << " ms (" << recent
        << " events)\n";
}

// Runs the event loop for the time given, measuring the gaps between turns
// (wall clock, and the main thread's own work between two turns) and the
// process's resident memory (sampled every 2 ms).
struct Watch {
    double longestGapMs = 0;
    double longestWorkMs = 0;
    qint64 slowTurns = 0; // gaps of 50 ms or more
    qint64 turns = 0;
    qint64 peakKiB = 0;
    void run(qint64 ms)
    {
        QElapsedTimer total;
        total.start();
        bench::StallMeter stall(50);
        QTimer sample;
        QObject::connect(&sample, &QTimer::timeout, [&] { peakKiB = std::max(peakKiB, nativetest::memoryKiB()); });
        sample.start(2);
        while (total.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        stall.stop();
        longestGapMs = stall.longestMs();
        longestWorkMs = stall.longestWorkMs();
        slowTurns = stall.slowTurns();
        turns = stall.turns();
    }
};

// `streams` devices, each on a thread of its own, flood their event streams
// with `unit` at `bytesPerSecond` each for 30 s.
void flood(QTextStream& out, const char* name, const QByteArray& contentType, const QByteArray& unit, int streams,
           qint64 bytesPerSecond)
{
    NativeStore store;
    NativeController controller(
        &store, [](const Native::Device&, NativeController::Kind, int, NativeController::Done done) { done({}); });
    NativeEvents events(&store, &controller);
    std::vector<std::unique_ptr<kvrtest::FakeDeviceThread>> devices;
    QStringList ids;
    for (int i = 0; i < streams; ++i) {
        devices.push_back(std::make_unique<kvrtest::FakeDeviceThread>(FakeDevice::Kind::Isapi));
        devices.back()->run([&](FakeDevice& f) {
            f.login = FakeDevice::Login::None;
            f.eventStream.contentType = contentType;
        });
        Native::Device d;
        d.ip = QStringLiteral("127.0.0.1");
        d.httpPort = devices.back()->httpPort();
        ids << store.addDevice(d);
    }
    int drops = 0;
    QHash<QString, Native::Link> links;
    QObject::connect(&events, &NativeEvents::linksChanged, [&] {
        for (const QString& id : std::as_const(ids)) {
            const Native::Link link = events.statuses().value(id).link;
            if (link == Native::Link::Lost && links.value(id) != link)
                ++drops;
            links.insert(id, link);
        }
    });
    events.start();
    Watch idle;
    idle.run(500);
    const qint64 base = nativetest::memoryKiB();

    for (auto& device : devices)
        device->run([&](FakeDevice& f) { f.flood(unit, bytesPerSecond); });
    Watch w;
    w.run(30000);
    qint64 sent = 0;
    for (auto& device : devices)
        device->run([&](FakeDevice& f) {
            sent += f.floodedBytes();
            f.closeStreams();
        });
    events.stop();
    out << "flood, " << name << ", " << streams << (streams == 1 ? " stream" : " streams") << " at "
        << double(bytesPerSecond) / 1e6 << " MB/s each for 30 s: " << double(sent) / 1e6 << " MB sent, peak resident "
        << double(w.peakKiB) / 1024 << " MiB (" << double(w.peakKiB - base) / 1024 << " MiB above the "
        << double(base) / 1024 << " MiB before), longest main-thread gap " << QString::number(w.longestGapMs, 'f', 1)
        << " ms (its own work at most " << QString::number(w.longestWorkMs, 'f', 1) << " ms a turn), " << w.slowTurns
        << " of " << w.turns << " gaps of 50 ms or more, " << events.events().size() << " events kept, streams dropped "
        << drops << " times\n";
    out.flush();
}

struct FloodCase {
    const char* name;
    bool notifications;
    int streams;
    qint64 bytesPerSecond;
};
// One device far past the flood limit; eight at once, each below it.
const FloodCase kFloods[] = {
    {"notifications", true, 1, 100 * 1000 * 1000},
    {"notifications", true, 8, 5 * 1000 * 1000},
    {"no frame at all", false, 1, 100 * 1000 * 1000},
    {"no frame at all", false, 8, 5 * 1000 * 1000},
};

void floodCase(QTextStream& out, const FloodCase& c)
{
    if (c.notifications) {
        QByteArray notes;
        for (int i = 0; notes.size() < 64 * 1024; ++i)
            notes += FakeDevice::part("boundary",
                                      FakeDevice::notification(i % 2 ? "VMD" : "diskfull", "active", 1 + i % 16));
        flood(out, c.name, "multipart/mixed; boundary=boundary", notes, c.streams, c.bytesPerSecond);
    } else {
        flood(out, c.name, "application/xml", QByteArray(64 * 1024, 'z'), c.streams, c.bytesPerSecond);
    }
}

// Each flood runs in a process of its own, so that its memory figures are
// its own and not what the cases before it left behind.
void floods(QTextStream& out, const QString& program)
{
    for (int i = 0; i < int(std::size(kFloods)); ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(program, {QStringLiteral("--flood"), QString::number(i)});
        child.waitForFinished(120000);
        out << child.readAllStandardOutput();
        out.flush();
    }
}

} // namespace

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("bench_native_events");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    QTextStream out(stdout);
    out.setRealNumberPrecision(1);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    const QStringList args = app.arguments();
    const qsizetype floodArg = args.indexOf(QStringLiteral("--flood"));
    if (floodArg > 0) {
        const int i = args.value(floodArg + 1).toInt();
        if (i >= 0 && i < int(std::size(kFloods)))
            floodCase(out, kFloods[i]);
        return 0;
    }
    parser(out);
    storage(out);
    floods(out, app.applicationFilePath());
    return 0;
}
