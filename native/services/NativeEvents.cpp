#include "native/services/NativeEvents.h"

#include "app/core/Clock.h"
#include "native/services/AddressCheck.h"
#include "native/services/Brands.h"
#include "native/services/ConnectionGate.h"
#include "native/services/DeviceWire.h"
#include "native/services/DigestAuth.h"
#include "native/services/Logging.h"
#include "native/services/NativeController.h"
#include "native/services/NativeServices.h"
#include "native/services/NativeStore.h"
#include "native/services/Tunables.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QElapsedTimer>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <limits>

namespace kvr::services {

using std::chrono::milliseconds;
using Link = Native::Link;

namespace {

qint64 monoMs()
{
    return kvr::core::Clock::instance().monotonicMs();
}

QString unsupportedText(int status)
{
    return QStringLiteral("This device doesn't offer live events (HTTP %1).").arg(status);
}

} // namespace

namespace {
// The process-wide event streams: made on the main thread by the first
// instance(), deleted by releaseInstance() (NativeServices::shutdown) while
// the application object still exists. Main thread only.
NativeEvents* g_events = nullptr;
} // namespace

NativeEvents& NativeEvents::instance()
{
    if (!g_events) {
        g_events = new NativeEvents(&NativeStore::instance(), &NativeController::instance());
        NativeServices::armShutdown();
    }
    return *g_events;
}

NativeEvents* NativeEvents::existing()
{
    return g_events;
}

void NativeEvents::releaseInstance()
{
    if (!g_events)
        return;
    g_events->stop();
    g_events->save();
    delete std::exchange(g_events, nullptr); // waits for the log's write
}

NativeEvents::NativeEvents(NativeStore* store, NativeController* controller, QObject* parent)
    : QObject(parent),
      m_store(store),
      m_controller(controller)
{
    m_writer.setMaxThreadCount(1);
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(tun::kEventSaveDelay);
    m_syncTimer.setSingleShot(true);
    m_syncTimer.setInterval(tun::kStreamSyncDelay);
    m_scheduleTimer.setSingleShot(true);
    m_scheduleClock.start();
    connect(&m_saveTimer, &QTimer::timeout, this, &NativeEvents::save);
    connect(&m_syncTimer, &QTimer::timeout, this, &NativeEvents::sync);
    connect(&m_scheduleTimer, &QTimer::timeout, this, &NativeEvents::openDue);
    // Streams held back for want of a connection place go out when one is
    // given back.
    connect(&ConnectionGate::instance(), &ConnectionGate::placeFreed, this, [this] {
        if (m_openBlock == OpenBlock::Places)
            openDueLater();
    });
    if (m_store) {
        // A change of the lists is followed by a pass over the whole fleet;
        // a change of one device (a check's result, thousands in a sweep)
        // by a look at that device alone.
        connect(m_store, &NativeStore::changed, this, &NativeEvents::onStoreChanged);
        connect(m_store, &NativeStore::deviceUpdated, this, &NativeEvents::onDeviceUpdated);
    }
    // Events that arrived since the last save must reach the disk also when
    // the application quits while native mode is on screen.
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &NativeEvents::onQuit);
}

NativeEvents::~NativeEvents()
{
    m_writer.waitForDone();
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
        if (DeviceWire* r = it->reply) {
            it->reply = nullptr;
            r->abort();
            r->deleteLater();
        }
    }
    m_connections.clear();
}

void NativeEvents::setTimerFunction(TimerFn fn)
{
    m_timerFn = std::move(fn);
}

QDateTime NativeEvents::now() const
{
    return kvr::core::Clock::instance().nowUtc().toLocalTime();
}

// ------------------------------------------------------------ lifecycle ----

void NativeEvents::start()
{
    load();
    if (m_started)
        return;
    m_started = true;
    sync();
}

void NativeEvents::stop()
{
    if (!m_started)
        return;
    m_started = false;
    m_syncTimer.stop();
    m_syncPass = SyncPass{};
    const QStringList ids = m_connections.keys();
    for (const QString& id : ids)
        dropDevice(id, Link::Off, QString());
    m_openBlock = OpenBlock::None;
    m_heldBack = 0;
    save();
    Q_EMIT linksChanged();
}

