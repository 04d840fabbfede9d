#pragma once

// The live event stream of ISAPI devices: the notification record, the
// fifteen kinds of event with their display names, how a device's
// event-type word maps to a kind, and an incremental parser fed the
// response bytes as they arrive. Devices frame the stream either as a
// multipart/mixed body (each part an XML or JSON notification or a picture)
// or as bare XML documents back to back; one parser copes with both.

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>

#include <array>
#include <initializer_list>

namespace kvr::services {

namespace AlertStream {

// Stored in the event log as numbers and used as ranges (1..3 detections,
// 4..12 device conditions), so the values are fixed.
enum Kind : int {
    Heartbeat = 0,
    Motion = 1,
    LineCrossing = 2,
    Intrusion = 3,
    VideoLoss = 4,
    Tampering = 5,
    DiskFull = 6,
    DiskError = 7,
    NetworkDown = 8,
    IpConflict = 9,
    FailedLogin = 10,
    RecordingFailed = 11,
    VideoMismatch = 12,
    AlarmInput = 13,
    Other = 14,
};

inline bool isDetection(int kind)
{
    return kind >= Motion && kind <= Intrusion;
}
inline bool isCondition(int kind)
{
    return kind >= VideoLoss && kind <= VideoMismatch;
}

// One notification as the device sent it.
struct Alert {
    QString type;       // event-type word in the device's own spelling
    bool active = true; // false only for the state "inactive"
    int channel = 0;    // channel or input number; 0 when none
    QDateTime time;     // the device's own time stamp; may be invalid
    QString description;
    int activePostCount = -1; // the device's repeat counter; -1 when absent
};

// The largest amount of unconsumed stream the parser keeps. A device that
// sends this much without a readable frame has its buffer emptied, and
// parsing starts afresh with the next bytes.
inline constexpr qsizetype kMaxBuffer_bytes = 4 * 1024 * 1024;

// Kind of a notification; unknown words give Other. An inactive
// "videoloss" is the stream's keep-alive (Heartbeat).
Kind classify(const Alert& alert);
// Display name of a kind; empty for a value outside 0..14.
QString label(int kind);

// The device time-stamp reader: ISO 8601 (with its zone), else the first 19
// characters as local "yyyy-MM-ddTHH:mm:ss". May return an invalid value.
QDateTime parseDeviceTime(const QString& text);

class Parser {
public:
    // Learns the multipart boundary from the response's Content-Type when
    // it names one; otherwise keeps what it had.
    void setContentType(const QByteArray& contentType);
    // Appends the bytes and returns, in stream order, every notification
    // now complete. Unreadable parts are dropped; never fails.
    QList<Alert> feed(const QByteArray& data);
    // Back to a new parser's state (before a new request).
    void reset();
    // Empties the unconsumed bytes and gives their memory back, keeping the
    // boundary: parsing starts afresh with the next bytes, as when a stream
    // passes the buffer limit.
    void dropBuffered();

    // One notification body given its part's content type; true when a
    // notification with an event type was read into `alert`.
    static bool parseBody(const QByteArray& body, const QByteArray& contentType, Alert* alert);

    const QByteArray& boundary() const { return m_boundary; }
    qsizetype buffered() const { return m_buffer.size(); }
    // Memory the buffer holds, which may exceed what it holds unconsumed.
    qsizetype bufferMemory() const { return m_buffer.capacity(); }

private:
    // What the last pass stopped at: it cannot get further until one of the
    // tokens appears in newer bytes or the buffer holds `bytes` bytes.
    struct Wait {
        bool active = false;
        std::array<QByteArray, 4> tokens;
        int count = 0;
        qsizetype from = 0; // buffer size when the pass stopped
        qint64 bytes = -1;  // -1: no size completes it
    };

    void process(QList<Alert>& out);
    bool learnBoundary();
    void drainMultipart(QList<Alert>& out);
    void drainBareXml(QList<Alert>& out);
    void consume(qsizetype bytes);
    qsizetype find(QByteArrayView needle, qsizetype from, qsizetype to = -1) const;
    qsizetype delimiterStartAtEnd(const QByteArray& delimiter, qsizetype from) const;
    void waitFor(std::initializer_list<QByteArrayView> tokens, qint64 bytes = -1);
    bool mayProgress() const;

    QByteArray m_buffer;
    QByteArray m_boundary; // without its leading "--"; empty while unknown
    Wait m_wait;
};

} // namespace AlertStream

} // namespace kvr::services
