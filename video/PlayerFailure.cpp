#include "video/PlayerFailure.h"

#include <cerrno>

extern "C" {
#include <libavutil/error.h>
}

using namespace kvr::core;

namespace kvr::video {

PlayerFailure failureFromAverror(int code)
{
    switch (code) {
    case AVERROR(ECONNREFUSED):
        return PlayerFailure::Refused;
    case AVERROR(ETIMEDOUT):
        return PlayerFailure::TimedOut;
    case AVERROR(ENETUNREACH):
    case AVERROR(EHOSTUNREACH):
        return PlayerFailure::Unreachable;
    case AVERROR_HTTP_UNAUTHORIZED:
        return PlayerFailure::Unauthorized;
    case AVERROR_HTTP_FORBIDDEN:
        return PlayerFailure::Forbidden;
    case AVERROR_HTTP_NOT_FOUND:
        return PlayerFailure::NotFound;
    case AVERROR_HTTP_OTHER_4XX:
#ifdef AVERROR_HTTP_TOO_MANY_REQUESTS
    case AVERROR_HTTP_TOO_MANY_REQUESTS:
#endif
        return PlayerFailure::ClientError;
    case AVERROR_HTTP_SERVER_ERROR:
        return PlayerFailure::ServerError;
    default:
        // Among them AVERROR_HTTP_BAD_REQUEST: a request the peer could not
        // read is no sign that it is busy.
        return PlayerFailure::Other;
    }
}

PlayerFailure failureFromStatus(int status)
{
    switch (status) {
    case 401:
        return PlayerFailure::Unauthorized;
    case 403:
        return PlayerFailure::Forbidden;
    case 404:
        return PlayerFailure::NotFound;
    case 400:
        return PlayerFailure::Other;
    default:
        break;
    }
    if (status >= 400 && status <= 499)
        return PlayerFailure::ClientError;
    if (status >= 500 && status <= 599)
        return PlayerFailure::ServerError;
    return PlayerFailure::Other;
}

} // namespace kvr::video
