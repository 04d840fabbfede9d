#include "native/services/NativeEvents.h"

#include "app/core/Clock.h"
#include "native/services/Brands.h"
#include "native/services/NativeController.h"
#include "native/services/NativeStore.h"
#include "native/services/SecureFile.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QSet>
#include <QUrl>

#include <algorithm>

using namespace NativeTunables;
using std::chrono::milliseconds;

namespace {

const QString kFileName = QStringLiteral("native-events.json");
const char* const kDeviceProperty = "kvrDevice";
const char* const kKeyProperty = "key";

qint64 monoMs()
{
    return kvr::Clock::instance().monotonicMs();
}

QString unsupportedText(int status)
{
    return QStringLiteral("This device doesn't offer live events (HTTP %1).").arg(status);
}

} // namespace

NativeEvents& NativeEvents::instance()
{
    static NativeEvents events(&NativeStore::instance(), &NativeController::instance());
    return events;
}

NativeEvents::NativeEvents(NativeStore* store, NativeController* controller, QObject* parent)
    : QObject(parent),
      m_store(store),
      m_controller(controller)
{
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(kEventSaveDelay);
    m_syncTimer.setSingleShot(true);
    m_syncTimer.setInterval(kStreamSyncDelay);
    connect(&m_saveTimer, &QTimer::timeout, this, &NativeEvents::save);
    connect(&m_syncTimer, &QTimer::timeout, this, &NativeEvents::sync);
    if (m_store) {
        connect(m_store, &NativeStore::changed, this, &NativeEvents::onStoreChanged);
        connect(m_store, &NativeStore::deviceUpdated, this, &NativeEvents::onStoreChanged);
    }
    // Events that arrived since the last save must reach the disk also when
    // the application quits while native mode is on screen.
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &NativeEvents::onQuit);
}

