#include "app/core/RequestTicket.h"
#include "tests/support/TestKit.h"

#include <QObject>

#include <functional>

using namespace kvr::core;

class TestRequestTicket : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void laterRoundsAndSupersedingDropEarlierAnswers()
    {
        TicketDesk desk;
        QVERIFY(!RequestTicket().current());
        const RequestTicket first = desk.issue();
        const RequestTicket sameRound = desk.ticket();
        QVERIFY(first.current() && sameRound.current());
        QCOMPARE(desk.round(), 1u);

        const RequestTicket second = desk.issue();
        QVERIFY(!first.current() && !sameRound.current() && second.current());

        desk.supersede();
        QVERIFY(!second.current());
        QCOMPARE(desk.round(), 3u);
        // A lapsed ticket stays lapsed: the counter never comes back to it.
        const RequestTicket third = desk.issue();
        QVERIFY(third.current() && !first.current() && !second.current());

        // Two desks of one view do not supersede each other.
        TicketDesk other;
        const RequestTicket elsewhere = other.issue();
        desk.issue();
        QVERIFY(elsewhere.current());
    }

    void anAnswerOutlivingItsDeskOrHolderIsDropped()
    {
        RequestTicket fromGoneDesk;
        {
            TicketDesk desk;
            fromGoneDesk = desk.issue();
            QVERIFY(fromGoneDesk.current());
        }
        QVERIFY(!fromGoneDesk.current());

        auto* holder = new QObject;
        const RequestTicket plain = RequestTicket::heldBy(holder);
        QVERIFY(plain.current());
        QVERIFY(RequestTicket::heldBy(nullptr).current());

        int calls = 0;
        auto answer = plain.guard([&calls](int add, const QString& text) { calls += add + int(text.size()); });
        answer(2, QStringLiteral("ab"));
        QCOMPARE(calls, 4);

        delete holder;
        QVERIFY(!plain.current());
        answer(2, QStringLiteral("ab"));
        QCOMPARE(calls, 4);
    }
};

KVR_TEST_MAIN(TestRequestTicket)

#include "tst_request_ticket.moc"
