#pragma once

// Plain-language findings about native devices, and the uptime figures and
// time texts shown beside them. Stateless rules evaluated on demand against
// a "now" the caller passes in, so one screen refresh uses one moment
// throughout; the only state is a cache of per-day uptime lists. Main
// thread only.

#include "native/services/NativeRecords.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <limits>

namespace kvr::services {

class NativeController;
class NativeEvents;
class NativeStore;

namespace Native {

// The camera's name, or "Camera <channel>" when it has none. Labels are cut
// to what a screen can show (kvr::core::shownText): a name stored whole, of
// any length, is never laid out whole, nor written on every row of a report.
QString cameraLabel(const Camera& camera);
// The device's name; when it has none, the name the device reported for
// itself; else its address. Every screen and report names devices by it.
QString deviceLabel(const Device& device);

} // namespace Native

namespace NativeInsights {

enum Level : int {
    Problem = 0,
    Warning = 1,
    Notice = 2,
};

// One finding.
struct Issue {
    int level = Notice;
    QString deviceId;
    QString title;
    QString detail;
    int order = 0; // rank of the rule within its level; lower first
};

// One row of the per-site roll-up.
struct SiteSummary {
    QString siteId;
    QString name;     // the site's name, or "No site"
    QString subtitle; // internet provider and contact, " · " between them
    int devices = 0;  // enabled devices
    int up = 0;       // of those checked, the ones found up
    int checked = 0;  // enabled devices checked at least once
    int cameras = 0;  // cameras of those devices, ignored channels left out
    int camerasOnline = 0;
    int camerasKnown = 0;
    int problems = 0;
    int warnings = 0;
};

// A device condition still standing, as the device's live events report
// it (video loss, disk error and the like).
struct Standing {
    int kind = 0;    // live-event kind, 4..12
    int channel = 0; // 0 when the event names none
    QDateTime receivedAt;
};

// Everything the rules read besides the device itself. `live()` wires the
// process-wide store, probe scheduler and event streams; tests and
// benchmarks fill their own.
struct Sources {
    const NativeStore* store = nullptr;
    // Whether the scheduler holds the device's login as refused.
    std::function<bool(const QString& deviceId)> refused;
    // The device's standing conditions of the last `hours`, newest first.
    std::function<QList<Standing>(const QString& deviceId, int hours)> standing;
    // The state of the device's event stream (Off when it has none).
    std::function<Native::LinkStatus(const QString& deviceId)> link;
    // Display name of a live-event kind.
    std::function<QString(int kind)> kindLabel;

    static Sources live();
    // The same over given objects (the scheduler and the event streams may
    // be null: no refused logins, no live events).
    static Sources over(const NativeStore* store, const NativeController* controller, const NativeEvents* events);
};

// ---- Findings ---------------------------------------------------------------
// `week`: the device's daily uptime of the last seven days as dailyUptime
// gives it for `now`, when the caller holds it already.
QList<Issue> issuesFor(const Sources& sources, const Native::Device& device, const QDateTime& now,
                       const QList<double>* week = nullptr);
QList<Issue> issuesFor(const Native::Device& device, const QDateTime& now);
// Whether the device's findings read the state of its live event stream:
// only for a device that is up and whose brand offers the stream. A fleet of
// failing streams changes states many times a second; the other devices'
// findings need not be worked out again for it.
bool findingsReadLink(const Native::Device& device);
// Every device's findings in store order, sorted stably by level, then order.
QList<Issue> issues(const Sources& sources, const QDateTime& now);
QList<Issue> issues(const QDateTime& now);
// One row per site with an enabled device; most problems first.
QList<SiteSummary> sites(const Sources& sources, const QDateTime& now);
QList<SiteSummary> sites(const QDateTime& now);
// The same over the given devices and sites, each device's findings from
// `findingsOf` (a screen passes the findings it holds already).
QList<SiteSummary> sitesOver(const QList<Native::Device>& devices, const QList<Native::Site>& sites,
                             const std::function<QList<Issue>(const Native::Device&)>& findingsOf);
// What an enabled device adds to its site's row besides being counted.
struct SiteTally {
    int checked = 0; // 1 when it was checked at least once
    int up = 0;      // 1 when it was found up
    int cameras = 0; // ignored channels left out
    int camerasKnown = 0;
    int camerasOnline = 0;
    int problems = 0;
    int warnings = 0;

    bool operator==(const SiteTally&) const = default;
};
SiteTally siteTally(const Native::Device& device, const QList<Issue>& findings);
// A site's row before any device is counted in: its id, name ("No site"
// without a site) and subtitle.
SiteSummary siteRow(const QString& siteId, const Native::Site* site);
// Counts an enabled device's tally (or a sum of them) into its site's row.
void addTally(SiteSummary& row, const SiteTally& tally, int devices = 1);
// The order of site rows: most problems first, then most warnings, then by
// name without regard to case.
bool siteBefore(const SiteSummary& a, const SiteSummary& b);
// The same from each device's tally (a screen passes the tallies it holds).
QList<SiteSummary> sitesOver(const QList<Native::Device>& devices, const QList<Native::Site>& sites,
                             const std::function<SiteTally(const Native::Device&)>& tallyOf);

// ---- Uptime figures -----------------------------------------------------------
// `days` daily percentages of the device, oldest first, today last; -1 for a
// day without any known hour. Cached per store revision and clock hour.
QList<double> dailyUptime(const NativeStore& store, const QString& deviceId, int days, const QDateTime& now);
QList<double> dailyUptime(const QString& deviceId, int days, const QDateTime& now);
// Mean of the entries that are 0 or more; -1 when there is none.
double average(const QList<double>& values);
// Per day the mean of the enabled devices' known daily values; -1 where none.
QList<double> fleetDailyUptime(const NativeStore& store, int days, const QDateTime& now);
QList<double> fleetDailyUptime(int days, const QDateTime& now);
// Forgets every cached daily list.
void clearUptimeCache();

// ---- Clock and time texts -------------------------------------------------------
// Marks an unknown clock drift.
inline constexpr int kUnknownDrift = std::numeric_limits<int>::min();
// The device clock minus this computer's, in seconds, as of the last
// details fetch; kUnknownDrift when either is unknown. Clamped so a wild
// device clock never wraps around.
int clockDriftSecs(const Native::Device& device);
// A duration: "1 min", "12 min", "1 h 5 min", "30 h", "3 days".
QString span(qint64 seconds);
// How long ago: "just now", "5 min ago", "3 h ago", "yesterday", "4 days
// ago", or "never" for an invalid moment.
QString ago(const QDateTime& moment, const QDateTime& now);
// "<n> <singular>" when n is 1, else "<n> <plural>".
QString countText(qint64 n, const QString& singular, const QString& plural);

} // namespace NativeInsights

} // namespace kvr::services
