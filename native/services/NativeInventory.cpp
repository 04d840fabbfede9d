#include "native/services/NativeInventory.h"

#include <QJsonArray>
#include <QJsonParseError>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Native {

namespace {

QString textOf(const QJsonObject& o, QLatin1StringView key)
{
    const QJsonValue v = o.value(key);
    return v.isString() ? v.toString() : QString();
}

// An integral JSON number as a 64-bit value, clamped into int. Numbers from
// files and devices may be anything; they never wrap around.
int intOf(const QJsonValue& v, int fallback)
{
    if (!v.isDouble())
        return fallback;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::floor(d))
        return fallback;
    constexpr double lo = double(std::numeric_limits<int>::min());
    constexpr double hi = double(std::numeric_limits<int>::max());
    return int(std::clamp(d, lo, hi));
}

int intOf(const QJsonObject& o, QLatin1StringView key, int fallback)
{
    return intOf(o.value(key), fallback);
}

int stateOf(const QJsonObject& o, QLatin1StringView key)
{
    const int s = intOf(o, key, NotTested);
    return (s == Failed || s == Passed) ? s : NotTested;
}

QJsonObject healthToJson(const Health& h)
{
    QJsonObject o;
    o.insert(QLatin1String("checkedAt"), dateToJson(h.checkedAt));
    o.insert(QLatin1String("internet"), h.internet);
    o.insert(QLatin1String("device"), h.device);
    o.insert(QLatin1String("httpPort"), h.httpPort);
    o.insert(QLatin1String("rtspPort"), h.rtspPort);
    o.insert(QLatin1String("digest"), h.digest);
    o.insert(QLatin1String("basic"), h.basic);
    o.insert(QLatin1String("latencyMs"), h.latencyMs);
    o.insert(QLatin1String("lossPercent"), h.lossPercent);
    o.insert(QLatin1String("quality"), h.quality);
    o.insert(QLatin1String("hdd"), h.hdd);
    o.insert(QLatin1String("model"), h.model);
    o.insert(QLatin1String("deviceName"), h.deviceName);
    o.insert(QLatin1String("serial"), h.serial);
    o.insert(QLatin1String("firmware"), h.firmware);
    o.insert(QLatin1String("mac"), h.mac);
    o.insert(QLatin1String("deviceTime"), h.deviceTime);
    o.insert(QLatin1String("recordingDays"), h.recordingDays);
    o.insert(QLatin1String("recordingWindow"), h.recordingWindow);
    o.insert(QLatin1String("error"), h.error);
    o.insert(QLatin1String("lastUp"), dateToJson(h.lastUp));
    o.insert(QLatin1String("fetchedAt"), dateToJson(h.fetchedAt));
    return o;
}

Health healthFromJson(const QJsonObject& o)
{
    Health h;
    h.checkedAt = dateFromJson(o.value(QLatin1String("checkedAt")));
    h.internet = stateOf(o, QLatin1String("internet"));
    h.device = stateOf(o, QLatin1String("device"));
    h.httpPort = stateOf(o, QLatin1String("httpPort"));
    h.rtspPort = stateOf(o, QLatin1String("rtspPort"));
    h.digest = stateOf(o, QLatin1String("digest"));
    h.basic = stateOf(o, QLatin1String("basic"));
    h.latencyMs = intOf(o, QLatin1String("latencyMs"), -1);
    h.lossPercent = intOf(o, QLatin1String("lossPercent"), -1);
    h.quality = textOf(o, QLatin1String("quality"));
    h.hdd = textOf(o, QLatin1String("hdd"));
    h.model = textOf(o, QLatin1String("model"));
    h.deviceName = textOf(o, QLatin1String("deviceName"));
    h.serial = textOf(o, QLatin1String("serial"));
    h.firmware = textOf(o, QLatin1String("firmware"));
    h.mac = textOf(o, QLatin1String("mac"));
    h.deviceTime = textOf(o, QLatin1String("deviceTime"));
    h.recordingDays = intOf(o, QLatin1String("recordingDays"), -1);
    h.recordingWindow = intOf(o, QLatin1String("recordingWindow"), 0);
    h.error = textOf(o, QLatin1String("error"));
    h.lastUp = dateFromJson(o.value(QLatin1String("lastUp")));
    h.fetchedAt = dateFromJson(o.value(QLatin1String("fetchedAt")));
    return h;
}

