#include "native/services/UptimeHistory.h"

#include "native/services/Tunables.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

namespace kvr::services {

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

// The device a series belongs to: what follows the kind's two characters,
// up to a camera's ":channel" (an id read from a file may hold a colon).
QStringView deviceOfKey(QStringView key)
{
    QStringView device = key.mid(2);
    if (key.startsWith(u'c') || key.startsWith(u'k')) {
        const qsizetype colon = device.lastIndexOf(u':');
        if (colon >= 0)
            device.truncate(colon);
    }
    return device;
}

QDate cutoffOf(const QDate& today)
{
    return today.addDays(-tun::kUptimeKeepDays);
}

// A file's minutes as whole seconds: not a number reads as 0, and the
// value is held to 0..60 minutes. Tenths of a minute (what the file holds)
// are six seconds each, so they come back exactly.
quint16 secondsOf(double minutes)
{
    if (!std::isfinite(minutes))
        return 0;
    return quint16(std::llround(std::clamp(minutes, 0.0, 60.0) * 60.0));
}

// Whether a day read from the file is kept: valid, not before the cutoff,
// and within the years a row can name.
bool heldDay(qint64 julianDay, qint64 cutoff)
{
    return julianDay != 0 && julianDay >= cutoff && julianDay <= std::numeric_limits<qint32>::max();
}

// Puts rows in date order; of rows of the same date the one listed last
// stays (as a later member of a JSON object overrides an earlier one).
void sortRows(std::vector<UptimeHistory::DayRow>& rows)
{
    std::stable_sort(rows.begin(), rows.end(), [](const UptimeHistory::DayRow& a, const UptimeHistory::DayRow& b) {
        return a.julianDay < b.julianDay;
    });
    std::vector<UptimeHistory::DayRow> unique;
    unique.reserve(rows.size());
    for (const UptimeHistory::DayRow& row : rows) {
        if (!unique.empty() && unique.back().julianDay == row.julianDay)
            unique.back() = row;
        else
            unique.push_back(row);
    }
    rows.swap(unique);
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

// The file a piece at a time: a window over the bytes read so far, which
// each token asks to hold at least as much as the token can need.
class Input {
public:
    explicit Input(const QByteArray& bytes)
        : m_p(bytes.constData()),
          m_end(bytes.constData() + bytes.size()),
          m_eof(true)
    {}
    explicit Input(QIODevice* device) : m_device(device), m_window(kPiece, Qt::Uninitialized) {}

    // Makes `n` bytes available from the current place unless the input
    // ends first; the bytes available.
    qsizetype fill(qsizetype n)
    {
        qsizetype have = m_end - m_p;
        if (have >= n || m_eof)
            return have;
        if (m_window.size() < n)
            m_window.resize(std::max(n, kPiece));
        char* base = m_window.data();
        if (have > 0)
            std::memmove(base, m_p, size_t(have));
        while (have < n) {
            const qint64 got = m_device->read(base + have, m_window.size() - have);
            if (got <= 0) {
                m_eof = true;
                break;
            }
            have += qsizetype(got);
        }
        m_p = base;
        m_end = base + have;
        return have;
    }

    const char* m_p = nullptr;
    const char* m_end = nullptr;

private:
    static constexpr qsizetype kPiece = 1 << 20;
    QIODevice* m_device = nullptr;
    QByteArray m_window;
    bool m_eof = false;
};

// A reader for the file as this program writes it (any white space, members
// in any order), far quicker and leaner than a JSON tree for millions of
// hour values, and reading a piece at a time. Anything it does not expect
// makes it give up, and the general reader (which also salvages damaged
// files) takes over.
class FastReader {
public:
    FastReader(Input& in, const QDate& cutoff) : m_in(in), m_cutoff(cutoff.toJulianDay()) {}

    bool read(UptimeHistory::SeriesMap& out, double* version)
    {
        if (!expect('{'))
            return false;
        if (peek() == '}')
            return finish();
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
    // Longer keys and dates than this are not of this program's making.
    static constexpr qsizetype kLongestText = 64 * 1024;
    static constexpr qsizetype kLongestNumber = 64;

    void ws()
    {
        for (;;) {
            const char*& p = m_in.m_p;
            while (p < m_in.m_end && (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t'))
                ++p;
            if (p < m_in.m_end || m_in.fill(1) == 0)
                return;
        }
    }
    char peek()
    {
        ws();
        return m_in.m_p < m_in.m_end ? *m_in.m_p : '\0';
    }
    char next()
    {
        ws();
        return m_in.m_p < m_in.m_end ? *m_in.m_p++ : '\0';
    }
    bool expect(char c) { return next() == c; }
    bool finish(int skip = 1)
    {
        m_in.m_p += skip;
        ws();
        return m_in.m_p == m_in.m_end;
    }

    // The text of a quoted string without escapes, the quotes consumed.
    bool text(const char** start, qsizetype* size)
    {
        if (!expect('"'))
            return false;
        m_in.fill(kLongestText);
        const char* p = m_in.m_p;
        const char* end = m_in.m_end;
        while (p < end && *p != '"' && *p != '\\' && uchar(*p) >= 0x20)
            ++p;
        if (p >= end || *p != '"')
            return false; // escapes, damage or an endless key: left to the general reader
        *start = m_in.m_p;
        *size = p - m_in.m_p;
        m_in.m_p = p + 1;
        return true;
    }

    bool string(QString* out)
    {
        const char* start = nullptr;
        qsizetype size = 0;
        if (!text(&start, &size))
            return false;
        *out = QString::fromUtf8(start, size);
        return true;
    }

    bool number(double* out)
    {
        ws();
        m_in.fill(kLongestNumber);
        const auto res = std::from_chars(m_in.m_p, m_in.m_end, *out);
        if (res.ec != std::errc() || res.ptr == m_in.m_p)
            return false;
        m_in.m_p = res.ptr;
        return true;
    }

    bool series(UptimeHistory::SeriesMap& out)
    {
        if (!expect('{'))
            return false;
        if (peek() == '}') {
            ++m_in.m_p;
            return true;
        }
        for (;;) {
            QString key;
            if (!string(&key) || !expect(':'))
                return false;
            if (!days())
                return false;
            auto& data = out[key];
            data = new UptimeHistory::SeriesData;
            // Copied to a list of its own length: a fleet holds tens of
            // thousands of series, and spare room in each adds up.
            data->days.assign(m_rows);
            const char c = next();
            if (c == '}')
                return true;
            if (c != ',')
                return false;
        }
    }

    // A day's date as a Julian day; 0 when it is no date.
    bool date(qint64* out)
    {
        const char* start = nullptr;
        qsizetype n = 0;
        if (!text(&start, &n))
            return false;
        auto digits = [&](int from, int count) {
            int v = 0;
            for (int i = from; i < from + count; ++i) {
                if (start[i] < '0' || start[i] > '9')
                    return -1;
                v = v * 10 + (start[i] - '0');
            }
            return v;
        };
        QDate day;
        if (n == 10 && start[4] == '-' && start[7] == '-') {
            const int y = digits(0, 4), m = digits(5, 2), d = digits(8, 2);
            day = (y < 0 || m < 0 || d < 0) ? QDate() : QDate(y, m, d);
        } else {
            day = QDate::fromString(QString::fromUtf8(start, n), Qt::ISODate);
        }
        *out = day.isValid() ? day.toJulianDay() : 0;
        return true;
    }

    // One series' days into m_rows, in date order, the last of equal dates
    // winning.
    bool days()
    {
        m_rows.clear();
        if (!expect('{'))
            return false;
        bool ordered = true;
        if (peek() == '}') {
            ++m_in.m_p;
            return true;
        }
        for (;;) {
            qint64 julianDay = 0;
            if (!date(&julianDay) || !expect(':') || !expect('['))
                return false;
            UptimeHistory::DayRow row;
            int count = 0;
            if (peek() == ']') {
                ++m_in.m_p;
            } else {
                for (;;) {
                    double v = 0;
                    if (!number(&v))
                        return false;
                    if (count < 24)
                        row.seconds[size_t(count)] = secondsOf(v);
                    ++count;
                    const char c = next();
                    if (c == ']')
                        break;
                    if (c != ',')
                        return false;
                }
            }
            if (heldDay(julianDay, m_cutoff)) {
                row.julianDay = qint32(julianDay);
                if (!m_rows.empty() && m_rows.back().julianDay >= row.julianDay)
                    ordered = false;
                m_rows.push_back(row);
            }
            const char c = next();
            if (c == '}')
                break;
            if (c != ',')
                return false;
        }
        if (!ordered)
            sortRows(m_rows);
        return true;
    }

    Input& m_in;
    qint64 m_cutoff;
    std::vector<UptimeHistory::DayRow> m_rows;
};

} // namespace

double UptimeHistory::Series::minutes(const QDate& date, int hour) const
{
    const DayRow* r = row(date);
    return r && hour >= 0 && hour < 24 ? minutesOf(r->seconds[size_t(hour)]) : 0.0;
}

const UptimeHistory::DayRow* UptimeHistory::Series::row(const QDate& date) const
{
    if (!date.isValid())
        return nullptr;
    const qint64 julianDay = date.toJulianDay();
    const auto it = std::lower_bound(m_days.cbegin(), m_days.cend(), julianDay,
                                     [](const DayRow& r, qint64 jd) { return r.julianDay < jd; });
    return it != m_days.cend() && it->julianDay == julianDay ? &*it : nullptr;
}

UptimeHistory::DayRow& UptimeHistory::Series::rowFor(qint32 julianDay)
{
    if (m_days.empty() || m_days.back().julianDay < julianDay) {
        // A new day: a day a series at a time, so the list grows by one
        // rather than doubling (tens of thousands of series would each keep
        // weeks of spare room).
        if (m_days.size() == m_days.capacity())
            m_days.reserve(m_days.size() + 1);
        DayRow& row = m_days.emplace_back();
        row.julianDay = julianDay;
        return row;
    }
    const auto it = std::lower_bound(m_days.begin(), m_days.end(), julianDay,
                                     [](const DayRow& r, qint32 jd) { return r.julianDay < jd; });
    if (it != m_days.end() && it->julianDay == julianDay)
        return *it;
    DayRow row;
    row.julianDay = julianDay;
    return *m_days.insert(it, row);
}

void UptimeHistory::credit(const QString& key, const QDateTime& fromIn, const QDateTime& toIn)
{
    ++m_revision;
    ++m_changes;
    m_dirty = true;
    m_deviceRevisions.insert(deviceOfKey(key).toString(), m_revision);
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
        const qint64 julianDay = t.date().toJulianDay();
        if (julianDay <= 0 || julianDay > std::numeric_limits<qint32>::max())
            break;
        const bool newDay = series.m_days.empty() || series.m_days.back().julianDay < julianDay;
        quint16& slot = series.rowFor(qint32(julianDay)).seconds[size_t(clock.hour())];
        slot = quint16(std::min<qint64>(slot + t.secsTo(end), 3600));
        if (newDay) {
            // Days that fell out of the kept window go as a new one starts,
            // so a program left running holds no more than it would read
            // back from its file.
            auto& days = series.m_days;
            const qint64 oldest = julianDay - tun::kUptimeKeepDays;
            const auto keepFrom =
                std::find_if(days.begin(), days.end(), [oldest](const DayRow& r) { return r.julianDay >= oldest; });
            days.erase(days.begin(), keepFrom);
        }
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

void UptimeHistory::changedWhole()
{
    m_wholeRevision = ++m_revision;
    m_deviceRevisions.clear();
}

void UptimeHistory::removeDevice(const QString& id)
{
    ++m_changes;
    changedWhole();
    m_dirty = true;
    for (auto it = m_series.begin(); it != m_series.end();) {
        if (deviceOfKey(it.key()) == id)
            it = m_series.erase(it);
        else
            ++it;
    }
}

void UptimeHistory::merge(const UptimeHistory& newer)
{
    // Above both, so that nothing read from either counts as current.
    m_revision = std::max(m_revision, newer.m_revision);
    changedWhole();
    m_changes = std::max(m_changes, newer.m_changes) + 1;
    if (newer.m_series.isEmpty())
        return;
    m_dirty = true;
    for (auto it = newer.m_series.cbegin(); it != newer.m_series.cend(); ++it) {
        const auto mine = m_series.find(it.key());
        if (mine == m_series.end()) {
            m_series.insert(it.key(), it.value()); // shared, not copied
            continue;
        }
        Series& series = writable(it.key());
        for (const DayRow& row : it.value()->days.m_days) {
            DayRow& into = series.rowFor(row.julianDay);
            for (size_t h = 0; h < 24; ++h)
                into.seconds[h] = quint16(std::min(into.seconds[h] + row.seconds[h], 3600));
        }
    }
}

QDateTime UptimeHistory::lastUpFromSeries(const QString& id) const
{
    QDate date;
    int hour = 0;
    if (!lastUpHour(id, &date, &hour))
        return {};
    return QDateTime(date, QTime(hour, 0)).addSecs(3600);
}

bool UptimeHistory::lastUpHour(const QString& id, QDate* date, int* hour) const
{
    const Series* s = series(deviceKey(id));
    if (!s)
        return false;
    for (auto day = s->m_days.crbegin(); day != s->m_days.crend(); ++day) {
        for (int h = 23; h >= 0; --h) {
            if (day->seconds[size_t(h)] > 0) {
                *date = QDate::fromJulianDay(day->julianDay);
                *hour = h;
                return true;
            }
        }
    }
    return false;
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
        const DayRow* upDay = up ? up->row(date) : nullptr;
        const DayRow* checkedDay = checked ? checked->row(date) : nullptr;
        for (int h = 0; h < 24; ++h) {
            double value = upDay ? minutesOf(upDay->seconds[size_t(h)]) : 0.0;
            bool known = value > 0;
            if (checkedDay && checkedDay->seconds[size_t(h)] > 0) {
                const double r = value / minutesOf(checkedDay->seconds[size_t(h)]);
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

// Writes an hour's seconds as the file's minutes to one decimal, as
// writeTenths writes the minutes they make; every value is looked up.
char* writeSeconds(char* p, quint16 seconds)
{
    struct Text {
        char chars[8];
        int size;
    };
    static const auto table = [] {
        std::vector<Text> t(3601);
        for (int s = 0; s <= 3600; ++s)
            t[size_t(s)].size =
                int(writeTenths(t[size_t(s)].chars, UptimeHistory::minutesOf(quint16(s))) - t[size_t(s)].chars);
        return t;
    }();
    if (seconds > 3600)
        return writeTenths(p, UptimeHistory::minutesOf(seconds));
    const Text& t = table[seconds];
    return std::copy(t.chars, t.chars + t.size, p);
}

// The file's text on its way out: gathered in a buffer that is handed to
// the device whenever it grows past a piece, or kept whole without one.
class Output {
public:
    explicit Output(QIODevice* device) : m_device(device) { m_text.reserve(kPiece + 4096); }

    QByteArray& text() { return m_text; }
    // Hands what has gathered to the device once it is a piece or more.
    bool pass(bool all = false)
    {
        if (!m_device || !m_ok || (!all && m_text.size() < kPiece))
            return m_ok;
        m_ok = m_device->write(m_text) == m_text.size();
        m_text.resize(0); // keeps the room
        return m_ok;
    }

private:
    static constexpr qsizetype kPiece = 1 << 20;
    QIODevice* m_device;
    QByteArray m_text;
    bool m_ok = true;
};

// Appends one series as `"key":{"date":[...],...}`; false (nothing written)
// when it holds no day on or after the cutoff.
bool appendSeries(QByteArray& out, const QString& key, const UptimeHistory::Series& s, qint64 cutoff, bool first)
{
    const std::vector<UptimeHistory::DayRow>& rows = s.rows();
    auto day = std::lower_bound(rows.cbegin(), rows.cend(), cutoff,
                                [](const UptimeHistory::DayRow& r, qint64 jd) { return r.julianDay < jd; });
    if (day == rows.cend())
        return false; // nothing recent: the series is left out
    if (!first)
        out.append(',');
    appendJsonString(out, key);
    out.append(":{");
    bool firstDay = true;
    char buf[24 * 28 + 32];
    for (; day != rows.cend(); ++day) {
        char* p = buf;
        if (!firstDay)
            *p++ = ',';
        firstDay = false;
        *p++ = '"';
        const QDate date = QDate::fromJulianDay(day->julianDay);
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
        for (size_t h = 0; h < 24; ++h) {
            if (h)
                *p++ = ',';
            p = writeSeconds(p, day->seconds[h]);
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
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    encode(&buffer, today);
    return buffer.data();
}

bool UptimeHistory::encode(QIODevice* device, const QDate& today) const
{
    // Written by hand rather than through a JSON object tree, and a piece at
    // a time: a large fleet holds millions of hour values, and the tree (or
    // the whole text) costs several times the memory of the history itself.
    QStringList keys = m_series.keys();
    std::sort(keys.begin(), keys.end());
    Output out(device);
    out.text().append("{\"series\":{");
    const qint64 cutoff = cutoffOf(today).toJulianDay();
    bool first = true;
    for (const QString& key : std::as_const(keys)) {
        if (appendSeries(out.text(), key, m_series.constFind(key).value()->days, cutoff, first))
            first = false;
        if (!out.pass())
            return false;
    }
    out.text().append("},\"version\":");
    out.text().append(QByteArray::number(kUptimeVersion));
    out.text().append('}');
    return out.pass(true);
}

ReadStatus UptimeHistory::decode(const QByteArray& bytes, const QDate& today, QStringList* problems)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return decode(&buffer, today, problems);
}

ReadStatus UptimeHistory::decode(QIODevice* in, const QDate& today, QStringList* problems, QByteArray* whole)
{
    m_series.clear();
    ++m_changes;
    changedWhole();
    const QDate cutoff = cutoffOf(today);
    double fastVersion = kUptimeVersion;
    const qint64 start = in->pos();
    bool read = false;
    {
        Input input(in);
        read = FastReader(input, cutoff).read(m_series, &fastVersion);
    }
    if (read) {
        if (fastVersion == kUptimeVersion)
            return ReadStatus::Clean;
        problems->append(QStringLiteral("The uptime history is of version %1; only what version "
                                        "%2 knows was read.")
                             .arg(fastVersion)
                             .arg(kUptimeVersion));
        if (whole && in->seek(start))
            *whole = in->readAll();
        return ReadStatus::OtherVersion;
    }
    m_series.clear();
    // The general reader needs the text whole.
    const QByteArray bytes = in->seek(start) ? in->readAll() : QByteArray();
    if (whole)
        *whole = bytes;
    ReadStatus status = ReadStatus::Clean;
    bool sound = false;
    QString problem;
    // Day arrays sit at depth 3 (root, "series", series, day).
    const QJsonDocument doc = salvageJson(bytes, 3, &sound, &problem);
    if (!sound) {
        status = ReadStatus::Damaged;
        problems->append(problem);
    }
    if (!doc.isObject()) {
        if (sound) {
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
    const qint64 cutoffDay = cutoff.toJulianDay();
    std::vector<DayRow> rows;
    for (auto it = all.begin(); it != all.end(); ++it) {
        const QJsonObject days = it.value().toObject();
        rows.clear();
        for (auto d = days.begin(); d != days.end(); ++d) {
            const QDate date = QDate::fromString(d.key(), Qt::ISODate);
            const qint64 julianDay = date.isValid() ? date.toJulianDay() : 0;
            if (!heldDay(julianDay, cutoffDay))
                continue;
            DayRow row;
            row.julianDay = qint32(julianDay);
            const QJsonArray hours = d.value().toArray();
            const qsizetype n = std::min<qsizetype>(hours.size(), 24);
            for (qsizetype h = 0; h < n; ++h)
                row.seconds[size_t(h)] = secondsOf(hours.at(h).toDouble(0.0));
            rows.push_back(row);
        }
        sortRows(rows); // one row per date, however the keys were spelled
        writable(it.key()).assign(rows);
    }
    return status;
}

} // namespace Native

} // namespace kvr::services
