#pragma once

// The process-wide owner of native mode's inventory: sites, devices with
// their health and cameras, the hourly uptime history and the time each
// device was last probed. Every edit, import and probe result goes through
// it; it announces changes and saves itself shortly after them. Main
// thread only.

#include "native/services/CsvImport.h"
#include "native/services/NativeInventory.h"
#include "native/services/NativeRecords.h"
#include "native/services/UptimeHistory.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <memory>
#include <optional>

namespace kvr::services {

class NativeStore : public QObject {
    Q_OBJECT
public:
    // The one store of the process, created (and loaded) on first use; it
    // ends with NativeServices::shutdown(), which calls releaseInstance().
    static NativeStore& instance();
    static void releaseInstance();
    // The process-wide store if it was made; null otherwise.
    static NativeStore* existing();

    // A store that reads the inventory at once and the uptime history on
    // its writer thread (a large fleet's takes seconds): until it arrives
    // the history holds only what was credited since, and what was credited
    // meanwhile is added to what the file held. The application uses
    // instance(); tests make their own.
    explicit NativeStore(QObject* parent = nullptr);
    ~NativeStore() override;

    // ---- Files ----
    // Saves the inventory and, when it changed, the uptime history now: a
    // snapshot is taken here and written on the store's writer thread, so
    // the caller never waits for the disk. Writes run one at a time, in
    // order; a newer snapshot makes an older one not yet started redundant.
    void flush();
    // Waits until every write started so far has finished and its outcome
    // is applied, the reading of the history included (at quit, and in
    // tests).
    void waitForWrites();
    // Whether the history file is still being read.
    bool uptimeLoading() const { return m_uptimeLoading; }
    // Restarts the delayed save (kSaveDelay after the last change, at most
    // kSaveMaxDeferral after the first unsaved one).
    void scheduleSave();
    // How the files read at creation (for the log and for tests).
    Native::ReadStatus inventoryReadStatus() const { return m_inventoryRead; }
    Native::ReadStatus uptimeReadStatus() const { return m_uptimeRead; }
    int inventoryWriteCount() const { return m_inventoryWrites; }
    // The delay the pending save was started with; -1 when none is pending.
    bool saveInProgress() const { return m_savesRunning > 0; }
    // Counts the changes people make (not probe results): a save that
    // reaches the disk reports the count it holds, so a caller can tell when
    // its change is kept (inventorySaved).
    quint64 editGeneration() const { return m_editGeneration; }
    // Whether the last write of a file failed (the window says so until one
    // succeeds).
    bool saveFailing() const { return !m_inventoryProblem.isEmpty() || !m_uptimeProblem.isEmpty(); }
    // What of the files the last writes could not save, one sentence each,
    // as said when the program ends with them unsaved.
    QStringList lostAtEnd() const;
    // What could not be read of the files at start (the inventory, the
    // uptime history; the event log tells its own), one sentence each, said
    // once: the first caller takes them.
    QStringList takeUnreadNotices();

    // ---- Reading ----
    // The lists themselves, read-only: a walk over them copies nothing (a
    // walk over a list returned by value would, as a range-for over it
    // detaches it and copies every record, health and cameras included,
    // which at thousands of devices is most of a busy window's time). A
    // caller that keeps the list across a change of the store keeps a copy
    // (`const QList<Native::Device> all = store.devices();`, which shares
    // the records until one side changes), never the reference; a walk must
    // not change the store. Every change goes through the edit calls below,
    // which save and announce it.
    const QList<Native::Site>& sites() const { return m_sites; }
    const QList<Native::Device>& devices() const { return m_devices; }
    // The device (site) with exactly this id; empty when there is none.
    std::optional<Native::Device> device(const QString& id) const;
    std::optional<Native::Site> site(const QString& id) const;
    bool hasDevice(const QString& id) const { return indexOfDevice(id) >= 0; }
    QString siteName(const QString& id) const;

    // ---- Uptime ----
    QDateTime lastSeenUp(const QString& id) const;
    QList<Native::UptimeCell> uptimeGrid(const QString& id, Native::GraphType type, int channel, int days,
                                         const QDateTime& now) const;
    static double uptimePercent(const QList<Native::UptimeCell>& cells);
    quint64 uptimeRevision() const { return m_uptime.revision(); }
    const Native::UptimeHistory& uptime() const { return m_uptime; }

    // ---- Editing ----
    QString addSite(Native::Site site);
    void updateSite(const Native::Site& site);
    void removeSite(const QString& id);
    // Refuses (returns an empty id, the reason in `error`) a device whose
    // address is not a plain host name or IP address.
    QString addDevice(Native::Device device, QString* error = nullptr);
    // False when there is no such device or its address is refused.
    bool updateDevice(const Native::Device& device, QString* error = nullptr);
    // The first device other than `exceptId` at this address and HTTP port:
    // the same recorder, which what the user enters or imports must not
    // list twice (the entry paths check it; the store takes what it is given).
    std::optional<Native::Device> recorderAt(const QString& ip, int httpPort, const QString& exceptId = {}) const;
    // Why a second record of the recorder listed as `existing` is refused.
    static QString duplicateProblem(const Native::Device& existing);
    void removeDevice(const QString& id);
    void setEnabled(const QString& id, bool enabled, const QString& reason);
    void saveCameras(const QString& id, const QList<Native::Camera>& cameras);
    void applyProbe(const QString& id, const Native::ProbeResult& result);
    static void syncCameras(Native::Device& device);
    // Takes a CSV file's plan in one step (one change, one save): its sites,
    // and its devices but those whose recorder the inventory gained since
    // the plan was made (each becomes a skipped row). `ids`, when given,
    // gets the ids of the devices added.
    NativeCsv::ImportResult addImported(NativeCsv::Plan plan, QStringList* ids = nullptr);

