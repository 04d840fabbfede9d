#include "native/services/NativeStore.h"

#include "app/core/Clock.h"
#include "app/core/Settings.h"
#include "app/core/WholeFile.h"
#include "native/services/AddressCheck.h"
#include "native/services/FileNotices.h"
#include "native/services/Logging.h"
#include "native/services/NativeServices.h"
#include "native/services/SavePacing.h"
#include "native/services/SecureFile.h"
#include "native/services/Tunables.h"
#include "native/services/Verdicts.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

using namespace kvr::core;

namespace kvr::services {

using namespace Native;

namespace {

QString statusWord(ReadStatus s)
{
    switch (s) {
    case ReadStatus::Missing:
        return QStringLiteral("missing");
    case ReadStatus::Clean:
        return QStringLiteral("read");
    case ReadStatus::Unreadable:
        return QStringLiteral("unreadable");
    case ReadStatus::Damaged:
        return QStringLiteral("damaged");
    case ReadStatus::OtherVersion:
        return QStringLiteral("of another version");
    }
    return {};
}

int storedPollMinutes()
{
    const int stored = Prefs::get(Prefs::kNativePollMinutes);
    return std::clamp(stored, tun::kPollMinutesMin, tun::kPollMinutesMax);
}

} // namespace

// What one save writes: copies of the lists and of the history (they share
// their data with the store's until either side changes), and where.
struct NativeStore::SaveJob {
    quint64 inventoryGeneration = 0; // 0: the inventory is not written
    quint64 editGeneration = 0;      // the changes the lists hold
    QString inventoryPath;
    QList<Site> sites;
    QList<Device> devices;
    quint64 uptimeGeneration = 0; // 0: the history is not written
    QString uptimePath;
    UptimeHistory uptime;
    QDate today;
};

// What reading the history file gave, handed from the writer thread.
struct NativeStore::UptimeRead {
    QString path;
    ReadStatus status = ReadStatus::Missing;
    UptimeHistory history;
    QStringList problems;
    QByteArray unread;    // the bytes of a file not read cleanly, to keep aside
    qint64 tooLarge = -1; // the size of a file too large to read
};

namespace {
// The process-wide store: made on the main thread by the first instance(),
// deleted by releaseInstance() (NativeServices::shutdown) while the
// application object still exists. Main thread only.
NativeStore* g_store = nullptr;
} // namespace

NativeStore& NativeStore::instance()
{
    if (!g_store) {
        g_store = new NativeStore;
        NativeServices::armShutdown();
    }
    return *g_store;
}

NativeStore* NativeStore::existing()
{
    return g_store;
}

void NativeStore::releaseInstance()
{
    if (!g_store)
        return;
    g_store->flush();
    g_store->waitForWrites();
    delete std::exchange(g_store, nullptr);
}

NativeStore::NativeStore(QObject* parent) : QObject(parent)
{
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(tun::kSaveDelay);
    connect(&m_saveTimer, &QTimer::timeout, this, &NativeStore::onSaveTimer);
    m_writer.setMaxThreadCount(1);
    m_writer.setObjectName(QStringLiteral("native store writer"));
    // What is not on disk yet is written before the application goes.
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] {
            flush();
            waitForWrites();
            for (const QString& lost : lostAtEnd())
                qCWarning(lcServices).noquote() << "native store: at the end:" << lost;
        });
    load();
}

NativeStore::~NativeStore()
{
    // A write under way reads the snapshot, never the store; it is let finish.
    m_writer.waitForDone();
}

QString NativeStore::newId()
{
    return Native::newId();
}

QDateTime NativeStore::now() const
{
    return kvr::core::Clock::instance().nowUtc().toLocalTime();
}

// ---------------------------------------------------------------- files ----

