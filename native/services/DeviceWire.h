#pragma once

// One HTTP/1.1 exchange with a device, over a connection of its own: the
// request goes out as given, the answer's status line and headers are read,
// and its body (by its length, chunked, or up to the close) is handed over
// as it comes. Device HTTP and the event streams both talk through it; the
// reading of the answer is AnswerFraming's (AnswerFraming.h), which this
// feeds from the connection.
//
// Why not the platform's network layer: it reads a refusal's (401) body
// whole, holding it in memory and telling nothing, before it reports the
// refusal; a device that answers its login challenge with an endless body
// would fill this process. Here every body is bounded the same way: no more
// of it is taken from the connection than the reader has room for (a
// device sending faster waits in its connection), and a refusal's body
// has a bound by size (tun::kChallengeBody_bytes), past which the exchange
// ends. The head of an answer has a bound of its own.
//
// Each exchange takes a place at the connection gate before it connects
// (waiting for one when all are taken) and gives it back as its connection
// closes.
//
// Signals come later, never from within a call; after abort() or the end,
// none comes. Main thread only.

#include "native/services/AnswerFraming.h"
#include "native/services/ConnectionGate.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>

class QTcpSocket;

namespace kvr::services {

class DeviceWire : public QObject {
    Q_OBJECT
public:
    using Error = AnswerFraming::Error;

    struct Request {
        QByteArray method = "GET";
        QUrl url;
        // Besides Host, Content-Length and Connection, which are written here.
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        bool hasBody = false; // POST and PUT: a Content-Length, also for an empty body
        // The exchange is given up when nothing moves for this long.
        std::chrono::milliseconds transferTimeout{30000};
        // When set: the answer's head must come within this time of the
        // connect, and an answer other than 2xx must end within it, however
        // its bytes trickle (the body of a 2xx answer, a stream, may go on).
        std::chrono::milliseconds answerTimeout{0};
        // When set: the connection must be made within this time of its
        // start (a device that drops the attempt unanswered is given up as
        // one that does not answer, Error::TooSlow).
        std::chrono::milliseconds connectTimeout{0};
        // What the connection counts as at the gate.
        ConnectionGate::Use use = ConnectionGate::Use::Request;
        // Body bytes held for the reader; past it the device waits.
        qint64 heldLimit = 256 * 1024;
        // The reader takes the body piece by piece as it is: one sent in a
        // coding (gzip ...) would read as nothing, so the exchange ends at its
        // head instead (Error::Encoded). A reader that takes the body whole
        // decodes it.
        bool plainBodyOnly = false;
    };

    explicit DeviceWire(Request request, QObject* parent = nullptr);
    ~DeviceWire() override;
    DeviceWire(const DeviceWire&) = delete;
    DeviceWire& operator=(const DeviceWire&) = delete;

    // Connects (once the gate has a place for it) and sends; what follows
    // comes as signals.
    void start();
    // Whether it waits for a place at the gate.
    bool waitsForPlace() const { return m_waitTicket != 0; }
    // Ends the exchange at once; no signal follows.
    void abort();

    const QUrl& url() const { return m_request.url; }
    // The answer's status; 0 until its head came.
    int status() const { return m_framing.status(); }
    // A header of the answer (the name in any case); repeated headers are
    // joined with ", ".
    QByteArray header(const QByteArray& name) const { return m_framing.header(name); }
    bool hasHeaders() const { return m_framing.hasHeaders(); }
    // Body bytes held for the reader.
    qint64 bytesAvailable() const { return m_framing.bytesAvailable(); }
    QByteArray read(qint64 max);
    bool isFinished() const { return m_framing.isDone(); }
    Error error() const { return m_framing.error(); }
    // The failure in plain words; empty without one.
    QString errorText() const { return errorText(error(), status(), m_detail); }
    // The words of a failure of an answer that had come as far as `status`;
    // `detail` is the connection's own for Network.
    static QString errorText(Error error, int status, const QString& detail);

    // The request target as it goes on the request line (what a Digest
    // answer covers): the path and query of the address, encoded.
    static QByteArray target(const QUrl& url);

Q_SIGNALS:
    void headReceived();
    void readyRead();
    // The whole answer came (the body may still be held), or the exchange
    // failed (error()).
    void finished();

private:
    void connectNow();
    void onAnswerBound();
    void send();
    void pump();
    void pumpLater();
    void fail(Error error, const QString& detail = QString());
    void onSocketError();
    void onClosed();
    void touch();
    void settle();
    void report();
    void dropSocket();

    Request m_request;
    AnswerFraming m_framing;
    QPointer<QTcpSocket> m_socket;
    QTimer m_idle;
    QTimer m_answerBound;
    QTimer m_connectBound;
    ConnectionGate::Ticket m_waitTicket = 0;
    bool m_holdsPlace = false;
    bool m_started = false;
    bool m_closed = false; // the device closed the connection
    bool m_pumpQueued = false;
    bool m_inPump = false;
    QString m_detail; // the socket's words for Network
};

} // namespace kvr::services
