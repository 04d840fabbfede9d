// The sound output: its ring of whole frames, the clock of sound heard, the
// render callback, failures of the platform layer, and the outputs of this
// platform (ALSA, the paced null output).

#include "tests/support/TestKit.h"
#include "video/AudioBackend.h"
#include "video/AudioOut.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kvr::video;

namespace {

// Interleaved stereo frames whose left sample is +n and right sample is -n,
// counting on from `first`, so any slide of a channel shows at once.
std::vector<uint8_t> stereoRamp(int first, int frames)
{
    std::vector<uint8_t> bytes(size_t(frames) * 4);
    for (int i = 0; i < frames; ++i) {
        const int16_t left = int16_t((first + i) % 30000 + 1), right = int16_t(-left);
        std::memcpy(&bytes[size_t(i) * 4], &left, 2);
        std::memcpy(&bytes[size_t(i) * 4 + 2], &right, 2);
    }
    return bytes;
}

// Checks whole frames against the ramp from `next` on, up to the first silent
// frame (an underrun); answers the frames that were wrong.
template <typename Counter> int checkRamp(const std::vector<uint8_t>& data, Counter& next)
{
    int wrong = 0;
    for (size_t at = 0; at + 4 <= data.size(); at += 4) {
        int16_t left, right;
        std::memcpy(&left, &data[at], 2);
        std::memcpy(&right, &data[at + 2], 2);
        if (left == 0 && right == 0)
            break;
        wrong += (right != -left || left != int16_t(next % 30000 + 1)) ? 1 : 0;
        ++next;
    }
    return wrong;
}

std::vector<uint8_t> filled(AudioOut& out, int bytes)
{
    std::vector<uint8_t> buffer(size_t(bytes), 0xAB);
    out.fill(buffer.data(), bytes);
    return buffer;
}

// An output the test drives by hand: it pulls only when the test calls pull().
class HandOutput final : public AudioBackend {
public:
    explicit HandOutput(double latency) : m_latency(latency) {}
    bool configure(int, int channels, AudioRenderCallback callback, void* refCon) override
    {
        m_channels = channels, m_callback = callback, m_refCon = refCon;
        return true;
    }
    double latencySeconds() const override { return m_latency; }
    bool start() override { return true; }
    void stop() override {}
    // Asks the sound output for `frames` frames into a buffer of `bytes` bytes.
    std::vector<uint8_t> pull(uint32_t frames, uint32_t bytes)
    {
        std::vector<uint8_t> out(bytes, 0xAB);
        AudioRenderBuffer buffer{uint32_t(m_channels), bytes, out.data()};
        AudioRenderBufferList list{1, &buffer};
        m_callback(m_refCon, frames, &list);
        return out;
    }
    static inline HandOutput* last = nullptr;

private:
    double m_latency;
    int m_channels = 0;
    AudioRenderCallback m_callback = nullptr;
    void* m_refCon = nullptr;
};

void useHandOutput(double latency)
{
    AudioBackend::setFactory([latency] {
        auto out = std::make_unique<HandOutput>(latency);
        HandOutput::last = out.get();
        return out;
    });
}

int countPulls(void* ref, uint32_t frames, AudioRenderBufferList* list)
{
    static_cast<std::atomic<uint64_t>*>(ref)->fetch_add(frames);
    std::memset(list->buffers[0].data, 0, list->buffers[0].byteSize);
    return 0;
}

} // namespace

