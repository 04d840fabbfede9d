#include "native/services/ContentCoding.h"

#include <zlib.h>

#include <algorithm>

namespace kvr::services {

namespace ContentCoding {

namespace {

// Inflates with the given window bits (15 + 32: a zlib or gzip header,
// whichever comes; -15: raw deflate), to at most `cap` bytes.
Decoded inflateBody(const QByteArray& body, int windowBits, qint64 cap)
{
    Decoded out;
    z_stream z{};
    if (inflateInit2(&z, windowBits) != Z_OK) {
        out.outcome = Outcome::Corrupt;
        return out;
    }
    // Pieces of a fixed size: what the body claims about its own size is
    // not trusted, and a small body may decode to a great deal.
    constexpr qsizetype kPiece = 64 * 1024;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.constData()));
    z.avail_in = uInt(body.size());
    int rc = Z_OK;
    for (;;) {
        if (out.body.size() > cap)
            break;
        const qsizetype at = out.body.size();
        const qsizetype piece = qsizetype(std::min<qint64>(kPiece, cap + 1 - at));
        out.body.resize(at + piece);
        z.next_out = reinterpret_cast<Bytef*>(out.body.data() + at);
        z.avail_out = uInt(piece);
        rc = inflate(&z, Z_NO_FLUSH);
        out.body.resize(at + piece - qsizetype(z.avail_out));
        // The end; a body that is not what it says; or one that ends before
        // its stream does (no progress with room to spare).
        if (rc != Z_OK || z.avail_out > 0)
            break;
    }
    inflateEnd(&z);
    if (out.body.size() > cap) {
        out.outcome = Outcome::TooLarge;
        out.body.clear();
    } else if (rc != Z_STREAM_END) {
        out.outcome = Outcome::Corrupt;
        out.body.clear();
    } else {
        out.outcome = Outcome::Decoded;
    }
    return out;
}

} // namespace

Decoded decode(const QByteArray& coding, const QByteArray& body, qint64 cap)
{
    const QByteArray name = coding.trimmed().toLower();
    if (name.isEmpty() || name == "identity") {
        Decoded plain;
        plain.body = body;
        return plain;
    }
    Decoded out;
    if (name == "gzip" || name == "x-gzip") {
        out = inflateBody(body, 15 + 32, cap);
    } else if (name == "deflate") {
        // Meant as zlib data; some servers send the bare stream instead.
        out = inflateBody(body, 15 + 32, cap);
        if (out.outcome == Outcome::Corrupt)
            out = inflateBody(body, -15, cap);
    } else {
        out.outcome = Outcome::Unknown;
    }
    out.coding = QString::fromLatin1(coding.trimmed().left(40));
    return out;
}

} // namespace ContentCoding

} // namespace kvr::services
