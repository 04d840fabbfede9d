#pragma once

// Live event streams of the devices that push their events (the ISAPI
// families): one long-lived request per eligible device, reopened with a
// growing delay when it drops; the notifications turned into classified,
// de-duplicated events kept for seven days (at most 5,000) in memory and in
// native-events.json; an early probe of a device that reports a condition
// worth checking. Started while the native main window is shown. Main
// thread only.

#include "app/core/WholeFile.h"
#include "native/services/AlertStream.h"
#include "native/services/NativeRecords.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>

namespace kvr::services {

class DeviceWire;
class NativeController;
class NativeStore;

// ---- Tunables of the event streams ------------------------------------------
namespace tun {
using namespace std::chrono_literals;
// A stream is given up when no byte moves for this long, and reopened.
inline constexpr std::chrono::milliseconds kStreamTransferTimeout = 5min;
// Reconnection delays: none for the first attempt, then this base doubled
// per attempt, never more than the ceiling.
inline constexpr std::chrono::milliseconds kStreamRetryBase = 5s;
inline constexpr std::chrono::milliseconds kStreamRetryMax = 120s;
// A device that does not offer the stream (403, 404, 405, 501) is asked again
// this much later.
inline constexpr std::chrono::milliseconds kStreamUnsupportedRetry = 30min;
// A stream counts as working (and the delays start again from none) when it
// stayed open this long, or delivered a notification and stayed open at
// least the second time. A device that answers and hangs up at once is thus
// retried with growing delays, not in a loop.
inline constexpr std::chrono::milliseconds kStreamStableAfter = 30s;
inline constexpr std::chrono::milliseconds kStreamDeliveredAfter = 5s;
// New streams open this far apart, in store order.
inline constexpr std::chrono::milliseconds kStreamStartGap = 20ms;
// Stream connections being opened (connecting, or waiting for the answer's
// head) at any moment; those that fall due meanwhile wait their turn in the
// order they fell due. A device that never answers holds its connection
// until the time bounds below end it, and thousands held at once would make
// every turn of the main thread's event loop (which looks at each of them)
// slow.
inline constexpr int kStreamOpeningsAtOnce = 32;
// A stream's connection must be made within this time, as a check's
// connect must: a device that drops the attempt unanswered frees its turn
// soon.
inline constexpr std::chrono::milliseconds kStreamConnectTimeout = 3s;
// How much of a stream is held unread; past it the device's bytes wait in
// the connection (its sending slows down) instead of in memory.
inline constexpr qint64 kStreamReadBuffer_bytes = 256 * 1024;
// The streams are read in pieces of this size, taking turns, for at most
// the slice time per turn of the event loop all together (the slice is not
// per stream: eight busy streams must not take eight slices), so floods
// never stall the main thread.
inline constexpr qint64 kStreamReadPiece_bytes = 16 * 1024;
inline constexpr std::chrono::milliseconds kStreamReadSlice = 8ms;
// Streams that together deliver more than this within the window (about
// 6 MB/s; notifications with a picture each, from every channel of a
// recorder, stay far below) flood the reader, however the bytes are spread
// over them: the stream that sent the most is dropped and reopened later.
inline constexpr qint64 kStreamFloodBytes = 32 * 1024 * 1024;
inline constexpr std::chrono::milliseconds kStreamFloodWindow = 5s;
// Unconsumed bytes all parsers together may hold (a half-received picture,
// or bytes without a frame); past it the largest buffer is emptied, as one
// stream's own limit would. Each stream may hold 4 MiB on its own, which a
// fleet of streams must not multiply.
inline constexpr qint64 kStreamBufferedTotal_bytes = 8 * 1024 * 1024;
// Streams holding less than this are not worth adding up.
inline constexpr qint64 kStreamBufferedCheck_bytes = 256 * 1024;
// Store changes are followed after this quiet time.
inline constexpr std::chrono::milliseconds kStreamSyncDelay = 500ms;
// The pass that brings the streams in line with the store's lists looks at
// this many devices a turn (an import of a hundred thousand makes as many
// connections to plan).
inline constexpr int kStreamSyncPerTurn = 5000;
// Streams whose time to open has come open at most this many per turn of
// the event loop, the rest in the next turns: thousands that fall due
// together (after a network outage) never stall the window.
inline constexpr int kStreamOpensPerTurn = 16;
// The head of a stream's answer, and the whole of an answer other than the
// stream (a refusal, an error page), must come within this time, as a
// check's answer must: a device that drips them, or sends an error page that
// never ends, no longer holds the attempt (and its link "Connecting") for
// ever.
inline constexpr std::chrono::milliseconds kStreamAnswerTimeout = 16s;
// The event log is written this long after the last stored event ...
inline constexpr std::chrono::milliseconds kEventSaveDelay = 5s;
// ... but never later than this after the first event not yet written, so
// streams that never fall quiet still reach the disk.
inline constexpr std::chrono::milliseconds kEventSaveMaxDeferral = 30s;
// A write that failed (a full disk) is tried again this much later, unless
// a new event asks for a save sooner.
inline constexpr std::chrono::milliseconds kEventSaveRetry = 30s;
// Motion-like detections of one channel repeated within this window are one.
inline constexpr std::chrono::seconds kDetectionRepeatWindow = 30s;
// At most one early probe per device within this time.
inline constexpr std::chrono::milliseconds kEarlyProbeGap = 60s;
// The event log keeps at most this many events, none older than the days.
inline constexpr int kEventLogMax = 5000;
inline constexpr int kEventLogDays = 7;
} // namespace tun

// Judges floods on what all streams read together within a window: past
// the limit, the stream that read the most in the window is the flood. A
// plain rule over byte counts and monotonic times.
class StreamFloodMeter {
public:
    StreamFloodMeter(qint64 limitBytes, qint64 windowMs) : m_limit(limitBytes), m_windowMs(windowMs) {}
    // Counts bytes read from a stream at nowMs. Returns the stream to drop
    // (its bytes leave the count), or an empty text.
    QString add(const QString& stream, qint64 bytes, qint64 nowMs);
    // A stream that closed no longer counts.
    void forget(const QString& stream);
    qint64 total() const { return m_total; }

private:
    qint64 m_limit;
    qint64 m_windowMs;
    qint64 m_windowStartMs = -1;
    qint64 m_total = 0;
    QHash<QString, qint64> m_bytes; // per stream, within the window
};

class NativeEvents : public QObject {
    Q_OBJECT
public:
    using Link = Native::Link;
    using LinkStatus = Native::LinkStatus;