QString NativeStore::keepUnreadCopy(const QString& fileName, const QByteArray& bytes)
{
    // What could not be read is kept beside the file before anything
    // replaces it, so nothing the user had is lost to a damaged save.
    const QString copyName = fileName + QStringLiteral(".unread-") + now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (SecureFile::write(copyName, bytes)) {
        qCWarning(lcServices).noquote() << "native store: the unread file was kept as" << SecureFile::path(copyName);
        return SecureFile::path(copyName);
    } else {
        qCWarning(lcServices).noquote() << "native store: could not keep a copy of" << fileName
                                        << "; it will not be replaced by an empty one";
        if (fileName == QLatin1String(kInventoryFile))
            m_guardInventory = true;
        else
            m_guardUptime = true;
    }
    return {};
}

bool NativeStore::moveUnreadAside(const QString& fileName)
{
    // The file could be neither read nor copied: before anything takes its
    // place it is renamed (which needs no reading), so what it held is
    // still there for the user.
    const QString path = SecureFile::path(fileName);
    if (!QFileInfo::exists(path))
        return true; // gone meanwhile: nothing to lose
    const QString base = path + QStringLiteral(".unread-") + now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = base;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = base + QLatin1Char('-') + QString::number(n);
    if (!QDir().rename(path, aside)) {
        qCWarning(lcServices).noquote() << "native store: could not move the unread" << path
                                        << "aside; it is not replaced";
        return false;
    }
    // It may hold passwords: whatever its mode was, only its owner reads it.
    if (QFileInfo(aside).isFile())
        QFile::setPermissions(aside, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    qCWarning(lcServices).noquote() << "native store: the unread file was moved to" << aside;
    return true;
}

void NativeStore::load()
{
    // Inventory.
    const QString inventoryPath = SecureFile::path(QLatin1String(kInventoryFile));
    const std::optional<QByteArray> inventory = SecureFile::read(QLatin1String(kInventoryFile));
    if (!inventory) {
        if (QFile::exists(inventoryPath)) {
            m_inventoryRead = ReadStatus::Unreadable;
            m_guardInventory = true;
            qCWarning(lcServices).noquote() << "native store:" << inventoryPath
                                            << "exists but cannot be read; starting without devices, and the "
                                               "file will not be replaced by an empty inventory";
            noteUnread(FileNotices::unreadInventory(inventoryPath));
        }
    } else {
        InventoryData data = decodeInventory(*inventory);
        m_inventoryRead = data.status;
        m_sites = std::move(data.sites);
        m_devices = std::move(data.devices);
        if (data.status != ReadStatus::Clean) {
            qCWarning(lcServices).noquote()
                << "native store:" << inventoryPath << "is" << statusWord(data.status) << "-" << m_devices.size()
                << "devices and" << m_sites.size() << "sites were read";
            for (const QString& p : std::as_const(data.problems))
                qCWarning(lcServices).noquote() << "native store:" << p;
            const QString copy =
                inventory->isEmpty() ? QString() : keepUnreadCopy(QLatin1String(kInventoryFile), *inventory);
            noteUnread(FileNotices::damagedInventory(int(m_devices.size()), copy));
        }
    }
    m_savedSites = m_sites;
    m_savedDevices = m_devices;

    // Uptime history: read on the writer thread, so the window does not
    // wait for it, and before any write the thread is given.
    m_uptimeLoading = true;
    const QString uptimePath = SecureFile::path(QLatin1String(kUptimeFile));
    const QDate today = now().date();
    ++m_savesRunning;
    m_writer.start([this, uptimePath, today] {
        UptimeRead read = readUptime(uptimePath, today);
        QMetaObject::invokeMethod(
            this, [this, read = std::move(read)]() mutable { onUptimeRead(std::move(read)); }, Qt::QueuedConnection);
    });
}

NativeStore::UptimeRead NativeStore::readUptime(const QString& path, const QDate& today)
{
    UptimeRead r;
    r.path = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.exists())
            r.status = ReadStatus::Unreadable;
        return r;
    }
    if (file.size() > tun::kUptimeFileMaxBytes) {
        r.status = ReadStatus::Unreadable;
        r.tooLarge = file.size();
        return r;
    }
    r.status = r.history.decode(&file, today, &r.problems, &r.unread);
    return r;
}

