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

QString failureWords(int code)
{
    switch (code) {
    case AVERROR(ECONNREFUSED):
        return QStringLiteral("The connection was refused.");
    case AVERROR(ETIMEDOUT):
        return QStringLiteral("No answer in time.");
    case AVERROR(ENETUNREACH):
    case AVERROR(EHOSTUNREACH):
        return QStringLiteral("The address cannot be reached from this computer.");
    case AVERROR(ECONNRESET):
    case AVERROR(EPIPE):
    case AVERROR_EOF:
        return QStringLiteral("The connection was closed before the stream began.");
    case AVERROR_INVALIDDATA:
        // What FFmpeg says both of an answer in another protocol and of a
        // connection taken and then thrown away before any answer (a relay
        // that resets): the two cannot be told apart from here.
        return QStringLiteral("The connection was closed, or the answer was not a video stream.");
    case AVERROR_STREAM_NOT_FOUND:
    case AVERROR_DEMUXER_NOT_FOUND:
        return QStringLiteral("The answer was not a video stream.");
    case AVERROR_PROTOCOL_NOT_FOUND:
        return QStringLiteral("This kind of address cannot be played.");
    case AVERROR_HTTP_BAD_REQUEST:
        return QStringLiteral("The server did not understand the request.");
    case AVERROR_HTTP_UNAUTHORIZED:
        return QStringLiteral("The user name or password was refused.");
    case AVERROR_HTTP_FORBIDDEN:
        return QStringLiteral("This stream may not be watched with these credentials.");
    case AVERROR_HTTP_NOT_FOUND:
        return QStringLiteral("There is no stream at this address.");
    case AVERROR_HTTP_OTHER_4XX:
#ifdef AVERROR_HTTP_TOO_MANY_REQUESTS
    case AVERROR_HTTP_TOO_MANY_REQUESTS:
#endif
        return QStringLiteral("The stream was turned away: no streams or bandwidth are left.");
    case AVERROR_HTTP_SERVER_ERROR:
        return QStringLiteral("The server had an error.");
    case AVERROR(ENOMEM):
        return QStringLiteral("There was not enough memory to open the stream.");
    default:
        return QStringLiteral("The stream could not be opened.");
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
