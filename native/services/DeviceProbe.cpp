#include "native/services/DeviceProbe.h"

#include "native/services/AddressCheck.h"
#include "native/services/Brands.h"
#include "native/services/DeviceDetails.h"
#include "native/services/Logging.h"
#include "native/services/Tunables.h"

#include <QDebug>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace kvr::services {

namespace NativeProbe {

namespace {

struct Job {
    // The answer's receiver; once it is gone nothing further runs.
    QPointer<const QObject> receiver;
    bool tied = false;
    // The receiver of the job's own requests: its deletion abandons them.
    QPointer<QObject> requests;
    Native::Device device;
    Outcome outcome;
    bool wantDetails = false;
    int windowDays = 0;
    Timing timing;
    Callback done;
    QList<int> connectTimes;
    int lost = 0;
    LoginMachine login;
    bool finished = false;
};
using JobPtr = std::shared_ptr<Job>;

bool is2xx(int status)
{
    return status >= 200 && status <= 299;
}

bool receiverGone(const JobPtr& job)
{
    return job->tied && !job->receiver;
}

// Whether the job has nothing more to do.
bool over(const JobPtr& job)
{
    return job->finished || receiverGone(job);
}

void finish(const JobPtr& job)
{
    if (job->requests)
        job->requests->deleteLater(); // what is still under way is abandoned
    if (over(job))
        return;
    job->finished = true;
    job->done(job->outcome);
}

// The deadline passed: the job ends with what it found, saying why.
void timeUp(const JobPtr& job, std::chrono::milliseconds deadline)
{
    if (over(job))
        return;
    Native::Health& h = job->outcome.health;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(deadline).count();
    if (h.device == Native::Passed) {
        // Details read before the deadline stand (only the days with
        // recordings were still being counted); when none was read, each
        // part asked says so, as a fetch does for an answer that failed.
        const bool read = job->outcome.detailsFetched;
        h.error = QStringLiteral("The device was too slow to send its %1; the check was stopped after %2 s.")
                      .arg(read ? QStringLiteral("recordings") : QStringLiteral("details"))
                      .arg(seconds);
        if (job->wantDetails && !read)
            for (const Native::Detail part : NativeDetails::partsAsked(job->device))
                h.unread.append({part, h.error});
    } else {
        h.device = Native::Failed;
        h.error = QStringLiteral("The device was too slow to answer; the check was stopped after %1 s.").arg(seconds);
    }
    qCInfo(lcServices).noquote() << "native probe: the check of" << job->device.ip << "stopped at its deadline";
    job->outcome.failure = Native::Failure::Timeout;
    finish(job);
}

void requestDeviceInfo(const JobPtr& job, NativeHttp::Auth auth);

void afterLogin(const JobPtr& job)
{
    Native::Health& h = job->outcome.health;
    h.digest = job->login.digest();
    h.basic = job->login.basic();
    if (!job->login.accepted()) {
        h.device = Native::Failed;
        h.error = job->login.error();
        job->outcome.failure = job->login.failure();
        job->outcome.loginRefused = job->login.refused();
        finish(job);
        return;
    }
    h.device = Native::Passed;
    if (!job->wantDetails) {
        finish(job);
        return;
    }
    NativeDetails::fetch(
        job->device, job->windowDays, job->outcome, job->login.infoBody(), job->requests.data(),
        [job](const Outcome& read) { job->outcome = read; },
        [job](Outcome o) {
            job->outcome = std::move(o);
            finish(job);
        },
        job->timing.request);
}

void onInfoAnswer(const JobPtr& job, const NativeHttp::Response& r)
{
    if (over(job))
        return;
    const LoginMachine::Step step = job->login.answer(r);
    switch (step.next) {
    case LoginMachine::Next::Send:
        requestDeviceInfo(job, step.auth);
        return;
    case LoginMachine::Next::Verdict:
        afterLogin(job);
        return;
    case LoginMachine::Next::Failed:
        job->outcome.health.digest = job->login.digest();
        job->outcome.health.basic = job->login.basic();
        job->outcome.health.device = Native::Failed;
        job->outcome.health.error = job->login.error();
        job->outcome.failure = job->login.failure();
        finish(job);
        return;
    }
}

void requestDeviceInfo(const JobPtr& job, NativeHttp::Auth auth)
{
    const QString path = NativeBrand::deviceInfoPath(job->device);
    auto answer = [job](const NativeHttp::Response& r) { onInfoAnswer(job, r); };
    if (NativeBrand::usesOnvif(job->device)) {
        NativeHttp::post(job->device, path, onvifDeviceInfoRequest(), "application/soap+xml; charset=utf-8", auth,
                         job->requests.data(), answer, job->timing.request);
    } else {
        NativeHttp::get(job->device, path, auth, job->requests.data(), answer, job->timing.request);
    }
}

void checkRtsp(const JobPtr& job)
{
    Native::Health& h = job->outcome.health;
    h.httpPort = job->connectTimes.isEmpty() ? Native::Failed : Native::Passed;
    NativeHttp::tcpProbe(
        job->device.ip, job->device.rtspPort, tun::kTcpConnectTimeout, job->requests.data(),
        [job](bool connected, int) {
            if (over(job))
                return;
            Native::Health& health = job->outcome.health;
            health.rtspPort = connected ? Native::Passed : Native::Failed;
            const bool httpOpen = health.httpPort == Native::Passed;
            health.internet = (httpOpen || connected) ? Native::Passed : Native::Failed;
            const PortFigures f = portFigures(job->connectTimes, job->lost, tun::kProbeConnectAttempts);
            health.latencyMs = f.latencyMs;
            health.lossPercent = f.lossPercent;
            health.quality = f.quality;
            if (httpOpen) {
                requestDeviceInfo(job, job->login.start().auth);
                return;
            }
            health.device = Native::Failed;
            health.error = connected ? QStringLiteral("HTTP port closed.") : QStringLiteral("Device is offline.");
            job->outcome.failure = connected ? Native::Failure::HttpPortClosed : Native::Failure::Offline;
            finish(job);
        });
}

// The attempts run one after another, never at the same time.
void probeHttp(const JobPtr& job, int attempt)
{
    NativeHttp::tcpProbe(job->device.ip, job->device.httpPort, tun::kTcpConnectTimeout, job->requests.data(),
                         [job, attempt](bool connected, int elapsedMs) {
                             if (over(job))
                                 return;
                             if (connected)
                                 job->connectTimes << elapsedMs;
                             else
                                 ++job->lost;
                             if (attempt + 1 < tun::kProbeConnectAttempts)
                                 probeHttp(job, attempt + 1);
                             else
                                 checkRtsp(job);
                         });
}

void start(const Native::Device& device, bool details, int windowDays, const QObject* receiver, Callback done,
           Timing timing)
{
    auto job = std::make_shared<Job>();
    job->receiver = receiver;
    job->tied = receiver != nullptr;
    job->requests = new QObject;
    if (receiver)
        QObject::connect(receiver, &QObject::destroyed, job->requests, &QObject::deleteLater);
    job->device = device;
    job->wantDetails = details;
    job->windowDays = windowDays;
    job->timing = timing;
    job->done = done ? std::move(done) : [](Outcome) {};
    // An address that is not a bare host is never connected to: the login
    // would go to whatever host hides in it.
    const QString problem = NativeAddress::problem(device.ip);
    if (!problem.isEmpty()) {
        Native::Health& h = job->outcome.health;
        h.internet = h.httpPort = h.rtspPort = h.device = Native::Failed;
        h.error = problem;
        job->outcome.failure = Native::Failure::BadAddress;
        QTimer::singleShot(0, job->requests, [job] { finish(job); });
        return;
    }
    // A timer of the job's own, which ends with it: a single-shot timer
    // would stay armed for the whole deadline after the job, and a sweep's
    // thousands of them make every start of a timer of the thread slower.
    auto* bound = new QTimer(job->requests);
    bound->setSingleShot(true);
    QObject::connect(bound, &QTimer::timeout, job->requests,
                     [job, deadline = timing.deadline] { timeUp(job, deadline); });
    bound->start(timing.deadline);
    probeHttp(job, 0);
}

} // namespace

void diagnose(const Native::Device& device, const QObject* receiver, Callback done, Timing timing)
{
    start(device, false, 0, receiver, std::move(done), timing);
}

void fetch(const Native::Device& device, int windowDays, const QObject* receiver, Callback done, Timing timing)
{
    start(device, true, clampWindowDays(windowDays), receiver, std::move(done), timing);
}

PortFigures portFigures(const QList<int>& connectTimesMs, int lost, int attempts)
{
    PortFigures f;
    if (!connectTimesMs.isEmpty()) {
        qint64 sum = 0;
        for (int ms : connectTimesMs)
            sum += ms;
        f.latencyMs = int(sum / connectTimesMs.size());
    }
    f.lossPercent = attempts > 0 ? int(qint64(lost) * 100 / attempts) : -1;
    if (f.latencyMs < 0)
        f.quality.clear();
    else if (std::chrono::milliseconds(f.latencyMs) <= tun::kGoodLatency && lost == 0)
        f.quality = QStringLiteral("Good");
    else if (std::chrono::milliseconds(f.latencyMs) <= tun::kDegradedLatency && lost <= tun::kDegradedMaxLost)
        f.quality = QStringLiteral("Degraded");
    else
        f.quality = QStringLiteral("Poor");
    return f;
}

QString loginError(const NativeHttp::Response& r)
{
    // An answer past its bound, or one that could not be read, did come:
    // its own words say what it was.
    if (r.failure == Native::Failure::TooLarge || r.failure == Native::Failure::Unreadable)
        return r.error;
    if (r.status == 0)
        return QStringLiteral("The device didn't answer HTTP (%1).").arg(r.error);
    if (r.status == 401)
        return QStringLiteral("Username or password is incorrect.");
    return QStringLiteral("The device answered HTTP %1. Check the manufacturer.").arg(r.status);
}

int clampWindowDays(int days)
{
    return qBound(0, days, tun::kMaxRecordingWindowDays);
}

QByteArray onvifDeviceInfoRequest()
{
    return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                             "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\">"
                             "<s:Body xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\">"
                             "<tds:GetDeviceInformation/></s:Body></s:Envelope>");
}

