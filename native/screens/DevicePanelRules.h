#pragma once

#include "native/screens/NativeContext.h"
#include "native/screens/NativeStyle.h"
#include "native/services/NativeRecords.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace kvr::screens {

// The text rules of the panel and its tabs.
namespace DevicePanelRules {

// "NVR", "DVR", "PANEL", "IP camera".
QString typeLabel(const QString& type);
// "" for an invalid time, "HH:mm" today, else "d MMM HH:mm".
QString shortTime(const QDateTime& moment, const QDateTime& now);

struct HeaderStatus {
    NativeStyle::Disc dot = NativeStyle::Disc::Unknown;
    QString text;
    QString note;
};
HeaderStatus headerStatus(const services::Native::Device& device, bool busy, const QDateTime& now);

struct ChipText {
    QString text;
    NativeStyle::Chip kind = NativeStyle::Chip::Unknown;
    QString tip;
};
ChipText checkChip(int state, const QString& pass, const QString& fail, const QString& unknown, bool busy);
ChipText networkChip(const services::Native::Health& health, bool busy);
// A login check's chip; its tip tells a login that passed from the answer
// that failed after it.
ChipText loginChip(int state, const services::Native::Health& health, const QString& unknown, bool busy);
// The disk chip; a disk state the last check could not read is unknown,
// with the reason as its tip.
ChipText diskChip(const services::Native::Health& health);
// The "Recording kept" chip; an empty text means "Not available for this brand".
ChipText recordingChip(const services::Native::Device& device);
// The text of an empty details field: "Not fetched yet" or an em dash.
QString emptyField(const services::Native::Health& health);
// The first channel not ignored, or 1.
int testLiveChannel(const services::Native::Device& device);
// The uptime percentage chip.
ChipText percentChip(double percent);
// A camera's name as the cameras tab shows it ("3_Lobby" on channel 3 shows "Lobby").
QString cameraDisplayName(const services::Native::Camera& camera);
// The device of an id as the store holds it now; none without a store or an id.
std::optional<services::Native::Device> findDevice(const NativeContext& context, const QString& id);

} // namespace DevicePanelRules

} // namespace kvr::screens
