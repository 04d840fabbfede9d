#pragma once

// Checks one device over the network and reports in one outcome: its HTTP
// and RTSP ports, how fast and reliably the HTTP port accepts connections,
// whether the stored login is accepted (and by which scheme), and, in fetch
// mode, what the device says about itself. Works on a copy of the device;
// writes nothing; calls back exactly once, later.

#include "native/services/NativeHttp.h"
#include "native/services/NativeRecords.h"
#include "native/services/Tunables.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>

namespace kvr::services {

namespace NativeProbe {

using Outcome = Native::ProbeResult;
using ChannelInfo = Native::ChannelInfo;
using Callback = std::function<void(Outcome)>;

// The bounds of one probe (tests shorten them in proportion).
struct Timing {
    // Each request's transfer time-out; its whole answer and its wait for
    // the device's turn are bounded in proportion (see NativeHttp.h).
    std::chrono::milliseconds request = tun::kDeviceRequestTimeout;
    // A probe still under way at its deadline ends with what it found by
    // then and a finding that says so; its requests are abandoned.
    std::chrono::milliseconds deadline = tun::kProbeDeadline;
};

// Ports and login, then stop.
void diagnose(const Native::Device& device, const QObject* receiver, Callback done, Timing timing = {});
// Ports and login, then the device's details and, for windowDays > 0 (at
// most 120), the days with recordings.
void fetch(const Native::Device& device, int windowDays, const QObject* receiver, Callback done, Timing timing = {});
// Without a receiver (see NativeHttp.h): the probe runs to its end.
inline void diagnose(const Native::Device& device, Callback done)
{
    diagnose(device, nullptr, std::move(done));
}
inline void fetch(const Native::Device& device, int windowDays, Callback done)
{
    fetch(device, windowDays, nullptr, std::move(done));
}

// ---- Rules, exposed for their tests ------------------------------------------

// What three HTTP-port connects say about the network.
struct PortFigures {
    int latencyMs = -1;   // mean of the successful connects; -1 when none
    int lossPercent = -1; // failed connects x 100 / attempts
    QString quality;      // "Good", "Degraded", "Poor", or empty when none connected
};
PortFigures portFigures(const QList<int>& connectTimesMs, int lost, int attempts = 3);

// The error sentence of an answer that did not let the login through.
QString loginError(const NativeHttp::Response& answer);

int clampWindowDays(int days);

// The SOAP 1.2 GetDeviceInformation request of the ONVIF device service.
QByteArray onvifDeviceInfoRequest();

// The login exchange on the device-information request: which request to
// send next, and what the answers say about Digest and Basic.
class LoginMachine {
public:
    enum class Next {
        Send,    // send the request with `auth`
        Verdict, // the exchange is over: read accepted() / refused()
        Failed,  // no usable answer: the device answered something else, or
                 // let the login through and then failed its answer
    };
    struct Step {
        Next next = Next::Send;
        NativeHttp::Auth auth = NativeHttp::None;
    };

    Step start() const { return {Next::Send, NativeHttp::None}; }
    Step answer(const NativeHttp::Response& r);

    int digest() const { return digestState; }
    int basic() const { return basicState; }
    const QByteArray& infoBody() const { return body; }
    const QString& error() const { return errorText; }
    // The kind of the failure error() describes; None when the login passed.
    Native::Failure failure() const { return failureKind; }
    bool accepted() const;
    // A refused login (as opposed to a device that could not be asked).
    bool refused() const;

private:
    enum class Phase { First, BasicRetry, DigestRetry, BasicAfterDigest, Over };
    Step verdict(const NativeHttp::Response* failed);
    Step answerFailed(const NativeHttp::Response& r);
    Phase phase = Phase::First;
    int digestState = Native::NotTested;
    int basicState = Native::NotTested;
    bool basicOffered = false;
    QByteArray body;
    QString errorText;
    Native::Failure failureKind = Native::Failure::None;
};

} // namespace NativeProbe

} // namespace kvr::services
