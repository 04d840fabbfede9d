#include "server/api/ApiReaders.h"

#include "server/api/ApiJson.h"
#include "server/api/ApiRules.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace kvr::api {

namespace {

QString textOf(const QJsonValue& v)
{
    return v.isString() ? v.toString() : QString();
}

bool flag(const QJsonObject& o, const char* key, bool fallback)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isBool() ? v.toBool() : fallback;
}

// Online flag: the first key present decides; only JSON true is online.
void readOnline(const QJsonObject& o, const char* first, bool* online, bool* known)
{
    for (const char* key : {first, "is_online"}) {
        if (o.contains(QLatin1String(key))) {
            *known = true;
            *online = o.value(QLatin1String(key)).toBool(false);
            return;
        }
    }
}

} // namespace

QString cannotReachText(const QString& host)
{
    return QStringLiteral("Can\u2019t reach %1. Check your connection, or change the server under \u201cServer\u201d.")
        .arg(host);
}

QString noAnswerText(const QString& endpoint)
{
    return QStringLiteral("Connected to %1, but the server did not answer. Try again later, or change the server "
                          "under \u201cServer\u201d.")
        .arg(endpoint);
}

UserProfile parseUserProfile(const QJsonObject& user)
{
    UserProfile p;
    p.username = jsonString(user, QStringLiteral("username"), QStringLiteral("email"));
    p.firstName = textOf(user.value(QStringLiteral("first_name")));
    p.role = jsonString(user, QStringLiteral("role"), QStringLiteral("user_role"));
    const QJsonValue org = user.value(QStringLiteral("organisation"));
    if (org.isObject()) {
        p.organisationName = textOf(org.toObject().value(QStringLiteral("name")));
        const QJsonValue id = org.toObject().value(QStringLiteral("id"));
        p.organisationId = id.isDouble() ? jsonIdToString(id) : id.toVariant().toString();
    } else if (org.isString()) {
        p.organisationName = org.toString();
    }
    if (p.organisationName.isEmpty())
        p.organisationName = textOf(user.value(QStringLiteral("organisation_name")));
    const QJsonValue perms = user.value(QStringLiteral("permissions"));
    if (perms.isObject() && perms.toObject().contains(QStringLiteral("vms"))) {
        const QJsonObject vms = perms.toObject().value(QStringLiteral("vms")).toObject();
        p.canView = flag(vms, "view", true);
        p.canAdd = flag(vms, "add", false);
        p.canEdit = flag(vms, "edit", false);
    }
    p.superuser = flag(user, "is_superuser", false);
    p.headOffice = flag(user, "is_head_office", false);
    if (org.isObject()) {
        const QJsonObject o = org.toObject();
        p.recordingEnabled = flag(o, "is_recording_enabled", false);
        if (flag(o, "is_head_office", false))
            p.headOffice = true;
        p.streamType = textOf(o.value(QStringLiteral("stream_type")));
        QJsonValue cloud = o.value(QStringLiteral("cloud_recording_stream_type"));
        if (cloud.isArray())
            cloud = cloud.toArray().isEmpty() ? QJsonValue() : cloud.toArray().first();
        const QString t = textOf(cloud);
        if (!t.isEmpty())
            p.cloudRecordingStreamType = t;
    }
    return p;
}

