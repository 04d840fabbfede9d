#include "tests/support/TestKit.h"
#include "video/AudioBackend.h"
#include "video/AudioOut.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Interleaved stereo frames whose left sample is +n and right sample is -n,
// counting on from `first`, so any slide of a channel shows at once.
std::vector<uint8_t> stereoRamp(int first, int frames)
{
    std::vector<uint8_t> bytes(size_t(frames) * 4);
    for (int i = 0; i < frames; ++i) {
        const int16_t left = int16_t((first + i) % 30000 + 1);
        const int16_t right = int16_t(-left);
        std::memcpy(&bytes[size_t(i) * 4], &left, 2);
        std::memcpy(&bytes[size_t(i) * 4 + 2], &right, 2);
    }
    return bytes;
}

// Checks whole frames of a buffer against the ramp from `next` on, up to the
// first silent frame (an underrun); answers the frames that were wrong.
template <typename Counter> int checkRamp(const uint8_t* data, size_t bytes, Counter& next)
{
    int wrong = 0;
    for (size_t at = 0; at + 4 <= bytes; at += 4) {
        int16_t left;
        int16_t right;
        std::memcpy(&left, data + at, 2);
        std::memcpy(&right, data + at + 2, 2);
        if (left == 0 && right == 0)
            break;
        wrong += (right != -left || left != int16_t(next % 30000 + 1)) ? 1 : 0;
        ++next;
    }
    return wrong;
}

// An output the test drives by hand: it records the callback and pulls only
// when the test calls pull().
class HandOutput final : public AudioBackend {
public:
    explicit HandOutput(double latency) : m_latency(latency) {}
    bool configure(int, int channels, AudioRenderCallback callback, void* refCon) override
    {
        m_channels = channels;
        m_callback = callback;
        m_refCon = refCon;
        return true;
    }
    double latencySeconds() const override { return m_latency; }
    bool start() override { return true; }
    void stop() override {}

    static HandOutput* last;
    // Asks the sound output for `frames` frames into a buffer of `bytes` bytes.
    std::vector<uint8_t> pull(uint32_t frames, uint32_t bytes)
    {
        std::vector<uint8_t> out(bytes, 0xAB);
        AudioRenderBuffer buffer{uint32_t(m_channels), bytes, out.data()};
        AudioRenderBufferList list{1, &buffer};
        m_callback(m_refCon, frames, &list);
        return out;
    }

private:
    double m_latency;
    int m_channels = 0;
    AudioRenderCallback m_callback = nullptr;
    void* m_refCon = nullptr;
};
HandOutput* HandOutput::last = nullptr;

void useHandOutput(double latency)
{
    AudioBackend::setFactory([latency] {
        auto out = std::make_unique<HandOutput>(latency);
        HandOutput::last = out.get();
        return out;
    });
}

} // namespace

