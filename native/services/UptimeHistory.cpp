#include "native/services/UptimeHistory.h"

#include "native/services/Tunables.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace Native {

QString checkedKey(const QString& id)
{
    return QStringLiteral("s:") + id;
}
QString internetKey(const QString& id)
{
    return QStringLiteral("i:") + id;
}
QString deviceKey(const QString& id)
{
    return QStringLiteral("d:") + id;
}
QString cameraKey(const QString& id, int channel)
{
    // Concatenated, not formatted: an id read from a file may hold "%".
    return QStringLiteral("c:") + id + QLatin1Char(':') + QString::number(channel);
}

QString cameraKnownKey(const QString& id, int channel)
{
    return QStringLiteral("k:") + id + QLatin1Char(':') + QString::number(channel);
}

namespace {

QDate cutoffOf(const QDate& today)
{
    return today.addDays(-NativeTunables::kUptimeKeepDays);
}

// Writes v rounded to one decimal (halves away from zero) the way a JSON
// writer prints the rounded number: "12.3", "60", "0". Returns the end.
char* writeTenths(char* p, double v)
{
    // Every value a slot can hold (0.0 to 60.0 in tenths) is looked up; the
    // file holds millions of them.
    struct Text {
        char chars[6];
        int size;
    };
    static const auto table = [] {
        std::array<Text, 601> t{};
        for (int n = 0; n <= 600; ++n) {
            char* q = std::to_chars(t[size_t(n)].chars, t[size_t(n)].chars + 4, n / 10).ptr;
            if (n % 10 != 0) {
                *q++ = '.';
                *q++ = char('0' + n % 10);
            }
            t[size_t(n)].size = int(q - t[size_t(n)].chars);
        }
        return t;
    }();
    long long n = std::llround(v * 10.0);
    if (n >= 0 && n <= 600) {
        const Text& t = table[size_t(n)];
        return std::copy(t.chars, t.chars + t.size, p);
    }
    if (n < 0) {
        *p++ = '-';
        n = -n;
    }
    p = std::to_chars(p, p + 24, n / 10).ptr;
    if (n % 10 != 0) {
        *p++ = '.';
        *p++ = char('0' + n % 10);
    }
    return p;
}

// A reader for the file as this program writes it (any white space, members
// in any order), far quicker and leaner than a JSON tree for millions of
// hour values. Anything it does not expect makes it give up, and the
// general reader (which also salvages damaged files) takes over.
class FastReader {
public:
    FastReader(const QByteArray& bytes, const QDate& cutoff)
        : m_p(bytes.constData()),
          m_end(bytes.constData() + bytes.size()),
          m_cutoff(cutoff)
    {}

    bool read(UptimeHistory::SeriesMap& out, double* version)
    {
        if (!expect('{'))
            return false;
        if (peek() == '}')
            return finish(1);
        for (;;) {
            QString key;
            if (!string(&key) || !expect(':'))
                return false;
            if (key == QLatin1String("series")) {
                if (!series(out))
                    return false;
            } else if (key == QLatin1String("version")) {
                if (!number(version))
                    return false;
            } else {
                return false;
            }
            const char c = next();
            if (c == '}')
                return finish(0);
            if (c != ',')
                return false;
        }
    }

private:
    void ws()
    {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
            ++m_p;
    }
    char peek()
    {
        ws();
        return m_p < m_end ? *m_p : '\0';
    }
    char next()
    {
        ws();
        return m_p < m_end ? *m_p++ : '\0';
    }
    bool expect(char c) { return next() == c; }
    bool finish(int skip)
    {
        m_p += skip;
        ws();
        return m_p == m_end;
    }

    bool string(QString* out)
    {
        if (!expect('"'))
            return false;
        const char* start = m_p;
        while (m_p < m_end && *m_p != '"' && *m_p != '\\' && uchar(*m_p) >= 0x20)
            ++m_p;
        if (m_p < m_end && *m_p == '"') {
            *out = QString::fromUtf8(start, m_p - start);
            ++m_p;
            return true;
        }
        return false; // escapes or damage: left to the general reader
    }

    bool number(double* out)
    {
        ws();
        const auto res = std::from_chars(m_p, m_end, *out);
        if (res.ec != std::errc() || res.ptr == m_p)
            return false;
        m_p = res.ptr;
        return true;
    }