void NativeStore::onUptimeRead(UptimeRead read)
{
    --m_savesRunning;
    m_uptimeLoading = false;
    m_uptimeRead = read.status;
    if (read.status == ReadStatus::Unreadable) {
        // Left where it is; the first save of a history moves it aside.
        m_guardUptime = true;
        if (read.tooLarge >= 0)
            qCWarning(lcServices).noquote()
                << "native store:" << read.path << "is too large to be an uptime history ("
                << read.tooLarge / (1024 * 1024) << "MiB); starting without it, and the file "
                << "will be moved aside, not replaced";
        else
            qCWarning(lcServices).noquote()
                << "native store:" << read.path << "exists but cannot be read; starting without uptime history";
        noteUnread(FileNotices::unreadUptime(read.path));
    } else if (read.status != ReadStatus::Clean && read.status != ReadStatus::Missing) {
        qCWarning(lcServices).noquote() << "native store:" << read.path << "is" << statusWord(read.status) << "-"
                                        << read.history.seriesCount() << "series were read";
        for (const QString& p : std::as_const(read.problems))
            qCWarning(lcServices).noquote() << "native store:" << p;
        const QString copy =
            read.unread.isEmpty() ? QString() : keepUnreadCopy(QLatin1String(kUptimeFile), read.unread);
        noteUnread(FileNotices::damagedUptime(copy));
    }
    // What was credited while the file was read joins what it held; a
    // device removed meanwhile takes its stored series with it.
    const UptimeHistory meanwhile = std::exchange(m_uptime, std::move(read.history));
    for (const QString& id : std::as_const(m_removedWhileLoading))
        m_uptime.removeDevice(id);
    m_removedWhileLoading.clear();
    m_uptime.merge(meanwhile);
    if (meanwhile.dirty())
        m_uptime.markDirty();
    m_uptimeQueuedChange = 0;
    if (std::exchange(m_saveAfterLoad, false))
        startSave();
    else if (m_uptime.dirty())
        scheduleSave();
    Q_EMIT uptimeLoaded();
    Q_EMIT changed();
}

qint64 NativeStore::saveDelayMs(qint64 nowMs, qint64 firstUnsavedMs)
{
    return savePacingDelayMs(nowMs, firstUnsavedMs, tun::kSaveDelay, tun::kSaveMaxDeferral);
}

void NativeStore::scheduleSave()
{
    const qint64 nowMs = kvr::core::Clock::instance().monotonicMs();
    if (m_firstUnsavedMs < 0)
        m_firstUnsavedMs = nowMs;
    m_saveTimer.start(int(saveDelayMs(nowMs, m_firstUnsavedMs)));
}

void NativeStore::onSaveTimer()
{
    m_firstUnsavedMs = -1;
    startSave();
}

void NativeStore::flush()
{
    m_saveTimer.stop();
    m_firstUnsavedMs = -1;
    startSave();
}

