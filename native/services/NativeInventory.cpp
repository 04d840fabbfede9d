#include "native/services/NativeInventory.h"

#include <QJsonArray>
#include <QJsonParseError>
#include <QMap>
#include <QSet>
#include <QUuid>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

namespace kvr::services {

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

// The names of the details' parts in the file.
constexpr std::array<std::pair<Detail, const char*>, 6> kDetailNames = {{
    {Detail::Clock, "clock"},
    {Detail::Disks, "disks"},
    {Detail::CameraStates, "cameraStates"},
    {Detail::ChannelNames, "channelNames"},
    {Detail::Firmware, "firmware"},
    {Detail::DeviceName, "deviceName"},
}};

QList<Unread> unreadFromJson(const QJsonValue& value)
{
    QList<Unread> out;
    for (const QJsonValue& v : value.toArray()) {
        const QString name = v.toObject().value(QLatin1String("part")).toString();
        for (const auto& [part, text] : kDetailNames)
            if (name == QLatin1String(text)
                && !std::any_of(out.cbegin(), out.cend(), [part = part](const Unread& u) { return u.part == part; }))
                out.append({part, textOf(v.toObject(), QLatin1String("reason"))});
    }
    return out;
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
    h.deviceTimeAt = dateFromJson(o.value(QLatin1String("deviceTimeAt")));
    h.recordingDays = intOf(o, QLatin1String("recordingDays"), -1);
    h.recordingWindow = intOf(o, QLatin1String("recordingWindow"), 0);
    h.error = textOf(o, QLatin1String("error"));
    h.lastUp = dateFromJson(o.value(QLatin1String("lastUp")));
    h.fetchedAt = dateFromJson(o.value(QLatin1String("fetchedAt")));
    h.unread = unreadFromJson(o.value(QLatin1String("unread")));
    return h;
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

namespace {

// A compact JSON object written member by member; the caller gives the keys
// in ascending order, as the file format wants.
class ObjectWriter {
public:
    explicit ObjectWriter(QByteArray& out) : m_out(out) { m_out.append('{'); }
    ~ObjectWriter() { m_out.append('}'); }
    ObjectWriter(const ObjectWriter&) = delete;
    ObjectWriter& operator=(const ObjectWriter&) = delete;

    QByteArray& key(const char* name)
    {
        if (!m_first)
            m_out.append(',');
        m_first = false;
        m_out.append('"');
        m_out.append(name);
        m_out.append("\":");
        return m_out;
    }
    void text(const char* name, const QString& value) { appendJsonString(key(name), value); }
    void number(const char* name, int value) { appendInt(key(name), value); }
    void boolean(const char* name, bool value) { key(name).append(value ? "true" : "false"); }
    void date(const char* name, const QDateTime& value) { appendJsonDate(key(name), value); }

    static void appendInt(QByteArray& out, int value)
    {
        char buf[16];
        const auto res = std::to_chars(buf, buf + sizeof buf, value);
        out.append(buf, res.ptr - buf);
    }

private:
    QByteArray& m_out;
    bool m_first = true;
};

void writeHealth(QByteArray& out, const Health& h)
{
    ObjectWriter o(out);
    o.number("basic", h.basic);
    o.date("checkedAt", h.checkedAt);
    o.number("device", h.device);
    o.text("deviceName", h.deviceName);
    o.text("deviceTime", h.deviceTime);
    o.date("deviceTimeAt", h.deviceTimeAt);
    o.number("digest", h.digest);
    o.text("error", h.error);
    o.date("fetchedAt", h.fetchedAt);
    o.text("firmware", h.firmware);
    o.text("hdd", h.hdd);
    o.number("httpPort", h.httpPort);
    o.number("internet", h.internet);
    o.date("lastUp", h.lastUp);
    o.number("latencyMs", h.latencyMs);
    o.number("lossPercent", h.lossPercent);
    o.text("mac", h.mac);
    o.text("model", h.model);
    o.text("quality", h.quality);
    o.number("recordingDays", h.recordingDays);
    o.number("recordingWindow", h.recordingWindow);
    o.number("rtspPort", h.rtspPort);
    o.text("serial", h.serial);
    if (h.unread.isEmpty())
        return;
    QByteArray& list = o.key("unread");
    list.append('[');
    for (qsizetype i = 0; i < h.unread.size(); ++i) {
        if (i)
            list.append(',');
        ObjectWriter u(list);
        for (const auto& [part, text] : kDetailNames)
            if (part == h.unread.at(i).part)
                u.text("part", QString::fromLatin1(text));
        u.text("reason", h.unread.at(i).reason);
    }
    list.append(']');
}

void writeCamera(QByteArray& out, const Camera& c)
{
    ObjectWriter o(out);
    o.number("blur", c.blur);
    o.number("channelId", c.channelId);
    o.date("lastOffline", c.lastOffline);
    o.date("lastOnline", c.lastOnline);
    o.text("name", c.name);
    o.boolean("online", c.online);
    o.boolean("onlineKnown", c.onlineKnown);
}

void writeDevice(QByteArray& out, const Device& d)
{
    ObjectWriter o(out);
    // The cameras and ignored marks of channels above the count go with the
    // shown ones: reading brings the lists into line with the count again,
    // keeping them aside (and a reader that knows nothing of them drops them).
    QByteArray& cams = o.key("cameras");
    cams.append('[');
    bool first = true;
    for (const QList<Camera>* list : {&d.cameras, &d.hiddenCameras})
        for (const Camera& c : *list) {
            if (!std::exchange(first, false))
                cams.append(',');
            writeCamera(cams, c);
        }
    cams.append(']');
    o.number("channels", d.channels);
    o.date("createdAt", d.createdAt);
    o.text("disabledReason", d.disabledReason);
    o.boolean("enabled", d.enabled);
    writeHealth(o.key("health"), d.health);
    o.number("httpPort", d.httpPort);
    o.text("id", d.id);
    QByteArray& ign = o.key("ignored");
    ign.append('[');
    first = true;
    for (const QList<int>* list : {&d.ignored, &d.hiddenIgnored})
        for (int ch : *list) {
            if (!std::exchange(first, false))
                ign.append(',');
            ObjectWriter::appendInt(ign, ch);
        }
    ign.append(']');
    o.text("ip", d.ip);
    o.text("manufacturer", d.manufacturer);
    o.text("name", d.name);
    o.text("password", d.password);
    o.number("rtspPort", d.rtspPort);
    o.number("serverPort", d.serverPort);
    o.text("siteId", d.siteId);
    o.text("type", d.type);
    o.text("username", d.username);
}

void writeSite(QByteArray& out, const Site& s)
{
    ObjectWriter o(out);
    o.text("address", s.address);
    o.text("contact", s.contact);
    o.text("id", s.id);
    o.text("isp", s.isp);
    o.text("name", s.name);
    o.text("notes", s.notes);
    o.text("sim", s.sim);
}

void append2(QByteArray& out, int v)
{
    out.append(char('0' + v / 10));
    out.append(char('0' + v % 10));
}

} // namespace

void appendJsonString(QByteArray& out, QStringView text)
{
    static const char hex[] = "0123456789abcdef";
    out.append('"');
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const char16_t c = text[i].unicode();
        if (c >= 0x80) {
            qsizetype j = i + 1;
            while (j < n && text[j].unicode() >= 0x80)
                ++j;
            out.append(text.mid(i, j - i).toUtf8());
            i = j;
            continue;
        }
        switch (c) {
        case u'"':
            out.append("\\\"");
            break;
        case u'\\':
            out.append("\\\\");
            break;
        case u'\b':
            out.append("\\b");
            break;
        case u'\f':
            out.append("\\f");
            break;
        case u'\n':
            out.append("\\n");
            break;
        case u'\r':
            out.append("\\r");
            break;
        case u'\t':
            out.append("\\t");
            break;
        default:
            if (c < 0x20) {
                out.append("\\u00");
                out.append(hex[c >> 4]);
                out.append(hex[c & 0xf]);
            } else {
                out.append(char(c));
            }
        }
        ++i;
    }
    out.append('"');
}

void appendJsonDate(QByteArray& out, const QDateTime& dt)
{
    if (!dt.isValid()) {
        out.append("null");
        return;
    }
    const QDate d = dt.date();
    const QTime t = dt.time();
    if (dt.timeSpec() != Qt::LocalTime || d.year() < 1000 || d.year() > 9999) {
        appendJsonString(out, dt.toString(Qt::ISODate));
        return;
    }
    // The ISO form a local date-time writes, without the cost of the
    // general formatter (a large inventory holds a hundred thousand dates).
    out.append('"');
    ObjectWriter::appendInt(out, d.year());
    out.append('-');
    append2(out, d.month());
    out.append('-');
    append2(out, d.day());
    out.append('T');
    append2(out, t.hour());
    out.append(':');
    append2(out, t.minute());
    out.append(':');
    append2(out, t.second());
    out.append('"');
}

QByteArray encodeInventory(const QList<Site>& sites, const QList<Device>& devices)
{
    // Written directly rather than through a JSON object tree, which costs
    // several times as much for a large fleet; the text is the same.
    QByteArray out;
    qsizetype estimate = 1024 + sites.size() * 200;
    for (const Device& d : devices)
        estimate += 1200 + 230 * (d.cameras.size() + d.hiddenCameras.size());
    out.reserve(estimate);
    {
        ObjectWriter root(out);
        QByteArray& dev = root.key("devices");
        dev.append('[');
        for (qsizetype i = 0; i < devices.size(); ++i) {
            if (i)
                dev.append(',');
            writeDevice(dev, devices.at(i));
        }
        dev.append(']');
        QByteArray& st = root.key("sites");
        st.append('[');
        for (qsizetype i = 0; i < sites.size(); ++i) {
            if (i)
                st.append(',');
            writeSite(st, sites.at(i));
        }
        st.append(']');
        root.number("version", kInventoryVersion);
    } // closes the root object
    return out;
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

    for (const QJsonValue& v : root.value(QLatin1String("devices")).toArray()) {
        Device d = deviceFromJson(v.toObject());
        if (d.id.isEmpty())
            continue; // skipped silently: such a record was never ours
        syncCameras(d);
        clearDuplicateCameraNames(d);
        data.devices.append(std::move(d));
    }
    return data;
}

namespace {

// Whether the lists already are in line with the count: one camera per
// channel in order, none kept aside, every ignored number a shown channel.
// The common case (every device of a fleet as it is read) takes no more.
bool inLine(const Device& device)
{
    if (!device.hiddenCameras.isEmpty() || !device.hiddenIgnored.isEmpty() || device.cameras.size() != device.channels)
        return false;
    for (qsizetype i = 0; i < device.cameras.size(); ++i)
        if (device.cameras.at(i).channelId != i + 1)
            return false;
    return std::all_of(device.ignored.cbegin(), device.ignored.cend(),
                       [&device](int ch) { return ch >= 1 && ch <= device.channels; });
}

} // namespace

void syncCameras(Device& device)
{
    device.channels = std::clamp(device.channels, kMinChannels, kMaxChannels);
    if (inLine(device))
        return;
    // Every camera held, shown or kept above the count, by channel (the first
    // of each): a count may have been lowered or raised since.
    QMap<int, std::pair<Camera, bool>> held; // channel -> camera, whether it was kept hidden
    for (const Camera& c : std::as_const(device.cameras))
        if (c.channelId >= 1 && c.channelId <= kMaxChannels && !held.contains(c.channelId))
            held.insert(c.channelId, {c, false});
    for (const Camera& c : std::as_const(device.hiddenCameras))
        if (c.channelId >= 1 && c.channelId <= kMaxChannels && !held.contains(c.channelId))
            held.insert(c.channelId, {c, true});
    QList<Camera> cameras;
    cameras.reserve(device.channels);
    QSet<QString> names;
    for (int ch = 1; ch <= device.channels; ++ch)
        if (const auto it = held.constFind(ch); it != held.cend() && !it->second)
            names.insert(nameKey(it->first.name));
    for (int ch = 1; ch <= device.channels; ++ch) {
        const auto it = held.constFind(ch);
        if (it == held.cend()) {
            Camera fresh;
            fresh.channelId = ch;
            cameras.append(fresh);
            continue;
        }
        Camera c = it->first;
        if (it->second) {
            // Back from above the count: whether it is online now is not
            // known, and a name given meanwhile to a shown camera stays that
            // camera's alone.
            c.onlineKnown = false;
            const QString key = nameKey(c.name);
            if (!key.isEmpty() && names.contains(key))
                c.name.clear();
            else
                names.insert(key);
        }
        cameras.append(c);
    }
    QList<Camera> hidden;
    for (auto it = held.upperBound(device.channels); it != held.cend(); ++it)
        hidden.append(it->first);
    device.cameras = std::move(cameras);
    device.hiddenCameras = std::move(hidden);

    QList<int> ignored;
    QList<int> hiddenIgnored;
    for (const QList<int>* marks : {&device.ignored, &device.hiddenIgnored})
        for (int ch : *marks) {
            if (ch >= 1 && ch <= device.channels) {
                if (!ignored.contains(ch))
                    ignored.append(ch);
            } else if (ch > device.channels && ch <= kMaxChannels && !hiddenIgnored.contains(ch)) {
                hiddenIgnored.append(ch);
            }
        }
    std::sort(hiddenIgnored.begin(), hiddenIgnored.end());
    device.ignored = std::move(ignored);
    device.hiddenIgnored = std::move(hiddenIgnored);
}

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

void makeNew(Device& device, const QString& id, const QDateTime& createdAt)
{
    device.id = id;
    device.createdAt = createdAt;
    device.health = Health{};
    device.cameras.clear();
    device.hiddenCameras.clear();
    device.hiddenIgnored.clear();
    syncCameras(device);
}

bool sameConnection(const Device& a, const Device& b)
{
    return a.ip == b.ip && a.httpPort == b.httpPort && a.rtspPort == b.rtspPort && a.username == b.username
        && a.password == b.password && a.manufacturer == b.manufacturer;
}

void clearDuplicateCameraNames(Device& device)
{
    // Folding keeps a name's length (one code unit for one), so only names
    // of one length can be alike: a name is folded only where another of its
    // length is there, and a name as long as the file that held it is not
    // gone through at every start.
    const qsizetype n = device.cameras.size();
    QList<QString> keys(n);
    QHash<qsizetype, int> lengths;
    for (qsizetype i = 0; i < n; ++i) {
        keys[i] = device.cameras.at(i).name.trimmed();
        if (!keys.at(i).isEmpty())
            ++lengths[keys.at(i).size()];
    }
    QHash<QString, int> seen;
    for (qsizetype i = 0; i < n; ++i) {
        if (keys.at(i).isEmpty() || lengths.value(keys.at(i).size()) < 2) {
            keys[i].clear();
            continue;
        }
        keys[i] = keys.at(i).toCaseFolded();
        ++seen[keys.at(i)];
    }
    for (qsizetype i = 0; i < n; ++i)
        if (!keys.at(i).isEmpty() && seen.value(keys.at(i)) > 1)
            device.cameras[i].name.clear();
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

    const QString where =
        QStringLiteral("%1 at byte %2 of %3").arg(error.errorString()).arg(error.offset).arg(bytes.size());
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

} // namespace kvr::services
