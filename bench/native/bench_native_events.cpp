// Alert-stream parsing and event storage at fleet scale: parser throughput
// for notifications, pictures in between and a device sending megabytes
// without a frame, all in network-sized pieces; storing 5,000 events from
// 500 devices and answering the standing conditions of every device.
// Prints one line per figure.

#include "native/services/AlertStream.h"
#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeStore.h"
#include "tests/fixtures/devices/FakeAlertStream.h"
#include "tests/support/TestKit.h"

#include <QElapsedTimer>
#include <QTextStream>

using kvrtest::FakeAlertStream;

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
        notes += FakeAlertStream::part(
            "boundary",
            FakeAlertStream::notification(i % 2 ? "VMD" : "videoloss", i % 2 ? "active" : "inactive", 1 + i % 16));
    QByteArray pictures;
    for (int i = 0; i < 16; ++i)
        pictures += FakeAlertStream::picturePart("boundary", 500 * 1024)
            + FakeAlertStream::part("boundary", FakeAlertStream::notification("linedetection"));
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

} // namespace

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("bench_native_events");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    QTextStream out(stdout);
    out.setRealNumberPrecision(1);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    parser(out);
    storage(out);
    return 0;
}