LoginStart parseLoginStart(const QJsonObject& answer, int status, const QString& transportError)
{
    LoginStart r;
    const QJsonObject env = unwrapEnvelope(answer);
    for (const QJsonValue& v : {env.value(QStringLiteral("user_id")), env.value(QStringLiteral("userId")),
                                env.value(QStringLiteral("user")).isObject()
                                    ? env.value(QStringLiteral("user")).toObject().value(QStringLiteral("id"))
                                    : QJsonValue(QJsonValue::Undefined)}) {
        if (!v.isNull() && !v.isUndefined()) {
            r.userId = jsonIdToString(v);
            break;
        }
    }
    r.attempts = jsonInt(env.value(QStringLiteral("attempts")), 0);
    r.rememberMe = env.value(QStringLiteral("remember_me")).toBool(false);
    const QString next = textOf(env.value(QStringLiteral("next"))).trimmed().toLower();
    const QString msg = errorMessage(env);
    const QString token = jsonString(env, QStringLiteral("access_token"), QStringLiteral("access"));
    const bool codeWanted = next == QLatin1String("otp") || env.value(QStringLiteral("otp_required")).toBool(false)
        || msg.compare(QLatin1String("OTP required."), Qt::CaseInsensitive) == 0;

    if (status == 429) {
        r.step = LoginStart::Failed;
        r.message = msg.isEmpty() ? transportError : msg;
        r.error = r.message;
        r.failure = ApiFailure::Throttled;
        return r;
    }
    if (codeWanted && token.isEmpty()) {
        r.step = LoginStart::CodeRequired;
        r.otpLength = jsonInt(env.value(QStringLiteral("otp_length")), 6);
        r.otpTime = jsonInt(env.value(QStringLiteral("otp_time")), 300);
        r.contact = jsonString(env, QStringLiteral("mobile_number"), QStringLiteral("email"));
        return r;
    }
    if (next == QLatin1String("mobile")) {
        r.step = LoginStart::MobileVerification;
        r.verificationLink = QUrl(textOf(env.value(QStringLiteral("mobile_verification_link"))));
        return r;
    }
    if (status == 404) {
        r.step = LoginStart::Failed;
        r.userNotFound = true;
        r.error = msg.isEmpty() ? QStringLiteral("User not found.") : msg;
        r.failure = ApiFailure::NotFound;
        return r;
    }
    if (status < 400) {
        r.accessToken = token;
        r.refreshToken = jsonString(env, QStringLiteral("refresh_token"), QStringLiteral("refresh"));
        r.expiresIn = jsonInt(env.value(QStringLiteral("expires_in")), 0);
        if (env.contains(QStringLiteral("user")))
            r.user = parseUserProfile(env.value(QStringLiteral("user")).toObject());
        if (next == QLatin1String("ok") && !r.accessToken.isEmpty()) {
            r.step = LoginStart::SignedIn;
        } else {
            r.step = LoginStart::Failed;
            r.error = msg.isEmpty() ? QStringLiteral("Sign-in did not return a session.") : msg;
            // The server's own words are a refusal; silence is an answer that cannot be used.
            r.failure = msg.isEmpty() ? ApiFailure::ServerError : ApiFailure::Refused;
        }
        return r;
    }
    r.step = LoginStart::Failed;
    r.error = msg.isEmpty() ? transportError : msg;
    r.failure = ApiRules::failureOfStatus(status);
    if (status == 401
        && (r.error.isEmpty() || r.error.contains(QLatin1String("password"), Qt::CaseInsensitive)
            || r.error.contains(QLatin1String("username"), Qt::CaseInsensitive)))
        r.error = QStringLiteral("Username or password is incorrect.");
    return r;
}

LoginStart parseResendAnswer(const QJsonObject& answer, int status, const QString& transportError)
{
    LoginStart r;
    const QJsonObject env = unwrapEnvelope(answer);
    r.otpTime = jsonInt(env.value(QStringLiteral("time")), 0);
    const QString msg = errorMessage(env);
    if (status == 429) {
        r.step = LoginStart::Failed;
        r.message = msg.isEmpty() ? transportError : msg;
        r.error = r.message;
        r.failure = ApiFailure::Throttled;
    } else if (status < 400) {
        r.step = LoginStart::CodeRequired;
        r.otpResent = env.value(QStringLiteral("success")).toBool(false);
        if (!r.otpResent) {
            r.otpAlreadySent = msg.contains(QLatin1String("already exists"));
            // The server's reason for sending no new code, whatever it is.
            r.error = msg;
            if (!msg.isEmpty())
                r.failure = ApiFailure::Refused;
        }
    } else {
        r.step = LoginStart::Failed;
        r.error = msg.isEmpty() ? transportError : msg;
        r.failure = ApiRules::failureOfStatus(status);
    }
    return r;
}

QString normaliseBrand(const QString& brand)
{
    const QString b = brand.toLower();
    if (b.isEmpty() || b.contains(QLatin1String("imou")) || b.contains(QLatin1String("dahua")))
        return QStringLiteral("imou");
    return b;
}

