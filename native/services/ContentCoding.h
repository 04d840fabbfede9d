#pragma once

// Bodies a device sends encoded ("Content-Encoding: gzip") although nothing
// asked for it: some firmware compresses its XML whatever the request says.
// Read as they are, they would parse as nothing, and the device would pass
// for one that answered with no model, no name, no channels.

#include <QByteArray>
#include <QString>

namespace kvr::services {

namespace ContentCoding {

enum class Outcome {
    Plain,    // the body as it came (no coding, or "identity")
    Decoded,  // decoded from gzip or deflate
    TooLarge, // decoded, it passes the cap
    Corrupt,  // named gzip or deflate, but not readable as such
    Unknown,  // a coding not read here ("br", "compress", two at once)
};

struct Decoded {
    QByteArray body;
    Outcome outcome = Outcome::Plain;
    QString coding; // the coding as the device named it, for the sentence
};

// The body of an answer whose Content-Encoding header is `coding`, decoded
// to at most `cap` bytes; past it, or when it cannot be read, the outcome
// says so and the body is empty.
Decoded decode(const QByteArray& coding, const QByteArray& body, qint64 cap);

} // namespace ContentCoding

} // namespace kvr::services
