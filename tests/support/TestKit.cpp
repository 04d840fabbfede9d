#include "tests/support/TestKit.h"

#include "app/core/Settings.h"
#include "app/ui/Modal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QNetworkProxyFactory>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

#ifdef __linux__
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>
#endif

using namespace kvr::core;
using namespace kvr::ui;

namespace kvrtest {
namespace {

QTemporaryDir*& tempHome()
{
    static QTemporaryDir* dir = nullptr;
    return dir;
}

class LoopbackGuard final : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        if (query.queryType() == QNetworkProxyQuery::TcpServer || query.queryType() == QNetworkProxyQuery::UdpSocket)
            return {QNetworkProxy(QNetworkProxy::NoProxy)};
        const QString host = query.peerHostName().isEmpty() ? query.url().host() : query.peerHostName();
        if (!isLoopbackHost(host)) {
            std::fprintf(stderr, "FAIL! test tried to connect to a non-loopback host: %s\n", qPrintable(host));
            std::fflush(stderr);
            std::abort();
        }
        return {QNetworkProxy(QNetworkProxy::NoProxy)};
    }
};

LogCapture* activeCapture = nullptr;
QMutex captureChainMutex;

} // namespace

void prepareEnvironment(const char* suiteName)
{
    auto* dir = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/kvrtest-XXXXXX"));
    tempHome() = dir;
    std::atexit([] {
        delete tempHome();
        tempHome() = nullptr;
    });
    const QString home = dir->path();
    const auto sub = [&home](const char* name) {
        const QString p = home + QLatin1Char('/') + QLatin1String(name);
        QDir().mkpath(p);
        return QFile::encodeName(p);
    };
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", sub(".config"));
    qputenv("XDG_DATA_HOME", sub(".local/share"));
    qputenv("XDG_CACHE_HOME", sub(".cache"));
    qputenv("XDG_STATE_HOME", sub(".local/state"));
    const QByteArray runtime = sub("runtime");
    QFile::setPermissions(QFile::decodeName(runtime),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime);
    // A suite that tests the default store name asks to keep what it was given;
    // the temporary HOME still keeps that store private to the process.
    if (qgetenv("KVR_TESTKIT_KEEP_SETTINGS_APP") != "1")
        qputenv("KVR_SETTINGS_APP",
                QByteArray("kvrtest-") + suiteName + '-' + QByteArray::number(QCoreApplication::applicationPid()));
    // Nothing a test does may reach the built-in server or relay: both point
    // at a closed loopback port unless the test sets its own.
    qputenv("KVR_API_BASE", "http://127.0.0.1:9");
    qputenv("KVR_RTSP_HOST", "127.0.0.1");
    qputenv("KVR_RTSP_PORT", "9");
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

void prepareApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Kavira"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kavira"));
    QNetworkProxyFactory::setApplicationProxyFactory(new LoopbackGuard);
    // The saved relay too, so that a test which clears KVR_RTSP_HOST to
    // exercise discovery still finds only loopback candidates.
    Prefs::set(Prefs::kRelayAddress, QStringLiteral("127.0.0.1:9"));
    // A dialog that no test answered would wait for a person: fail instead.
    Modal::setStrict(true);
}

QString homeDir()
{
    return tempHome() ? tempHome()->path() : QString();
}

QString fixturePath(const QString& relative)
{
    return QStringLiteral(KVR_SOURCE_DIR "/tests/fixtures/") + relative;
}

qint64 memoryKiB(const char* field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray name = QByteArray(field) + ':';
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(name))
            return line.mid(name.size()).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

quint16 freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

#ifdef __linux__
namespace {
bool writeProcFile(const char* path, const QByteArray& text)
{
    const int fd = ::open(path, O_WRONLY);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.constData(), size_t(text.size())) == text.size();
    ::close(fd);
    return ok;
}
} // namespace

bool enterOwnNamespaces(int cloneFlags)
{
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (uid == 0)
        return ::unshare(cloneFlags) == 0;
    if (::unshare(CLONE_NEWUSER | cloneFlags) != 0)
        return false;
    writeProcFile("/proc/self/setgroups", "deny");
    return writeProcFile("/proc/self/uid_map", "0 " + QByteArray::number(uid) + " 1")
        && writeProcFile("/proc/self/gid_map", "0 " + QByteArray::number(gid) + " 1");
}
#else
bool enterOwnNamespaces(int)
{
    return false;
}
#endif

bool isLoopbackHost(const QString& host)
{
    QString h = host.trimmed();
    if (h.startsWith(QLatin1Char('[')) && h.endsWith(QLatin1Char(']')))
        h = h.mid(1, h.size() - 2);
    if (h.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(h);
    return !address.isNull() && address.isLoopback();
}

// ---- LogCapture

LogCapture::LogCapture()
{
    QMutexLocker lock(&captureChainMutex);
    outer = activeCapture;
    activeCapture = this;
    previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    QMutexLocker lock(&captureChainMutex);
    qInstallMessageHandler(previous);
    activeCapture = outer;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext& ctx, const QString& msg)
{
    QtMessageHandler next = nullptr;
    {
        QMutexLocker lock(&captureChainMutex);
        for (LogCapture* c = activeCapture; c; c = c->outer) {
            QMutexLocker own(&c->mutex);
            c->lines.append(msg);
        }
        LogCapture* innermost = activeCapture;
        while (innermost && innermost->outer)
            innermost = innermost->outer;
        next = innermost ? innermost->previous : nullptr;
    }
    if (next)
        next(type, ctx, msg);
    else
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}

QStringList LogCapture::messages() const
{
    QMutexLocker lock(&mutex);
    return lines;
}

QStringList LogCapture::matching(const QString& text) const
{
    QMutexLocker lock(&mutex);
    QStringList out;
    for (const QString& l : lines)
        if (l.contains(text))
            out.append(l);
    return out;
}

void LogCapture::clear()
{
    QMutexLocker lock(&mutex);
    lines.clear();
}

// ---- TestClock

TestClock::TestClock(const QDateTime& startUtc) : wallMs(startUtc.toMSecsSinceEpoch())
{
    kvr::core::Clock::setInstance(this);
}

TestClock::~TestClock()
{
    kvr::core::Clock::setInstance(nullptr);
}

QDateTime TestClock::nowUtc() const
{
    return QDateTime::fromMSecsSinceEpoch(wallMs.load(), Qt::UTC);
}

void TestClock::setNowUtc(const QDateTime& t)
{
    wallMs.store(t.toMSecsSinceEpoch());
}

void TestClock::advanceMs(qint64 ms)
{
    wallMs.fetch_add(ms);
    mono.fetch_add(ms);
}

} // namespace kvrtest
