#pragma once

// The rules of one snapshot fetch: which cameras are in scope, the error
// words of a failed reply, the picture's size and the dialog's status line.

#include "native/live/SnapshotCache.h"
#include "native/services/NativeHttp.h"
#include "native/services/NativeRecords.h"

#include <QImage>
#include <QList>
#include <QMap>
#include <QPixmap>
#include <QString>

namespace kvr::live {

namespace SnapshotRules {

// The device's cameras in its order, without ignored channels; only `channel`
// unless it is 0.
QList<int> camerasInScope(const services::Native::Device& device, int channel);
// Whether a new dialog fetches at once: for a missing device, one channel, or
// a camera in scope without a record yet.
bool fetchAtOpen(const services::Native::Device* device, int channel, const QMap<int, SnapshotRecord>& cached);

struct Outcome {
    QImage picture; // null when the reply held none
    QString error;
};
// The picture of a reply, or the words for why there is none.
Outcome readReply(const services::NativeHttp::Response& reply);
// Scaled to fit 464 x 262 keeping its aspect, at device pixel ratio 2.
QPixmap cardPicture(const QImage& image);
// "Needs ONVIF snapshot support." or "This brand has no snapshot over HTTP.".
QString noPathError(bool usesOnvif);
QString statusText(int total, int inFlight, int queued); // "Checking N of M"
// What a card without a picture says.
QString placeholder(const SnapshotRecord* record);
QString caption(int channel, const QString& name);

} // namespace SnapshotRules

} // namespace kvr::live
