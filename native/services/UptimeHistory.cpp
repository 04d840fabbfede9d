#include "native/services/UptimeHistory.h"

#include "native/services/Tunables.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace Native {

QString checkedKey(const QString& id) { return QStringLiteral("s:") + id; }
QString internetKey(const QString& id) { return QStringLiteral("i:") + id; }
QString deviceKey(const QString& id) { return QStringLiteral("d:") + id; }
QString cameraKey(const QString& id, int channel)
{
    return QStringLiteral("c:%1:%2").arg(id).arg(channel);
}

namespace {

QDate cutoffOf(const QDate& today)
{
    return today.addDays(-NativeTunables::kUptimeKeepDays);
}

// Rounded to one decimal, halves away from zero, as tenths.
long long tenths(double v)
{
    return std::llround(v * 10.0);
}

void appendNumber(QByteArray& out, double v)
{
    long long n = tenths(v);
    if (n < 0) {
        out.append('-');
        n = -n;
    }
    out.append(QByteArray::number(n / 10));
    if (n % 10 != 0) {
        out.append('.');
        out.append(char('0' + n % 10));
    }
}

void appendString(QByteArray& out, const QString& text)
{
    QString escaped;
    escaped.reserve(text.size() + 2);
    escaped.append(u'"');
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c == u'"' || c == u'\\') {
            escaped.append(u'\\');
            escaped.append(ch);
        } else if (c < 0x20) {
            escaped.append(QStringLiteral("\\u%1").arg(int(c), 4, 16, QLatin1Char('0')));
        } else {
            escaped.append(ch);
        }
    }
    escaped.append(u'"');
    out.append(escaped.toUtf8());
}

} // namespace

void UptimeHistory::credit(const QString& key, const QDateTime& fromIn, const QDateTime& toIn)
{
    ++m_revision;
    m_dirty = true;
    Series& series = m_series[key];
    if (!fromIn.isValid() || !toIn.isValid())
        return;
    QDateTime t = fromIn.toLocalTime();
    const QDateTime to = toIn.toLocalTime();
    while (t < to) {
        const QDateTime hourStart(t.date(), QTime(t.time().hour(), 0));
        const QDateTime hourEnd = hourStart.addSecs(3600);
        const QDateTime end = std::min(to, hourEnd);
        if (end <= t)
            break;  // a local-time gap must never stall the walk
        Day& day = series.try_emplace(t.date(), Day{}).first->second;
        double& slot = day[size_t(t.time().hour())];
        const qint64 secs = t.secsTo(end);
        slot = std::min(slot + double(secs) / 60.0, 60.0);
        t = end;
    }
}

void UptimeHistory::removeDevice(const QString& id)
{
    m_dirty = true;
    for (auto it = m_series.begin(); it != m_series.end();) {
        const QStringView rest = QStringView(it.key()).mid(2);
        const bool ofDevice = rest == id
            || (rest.startsWith(id) && rest.size() > id.size() && rest.at(id.size()) == u':');
        if (ofDevice)
            it = m_series.erase(it);
        else
            ++it;
    }
}

QDateTime UptimeHistory::lastUpFromSeries(const QString& id) const
{
    const auto it = m_series.constFind(deviceKey(id));
    if (it == m_series.cend())
        return {};
    for (auto day = it->rbegin(); day != it->rend(); ++day) {
        for (int h = 23; h >= 0; --h) {
            if (day->second[size_t(h)] > 0)
                return QDateTime(day->first, QTime(h, 0)).addSecs(3600);
        }
    }
    return {};
}

QList<UptimeCell> UptimeHistory::grid(const QString& id, GraphType type, int channel, int days,
                                      const QDateTime& nowIn, const QDateTime& createdIn) const
{
    QString upKey;
    switch (type) {
    case GraphType::Internet: upKey = internetKey(id); break;
    case GraphType::Device: upKey = deviceKey(id); break;
    case GraphType::Camera: upKey = cameraKey(id, channel); break;
    }
    const Series* up = upKey.isEmpty() ? nullptr : series(upKey);
    const Series* checked = series(checkedKey(id));

    const QDateTime created = createdIn.isValid() ? createdIn.toLocalTime() : QDateTime();
    const QDate cDay = created.isValid() ? created.date() : QDate();
    const qint64 cLimit = created.isValid() ? qint64(created.time().msecsSinceStartOfDay() / 1000) - 3600 : 0;

    const QDateTime now = nowIn.toLocalTime();
    const QDate today = now.date();
    const int nowHour = now.time().hour();
    const int n = std::max(days, 1);

    QList<UptimeCell> cells;
    cells.reserve(24 * n);
    for (int back = n - 1; back >= 0; --back) {
        const QDate date = today.addDays(-back);
        const Day* upDay = nullptr;
        if (up) {
            const auto it = up->find(date);
            if (it != up->end())
                upDay = &it->second;
        }
        const Day* checkedDay = nullptr;
        if (checked) {
            const auto it = checked->find(date);
            if (it != checked->end())
                checkedDay = &it->second;
        }
        for (int h = 0; h < 24; ++h) {
            double value = upDay ? (*upDay)[size_t(h)] : 0.0;
            bool known = value > 0;
            if (checkedDay && (*checkedDay)[size_t(h)] > 0) {
                const double r = value / (*checkedDay)[size_t(h)];
                value = r < 1 ? r * 60.0 : 60.0;
                known = true;
            }
            UptimeCell cell;
            cell.date = date;
            cell.hour = h;
            const bool future = date == today && h > nowHour;
            const bool beforeCreated = cDay.isValid()
                && (date < cDay || (date == cDay && qint64(h) * 3600 <= cLimit));
            if (future || beforeCreated || !known)
                cell.minutes = -1;
            else
                cell.minutes = int(std::clamp<long long>(std::llround(value), 0, 60));
            cells.append(cell);
        }
    }
    return cells;
}