void NativeStore::startSave()
{
    SaveJob job;
    bool inventory = true;
    if (m_guardInventory) {
        if (m_sites.isEmpty() && m_devices.isEmpty()) {
            qCWarning(lcServices) << "native store: the inventory file was not read, so it is not replaced by "
                                     "an empty inventory";
            inventory = false;
        } else if (!moveUnreadAside(QLatin1String(kInventoryFile))) {
            inventory = false;
            inventoryWriteFailed(m_editGeneration,
                                 QStringLiteral("the unread file in its place could not be moved "
                                                "aside"));
        } else {
            m_guardInventory = false;
        }
    }
    if (inventory) {
        job.inventoryGeneration = ++m_latestInventory;
        job.editGeneration = m_editGeneration;
        job.inventoryPath = SecureFile::path(QLatin1String(kInventoryFile));
        job.sites = m_sites;
        job.devices = m_devices;
    }
    // The history is handed over once per change; it stays marked changed
    // until a write of it is known to have reached the disk.
    bool uptime = m_uptime.dirty() && m_uptimeQueuedChange != m_uptime.changeCount();
    if (uptime && m_uptimeLoading) {
        // Not before the file is read: this history lacks what it holds.
        m_saveAfterLoad = true;
        uptime = false;
    }
    if (uptime && m_guardUptime) {
        if (m_uptime.isEmpty() || !moveUnreadAside(QLatin1String(kUptimeFile)))
            uptime = false;
        else
            m_guardUptime = false;
    }
    if (uptime) {
        job.uptimeGeneration = ++m_latestUptime;
        job.uptimePath = SecureFile::path(QLatin1String(kUptimeFile));
        job.uptime = m_uptime;
        job.today = now().date();
        m_uptimeQueuedChange = m_uptime.changeCount();
    }
    if (!job.inventoryGeneration && !job.uptimeGeneration)
        return;
    ++m_savesRunning;
    m_writer.start([this, job = std::move(job)]() mutable {
        // The snapshot becomes this thread's own first thing: the lists and
        // the history stay unshared on the main thread, where the next
        // check's result then changes its own record instead of copying the
        // whole inventory (a hundred thousand records) to do so.
        job.sites.detach();
        job.devices.detach();
        job.uptime.detach();
        const SaveResult result = write(job, m_latestInventory.load(), m_latestUptime.load());
        QMetaObject::invokeMethod(
            this, [this, result] { onSaved(result); }, Qt::QueuedConnection);
    });
}

NativeStore::SaveResult NativeStore::write(const SaveJob& job, quint64 latestInventory, quint64 latestUptime)
{
    using Outcome = SaveResult::Outcome;
    SaveResult r;
    r.inventoryPath = job.inventoryPath;
    r.uptimePath = job.uptimePath;
    r.uptimeChange = job.uptime.changeCount();
    r.inventoryGeneration = job.inventoryGeneration;
    r.editGeneration = job.editGeneration;
    if (job.inventoryGeneration) {
        if (job.inventoryGeneration < latestInventory) {
            r.inventory = Outcome::Skipped; // a newer snapshot is on its way
        } else {
            r.inventory =
                SecureFile::writeTo(job.inventoryPath, encodeInventory(job.sites, job.devices), &r.inventoryError)
                ? Outcome::Written
                : Outcome::Failed;
            r.sites = job.sites;
            r.devices = job.devices;
        }
    }
    if (job.uptimeGeneration) {
        if (job.uptimeGeneration < latestUptime) {
            r.uptime = Outcome::Skipped;
        } else {
            const WholeFile::Outcome out = WholeFile::write(job.uptimePath, job.uptime.encode(job.today));
            r.uptime = out.ok() ? Outcome::Written : Outcome::Failed;
            r.uptimeError = WholeFile::reason(out);
        }
    }
    return r;
}

void NativeStore::waitForWrites()
{
    // The outcomes were posted to this thread; applying them may start a
    // save (the history once read), which is waited for too.
    do {
        m_writer.waitForDone();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    } while (m_savesRunning > 0);
}

// -------------------------------------------------------------- reading ----

qsizetype NativeStore::indexOfDevice(const QString& id) const
{
    // Screens look devices up one by one across the whole fleet: a walk of
    // the list each time would make that quadratic.
    const auto hinted = [&]() -> qsizetype {
        const qsizetype i = m_deviceIndex.value(id, -1);
        return i >= 0 && i < m_devices.size() && m_devices.at(i).id == id ? i : -1;
    };
    if (const qsizetype i = hinted(); i >= 0)
        return i;
    qsizetype found = -1;
    for (qsizetype i = 0; i < m_devices.size() && found < 0; ++i)
        if (m_devices.at(i).id == id)
            found = i;
    if (found < 0)
        return -1; // an unknown id leaves the hints be
    m_deviceIndex.clear();
    m_deviceIndex.reserve(m_devices.size());
    for (qsizetype i = m_devices.size() - 1; i >= 0; --i)
        m_deviceIndex.insert(m_devices.at(i).id, i); // the first of equal ids wins
    return found;
}