class TestAudioOut : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        AudioBackend::setFactory({});
        AudioBackend::forceFailure(AudioBackend::ForcedFailure::None);
        HandOutput::last = nullptr;
    }

    void ringIsAlwaysWholeFrames_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("bytes");
        QTest::newRow("48000 stereo") << 48000 << 2 << 288000;
        QTest::newRow("11025 stereo") << 11025 << 2 << 66148; // 16537 frames, not 66150 bytes
        QTest::newRow("11025 mono") << 11025 << 1 << 33074;
        QTest::newRow("7 Hz 6 channels") << 7 << 6 << 120;
        QTest::newRow("no rate") << 0 << 2 << 0;
        QTest::newRow("absurd rate") << 1'000'000'000 << 2 << 0;
    }

    void ringIsAlwaysWholeFrames()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, bytes);
        QCOMPARE(AudioOut::ringCapacityBytes(rate, channels), bytes);
        if (channels > 0)
            QCOMPARE(bytes % (channels * 2), 0);
    }

    // An odd rate makes 1.5 s of bytes end inside a frame; the ring must still
    // wrap on frame boundaries so left stays left through many wraps, whatever
    // the sizes of writes and of the output's buffers.
    void channelsNeverSwapAcrossWrapsAtAnOddRate()
    {
        AudioOut out;
        out.reset(11025, 2, 0);
        const int capacity = AudioOut::ringCapacityBytes(11025, 2);
        int written = 0;
        int expected = 0;
        const int writeSizes[] = {4001, 1, 7, 333, 12000};
        const uint32_t readBytes[] = {4098, 6, 2, 10001, 8190};
        for (int round = 0; round < 40; ++round) {
            const int frames = writeSizes[round % 5];
            auto chunk = stereoRamp(written, frames);
            // A stray half frame at the end of a write is never stored.
            const int tail = round % 2 ? 2 : 0;
            chunk.resize(chunk.size() + size_t(tail), 0x55);
            const int before = out.queuedBytes();
            out.write(chunk.data(), int(chunk.size()));
            const int stored = (out.queuedBytes() - before) / 4;
            QCOMPARE((out.queuedBytes() - before) % 4, 0);
            written += stored;
            QVERIFY(out.queuedBytes() <= capacity);

            std::vector<uint8_t> buffer(readBytes[round % 5]);
            out.fill(buffer.data(), int(buffer.size()));
            QCOMPARE(checkRamp(buffer.data(), buffer.size(), expected), 0);
            // A buffer that ends in half a frame gets silence there.
            if (buffer.size() % 4)
                QCOMPARE(int(buffer.back()), 0);
        }
        QVERIFY(expected > capacity / 4 * 2); // the ring wrapped twice at least
    }

    void writeStoresWhatFitsAndDropsTheRest()
    {
        AudioOut out;
        out.reset(48000, 2, 0);
        QCOMPARE(out.freeBytes(), 288000);
        std::vector<uint8_t> big(400000, 1);
        out.write(big.data(), int(big.size()));
        QCOMPARE(out.queuedBytes(), 288000);
        QCOMPARE(out.freeBytes(), 0);
        out.write(big.data(), 4);
        QCOMPARE(out.queuedBytes(), 288000);

        AudioOut closed; // never opened: no ring, nothing stored, nothing to crash on
        closed.write(big.data(), 100);
        QCOMPARE(closed.queuedBytes(), 0);
        QCOMPARE(closed.freeBytes(), 0);
        QCOMPARE(closed.playedSeconds(), 0.0);
        out.write(nullptr, 100);
        out.write(big.data(), -4);
        QCOMPARE(out.queuedBytes(), 288000);
    }

    void underrunPlaysSilenceAndTheClockCountsOnlySound()
    {
        AudioOut out;
        out.reset(48000, 2, 5760); // 0.03 s of latency
        const auto sound = stereoRamp(0, 1000);
        out.write(sound.data(), int(sound.size()));
        std::vector<uint8_t> buffer(8000, 0xAB);
        out.fill(buffer.data(), int(buffer.size()));
        QVERIFY(std::memcmp(buffer.data(), sound.data(), sound.size()) == 0);
        for (size_t i = sound.size(); i < buffer.size(); ++i)
            QCOMPARE(int(buffer[i]), 0);
        QCOMPARE(out.queuedBytes(), 0);
        // 4000 bytes heard, all still inside the 5760 bytes of latency.
        QCOMPARE(out.playedSeconds(), 0.0);

        const auto more = stereoRamp(0, 2000);
        out.write(more.data(), int(more.size()));
        out.fill(buffer.data(), int(buffer.size()));
        // 12000 bytes rendered in all, 6240 past the latency.
        QCOMPARE(out.playedSeconds(), 6240.0 / 192000.0);
        // An empty ring keeps the clock still.
        out.fill(buffer.data(), int(buffer.size()));
        QCOMPARE(out.playedSeconds(), 6240.0 / 192000.0);
    }

    void mutedOutputKeepsTheClockAndClearRestartsIt()
    {
        AudioOut out;
        out.reset(48000, 2, 0);
        const auto sound = stereoRamp(0, 9600);
        out.write(sound.data(), int(sound.size()));
        // Muted: silence, but the sound is consumed and the clock runs.
        out.setMuted(true);
        std::vector<uint8_t> buffer(19200, 0xAB);
        out.fill(buffer.data(), int(buffer.size()));
        QVERIFY(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0; }));
        QCOMPARE(out.playedSeconds(), 0.1);
        out.setMuted(false);
        out.clear();
        QCOMPARE(out.queuedBytes(), 0);
        QCOMPARE(out.playedSeconds(), 0.0);
        // After a clear the ring continues in frame order from its start.
        const auto next = stereoRamp(500, 10);
        out.write(next.data(), int(next.size()));
        std::vector<uint8_t> again(40);
        out.fill(again.data(), 40);
        QVERIFY(std::memcmp(again.data(), next.data(), 40) == 0);
    }

    // The render callback takes frames × frame size, limited by the buffer,
    // and the clock counts only sound past the output's latency.
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
        QVERIFY(std::memcmp(pulled.data(), sound.data(), 40) == 0);
        QVERIFY(std::all_of(pulled.begin() + 40, pulled.end(), [](uint8_t b) { return b == 0; }));
        // 50 frames asked, buffer of 80 bytes: the buffer wins.
        pulled = HandOutput::last->pull(50, 80);
        QCOMPARE(out.queuedBytes(), 48000 - 120);
        QVERIFY(std::memcmp(pulled.data(), sound.data() + 40, 80) == 0);
        HandOutput::last->pull(3330, 13320);
        QCOMPARE(out.playedSeconds(), 0.0);
        HandOutput::last->pull(480, 1920);
        QVERIFY(qAbs(out.playedSeconds() - 0.01) < 1e-9);
        out.close();
        QVERIFY(!out.isOpen());
    }

    void forcedFailuresGiveTheirTexts_data()
    {
        QTest::addColumn<int>("failure");
        QTest::addColumn<QString>("text");
        QTest::newRow("open") << int(AudioBackend::ForcedFailure::Open) << "Audio unavailable: no default output";
        QTest::newRow("configure") << int(AudioBackend::ForcedFailure::Configure)
                                   << "Audio unavailable: could not configure the output";
        QTest::newRow("start") << int(AudioBackend::ForcedFailure::Start)
                               << "Audio unavailable: could not start the output";
    }

    void forcedFailuresGiveTheirTexts()
    {
        QFETCH(int, failure);
        QFETCH(QString, text);
        AudioBackend::forceFailure(AudioBackend::ForcedFailure(failure));
        kvrtest::LogCapture log;
        AudioOut out;
        QVERIFY(!out.open(48000, 2));
        QVERIFY(!out.isOpen());
        QCOMPARE(log.matching(QStringLiteral("Audio unavailable")), QStringList{text});
        out.close(); // harmless after a failed open
        out.pause(true);
    }

    void badFormatsFailAndReopeningReplacesTheOutput()
    {
        AudioBackend::setFactory([] { return AudioBackend::makeNullOutput(); });
        kvrtest::LogCapture log;
        AudioOut out;
        QVERIFY(!out.open(0, 2));
        QVERIFY(!out.open(48000, 0));
        QVERIFY(!out.open(1'000'000'000, 2)); // a broken stream's rate: no 12 GB ring
        QVERIFY(!out.open(48000, 4096));
        QVERIFY(!out.isOpen());
        QCOMPARE(log.matching(QStringLiteral("Audio unavailable")),
                 QStringList(4, QStringLiteral("Audio unavailable: could not configure the output")));

        QVERIFY(out.open(48000, 2));
        std::vector<uint8_t> sound(4000, 0);
        out.write(sound.data(), int(sound.size()));
        QVERIFY(out.open(22050, 1));
        QCOMPARE(out.queuedBytes(), 0);
        QCOMPARE(out.freeBytes(), AudioOut::ringCapacityBytes(22050, 1));
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
        auto count = [](void* ref, uint32_t n, AudioRenderBufferList* list) {
            static_cast<std::atomic<uint64_t>*>(ref)->fetch_add(n);
            std::memset(list->buffers[0].data, 0, list->buffers[0].byteSize);
            return 0;
        };
        QVERIFY(output->configure(48000, 2, count, &frames));
        QVERIFY(output->latencySeconds() > 0.0);
        QVERIFY(output->latencySeconds() < 1.0);
        QVERIFY(output->start());
        QTRY_VERIFY_WITH_TIMEOUT(frames.load() > 4800, 5000);
        output->stop();
        const uint64_t pulled = frames.load();
        QTest::qWait(20);
        QCOMPARE(frames.load(), pulled); // no pull after stop
        QVERIFY(output->start());
        QTRY_VERIFY_WITH_TIMEOUT(frames.load() > pulled + 4800, 5000);
        output->stop();
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
        std::atomic<int> pulls{0};
        auto count = [](void* ref, uint32_t, AudioRenderBufferList* list) {
            ++*static_cast<std::atomic<int>*>(ref);
            std::memset(list->buffers[0].data, 0, list->buffers[0].byteSize);
            return 0;
        };
        QVERIFY(output->configure(48000, 2, count, &pulls));
        QVERIFY(output->start());
        for (int last = -1; last != pulls.load();) { // until the pipe is full
            last = pulls.load();
            QTest::qWait(300);
        }
        QElapsedTimer t;
        t.start();
        output->stop();
        qInfo() << "stop with a stuck device took" << t.elapsed() << "ms";
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
        const int pulled = pulls.load();
        char sink[65536];
        for (int i = 0; i < 20; ++i, QTest::qWait(10))
            while (::read(reader, sink, sizeof sink) > 0) {}
        QCOMPARE(pulls.load(), pulled);
        output.reset();
        ::close(reader);
    }

    // Writer and output thread at once, at an odd rate, with uneven sizes on
    // both sides: every frame arrives whole and in order.
    void concurrentWritesAndPullsKeepFramesWhole()
    {
        useHandOutput(0.0);
        AudioOut out;
        QVERIFY(out.open(11025, 2));
        // The output's side: uneven buffers pulled as fast as they come, every frame checked.
        std::atomic<bool> done{false};
        std::atomic<int> wrong{0}, heard{0};
        std::thread output([&] {
            const uint32_t sizes[] = {4096, 6, 1022, 30, 514};
            for (int i = 0, next = 0; !done; ++i) {
                const auto got = HandOutput::last->pull(sizes[i % 5] / 4 + 1, sizes[i % 5]);
                wrong += checkRamp(got.data(), got.size(), next);
                heard = next;
            }
        });
        int written = 0;
        const int chunks[] = {1000, 1, 333, 77};
        for (int i = 0; written < 200000; ++i) {
            auto chunk = stereoRamp(written, chunks[i % 4]);
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
    // sound clock advances with the wall clock (never ahead of it).
    void soundClockAdvancesOnTheNullOutputAndHoldsWhilePaused()
    {
        AudioBackend::setFactory([] { return AudioBackend::makeNullOutput(); });
        AudioOut out;
        QVERIFY(out.open(44100, 2));
        QVERIFY(out.isOpen());
        std::vector<uint8_t> sound(44100 * 4, 0); // one second
        out.write(sound.data(), int(sound.size()));
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(out.playedSeconds() > 0.2, 5000);
        QVERIFY(out.playedSeconds() <= clock.nsecsElapsed() / 1e9 + 0.05);

        // The output stops pulling at once: the clock holds while paused.
        out.pause(true);
        const double held = out.playedSeconds();
        QTest::qWait(100);
        QCOMPARE(out.playedSeconds(), held);
        out.pause(false);
        QTRY_VERIFY_WITH_TIMEOUT(out.playedSeconds() > held + 0.1, 5000);
        out.close();
        QVERIFY(!out.isOpen());
    }
};

KVR_TEST_MAIN(TestAudioOut)
#include "tst_audio_out.moc"
