#pragma once

#include <QString>

#include <optional>

namespace kvr::video {

// FFmpeg's own log lines, filtered for the diagnostic log: only warnings and
// worse, minus the decoders' routine complaints about damaged pictures, with
// object addresses removed, stream-address passwords hidden and long runs of
// the same line folded.

// Whether FFmpeg's message is dropped before formatting (level or known noise).
bool ffmpegMessageDropped(int level, const char* format);

// A formatted line made fit for the log: trimmed, object addresses removed,
// passwords in stream addresses replaced by "***".
QString cleanFfmpegLine(const QString& line);

// Folds repeats: the text to log for a cleaned line, or nothing.
class RepeatFolder {
public:
    std::optional<QString> feed(const QString& line);

private:
    QString m_last;
    int m_count = 0;
};

// Installs the filter as FFmpeg's process-wide log callback.
void installFfmpegLogFilter();

} // namespace kvr::video