qsizetype NativeStore::indexOfSite(const QString& id) const
{
    if (id.isEmpty())
        return -1;
    for (qsizetype i = 0; i < m_sites.size(); ++i)
        if (m_sites.at(i).id == id)
            return i;
    return -1;
}

std::optional<Device> NativeStore::device(const QString& id) const
{
    const qsizetype i = indexOfDevice(id);
    return i < 0 ? std::nullopt : std::optional<Device>(m_devices.at(i));
}

std::optional<Site> NativeStore::site(const QString& id) const
{
    const qsizetype i = indexOfSite(id);
    return i < 0 ? std::nullopt : std::optional<Site>(m_sites.at(i));
}

QString NativeStore::siteName(const QString& id) const
{
    const qsizetype i = indexOfSite(id);
    return i < 0 ? QString() : m_sites.at(i).name;
}

QDateTime NativeStore::lastSeenUp(const QString& id) const
{
    const qsizetype i = indexOfDevice(id);
    if (i >= 0 && m_devices.at(i).health.lastUp.isValid())
        return m_devices.at(i).health.lastUp;
    return m_uptime.lastUpFromSeries(id);
}

QList<UptimeCell> NativeStore::uptimeGrid(const QString& id, GraphType type, int channel, int days,
                                          const QDateTime& nowAt) const
{
    const qsizetype i = indexOfDevice(id);
    return m_uptime.grid(id, type, channel, days, nowAt, i >= 0 ? m_devices.at(i).createdAt : QDateTime());
}

double NativeStore::uptimePercent(const QList<UptimeCell>& cells)
{
    return UptimeHistory::percent(cells);
}

// -------------------------------------------------------------- editing ----

QString NativeStore::addSite(Site site)
{
    site.id = newId();
    m_sites.append(site);
    ++m_editGeneration;
    scheduleSave();
    Q_EMIT changed();
    return site.id;
}

void NativeStore::updateSite(const Site& updated)
{
    const qsizetype i = indexOfSite(updated.id);
    if (i < 0)
        return;
    m_sites[i] = updated;
    ++m_editGeneration;
    scheduleSave();
    Q_EMIT changed();
}

void NativeStore::removeSite(const QString& id)
{
    QStringList doomed;
    for (const Device& d : std::as_const(m_devices))
        if (d.siteId == id)
            doomed.append(d.id);
    for (const QString& deviceId : std::as_const(doomed))
        removeDevice(deviceId);
    m_sites.removeIf([&](const Site& s) { return s.id == id; });
    ++m_editGeneration;
    scheduleSave();
    Q_EMIT changed();
}

QString NativeStore::addDevice(Device device, QString* error)
{
    device.ip = device.ip.trimmed();
    const QString problem = NativeAddress::problem(device.ip);
    if (!problem.isEmpty()) {
        qCWarning(lcServices).noquote() << "native store: device refused:" << problem;
        if (error)
            *error = problem;
        return {};
    }
    makeNew(device, newId(), now());
    m_devices.append(device);
    ++m_editGeneration;
    scheduleSave();
    Q_EMIT changed();
    return device.id;
}

bool NativeStore::updateDevice(const Device& updated, QString* error)
{
    const qsizetype index = indexOfDevice(updated.id);
    if (index < 0)
        return false;
    const QString ip = updated.ip.trimmed();
    const QString problem = NativeAddress::problem(ip);
    if (!problem.isEmpty()) {
        qCWarning(lcServices).noquote() << "native store: change of device" << updated.id << "refused:" << problem;
        if (error)
            *error = problem;
        return false;
    }
    Device incoming = updated;
    incoming.ip = ip;
    Device* d = &m_devices[index];
    const bool connection = !sameConnection(*d, incoming);
    d->siteId = incoming.siteId;
    d->name = incoming.name;
    d->ip = incoming.ip;
    d->httpPort = incoming.httpPort;
    d->rtspPort = incoming.rtspPort;
    d->serverPort = incoming.serverPort;
    d->username = incoming.username;
    d->password = incoming.password;
    d->manufacturer = incoming.manufacturer;
    d->type = incoming.type;
    // The form names the ignored channels within the count it shows; those
    // above a lowered count keep their marks aside, as their cameras do.
    QList<int> ignored = incoming.ignored;
    for (int ch : std::as_const(d->ignored))
        if (ch > incoming.channels && !ignored.contains(ch))
            ignored.append(ch);
    d->channels = incoming.channels;
    d->ignored = std::move(ignored);
    if (connection) {
        d->health = Health{};
        m_lastCheck.remove(d->id);
    }
    syncCameras(*d);
    const QString id = d->id;
    ++m_editGeneration;
    scheduleSave();
    Q_EMIT changed();
    Q_EMIT deviceUpdated(id);
    return true;
}

