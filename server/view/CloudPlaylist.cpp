#include "server/view/CloudPlaylist.h"

#include "server/view/Tunables.h"

#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <cmath>

namespace kvr::view {

namespace {

const QByteArray kInf = QByteArrayLiteral("#EXTINF:");
const QByteArray kEndList = QByteArrayLiteral("#EXT-X-ENDLIST");

std::optional<QDateTime> startFromFileName(const QString& path)
{
    static const QRegularExpression kName(
        QStringLiteral("(\\d{4})-(\\d{2})-(\\d{2})[_T](\\d{2})-(\\d{2})-(\\d{2})(?:-(\\d+))?\\.(?:mp4|ts|m4s|mkv)"));
    const QRegularExpressionMatch m = kName.match(path);
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    QDateTime start(date, time, Ist::zone());
    if (m.hasCaptured(7)) {
        // A fraction of a second: its first three digits are milliseconds.
        const QString ms = m.captured(7).left(3).leftJustified(3, QLatin1Char('0'));
        start = start.addMSecs(ms.toInt());
    }
    return start;
}

std::optional<QDateTime> startFromQuery(const QUrl& url)
{
    const QString value = QUrlQuery(url).queryItemValue(QStringLiteral("start"), QUrl::FullyDecoded).trimmed();
    if (value.isEmpty())
        return std::nullopt;
    bool isNumber = false;
    qint64 n = value.toLongLong(&isNumber);
    if (isNumber) {
        if (n > tun::kMillisecondTimesAbove)
            n /= 1000;
        return QDateTime::fromSecsSinceEpoch(n, Ist::zone());
    }
    // Without a zone the text is IST wall-clock time. It is read as such
    // directly: reading it in the computer's zone first would move times that
    // fall into a daylight-saving gap there.
    static const QRegularExpression kZoned(
        QStringLiteral("\\d{2}:\\d{2}(?::\\d{2}(?:[.,]\\d+)?)?(Z|[+-]\\d{2}(?::?\\d{2})?)$"),
        QRegularExpression::CaseInsensitiveOption);
    const bool zoned = kZoned.match(value).hasMatch();
    const auto parse = [](const QString& t) {
        QDateTime dt = QDateTime::fromString(t, Qt::ISODateWithMs);
        return dt.isValid() ? dt : QDateTime::fromString(t, Qt::ISODate);
    };
    QDateTime parsed = parse(zoned ? value : value + QStringLiteral("+05:30"));
    if (!parsed.isValid() && !zoned) {
        // A date without a time of day: midnight IST.
        const QDateTime plain = parse(value);
        if (plain.isValid())
            parsed = QDateTime(plain.date(), QTime(0, 0), Ist::zone());
    }
    if (!parsed.isValid())
        return std::nullopt;
    return parsed.toTimeZone(Ist::zone());
}

// A line's address made absolute against the playlist's own; absolute ones,
// unreadable ones and any line without a source are kept exactly as they were.
QString absoluteAddress(const QString& address, const QUrl& source)
{
    const QUrl url(address, QUrl::TolerantMode);
    if (source.isEmpty() || !url.isValid() || !url.isRelative())
        return address;
    return source.resolved(url).toString(QUrl::FullyEncoded);
}

// A tag's URI="..." attribute (keys, initialisation segments) made absolute.
QString withAbsoluteUri(const QString& tag, const QUrl& source)
{
    static const QRegularExpression kUri(QStringLiteral("URI=\"([^\"]*)\""));
    const QRegularExpressionMatch m = kUri.match(tag);
    if (!m.hasMatch())
        return tag;
    QString out = tag;
    out.replace(m.capturedStart(1), m.capturedLength(1), absoluteAddress(m.captured(1), source));
    return out;
}

double readDuration(const QString& infLine)
{
    bool ok = false;
    const double d = infLine.mid(kInf.size()).section(QLatin1Char(','), 0, 0).trimmed().toDouble(&ok);
    // A negative or endless duration would run the offsets backwards.
    if (!ok || !std::isfinite(d) || d < 0)
        return 0.0;
    return d;
}

} // namespace

std::optional<QDateTime> segmentStartTime(const QString& address)
{
    const QUrl url(address);
    QString path = url.path(QUrl::FullyDecoded);
    if (path.isEmpty())
        path = address;
    if (auto fromName = startFromFileName(path))
        return fromName;
    return startFromQuery(url);
}

CloudPlaylist parseCloudPlaylist(const QByteArray& playlist, const QDate& day, const QUrl& source)
{
    CloudPlaylist out;
    const QDateTime midnight = Ist::midnight(day);
    QByteArray current;
    bool inSegment = false;
    bool infPending = false;
    double duration = 0;
    double offset = 0;

    for (const QByteArray& raw : playlist.split('\n')) {
        QString text = QString::fromUtf8(raw).trimmed();
        if (text.isEmpty())
            continue;
        if (text == QLatin1String(kEndList)) {
            out.text += kEndList + '\n';
            continue;
        }
        const bool inf = text.startsWith(QLatin1String(kInf));
        // Every address: segments, and a variant's playlist where the list
        // is a master playlist.
        text = text.startsWith(QLatin1Char('#')) ? withAbsoluteUri(text, source) : absoluteAddress(text, source);
        const QByteArray line = text.toUtf8() + '\n';
        out.text += line;
        if (!inf && !inSegment) {
            out.header += line;
            continue;
        }
        current += line;
        if (inf) {
            duration = readDuration(text);
            inSegment = infPending = true;
            continue;
        }
        if (text.startsWith(QLatin1Char('#')) || !infPending)
            continue;

        // The segment's address line.
        if (out.firstAddress.isEmpty())
            out.firstAddress = text;
        const int entry = int(out.entries.size());
        out.entries << current;
        if (const auto start = segmentStartTime(text)) {
            const double s = double(midnight.msecsTo(*start)) / 1000.0;
            if (s > tun::kEarliestStart.count() && s < tun::kLatestStart.count())
                out.segments << CloudSegment{s, duration, offset, current, entry};
        }
        current.clear();
        offset += duration;
        infPending = false;
    }
    out.blocks = footageBlocks(out.segments);
    return out;
}

FootageBlocks footageBlocks(const QList<CloudSegment>& segments)
{
    FootageBlocks blocks;
    const double day = double(tun::kDay.count());
    for (const CloudSegment& s : segments) {
        const double a = std::clamp(s.start, 0.0, day);
        const double b = std::clamp(s.start + s.duration, 0.0, day);
        if (b <= a)
            continue;
        if (!blocks.isEmpty() && a - blocks.last().second < tun::kBlockMergeGap.count())
            blocks.last().second = std::max(blocks.last().second, b);
        else
            blocks.append({a, b});
    }
    return blocks;
}

CloudJump planCloudJump(const CloudPlaylist& playlist, double second)
{
    const QList<CloudSegment>& segs = playlist.segments;
    CloudJump jump;
    if (segs.isEmpty())
        return jump;
    jump.index = int(segs.size()) - 1;
    for (int i = 0; i < segs.size(); ++i) {
        if (segs[i].start + segs[i].duration > second) {
            jump.index = i;
            break;
        }
    }
    const CloudSegment& s = segs[jump.index];
    jump.skip = std::max(0.0, std::min(std::max(s.duration - 1.0, 0.0), second - s.start));
    jump.elapsedOffset = s.offset + jump.skip;
    jump.playlist = playlist.header;
    for (qsizetype e = s.entry; e < playlist.entries.size(); ++e)
        jump.playlist += playlist.entries[e];
    jump.playlist += kEndList + '\n';
    return jump;
}

double elapsedToDay(const QList<CloudSegment>& segments, double dayOffset, double elapsed)
{
    if (segments.isEmpty())
        return dayOffset + elapsed;
    for (const CloudSegment& s : segments) {
        if (s.offset + s.duration > elapsed)
            return s.start + std::max(elapsed - s.offset, 0.0);
    }
    return segments.last().start + segments.last().duration;
}

double dayToElapsed(const QList<CloudSegment>& segments, double second)
{
    if (segments.isEmpty())
        return 0.0;
    for (const CloudSegment& s : segments) {
        if (s.start + s.duration > second)
            return s.offset + std::max(std::min(s.duration, second - s.start), 0.0);
    }
    return segments.last().offset + segments.last().duration;
}

} // namespace kvr::view
