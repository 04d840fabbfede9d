#pragma once

// Helpers shared by the native device services suites: file modes, a disk
// that fills up, a time zone for one scope, the folder of the native data
// files, probe outcomes and answers, waiting for one callback, and the device
// record that points at a fake device on loopback.

#include "native/services/DeviceProbe.h"
#include "native/services/NativeHttp.h"
#include "native/services/NativeRecords.h"
#include "native/services/SecureFile.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/support/TestKit.h"

#include <QtTest>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace nativetest {

// The process's memory figures, where the kit of every suite has them.
using kvrtest::kSanitizedHeap;
using kvrtest::memoryKiB;

// The permission bits of a file, or -1 when it does not exist.
inline int modeOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

// Makes every file write past `bytes` fail (as a full disk would) while it
// lives.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit lim = saved;
        lim.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved); }
    Q_DISABLE_COPY(FileSizeLimit)
    rlimit saved{};
};

// Sets TZ while it lives (for clock changes and skipped midnights).
struct ScopedTz {
    explicit ScopedTz(const char* zone) { qputenv("TZ", zone); }
    ~ScopedTz() { wasSet ? void(qputenv("TZ", saved)) : void(qunsetenv("TZ")); }
    Q_DISABLE_COPY(ScopedTz)
    const QByteArray saved = qgetenv("TZ");
    const bool wasSet = qEnvironmentVariableIsSet("TZ");
};

// Catches the one answer of an asynchronous call, counting how often it came.
// The answer lands in a slot the callback shares: a case that stops at a
// failed check leaves its requests under way, and an answer that comes after
// the Catch has gone must not write into what the stack or heap holds by then
// (the suite would crash in a later case instead of reporting this one).
template <typename T> struct Catch {
    struct Slot {
        std::optional<T> value;
        int calls = 0;
    };
    std::shared_ptr<Slot> slot = std::make_shared<Slot>();
    std::optional<T>& value = slot->value;
    int& calls = slot->calls;
    std::function<void(const T&)> cb()
    {
        return [slot = slot](const T& x) { slot->value = x, ++slot->calls; };
    }
    bool wait(int ms = 20000)
    {
        QElapsedTimer t;
        t.start();
        while (!value && t.elapsed() < ms)
            QTest::qWait(5);
        return value.has_value();
    }
    const T* operator->() const { return &*value; }
};

// Runs one probe (a diagnosis, or a fetch over `windowDays`) and waits for
// its outcome.
inline kvr::services::NativeProbe::Outcome probe(const kvr::services::Native::Device& d, int windowDays = -1)
{
    Catch<kvr::services::NativeProbe::Outcome> c;
    if (windowDays < 0)
        kvr::services::NativeProbe::diagnose(d, c.cb());
    else
        kvr::services::NativeProbe::fetch(d, windowDays, c.cb());
    c.wait(30000);
    return c.value.value_or(kvr::services::NativeProbe::Outcome{});
}

// A device answer with a status and, optionally, a body.
inline kvr::services::NativeHttp::Response answer(int status, const QByteArray& body = {},
                                                  const QByteArray& challenge = {})
{
    kvr::services::NativeHttp::Response r;
    r.status = status;
    r.body = body;
    r.wwwAuthenticate = challenge;
    if (status == 0) {
        r.error = QStringLiteral("No answer in time.");
        r.failure = kvr::services::Native::Failure::Timeout;
    } else if (status == 401) {
        r.failure = kvr::services::Native::Failure::LoginRefused;
    } else if (!r.ok()) {
        r.failure = kvr::services::Native::Failure::HttpStatus;
    }
    return r;
}

// A scripted answer of a fake device; `edit` sets the rarer fields.
inline kvrtest::FakeDevice::Reply reply(int status, const QByteArray& body = {},
                                        const std::function<void(kvrtest::FakeDevice::Reply&)>& edit = {})
{
    kvrtest::FakeDevice::Reply r;
    r.status = status;
    r.body = body;
    if (edit)
        edit(r);
    return r;
}

// The text of an uptime file: `count` series of `days` days up to `today`,
// every day with the same hours.
inline QByteArray uptimeFileText(int count, int days, const QDate& today,
                                 const QByteArray& hours = "[60,60,60,60,60,60,60,60,60,60,60,60,"
                                                           "60,60,60,60,60,60,60,60,60,60,60,60]")
{
    QByteArray text = "{\"series\":{";
    for (int i = 0; i < count; ++i) {
        text += (i ? ",\"" : "\"") + QByteArray("c:other:") + QByteArray::number(i) + "\":{";
        for (int d = 0; d < days; ++d)
            text += (d ? ",\"" : "\"") + today.addDays(-d).toString(Qt::ISODate).toLatin1() + "\":" + hours;
        text += '}';
    }
    return text + "},\"version\":1}";
}