    // One stored event; also the record of the event file.
    struct Event {
        QString deviceId;              // "d"
        int channel = 0;               // "ch"
        int kind = AlertStream::Other; // "k", 1..14; kind 0 is never stored
        QString type;                  // "t", the device's own word
        bool active = true;            // "a"
        QDateTime receivedAt;          // "at", local time of arrival here
        QDateTime deviceTime;          // "dt", the device's time stamp; may be invalid
        QString description;           // "desc"
        // Monotonic milliseconds of the arrival; -1 for events read from the
        // file. Not saved: repeats are told apart on it, never on the wall
        // clock, which may be set back or forward meanwhile.
        qint64 receivedMs = -1;
    };

    // How a stream ended, as its end handler sees it.
    struct StreamEnd {
        int status = 0; // HTTP status; 0 when none came
        enum class Error {
            None,
            Timeout,
            Outrun,
            RedirectLoop,      // more redirects than a device needs
            RedirectElsewhere, // a redirect to another host, not followed
            LoginTooLarge,     // a refusal whose body passed its bound
            NoAnswer,          // no head came within kStreamAnswerTimeout
            TooSlow,           // an answer other than the stream did not end within it
            Other,
        } error = Error::None;
        QString errorText;      // the connection's sentence for Other
        bool wasLive = false;   // the link was Live until now
        qint64 livedMs = -1;    // how long it was open after its 200; -1 never
        bool delivered = false; // it delivered a notification
    };
    // What follows from it: the link and its text, and what happens next.
    struct EndVerdict {
        Link link = Link::Lost;
        QString text;
        enum class Next { Retry, RetryLater, Wait } next = Next::Retry;
        bool freshStart = false; // the stream worked: delays start again from none
        bool recheck = false;    // ask for a full check of the device
    };
    static EndVerdict judgeEnd(const StreamEnd& end);
    // The delay before reconnection attempt `attempt` (0 for the first after
    // the stream last worked): 0, 5, 10, 20, 40, 80 s, then 120 s.
    static std::chrono::milliseconds retryDelay(int attempt);