namespace {

const QStringList kSiteKeys{QStringLiteral("data"), QStringLiteral("sites"), QStringLiteral("results")};
const QStringList kDeviceKeys{QStringLiteral("devices"), QStringLiteral("data"), QStringLiteral("results")};
const QStringList kChannelKeys{QStringLiteral("cameras"), QStringLiteral("channels"), QStringLiteral("data")};

// The name of a record that came without one: a word for what it is and
// what is known of it, so that no row or tile goes nameless.
QString nameOr(const QString& name, const QString& what, const QString& known)
{
    if (!name.trimmed().isEmpty())
        return name;
    return known.isEmpty() ? what : what + QLatin1Char(' ') + known;
}

} // namespace

bool devicesReadable(const QJsonObject& answer)
{
    return holdsList(answer, kDeviceKeys);
}

bool sitesReadable(const QJsonObject& answer)
{
    return holdsList(answer, kSiteKeys);
}

bool channelsReadable(const QJsonObject& answer)
{
    return holdsList(answer, kChannelKeys);
}

QList<Site> readSites(const QJsonObject& answer)
{
    QList<Site> sites;
    const QJsonArray list = responseList(answer, kSiteKeys);
    sites.reserve(list.size());
    for (const QJsonValue& v : list) {
        const QJsonObject o = v.toObject();
        Site s;
        s.id = jsonIdToString(o.value(QStringLiteral("id")));
        s.name = nameOr(textOf(o.value(QStringLiteral("name"))), QStringLiteral("Site"), s.id);
        s.loading = true;
        sites.append(s);
    }
    return sites;
}

QList<Device> readDevices(const QJsonObject& answer, const QString& siteId)
{
    QList<Device> devices;
    const QJsonArray list = responseList(answer, kDeviceKeys);
    devices.reserve(list.size());
    for (const QJsonValue& v : list) {
        const QJsonObject o = v.toObject();
        Device d;
        d.id = jsonIdToString(o.value(QStringLiteral("id")));
        d.siteId = siteId;
        d.name = textOf(o.value(QStringLiteral("device_name")));
        if (d.name.isEmpty())
            d.name = textOf(o.value(QStringLiteral("name")));
        d.serial = textOf(o.value(QStringLiteral("serial")));
        d.name = nameOr(d.name, QStringLiteral("Device"), d.serial.trimmed().isEmpty() ? d.id : d.serial);
        d.brand = normaliseBrand(textOf(o.value(QStringLiteral("brand"))));
        readOnline(o, "device_status", &d.online, &d.onlineKnown);
        devices.append(d);
    }
    return devices;
}

QList<Channel> readChannels(const QJsonObject& answer, const QString& deviceId)
{
    QList<Channel> channels;
    const QJsonArray list = responseList(answer, kChannelKeys);
    channels.reserve(list.size());
    int position = 0;
    for (const QJsonValue& v : list) {
        ++position;
        const QJsonObject o = v.toObject();
        Channel c;
        c.id = jsonIdToString(o.value(QStringLiteral("id")));
        c.deviceId = deviceId;
        c.name = textOf(o.value(QStringLiteral("camera_name")));
        if (c.name.isEmpty())
            c.name = textOf(o.value(QStringLiteral("name")));
        c.number = jsonInt(o.value(QStringLiteral("channel_id")), position);
        if (c.number < 1)
            c.number = jsonInt(o.value(QStringLiteral("channel_number")), position);
        c.name = nameOr(c.name, QStringLiteral("Channel"), QString::number(c.number));
        readOnline(o, "camera_status", &c.online, &c.onlineKnown);
        c.recordingEnabled = o.value(QStringLiteral("is_recording_enabled")).toBool(false);
        channels.append(c);
    }
    return channels;
}

QList<Organisation> readOrganisations(const QJsonObject& answer)
{
    QJsonArray list;
    const QJsonValue details = answer.value(QStringLiteral("details"));
    if (details.isArray())
        list = details.toArray();
    else if (details.isObject() && details.toObject().value(QStringLiteral("details")).isArray())
        list = details.toObject().value(QStringLiteral("details")).toArray();
    else
        list = responseList(answer,
                            {QStringLiteral("organisations"), QStringLiteral("results"), QStringLiteral("data"),
                             QStringLiteral("organization_data")});
    QList<Organisation> out;
    for (const QJsonValue& v : list) {
        const QJsonObject o = v.toObject();
        Organisation org;
        org.id = jsonIdToString(o.value(QStringLiteral("id")));
        org.name = textOf(o.value(QStringLiteral("name")));
        if (org.name.isEmpty())
            org.name = textOf(o.value(QStringLiteral("organisation_name")));
        org.headOffice = o.value(QStringLiteral("is_head_office")).toBool(false);
        if (!org.name.isEmpty())
            out.append(org);
    }
    return out;
}

