#pragma once

// How many connections to devices may be open at once: checks, details,
// pictures, recording searches and event streams together. Each one is an
// open file of this process, and a process may hold only so many (a program
// on macOS starts with 256, unless it raises its own limit): past that,
// nothing more opens, neither a device's connection nor a file nor the
// window's own. Places are handed out up to a bound that leaves half of the
// limit to the rest of the program. Event streams, which stay open, may take
// all places but a share kept for requests, so that checks go on however
// many streams are open. A connection that finds no free place waits for
// one, in the order asked (requests before streams). Main thread only.

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

namespace kvr::services {

class ConnectionGate : public QObject {
    Q_OBJECT
public:
    enum class Use {
        Request, // a request or a connect test: short-lived
        Stream,  // an event stream: stays open
    };
    using Ticket = quint64;

    // The gate of the process, sized for the open-file limit it has when
    // first used (after start-up raised it).
    static ConnectionGate& instance();

    ConnectionGate(int capacity, int requestReserve, QObject* parent = nullptr);
    ~ConnectionGate() override;

    // The places for a limit of `openFiles` files: half of it, within
    // sensible bounds; and the share of them kept for requests.
    static int capacityFor(qint64 openFiles);
    static int reserveFor(int capacity);
    // The soft open-file limit of this process now.
    static qint64 openFileLimit();

    // Asks for a place. `go` runs once the place is held for the caller:
    // before this returns when one is free, else later from the event loop.
    // It never runs once `context` is gone or the ticket is cancelled. The
    // caller gives the place back with release().
    Ticket ask(Use use, const QObject* context, std::function<void()> go);
    // Withdraws a ticket whose place has not been taken up (a place granted
    // meanwhile is given back); nothing for one that was.
    void cancel(Ticket ticket);
    void release(Use use);

    // Resizes the gate (tests); waiters that now fit are let through.
    void setCapacity(int capacity, int requestReserve);
    int capacity() const { return m_capacity; }
    int requestReserve() const { return m_reserve; }
    // The places event streams may take together.
    int streamPlaces() const { return m_capacity - m_reserve; }
    // Whether a connection of this use would get a place now, none of its
    // kind waiting.
    bool hasPlace(Use use) const { return fits(use); }
    int held() const { return m_held; }
    int heldStreams() const { return m_heldStreams; }
    int waiting() const { return int(m_requests.size() + m_streams.size()); }
    // The most places held at once since the last reset.
    int peak() const { return m_peak; }
    void resetPeak() { m_peak = m_held; }

Q_SIGNALS:
    // A place was given back, or the gate grew: those that wait for one
    // elsewhere may ask again.
    void placeFreed();

private:
    struct Waiter {
        Ticket ticket = 0;
        Use use = Use::Request;
        bool bound = false; // it has a context, which must still live
        QPointer<const QObject> context;
        std::function<void()> go;
    };

    bool fits(Use use) const;
    void take(Use use);
    void grantLater();
    void grantWaiting();

    int m_capacity;
    int m_reserve;
    int m_held = 0;
    int m_heldStreams = 0;
    int m_peak = 0;
    Ticket m_next = 1;
    QList<Waiter> m_requests; // in the order asked
    QList<Waiter> m_streams;
    bool m_grantQueued = false;
};

} // namespace kvr::services
