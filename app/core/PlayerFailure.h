#pragma once

namespace kvr::core {

// Why a playback could not start or could not go on, as a kind that callers
// decide on. The player's failure text is for people; this is for code. It
// sits below the video engine and both modes, so that code which only reads
// the kind (the native services' explanations, for one) needs neither FFmpeg
// nor the video engine.

enum class PlayerFailure {
    None,         // no failure (nothing reported yet, or a new playback began)
    Refused,      // the peer's port refused the connection
    Unauthorized, // 401: credentials missing or wrong
    Forbidden,    // 403: credentials accepted, access denied
    NotFound,     // 404: no stream or recording at this address
    ClientError,  // another 4xx that says the peer turns the request away, such as
                  // RTSP 453 Not Enough Bandwidth or HTTP 429 (400 is Other)
    ServerError,  // 5xx
    TimedOut,     // the peer did not answer in time
    Unreachable,  // this computer has no way to the peer (network or host unreachable)
    Untrusted,    // the secure stream's certificate was not trusted
    Dropped,      // the stream kept dropping (or sent no picture) until the restarts ran out
    Stopped,      // the stream stopped moving on (a live playlist that no longer advances) and still
                  // had not when the restarts ran out
    Other,        // anything else: the text says what
};

} // namespace kvr::core
