// Devices that drip their answers: what it costs this process to read an
// answer's head that comes a byte at a time, beside a body of the same size
// that comes the same way.
//
// First the framing alone, on this thread: a head of 63 KiB (its status
// line and headers, then a short body) fed a byte at a time, the same head
// fed at once, and a body of 63 KiB (after a short head) fed a byte at a
// time; the processor time of each and the head's against the body's.
//
// Then four devices on loopback (a thread of their own, plain sockets) each
// drip such an answer, a byte at a time over about 10 s, to four exchanges
// read on this thread's event loop, as four recorders do to the program's
// checks: this thread's processor time over the drip, and the longest time
// its event loop went without a turn (and its own work in that turn). The
// same with the bodies dripped. Targets: a head no dearer than a body (within
// about 1.5x), and no turn of the event loop later than 100 ms.
//
// Fixed parameters, no options: run it and read the lines (with the load
// average beside them; the machine's other work shows in the gaps).

#include "bench/support/BenchKit.h"
#include "native/services/AnswerFraming.h"
#include "native/services/DeviceWire.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace kvr::services;

namespace {

constexpr int kDevices = 4;
constexpr qsizetype kSize = 63 * 1024;
constexpr double kDripSeconds = 10.0;

QByteArray bigHead()
{
    QByteArray head = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; head.size() < kSize - 40; ++i)
        head += "X-Pad-" + QByteArray::number(i) + ": " + QByteArray(60, 'p') + "\r\n";
    return head + "Content-Length: 2\r\n\r\nok";
}

QByteArray bigBody()
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(kSize) + "\r\n\r\n" + QByteArray(kSize, 'b');
}

// Processor ms of this thread to frame the answer in pieces of `piece` bytes.
double frame(const QByteArray& answer, qsizetype piece)
{
    const double start = bench::threadCpuMs();
    AnswerFraming framing(qint64(1) << 20);
    for (qsizetype sent = 0; sent < answer.size() && !framing.isDone(); sent += piece) {
        framing.feed(answer.mid(sent, piece));
        framing.read(1 << 20);
    }
    const double ms = bench::threadCpuMs() - start;
    if (!framing.isDone() || framing.status() != 200)
        std::printf("  (the answer did not frame)\n");
    return ms;
}

// Listens on loopback; each of the first `kDevices` connections gets the
// answer once its request came, a byte at a time, the devices in turn.
class Dripper {
public:
    explicit Dripper(QByteArray answer) : m_answer(std::move(answer))
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(m_listen, kDevices) != 0
            || ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            std::fprintf(stderr, "could not listen on loopback\n");
            std::exit(1);
        }
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~Dripper()
    {
        m_thread.join();
        ::close(m_listen);
    }
    Dripper(const Dripper&) = delete;
    Dripper& operator=(const Dripper&) = delete;
    quint16 port() const { return m_port; }

private:
    void run()
    {
        std::vector<int> peers;
        while (int(peers.size()) < kDevices) {
            const int s = ::accept(m_listen, nullptr, nullptr);
            if (s < 0)
                break;
            const int one = 1;
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            // The request's head, all of it, before the answer goes.
            QByteArray request;
            char buffer[4096];
            while (!request.contains("\r\n\r\n")) {
                const ssize_t n = ::read(s, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                request.append(buffer, qsizetype(n));
            }
            peers.push_back(s);
        }
        const auto gap = std::chrono::nanoseconds(qint64(kDripSeconds * 1e9 / double(m_answer.size())));
        const auto start = std::chrono::steady_clock::now();
        for (qsizetype i = 0; i < m_answer.size(); ++i) {
            for (int s : peers)
                (void)::write(s, m_answer.constData() + i, 1);
            std::this_thread::sleep_until(start + gap * (i + 1));
        }
        for (int s : peers)
            ::close(s);
    }

    QByteArray m_answer;
    int m_listen = -1;
    quint16 m_port = 0;
    std::thread m_thread;
};

struct Drip {
    double cpuMs = 0;
    bench::Stall stall;
    double seconds = 0;
    int whole = 0;
};

Drip drip(const QByteArray& answer)
{
    Drip out;
    Dripper dripper(answer);
    QElapsedTimer clock;
    clock.start();
    bench::StallMeter meter;
    const double start = bench::threadCpuMs();
    std::vector<std::unique_ptr<DeviceWire>> wires;
    int finished = 0;
    for (int i = 0; i < kDevices; ++i) {
        DeviceWire::Request r;
        r.url = QUrl(QStringLiteral("http://127.0.0.1:%1/ISAPI/System/deviceInfo").arg(dripper.port()));
        r.transferTimeout = std::chrono::seconds(30);
        auto wire = std::make_unique<DeviceWire>(r);
        DeviceWire* w = wire.get();
        QObject::connect(w, &DeviceWire::readyRead, w, [w] { w->read(1 << 20); });
        QObject::connect(w, &DeviceWire::finished, w, [w, &finished, &out, &clock] {
            w->read(1 << 20);
            out.whole += w->error() == DeviceWire::Error::None && w->status() == 200 ? 1 : 0;
            if (++finished == kDevices)
                out.seconds = double(clock.elapsed()) / 1000.0;
        });
        w->start();
        wires.push_back(std::move(wire));
    }
    bench::waitUntil([&] { return finished == kDevices; }, 120000);
    out.cpuMs = bench::threadCpuMs() - start;
    meter.stop();
    out.stall = meter.stall();
    return out;
}

QByteArray loadAverage()
{
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) < 3)
        return "?";
    return QByteArray::number(load[0], 'f', 2) + ", " + QByteArray::number(load[1], 'f', 2) + ", "
        + QByteArray::number(load[2], 'f', 2);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray head = bigHead();
    const QByteArray body = bigBody();

    std::printf("The framing alone, this thread's processor time (load average %s)\n", loadAverage().constData());
    const double headDrip = frame(head, 1);
    const double headWhole = frame(head, head.size());
    const double bodyDrip = frame(body, 1);
    std::printf("  head of %lld bytes, a byte at a time   %9.1f ms\n", static_cast<long long>(head.size()), headDrip);
    std::printf("  the same head at once                  %9.1f ms\n", headWhole);
    std::printf("  body of %lld bytes, a byte at a time   %9.1f ms\n", static_cast<long long>(kSize), bodyDrip);
    std::printf("  head against body                      %9.2fx\n\n", bodyDrip > 0 ? headDrip / bodyDrip : 0.0);

    std::printf("%d devices on loopback each dripping an answer a byte at a time over about %.0f s\n", kDevices,
                kDripSeconds);
    for (const auto& [label, answer] : {std::pair("63 KiB heads", head), std::pair("63 KiB bodies", body)}) {
        const QByteArray load = loadAverage();
        const Drip d = drip(answer);
        std::printf("  %s: %d of %d whole after %.1f s; this thread's processor %.0f ms; longest turn %.1f ms (own "
                    "work %.1f ms) (load average %s)\n",
                    label, d.whole, kDevices, d.seconds, d.cpuMs, d.stall.gapMs, d.stall.workMs, load.constData());
    }
    return 0;
}