    bool series(UptimeHistory::SeriesMap& out)
    {
        if (!expect('{'))
            return false;
        if (peek() == '}') {
            ++m_p;
            return true;
        }
        for (;;) {
            QString key;
            if (!string(&key) || !expect(':'))
                return false;
            auto& data = out[key];
            data = new UptimeHistory::SeriesData;
            if (!days(data->days))
                return false;
            const char c = next();
            if (c == '}')
                return true;
            if (c != ',')
                return false;
        }
    }

    bool date(QDate* out)
    {
        if (!expect('"'))
            return false;
        const char* start = m_p;
        while (m_p < m_end && *m_p != '"' && *m_p != '\\')
            ++m_p;
        if (m_p >= m_end || *m_p != '"')
            return false;
        const qsizetype n = m_p - start;
        ++m_p;
        auto digits = [&](int from, int count) {
            int v = 0;
            for (int i = from; i < from + count; ++i) {
                if (start[i] < '0' || start[i] > '9')
                    return -1;
                v = v * 10 + (start[i] - '0');
            }
            return v;
        };
        if (n == 10 && start[4] == '-' && start[7] == '-') {
            const int y = digits(0, 4), m = digits(5, 2), d = digits(8, 2);
            *out = (y < 0 || m < 0 || d < 0) ? QDate() : QDate(y, m, d);
        } else {
            *out = QDate::fromString(QString::fromUtf8(start, n), Qt::ISODate);
        }
        return true;
    }

    bool days(UptimeHistory::Series& s)
    {
        if (!expect('{'))
            return false;
        if (peek() == '}') {
            ++m_p;
            return true;
        }
        for (;;) {
            QDate day;
            if (!date(&day) || !expect(':') || !expect('['))
                return false;
            UptimeHistory::Day values{};
            int count = 0;
            if (peek() == ']') {
                ++m_p;
            } else {
                for (;;) {
                    double v = 0;
                    if (!number(&v))
                        return false;
                    if (count < 24)
                        values[size_t(count)] = std::isfinite(v) ? std::clamp(v, 0.0, 60.0) : 0.0;
                    ++count;
                    const char c = next();
                    if (c == ']')
                        break;
                    if (c != ',')
                        return false;
                }
            }
            if (day.isValid() && day >= m_cutoff)
                s[day] = values;
            const char c = next();
            if (c == '}')
                return true;
            if (c != ',')
                return false;
        }
    }

    const char* m_p;
    const char* m_end;
    QDate m_cutoff;
};

} // namespace

void UptimeHistory::credit(const QString& key, const QDateTime& fromIn, const QDateTime& toIn)
{
    ++m_revision;
    ++m_changes;
    m_dirty = true;
    Series& series = writable(key);
    if (!fromIn.isValid() || !toIn.isValid())
        return;
    QDateTime t = fromIn.toLocalTime();
    const QDateTime to = toIn.toLocalTime();
    while (t < to) {
        // The end of t's hour, counted from t itself: building it from the
        // date and hour would pick the wrong one of the two hours that share
        // a name when the clocks go back, and stop the walk there.
        const QTime clock = t.time();
        const qint64 intoHourMs = (qint64(clock.minute()) * 60 + clock.second()) * 1000 + clock.msec();
        const QDateTime hourEnd = t.addMSecs(3600 * 1000 - intoHourMs);
        const QDateTime end = std::min(to, hourEnd);
        if (end <= t)
            break;
        Day& day = series.try_emplace(t.date(), Day{}).first->second;
        double& slot = day[size_t(t.time().hour())];
        const qint64 secs = t.secsTo(end);
        slot = std::min(slot + double(secs) / 60.0, 60.0);
        t = end;
    }
}

UptimeHistory::Series& UptimeHistory::writable(const QString& key)
{
    QSharedDataPointer<SeriesData>& data = m_series[key];
    if (!data)
        data = new SeriesData;
    return data->days; // copies the series first when a snapshot shares it
}

void UptimeHistory::removeDevice(const QString& id)
{
    ++m_changes;
    m_dirty = true;
    for (auto it = m_series.begin(); it != m_series.end();) {
        const QStringView rest = QStringView(it.key()).mid(2);
        const bool ofDevice =
            rest == id || (rest.startsWith(id) && rest.size() > id.size() && rest.at(id.size()) == u':');
        if (ofDevice)
            it = m_series.erase(it);
        else
            ++it;
    }
}

QDateTime UptimeHistory::lastUpFromSeries(const QString& id) const
{
    const Series* s = series(deviceKey(id));
    if (!s)
        return {};
    for (auto day = s->rbegin(); day != s->rend(); ++day) {
        for (int h = 23; h >= 0; --h) {
            if (day->second[size_t(h)] > 0)
                return QDateTime(day->first, QTime(h, 0)).addSecs(3600);
        }
    }
    return {};
}