void NativeEvents::onQuit()
{
    if (m_started)
        stop(); // closes the streams and writes the file
    else
        save();
    waitForWrites();
    if (const QString lost = lostAtEnd(); !lost.isEmpty())
        qCWarning(lcServices).noquote() << "native events: at the end:" << lost;
}

void NativeEvents::onStoreChanged()
{
    // Whether a device is enabled, and its brand, change only with the
    // lists (edits, imports), never with a check's result.
    m_eligible = -1;
    if (m_started) {
        m_syncPass.restart = m_syncPass.active; // indexes may have moved: from the start again
        m_syncTimer.start();
    }
}

void NativeEvents::onDeviceUpdated(const QString& id)
{
    if (!m_started)
        return;
    m_updated.insert(id);
    // Looked at once the scheduler has taken in the check's result (its
    // refused set is updated after the store), in the next turn.
    if (!m_updatePassQueued) {
        m_updatePassQueued = true;
        QMetaObject::invokeMethod(this, &NativeEvents::syncUpdated, Qt::QueuedConnection);
    }
}

// --------------------------------------------------------------- queries ----

bool NativeEvents::supports(const QString& manufacturer)
{
    const int f = NativeBrand::family(manufacturer);
    return f == NativeBrand::Isapi || f == NativeBrand::IsapiOwnRoot;
}

int NativeEvents::eligibleCount() const
{
    if (!m_store)
        return 0;
    if (m_eligible < 0) {
        int n = 0;
        for (const Native::Device& d : m_store->devices())
            if (d.enabled && supports(d.manufacturer))
                ++n;
        m_eligible = n;
    }
    return m_eligible;
}