std::optional<Device> NativeStore::recorderAt(const QString& ip, int httpPort, const QString& exceptId) const
{
    const QString key = NativeAddress::recorderKey(ip, httpPort);
    for (const Device& d : m_devices)
        if (d.id != exceptId && NativeAddress::recorderKey(d.ip, d.httpPort) == key)
            return d;
    return std::nullopt;
}

QString NativeStore::duplicateProblem(const Device& existing)
{
    return QStringLiteral("%1 is already in the list as \"%2\".")
        .arg(NativeAddress::withPort(existing.ip, existing.httpPort), Native::deviceLabel(existing));
}

void NativeStore::removeDevice(const QString& id)
{
    m_devices.removeIf([&](const Device& d) { return d.id == id; });
    m_uptime.removeDevice(id);
    if (m_uptimeLoading)
        m_removedWhileLoading.append(id);
    m_lastCheck.remove(id);
    ++m_editGeneration;
    scheduleSave();
    Q_EMIT changed();
}

void NativeStore::setEnabled(const QString& id, bool enabled, const QString& reason)
{
    const qsizetype index = indexOfDevice(id);
    if (index < 0)
        return;
    Device* d = &m_devices[index];
    d->enabled = enabled;
    d->disabledReason = enabled ? QString() : reason;
    if (!enabled)
        m_lastCheck.remove(id);
    ++m_editGeneration;
    scheduleSave();
    Q_EMIT changed();
    Q_EMIT deviceUpdated(id);
}

void NativeStore::saveCameras(const QString& id, const QList<Camera>& cameras)
{
    const qsizetype index = indexOfDevice(id);
    if (index < 0)
        return;
    Device* d = &m_devices[index];
    for (const Camera& edited : cameras) {
        Camera* c = d->camera(edited.channelId);
        if (!c)
            continue;
        const QString name = edited.name.trimmed();
        if (!name.isEmpty())
            c->name = name;
        else if (!c->name.isEmpty())
            c->name = QStringLiteral("Camera %1").arg(c->channelId);
        c->blur = (edited.blur >= 1 && edited.blur <= 100) ? edited.blur : 0;
    }
    ++m_editGeneration;
    scheduleSave();
    Q_EMIT changed();
    Q_EMIT deviceUpdated(id);
}

void NativeStore::syncCameras(Device& device)
{
    Native::syncCameras(device);
}

QDateTime NativeStore::creditStart(const QDateTime& lastCheck, const QDateTime& now, int pollMinutes)
{
    const qint64 p = std::clamp(pollMinutes, tun::kPollMinutesMin, tun::kPollMinutesMax);
    const qint64 cap = std::max<qint64>(p * tun::kCreditSecondsPerPollMinute, tun::kCreditFloor.count());
    const QDateTime from = lastCheck.isValid() ? lastCheck : now.addSecs(-tun::kFirstCredit.count());
    // A longer gap (sleep, no network) stays unknown rather than counted up.
    return from.secsTo(now) > cap ? now.addSecs(-cap) : from;
}

