#pragma once

// Everything native mode knows about device makers: the brand codes, the
// protocol family of each, and every HTTP path and RTSP address used to reach
// a device. Stateless; every answer is computed from the record passed in.

#include "app/core/PlayerFailure.h"
#include "native/services/NativeRecords.h"

#include <QDateTime>
#include <QStringList>

namespace kvr::services {

namespace NativeBrand {

// Protocol families, 0..9. Any code outside the brand list is family 0.
enum Family : int {
    Isapi = 0,           // HIKVISION, PRAMA and every unknown code
    IsapiOwnRoot = 1,    // PRAMA_STQC: ISAPI under "/pramaAPI"
    DahuaCgi = 2,        // DAHUA, CPPLUS, CPPLUS_STQC, PANASONIC
    IsapiNoKeyFrame = 3, // HONEYWELL
    StwCgi = 4,          // SAMSUNG
    Lapi = 5,            // UNIVIEW, ADVIDIA
    OnvifPathPlain = 6,  // QTVUE: ONVIF path, asked like any other brand
    DahuaSingle = 7,     // IMOU
    OnvifTunnel = 8,     // BOSCH: RTSP tunnelled on the HTTP port
    Onvif = 9,           // ONVIF
};

QStringList manufacturers();
QStringList deviceTypes();

int family(const QString& manufacturer);
bool isHikStyle(const QString& manufacturer);
bool isDahuaStyle(const QString& manufacturer);
bool usesOnvif(const Native::Device& device);

QString isapiRoot(const Native::Device& device);
QString baseUrl(const Native::Device& device);
QString deviceInfoPath(const Native::Device& device);
QString snapshotPath(const Native::Device& device, int channel);

// Full RTSP address of a channel's main or sub stream; empty for family 9
// and for a device whose address is not a bare host (credentials would go
// elsewhere).
QString liveUrl(const Native::Device& device, int channel, bool main);

// ISAPI path that asks for a key frame; empty unless family 0 or 1. Sent
// as an HTTP PUT with an empty body.
QString keyFramePath(const Native::Device& device, int channel, bool main);

bool playbackSupported(const Native::Device& device);
QString playbackUnsupportedReason(const Native::Device& device);

// RTSP address that plays a recording from `from` to `to`, both in the
// device's own wall-clock time, written as given. Empty when unsupported.
QString playbackUrl(const Native::Device& device, int channel, bool main, const QDateTime& from, const QDateTime& to);

bool calendarSupported(const Native::Device& device);

// A sentence for the user for a stream player's failure, chosen by its kind
// (`playback`: the failure came from playing a recording). Every kind has
// one: the player's own text (FFmpeg's, as often as not) is for the log.
// `host` is the device's address, named when it cannot be reached at all, in
// the words the overview uses for an unreachable device.
QString explainStreamError(kvr::core::PlayerFailure failure, bool playback, const QString& host = QString());

// The text with the password of every "scheme://user:password@" part
// replaced by "***", also when the user name is empty.
QString redact(const QString& text);

} // namespace NativeBrand

} // namespace kvr::services
