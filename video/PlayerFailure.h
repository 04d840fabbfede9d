#pragma once

// Why a playback could not start or could not go on, as a kind that callers
// decide on. The player's failure text is for people; this is for code. The
// header depends on nothing, so that screens which only read the kind need
// neither FFmpeg nor Qt Network.
namespace kvr::video {

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
    Untrusted,    // the secure stream's certificate was not trusted
    Dropped,      // the stream kept dropping (or sent no picture) until the restarts ran out
    Other,        // anything else: the text says what
};

// The kind of an FFmpeg error code (a negative AVERROR value). FFmpeg turns
// an RTSP or HTTP reply of 400/401/403/404 into its own code, any other 4xx
// into AVERROR_HTTP_OTHER_4XX and 5xx into AVERROR_HTTP_SERVER_ERROR.
PlayerFailure failureFromAverror(int code);

// The kind of an HTTP (or RTSP) status code that is not a success; 0 and
// other codes outside 400..599 give Other.
PlayerFailure failureFromStatus(int status);

} // namespace kvr::video
