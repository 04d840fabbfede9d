#include "native/services/Reports.h"

#include "app/core/Clock.h"
#include "app/core/ShownText.h"
#include "native/services/NativeStore.h"
#include "native/services/Verdicts.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace kvr::services {

namespace NativeReports {

namespace {

using Native::Device;
using Native::UptimeCell;

// History the uptime reports may reach back to: today and the 39 days
// before it, the days the uptime file keeps whole.
constexpr int kMaxBackDays = 39;

const QString kMinuteFormat = QStringLiteral("yyyy-MM-dd HH:mm");

QString stamp(const QDateTime& t)
{
    return t.isValid() ? t.toLocalTime().toString(kMinuteFormat) : QString();
}

// "yyyy-MM-dd HH:mm" of a cell's hour, or of the end of that hour. Built by
// hand: the reports write hundreds of thousands of these, and the hour that
// follows hour h of a day is h + 1, or midnight of the next day.
QString hourStamp(const UptimeCell& cell, bool end = false)
{
    QDate date = cell.date;
    int hour = cell.hour + (end ? 1 : 0);
    if (hour >= 24) {
        hour -= 24;
        date = date.addDays(1);
    }
    QString out = date.toString(Qt::ISODate);
    out += QLatin1Char(' ');
    out += QLatin1Char(char('0' + hour / 10));
    out += QLatin1Char(char('0' + hour % 10));
    out += QLatin1String(":00");
    return out;
}

// Cells repeated on every row of a scope, made safe once.
QString rowPrefix(const QString& site, const QString& device, const QString& scope)
{
    return csvField(site) + QLatin1Char(',') + csvField(device) + QLatin1Char(',') + csvField(scope);
}

// A minus sign and a digit: a number, or text led by one ("-5 floor"),
// which stays as written.
// A minus sign before a digit is a negative number or a name like "-5 floor",
// and stays as written; but one followed by an operator or a call later on
// ("-1+cmd|' /C calc'!A0") is still run as a formula, so that keeps the guard.
bool ledByNegativeNumber(const QString& text)
{
    if (text.size() < 2 || !text.at(1).isDigit())
        return false;
    static const QString operators = QStringLiteral("=+-*/^&|!(@");
    for (qsizetype i = 1; i < text.size(); ++i)
        if (operators.contains(text.at(i)))
            return false;
    return true;
}

QList<Device> selectedDevices(const NativeStore& store, const QStringList& ids)
{
    if (ids.isEmpty())
        return store.devices();
    const QSet<QString> wanted(ids.cbegin(), ids.cend());
    QList<Device> out;
    for (const Device& d : store.devices())
        if (wanted.contains(d.id))
            out.append(d);
    return out;
}

void uptimeKind(const NativeStore& store, const Device& d, const QString& site, const QDate& from, const QDate& to,
                const QDateTime& now, QString& out)
{
    for (const Scope& scope : scopesOf(d)) {
        const QList<UptimeCell> cells = uptimeRows(store, d.id, scope, from, to, now);
        const QString prefix = rowPrefix(site, Native::deviceLabel(d), scope.label);
        for (qsizetype i = 0; i + 24 <= cells.size(); i += 24) {
            const double p = NativeStore::uptimePercent(cells.mid(i, 24));
            if (p < 0)
                continue;
            out += csvField(cells.at(i).date.toString(Qt::ISODate));
            out += QLatin1Char(',');
            out += prefix;
            out += QLatin1Char(',');
            out += csvField(QString::number(p, 'f', 1));
            out += QLatin1Char('\n');
        }
    }
}

void downtimeKind(const NativeStore& store, const Device& d, const QString& site, const QDate& from, const QDate& to,
                  const QDateTime& now, QString& out)
{
    for (const Scope& scope : scopesOf(d)) {
        const QList<UptimeCell> cells = uptimeRows(store, d.id, scope, from, to, now);
        const QString prefix = rowPrefix(site, Native::deviceLabel(d), scope.label);
        const qsizetype n = cells.size();
        qsizetype i = 0;
        while (i < n) {
            if (cells.at(i).minutes != 0) {
                ++i;
                continue;
            }
            qsizetype j = i + 1;
            while (j < n && cells.at(j).minutes == 0)
                ++j;
            out += prefix;
            out += QLatin1Char(',');
            out += csvField(hourStamp(cells.at(i)));
            out += QLatin1Char(',');
            out += csvField(hourStamp(cells.at(j - 1), true));
            out += QLatin1Char(',');
            out += csvField(QString::number(j - i));
            out += QLatin1Char('\n');
            i = j;
        }
    }
}

void camerasKind(const Device& d, const QString& site, QString& out)
{
    for (const Native::Camera& c : d.cameras) {
        if (d.isIgnored(c.channelId))
            continue;
        QString status;
        switch (c.state()) {
        case Native::CameraState::Unknown:
            status = QStringLiteral("unknown");
            break;
        case Native::CameraState::Online:
            status = QStringLiteral("online");
            break;
        case Native::CameraState::Offline:
            status = QStringLiteral("offline");
            break;
        }
        out += csvLine({site, Native::deviceLabel(d), QString::number(c.channelId), Native::cameraLabel(c), status,
                        stamp(c.lastOnline), stamp(c.lastOffline), c.blur >= 1 ? QString::number(c.blur) : QString()});
    }
}

void storageKind(const Device& d, const QString& site, QString& out)
{
    const Native::Health& h = d.health;
    const bool counted = h.recordingDays >= 0;
    out += csvLine({site, Native::deviceLabel(d), d.ip, d.manufacturer, h.model, h.serial, h.firmware, h.hdd,
                    counted ? QString::number(h.recordingDays) : QString(),
                    counted ? QString::number(h.recordingWindow) : QString(), stamp(h.checkedAt)});
}

} // namespace

QStringList columns(Kind kind)
{
    switch (kind) {
    case Uptime:
        return {"date", "site", "device", "scope", "uptime_percent"};
    case Downtime:
        return {"site", "device", "scope", "down_from", "down_until", "hours"};
    case Cameras:
        return {"site", "device", "channel", "camera", "status", "last_online", "last_offline", "blur_threshold"};
    case Storage:
        return {"site",        "device",   "ip",  "manufacturer",   "model",
                "serial",      "firmware", "hdd", "recording_days", "recording_window_days",
                "last_checked"};
    }
    return {};
}

QString build(Kind kind, const QStringList& ids, const QDate& from, const QDate& to)
{
    return build(NativeStore::instance(), kind, ids, from, to, kvr::core::Clock::instance().nowUtc().toLocalTime());
}

QString build(const NativeStore& store, Kind kind, const QStringList& ids, const QDate& from, const QDate& to,
              const QDateTime& now)
{
    QString out;
    const QStringList header = columns(kind);
    if (header.isEmpty())
        return out;
    out += csvLine(header);
    const QList<Device> devices = selectedDevices(store, ids);
    for (const Device& d : devices) {
        const QString site = kvr::core::shownText(store.siteName(d.siteId));
        switch (kind) {
        case Uptime:
            uptimeKind(store, d, site, from, to, now, out);
            break;
        case Downtime:
            downtimeKind(store, d, site, from, to, now, out);
            break;
        case Cameras:
            camerasKind(d, site, out);
            break;
        case Storage:
            storageKind(d, site, out);
            break;
        }
    }
    return out;
}

QString csvField(const QString& text)
{
    if (text.isEmpty())
        return text;
    QString cell = text;
    // Spreadsheets run a cell as a formula when it begins with one of these;
    // a tab or carriage return in front is skipped by some of them, so the
    // sign behind it counts too. Names come from devices and users alike.
    const QChar first = text.at(0);
    const bool risky = first == QLatin1Char('=') || first == QLatin1Char('+') || first == QLatin1Char('-')
        || first == QLatin1Char('@') || first == QLatin1Char('\t') || first == QLatin1Char('\r');
    if (risky && !(first == QLatin1Char('-') && ledByNegativeNumber(text)))
        cell.prepend(QLatin1Char('\''));
    bool quote = false;
    for (const QChar c : std::as_const(cell)) {
        if (c == QLatin1Char(',') || c == QLatin1Char('"') || c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            quote = true;
            break;
        }
    }
    if (!quote)
        return cell;
    cell.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + cell + QLatin1Char('"');
}

QString csvLine(const QStringList& fields)
{
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += QLatin1Char(',');
        line += csvField(fields.at(i));
    }
    line += QLatin1Char('\n');
    return line;
}