    // ---- CSV import (its rules live in CsvImport) ----
    using ImportResult = NativeCsv::ImportResult;
    ImportResult importCsv(const QString& path) { return NativeCsv::importFile(*this, path); }
    static QString sampleCsv() { return NativeCsv::sampleCsv(); }

    // Where the uptime credit of a probe at `now` starts: the previous probe
    // of the device (invalid: none since start, which credits the last
    // minute), but never more than max(poll minutes x 90, 450) seconds back,
    // with the poll interval clamped to its range.
    static QDateTime creditStart(const QDateTime& lastCheck, const QDateTime& now, int pollMinutes);
    // Milliseconds until the delayed save fires, for a change at `nowMs`
    // when the first unsaved change happened at `firstUnsavedMs`.
    static qint64 saveDelayMs(qint64 nowMs, qint64 firstUnsavedMs);

    static QString newId();

Q_SIGNALS:
    void changed();
    void deviceUpdated(const QString& id);
    // The history file has been read (and joined with what was credited
    // meanwhile); changed() follows.
    void uptimeLoaded();
    // The inventory reached the disk with every change up to `generation`.
    void inventorySaved(quint64 generation);
    // A write of the inventory failed with changes people made in it: those
    // changes were undone, so what shows is what the next start reads
    // (changed() came first). The sentence says what failed and why.
    void inventoryNotSaved(const QString& sentence);
    // A file (its name: kInventoryFile, kUptimeFile) could not be written,
    // or (an empty sentence) its writes work again; said once per run of
    // failures, and again when the reason changes.
    void saveProblem(const QString& file, const QString& sentence);
    // Something of the files at start could not be read (takeUnreadNotices).
    void unreadFiles();

private:
    struct SaveJob;
    struct UptimeRead;
    // What a write gave, handed back from the writer thread.
    struct SaveResult {
        enum class Outcome { NotAsked, Skipped, Written, Failed };
        Outcome inventory = Outcome::NotAsked;
        Outcome uptime = Outcome::NotAsked;
        QString inventoryPath;
        QString uptimePath;
        quint64 uptimeChange = 0; // the history's change count in the snapshot
        quint64 inventoryGeneration = 0;
        quint64 editGeneration = 0; // the changes the written lists hold
        QList<Native::Site> sites;  // what was written, shared with the snapshot
        QList<Native::Device> devices;
        QString inventoryError; // why a write failed, in plain words
        QString uptimeError;
    };

    qsizetype indexOfDevice(const QString& id) const;
    qsizetype indexOfSite(const QString& id) const;
    void load();
    // Runs on the writer thread.
    static UptimeRead readUptime(const QString& path, const QDate& today);
    void onUptimeRead(UptimeRead read);
    void onSaveTimer();
    void startSave();
    // Runs on the writer thread.
    static SaveResult write(const SaveJob& job, quint64 latestInventory, quint64 latestUptime);
    void onSaved(const SaveResult& result);
    // Keeps the bytes beside the file; the copy's path, empty when it
    // could not be written.
    QString keepUnreadCopy(const QString& fileName, const QByteArray& bytes);
    void noteUnread(const QString& sentence);
    void inventoryWriteFailed(quint64 generation, const QString& reason);
    // Puts sites and devices back as the last inventory written holds them,
    // keeping what probes found of the devices that stay.
    void undoUnsavedEdits();
    // Renames a file that was neither read nor copied out of the way of the
    // first write; false (and nothing may be written) when that fails.
    bool moveUnreadAside(const QString& fileName);
    QDateTime now() const;

    QList<Native::Site> m_sites;
    QList<Native::Device> m_devices;
    // Where each id was last seen in m_devices: a hint, checked against the
    // list on every use and built again when it misses, so no change of the
    // list has to keep it up to date.
    mutable QHash<QString, qsizetype> m_deviceIndex;
    Native::UptimeHistory m_uptime;
    // The lists as the inventory file holds them (as read, then as last
    // written), and the changes they hold.
    QList<Native::Site> m_savedSites;
    QList<Native::Device> m_savedDevices;
    quint64 m_editGeneration = 0;
    quint64 m_savedGeneration = 0;
    // Why the last write of each file failed, in plain words; empty while
    // its writes work.
    QString m_inventoryProblem;
    QString m_uptimeProblem;
    QStringList m_unreadNotices;
    QHash<QString, QDateTime> m_lastCheck;
    QTimer m_saveTimer;
    // One thread that writes the files, from snapshots. The generations let
    // a write that a newer snapshot has overtaken be skipped.
    QThreadPool m_writer;
    std::atomic<quint64> m_latestInventory{0};
    std::atomic<quint64> m_latestUptime{0};
    quint64 m_uptimeQueuedChange = 0; // change count of the history last handed over
    int m_savesRunning = 0;
    qint64 m_firstUnsavedMs = -1;
    int m_inventoryWrites = 0;
    Native::ReadStatus m_inventoryRead = Native::ReadStatus::Missing;
    Native::ReadStatus m_uptimeRead = Native::ReadStatus::Missing;
    // A file on disk that was neither read whole nor copied aside: it is
    // never replaced by an empty one, and moved aside before a real save.
    bool m_guardInventory = false;
    bool m_guardUptime = false;
    // While the history file is read: the devices removed meanwhile (their
    // series in the file go too) and whether a save was asked for.
    bool m_uptimeLoading = false;
    QStringList m_removedWhileLoading;
    bool m_saveAfterLoad = false;
};

} // namespace kvr::services
