#include "native/screens/FleetRules.h"

#include "app/core/LocalZone.h"
#include "app/core/SearchText.h"
#include "app/core/ShownText.h"
#include "app/core/TextDirection.h"
#include "native/screens/NativeStyle.h"
#include "native/services/AddressCheck.h"
#include "native/services/Brands.h"
#include "native/services/Verdicts.h"

#include <QLocale>
#include <QSet>
#include <QStringBuilder>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kvr::services;

namespace kvr::screens {

namespace FleetRules {

using Native::Device;

namespace {

const QString kDot = QStringLiteral("  ·  ");
const QString kDash = QStringLiteral("—");

bool checked(const Device& d)
{
    return d.health.checkedAt.isValid();
}

// The local time of a moment as "d MMM yyyy, HH:mm" in the C locale, as
// QLocale::c() writes it, without reading the format again for every row.
QString checkStamp(const QDateTime& moment)
{
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDateTime wall = kvr::core::LocalZone::wallClock(moment);
    const QDate date = wall.date();
    const QTime time = wall.time();
    if (date.year() < 1000 || date.year() > 9999)
        return QLocale::c().toString(wall, QStringLiteral("d MMM yyyy, HH:mm"));
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%d %s %d, %02d:%02d", date.day(), kMonths[date.month() - 1],
                                date.year(), time.hour(), time.minute());
    return QString::fromLatin1(text, n);
}

} // namespace

// ---- Status --------------------------------------------------------------------------

Status statusOf(const Device& d)
{
    if (!d.enabled)
        return Status::Deactivated;
    if (!checked(d))
        return Status::NotChecked;
    return d.health.device == Native::Passed ? Status::Online : Status::Offline;
}

bool hasInternetIssue(const Device& d)
{
    if (!d.enabled || !checked(d) || d.health.internet != Native::Passed)
        return false;
    return d.health.device != Native::Passed || d.health.httpPort == Native::Failed
        || d.health.rtspPort == Native::Failed;
}

// ---- Filters ---------------------------------------------------------------------------

bool Filters::active() const
{
    return !search.trimmed().isEmpty() || status != AllStatuses || !brand.isEmpty() || internet != AllInternet
        || network != AllNetworks;
}

bool matches(const Device& d, const Filters& f, const QString& siteName)
{
    const QString q = f.search.trimmed();
    if (!q.isEmpty()) {
        using kvr::core::SearchText::key;
        const QString k = key(q);
        // Searched as shown: what a cell cannot show is not looked through
        // at every key press.
        if (!key(Native::deviceLabel(d)).contains(k) && !key(kvr::core::shownText(d.ip)).contains(k)
            && !key(kvr::core::shownText(siteName)).contains(k))
            return false;
    }
    const Status s = statusOf(d);
    switch (f.status) {
    case OnlineOnly:
        if (s != Status::Online)
            return false;
        break;
    case OfflineOnly:
        if (s != Status::Offline)
            return false;
        break;
    case NotCheckedOnly:
        if (s != Status::NotChecked)
            return false;
        break;
    case DeactivatedOnly:
        if (s != Status::Deactivated)
            return false;
        break;
    default:
        break;
    }
    if (!f.brand.isEmpty() && d.manufacturer != f.brand)
        return false;
    switch (f.internet) {
    case InternetUp:
        if (d.health.internet != Native::Passed)
            return false;
        break;
    case InternetDown:
        if (d.health.internet != Native::Failed)
            return false;
        break;
    case InternetIssues:
        if (!hasInternetIssue(d))
            return false;
        break;
    default:
        break;
    }
    switch (f.network) {
    case NetGood:
        return d.health.quality == QLatin1String("Good");
    case NetDegraded:
        return d.health.quality == QLatin1String("Degraded");
    case NetPoor:
        return d.health.quality == QLatin1String("Poor");
    case NetNotChecked:
        return d.health.quality.isEmpty();
    default:
        return true;
    }
}

// ---- Cards ------------------------------------------------------------------------------

QString plural(int n, const QString& one, const QString& many)
{
    return QStringLiteral("%1 %2").arg(n).arg(n == 1 ? one : many);
}

DeviceCounts countDevice(const Device& d, bool refused)
{
    DeviceCounts c;
    if (!d.enabled)
        return c;
    c.active = true;
    const Status s = statusOf(d);
    c.online = s == Status::Online;
    c.offline = s == Status::Offline;
    c.refused = c.offline && refused;
    c.internetIssue = hasInternetIssue(d);
    c.recorderOk = d.health.hdd == QLatin1String("OK");
    c.diskFault = d.health.hdd == QLatin1String("Fault");
    c.notRecording = d.health.recordingDays == 0 && d.health.recordingWindow > 0;
    if (d.health.internet == Native::Passed && d.health.latencyMs >= 0)
        c.latency = d.health.latencyMs;
    for (const Native::Camera& cam : d.cameras) {
        if (d.isIgnored(cam.channelId))
            continue;
        ++c.cameras;
        if (cam.onlineKnown && !cam.online)
            ++c.camerasOffline;
    }
    return c;
}

FleetCounts countFleet(const QList<Device>& devices, const std::function<bool(const QString&)>& refused)
{
    FleetCounts c;
    QSet<QString> sites;
    QList<int> latencies;
    for (const Device& d : devices) {
        ++c.total;
        if (!d.siteId.isEmpty())
            sites.insert(d.siteId);
        const DeviceCounts one = countDevice(d, d.enabled && refused && refused(d.id));
        c.active += one.active;
        c.online += one.online;
        c.offline += one.offline;
        c.refused += one.refused;
        c.internetIssues += one.internetIssue;
        c.recordersOk += one.recorderOk;
        c.diskFaults += one.diskFault;
        c.notRecording += one.notRecording;
        c.cameras += one.cameras;
        c.camerasOffline += one.camerasOffline;
        if (one.latency >= 0)
            latencies << one.latency;
    }
    c.sites = int(sites.size());
    if (!latencies.isEmpty()) {
        std::sort(latencies.begin(), latencies.end());
        c.medianLatency = latencies.at(latencies.size() / 2);
    }
    return c;
}

std::array<CardText, kCardCount> cardTexts(const FleetCounts& c)
{
    std::array<CardText, kCardCount> out;
    out[CardDevices].value = QString::number(c.total);
    out[CardDevices].detail =
        QStringLiteral("%1 · %2").arg(plural(c.sites, QStringLiteral("site"), QStringLiteral("sites")),
                                      plural(c.cameras, QStringLiteral("camera"), QStringLiteral("cameras")));
    if (c.total > c.active)
        out[CardDevices].detail += QStringLiteral(" · %1 off").arg(c.total - c.active);

    out[CardOnline].value = QString::number(c.online);
    if (c.active >= 1)
        out[CardOnline].detail = QStringLiteral("%1% of active").arg(c.online * 100 / c.active);

    out[CardOffline].value = QString::number(c.offline);
    if (c.refused >= 1)
        out[CardOffline].detail = QStringLiteral("%1 login refused").arg(c.refused);
    else if (c.offline < 1)
        out[CardOffline].detail = QStringLiteral("none down");
    else
        out[CardOffline].detail = QStringLiteral("not answering");

    out[CardCamerasOffline].value = QString::number(c.camerasOffline);
    if (c.cameras >= 1)
        out[CardCamerasOffline].detail = QStringLiteral("of %1 watched").arg(c.cameras);

    out[CardInternetIssues].value = QString::number(c.internetIssues);
    if (c.medianLatency >= 0)
        out[CardInternetIssues].detail = QStringLiteral("median %1 ms").arg(c.medianLatency);

    out[CardDiskFaults].value = QString::number(c.diskFaults);
    if (c.notRecording >= 1)
        out[CardDiskFaults].detail = QStringLiteral("%1 not recording").arg(c.notRecording);
    else if (c.recordersOk >= 1)
        out[CardDiskFaults].detail = QStringLiteral("%1 recorder%2 OK")
                                         .arg(c.recordersOk)
                                         .arg(c.recordersOk == 1 ? QString() : QStringLiteral("s"));
    return out;
}

std::array<bool, kCardCount> cardHighlights(const Filters& f)
{
    std::array<bool, kCardCount> out{};
    const bool othersClear = f.brand.isEmpty() && f.network == AllNetworks && f.search.isEmpty();
    out[CardDevices] = !f.active();
    out[CardOnline] = f.status == OnlineOnly && f.internet == AllInternet && othersClear;
    out[CardOffline] = f.status == OfflineOnly && f.internet == AllInternet && othersClear;
    out[CardInternetIssues] = f.internet == InternetIssues && f.status == AllStatuses && othersClear;
    return out;
}

// ---- Rows ------------------------------------------------------------------------------------

const Cells::Array& Cells::empty()
{
    static const Array cells{};
    return cells;
}

Cells Cells::later(const DeviceRef& device, const RowInputs& in)
{
    Cells cells;
    cells.m_d = new Data;
    cells.m_d->recipe.emplace(Recipe{device, in});
    return cells;
}

const Cells::Array& Cells::made() const
{
    if (!m_d)
        return empty();
    if (!m_d->cells) {
        // Made once, for every copy that shares them.
        Row row = buildRow(m_d->recipe->device->device, m_d->recipe->in);
        m_d->cells = std::make_unique<Array>(std::move(row.cells.writable()));
        m_d->recipe.reset();
    }
    return *m_d->cells;
}

Cells::Array& Cells::writable()
{
    if (!m_d) {
        m_d = new Data;
        m_d->cells = std::make_unique<Array>();
    } else {
        made();
        m_d.detach();
    }
    return *m_d->cells;
}

RecordingLevel recordingLevel(int days, int window)
{
    const int p = days * 100 / window;
    return p >= 90 ? RecordingLevel::Good : p >= 70 ? RecordingLevel::Short : RecordingLevel::Poor;
}

QString typeWord(const QString& type)
{
    return type == QLatin1String("ipcamera") ? QStringLiteral("IP camera") : type.toUpper();
}

QStringList dayLabels(const QDate& today)
{
    QStringList out;
    const QLocale locale;
    for (int i = -6; i <= 0; ++i)
        out << locale.toString(today.addDays(i), QStringLiteral("ddd d MMM"));
    return out;
}

Row buildRow(const Device& d, const RowInputs& in)
{
    using namespace NativeInsights;
    Row row;
    row.id = d.id;
    const Native::Health& h = d.health;
    const bool isChecked = h.checkedAt.isValid();
    const Status status = statusOf(d);
    const QString type = typeWord(d.type);

    // Device.
    Cell& dev = row.cells[ColDevice];
    dev.text = Native::deviceLabel(d);
    QStringList sub;
    // The site's name is isolated: the address after it reads as written
    // whatever direction the name holds.
    if (!in.siteName.isEmpty())
        sub << kvr::core::TextDirection::isolate(in.siteName);
    // Joined rather than formatted: a row is made for every device of the
    // fleet, and a "%1" typed into a name or address stays as typed.
    // Texts a device or an old file gave are cut to what a cell can show
    // before the table measures them.
    using kvr::core::shownText;
    const QString manufacturer = shownText(d.manufacturer);
    const QString model = shownText(h.model);
    sub << manufacturer % QLatin1Char(' ') % (model.isEmpty() ? type : model);
    sub << shownText(NativeAddress::withPort(d.ip, d.httpPort));
    dev.sub = sub.join(kDot);
    // The whole name and line first: the table may show them shortened.
    QStringList tip{dev.text, dev.sub};
    tip << manufacturer % QStringLiteral(" · ") % type;
    if (!model.isEmpty())
        tip << QStringLiteral("Model: ") % model;
    if (!h.firmware.isEmpty())
        tip << QStringLiteral("Firmware: ") % shownText(h.firmware);
    if (!h.serial.isEmpty())
        tip << QStringLiteral("Serial: ") % shownText(h.serial);
    if (!h.mac.isEmpty())
        tip << QStringLiteral("MAC: ") % shownText(h.mac);
    tip << QStringLiteral("HTTP ") % QString::number(d.httpPort) % QStringLiteral(" · RTSP ")
            % QString::number(d.rtspPort);
    dev.tip = tip.join(QLatin1Char('\n'));

    // Status.
    Cell& st = row.cells[ColStatus];
    switch (status) {
    case Status::Online:
        st.text = QStringLiteral("Online");
        st.kind = DotUp;
        break;
    case Status::NotChecked:
        st.text = QStringLiteral("Not checked");
        st.kind = DotMuted;
        break;
    case Status::Offline:
        st.text = in.refused ? QStringLiteral("Login refused") : QStringLiteral("Offline");
        st.kind = DotDown;
        st.tip = shownText(h.error, kvr::core::tun::kShownNoteChars);
        break;
    case Status::Deactivated:
        st.text = QStringLiteral("Deactivated");
        st.kind = DotMuted;
        st.sub = shownText(d.disabledReason);
        break;
    }
    if (in.busy) {
        st.text = QStringLiteral("Checking");
        st.kind = ChipInfo;
    }

    // Network.
    Cell& net = row.cells[ColNetwork];
    if (d.enabled && isChecked) {
        if (h.internet != Native::Passed) {
            net.text = QStringLiteral("Unreachable");
            net.kind = ChipFail;
        } else if (h.quality.isEmpty()) {
            net.text = QStringLiteral("Reachable");
            net.kind = ChipPass;
        } else {
            net.text = shownText(h.quality);
            net.kind = h.quality == QLatin1String("Good") ? ChipPass
                : h.quality == QLatin1String("Degraded")  ? ChipWarn
                                                          : ChipPoor;
        }
    } else {
        net.text = kDash;
        net.kind = Muted;
    }
    if (h.latencyMs >= 0)
        net.sub = h.lossPercent < 1 ? QString(QString::number(h.latencyMs) % QStringLiteral(" ms"))
                                    : QString(QString::number(h.latencyMs) % QStringLiteral(" ms · ")
                                              % QString::number(h.lossPercent) % QStringLiteral("% loss"));
    if (h.internet == Native::Passed && h.rtspPort == Native::Failed)
        net.tip = QStringLiteral("RTSP port %1 is closed: live view won't work.").arg(d.rtspPort);

    // Disk.
    Cell& disk = row.cells[ColDisk];
    if (h.hdd == QLatin1String("Fault")) {
        disk.text = QStringLiteral("Fault");
        disk.kind = ChipFail;
    } else if (h.hdd == QLatin1String("OK")) {
        disk.text = QStringLiteral("OK");
        disk.kind = ChipPass;
    } else {
        disk.text = kDash;
        disk.kind = Muted;
    }

    // Recording.
    Cell& rec = row.cells[ColRecording];
    if (h.recordingDays >= 0 && h.recordingWindow >= 1) {
        rec.text =
            QString::number(h.recordingDays) % QLatin1Char('/') % QString::number(h.recordingWindow) % QLatin1Char('d');
        const RecordingLevel level = recordingLevel(h.recordingDays, h.recordingWindow);
        rec.kind = level == RecordingLevel::Good ? ChipPass : level == RecordingLevel::Short ? ChipWarn : ChipFail;
        const int drift = clockDriftSecs(d);
        if (drift != kUnknownDrift && qAbs(qint64(drift)) >= 121)
            rec.sub = QStringLiteral("clock %1 %2")
                          .arg(drift >= 1 ? QStringLiteral("+") : QStringLiteral("\u2212"), span(drift));
        rec.tip =
            QStringLiteral("Recordings found on %1 of the last %2 days.").arg(h.recordingDays).arg(h.recordingWindow);
    } else {
        rec.text = NativeBrand::calendarSupported(d) ? kDash : QStringLiteral("N/A");
        rec.kind = Muted;
    }

    // Cameras.
    Cell& cams = row.cells[ColCameras];
    const int total = d.totalCameras();
    bool anyKnown = false;
    QStringList offline;
    for (const Native::Camera& c : d.cameras) {
        if (d.isIgnored(c.channelId) || !c.onlineKnown)
            continue;
        anyKnown = true;
        if (!c.online)
            offline << Native::cameraLabel(c);
    }
    if (anyKnown) {
        const int online = d.onlineCameras();
        cams.text = QString::number(online) % QLatin1Char('/') % QString::number(total);
        if (total > online) {
            cams.sub = QString::number(total - online) % QStringLiteral(" down");
            cams.tip = QStringLiteral("Offline: ") % offline.join(QStringLiteral(", "));
            cams.color = NativeStyle::kDanger;
        }
    } else {
        cams.text = QStringLiteral("—/") % QString::number(total);
    }

    // Uptime.
    Cell& up = row.cells[ColUptime];
    if (d.enabled) {
        up.daily = in.daily;
        const double a = average(in.daily);
        up.kind = Bars;
        if (a < 0) {
            up.text = QStringLiteral("No data");
        } else {
            up.text = QString::number(a, 'f', a >= 99.95 ? 0 : 1) % QLatin1Char('%');
            up.color = a >= 99 ? NativeStyle::kText : a >= 90 ? NativeStyle::kWarnText : NativeStyle::kDanger;
        }
        QStringList lines;
        for (int i = 0; i < in.daily.size(); ++i) {
            const QString label = i < in.dayLabels.size() ? in.dayLabels.at(i) : QString();
            const double v = in.daily.at(i);
            lines << label % QStringLiteral(": ")
                    % (v < 0 ? QStringLiteral("no checks")
                             : QString(QString::number(v, 'f', 1) % QStringLiteral("% up")));
        }
        up.tip = lines.join(QLatin1Char('\n'));
    } else {
        up.text = kDash;
        up.kind = Muted;
    }

    // Last check.
    Cell& last = row.cells[ColLastCheck];
    if (isChecked) {
        last.tip = checkStamp(h.checkedAt);
    } else {
        last.text = QStringLiteral("Never");
        last.kind = Muted;
    }

    Cell& action = row.cells[ColAction];
    action.text = QStringLiteral("View details");
    action.kind = Pill;
    setClockTexts(row, d, in);
    return row;
}

bool setClockTexts(Row& row, const Device& d, const RowInputs& in)
{
    using namespace NativeInsights;
    const Native::Health& h = d.health;
    const Cell& oldDev = std::as_const(row).cells[ColDevice];
    // The device tip's last line tells how long ago the info was read.
    QString tip = oldDev.tip;
    const qsizetype read = tip.lastIndexOf(QLatin1String("\nDevice info read "));
    if (read >= 0)
        tip.truncate(read);
    if (h.fetchedAt.isValid())
        tip += QStringLiteral("\nDevice info read ") % ago(h.fetchedAt, in.now);
    QString statusSub = std::as_const(row).cells[ColStatus].sub;
    if (statusOf(d) == Status::Offline)
        statusSub = in.lastSeenUp.isValid() ? QString(QStringLiteral("for ") % span(in.lastSeenUp.secsTo(in.now)))
                                            : QStringLiteral("never online");
    const Cell& oldLast = std::as_const(row).cells[ColLastCheck];
    QString lastText = oldLast.text;
    QColor lastColor = oldLast.color;
    if (h.checkedAt.isValid()) {
        lastText = ago(h.checkedAt, in.now);
        lastColor = h.checkedAt.secsTo(in.now) >= 86401 ? NativeStyle::kWarnText : QColor();
    }
    const QString lastSub =
        h.fetchedAt.isValid() ? QString(QStringLiteral("info ") % ago(h.fetchedAt, in.now)) : QString();
    if (tip == oldDev.tip && statusSub == std::as_const(row).cells[ColStatus].sub && lastText == oldLast.text
        && lastColor == oldLast.color && lastSub == oldLast.sub)
        return false;
    row.cells[ColDevice].tip = tip;
    row.cells[ColStatus].sub = statusSub;
    Cell& last = row.cells[ColLastCheck];
    last.text = lastText;
    last.color = lastColor;
    last.sub = lastSub;
    return true;
}

bool tellsTime(const Device& d)
{
    // The clock texts of setClockTexts: all of them need one of these times.
    return d.health.checkedAt.isValid() || d.health.fetchedAt.isValid();
}

int stateRank(const Device& d, int worstLevel)
{
    if (!d.enabled)
        return 5;
    if (!d.health.checkedAt.isValid())
        return 2;
    if (d.health.device != Native::Passed)
        return 0;
    if (worstLevel <= NativeInsights::Problem)
        return 1;
    if (worstLevel == NativeInsights::Warning)
        return 3;
    return 4;
}

NameKey nameKey(const QString& name)
{
    // As QString::compare folds without case: unit by unit, a low surrogate
    // after a high one folded as the character the two make.
    NameKey key;
    key.reserve(size_t(name.size()));
    char32_t last = 0;
    for (const QChar c : name) {
        const char16_t unit = c.unicode();
        char32_t ucs4 = unit;
        if (QChar::isLowSurrogate(ucs4) && QChar::isHighSurrogate(last))
            ucs4 = QChar::surrogateToUcs4(char16_t(last), unit);
        last = unit;
        key.push_back(QChar::toCaseFolded(ucs4));
    }
    return key;
}

NameOrder::NameOrder(const QString& siteName, const QString& deviceName, QString deviceId)
    : site(nameKey(siteName)),
      name(nameKey(deviceName)),
      id(std::move(deviceId))
{}

bool namesBefore(const NameOrder& a, const NameOrder& b)
{
    if (const int c = a.site.compare(b.site))
        return c < 0;
    if (const int c = a.name.compare(b.name))
        return c < 0;
    return a.id < b.id;
}

QList<int> namePlaces(const QList<NameOrder>& devices)
{
    std::vector<const NameOrder*> sorted;
    sorted.reserve(size_t(devices.size()));
    for (const NameOrder& d : devices)
        sorted.push_back(&d);
    std::sort(sorted.begin(), sorted.end(), [](const NameOrder* a, const NameOrder* b) { return namesBefore(*a, *b); });
    QList<int> places(devices.size(), 0);
    const NameOrder* first = devices.constData();
    for (size_t i = 0; i < sorted.size(); ++i)
        places[sorted[i] - first] = int(i);
    return places;
}

// ---- Pacing ---------------------------------------------------------------------------------

int dataRebuildDelay(bool timerActive, qint64 sinceLastMs)
{
    if (timerActive)
        return -1;
    if (sinceLastMs >= 0 && sinceLastMs < kDataSpacingThreshold.count())
        return int(kDataSpacing.count() - sinceLastMs);
    return int(kFilterDelay.count());
}

int filterRebuildDelay(bool timerActive, int remainingMs)
{
    if (timerActive && remainingMs <= kFilterDelay.count())
        return -1;
    return int(kFilterDelay.count());
}

// ---- Import notice -----------------------------------------------------------------------------

namespace {

QString importText(int added, int skipped, const QStringList& errors, int more, const QString& note)
{
    QString text = QStringLiteral("%1 device%2 added").arg(added).arg(added == 1 ? QString() : QStringLiteral("s"));
    if (skipped >= 1)
        text += QStringLiteral(", %1 skipped").arg(skipped);
    text += QLatin1Char('.');
    if (added >= 1)
        text += QStringLiteral(" Diagnostics are running.");
    if (!note.isEmpty())
        text += QLatin1Char('\n') + note;
    if (!errors.isEmpty()) {
        text += QStringLiteral("\n\n") + errors.mid(0, 10).join(QLatin1Char('\n'));
        const qsizetype rest = errors.size() - 10 + more;
        if (rest >= 1)
            text += QStringLiteral("\nand %1 more.").arg(rest);
    }
    return text;
}

} // namespace

QString importMessage(int added, int skipped, const QStringList& errors)
{
    return importText(added, skipped, errors, 0, QString());
}

QString importMessage(const services::NativeCsv::ImportResult& result)
{
    return importText(result.added, result.skipped, result.errors, result.moreErrors, result.note);
}

} // namespace FleetRules

} // namespace kvr::screens