QList<UptimeCell> UptimeHistory::grid(const QString& id, GraphType type, int channel, int days, const QDateTime& nowIn,
                                      const QDateTime& createdIn) const
{
    QString upKey;
    QString checkedKeyOf = checkedKey(id);
    switch (type) {
    case GraphType::Internet:
        upKey = internetKey(id);
        break;
    case GraphType::Device:
        upKey = deviceKey(id);
        break;
    case GraphType::Camera:
        upKey = cameraKey(id, channel);
        checkedKeyOf = cameraKnownKey(id, channel);
        break;
    }
    const Series* up = upKey.isEmpty() ? nullptr : series(upKey);
    const Series* checked = series(checkedKeyOf);

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
            const bool beforeCreated = cDay.isValid() && (date < cDay || (date == cDay && qint64(h) * 3600 <= cLimit));
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
    return it == m_series.cend() ? nullptr : &it.value()->days;
}

namespace {

// Appends one series as `"key":{"date":[...],...}`; false (nothing written)
// when it holds no day on or after the cutoff.
bool appendSeries(QByteArray& out, const QString& key, const UptimeHistory::Series& s, const QDate& cutoff, bool first)
{
    auto day = s.lower_bound(cutoff);
    if (day == s.end())
        return false; // nothing recent: the series is left out
    if (!first)
        out.append(',');
    appendJsonString(out, key);
    out.append(":{");
    bool firstDay = true;
    char buf[24 * 28 + 32];
    for (; day != s.end(); ++day) {
        char* p = buf;
        if (!firstDay)
            *p++ = ',';
        firstDay = false;
        *p++ = '"';
        const QDate& date = day->first;
        if (date.year() >= 1000 && date.year() <= 9999) {
            p = std::to_chars(p, p + 4, date.year()).ptr;
            *p++ = '-';
            *p++ = char('0' + date.month() / 10);
            *p++ = char('0' + date.month() % 10);
            *p++ = '-';
            *p++ = char('0' + date.day() / 10);
            *p++ = char('0' + date.day() % 10);
        } else {
            const QByteArray text = date.toString(Qt::ISODate).toLatin1().left(16);
            p = std::copy(text.begin(), text.end(), p);
        }
        *p++ = '"';
        *p++ = ':';
        *p++ = '[';
        for (int h = 0; h < 24; ++h) {
            if (h)
                *p++ = ',';
            p = writeTenths(p, day->second[size_t(h)]);
        }
        *p++ = ']';
        out.append(buf, p - buf);
    }
    out.append('}');
    return true;
}

} // namespace

QByteArray UptimeHistory::encode(const QDate& today) const
{
    // Written by hand rather than through a JSON object tree: a large fleet
    // holds millions of hour values, and the tree costs several times the
    // time and memory of the text itself.
    QStringList keys = m_series.keys();
    std::sort(keys.begin(), keys.end());
    qsizetype days = 0;
    for (const auto& data : m_series)
        days += qsizetype(data->days.size());
    QByteArray out;
    out.reserve(64 + qsizetype(m_series.size()) * 64 + days * 96);
    out.append("{\"series\":{");
    const QDate cutoff = cutoffOf(today);
    bool first = true;
    for (const QString& key : std::as_const(keys))
        if (appendSeries(out, key, m_series.constFind(key).value()->days, cutoff, first))
            first = false;
    out.append("},\"version\":");
    out.append(QByteArray::number(kUptimeVersion));
    out.append('}');
    return out;
}

ReadStatus UptimeHistory::decode(const QByteArray& bytes, const QDate& today, QStringList* problems)
{
    m_series.clear();
    ++m_changes;
    const QDate cutoff = cutoffOf(today);
    double fastVersion = kUptimeVersion;
    if (FastReader(bytes, cutoff).read(m_series, &fastVersion)) {
        if (fastVersion == kUptimeVersion)
            return ReadStatus::Clean;
        problems->append(QStringLiteral("The uptime history is of version %1; only what version "
                                        "%2 knows was read.")
                             .arg(fastVersion)
                             .arg(kUptimeVersion));
        return ReadStatus::OtherVersion;
    }
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
    const QJsonObject all = root.value(QLatin1String("series")).toObject();
    for (auto it = all.begin(); it != all.end(); ++it) {
        Series& series = writable(it.key());
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