LoginMachine::Step LoginMachine::verdict(const NativeHttp::Response* failed)
{
    phase = Phase::Over;
    errorText = failed ? loginError(*failed) : QString();
    failureKind = failed ? failed->failure : Native::Failure::None;
    return {Next::Verdict, NativeHttp::None};
}

LoginMachine::Step LoginMachine::answerFailed(const NativeHttp::Response& r)
{
    phase = Phase::Over;
    errorText = r.status == 0 ? QStringLiteral("The device accepted the login, but its answer failed: %1").arg(r.error)
                              : loginError(r);
    failureKind = r.failure;
    return {Next::Failed, NativeHttp::None};
}

LoginMachine::Step LoginMachine::answer(const NativeHttp::Response& r)
{
    switch (phase) {
    case Phase::First:
        if (is2xx(r.status)) {
            body = r.body;
            return verdict(nullptr);
        }
        if (r.status == 401) {
            const QByteArray challenge = r.wwwAuthenticate.toLower();
            if (!challenge.isEmpty() && !challenge.contains("digest")) {
                phase = Phase::BasicRetry;
                return {Next::Send, NativeHttp::Basic};
            }
            basicOffered = challenge.contains("basic");
            phase = Phase::DigestRetry;
            return {Next::Send, NativeHttp::Digest};
        }
        verdict(&r);
        return {Next::Failed, NativeHttp::None};
    // A login the device let through counts as passed whatever its answer
    // then did: a wrong password is told only by a refusal.
    case Phase::BasicRetry:
        basicState = (is2xx(r.status) || r.loginPassed) ? Native::Passed : Native::Failed;
        if (is2xx(r.status)) {
            body = r.body;
            return verdict(nullptr);
        }
        return r.loginPassed ? answerFailed(r) : verdict(&r);
    case Phase::DigestRetry:
        digestState = (is2xx(r.status) || r.loginPassed) ? Native::Passed : Native::Failed;
        if (r.loginPassed && !is2xx(r.status))
            return answerFailed(r);
        if (!is2xx(r.status)) {
            if (basicOffered)
                basicState = Native::Failed;
            return verdict(&r);
        }
        body = r.body;
        if (basicOffered) {
            phase = Phase::BasicAfterDigest;
            return {Next::Send, NativeHttp::Basic};
        }
        return verdict(nullptr);
    case Phase::BasicAfterDigest:
        basicState = (is2xx(r.status) || r.loginPassed) ? Native::Passed : Native::Failed;
        return verdict(nullptr);
    case Phase::Over:
        break;
    }
    return {Next::Verdict, NativeHttp::None};
}

bool LoginMachine::accepted() const
{
    return digestState == Native::Passed || basicState == Native::Passed
        || (digestState == Native::NotTested && basicState == Native::NotTested && !body.isEmpty());
}

bool LoginMachine::refused() const
{
    return !accepted() && failureKind == Native::Failure::LoginRefused;
}

} // namespace NativeProbe

} // namespace kvr::services
