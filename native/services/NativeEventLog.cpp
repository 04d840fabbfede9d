// The event log of the live event streams: the notifications turned into
// stored events (keep-alives dropped, repeated detections folded), kept for
// seven days and at most 5,000, read from and written to
// native-events.json; and what the screens ask of it.

#include "native/services/NativeEvents.h"

#include "app/core/Clock.h"
#include "app/core/WholeFile.h"
#include "native/services/FileNotices.h"
#include "native/services/Logging.h"
#include "native/services/SavePacing.h"
#include "native/services/SecureFile.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEvent>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace kvr::services {

using namespace kvr::core;
using std::chrono::milliseconds;

namespace {

const QString kFileName = QStringLiteral("native-events.json");

qint64 monoMs()
{
    return kvr::core::Clock::instance().monotonicMs();
}

} // namespace

// --------------------------------------------------------------- queries ----

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

// ---------------------------------------------------------------- events ----

void NativeEvents::ingest(const QString& deviceId, const QList<AlertStream::Alert>& alerts)
{
    const QDateTime at = now();
    const qint64 atMs = monoMs();
    const qint64 repeatMs = std::chrono::duration_cast<milliseconds>(tun::kDetectionRepeatWindow).count();
    bool stored = false;
    for (const AlertStream::Alert& alert : alerts) {
        const AlertStream::Kind kind = AlertStream::classify(alert);
        if (kind == AlertStream::Heartbeat)
            continue;
        QString detection;
        if (AlertStream::isDetection(kind)) {
            // The latest stored detection of the same device, channel, kind
            // and state, looked up rather than searched for: a flood of
            // detections from many devices would otherwise compare each one
            // with thousands of stored events. Events are appended in
            // arrival order, so it is a repeat exactly when that event is
            // still kept and arrived within the window.
            detection = deviceId + QLatin1Char('|') + QString::number(alert.channel) + QLatin1Char('|')
                + QString::number(int(kind)) + (alert.active ? QLatin1String("|1") : QLatin1String("|0"));
            const auto last = m_lastDetection.constFind(detection);
            if (last != m_lastDetection.cend() && *last >= m_firstSeq) {
                const Event& e = m_events.at(qsizetype(*last - m_firstSeq));
                if (e.receivedMs >= 0 && atMs - e.receivedMs < repeatMs)
                    continue;
            }
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
        e.receivedMs = atMs;
        m_events.append(e);
        if (!detection.isEmpty())
            m_lastDetection.insert(detection, m_firstSeq + m_events.size() - 1);
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
    const QDateTime cutoff = at.addDays(-tun::kEventLogDays);
    qsizetype drop = 0;
    while (drop < m_events.size() && (m_events.size() - drop > tun::kEventLogMax || m_events[drop].receivedAt < cutoff))
        ++drop;
    if (drop > 0) {
        m_events.remove(0, drop);
        m_firstSeq += drop;
    }
    // Entries of events no longer kept are dropped now and then, so the
    // lookup stays about as large as the log.
    if (m_lastDetection.size() > 2 * tun::kEventLogMax)
        m_lastDetection.removeIf([this](const auto& entry) { return entry.value() < m_firstSeq; });
    saveSoon();
}

void NativeEvents::saveSoon()
{
    const qint64 nowMs = monoMs();
    if (m_firstUnsavedMs < 0)
        m_firstUnsavedMs = nowMs;
    m_saveTimer.start(
        int(savePacingDelayMs(nowMs, m_firstUnsavedMs, tun::kEventSaveDelay, tun::kEventSaveMaxDeferral)));
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
            qCWarning(lcServices).noquote()
                << "native events:" << file.fileName() << "exists but cannot be read; the event log will not be saved";
            noteUnread(FileNotices::unreadEvents(file.fileName()));
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
            qCWarning(lcServices).noquote()
                << "native events: the unreadable event log was kept as" << SecureFile::path(copy);
            noteUnread(FileNotices::damagedEvents(SecureFile::path(copy)));
        } else {
            m_guardFile = true;
            qCWarning(lcServices).noquote() << "native events: could not keep a copy of the unreadable"
                                            << file.fileName() << "; it will not be replaced";
            noteUnread(FileNotices::damagedEvents(QString()));
        }
        return;
    }
    const QJsonArray list = doc.array();
    const QDateTime cutoff = now().addDays(-tun::kEventLogDays);
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
    const qint64 unsavedSince = std::exchange(m_firstUnsavedMs, -1);
    if (!m_loaded || m_guardFile)
        return; // an unread file is never replaced by an empty list
    // The list is handed to the writer thread as it is now (a copy that
    // shares its data); the main thread never waits for the encoding or the
    // disk. Writes run one at a time, in order; the outcome comes back here.
    m_writer.start([this, events = m_events, path = SecureFile::path(kFileName), unsavedSince] {
        QJsonArray list;
        for (const Event& e : events) {
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
        const WholeFile::Outcome out = WholeFile::write(path, QJsonDocument(list).toJson(QJsonDocument::Compact));
        QMetaObject::invokeMethod(
            this, [this, out, path, unsavedSince] { onSaved(out, path, unsavedSince); }, Qt::QueuedConnection);
    });
}

void NativeEvents::onSaved(const WholeFile::Outcome& out, const QString& path, qint64 unsavedSince)
{
    if (out.ok()) {
        if (!std::exchange(m_saveProblem, {}).isEmpty()) {
            qCInfo(lcServices).noquote() << "native events: the event log is saved again";
            Q_EMIT saveProblem(QString());
        }
        return;
    }
    const QString reason = WholeFile::reason(out);
    qCWarning(lcServices).noquote() << "native events: could not write" << path << "(" << out.detail
                                    << "); its events are held and written at the next save";
    // The events stay held (the list is written whole each time): the
    // next save turn writes them, or a later event's, or the one at quit.
    if (m_firstUnsavedMs < 0)
        m_firstUnsavedMs = unsavedSince >= 0 ? unsavedSince : monoMs();
    if (!m_saveTimer.isActive())
        m_saveTimer.start(tun::kEventSaveRetry);
    // Said once per run of failures, and again when the reason changes.
    if (std::exchange(m_saveProblem, reason) != reason)
        Q_EMIT saveProblem(FileNotices::eventsNotSaved(path, reason));
}

QString NativeEvents::lostAtEnd() const
{
    if (m_saveProblem.isEmpty())
        return {};
    return FileNotices::lostAtEnd(FileNotices::File::Events, SecureFile::path(kFileName), m_saveProblem);
}

void NativeEvents::waitForWrites()
{
    // The outcomes were posted to this thread: they are applied too.
    m_writer.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

} // namespace kvr::services
