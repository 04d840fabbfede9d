// The player's HTTP input against our HTTP server: ranged reads and their
// restarts, servers that ignore ranges, give no length, close half-way or
// stall, connections that never jam, and whole-file fetches with scripted statuses.

#include "tests/support/TestKit.h"
#include "tests/video/Peers.h"
#include "video/StreamInput.h"

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
    std::unique_ptr<HttpSource> source(int64_t size)
    {
        auto src =
            std::make_unique<HttpSource>(&pool, &stop, url(QStringLiteral("/pattern/%1").arg(size)), QByteArray());
        return src->request(0) ? std::move(src) : nullptr;
    }
    // Reads `n` bytes at the source's position and checks them against the
    // server's pattern (byte i is i % 251); answers the last read's result.
    static int readChecked(HttpSource& src, int n)
    {
        std::vector<uint8_t> buf(size_t(std::max(n, 1)));
        const int64_t at = src.position();
        const int got = src.read(buf.data(), n);
        for (int i = 0; i < got; ++i)
            if (buf[size_t(i)] != uint8_t((at + i) % 251))
                return -12345;
        return got;
    }
    // Reads to the end; answers the bytes read and leaves the last result.
    static int64_t drain(HttpSource& src, int& last)
    {
        int64_t total = 0;
        while ((last = readChecked(src, 8192)) > 0)
            total += last;
        return last == -12345 ? -1 : total;
    }
    void script(const QByteArray& json) { peers::writeScript(scriptPath, json); }
    QStringList logged(const QString& field) const
    {
        QStringList out;
        for (const auto& r : peers::readRequests(logPath))
            out << r.value(QStringLiteral("headers")).toObject().value(field).toString();
        return out;
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
        QVERIFY(peers::startHls(server, dir.path(), scriptPath, logPath, false));
    }

    void init()
    {
        stop = false;
        script("{}");
        QFile::remove(logPath);
    }

    void rangedReadsAndSeeks()
    {
        const int64_t size = 20 * 1000 * 1000;
        auto src = source(size);
        QVERIFY(src);
        QCOMPARE(src->httpStatus(), 206);
        QCOMPARE(src->seek(0, AVSEEK_SIZE), size);
        while (src->position() < 10 * 1000 * 1000)
            QVERIFY(readChecked(*src, 65536) > 0);
        QCOMPARE(src->requestCount(), 1);
        // Back 3 MiB: from what is kept, if the reader had not emptied it; far
        // back and to the end: new requests.
        const int64_t back = src->position() - 3 * 1024 * 1024;
        const bool kept = src->bufferStart() <= back;
        QCOMPARE(src->seek(back, SEEK_SET), back);
        QVERIFY(readChecked(*src, 1000) > 0);
        QCOMPARE(src->requestCount(), kept ? 1 : 2);
        QCOMPARE(src->seek(1234, SEEK_SET), int64_t(1234));
        QVERIFY(readChecked(*src, 5000) > 0);
        QCOMPARE(src->seek(-100, SEEK_END), size - 100);
        QCOMPARE(readChecked(*src, 5000), 100);
        QCOMPARE(readChecked(*src, 10), AVERROR_EOF);
        const QStringList ranges = logged(QStringLiteral("Range"));
        QCOMPARE(ranges.size(), kept ? 3 : 4);
        for (const int64_t at : {int64_t(0), int64_t(1234), size - 100})
            QVERIFY(ranges.contains(QStringLiteral("bytes=%1-").arg(at)));
    }

    void serverIgnoringRanges()
    {
        script(R"({"rules":[{"match":"/pattern/","range":"ignore"}]})");
        auto src = source(50 * 1024 * 1024);
        QVERIFY(src);
        QCOMPARE(src->httpStatus(), 200);
        // 10 MiB ahead: read on; 35 MiB further: a new request, answered from
        // byte 0 again; back to 100: from the start again.
        for (const int64_t to : {int64_t(10) << 20, int64_t(45) << 20, int64_t(100)}) {
            QCOMPARE(src->seek(to, SEEK_SET), to);
            QVERIFY(readChecked(*src, 4096) > 0);
        }
        QCOMPARE(src->requestCount(), 3);
    }

    // Bodies that end early must end in an error, never look like a clean
    // end; a body without a length is read to its end.
    void bodiesOfEveryShape()
    {
        const struct {
            QByteArray mode;
            int64_t total, read;
            bool clean;
        } rows[] = {{"nolength", -1, 70000, true}, {"close_mid", 70000, 35000, false}};
        for (const auto& r : rows) {
            script("{\"rules\":[{\"match\":\"/pattern/\",\"range\":\"" + r.mode + "\"}]}");
            auto src = source(70000);
            QVERIFY(src);
            QCOMPARE(src->httpStatus(), 200);
            QCOMPARE(src->totalSize(), r.total);
            QCOMPARE(src->seek(0, AVSEEK_SIZE), r.total);
            int last = 0;
            QCOMPARE(drain(*src, last), r.read);
            QCOMPARE(last == AVERROR_EOF, r.clean);
        }
    }

    void refusedAndStalledRequests()
    {
        script(R"({"rules":[{"match":"/pattern/1000","statuses":[403]},)"
               R"({"match":"/pattern/","range":"stall_mid","stall_ms":20000}]})");
        HttpSource refused(&pool, &stop, url(QStringLiteral("/pattern/1000")), QByteArray());
        QVERIFY(!refused.request(0));
        QCOMPARE(refused.httpStatus(), 403);

        // Half the body, then the server stalls: a stop ends the wait at once.
        auto src = source(400000);
        QVERIFY(src);
        while (src->position() < 200000)
            QVERIFY(readChecked(*src, 8192) > 0);
        std::thread stopper([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            stop = true;
        });
        QElapsedTimer t;
        t.start();
        const int n = readChecked(*src, 8192);
        stopper.join();
        QCOMPARE(n, AVERROR_EXIT);
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
    }

    // Reads given up half-way (seeks, closes) never jam later requests; that
    // finished reads leave their connection is shown by a recording's playback.
    void connectionsNeverJam()
    {
        NetPool fresh;
        for (int i = 0; i < 12; ++i) {
            HttpSource src(&fresh, &stop, url(QStringLiteral("/pattern/%1").arg(40 << 20)), QByteArray());
            QVERIFY2(src.request(0), qPrintable(QString::number(i)));
            QVERIFY(readChecked(src, 65536) > 0);
            QCOMPARE(src.seek(30 << 20, SEEK_SET), int64_t(30 << 20));
            QVERIFY(readChecked(src, 65536) > 0);
        }
    }

    // Whole-file fetches: a busy server is waited through before the first
    // picture (about a second apart), a refusal is final at once, and once
    // pictures flow a failing fetch is tried only twice.
    void playlistFetches()
    {
        QFile f(dir.filePath(QStringLiteral("a.m3u8")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("#EXTM3U\n");
        f.close();
        const struct {
            QByteArray statuses;
            bool hadPicture;
            QString error;
            int requests, minMs;
        } rows[] = {{"503,503,503,503", false, QString(), 5, 3800},
                    {"403,403,403", false, QStringLiteral("HTTP 403"), 1, 0},
                    {"503,503,503,503,503", true, QStringLiteral("HTTP 503"), 2, 0}};
        for (const auto& row : rows) {
            QFile::remove(logPath);
            script(R"({"rules":[{"match":"a.m3u8","statuses":[)" + row.statuses + "]}]}");
            FetchRequest r;
            r.net = &pool;
            r.stopFlag = &stop;
            r.url = url(QStringLiteral("/a.m3u8")).toString();
            r.hadPicture = row.hadPicture;
            QElapsedTimer t;
            t.start();
            const FetchResult res = fetchWhole(r);
            QCOMPARE(res.body, row.error.isEmpty() ? QByteArray("#EXTM3U\n") : QByteArray());
            QCOMPARE(res.error, row.error);
            QCOMPARE(peers::readRequests(logPath).size(), row.requests);
            QVERIFY2(t.elapsed() >= row.minMs, qPrintable(QString::number(t.elapsed())));
        }
    }
};

KVR_TEST_MAIN(HttpInput)
#include "tst_http_input.moc"
