// fuzz-sources: native/services/AlertStream.cpp
// fuzz-qt: Qt6Core
//
// The alert-stream parser takes whatever a device sends. The first line of
// the input is the response's Content-Type; the rest is the body, fed in
// pieces whose sizes come from the first byte. No input may crash the
// parser, make it loop, or leave more than its cap in the buffer, and where
// the framing is known from the start the pieces must read as the whole.

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

    QList<AlertStream::Alert> pieces;
    AlertStream::Parser split;
    split.setContentType(contentType);
    const bool boundaryKnown = !split.boundary().isEmpty();
    for (qsizetype at = 0; at < body.size(); at += step) {
        for (const AlertStream::Alert& a : split.feed(body.mid(at, step))) {
            if (a.type.isEmpty())
                std::abort(); // an alert always has an event type
            (void)AlertStream::label(AlertStream::classify(a));
            pieces.append(a);
        }
        if (split.buffered() > AlertStream::kMaxBuffer_bytes)
            std::abort();
    }

    AlertStream::Parser whole;
    whole.setContentType(contentType);
    const QList<AlertStream::Alert> once = whole.feed(body);
    if (whole.buffered() > AlertStream::kMaxBuffer_bytes)
        std::abort();

    // With the boundary known from the start (or no "--" anywhere, so none is
    // ever learned), how the bytes are cut must not change what is read.
    if (boundaryKnown || !body.contains("--")) {
        if (pieces.size() != once.size())
            std::abort();
        for (qsizetype i = 0; i < once.size(); ++i)
            if (pieces[i].type != once[i].type || pieces[i].channel != once[i].channel)
                std::abort();
    }

    AlertStream::Alert alert;
    AlertStream::Parser::parseBody(body, contentType, &alert);
    AlertStream::Parser::parseBody(body, "application/json", &alert);
    (void)AlertStream::parseDeviceTime(QString::fromUtf8(body.left(64)));
    return 0;
}
