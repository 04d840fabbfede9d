#pragma once

#include "app/core/PlayerFailure.h"

#include <QString>

namespace kvr::video {

// The player names its failures by the kind all layers share.

using kvr::core::PlayerFailure;

// The kind of an FFmpeg error code (a negative AVERROR value). FFmpeg turns
// an RTSP or HTTP reply of 400/401/403/404 into its own code, any other 4xx
// into AVERROR_HTTP_OTHER_4XX and 5xx into AVERROR_HTTP_SERVER_ERROR.
core::PlayerFailure failureFromAverror(int code);

// What an FFmpeg error code met while opening a stream says, in plain words
// for people. FFmpeg's own text for it ("Invalid data found when processing
// input") is for the log.
QString failureWords(int code);

// The kind of an HTTP (or RTSP) status code that is not a success; 0 and
// other codes outside 400..599 give Other.
core::PlayerFailure failureFromStatus(int status);

} // namespace kvr::video