    // Starts one connection's timer; tests replace it to see the planned
    // delays and decide when the attempt runs. The default starts the timer.
    using TimerFn = std::function<void(const QString& deviceId, std::chrono::milliseconds delay, QTimer* timer)>;

    // The process-wide streams over NativeStore::instance() and
    // NativeController::instance(); they end with NativeServices::shutdown().
    static NativeEvents& instance();
    static void releaseInstance();
    // The process-wide streams if they were made; null otherwise.
    static NativeEvents* existing();

    // Streams over the given store and scheduler (tests make their own).
    NativeEvents(NativeStore* store, NativeController* controller, QObject* parent = nullptr);
    ~NativeEvents() override;

    // Reads the event file (once), then opens the streams and follows the
    // store. Idempotent.
    void start();
    // Closes every stream, removes their statuses and writes the file.
    void stop();
    bool isStarted() const { return m_started; }

    // True for the brand families that offer the stream.
    static bool supports(const QString& manufacturer);
    // Enabled devices of the store whose brand offers the stream. Counted
    // again only after the store's lists changed: the window reads it at
    // every change of a stream, which a fleet of failing streams makes
    // many times a second.
    int eligibleCount() const;
    // Streams now live (kept as the links change).
    int connectedCount() const { return m_liveCount; }

    // Newest first, at most `max`, of the device (of all when empty).
    QList<Event> recent(const QString& deviceId, int max) const;
    // The device's conditions (video loss .. video mismatch) still on in the
    // last `hours`, newest first: a condition stands when the latest
    // notification about it (per kind and channel) says it is on.
    QList<Event> standing(const QString& deviceId, int hours) const;

    // The stream state of each device that has a stream; absent: none.
    const QHash<QString, LinkStatus>& statuses() const { return m_statuses; }
    // Every stored event, oldest first.
    const QList<Event>& events() const { return m_events; }

    // Writes the file a little later: kEventSaveDelay from now, but never
    // later than kEventSaveMaxDeferral after the first event not yet written.
    void saveSoon();
    // The delay the pending write was planned with; -1 when none is pending.
    int pendingSaveDelayMs() const { return m_saveTimer.isActive() ? m_saveTimer.interval() : -1; }
    // Writes the file now, on the writer thread (nothing before the file
    // was read).
    void save();
    // Waits until the writes started so far have finished and their
    // outcomes are applied.
    void waitForWrites();
    // Whether the last write of the file failed (said until one succeeds).
    bool saveFailing() const { return !m_saveProblem.isEmpty(); }
    // When the last write failed: what is lost if the program ends now, as
    // said then; empty otherwise.
    QString lostAtEnd() const;
    // What could not be read of the event file at start, and where the
    // copy of it is kept; said once: the first caller takes it.
    QString takeUnreadNotice() { return std::exchange(m_unreadNotice, {}); }

    // Stores the notifications of one device's stream: keep-alives are
    // dropped, repeated detections within 30 s folded, conditions trigger
    // an early probe. The stream handlers call it; public so the storage
    // rules can be exercised without a device.
    void ingest(const QString& deviceId, const QList<AlertStream::Alert>& alerts);

    // The connection fingerprint: changes with the address, port, user,
    // password or brand, and does not hold the password.
    static QString fingerprint(const Native::Device& device);

