#pragma once

// The rules of the fleet page, as plain functions over device records: the
// status of a device, the filters, the six summary cards, the order of the
// device table and the content of each of its rows, the pacing of rebuilds
// and the import notice. The window and its table only call these.

#include "native/services/CsvImport.h"
#include "native/services/NativeRecords.h"

#include <QColor>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSharedData>
#include <QString>
#include <QStringList>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kvr::screens {

namespace FleetRules {

// ---- Status ----------------------------------------------------------------------
enum class Status : int {
    Deactivated,
    NotChecked,
    Online,
    Offline,
};

Status statusOf(const services::Native::Device& device);
// Enabled, checked, internet up, and the device down or a port closed.
bool hasInternetIssue(const services::Native::Device& device);

// ---- Filters -----------------------------------------------------------------------
// Indexes of the filter combo boxes.
enum StatusFilter : int { AllStatuses = 0, OnlineOnly, OfflineOnly, NotCheckedOnly, DeactivatedOnly };
enum InternetFilter : int { AllInternet = 0, InternetUp, InternetDown, InternetIssues };
enum NetworkFilter : int { AllNetworks = 0, NetGood, NetDegraded, NetPoor, NetNotChecked };

struct Filters {
    QString search; // as typed; trimmed when matched
    int status = AllStatuses;
    QString brand; // empty: all brands (the list's first entry)
    int internet = AllInternet;
    int network = AllNetworks;

    bool active() const;
    bool operator==(const Filters&) const = default;
};

bool matches(const services::Native::Device& device, const Filters& filters, const QString& siteName);

// ---- Summary cards -------------------------------------------------------------------
enum Card : int { CardDevices = 0, CardOnline, CardOffline, CardCamerasOffline, CardInternetIssues, CardDiskFaults };
inline constexpr int kCardCount = 6;

struct FleetCounts {
    int total = 0;
    int sites = 0; // distinct non-empty site ids
    int active = 0;
    int online = 0;
    int offline = 0;
    int refused = 0;
    int internetIssues = 0;
    int recordersOk = 0;
    int diskFaults = 0;
    int notRecording = 0;
    int cameras = 0;
    int camerasOffline = 0;
    // The middle of the connect times of the devices whose internet is up
    // (the upper of the two middle ones of an even count); -1: none.
    int medianLatency = -1;
};

// What one device adds to the counts (its site aside).
struct DeviceCounts {
    bool active = false;
    bool online = false;
    bool offline = false;
    bool refused = false; // offline, its login refused
    bool internetIssue = false;
    bool recorderOk = false;
    bool diskFault = false;
    bool notRecording = false;
    int latency = -1; // joins the median; -1: does not
    int cameras = 0;
    int camerasOffline = 0;
};
DeviceCounts countDevice(const services::Native::Device& device, bool refused);

struct CardText {
    QString value;
    QString detail; // empty: hidden
};

FleetCounts countFleet(const QList<services::Native::Device>& devices,
                       const std::function<bool(const QString&)>& refused);
std::array<CardText, kCardCount> cardTexts(const FleetCounts& counts);
// Which cards are highlighted for these filters.
std::array<bool, kCardCount> cardHighlights(const Filters& filters);
// "1 site", "3 cameras".
QString plural(int n, const QString& one, const QString& many);

// ---- Recording ------------------------------------------------------------------------
enum class RecordingLevel : int { Good, Short, Poor };
// How well `days` with recordings found of a window of `window` days (>= 1)
// reads: 90% or more is good, 70% or more short, less poor.
RecordingLevel recordingLevel(int days, int window);

// ---- Device table --------------------------------------------------------------------------
// How the row painter draws a cell.
enum PaintKind : int {
    Text = 0,
    DotUp = 1,
    DotDown = 2,
    DotMuted = 3,
    ChipPass = 4,
    ChipFail = 5,
    ChipWarn = 6,
    ChipUnknown = 7,
    ChipPoor = 8,
    ChipInfo = 9,
    Muted = 10,
    Pill = 11,
    Bars = 12,
};

inline constexpr int kColumnCount = 9;
enum Column : int {
    ColDevice = 0,
    ColStatus,
    ColNetwork,
    ColDisk,
    ColRecording,
    ColCameras,
    ColUptime,
    ColLastCheck,
    ColAction
};

struct Cell {
    QString text;
    int kind = Text;
    QString sub;
    QString tip;
    QColor color; // invalid: the kind's own colour
    QList<double> daily;

    bool operator==(const Cell&) const = default;
};

// What a row needs besides the device record.
struct RowInputs {
    QDateTime now;
    bool busy = false;
    bool refused = false;
    QString siteName;
    QDateTime lastSeenUp;
    QList<double> daily;   // seven daily uptime values, oldest first
    QStringList dayLabels; // the seven days' labels, oldest first