void NativeStore::applyProbe(const QString& id, const ProbeResult& result)
{
    const qsizetype index = indexOfDevice(id);
    if (index < 0 || !m_devices.at(index).enabled)
        return;
    Device* d = &m_devices[index];
    const QDateTime at = now();
    Health& h = d->health;
    const Health& r = result.health;

    // The probe's record replaces the kept one, except for the times this
    // store stamps itself and for what the probe did not learn: the details
    // when it fetched none, a recording count it could not make, and within
    // fetched details what the device does not offer (a disk state of a
    // camera) or could not send. Of those, the facts (names, firmware, the
    // clock's offset) stand as the last good answer gave them; the states
    // (disks, cameras) are unknown now, with the reason.
    const Health kept = h;
    h = r;
    h.checkedAt = at;
    h.lastUp = r.device == Passed ? at : kept.lastUp;
    const bool details = result.detailsFetched;
    // A probe stopped at its deadline fetched nothing but says what it
    // could not read.
    const bool asked = details || !r.unread.isEmpty();
    h.unread = asked ? r.unread : kept.unread;
    h.fetchedAt = details ? at : kept.fetchedAt;
    if (!details) {
        h.model = kept.model;
        h.deviceName = kept.deviceName;
        h.serial = kept.serial;
        h.firmware = kept.firmware;
        h.mac = kept.mac;
    }
    if (!details || h.unreadOf(Detail::Clock)) {
        h.deviceTime = kept.deviceTime;
        h.deviceTimeAt = kept.deviceTimeAt;
    }
    if (h.unreadOf(Detail::Firmware) && h.firmware.isEmpty())
        h.firmware = kept.firmware;
    if (h.unreadOf(Detail::DeviceName) && h.deviceName.isEmpty())
        h.deviceName = kept.deviceName;
    if (asked && h.unreadOf(Detail::Disks))
        h.hdd.clear();
    else if (!details || r.hdd.isEmpty())
        h.hdd = kept.hdd;
    if (!details || r.recordingDays < 0) {
        h.recordingDays = kept.recordingDays;
        h.recordingWindow = kept.recordingWindow;
    }

    if (result.channelsKnown && !result.channels.isEmpty()) {
        int highest = 0;
        for (const ChannelInfo& c : result.channels)
            highest = std::max(highest, c.channel);
        if (highest > d->channels) {
            d->channels = std::min(highest, kMaxChannels);
            syncCameras(*d);
        }
    }

    QHash<QString, int> nameCount;
    for (const ChannelInfo& c : result.channels) {
        const QString key = c.name.trimmed().toCaseFolded();
        if (!key.isEmpty())
            ++nameCount[key];
    }
    const bool up = r.device == Passed;
    for (Camera& cam : d->cameras) {
        const ChannelInfo* entry = nullptr;
        for (const ChannelInfo& c : result.channels)
            if (c.channel == cam.channelId)
                entry = &c; // the last one counts
        if (entry && cam.name.isEmpty()) {
            const QString name = entry->name.trimmed();
            if (!name.isEmpty() && nameCount.value(name.toCaseFolded()) < 2)
                cam.name = name;
        }
        if (!up) {
            cam.online = false;
            continue;
        }
        if (asked && h.unreadOf(Detail::CameraStates))
            cam.onlineKnown = false;
        if (entry && entry->onlineKnown) {
            cam.onlineKnown = true;
            cam.online = entry->online;
        }
        if (cam.onlineKnown) {
            if (cam.online)
                cam.lastOnline = at;
            else
                cam.lastOffline = at;
        }
    }

    const QDateTime from = creditStart(m_lastCheck.value(id), at, storedPollMinutes());
    if (from < at) {
        m_uptime.credit(checkedKey(id), from, at);
        if (h.internet == Passed)
            m_uptime.credit(internetKey(id), from, at);
        if (h.device == Passed)
            m_uptime.credit(deviceKey(id), from, at);
        for (const Camera& cam : std::as_const(d->cameras)) {
            if (d->isIgnored(cam.channelId) || !cam.onlineKnown)
                continue;
            m_uptime.credit(cameraKnownKey(id, cam.channelId), from, at);
            if (cam.online)
                m_uptime.credit(cameraKey(id, cam.channelId), from, at);
        }
    }
    m_lastCheck.insert(id, at);
    scheduleSave();
    Q_EMIT deviceUpdated(id);
}

} // namespace kvr::services