QString NativeEvents::fingerprint(const Native::Device& d)
{
    const QByteArray digest = QCryptographicHash::hash(d.password.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("%1|%2|%3|%4|%5")
        .arg(d.ip, QString::number(d.httpPort), d.username, QString::fromLatin1(digest.left(16)), d.manufacturer);
}

// --------------------------------------------------------------- streams ----

void NativeEvents::sync()
{
    m_syncQueued = false;
    if (!m_started || !m_store)
        return;
    m_syncTimer.stop();
    SyncPass& pass = m_syncPass;
    if (!pass.active || pass.restart) {
        pass = SyncPass{};
        pass.active = true;
    }
    const QList<Native::Device>& devices = m_store->devices();
    int looked = 0;
    while (pass.cursor < devices.size()) {
        if (looked++ >= tun::kStreamSyncPerTurn) {
            // The rest in the next turn, the window answering in between.
            if (!m_syncQueued) {
                m_syncQueued = true;
                QMetaObject::invokeMethod(this, &NativeEvents::sync, Qt::QueuedConnection);
            }
            return;
        }
        const Native::Device& d = devices.at(pass.cursor++);
        const bool fresh = !m_connections.contains(d.id);
        if (!syncDevice(d, tun::kStreamStartGap * pass.fresh))
            continue;
        pass.wanted.insert(d.id);
        // New streams open 20 ms apart, in store order.
        if (fresh)
            ++pass.fresh;
    }
    const QSet<QString> wanted = std::exchange(pass.wanted, {});
    pass = SyncPass{};

    const QStringList held = m_connections.keys();
    for (const QString& id : held)
        if (!wanted.contains(id))
            dropDevice(id, Link::Off, QString());
    for (auto it = m_statuses.begin(); it != m_statuses.end();) {
        if (!wanted.contains(it.key()) && it->link != Link::Refused) {
            if (it->link == Link::Live)
                --m_liveCount;
            it = m_statuses.erase(it);
        } else {
            ++it;
        }
    }
    Q_EMIT linksChanged();
}

void NativeEvents::syncUpdated()
{
    m_updatePassQueued = false;
    if (!m_started || !m_store) {
        m_updated.clear();
        return;
    }
    const QSet<QString> ids = std::exchange(m_updated, {});
    bool any = false;
    for (const QString& id : ids) {
        const std::optional<Native::Device> d = m_store->device(id);
        if (d && syncDevice(*d, milliseconds(0)))
            continue;
        // Gone, or no longer wanted.
        if (m_connections.contains(id))
            dropDevice(id, Link::Off, QString());
        const auto st = m_statuses.constFind(id);
        if (st != m_statuses.constEnd() && st->link != Link::Refused)
            forgetStatus(id);
        any = true;
    }
    if (any)
        Q_EMIT linksChanged();
}

bool NativeEvents::syncDevice(const Native::Device& d, milliseconds startDelay)
{
    if (!d.enabled || !supports(d.manufacturer) || (m_controller && m_controller->isRefused(d.id)))
        return false;
    const QString key = fingerprint(d);
    auto it = m_connections.find(d.id);
    if (it != m_connections.end() && it->key != key) {
        dropDevice(d.id, Link::Off, QString());
        it = m_connections.end();
    }
    const bool unreachable = waitsForCheck(d);
    if (it != m_connections.end()) {
        if (it->reply)
            return true; // an attempt under way ends by itself
        if (unreachable) {
            // Its device did not answer its last check: no attempt until a
            // check finds it up again (connecting to it would hang).
            unplan(*it);
            it->awaitsCheck = true;
            return true;
        }
        if (std::exchange(it->awaitsCheck, false)) {
            it->attempt = 0;
            armTimer(d.id, *it, milliseconds(0));
            return true;
        }
        const auto st = m_statuses.constFind(d.id);
        // A refused login is tried again only after a check found the
        // device up after the refusal; a stream that failed, waiting for
        // its next attempt (up to two minutes away), comes back at the
        // check that finds the device up again.
        const bool checkedUpSince =
            st != m_statuses.constEnd() && d.health.device == Native::Passed && d.health.checkedAt > st->since;
        if (checkedUpSince && ((st->link == Link::Refused && !isPlanned(*it)) || st->link == Link::Lost)) {
            it->attempt = 0;
            armTimer(d.id, *it, milliseconds(0));
        }
        return true;
    }
    Connection conn;
    conn.key = key;
    conn.awaitsCheck = unreachable;
    const QString id = d.id;
    auto inserted = m_connections.insert(id, conn);
    if (!unreachable)
        armTimer(id, *inserted, startDelay);
    return true;
}

bool NativeEvents::waitsForCheck(const Native::Device& device)
{
    const Native::Health& h = device.health;
    return h.checkedAt.isValid() && (h.internet == Native::Failed || h.httpPort == Native::Failed);
}

bool NativeEvents::awaitsCheck(const QString& deviceId) const
{
    const auto it = m_connections.constFind(deviceId);
    return it != m_connections.cend() && it->awaitsCheck;
}

void NativeEvents::connectDevice(const QString& id)
{
    if (!m_started || !m_store)
        return;
    auto it = m_connections.find(id);
    const std::optional<Native::Device> d = m_store->device(id);
    if (it == m_connections.end() || !d || it->reply)
        return;

    it->hops = 0;
    if (!it->opening) {
        it->opening = true;
        m_openingPeak = std::max(m_openingPeak, ++m_opening);
    }
    openRequest(id,
                QUrl(NativeBrand::baseUrl(*d) + NativeBrand::isapiRoot(*d)
                     + QStringLiteral("/Event/notification/alertStream")));
}

void NativeEvents::openRequest(const QString& id, const QUrl& url, const QByteArray& login)
{
    auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    DeviceWire::Request request;
    request.url = url;
    request.transferTimeout = m_transferTimeout;
    request.answerTimeout = m_answerTimeout;
    request.connectTimeout = m_connectTimeout;
    request.use = ConnectionGate::Use::Stream;
    // Bounded: a device that sends faster than the stream is read waits in
    // its connection rather than growing this process; so does one that
    // answers its login with an endless refusal.
    request.heldLimit = tun::kStreamReadBuffer_bytes;
    request.plainBodyOnly = true; // read piece by piece: a compressed stream is said, not read as nothing
    if (!login.isEmpty())
        request.headers.append({"Authorization", login});
    // Redirects are followed by the end handler, a few at most and to the
    // same device only (the login would go with them).
    it->authTried = !login.isEmpty();
    it->parser.reset();
    it->liveSinceMs = -1;
    it->delivered = false;
    it->readQueued = false;
    it->outrun = false;
    it->elsewhere = false;
    m_flood.forget(id);

    auto* reply = new DeviceWire(std::move(request), this);
    it->reply = reply;
    setStatus(id, Link::Connecting, QString());

    connect(reply, &DeviceWire::headReceived, this, [this, id, reply] { onHeaders(id, reply); });
    connect(reply, &DeviceWire::readyRead, this, [this, id, reply] { onData(id, reply); });
    connect(reply, &DeviceWire::finished, this, [this, id, reply] { onFinished(id, reply); });
    reply->start();
}

// A redirect to follow: the next request goes out at once. False when the
// stream ends here (not a redirect, another host, or one hop too many).
bool NativeEvents::followRedirect(const QString& id, DeviceWire* reply)
{
    auto it = m_connections.find(id);
    const int status = reply->status();
    const QByteArray location = reply->header("Location");
    if (it == m_connections.end() || reply->error() != DeviceWire::Error::None || location.isEmpty()
        || (status != 301 && status != 302 && status != 303 && status != 307 && status != 308))
        return false;
    const QUrl to = reply->url().resolved(QUrl::fromEncoded(location, QUrl::TolerantMode));
    const std::optional<Native::Device> d = m_store ? m_store->device(id) : std::nullopt;
    it->elsewhere = !d || !NativeAddress::sameDevice(reply->url(), to, d->httpPort);
    if (it->elsewhere || ++it->hops > tun::kMaxRedirects)
        return false;
    openRequest(id, to);
    return true;
}

bool NativeEvents::answerChallenge(const QString& id, DeviceWire* reply)
{
    auto it = m_connections.find(id);
    const std::optional<Native::Device> d = m_store ? m_store->device(id) : std::nullopt;
    if (it == m_connections.end() || !d || it->authTried || reply->status() != 401
        || reply->error() != DeviceWire::Error::None)
        return false;
    const QByteArray login = NativeDigest::answerOnce(reply->header("WWW-Authenticate"), "GET",
                                                      DeviceWire::target(reply->url()), d->username, d->password);
    if (login.isEmpty())
        return false; // nothing to answer: the stream ends with the device's 401
    openRequest(id, reply->url(), login);
    return true;
}

void NativeEvents::onHeaders(const QString& id, DeviceWire* reply)
{
    auto it = m_connections.find(id);
    if (it == m_connections.end() || it->reply != reply)
        return;
    if (reply->status() != 200)
        return;
    if (it->liveSinceMs >= 0)
        return; // already taken
    it->parser.setContentType(reply->header("Content-Type"));
    it->liveSinceMs = monoMs();
    endOpening(*it);
    setStatus(id, Link::Live, QString());
    auto st = m_statuses.find(id);
    if (st != m_statuses.end())
        st->lastData = now();
}

void NativeEvents::onData(const QString& id, DeviceWire* reply)
{
    auto it = m_connections.find(id);
    if (it == m_connections.end() || it->reply != reply || it->readQueued)
        return;
    it->readQueued = true;
    m_readQueue.append(id);
    if (!m_readPassQueued) {
        m_readPassQueued = true;
        QTimer::singleShot(0, this, &NativeEvents::readPass);
    }
}

void NativeEvents::readPass()
{
    m_readPassQueued = false;
    // One budget for all streams: each turn of the event loop reads at most
    // the slice, whatever the number of busy streams, and they take turns a
    // piece at a time so a flooding stream does not hold up a quiet one.
    QElapsedTimer slice;
    slice.start();
    while (!m_readQueue.isEmpty() && slice.elapsed() < tun::kStreamReadSlice.count()) {
        const QString id = m_readQueue.takeFirst();
        auto it = m_connections.find(id);
        if (it == m_connections.end() || !it->readQueued)
            continue;
        it->readQueued = false;
        DeviceWire* reply = it->reply;
        if (!reply || !readPiece(id, reply, false))
            continue;
        it = m_connections.find(id);
        if (it != m_connections.end() && it->reply == reply && !it->readQueued) {
            it->readQueued = true;
            m_readQueue.append(id);
        }
    }
    if (!m_readQueue.isEmpty() && !m_readPassQueued) {
        m_readPassQueued = true;
        QTimer::singleShot(0, this, &NativeEvents::readPass);
    }
}

bool NativeEvents::readPiece(const QString& id, DeviceWire* reply, bool all)
{
    auto it = m_connections.find(id);
    if (it == m_connections.end() || it->reply != reply)
        return false;
    if (reply->status() != 200) {
        reply->read(reply->bytesAvailable()); // a refusal's page, or another answer's: nothing to read in it
        return false;
    }
    if (it->liveSinceMs < 0) {
        onHeaders(id, reply);
        it = m_connections.find(id);
        if (it == m_connections.end() || it->reply != reply)
            return false;
    }
    auto st = m_statuses.find(id);
    if (st != m_statuses.end())
        st->lastData = now();

    // What is not read stays in the connection's bounded buffer, and the
    // device has to wait.
    const QByteArray piece = reply->read(all ? reply->bytesAvailable() : tun::kStreamReadPiece_bytes);
    const QList<AlertStream::Alert> alerts = it->parser.feed(piece);
    if (it->parser.buffered() >= tun::kStreamBufferedCheck_bytes)
        limitBuffered();
    const QString flood = m_flood.add(id, piece.size(), monoMs());
    if (!alerts.isEmpty()) {
        // A notification (a keep-alive too) shows the stream works.
        it->delivered = true;
        ingest(id, alerts);
    }
    if (!flood.isEmpty())
        dropFlood(flood);
    it = m_connections.find(id);
    return it != m_connections.end() && it->reply == reply && reply->bytesAvailable() > 0;
}

qint64 NativeEvents::bufferedBytes() const
{
    qint64 total = 0;
    for (const Connection& c : m_connections)
        total += c.parser.buffered();
    return total;
}

void NativeEvents::limitBuffered()
{
    qint64 total = bufferedBytes();
    while (total > tun::kStreamBufferedTotal_bytes) {
        Connection* largest = nullptr;
        for (Connection& c : m_connections)
            if (!largest || c.parser.buffered() > largest->parser.buffered())
                largest = &c;
        total -= largest->parser.buffered();
        largest->parser.dropBuffered();
    }
}

void NativeEvents::dropFlood(const QString& id)
{
    auto it = m_connections.find(id);
    if (it == m_connections.end() || !it->reply)
        return;
    qCWarning(lcServices).noquote().nospace()
        << "native events: the streams send more than can be read; the busiest, of " << id
        << ", is closed and opened again later";
    it->outrun = true;
    DeviceWire* reply = it->reply;
    reply->abort();
    onFinished(id, reply); // reports, and schedules the retry
}

void NativeEvents::onFinished(const QString& id, DeviceWire* reply)
{
    reply->deleteLater();
    auto it = m_connections.find(id);
    if (it == m_connections.end() || it->reply != reply)
        return;
    if (!it->outrun && reply->bytesAvailable() > 0) {
        readPiece(id, reply, true); // the last notification may have come with the close
        it = m_connections.find(id);
        if (it == m_connections.end() || it->reply != reply)
            return;
    }
    it->reply = nullptr;
    // A half-received notification is never completed by the next request.
    it->parser.reset();
    m_flood.forget(id);
    if (!m_started) {
        endOpening(*it);
        return;
    }
    // A redirect or the answer to a login challenge goes on in the same turn.
    if (followRedirect(id, reply) || answerChallenge(id, reply))
        return;
    it = m_connections.find(id);
    endOpening(*it);

    StreamEnd end;
    end.status = reply->status();
    const DeviceWire::Error error = reply->error();
    if (it->outrun)
        end.error = StreamEnd::Error::Outrun;
    else if (it->elsewhere)
        end.error = StreamEnd::Error::RedirectElsewhere;
    else if (it->hops > tun::kMaxRedirects)
        end.error = StreamEnd::Error::RedirectLoop;
    else if (error == DeviceWire::Error::Timeout)
        end.error = StreamEnd::Error::Timeout;
    else if (error == DeviceWire::Error::LoginTooLarge)
        end.error = StreamEnd::Error::LoginTooLarge;
    else if (error == DeviceWire::Error::TooSlow)
        end.error = reply->status() == 0 ? StreamEnd::Error::NoAnswer : StreamEnd::Error::TooSlow;
    else if (error != DeviceWire::Error::None)
        end.error = StreamEnd::Error::Other;
    end.errorText = reply->errorText();
    end.wasLive = m_statuses.value(id).link == Link::Live;
    end.livedMs = it->liveSinceMs >= 0 ? monoMs() - it->liveSinceMs : -1;
    end.delivered = it->delivered;
    it->liveSinceMs = -1;
    it->outrun = false;

    const EndVerdict verdict = judgeEnd(end);
    // A stream that worked fails afresh; one that never did goes on failing
    // from its first failure.
    if (verdict.freshStart)
        m_statuses[id].failingSince = QDateTime();
    setStatus(id, verdict.link, verdict.text);
    if (verdict.recheck)
        recheck(id, true);
    it = m_connections.find(id);
    if (it == m_connections.end() || !m_started)
        return;
    switch (verdict.next) {
    case EndVerdict::Next::Wait:
        return; // reopened only by sync (a later good probe, or new credentials)
    case EndVerdict::Next::RetryLater:
        armTimer(id, *it, tun::kStreamUnsupportedRetry);
        return;
    case EndVerdict::Next::Retry:
        if (verdict.freshStart)
            it->attempt = 0;
        // A stream dropped for outrunning the reader is never reopened at
        // once, and waits longer each time it happens again.
        if (end.error == StreamEnd::Error::Outrun)
            it->attempt = std::max(it->attempt, 1);
        scheduleRetry(id);
        return;
    }
}

NativeEvents::EndVerdict NativeEvents::judgeEnd(const StreamEnd& end)
{
    EndVerdict v;
    if (end.status == 403 || end.status == 404 || end.status == 405 || end.status == 501) {
        v.link = Link::Unsupported;
        v.text = unsupportedText(end.status);
        v.next = EndVerdict::Next::RetryLater;
        return v;
    }
    // A refusal whose body passed its bounds, of size or of time, says
    // nothing about the login.
    const bool tooLarge =
        end.error == StreamEnd::Error::LoginTooLarge || (end.status == 401 && end.error == StreamEnd::Error::TooSlow);
    if (end.status == 401 && !tooLarge) {
        v.link = Link::Refused;
        v.text = QStringLiteral("The device refused the saved username or password.");
        v.next = EndVerdict::Next::Wait;
        return v;
    }
    switch (end.error) {
    case StreamEnd::Error::None:
        v.text = QStringLiteral("The device closed the event stream.");
        break;
    case StreamEnd::Error::Timeout:
        v.text = QStringLiteral("No data for 5 minutes; reconnecting.");
        break;
    case StreamEnd::Error::Outrun:
        v.text = QStringLiteral("The device sent more events than could be read; reconnecting later.");
        break;
    case StreamEnd::Error::RedirectLoop:
        v.text = QStringLiteral("The device redirected the event stream in a loop.");
        break;
    case StreamEnd::Error::RedirectElsewhere:
        v.text = QStringLiteral("The device redirected the event stream to another address.");
        break;
    case StreamEnd::Error::LoginTooLarge:
        v.text = QStringLiteral("The device's login answer was too large.");
        break;
    case StreamEnd::Error::NoAnswer:
        v.text = QStringLiteral("The device did not answer in time; trying again.");
        break;
    case StreamEnd::Error::TooSlow:
        v.text = QStringLiteral("The device was too slow to send its whole answer.");
        break;
    case StreamEnd::Error::Other:
        v.text = end.errorText;
        break;
    }
    if (end.status >= 400 && !tooLarge)
        v.text = QStringLiteral("HTTP %1").arg(end.status);
    // A live stream that broke may mean the device went away; a silent one
    // cut by the time-out, or one dropped here, says nothing about it.
    v.recheck = end.wasLive && end.error != StreamEnd::Error::Timeout && end.error != StreamEnd::Error::Outrun;
    // Only a stream that worked starts the delays afresh: it stayed open a
    // while, or delivered notifications and was not cut at once. One that
    // answers (perhaps with a notification) and hangs up at once keeps
    // backing off instead of being reopened in a tight loop.
    v.freshStart = end.error != StreamEnd::Error::Outrun
        && (end.livedMs >= tun::kStreamStableAfter.count()
            || (end.delivered && end.livedMs >= tun::kStreamDeliveredAfter.count()));
    return v;
}

milliseconds NativeEvents::retryDelay(int attempt)
{
    if (attempt <= 0)
        return milliseconds(0);
    const qint64 base = tun::kStreamRetryBase.count();
    return milliseconds(std::min<qint64>(base << (std::min(attempt, 11) - 1), tun::kStreamRetryMax.count()));
}

void NativeEvents::scheduleRetry(const QString& id)
{
    auto it = m_connections.find(id);
    if (it == m_connections.end() || !m_started)
        return;
    // Its device was found unreachable since the attempt began: the next
    // one waits for a check that finds it up.
    if (const std::optional<Native::Device> d = m_store ? m_store->device(id) : std::nullopt; d && waitsForCheck(*d)) {
        it->awaitsCheck = true;
        return;
    }
    armTimer(id, *it, retryDelay(it->attempt++));
}

void NativeEvents::setStatus(const QString& id, Link link, const QString& text)
{
    LinkStatus& s = m_statuses[id];
    if (s.link != link || !s.since.isValid())
        s.since = now();
    if (link == Link::Lost || link == Link::Unsupported || link == Link::Refused) {
        if (!s.failingSince.isValid())
            s.failingSince = s.since;
        s.failure = text;
    }
    m_liveCount += (link == Link::Live ? 1 : 0) - (s.link == Link::Live ? 1 : 0);
    s.link = link;
    s.text = text;
    Q_EMIT linksChanged();
}

void NativeEvents::forgetStatus(const QString& id)
{
    const auto it = m_statuses.constFind(id);
    if (it == m_statuses.constEnd())
        return;
    if (it->link == Link::Live)
        --m_liveCount;
    m_statuses.erase(it);
}

void NativeEvents::dropDevice(const QString& id, Link link, const QString& text)
{
    auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    unplan(*it);
    endOpening(*it);
    Connection conn = *it;
    m_connections.erase(it);
    m_flood.forget(id);
    if (m_openBlock == OpenBlock::Places)
        openDueLater(); // counts those held back again
    // Its own timeout may be what is running now.
    if (conn.timer)
        conn.timer->deleteLater();
    if (DeviceWire* r = conn.reply) {
        conn.reply = nullptr;
        r->abort();
        r->deleteLater();
    }
    if (link == Link::Off)
        forgetStatus(id);
    else
        setStatus(id, link, text);
}

// ----------------------------------------------------------------- floods ----

QString StreamFloodMeter::add(const QString& stream, qint64 bytes, qint64 nowMs)
{
    if (m_windowStartMs < 0 || nowMs - m_windowStartMs >= m_windowMs) {
        m_windowStartMs = nowMs;
        m_total = 0;
        m_bytes.clear();
    }
    if (bytes <= 0)
        return {};
    m_bytes[stream] += bytes;
    m_total += bytes;
    if (m_total <= m_limit)
        return {};
    // The busiest stream is the flood; the others may be innocent bystanders.
    QString busiest;
    qint64 most = -1;
    for (auto it = m_bytes.cbegin(); it != m_bytes.cend(); ++it) {
        if (it.value() > most || (it.value() == most && it.key() < busiest)) {
            most = it.value();
            busiest = it.key();
        }
    }
    forget(busiest);
    return busiest;
}

void StreamFloodMeter::forget(const QString& stream)
{
    m_total -= m_bytes.take(stream);
}

void NativeEvents::recheck(const QString& id, bool lost)
{
    if (!m_controller || m_controller->isRefused(id))
        return;
    const qint64 nowMs = monoMs();
    const auto last = m_lastRecheckMs.constFind(id);
    if (last != m_lastRecheckMs.constEnd() && nowMs - *last < tun::kEarlyProbeGap.count())
        return;
    m_lastRecheckMs.insert(id, nowMs);
    m_controller->run(id, lost ? NativeController::Diagnose : NativeController::Refresh);
}

} // namespace kvr::services
