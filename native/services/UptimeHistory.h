#pragma once

// The hourly uptime history of native devices: minutes credited per hour to
// a handful of series per device, the grid and percentage read from them,
// and the JSON form of native-uptime.json (the last 40 days).

#include "native/services/NativeInventory.h"
#include "native/services/NativeRecords.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QIODevice>
#include <QList>
#include <QSharedData>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <vector>

namespace kvr::services {

namespace Native {

inline constexpr char kUptimeFile[] = "native-uptime.json";
inline constexpr int kUptimeVersion = 1;

// Series keys of one device.
QString checkedKey(const QString& id);             // "s:" covered by probes
QString internetKey(const QString& id);            // "i:" internet state up
QString deviceKey(const QString& id);              // "d:" device answering
QString cameraKey(const QString& id, int channel); // "c:<id>:<channel>" camera online
// "k:<id>:<channel>": covered by probes while the camera's state was known,
// online or not. A camera's hours are judged against it rather than
// against the device's checked time, so time in which nobody knew the
// camera's state (a device that does not report it, a recorder that could
// not be reached before its cameras were ever seen) reads as no data, not
// as the camera being down.
QString cameraKnownKey(const QString& id, int channel);

class UptimeHistory {
public:
    // One day of a series: the seconds credited to each of its 24 local
    // hours (0..3600). Whole seconds hold every credit exactly (a credit
    // counts whole seconds) and every value of the file (tenths of a
    // minute, six seconds each), in two bytes an hour.
    struct DayRow {
        qint32 julianDay = 0;
        std::array<quint16, 24> seconds{};
    };

    // The days of one series, oldest first; a day is held once anything was
    // credited to it or the file listed it, even with nothing in it.
    class Series {
    public:
        qsizetype size() const { return qsizetype(m_days.size()); }
        bool contains(const QDate& date) const { return row(date) != nullptr; }
        // Minutes of the hour, 0..60; 0 for a day not held.
        double minutes(const QDate& date, int hour) const;
        const DayRow* row(const QDate& date) const;
        const std::vector<DayRow>& rows() const { return m_days; }
        // Replaces the days with `rows` (in date order, one per date).
        void assign(const std::vector<DayRow>& rows) { m_days.assign(rows.cbegin(), rows.cend()); }

    private:
        friend class UptimeHistory;
        // The row of the day, made (empty) when missing.
        DayRow& rowFor(qint32 julianDay);
        std::vector<DayRow> m_days;
    };

    static double minutesOf(quint16 seconds) { return double(seconds) / 60.0; }

    // Adds the minutes of [from, to) to the series, hour by hour in local
    // time; no hour ever goes above 60. Raises the revision and marks the
    // history dirty. Days that have fallen out of the kept window are let go
    // when a new day begins.
    void credit(const QString& key, const QDateTime& from, const QDateTime& to);

    // Forgets every series of the device; marks the history dirty.
    void removeDevice(const QString& id);

    // Adds what `newer` credited (on top of what this history holds, each
    // hour still capped at 60): what was recorded while the file was being
    // read joins what the file held.
    void merge(const UptimeHistory& newer);

    // The end of the latest hour of the device series with up-minutes, or
    // an invalid date-time.
    QDateTime lastUpFromSeries(const QString& id) const;
    // The same hour as its local date and hour (its start); false without one.
    bool lastUpHour(const QString& id, QDate* date, int* hour) const;

    // 24 cells per day for `days` days up to now's date, oldest first.
    // `created` (may be invalid) hides the hours before the device existed.
    QList<UptimeCell> grid(const QString& id, GraphType type, int channel, int days, const QDateTime& now,
                           const QDateTime& created) const;
    static double percent(const QList<UptimeCell>& cells);

    // The file's compact JSON: days from today - 40 on, values to one
    // decimal, keys ascending. Safe on a thread of its own, on a copy.
    QByteArray encode(const QDate& today) const;
    // The same text written to `out` a piece at a time, so that the whole
    // text is never held; false when a write fails.
    bool encode(QIODevice* out, const QDate& today) const;
    // Replaces the history with the file's; damaged input is read as far as
    // it is sound. Days before today - 40 are skipped.
    ReadStatus decode(const QByteArray& bytes, const QDate& today, QStringList* problems);
    // The same, reading `in` a piece at a time. Only a file the quick reader
    // cannot follow is read whole (to salvage it); `whole`, when given,
    // then receives its bytes.
    ReadStatus decode(QIODevice* in, const QDate& today, QStringList* problems, QByteArray* whole = nullptr);

    const Series* series(const QString& key) const;
    int seriesCount() const { return int(m_series.size()); }
    bool isEmpty() const { return m_series.isEmpty(); }

    bool dirty() const { return m_dirty; }
    void markDirty() { m_dirty = true; }
    void clearDirty() { m_dirty = false; }
    quint64 revision() const { return m_revision; }
    // The revision at which anything of the device's series last changed: a
    // credit to one device leaves what was worked out of every other one
    // standing. A read, a merge or a removal counts for every device.
    quint64 revisionOf(const QString& deviceId) const
    {
        return std::max(m_wholeRevision, m_deviceRevisions.value(deviceId, 0));
    }
    // Raised by every change of the series (credit, removal, load).
    quint64 changeCount() const { return m_changes; }
    // Makes this copy's tables its own (the series themselves stay shared):
    // a thread that takes a snapshot does so, so that the history it was
    // taken from is not copied at its next credit.
    void detach()
    {
        m_series.detach();
        m_deviceRevisions.detach();
    }

    // Each series is shared between copies of the history until one of them
    // changes it: a copy (a snapshot a writer thread saves from) costs a
    // reference per series, and a credit afterwards copies only the series
    // it touches.
    struct SeriesData : QSharedData {
        Series days;
    };
    using SeriesMap = QHash<QString, QSharedDataPointer<SeriesData>>;

private:
    Series& writable(const QString& key);

    // Raises the revision for every device.
    void changedWhole();

    SeriesMap m_series;
    bool m_dirty = false;
    quint64 m_revision = 1;
    quint64 m_wholeRevision = 1;
    QHash<QString, quint64> m_deviceRevisions; // newer than m_wholeRevision only
    quint64 m_changes = 0;
};

} // namespace Native

} // namespace kvr::services
