#include "app/core/RequestTicket.h"

namespace kvr::core {

RequestTicket RequestTicket::heldBy(const QObject* holder)
{
    RequestTicket ticket;
    ticket.m_held = holder != nullptr;
    ticket.m_holder = holder;
    ticket.m_issued = true;
    return ticket;
}

bool RequestTicket::current() const
{
    if (!m_issued || (m_held && !m_holder))
        return false;
    return !m_desk || (!m_desk->closed && m_desk->number == m_round);
}

TicketDesk::TicketDesk() : m_round(std::make_shared<RequestTicket::Round>()) {}

TicketDesk::~TicketDesk()
{
    m_round->closed = true;
}

RequestTicket TicketDesk::issue()
{
    supersede();
    return ticket();
}

RequestTicket TicketDesk::ticket() const
{
    RequestTicket t;
    t.m_issued = true;
    t.m_desk = m_round;
    t.m_round = m_round->number;
    return t;
}

} // namespace kvr::core
