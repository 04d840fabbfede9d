// fuzz-sources: native/services/AlertStream.cpp
// fuzz-qt: Qt6Core
//
// The alert-stream parser takes whatever a device sends. The first line of
// the input is the response's Content-Type; the rest is the body, fed in
// pieces whose sizes come from the first byte. No input may crash the
// parser, make it loop, or leave more than its cap in the buffer, and where
// the framing is known from the start the pieces must read as the whole,
// and each alert must come out with the piece whose bytes complete it: after
// a piece, the alerts given so far are those a parser given the same bytes
// at once gives (a part held longer than its bytes need keeps a device's
// last alert until its next one).

#include "native/services/AlertStream.h"

#include <cstdint>
#include <cstdlib>

using namespace kvr::services;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype lf = input.indexOf('\n');
    const QByteArray contentType = lf < 0 ? QByteArray() : input.left(lf);
    const QByteArray body = lf < 0 ? input : input.mid(lf + 1);
    const int step = body.isEmpty() ? 1 : 1 + (uchar(body.at(0)) % 97);

    AlertStream::Parser split;
    split.setContentType(contentType);
    // With the boundary known from the start (or no "--" anywhere, so none is
    // ever learned), how the bytes are cut must not change what is read, nor
    // when.
    const bool framed = !split.boundary().isEmpty() || !body.contains("--");
    auto same = [](const QList<AlertStream::Alert>& a, const QList<AlertStream::Alert>& b) {
        if (a.size() != b.size())
            return false;
        for (qsizetype i = 0; i < a.size(); ++i)
            if (a[i].type != b[i].type || a[i].channel != b[i].channel)
                return false;
        return true;
    };
    // After every piece of an input small enough to read again whole at
    // each one (the fuzzer finds framing faults in small inputs first).
    const bool timed = framed && body.size() <= 1024;

    QList<AlertStream::Alert> pieces;
    for (qsizetype at = 0; at < body.size(); at += step) {
        for (const AlertStream::Alert& a : split.feed(body.mid(at, step))) {
            if (a.type.isEmpty())
                std::abort(); // an alert always has an event type
            (void)AlertStream::label(AlertStream::classify(a));
            pieces.append(a);
        }
        if (split.buffered() > AlertStream::kMaxBuffer_bytes)
            std::abort();
        if (timed) {
            AlertStream::Parser prefix;
            prefix.setContentType(contentType);
            if (!same(pieces, prefix.feed(body.left(at + step))))
                std::abort();
        }
    }

    AlertStream::Parser whole;
    whole.setContentType(contentType);
    const QList<AlertStream::Alert> once = whole.feed(body);
    if (whole.buffered() > AlertStream::kMaxBuffer_bytes)
        std::abort();
    if (framed && !same(pieces, once))
        std::abort();

    AlertStream::Alert alert;
    AlertStream::Parser::parseBody(body, contentType, &alert);
    AlertStream::Parser::parseBody(body, "application/json", &alert);
    (void)AlertStream::parseDeviceTime(QString::fromUtf8(body.left(64)));
    return 0;
}