    void setTimerFunction(TimerFn fn);
    // How long a stream may stay silent before it is given up (tests
    // shorten it; the default is kStreamTransferTimeout).
    void setTransferTimeout(std::chrono::milliseconds timeout) { m_transferTimeout = timeout; }
    // How long the head of an answer, and a whole answer other than the
    // stream, may take (tests shorten it; the default is
    // kStreamAnswerTimeout).
    void setAnswerTimeout(std::chrono::milliseconds timeout) { m_answerTimeout = timeout; }
    // How long a stream's connect may take (tests shorten it; the default
    // is kStreamConnectTimeout).
    void setConnectTimeout(std::chrono::milliseconds timeout) { m_connectTimeout = timeout; }
    // Connections now held (one per wanted device).
    int connectionCount() const { return int(m_connections.size()); }
    // Stream connections being opened now, and the most at once since the
    // peak was last reset.
    int openingCount() const { return m_opening; }
    int openingPeak() const { return m_openingPeak; }
    void resetOpeningPeak() { m_openingPeak = m_opening; }
    // Streams due to open that wait for a connection place: the open-file
    // limit leaves none free for them (ConnectionGate).
    int heldBackCount() const { return m_heldBack; }
    // Whether the device's last check found it unreachable (or its HTTP
    // port, the stream's, closed): its stream then waits for a check that
    // finds it up, as connecting to it would hang or fail.
    static bool waitsForCheck(const Native::Device& device);
    // Whether the device's stream waits for such a check now.
    bool awaitsCheck(const QString& deviceId) const;
    // Unconsumed stream bytes all parsers hold together.
    qint64 bufferedBytes() const;

Q_SIGNALS:
    void eventReceived(const NativeEvents::Event& event);
    void linksChanged();
    // The event file could not be read (takeUnreadNotice).
    void unreadFile();
    // The event file could not be written, or (an empty sentence) its writes
    // work again; said once per run of failures, and again when the reason
    // changes.
    void saveProblem(const QString& sentence);

private:
    // When the connections' attempts are due: monotonic ms to device id.
    using Schedule = std::multimap<qint64, QString>;

    struct Connection {
        QPointer<DeviceWire> reply;
        AlertStream::Parser parser;
        int attempt = 0;         // delays scheduled since the stream last worked
        bool authTried = false;  // the current request answers the device's challenge
        QString key;             // the fingerprint of the settings it was opened with
        QTimer* timer = nullptr; // made for a test's timer function, which starts it to open the stream
        // Its place in the schedule of attempts; end() when none is planned.
        // One timer serves every connection: thousands of waiting timers
        // make each start of any timer of the thread cost as many steps.
        Schedule::iterator due;
        bool planned = false;
        qint64 liveSinceMs = -1;  // monotonic time the current request answered 200
        bool delivered = false;   // the current request delivered a notification
        bool readQueued = false;  // waits in the read queue
        bool outrun = false;      // dropped for sending more than can be read
        int hops = 0;             // redirects of the current request
        bool elsewhere = false;   // redirected to another host, not followed
        bool opening = false;     // its request is out and has not gone live (counts in m_opening)
        bool awaitsCheck = false; // not planned: its device was found unreachable
    };
    // Why the attempts that are due do not all go out.
    enum class OpenBlock { None, Turns, Places };