QJsonObject cameraToJson(const Camera& c)
{
    QJsonObject o;
    o.insert(QLatin1String("channelId"), c.channelId);
    o.insert(QLatin1String("name"), c.name);
    o.insert(QLatin1String("online"), c.online);
    o.insert(QLatin1String("onlineKnown"), c.onlineKnown);
    o.insert(QLatin1String("lastOnline"), dateToJson(c.lastOnline));
    o.insert(QLatin1String("lastOffline"), dateToJson(c.lastOffline));
    o.insert(QLatin1String("blur"), c.blur);
    return o;
}

Camera cameraFromJson(const QJsonObject& o)
{
    Camera c;
    c.channelId = intOf(o, QLatin1String("channelId"), 1);
    c.name = textOf(o, QLatin1String("name"));
    c.online = o.value(QLatin1String("online")).toBool(false);
    c.onlineKnown = o.value(QLatin1String("onlineKnown")).toBool(false);
    c.lastOnline = dateFromJson(o.value(QLatin1String("lastOnline")));
    c.lastOffline = dateFromJson(o.value(QLatin1String("lastOffline")));
    c.blur = intOf(o, QLatin1String("blur"), 0);
    return c;
}

QString nameKey(const QString& name)
{
    return name.trimmed().toCaseFolded();
}

} // namespace

QJsonValue dateToJson(const QDateTime& dateTime)
{
    if (!dateTime.isValid())
        return QJsonValue(QJsonValue::Null);
    return dateTime.toString(Qt::ISODate);
}

QDateTime dateFromJson(const QJsonValue& value)
{
    if (!value.isString())
        return {};
    const QString text = value.toString();
    QDateTime dt = QDateTime::fromString(text, Qt::ISODate);
    if (!dt.isValid())
        dt = QDateTime::fromString(text, Qt::ISODateWithMs);
    return dt;
}

QJsonObject siteToJson(const Site& s)
{
    QJsonObject o;
    o.insert(QLatin1String("id"), s.id);
    o.insert(QLatin1String("name"), s.name);
    o.insert(QLatin1String("address"), s.address);
    o.insert(QLatin1String("contact"), s.contact);
    o.insert(QLatin1String("isp"), s.isp);
    o.insert(QLatin1String("sim"), s.sim);
    o.insert(QLatin1String("notes"), s.notes);
    return o;
}

Site siteFromJson(const QJsonObject& o)
{
    Site s;
    s.id = textOf(o, QLatin1String("id"));
    s.name = textOf(o, QLatin1String("name"));
    s.address = textOf(o, QLatin1String("address"));
    s.contact = textOf(o, QLatin1String("contact"));
    s.isp = textOf(o, QLatin1String("isp"));
    s.sim = textOf(o, QLatin1String("sim"));
    s.notes = textOf(o, QLatin1String("notes"));
    return s;
}

