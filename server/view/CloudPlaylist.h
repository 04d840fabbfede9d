#pragma once

#include "server/view/StageRules.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace kvr::view {

// A day of the cloud archive as an HLS playlist: its segments with their
// start times in seconds of the IST day, the footage blocks they cover, and
// shortened copies of the playlist that start at a chosen second.

// One media segment of the playlist whose start time could be read.
struct CloudSegment {
    double start = 0;    // seconds from 00:00 IST of the day; may be < 0 or > 86400
    double duration = 0; // from its "#EXTINF:" line
    double offset = 0;   // playlist time before it: every earlier segment, read or not
    QByteArray lines;    // its own lines: tags since the previous address, "#EXTINF:", address
    int entry = 0;       // its index among all segments of the playlist
};

struct CloudPlaylist {
    // The playlist as it plays from memory: its lines trimmed, every address
    // in it absolute. Relative ones are resolved against the address the
    // playlist came from; read from memory they would mean nothing.
    QByteArray text;
    QByteArray header;            // lines before the first "#EXTINF:", each ended by a line feed
    QList<CloudSegment> segments; // segments whose start was read, in playlist order
    // Every segment's lines in playlist order, including those whose start
    // could not be read: a jump copies all of them, so that the player's
    // time and the offsets keep counting the same segments.
    QList<QByteArray> entries;
    FootageBlocks blocks;
    QString firstAddress; // the first segment address, for the warning
};

// Reads a playlist for the IST day `day`, fetched from `source` (relative
// segment and key addresses are resolved against it; an empty source leaves
// them as they are). Never fails: what cannot be read is left out (a segment
// without a readable start still counts in the offsets).
CloudPlaylist parseCloudPlaylist(const QByteArray& playlist, const QDate& day, const QUrl& source = QUrl());

// A segment address's start time, in IST: from a file name
// "yyyy-MM-dd_HH-mm-ss[-fraction].ext" (or with "T"), else from its "start"
// query item (Unix seconds or milliseconds, or an ISO 8601 date-time).
std::optional<QDateTime> segmentStartTime(const QString& address);

// The footage blocks of the segments: clipped to the day, gaps under 2 s merged.
FootageBlocks footageBlocks(const QList<CloudSegment>& segments);

// A jump into the playlist: the segment that holds the second (or the first
// after it, or the last), how far into it playback starts, the playlist time
// at that point and the shortened playlist text.
struct CloudJump {
    int index = 0; // among the read segments
    double skip = 0;
    double elapsedOffset = 0;
    QByteArray playlist;
};
// Only for a playlist with at least one read segment.
CloudJump planCloudJump(const CloudPlaylist& playlist, double second);

// Playlist time to a second of the day, and back.
double elapsedToDay(const QList<CloudSegment>& segments, double dayOffset, double elapsed);
double dayToElapsed(const QList<CloudSegment>& segments, double second);

} // namespace kvr::view