    void noteUnread(const QString& sentence)
    {
        m_unreadNotice = sentence;
        Q_EMIT unreadFile();
    }
    // Brings the streams in line with the store's lists, a slice of the
    // devices a turn (tun::kStreamSyncPerTurn), the rest in the next turns.
    void sync();
    // Brings one device's stream in line with the store and the scheduler:
    // opened (after `startDelay`) when wanted and new, reopened when its
    // connection changed, closed when no longer wanted, and opened again
    // at once after a check found the device up since its stream failed.
    // True when the device is wanted.
    bool syncDevice(const Native::Device& d, std::chrono::milliseconds startDelay);
    // The devices the store announced one by one since the last pass.
    void syncUpdated();
    void onDeviceUpdated(const QString& id);
    bool isPlanned(const Connection& conn) const;
    void unplan(Connection& conn);
    void openDue();
    void openDueLater();
    void armSchedule();
    // The attempt of the connection no longer counts as being opened.
    void endOpening(Connection& conn);
    void setHeldBack(int count);
    void forgetStatus(const QString& id);
    void connectDevice(const QString& id);
    void dropDevice(const QString& id, Link link, const QString& text);
    void setStatus(const QString& id, Link link, const QString& text);
    void scheduleRetry(const QString& id);
    void recheck(const QString& id, bool lost);
    void load();
    void armTimer(const QString& id, Connection& conn, std::chrono::milliseconds delay);
    void onHeaders(const QString& id, DeviceWire* reply);
    // A request of the stream; `login` answers the device's challenge.
    void openRequest(const QString& id, const QUrl& url, const QByteArray& login = QByteArray());
    bool followRedirect(const QString& id, DeviceWire* reply);
    // The answer to the device's challenge goes out at once, once per
    // stream; false when the stream ends here.
    bool answerChallenge(const QString& id, DeviceWire* reply);
    void onData(const QString& id, DeviceWire* reply);
    // One turn's reading: the queued streams take turns, a piece each,
    // until the slice is spent; what is left waits for the next turn.
    void readPass();
    // Reads and parses one piece of the stream (`all`: what is left,
    // whatever it costs, as the stream ended). True when bytes remain.
    bool readPiece(const QString& id, DeviceWire* reply, bool all);
    void dropFlood(const QString& id);
    // Empties the largest parser buffers while all of them together hold
    // more than kStreamBufferedTotal_bytes.
    void limitBuffered();
    void onFinished(const QString& id, DeviceWire* reply);
    void onStoreChanged();
    void onQuit();
    void onSaved(const kvr::core::WholeFile::Outcome& out, const QString& path, qint64 unsavedSince);
    QDateTime now() const;

    NativeStore* m_store;
    NativeController* m_controller;
    QHash<QString, Connection> m_connections;
    Schedule m_schedule;
    QTimer m_scheduleTimer;
    QElapsedTimer m_scheduleClock; // the schedule runs on the timers' own time
    int m_opening = 0;
    int m_openingPeak = 0;
    int m_heldBack = 0;
    OpenBlock m_openBlock = OpenBlock::None;
    bool m_openQueued = false;
    QSet<QString> m_updated; // devices announced since the last pass over them
    bool m_updatePassQueued = false;
    mutable int m_eligible = -1; // -1: to be counted again
    int m_liveCount = 0;
    QList<QString> m_readQueue; // streams with bytes waiting, in turn order
    bool m_readPassQueued = false;
    StreamFloodMeter m_flood{kvr::services::tun::kStreamFloodBytes, kvr::services::tun::kStreamFloodWindow.count()};
    QHash<QString, LinkStatus> m_statuses;
    QHash<QString, qint64> m_lastRecheckMs; // monotonic
    QList<Event> m_events;
    // Sequence number of m_events' first event (each stored event takes the
    // next), and per detection key the number of its latest stored event.
    qint64 m_firstSeq = 0;
    QHash<QString, qint64> m_lastDetection;
    QTimer m_saveTimer;
    qint64 m_firstUnsavedMs = -1; // monotonic; -1 when everything is saved
    QTimer m_syncTimer;
    // A pass of sync() over the devices, in slices.
    struct SyncPass {
        bool active = false;
        bool restart = false; // the lists changed while it was under way
        qsizetype cursor = 0;
        int fresh = 0; // new streams so far, each opening kStreamStartGap after the one before
        QSet<QString> wanted;
    } m_syncPass;
    bool m_syncQueued = false;
    QThreadPool m_writer; // one thread: the event log's writes, in order
    bool m_started = false;
    bool m_loaded = false;
    bool m_guardFile = false; // a file that could not be read must not be replaced
    QString m_saveProblem;    // why the last write failed, in plain words; empty while writes work
    QString m_unreadNotice;
    TimerFn m_timerFn;
    std::chrono::milliseconds m_transferTimeout = kvr::services::tun::kStreamTransferTimeout;
    std::chrono::milliseconds m_answerTimeout = kvr::services::tun::kStreamAnswerTimeout;
    std::chrono::milliseconds m_connectTimeout = kvr::services::tun::kStreamConnectTimeout;
};

} // namespace kvr::services