QJsonObject deviceToJson(const Device& d)
{
    QJsonObject o;
    o.insert(QLatin1String("id"), d.id);
    o.insert(QLatin1String("siteId"), d.siteId);
    o.insert(QLatin1String("name"), d.name);
    o.insert(QLatin1String("ip"), d.ip);
    o.insert(QLatin1String("httpPort"), d.httpPort);
    o.insert(QLatin1String("rtspPort"), d.rtspPort);
    o.insert(QLatin1String("serverPort"), d.serverPort);
    o.insert(QLatin1String("username"), d.username);
    o.insert(QLatin1String("password"), d.password);
    o.insert(QLatin1String("manufacturer"), d.manufacturer);
    o.insert(QLatin1String("type"), d.type);
    o.insert(QLatin1String("channels"), d.channels);
    QJsonArray ignored;
    for (int ch : d.ignored)
        ignored.append(ch);
    o.insert(QLatin1String("ignored"), ignored);
    o.insert(QLatin1String("enabled"), d.enabled);
    o.insert(QLatin1String("disabledReason"), d.disabledReason);
    o.insert(QLatin1String("createdAt"), dateToJson(d.createdAt));
    o.insert(QLatin1String("health"), healthToJson(d.health));
    QJsonArray cameras;
    for (const Camera& c : d.cameras)
        cameras.append(cameraToJson(c));
    o.insert(QLatin1String("cameras"), cameras);
    return o;
}

Device deviceFromJson(const QJsonObject& o)
{
    Device d;
    d.id = textOf(o, QLatin1String("id"));
    d.siteId = textOf(o, QLatin1String("siteId"));
    d.name = textOf(o, QLatin1String("name"));
    d.ip = textOf(o, QLatin1String("ip"));
    d.httpPort = intOf(o, QLatin1String("httpPort"), 80);
    d.rtspPort = intOf(o, QLatin1String("rtspPort"), 554);
    d.serverPort = intOf(o, QLatin1String("serverPort"), 8000);
    d.username = textOf(o, QLatin1String("username"));
    d.password = textOf(o, QLatin1String("password"));
    const QJsonValue manufacturer = o.value(QLatin1String("manufacturer"));
    if (manufacturer.isString())
        d.manufacturer = manufacturer.toString();
    const QJsonValue type = o.value(QLatin1String("type"));
    if (type.isString())
        d.type = type.toString();
    d.channels = std::clamp(intOf(o, QLatin1String("channels"), 1), kMinChannels, kMaxChannels);
    const QJsonArray ignored = o.value(QLatin1String("ignored")).toArray();
    for (const QJsonValue& v : ignored)
        d.ignored.append(intOf(v, 0));
    d.enabled = o.value(QLatin1String("enabled")).toBool(true);
    d.disabledReason = textOf(o, QLatin1String("disabledReason"));
    d.createdAt = dateFromJson(o.value(QLatin1String("createdAt")));
    d.health = healthFromJson(o.value(QLatin1String("health")).toObject());
    const QJsonArray cameras = o.value(QLatin1String("cameras")).toArray();
    for (const QJsonValue& v : cameras)
        d.cameras.append(cameraFromJson(v.toObject()));
    return d;
}