QList<Scope> scopesOf(const Device& d)
{
    QList<Scope> out;
    out.reserve(2 + d.cameras.size());
    out.append(Scope{QStringLiteral("Internet"), Native::GraphType::Internet, 0});
    out.append(Scope{QStringLiteral("Device"), Native::GraphType::Device, 0});
    for (const Native::Camera& c : d.cameras) {
        if (d.isIgnored(c.channelId))
            continue;
        out.append(Scope{QStringLiteral("Camera %1 %2").arg(c.channelId).arg(Native::cameraLabel(c)),
                         Native::GraphType::Camera, c.channelId});
    }
    return out;
}

QList<UptimeCell> uptimeRows(const NativeStore& store, const QString& id, const Scope& scope, const QDate& from,
                             const QDate& to, const QDateTime& now)
{
    const QDate today = now.toLocalTime().date();
    const qint64 back = from.daysTo(today);
    const int days = back < 0 ? 1 : int(std::min<qint64>(back, kMaxBackDays)) + 1;
    const QList<UptimeCell> cells = store.uptimeGrid(id, scope.type, scope.channel, days, now);
    QList<UptimeCell> kept;
    kept.reserve(cells.size());
    for (const UptimeCell& c : cells)
        if (c.date >= from && c.date <= to)
            kept.append(c);
    return kept;
}

} // namespace NativeReports

} // namespace kvr::services