class TestAudioOut : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        AudioBackend::setFactory({});
        AudioBackend::forceFailure(AudioBackend::ForcedFailure::None);
    }

    // 1.5 s counted in frames: an odd rate must not end the ring inside a frame.
    void ringIsAlwaysWholeFrames()
    {
        for (const auto& [rate, channels, bytes] : {std::tuple{48000, 2, 288000},
                                                    {11025, 2, 66148},
                                                    {11025, 1, 33074},
                                                    {7, 6, 120},
                                                    {0, 2, 0},
                                                    {1'000'000'000, 2, 0}})
            QCOMPARE(AudioOut::ringCapacityBytes(rate, channels), bytes);
    }

    // Muted, sound is consumed as silence with the clock running; a clear
    // restarts the clock.
    void mutedSoundKeepsTheClockRunning()
    {
        AudioOut out;
        out.reset(48000, 2, 0);
        const auto tenth = stereoRamp(0, 4800);
        out.write(tenth.data(), int(tenth.size()));
        out.setMuted(true);
        const auto buffer = filled(out, 19200);
        QVERIFY(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0; }));
        QCOMPARE(out.playedSeconds(), 0.1);
        out.clear();
        QCOMPARE(out.queuedBytes() + out.playedSeconds(), 0.0);
    }

    // The render callback takes frames × frame size, limited by the buffer;
    // the clock counts only sound past the output's latency, and an empty ring
    // plays silence that the clock does not count.
    void renderCallbackAndDeviceLatency()
    {
        QCOMPARE(AudioOut::outputLatencySeconds(0.0), 0.03); // the floor
        useHandOutput(0.05);                                 // output latency 0.07 s = 13440 bytes at 48000 Hz stereo
        AudioOut out;
        QVERIFY(out.open(48000, 2));
        const auto sound = stereoRamp(0, 12000);
        out.write(sound.data(), int(sound.size()));
        // 10 frames asked, buffer of 400 bytes: 40 bytes taken, the rest silent.
        auto pulled = HandOutput::last->pull(10, 400);
        QCOMPARE(out.queuedBytes(), 48000 - 40);
        QVERIFY(std::equal(sound.begin(), sound.begin() + 40, pulled.begin()));
        QVERIFY(std::all_of(pulled.begin() + 40, pulled.end(), [](uint8_t b) { return b == 0; }));
        // 50 frames asked, buffer of 80 bytes: the buffer wins.
        pulled = HandOutput::last->pull(50, 80);
        QCOMPARE(out.queuedBytes(), 48000 - 120);
        HandOutput::last->pull(3330, 13320);
        QCOMPARE(out.playedSeconds(), 0.0);
        HandOutput::last->pull(480, 1920);
        QVERIFY(qAbs(out.playedSeconds() - 0.01) < 1e-9);
        pulled = HandOutput::last->pull(10000, 40000); // 32640 bytes left
        QVERIFY(std::equal(sound.begin() + 15360, sound.end(), pulled.begin()));
        QVERIFY(std::all_of(pulled.begin() + 32640, pulled.end(), [](uint8_t b) { return b == 0; }));
        QVERIFY(qAbs(out.playedSeconds() - (48000 - 13440) / 192000.0) < 1e-9);
    }

    // Each failing step gives its own text; formats a broken stream may claim
    // fail as a configuration failure (no ring of gigabytes); opening again
    // replaces the output and its ring.
    void failuresGiveTheirTextsAndReopeningReplaces()
    {
        const QString configure = QStringLiteral("Audio unavailable: could not configure the output");
        const QList<QPair<AudioBackend::ForcedFailure, QString>> forced{
            {AudioBackend::ForcedFailure::Open, QStringLiteral("Audio unavailable: no default output")},
            {AudioBackend::ForcedFailure::Configure, configure},
            {AudioBackend::ForcedFailure::Start, QStringLiteral("Audio unavailable: could not start the output")}};
        for (const auto& [failure, text] : forced) {
            AudioBackend::forceFailure(failure);
            kvrtest::LogCapture log;
            AudioOut out;
            QVERIFY(!out.open(48000, 2) && !out.isOpen());
            QCOMPARE(log.matching(QStringLiteral("Audio unavailable")), QStringList{text});
            out.pause(true); // harmless after a failed open
        }
        AudioBackend::forceFailure(AudioBackend::ForcedFailure::None);
        AudioBackend::setFactory([] { return AudioBackend::makeNullOutput(); });
        kvrtest::LogCapture log;
        AudioOut out;
        for (const auto& [rate, channels] : {std::pair{0, 2}, {48000, 0}, {1'000'000'000, 2}, {48000, 4096}})
            QVERIFY(!out.open(rate, channels));
        QCOMPARE(log.matching(QStringLiteral("Audio unavailable")), QStringList(4, configure));
        QVERIFY(out.open(48000, 2));
        out.write(stereoRamp(0, 1000).data(), 4000);
        QVERIFY(out.open(22050, 1));
        QCOMPARE(out.queuedBytes(), 0);
        QCOMPARE(out.freeBytes(), AudioOut::ringCapacityBytes(22050, 1));

        AudioOut closed; // never opened: nothing stored, nothing to crash on
        closed.write(reinterpret_cast<const uint8_t*>("abcd"), 4);
        closed.write(nullptr, 100);
        QCOMPARE(closed.queuedBytes() + closed.freeBytes(), 0);
        QCOMPARE(closed.playedSeconds(), 0.0);
    }

    // The ALSA layer against ALSA's own null device (no sound card needed):
    // configured, pulled on its thread, stopped and started again.
    void alsaOutputPullsThroughItsThread()
    {
        auto output = AudioBackend::openAlsaDevice("null");
        if (!output)
            QSKIP("ALSA is not built in here");
        QVERIFY(!AudioBackend::openAlsaDevice("no-such-device-here"));
        std::atomic<uint64_t> frames{0};
        QVERIFY(output->configure(48000, 2, countPulls, &frames));
        QVERIFY(output->latencySeconds() > 0.0 && output->latencySeconds() < 1.0);
        for (int round = 0; round < 2; ++round) {
            const uint64_t before = frames.load();
            QVERIFY(output->start());
            QTRY_VERIFY_WITH_TIMEOUT(frames.load() > before + 4800, 5000);
            output->stop();
            const uint64_t pulled = frames.load();
            QTest::qWait(20);
            QCOMPARE(frames.load(), pulled); // no pull after stop
        }
    }

    // A device that stops taking data leaves the ALSA writer in a write that
    // does not return (here: ALSA's file device writing into a pipe that
    // nobody reads); stopping must not wait for it, and the callback must
    // not run after the stop.
    void stopDoesNotWaitForAStuckDevice()
    {
        QTemporaryDir dir;
        const QByteArray pipe = dir.filePath(QStringLiteral("sink")).toUtf8();
        QCOMPARE(mkfifo(pipe.constData(), 0600), 0);
        const int reader = ::open(pipe.constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        signal(SIGPIPE, SIG_IGN);
        auto output = AudioBackend::openAlsaDevice(("file:'" + pipe + "',raw").constData());
        if (!output)
            QSKIP("ALSA is not built in here");
        std::atomic<uint64_t> pulls{0};
        QVERIFY(output->configure(48000, 2, countPulls, &pulls));
        QVERIFY(output->start());
        for (uint64_t last = 1; last != pulls.load(); QTest::qWait(300)) // until the pipe is full
            last = pulls.load();
        QElapsedTimer t;
        t.start();
        output->stop();
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
        const uint64_t pulled = pulls.load();
        char sink[65536];
        for (int i = 0; i < 20; ++i, QTest::qWait(10))
            while (::read(reader, sink, sizeof sink) > 0) {}
        QCOMPARE(pulls.load(), pulled);
        output.reset();
        ::close(reader);
    }

    // Writer and output thread at once, at an odd rate (1.5 s of bytes end
    // inside a frame), with uneven sizes on both sides and a stray half frame
    // on every other write: the ring wraps on frame boundaries, never stores
    // half a frame, and every frame arrives whole and in order.
    void concurrentWritesAndPullsKeepFramesWhole()
    {
        useHandOutput(0.0);
        AudioOut out;
        QVERIFY(out.open(11025, 2));
        std::atomic<bool> done{false};
        std::atomic<int> wrong{0}, heard{0};
        std::thread output([&] {
            const uint32_t sizes[] = {4096, 6, 1022, 30, 514};
            for (int i = 0, next = 0; !done; ++i) {
                wrong += checkRamp(HandOutput::last->pull(sizes[i % 5] / 4 + 1, sizes[i % 5]), next);
                heard = next;
            }
        });
        int written = 0;
        const int chunks[] = {1000, 1, 333, 77};
        for (int i = 0; written < 200000; ++i) {
            auto chunk = stereoRamp(written, chunks[i % 4]);
            chunk.resize(chunk.size() + (i % 2 ? 2 : 0), 0x55);
            if (out.freeBytes() < int(chunk.size())) {
                QThread::usleep(200);
                continue;
            }
            out.write(chunk.data(), int(chunk.size()));
            written += chunks[i % 4];
        }
        QElapsedTimer waited;
        waited.start();
        while (heard < written && waited.elapsed() < 5000)
            QThread::msleep(5);
        done = true;
        output.join();
        QCOMPARE(heard.load(), written);
        QCOMPARE(wrong.load(), 0);
    }

    // With no sound card the null output still pulls at the real rate, so the
    // sound clock advances with the wall clock (never ahead of it), and holds
    // while paused.
    void soundClockAdvancesOnTheNullOutputAndHoldsWhilePaused()
    {
        AudioBackend::setFactory([] { return AudioBackend::makeNullOutput(); });
        AudioOut out;
        QVERIFY(out.open(44100, 2));
        std::vector<uint8_t> sound(44100 * 4, 0); // one second
        out.write(sound.data(), int(sound.size()));
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(out.playedSeconds() > 0.2, 5000);
        QVERIFY(out.playedSeconds() <= clock.nsecsElapsed() / 1e9 + 0.05);
        out.pause(true);
        const double held = out.playedSeconds();
        QTest::qWait(100);
        QCOMPARE(out.playedSeconds(), held);
        out.pause(false);
        QTRY_VERIFY_WITH_TIMEOUT(out.playedSeconds() > held + 0.1, 5000);
    }
};

KVR_TEST_MAIN(TestAudioOut)

#include "tst_audio_out.moc"