QByteArray encodeInventory(const QList<Site>& sites, const QList<Device>& devices)
{
    QJsonArray siteArray;
    for (const Site& s : sites)
        siteArray.append(siteToJson(s));
    QJsonArray deviceArray;
    for (const Device& d : devices)
        deviceArray.append(deviceToJson(d));
    QJsonObject root;
    root.insert(QLatin1String("version"), kInventoryVersion);
    root.insert(QLatin1String("sites"), siteArray);
    root.insert(QLatin1String("devices"), deviceArray);
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

InventoryData decodeInventory(const QByteArray& bytes)
{
    InventoryData data;
    data.status = ReadStatus::Clean;
    bool whole = false;
    QString problem;
    // Sites and devices sit at depth 2 (root, array, record).
    const QJsonDocument doc = salvageJson(bytes, 2, &whole, &problem);
    if (!whole) {
        data.status = ReadStatus::Damaged;
        data.problems << problem;
    }
    if (!doc.isObject()) {
        if (whole) {
            data.status = ReadStatus::Damaged;
            data.problems << QStringLiteral("The inventory is not a JSON object.");
        }
        return data;
    }
    const QJsonObject root = doc.object();
    const QJsonValue version = root.value(QLatin1String("version"));
    if (version.isDouble() && intOf(version, 0) != kInventoryVersion) {
        if (data.status == ReadStatus::Clean)
            data.status = ReadStatus::OtherVersion;
        data.problems << QStringLiteral("The inventory is of version %1; only what version %2 "
                                        "knows was read.")
                             .arg(version.toDouble())
                             .arg(kInventoryVersion);
    }

    for (const QJsonValue& v : root.value(QLatin1String("sites")).toArray())
        data.sites.append(siteFromJson(v.toObject()));

    int withoutId = 0;
    for (const QJsonValue& v : root.value(QLatin1String("devices")).toArray()) {
        Device d = deviceFromJson(v.toObject());
        if (d.id.isEmpty()) {
            ++withoutId;
            continue;
        }
        syncCameras(d);
        clearDuplicateCameraNames(d);
        data.devices.append(std::move(d));
    }
    Q_UNUSED(withoutId);  // skipped silently: such a record was never ours
    return data;
}

void syncCameras(Device& device)
{
    device.channels = std::clamp(device.channels, kMinChannels, kMaxChannels);
    QList<Camera> cameras;
    cameras.reserve(device.channels);
    for (int ch = 1; ch <= device.channels; ++ch) {
        if (const Camera* existing = std::as_const(device).camera(ch)) {
            cameras.append(*existing);
        } else {
            Camera fresh;
            fresh.channelId = ch;
            cameras.append(fresh);
        }
    }
    device.cameras = std::move(cameras);
    device.ignored.removeIf([&](int ch) { return ch < 1 || ch > device.channels; });
}

bool sameConnection(const Device& a, const Device& b)
{
    return a.ip == b.ip && a.httpPort == b.httpPort && a.rtspPort == b.rtspPort
        && a.username == b.username && a.password == b.password
        && a.manufacturer == b.manufacturer;
}

void clearDuplicateCameraNames(Device& device)
{
    QHash<QString, int> seen;
    for (const Camera& c : std::as_const(device.cameras)) {
        const QString key = nameKey(c.name);
        if (!key.isEmpty())
            ++seen[key];
    }
    for (Camera& c : device.cameras) {
        const QString key = nameKey(c.name);
        if (!key.isEmpty() && seen.value(key) > 1)
            c.name.clear();
    }
}

QJsonDocument salvageJson(const QByteArray& bytes, int recordDepth, bool* ok, QString* problem)
{
    QJsonParseError error{};
    QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error == QJsonParseError::NoError) {
        *ok = true;
        return doc;
    }
    *ok = false;

    // Walk the text before the damage, remembering the last place where a
    // whole record (or any shallower container) had just been closed.
    const qsizetype limit = std::clamp<qsizetype>(error.offset, 0, bytes.size());
    QByteArray stack;
    QByteArray stackAtCut;
    qsizetype cut = -1;
    bool inString = false;
    bool escaped = false;
    for (qsizetype i = 0; i < limit; ++i) {
        const char c = bytes.at(i);
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '{':
        case '[':
            stack.append(c);
            break;
        case '}':
        case ']':
            if (stack.isEmpty())
                break;
            stack.chop(1);
            if (stack.size() <= recordDepth) {
                cut = i + 1;
                stackAtCut = stack;
            }
            break;
        default:
            break;
        }
    }

    const QString where = QStringLiteral("%1 at byte %2 of %3")
                              .arg(error.errorString())
                              .arg(error.offset)
                              .arg(bytes.size());
    if (cut < 0) {
        *problem = QStringLiteral("Nothing could be read (%1).").arg(where);
        return {};
    }
    QByteArray repaired = bytes.left(cut);
    for (qsizetype i = stackAtCut.size() - 1; i >= 0; --i)
        repaired.append(stackAtCut.at(i) == '{' ? '}' : ']');
    QJsonParseError again{};
    doc = QJsonDocument::fromJson(repaired, &again);
    if (again.error != QJsonParseError::NoError) {
        *problem = QStringLiteral("Nothing could be read (%1).").arg(where);
        return {};
    }
    *problem = QStringLiteral("Read up to byte %1; the rest was lost (%2).").arg(cut).arg(where);
    return doc;
}

} // namespace Native
