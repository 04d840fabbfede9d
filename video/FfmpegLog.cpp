#include "video/FfmpegLog.h"

#include "video/Logging.h"
#include "video/Tunables.h"

#include <QMutex>
#include <QRegularExpression>
#include <QtDebug>

#include <cstring>

extern "C" {
#include <libavutil/log.h>
}

namespace kvr::video {

bool ffmpegMessageDropped(int level, const char* format)
{
    if (level > AV_LOG_WARNING)
        return true;
    if (!format)
        return false;
    static const char* const kNoise[] = {
        "PPS id out of range",
        "Skipping invalid undecodable NALU",
        "error while decoding MB",
        "cabac decode of qscale diff failed",
        "concealing ",
        "non-existing PPS",
        "no frame!",
        "Could not find ref with POC",
    };
    for (const char* n : kNoise) {
        if (std::strstr(format, n))
            return true;
    }
    return false;
}

QString cleanFfmpegLine(const QString& line)
{
    // Per thread: FFmpeg logs from its own threads too.
    thread_local const QRegularExpression address(QStringLiteral("0x[0-9a-f]+"));
    thread_local const QRegularExpression password(QStringLiteral("(://[^:/@\\s]+):[^@\\s]*@"));
    QString out = line.trimmed();
    out.remove(address);
    out.replace(password, QStringLiteral("\\1:***@"));
    return out;
}

std::optional<QString> RepeatFolder::feed(const QString& line)
{
    if (line == m_last) {
        ++m_count;
        if (m_count < tun::kRepeatLimit)
            return line;
        if (m_count == tun::kRepeatLimit)
            return QStringLiteral("(previous message repeated many times)");
        m_count = tun::kRepeatLimit + 1; // stays silent, no overflow
        return std::nullopt;
    }
    m_last = line;
    m_count = 0;
    return line;
}

namespace {

QMutex foldMutex;
RepeatFolder& folder()
{
    static RepeatFolder f; // any thread (FFmpeg's log callback), under foldMutex
    return f;
}

void callback(void* avcl, int level, const char* format, va_list args)
{
    if (ffmpegMessageDropped(level, format))
        return;
    char buffer[1024];
    int printPrefix = 1;
    av_log_format_line2(avcl, level, format, args, buffer, sizeof buffer, &printPrefix);
    buffer[sizeof buffer - 1] = '\0';
    const QString line = cleanFfmpegLine(QString::fromUtf8(buffer, int(std::strlen(buffer))));
    std::optional<QString> text;
    {
        QMutexLocker lock(&foldMutex);
        text = folder().feed(line);
    }
    if (text)
        qCWarning(lcVideo).noquote() << "[ffmpeg]" << *text;
}

} // namespace

void installFfmpegLogFilter()
{
    av_log_set_callback(callback);
}

} // namespace kvr::video