QList<Preset> readPresets(const QJsonObject& answer)
{
    QList<Preset> out;
    for (const QJsonValue& v : responseList(answer, {QStringLiteral("preset_data")})) {
        const QJsonObject o = v.toObject();
        Preset p;
        p.id = jsonIdToString(o.value(QStringLiteral("id")));
        p.name = textOf(o.value(QStringLiteral("preset_name")));
        p.updatedAt = textOf(o.value(QStringLiteral("updated_at")));
        for (const QJsonValue& c : o.value(QStringLiteral("cameras")).toArray())
            p.cameraIds.append(jsonIdToString(c));
        out.append(p);
    }
    return out;
}

QList<PresetCamera> readPresetCameras(const QJsonObject& answer)
{
    QList<PresetCamera> out;
    for (const QJsonValue& v : responseList(answer, {QStringLiteral("camera_presets")})) {
        const QJsonObject o = v.toObject();
        PresetCamera c;
        c.id = jsonIdToString(o.value(QStringLiteral("id")));
        c.name = textOf(o.value(QStringLiteral("camera_name")));
        c.deviceId = jsonIdToString(o.value(QStringLiteral("device_id")));
        if (o.contains(QStringLiteral("camera_status"))) {
            c.onlineKnown = true;
            const QJsonValue s = o.value(QStringLiteral("camera_status"));
            c.online = s.isBool() ? s.toBool()
                                  : s.toVariant().toString().compare(QLatin1String("online"), Qt::CaseInsensitive) == 0;
        }
        out.append(c);
    }
    return out;
}

SystemStatus readSystemStatus(const QJsonObject& answer)
{
    QJsonObject o = answer;
    for (const char* key : {"details", "data", "result"}) {
        if (!o.value(QStringLiteral("status")).isString() && answer.value(QLatin1String(key)).isObject())
            o = answer.value(QLatin1String(key)).toObject();
    }
    SystemStatus s;
    s.online =
        o.value(QStringLiteral("status")).toVariant().toString().compare(QLatin1String("online"), Qt::CaseInsensitive)
        == 0;
    const QJsonValue count = o.value(QStringLiteral("stream_count"));
    s.streamCount = count.isDouble() ? jsonInt(count, 0) : 0;
    return s;
}

CalendarAnswer readPlaybackCalendar(const QJsonObject& answer)
{
    const QJsonObject o = answer.contains(QStringLiteral("dates_with_recording")) ? answer : unwrapEnvelope(answer);
    CalendarAnswer a;
    a.supported = flag(o, "supported", true);
    for (const QJsonValue& v : o.value(QStringLiteral("dates_with_recording")).toArray()) {
        const QDate d = QDate::fromString(textOf(v).left(10), Qt::ISODate);
        if (d.isValid())
            a.days.append(d);
    }
    return a;
}

namespace {

// The day of a date-time text ("2024-05-03T23:30:00", "2024-05-03 23:30:00");
// invalid for a clock text alone.
QDate dayOf(const QString& text)
{
    return text.size() >= 10 ? QDate::fromString(text.left(10), Qt::ISODate) : QDate();
}

// Whether a span whose end's clock time is not after its start's ends on a
// later day: by the dates, when both carry one; by clock texts alone, only an
// end at midnight says so.
bool runsPastMidnight(const QString& startText, const QString& endText, double endSecs)
{
    const QDate from = dayOf(startText);
    const QDate to = dayOf(endText);
    if (from.isValid() && to.isValid())
        return to > from;
    return endSecs == 0;
}

} // namespace

AvailabilityAnswer readPlaybackAvailability(const QJsonObject& answer)
{
    const QJsonObject o = answer.contains(QStringLiteral("availability")) ? answer : unwrapEnvelope(answer);
    AvailabilityAnswer a;
    a.supported = flag(o, "supported", true);
    for (const QJsonValue& v : o.value(QStringLiteral("availability")).toArray()) {
        const QJsonObject e = v.toObject();
        if (e.value(QStringLiteral("available")).isBool() && !e.value(QStringLiteral("available")).toBool())
            continue;
        const QString startText = textOf(e.value(QStringLiteral("start_time")));
        const QString endText = textOf(e.value(QStringLiteral("end_time")));
        const double start = clockToSeconds(startText);
        double end = clockToSeconds(endText);
        if (start < 0 || end < 0)
            continue;
        if (end <= start) {
            // A span that runs into the next day is the day's to its end. One
            // that ends before it starts is no span: drawn to midnight it
            // would offer hours that hold nothing.
            if (!runsPastMidnight(startText, endText, end))
                continue;
            end = 86400;
        }
        a.ranges.append({start, end});
    }
    return a;
}

