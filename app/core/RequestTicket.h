#pragma once

#include <QObject>
#include <QPointer>

#include <memory>
#include <utility>

namespace kvr::core {

class TicketDesk;

// A view asks for something (a catalogue, a stream, a day of recordings) and
// may move on, or close, before the answer lands. The view takes a ticket when
// it asks; the answer carries the ticket and checks it once when it lands: a
// ticket is no longer current once its desk has issued a later one, has been
// told that everything asked so far is superseded, or has gone, or once the
// object that holds it has been destroyed. Such an answer is dropped.
// GUI thread only.
class RequestTicket {
public:
    RequestTicket() = default; // never current

    // A ticket that lapses only with its holder: for an answer that stays
    // wanted as long as the one who asked is there to take it. Without a
    // holder the ticket is always current.
    static RequestTicket heldBy(const QObject* holder);

    bool current() const;

    // The callback wrapped so that it runs only while this ticket is current.
    template <typename F> auto guard(F callback) const
    {
        return [ticket = *this, callback = std::move(callback)](auto&&... args) {
            if (ticket.current())
                callback(std::forward<decltype(args)>(args)...);
        };
    }

private:
    friend class TicketDesk;
    struct Round {
        quint64 number = 0;
        bool closed = false; // the desk is gone
    };

    std::shared_ptr<const Round> m_desk; // none: the holder alone decides
    quint64 m_round = 0;
    bool m_held = false; // has a holder, and lapses with it
    QPointer<const QObject> m_holder;
    bool m_issued = false;
};

// Issues the tickets of one kind of request of one view, of which it is a
// member. A later round supersedes every earlier ticket; destroying the desk
// (with the view it belongs to) lapses them all, so an answer that finds its
// ticket current may use the view.
class TicketDesk {
public:
    TicketDesk();
    ~TicketDesk();
    TicketDesk(const TicketDesk&) = delete;
    TicketDesk& operator=(const TicketDesk&) = delete;

    // Opens a new round and gives its ticket: answers to every earlier one are dropped.
    RequestTicket issue();
    // A ticket of the round under way, for a further request of the same round.
    RequestTicket ticket() const;
    // Everything asked so far is superseded; nothing new is asked yet.
    void supersede() { ++m_round->number; }
    // How many rounds have been opened or superseded.
    quint64 round() const { return m_round->number; }

private:
    std::shared_ptr<RequestTicket::Round> m_round;
};

} // namespace kvr::core