// Probe outcomes: up, offline, and a refused login.
inline kvr::services::Native::ProbeResult upResult()
{
    kvr::services::Native::ProbeResult r;
    r.health.internet = r.health.device = r.health.httpPort = r.health.rtspPort = kvr::services::Native::Passed;
    r.health.latencyMs = 12;
    r.health.lossPercent = 0;
    r.health.quality = QStringLiteral("Good");
    return r;
}
inline kvr::services::Native::ProbeResult offlineResult()
{
    kvr::services::Native::ProbeResult r;
    r.health.internet = r.health.device = kvr::services::Native::Failed;
    r.health.error = QStringLiteral("Device is offline.");
    r.failure = kvr::services::Native::Failure::Offline;
    return r;
}
inline kvr::services::Native::ProbeResult refusedResult()
{
    kvr::services::Native::ProbeResult r;
    r.health.internet = kvr::services::Native::Passed;
    r.health.device = r.health.digest = kvr::services::Native::Failed;
    r.health.error = QStringLiteral("Username or password is incorrect.");
    r.loginRefused = true;
    r.failure = kvr::services::Native::Failure::LoginRefused;
    return r;
}

// A check of a recorder as the fleet screens' suites stage one: it answers
// (or not) after `latencyMs`, its disk is fine or faulty, and of its
// `channels` those `online` picks are up (none while it is down).
inline kvr::services::Native::ProbeResult checkedRecorder(bool up, int latencyMs, bool diskFault, int channels,
                                                          const std::function<bool(int)>& online)
{
    using kvr::services::Native::Failed;
    using kvr::services::Native::Passed;
    kvr::services::Native::ProbeResult r;
    r.health.internet = Passed;
    r.health.device = r.health.httpPort = r.health.rtspPort = up ? Passed : Failed;
    r.health.latencyMs = latencyMs;
    r.health.quality = up ? QStringLiteral("Good") : QString();
    r.health.hdd = diskFault ? QStringLiteral("Fault") : QStringLiteral("OK");
    if (!up)
        r.health.error = QStringLiteral("The device did not answer on its HTTP port or its RTSP port.");
    r.channelsKnown = true;
    for (int c = 1; c <= channels; ++c) {
        kvr::services::Native::ChannelInfo info;
        info.channel = c;
        info.onlineKnown = true;
        info.online = up && online(c);
        r.channels << info;
    }
    return r;
}

// Empties the folder native mode keeps its files in (each test starts
// without files).
inline void clearDataDir()
{
    const QString dir = QFileInfo(kvr::services::SecureFile::path(QStringLiteral("x"))).path();
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
}

// Files (and folders) kept aside because they could not be read.
inline QStringList unreadCopies()
{
    return QDir(QFileInfo(kvr::services::SecureFile::path(QStringLiteral("x"))).path())
        .entryList({QStringLiteral("*.unread-*")}, QDir::Files | QDir::Dirs);
}

// A stored device in one line: name, address, channels, health (device,
// latency, disk, recorded days, model) and each camera as name:state:blur
// (state 0 unknown, 1 online, 2 offline).
inline QString describe(const kvr::services::Native::Device& d)
{
    QStringList cams;
    for (const kvr::services::Native::Camera& c : d.cameras)
        cams << QStringLiteral("%1:%2:%3").arg(c.name).arg(int(c.state())).arg(c.blur);
    const kvr::services::Native::Health& h = d.health;
    return QString::asprintf("%s %s ch%d dev%d %dms hdd:%s days:%d model:%s [%s]", qUtf8Printable(d.name),
                             qUtf8Printable(d.ip), d.channels, h.device, h.latencyMs, qUtf8Printable(h.hdd),
                             h.recordingDays, qUtf8Printable(h.model), qUtf8Printable(cams.join(',')));
}

// A device record that reaches the fake device on loopback with its login
// (or with the given password).
inline kvr::services::Native::Device deviceFor(const kvrtest::FakeDevice& fake,
                                               const QString& brand = QStringLiteral("HIKVISION"),
                                               const QString& password = QString())
{
    kvr::services::Native::Device d;
    d.ip = QStringLiteral("127.0.0.1");
    d.httpPort = fake.httpPort();
    d.rtspPort = fake.rtspPort();
    d.username = fake.username;
    d.password = password.isNull() ? fake.password : password;
    d.manufacturer = brand;
    return d;
}

} // namespace nativetest