QList<QDate> readCloudDates(const QJsonObject& answer, const QString& cameraId)
{
    QList<QDate> days;
    for (const QJsonValue& v : responseList(answer, {QStringLiteral("cameras")})) {
        const QJsonObject e = v.toObject();
        if (!cameraId.isEmpty() && jsonIdToString(e.value(QStringLiteral("camera_id"))) != cameraId)
            continue;
        const QJsonArray dates = e.value(QStringLiteral("dates")).toArray();
        if (dates.isEmpty())
            continue;
        for (const QJsonValue& d : dates) {
            const QDate date = QDate::fromString(d.toVariant().toString(), Qt::ISODate);
            if (date.isValid())
                days.append(date);
        }
        break;
    }
    return days;
}

QString cloudTimeText(const QString& text)
{
    const QString t = text.trimmed();
    if (t == QLatin1String("current") || t.size() <= 5)
        return t;
    return t.left(5);
}

double clockToSeconds(const QString& text)
{
    QString t = text;
    const int tee = t.indexOf(QLatin1Char('T'));
    if (tee >= 0)
        t = t.mid(tee + 1);
    t = t.left(8);
    const QStringList pieces = t.split(QLatin1Char(':'));
    if (pieces.size() < 2)
        return -1;
    auto num = [](const QString& s) {
        bool ok = false;
        const int v = s.toInt(&ok, 10);
        return ok ? v : 0;
    };
    const int h = num(pieces.at(0));
    const int m = num(pieces.at(1));
    const int s = pieces.size() >= 3 ? num(pieces.at(2)) : 0;
    return h * 3600.0 + m * 60.0 + s;
}

QString playbackTimeText(const QString& text)
{
    const QString t = text.trimmed();
    if (t == QLatin1String("current") || t.size() < 5)
        return t;
    return t.left(5) + QStringLiteral(":00");
}

bool looksLikePlaylist(const QByteArray& body)
{
    return body.trimmed().startsWith("#EXTM3U");
}

PlaylistOutcome readCloudPlaylist(int status, const QByteArray& body, const QString& transportError)
{
    PlaylistOutcome out;
    if (status == 200 && looksLikePlaylist(body)) {
        out.playlist = body;
        return out;
    }
    if (!transportError.isEmpty()) {
        out.error = transportError;
        return out;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    const QString m = errorMessage(unwrapEnvelope(doc.isObject() ? doc.object() : QJsonObject()));
    if (status == 404) {
        if (m.contains(QLatin1String("No segments"), Qt::CaseInsensitive))
            out.error = QStringLiteral("No cloud recording for this time.");
        else if (m.contains(QLatin1String("Recording path"), Qt::CaseInsensitive))
            out.error = QStringLiteral("This camera has no cloud archive.");
        else if (m.contains(QLatin1String("Camera not found"), Qt::CaseInsensitive))
            out.error = QStringLiteral("Camera not found.");
        if (!out.error.isEmpty())
            return out;
    }
    if (!m.isEmpty())
        out.error = m;
    else if (status == 200)
        out.error = QStringLiteral("The server returned something that is not a playlist.");
    else
        out.error = QStringLiteral("Cloud playback failed (HTTP %1).").arg(status);
    return out;
}

StreamTicket readTicket(const QJsonObject& payload)
{
    StreamTicket t;
    const QJsonObject o = payload.value(QStringLiteral("rtsp")).toObject();
    t.url = textOf(o.value(QStringLiteral("url")));
    if (o.value(QStringLiteral("user")).isString())
        t.user = o.value(QStringLiteral("user")).toString();
    t.password = textOf(o.value(QStringLiteral("password")));
    t.ttlSecs = jsonInt(o.value(QStringLiteral("ttl_s")), 0);
    return t;
}

} // namespace kvr::api
