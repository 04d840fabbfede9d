// The player's HTTP input against our HTTP server: ranged reads and their
// restarts, servers that ignore ranges, give no length, close half-way or
// stall, and whole-file fetches with scripted statuses.

#include "tests/support/TestKit.h"
#include "tests/video/Peers.h"
#include "video/StreamInput.h"

#include <QNetworkAccessManager>
#include <QTemporaryDir>

#include <thread>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

using namespace kvr::video;

class HttpInput : public QObject {
    Q_OBJECT
    QUrl url(const QString& path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server.port).arg(path));
    }
    // Checks bytes against the server's pattern (byte i is i % 251).
    static bool matchesPattern(const uint8_t* data, int n, int64_t offset)
    {
        for (int i = 0; i < n; ++i) {
            if (data[i] != uint8_t((offset + i) % 251))
                return false;
        }
        return true;
    }
    void script(const QByteArray& json) { peers::writeScript(scriptPath, json); }
    // Reads to the end from the start; answers the bytes that matched the
    // pattern (-1 on a wrong byte) and leaves the last read's answer.
    static int64_t drain(HttpSource& src, int& last)
    {
        std::vector<uint8_t> buf(8192);
        int64_t total = 0;
        while ((last = src.read(buf.data(), int(buf.size()))) > 0) {
            if (!matchesPattern(buf.data(), last, total))
                return -1;
            total += last;
        }
        return total;
    }

    QTemporaryDir dir;
    QString scriptPath, logPath;
    peers::Peer server;
    NetPool pool;
    std::atomic<bool> stop{false};

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        scriptPath = dir.filePath(QStringLiteral("script.json"));
        logPath = dir.filePath(QStringLiteral("requests.log"));
        script("{}");
        // Media is not needed here; only the generated patterns.
        QVERIFY(server.start(QStringLiteral("python3"),
                             {kvrtest::fixturePath(QStringLiteral("hls/hls_server.py")), QStringLiteral("--root"),
                              dir.path(), QStringLiteral("--script"), scriptPath, QStringLiteral("--log"), logPath}));
    }

    void cleanupTestCase() { server.stop(); }

    void init()
    {
        stop = false;
        script("{}");
    }

    void rangedReadsAndSeeks()
    {
        const int64_t size = 20 * 1000 * 1000;
        HttpSource src(&pool, &stop, url(QStringLiteral("/pattern/%1").arg(size)), QByteArray());
        QVERIFY(src.request(0));
        QCOMPARE(src.httpStatus(), 206);
        QVERIFY(src.rangesSupported());
        QCOMPARE(src.totalSize(), size);
        QCOMPARE(src.seek(0, AVSEEK_SIZE), size);

        std::vector<uint8_t> buf(65536);
        // Read 10 MB: the consumed part is trimmed back to 4 MiB behind the position.
        int64_t pos = 0;
        while (pos < 10 * 1000 * 1000) {
            const int n = src.read(buf.data(), int(buf.size()));
            QVERIFY(n > 0);
            QVERIFY(matchesPattern(buf.data(), n, pos));
            pos += n;
            QVERIFY(src.position() - src.bufferStart() <= 8 * 1024 * 1024);
        }
        QCOMPARE(src.requestCount(), 1);

        // Back by 3 MiB: served from what is kept when it is still held, else
        // from a new request; the bytes are right either way.
        const bool kept = src.bufferStart() <= pos - 3 * 1024 * 1024;
        QCOMPARE(src.seek(pos - 3 * 1024 * 1024, SEEK_SET), pos - 3 * 1024 * 1024);
        int n = src.read(buf.data(), 1000);
        QVERIFY(n > 0 && matchesPattern(buf.data(), n, pos - 3 * 1024 * 1024));
        QCOMPARE(src.requestCount(), kept ? 1 : 2);
        const int before = src.requestCount();

        // Far back and far ahead: a new request each, and the bytes are right.
        QCOMPARE(src.seek(1234, SEEK_SET), int64_t(1234));
        n = src.read(buf.data(), 5000);
        QVERIFY(n > 0 && matchesPattern(buf.data(), n, 1234));
        QCOMPARE(src.requestCount(), before + 1);
        QCOMPARE(src.seek(-100, SEEK_END), size - 100);
        n = src.read(buf.data(), 5000);
        QCOMPARE(n, 100);
        QVERIFY(matchesPattern(buf.data(), n, size - 100));
        QCOMPARE(src.read(buf.data(), 10), AVERROR_EOF);

        // The Range header asked for each restart's offset.
        const auto reqs = peers::readRequests(logPath);
        QStringList ranges;
        for (const auto& r : reqs)
            ranges << r.value(QStringLiteral("headers")).toObject().value(QStringLiteral("Range")).toString();
        QVERIFY(ranges.contains(QStringLiteral("bytes=0-")));
        QVERIFY(ranges.contains(QStringLiteral("bytes=1234-")));
        QVERIFY(ranges.contains(QStringLiteral("bytes=%1-").arg(size - 100)));
    }

    void serverIgnoringRanges()
    {
        script(R"({"rules":[{"match":"/pattern/","range":"ignore"}]})");
        const int64_t size = 50 * 1024 * 1024;
        HttpSource src(&pool, &stop, url(QStringLiteral("/pattern/%1").arg(size)), QByteArray());
        QVERIFY(src.request(0));
        QCOMPARE(src.httpStatus(), 200);
        QVERIFY(!src.rangesSupported());
        QCOMPARE(src.totalSize(), size);

        std::vector<uint8_t> buf(4096);
        // 10 MiB ahead: read on, no new request.
        const int64_t ahead = 10 * 1024 * 1024;
        QCOMPARE(src.seek(ahead, SEEK_SET), ahead);
        int n = src.read(buf.data(), int(buf.size()));
        QVERIFY(n > 0 && matchesPattern(buf.data(), n, ahead));
        QCOMPARE(src.requestCount(), 1);

        // 40 MiB further: a new request, answered from byte 0 again; the reader
        // still gets the bytes at the asked position.
        const int64_t far = src.position() + 35 * 1024 * 1024;
        QCOMPARE(src.seek(far, SEEK_SET), far);
        QCOMPARE(src.requestCount(), 2);
        n = src.read(buf.data(), int(buf.size()));
        QVERIFY(n > 0 && matchesPattern(buf.data(), n, far));

        // Back to 100 without ranges: a new request from the start.
        QCOMPARE(src.seek(100, SEEK_SET), int64_t(100));
        n = src.read(buf.data(), int(buf.size()));
        QVERIFY(n > 0 && matchesPattern(buf.data(), n, 100));
    }

    void noLengthAndSmallTotal()
    {
        script(R"({"rules":[{"match":"/pattern/70000","range":"nolength"}]})");
        {
            HttpSource src(&pool, &stop, url(QStringLiteral("/pattern/70000")), QByteArray());
            QVERIFY(src.request(0));
            QCOMPARE(src.httpStatus(), 200);
            QCOMPARE(src.totalSize(), int64_t(-1));
            QCOMPARE(src.seek(0, AVSEEK_SIZE), int64_t(-1));
            QCOMPARE(src.seek(-10, SEEK_END), int64_t(-1));
            int last = 0;
            QCOMPARE(drain(src, last), int64_t(70000));
            QCOMPARE(last, AVERROR_EOF);
        }
        HttpSource small(&pool, &stop, url(QStringLiteral("/pattern/5000")), QByteArray());
        QVERIFY(small.request(0));
        QCOMPARE(small.httpStatus(), 206);
        QCOMPARE(small.totalSize(), int64_t(5000));
    }

    void connectionClosedHalfWay()
    {
        // A body cut short must end in an error, never look like a clean end.
        script(R"({"rules":[{"match":"/pattern/","range":"close_mid"}]})");
        HttpSource src(&pool, &stop, url(QStringLiteral("/pattern/400000")), QByteArray());
        QVERIFY(src.request(0));
        int last = 0;
        QCOMPARE(drain(src, last), int64_t(200000));
        QVERIFY(last < 0 && last != AVERROR_EOF);
    }

    void stalledReadEndsOnStop()
    {
        script(R"({"rules":[{"match":"/pattern/","range":"stall_mid","stall_ms":20000}]})");
        HttpSource src(&pool, &stop, url(QStringLiteral("/pattern/400000")), QByteArray());
        QVERIFY(src.request(0));
        std::vector<uint8_t> buf(8192);
        int64_t total = 0;
        // Consume the first half, then the read waits on the stalled server.
        std::thread stopper;
        QElapsedTimer t;
        int n = 0;
        for (;;) {
            if (total >= 200000 && !stopper.joinable()) {
                t.start();
                stopper = std::thread([this] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(300));
                    stop = true;
                });
            }
            n = src.read(buf.data(), int(buf.size()));
            if (n <= 0)
                break;
            total += n;
        }
        stopper.join();
        QCOMPARE(n, AVERROR_EXIT);
        qInfo() << "stalled read ended" << t.elapsed() << "ms after it began waiting (stop after 300 ms)";
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
    }

    void openRefusedByStatus()
    {
        script(R"({"rules":[{"match":"/pattern/","statuses":[403]}]})");
        HttpSource src(&pool, &stop, url(QStringLiteral("/pattern/1000")), QByteArray());
        QVERIFY(!src.request(0));
        QCOMPARE(src.httpStatus(), 403);
    }

    // Whole-file fetches: a busy server is waited through before the first
    // picture (about a second apart), a refusal is final at once, and once
    // pictures flow a failing fetch is tried only twice.
    void playlistFetches_data()
    {
        QTest::addColumn<QByteArray>("statuses");
        QTest::addColumn<bool>("hadPicture");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("requests");
        QTest::addColumn<int>("minMs");
        QTest::newRow("503 four times, then 200") << QByteArray("503,503,503,503") << false << QString() << 5 << 3800;
        QTest::newRow("403 at once") << QByteArray("403,403,403") << false << "HTTP 403" << 1 << 0;
        QTest::newRow("503 while playing") << QByteArray("503,503,503,503,503") << true << "HTTP 503" << 2 << 0;
    }

    void playlistFetches()
    {
        QFETCH(QByteArray, statuses);
        QFETCH(bool, hadPicture);
        QFETCH(QString, error);
        QFETCH(int, requests);
        QFETCH(int, minMs);
        QFile f(dir.filePath(QStringLiteral("a.m3u8")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("#EXTM3U\n");
        f.close();
        script(R"({"rules":[{"match":"a.m3u8","statuses":[)" + statuses + "]}]}");
        QFile::remove(logPath);
        FetchRequest r;
        r.net = &pool;
        r.stopFlag = &stop;
        r.url = url(QStringLiteral("/a.m3u8")).toString();
        r.hadPicture = hadPicture;
        QElapsedTimer t;
        t.start();
        const FetchResult res = fetchWhole(r);
        QCOMPARE(res.body, error.isEmpty() ? QByteArray("#EXTM3U\n") : QByteArray());
        QCOMPARE(res.error, error);
        QCOMPARE(peers::readRequests(logPath).size(), requests);
        QVERIFY2(t.elapsed() >= minMs && t.elapsed() < 15000, qPrintable(QString::number(t.elapsed())));
    }
};

KVR_TEST_MAIN(HttpInput)
#include "tst_http_input.moc"
