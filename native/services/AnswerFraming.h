#pragma once

// The reading half of one HTTP/1.1 exchange with a device, apart from any
// connection: bytes are fed in as they come, and out come the answer's
// status and headers and its body (by its length, chunked, or up to the
// close), held for the reader. The device connection (DeviceWire.h) feeds it
// from its socket; tests and the fuzz build feed it bytes of their own.
//
// Bounds: no more is taken in than the reader has room for (`heldLimit`
// body bytes held), the head has a bound (tun::kAnswerHead_bytes), and so
// has a refusal's (401) body (tun::kChallengeBody_bytes), past which the
// answer fails. What was fed and not yet taken never passes the
// connection's share (tun::kWireSocketBuffer_bytes).

#include <QByteArray>
#include <QList>
#include <QPair>

#include <utility>

namespace kvr::services {

class AnswerFraming {
public:
    enum class Error {
        None,
        ConnectionRefused,
        HostNotFound,
        Closed,        // the device closed the connection before its whole answer
        Timeout,       // nothing moved for the transfer time-out
        LoginTooLarge, // a refusal's (401) body passed its bound
        NotHttp,       // what came is no HTTP answer, or its head passed its bound
        Untrusted,     // an HTTPS address whose certificate is not trusted
        Encoded,       // the body comes in a coding (gzip ...) its reader does not take
        Network,       // any other failure of the connection
        TooSlow,       // the answer did not come, or end, within its time (DeviceWire)
    };

    explicit AnswerFraming(qint64 heldLimit) : m_heldLimit(heldLimit) {}

    // How many bytes may be fed now: none while the reader's share of the
    // body is full, so that the rest waits where it is.
    qint64 intake() const;
    // Takes bytes that came (at most intake() of them) and reads what they
    // complete; true when anything moved (bytes taken, read or held), so a
    // caller feeding until nothing moves knows when to stop.
    bool feed(const QByteArray& bytes);
    // The connection closed; `moreWaits` when bytes still wait in it that
    // could not be fed for want of room. Ends the answer (whole only when it
    // runs to the close) once all that can be read is read; call again as
    // the reader makes room.
    void peerClosed(bool moreWaits);
    // Ends the answer with a failure of the connection (or of the parse).
    void fail(Error error);
    // Ends it with nothing more to say (the exchange was abandoned).
    void abandon();

    int status() const { return m_status; }
    // A header of the answer (the name in any case); repeated headers are
    // joined with ", ".
    QByteArray header(const QByteArray& name) const;
    bool hasHeaders() const { return !m_headers.isEmpty(); }
    qint64 bytesAvailable() const { return m_held.size() - m_heldPos; }
    QByteArray read(qint64 max);
    bool isDone() const { return m_done; }
    Error error() const { return m_error; }
    // Bytes fed and not yet read through.
    bool inputWaits() const { return m_inPos < m_in.size(); }
    // Bytes looked at so far in search of the end of a head, trailers or a
    // chunk's size line: each byte once, however the answer was cut (what a
    // test of a device dripping its answer counts).
    qint64 examined() const { return m_examined; }

    // What happened since last asked: the head came, body came, the answer
    // ended. Each is told once.
    bool takeHead() { return std::exchange(m_owesHead, false); }
    bool takeData() { return std::exchange(m_owesData, false); }
    bool takeEnd() { return std::exchange(m_owesEnd, false); }

private:
    enum class Stage { Head, Length, ChunkSize, ChunkData, ChunkEnd, Trailers, ToClose, Done };

    bool parse();
    bool readHead(const QByteArray& head);
    void beginBody();
    bool takeBody(qint64 upTo);
    // Reads `n` bytes through; the next search starts afresh after them.
    void consume(qsizetype n);
    qint64 room() const;
    bool inBody() const;
    void complete();

    qint64 m_heldLimit;
    // Bytes fed not yet read through, and the body held for the reader, each
    // read from `pos` on (compacted now and then).
    QByteArray m_in;
    qsizetype m_inPos = 0;
    // How much from `m_inPos` on was searched for the end it waits for.
    qsizetype m_searched = 0;
    qint64 m_examined = 0;
    QByteArray m_held;
    qsizetype m_heldPos = 0;
    Stage m_stage = Stage::Head;
    qint64 m_left = 0;      // of the body or chunk under way
    qint64 m_bodyTotal = 0; // body bytes so far
    int m_status = 0;
    QList<QPair<QByteArray, QByteArray>> m_headers; // names in lower case
    bool m_done = false;
    bool m_owesHead = false;
    bool m_owesData = false;
    bool m_owesEnd = false;
    Error m_error = Error::None;
};

} // namespace kvr::services