double UptimeHistory::percent(const QList<UptimeCell>& cells)
{
    qint64 sum = 0;
    qint64 count = 0;
    for (const UptimeCell& c : cells) {
        if (c.minutes >= 0) {
            sum += c.minutes;
            ++count;
        }
    }
    if (count == 0)
        return -1.0;
    return double(sum) * 100.0 / double(count * 60);
}

const UptimeHistory::Series* UptimeHistory::series(const QString& key) const
{
    const auto it = m_series.constFind(key);
    return it == m_series.cend() ? nullptr : &*it;
}

QByteArray UptimeHistory::encode(const QDate& today) const
{
    // Written by hand rather than through a JSON object tree: a large fleet
    // holds millions of hour values, and the tree costs several times the
    // time and memory of the text itself.
    const QDate cutoff = cutoffOf(today);
    QStringList keys = m_series.keys();
    std::sort(keys.begin(), keys.end());

    QByteArray out;
    out.reserve(qsizetype(m_series.size()) * 41 * 24 * 3);
    out.append("{\"series\":{");
    bool firstSeries = true;
    for (const QString& key : std::as_const(keys)) {
        const Series& s = *m_series.constFind(key);
        auto day = s.lower_bound(cutoff);
        if (day == s.end())
            continue;  // nothing recent: the series is left out
        if (!firstSeries)
            out.append(',');
        firstSeries = false;
        appendString(out, key);
        out.append(":{");
        bool firstDay = true;
        for (; day != s.end(); ++day) {
            if (!firstDay)
                out.append(',');
            firstDay = false;
            out.append('"');
            out.append(day->first.toString(Qt::ISODate).toLatin1());
            out.append("\":[");
            for (int h = 0; h < 24; ++h) {
                if (h)
                    out.append(',');
                appendNumber(out, day->second[size_t(h)]);
            }
            out.append(']');
        }
        out.append('}');
    }
    out.append("},\"version\":");
    out.append(QByteArray::number(kUptimeVersion));
    out.append('}');
    return out;
}

ReadStatus UptimeHistory::decode(const QByteArray& bytes, const QDate& today, QStringList* problems)
{
    m_series.clear();
    ReadStatus status = ReadStatus::Clean;
    bool whole = false;
    QString problem;
    // Day arrays sit at depth 3 (root, "series", series, day).
    const QJsonDocument doc = salvageJson(bytes, 3, &whole, &problem);
    if (!whole) {
        status = ReadStatus::Damaged;
        problems->append(problem);
    }
    if (!doc.isObject()) {
        if (whole) {
            status = ReadStatus::Damaged;
            problems->append(QStringLiteral("The uptime history is not a JSON object."));
        }
        return status;
    }
    const QJsonObject root = doc.object();
    const QJsonValue version = root.value(QLatin1String("version"));
    if (version.isDouble() && version.toDouble() != kUptimeVersion) {
        if (status == ReadStatus::Clean)
            status = ReadStatus::OtherVersion;
        problems->append(QStringLiteral("The uptime history is of version %1; only what version "
                                        "%2 knows was read.")
                             .arg(version.toDouble())
                             .arg(kUptimeVersion));
    }
    const QDate cutoff = cutoffOf(today);
    const QJsonObject all = root.value(QLatin1String("series")).toObject();
    for (auto it = all.begin(); it != all.end(); ++it) {
        Series& series = m_series[it.key()];
        const QJsonObject days = it.value().toObject();
        for (auto d = days.begin(); d != days.end(); ++d) {
            const QDate date = QDate::fromString(d.key(), Qt::ISODate);
            if (!date.isValid() || date < cutoff)
                continue;
            Day values{};
            const QJsonArray hours = d.value().toArray();
            const qsizetype n = std::min<qsizetype>(hours.size(), 24);
            for (qsizetype h = 0; h < n; ++h) {
                const double v = hours.at(h).toDouble(0.0);
                values[size_t(h)] = std::isfinite(v) ? std::clamp(v, 0.0, 60.0) : 0.0;
            }
            series[date] = values;
        }
    }
    return status;
}

} // namespace Native