    bool operator==(const RowInputs&) const = default;
};

// A device record shared, unchanged, by those who read it (the fleet page's
// cache and the rows it makes), so handing it on costs one reference.
struct SharedDevice : QSharedData {
    explicit SharedDevice(services::Native::Device d) : device(std::move(d)) {}
    services::Native::Device device;
};
using DeviceRef = QExplicitlySharedDataPointer<const SharedDevice>;

// A row's cells, shared between copies of the row until one of them is
// changed: the table's rows are copied into and out of the model on every
// rebuild, and a copy then costs one reference, not nine cells of strings.
// Cells may also be given as the record and inputs they are made from
// (`later`): they are then made the first time any of them is read, so a
// table of thousands of rows makes only the rows it shows.
class Cells {
public:
    using Array = std::array<Cell, kColumnCount>;

    Cells() = default;
    // The cells buildRow makes of the device and `in`, made when first read.
    static Cells later(const DeviceRef& device, const RowInputs& in);

    const Cell& operator[](size_t column) const { return made()[column]; }
    Cell& operator[](size_t column) { return writable()[column]; }
    static constexpr size_t size() { return kColumnCount; }
    // Whether the cells are still to be made.
    bool pending() const { return m_d && !m_d->cells; }

    bool operator==(const Cells& other) const
    {
        if (m_d == other.m_d)
            return true;
        return made() == other.made();
    }

private:
    struct Recipe {
        DeviceRef device;
        RowInputs in;
    };
    struct Data : QSharedData {
        std::unique_ptr<Array> cells; // once made
        std::optional<Recipe> recipe; // until then
        Data() = default;
        Data(const Data& other) : QSharedData(other), cells(std::make_unique<Array>(*other.cells)) {}
    };
    static const Array& empty();
    const Array& made() const;
    Array& writable();

    QExplicitlySharedDataPointer<Data> m_d;
};

// The table's order: rank, worst first, then the place among the names.
struct SortKey {
    int rank = 4;
    int place = 0; // from namePlaces

    bool operator==(const SortKey&) const = default;
};
inline bool sortsBefore(const SortKey& a, const SortKey& b)
{
    return a.rank != b.rank ? a.rank < b.rank : a.place < b.place;
}

struct Row {
    QString id;
    Cells cells;
    // Where the row stands in the table's order (the rows a window shows
    // are in this order, each key once).
    SortKey key;
    // Which content the row has (0: none given): the maker of the rows gives
    // a row a new stamp whenever its content changes, so rows that both have
    // one are told apart without comparing their cells.
    quint64 stamp = 0;

    bool sameAs(const Row& other) const
    {
        if (stamp != 0 && other.stamp != 0)
            return stamp == other.stamp;
        return id == other.id && cells == other.cells;
    }
};

Row buildRow(const services::Native::Device& device, const RowInputs& in);
// Sets the texts of a built row that move on with the clock alone (how long
// ago the device was checked and its info read, how long it has been
// offline) for `in.now`. Returns whether any of them changed; the row's
// shared cells are left alone when none did.
bool setClockTexts(Row& row, const services::Native::Device& device, const RowInputs& in);
// Whether the row of the device tells times relative to now (how long ago it
// was checked and its info read, how long it has been offline).
bool tellsTime(const services::Native::Device& device);
// "IP camera" for "ipcamera", else the type in upper case.
QString typeWord(const QString& type);
// The seven day labels ending today, "ddd d MMM" in the default locale.
QStringList dayLabels(const QDate& today);

// Rank for the table order, lower first; `worstLevel` is the smallest
// finding level of the device (3 when it has none).
int stateRank(const services::Native::Device& device, int worstLevel);

// A name as the table orders it, without regard to case: keys compared as
// plain sequences order names as QString::compare without case does, without
// folding every character again at every comparison of a sort.
using NameKey = std::u32string;
NameKey nameKey(const QString& name);

// A device among the table's names: its site's name and its own, each
// without regard to case, then its id. Worked out once per name, not at
// every comparison of every rebuild's sort.
struct NameOrder {
    NameOrder(const QString& siteName, const QString& deviceName, QString deviceId);
    NameKey site;
    NameKey name;
    QString id;
};
// Site name, then device name, then id: a total order, so that devices with
// equal names never swap between rebuilds.
bool namesBefore(const NameOrder& a, const NameOrder& b);
// The place of each device in that order, 0 first, in the order given.
QList<int> namePlaces(const QList<NameOrder>& devices);

// ---- Rebuild pacing ------------------------------------------------------------------------
// Data changes rebuild at most about once a second and never sooner than
// 120 ms after the change; a filter change shows within 120 ms.
inline constexpr std::chrono::milliseconds kFilterDelay{120};
inline constexpr std::chrono::milliseconds kDataSpacing{1000};
inline constexpr std::chrono::milliseconds kDataSpacingThreshold{880};

// The delay to start the rebuild timer with after a data change, or -1 to
// leave a running timer alone. `sinceLastMs` < 0: no rebuild yet.
int dataRebuildDelay(bool timerActive, qint64 sinceLastMs);
// The same after a filter change; `remainingMs` is the running timer's.
int filterRebuildDelay(bool timerActive, int remainingMs);

// ---- Import notice ---------------------------------------------------------------------------
QString importMessage(int added, int skipped, const QStringList& errors);
// The same for a whole result: how the file was read when it was not
// UTF-8 follows the first line, and messages beyond those kept are counted.
QString importMessage(const services::NativeCsv::ImportResult& result);

} // namespace FleetRules

} // namespace kvr::screens
