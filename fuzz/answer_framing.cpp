// fuzz-sources: native/services/AnswerFraming.cpp native/services/ContentCoding.cpp
// fuzz-qt: Qt6Core zlib
//
// A device's answer as it comes off the connection, framed apart from any
// socket. The first three bytes choose the reader's share of the body, the
// size of the pieces the rest arrives in and how much the reader takes at
// a time; the rest is what the device sent. No input may crash the framing,
// make it loop, hold more body than the reader's share, take more than it
// asked for, or give a refusal a body past its bound; and the answer must
// read the same whether it came whole or in pieces. Its body, named by its
// Content-Encoding, is then decoded, never past the cap, and a body that
// cannot be decoded gives nothing.

#include "native/services/AnswerFraming.h"
#include "native/services/ContentCoding.h"
#include "native/services/Tunables.h"

#include <cstdint>
#include <cstdlib>

using namespace kvr::services;

namespace {

struct Read {
    int status = 0;
    QByteArray headers;
    QByteArray body;
    AnswerFraming::Error error = AnswerFraming::Error::None;
    bool done = false;
};

// Feeds `wire` in pieces of at most `piece` bytes, the reader taking `take`
// bytes after each, and the connection closing once all is sent.
Read run(const QByteArray& wire, qint64 held, qsizetype piece, qint64 take)
{
    AnswerFraming f(held);
    Read out;
    qsizetype sent = 0;
    bool closed = false;
    // Every round moves something, or the answer ends: a bound on rounds
    // that no honest framing reaches.
    const qint64 rounds = 4 * wire.size() + 64;
    for (qint64 round = 0; !f.isDone(); ++round) {
        if (round > rounds)
            std::abort(); // it loops
        const qint64 room = f.intake();
        if (room < 0 || room > tun::kWireSocketBuffer_bytes)
            std::abort();
        const qsizetype n = qsizetype(std::min<qint64>({room, qint64(piece), qint64(wire.size() - sent)}));
        f.feed(wire.mid(sent, n));
        sent += n;
        if (f.bytesAvailable() > held)
            std::abort(); // more held than the reader's share
        out.body += f.read(take);
        if (f.status() == 401 && out.body.size() + f.bytesAvailable() > tun::kChallengeBody_bytes)
            std::abort();
        if (sent == wire.size()) {
            closed = true;
        }
        if (closed)
            f.peerClosed(false);
        if (closed && !f.isDone() && f.bytesAvailable() == 0 && f.intake() > 0 && !f.inputWaits())
            std::abort(); // closed, all read, nothing held, and still not over
    }
    out.body += f.read(held);
    if (f.feed("more") || f.intake() != 0)
        std::abort(); // an ended answer takes nothing more
    out.status = f.status();
    out.headers = f.header("content-type") + '|' + f.header("content-encoding");
    out.error = f.error();
    out.done = f.isDone();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const qint64 held = 1 + qint64(data[0]) * 97;
    const qsizetype piece = 1 + data[1] % 61;
    const qint64 take = 1 + qint64(data[2]) * 13;
    const QByteArray wire = QByteArray::fromRawData(reinterpret_cast<const char*>(data + 3), qsizetype(size - 3));

    const Read pieces = run(wire, held, piece, take);
    const Read whole = run(wire, held, wire.size() + 1, held);
    if (pieces.status != whole.status || pieces.headers != whole.headers || pieces.body != whole.body
        || pieces.error != whole.error)
        std::abort(); // the same bytes read otherwise when they come in pieces

    const qint64 cap = 1 + qint64(data[0]) * 1024;
    const ContentCoding::Decoded decoded =
        ContentCoding::decode(whole.headers.mid(whole.headers.indexOf('|') + 1), whole.body, cap);
    if (decoded.outcome == ContentCoding::Outcome::Decoded && decoded.body.size() > cap)
        std::abort(); // decoded past the cap
    if (decoded.outcome != ContentCoding::Outcome::Plain && decoded.outcome != ContentCoding::Outcome::Decoded
        && !decoded.body.isEmpty())
        std::abort();
    return 0;
}