NativeEvents::~NativeEvents()
{
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
        if (QNetworkReply* r = it->reply) {
            it->reply = nullptr;
            r->abort();
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
    return kvr::Clock::instance().nowUtc().toLocalTime();
}

// ------------------------------------------------------------ lifecycle ----

void NativeEvents::start()
{
    load();
    if (m_started)
        return;
    m_started = true;
    if (!m_manager) {
        m_manager = new QNetworkAccessManager(this);
        connect(m_manager, &QNetworkAccessManager::authenticationRequired, this, &NativeEvents::onAuthentication);
    }
    sync();
}

void NativeEvents::stop()
{
    if (!m_started)
        return;
    m_started = false;
    m_syncTimer.stop();
    const QStringList ids = m_connections.keys();
    for (const QString& id : ids)
        dropDevice(id, Off, QString());
    save();
    Q_EMIT linksChanged();
}

void NativeEvents::onQuit()
{
    if (m_started)
        stop(); // closes the streams and writes the file
    else
        save();
    // The network layer must go while the application still exists.
    delete m_manager;
    m_manager = nullptr;
}

void NativeEvents::onStoreChanged()
{
    if (m_started)
        m_syncTimer.start();
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
    int n = 0;
    for (const Native::Device& d : m_store->devices())
        if (d.enabled && supports(d.manufacturer))
            ++n;
    return n;
}

int NativeEvents::connectedCount() const
{
    int n = 0;
    for (const LinkStatus& s : m_statuses)
        if (s.link == Live)
            ++n;
    return n;
}

QList<NativeEvents::Event> NativeEvents::recent(const QString& deviceId, int max) const
{
    QList<Event> out;
    for (qsizetype i = m_events.size() - 1; i >= 0 && out.size() < max; --i)
        if (deviceId.isEmpty() || m_events[i].deviceId == deviceId)
            out.append(m_events[i]);
    return out;
}

QList<NativeEvents::Event> NativeEvents::standing(const QString& deviceId, int hours) const
{
    const QDateTime cutoff = now().addSecs(-qint64(hours) * 3600);
    QList<Event> out;
    QSet<QPair<int, int>> decided;
    for (qsizetype i = m_events.size() - 1; i >= 0; --i) {
        const Event& e = m_events[i];
        if (e.receivedAt < cutoff)
            break;
        if (e.deviceId != deviceId || !AlertStream::isCondition(e.kind))
            continue;
        const QPair<int, int> key(e.kind, e.channel);
        if (decided.contains(key))
            continue;
        decided.insert(key);
        if (e.active)
            out.append(e);
    }
    return out;
}

QString NativeEvents::fingerprint(const Native::Device& d)
{
    const QByteArray digest = QCryptographicHash::hash(d.password.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("%1|%2|%3|%4|%5")
        .arg(d.ip, QString::number(d.httpPort), d.username, QString::fromLatin1(digest.left(16)), d.manufacturer);
}

// --------------------------------------------------------------- streams ----

void NativeEvents::armTimer(const QString& id, Connection& conn, milliseconds delay)
{
    if (m_timerFn)
        m_timerFn(id, delay, conn.timer);
    else
        conn.timer->start(delay);
}

void NativeEvents::sync()
{
    if (!m_started || !m_store)
        return;
    int n = 0;
    QSet<QString> wanted;
    for (const Native::Device& d : m_store->devices()) {
        if (!d.enabled || !supports(d.manufacturer) || (m_controller && m_controller->isRefused(d.id)))
            continue;
        wanted.insert(d.id);
        const QString key = fingerprint(d);
        auto it = m_connections.find(d.id);
        if (it != m_connections.end() && it->timer->property(kKeyProperty).toString() != key) {
            dropDevice(d.id, Off, QString());
            it = m_connections.end();
        }
        if (it != m_connections.end()) {
            // A refused login is tried again only after a probe found the
            // device up after the refusal.
            const auto st = m_statuses.constFind(d.id);
            if (st != m_statuses.constEnd() && st->link == Refused && !it->reply && !it->timer->isActive()
                && d.health.device == Native::Passed && d.health.checkedAt > st->since) {
                it->attempt = 0;
                armTimer(d.id, *it, milliseconds(0));
            }
            continue;
        }
        Connection conn;
        conn.timer = new QTimer(this);
        conn.timer->setSingleShot(true);
        conn.timer->setProperty(kKeyProperty, key);
        const QString id = d.id;
        connect(conn.timer, &QTimer::timeout, this, [this, id] { connectDevice(id); });
        auto inserted = m_connections.insert(id, conn);
        armTimer(id, *inserted, kStreamStartGap * n);
        ++n;
    }

    const QStringList held = m_connections.keys();
    for (const QString& id : held)
        if (!wanted.contains(id))
            dropDevice(id, Off, QString());
    for (auto it = m_statuses.begin(); it != m_statuses.end();) {
        if (!wanted.contains(it.key()) && it->link != Refused)
            it = m_statuses.erase(it);
        else
            ++it;
    }
    Q_EMIT linksChanged();
}

void NativeEvents::connectDevice(const QString& id)
{
    if (!m_started || !m_manager || !m_store)
        return;
    auto it = m_connections.find(id);
    const std::optional<Native::Device> d = m_store->device(id);
    if (it == m_connections.end() || !d || it->reply)
        return;

    const QUrl url(NativeBrand::baseUrl(*d) + NativeBrand::isapiRoot(*d)
                   + QStringLiteral("/Event/notification/alertStream"));
    QNetworkRequest request(url);
    request.setTransferTimeout(int(m_transferTimeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    it->authTried = false;
    it->parser.reset();
    it->liveSinceMs = -1;
    it->delivered = false;

    QNetworkReply* reply = m_manager->get(request);
    reply->setProperty(kDeviceProperty, id);
    it->reply = reply;
    setStatus(id, Connecting, QString());

    connect(reply, &QNetworkReply::metaDataChanged, this, [this, id, reply] { onHeaders(id, reply); });
    connect(reply, &QNetworkReply::readyRead, this, [this, id, reply] { onData(id, reply); });
    connect(reply, &QNetworkReply::finished, this, [this, id, reply] { onFinished(id, reply); });
}

void NativeEvents::onAuthentication(QNetworkReply* reply, QAuthenticator* auth)
{
    if (!m_store)
        return;
    const QString id = reply->property(kDeviceProperty).toString();
    auto it = m_connections.find(id);
    const std::optional<Native::Device> d = m_store->device(id);
    if (it == m_connections.end() || !d || it->reply != reply || it->authTried)
        return; // unanswered: the request ends with 401
    it->authTried = true;
    auth->setUser(d->username);
    auth->setPassword(d->password);
}

void NativeEvents::onHeaders(const QString& id, QNetworkReply* reply)
{
    auto it = m_connections.find(id);
    if (it == m_connections.end() || it->reply != reply)
        return;
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
        return;
    if (it->liveSinceMs >= 0)
        return; // already taken (the signal repeats for trailing headers)
    it->parser.setContentType(reply->rawHeader("Content-Type"));
    it->liveSinceMs = monoMs();
    setStatus(id, Live, QString());
    auto st = m_statuses.find(id);
    if (st != m_statuses.end())
        st->lastData = now();
}

void NativeEvents::onData(const QString& id, QNetworkReply* reply)
{
    auto it = m_connections.find(id);
    if (it == m_connections.end() || it->reply != reply)
        return;
    const QByteArray bytes = reply->readAll();
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
        return;
    if (it->liveSinceMs < 0) {
        onHeaders(id, reply);
        it = m_connections.find(id);
        if (it == m_connections.end() || it->reply != reply)
            return;
    }
    auto st = m_statuses.find(id);
    if (st != m_statuses.end())
        st->lastData = now();
    const QList<AlertStream::Alert> alerts = it->parser.feed(bytes);
    if (alerts.isEmpty())
        return;
    // A notification (a keep-alive too) shows the stream works.
    it->delivered = true;
    ingest(id, alerts);
}

void NativeEvents::onFinished(const QString& id, QNetworkReply* reply)
{
    reply->deleteLater();
    auto it = m_connections.find(id);
    if (it == m_connections.end() || it->reply != reply)
        return;
    if (reply->bytesAvailable() > 0) {
        onData(id, reply); // the last notification may have come with the close
        it = m_connections.find(id);
        if (it == m_connections.end() || it->reply != reply)
            return;
    }
    it->reply = nullptr;
    if (!m_started)
        return;

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error = reply->error();
    const Link before = m_statuses.value(id).link;
    const qint64 lived = it->liveSinceMs >= 0 ? monoMs() - it->liveSinceMs : -1;
    const bool delivered = it->delivered;
    it->liveSinceMs = -1;

    if (status == 403 || status == 404 || status == 405 || status == 501) {
        setStatus(id, Unsupported, unsupportedText(status));
        it = m_connections.find(id);
        if (it != m_connections.end() && m_started)
            armTimer(id, *it, kStreamUnsupportedRetry);
        return;
    }
    if (status == 401) {
        setStatus(id, Refused, QStringLiteral("The device refused the saved username or password."));
        return;
    }

    const bool timedOut = error == QNetworkReply::TimeoutError || error == QNetworkReply::OperationCanceledError;
    QString text;
    if (timedOut)
        text = QStringLiteral("No data for 5 minutes; reconnecting.");
    else if (error == QNetworkReply::NoError)
        text = QStringLiteral("The device closed the event stream.");
    else
        text = reply->errorString();
    if (status >= 400)
        text = QStringLiteral("HTTP %1").arg(status);
    setStatus(id, Lost, text);

    if (before == Live && !timedOut)
        recheck(id, true);
    // Only a stream that worked starts the delays afresh: it stayed open a
    // while, or delivered notifications and was not cut at once. One that
    // answers (perhaps with a notification) and hangs up at once keeps
    // backing off instead of being reopened in a tight loop.
    it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    if (!m_started)
        return;
    if (lived >= kStreamStableAfter.count() || (delivered && lived >= kStreamDeliveredAfter.count()))
        it->attempt = 0;
    scheduleRetry(id);
}

void NativeEvents::scheduleRetry(const QString& id)
{
    auto it = m_connections.find(id);
    if (it == m_connections.end() || !m_started)
        return;
    const int a = it->attempt;
    it->attempt = a + 1;
    if (a == 0) {
        armTimer(id, *it, milliseconds(0));
        return;
    }
    const qint64 base = kStreamRetryBase.count();
    const qint64 delay = std::min<qint64>(base << (std::min(a, 11) - 1), kStreamRetryMax.count());
    armTimer(id, *it, milliseconds(delay));
}

void NativeEvents::setStatus(const QString& id, Link link, const QString& text)
{
    LinkStatus& s = m_statuses[id];
    if (s.link != link || !s.since.isValid())
        s.since = now();
    s.link = link;
    s.text = text;
    Q_EMIT linksChanged();
}

void NativeEvents::dropDevice(const QString& id, Link link, const QString& text)
{
    auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    Connection conn = *it;
    m_connections.erase(it);
    conn.timer->stop();
    // Its own timeout may be what is running now.
    conn.timer->deleteLater();
    if (QNetworkReply* r = conn.reply) {
        conn.reply = nullptr;
        r->abort(); // its end handler finds no connection and does nothing
    }
    if (link == Off)
        m_statuses.remove(id);
    else
        setStatus(id, link, text);
}

// ---------------------------------------------------------------- events ----

void NativeEvents::ingest(const QString& deviceId, const QList<AlertStream::Alert>& alerts)
{
    const QDateTime at = now();
    const QDateTime repeatFrom = at.addSecs(-kDetectionRepeatWindow.count());
    bool stored = false;
    for (const AlertStream::Alert& alert : alerts) {
        const AlertStream::Kind kind = AlertStream::classify(alert);
        if (kind == AlertStream::Heartbeat)
            continue;
        if (AlertStream::isDetection(kind)) {
            bool repeat = false;
            for (qsizetype i = m_events.size() - 1; i >= 0 && m_events[i].receivedAt > repeatFrom; --i) {
                const Event& e = m_events[i];
                if (e.deviceId == deviceId && e.channel == alert.channel && e.kind == kind
                    && e.active == alert.active) {
                    repeat = true;
                    break;
                }
            }
            if (repeat)
                continue;
        }
        Event e;
        e.deviceId = deviceId;
        e.channel = alert.channel;
        e.kind = kind;
        e.type = alert.type;
        e.active = alert.active;
        e.receivedAt = at;
        e.deviceTime = alert.time;
        e.description = alert.description;
        m_events.append(e);
        stored = true;
        Q_EMIT eventReceived(e);

        switch (kind) {
        case AlertStream::VideoLoss:
        case AlertStream::DiskFull:
        case AlertStream::DiskError:
        case AlertStream::NetworkDown:
        case AlertStream::RecordingFailed:
        case AlertStream::VideoMismatch:
            if (alert.active)
                recheck(deviceId, false);
            break;
        default:
            break;
        }
    }
    if (!stored)
        return;
    const QDateTime cutoff = at.addDays(-kEventLogDays);
    qsizetype drop = 0;
    while (drop < m_events.size() && (m_events.size() - drop > kEventLogMax || m_events[drop].receivedAt < cutoff))
        ++drop;
    if (drop > 0)
        m_events.remove(0, drop);
    m_saveTimer.start();
}

void NativeEvents::recheck(const QString& id, bool lost)
{
    if (!m_controller || m_controller->isRefused(id))
        return;
    const qint64 nowMs = monoMs();
    const auto last = m_lastRecheckMs.constFind(id);
    if (last != m_lastRecheckMs.constEnd() && nowMs - *last < kEarlyProbeGap.count())
        return;
    m_lastRecheckMs.insert(id, nowMs);
    m_controller->run(id, lost ? NativeController::Diagnose : NativeController::Refresh);
}

void NativeEvents::saveSoon()
{
    m_saveTimer.start();
}

// ----------------------------------------------------------------- file ----

void NativeEvents::load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    QFile file(SecureFile::path(kFileName));
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.exists()) {
            // Not readable now; never replace it with a list that lacks it.
            m_guardFile = true;
            qWarning().noquote() << "native events:" << file.fileName()
                                 << "exists but cannot be read; the event log will not be saved";
        }
        return;
    }
    const QByteArray bytes = file.readAll();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (!bytes.trimmed().isEmpty() && (error.error != QJsonParseError::NoError || !doc.isArray())) {
        // A damaged log is kept beside the new one rather than overwritten.
        const QString copy = kFileName + QStringLiteral(".unread-") + now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        if (SecureFile::write(copy, bytes)) {
            qWarning().noquote() << "native events: the unreadable event log was kept as" << SecureFile::path(copy);
        } else {
            m_guardFile = true;
            qWarning().noquote() << "native events: could not keep a copy of the unreadable" << file.fileName()
                                 << "; it will not be replaced";
        }
        return;
    }
    const QJsonArray list = doc.array();
    const QDateTime cutoff = now().addDays(-kEventLogDays);
    for (const QJsonValue& v : list) {
        const QJsonObject o = v.toObject();
        Event e;
        e.deviceId = o.value(QLatin1String("d")).toString();
        e.channel = o.value(QLatin1String("ch")).toInt(0);
        e.kind = o.value(QLatin1String("k")).toInt(AlertStream::Other);
        // A kind this version does not know (or the never-stored keep-alive)
        // reads as "Other event" rather than as a kind without a name.
        if (e.kind <= AlertStream::Heartbeat || e.kind > AlertStream::Other)
            e.kind = AlertStream::Other;
        e.type = o.value(QLatin1String("t")).toString();
        e.active = o.value(QLatin1String("a")).toBool(true);
        e.receivedAt = QDateTime::fromString(o.value(QLatin1String("at")).toString(), Qt::ISODate);
        e.deviceTime = QDateTime::fromString(o.value(QLatin1String("dt")).toString(), Qt::ISODate);
        e.description = o.value(QLatin1String("desc")).toString();
        if (e.receivedAt.isValid() && e.receivedAt >= cutoff)
            m_events.append(e);
    }
}

void NativeEvents::save()
{
    m_saveTimer.stop();
    if (!m_loaded || m_guardFile)
        return; // an unread file is never replaced by an empty list
    QJsonArray list;
    for (const Event& e : std::as_const(m_events)) {
        QJsonObject o;
        o.insert(QLatin1String("d"), e.deviceId);
        o.insert(QLatin1String("ch"), e.channel);
        o.insert(QLatin1String("k"), e.kind);
        o.insert(QLatin1String("t"), e.type);
        o.insert(QLatin1String("a"), e.active);
        o.insert(QLatin1String("at"), e.receivedAt.toString(Qt::ISODate));
        if (e.deviceTime.isValid())
            o.insert(QLatin1String("dt"), e.deviceTime.toString(Qt::ISODate));
        if (!e.description.isEmpty())
            o.insert(QLatin1String("desc"), e.description);
        list.append(o);
    }
    QSaveFile file(SecureFile::path(kFileName));
    // Unbuffered, so a failed final write (a full disk) is not committed.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return;
    const QByteArray bytes = QJsonDocument(list).toJson(QJsonDocument::Compact);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return;
    }
    if (!file.commit())
        qWarning().noquote() << "Event log not written:" << file.errorString();
}
