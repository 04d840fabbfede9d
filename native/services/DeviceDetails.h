#pragma once

// The second half of a fetch probe, after the login was accepted: model,
// name, serial, firmware, MAC, the device's clock, the disk verdict, the
// channels with their names and online states, and the days with
// recordings in the chosen window. An answer that fails (no whole answer
// came: too slow, cut short, too big, a loop; or the device could not
// answer now: a 5xx other than 501, a refusal, 408, 429) or reads as
// nothing leaves its fields as they were and marks its part unread with
// the reason (health.unread); a part the device does not offer (404 and
// the like) is left as it was without a word.

#include "native/services/NativeHttp.h"
#include "native/services/NativeRecords.h"
#include "native/services/Tunables.h"

#include <QDate>
#include <QList>
#include <QMap>
#include <QSet>
#include <QStringList>

#include <chrono>
#include <functional>

namespace kvr::services {

namespace NativeDetails {

// Runs the brand's requests on `outcome` (whose login already passed) and
// calls back once with it filled in, unless the receiver (see NativeHttp.h)
// goes first. `read` (when given) has the details as soon as they are read,
// before the days with recordings are counted.
void fetch(const Native::Device& device, int windowDays, Native::ProbeResult outcome, const QByteArray& infoBody,
           const QObject* receiver, const std::function<void(const Native::ProbeResult&)>& read,
           std::function<void(Native::ProbeResult)> done,
           std::chrono::milliseconds timeout = tun::kDeviceRequestTimeout);

// ---- Rules, exposed for their tests ------------------------------------------

using ChannelMap = QMap<int, Native::ChannelInfo>;

// The parts of the details a fetch of the device asks for (beyond the
// device information), in the order it reads them.
QList<Native::Detail> partsAsked(const Native::Device& device);

QStringList hikPaths(const Native::Device& device);
QStringList dahuaPaths();

// Fills the details from the five ISAPI answers (in hikPaths order).
void readHik(const Native::Device& device, const QList<NativeHttp::Response>& answers, Native::ProbeResult& outcome,
             ChannelMap& channels);
// Fills the details from the six CGI answers (in dahuaPaths order).
void readDahua(const Native::Device& device, const QList<NativeHttp::Response>& answers, Native::ProbeResult& outcome,
               ChannelMap& channels);

// "yyyy-MM-dd HH:mm:ss" of a device clock text; empty when unreadable.
QString formatDeviceTime(const QString& clockText);

// The channel whose recordings are counted: the lowest one not ignored.
int countedChannel(const Native::Device& device);

struct Window {
    QDate start;      // today - (days - 1)
    QDate end;        // today
    QDate firstMonth; // first day of the start's month
};
Window recordingWindow(const QDate& today, int windowDays);
int recordedDaysIn(const QSet<QDate>& dates, const Window& window);

} // namespace NativeDetails

} // namespace kvr::services
