// The native store's side of a save that came back, and of a file that
// could not be read at start: what shows is always what the next start will
// read, and the window is told what failed.

#include "native/services/FileNotices.h"
#include "native/services/Logging.h"
#include "native/services/NativeStore.h"
#include "native/services/SecureFile.h"

#include <QHash>
#include <QSet>

namespace kvr::services {

using namespace Native;

void NativeStore::noteUnread(const QString& sentence)
{
    m_unreadNotices << sentence;
    Q_EMIT unreadFiles();
}

QStringList NativeStore::takeUnreadNotices()
{
    return std::exchange(m_unreadNotices, {});
}

void NativeStore::onSaved(const SaveResult& r)
{
    using Outcome = SaveResult::Outcome;
    --m_savesRunning;
    if (r.inventory == Outcome::Written) {
        ++m_inventoryWrites;
        if (r.editGeneration >= m_savedGeneration) {
            m_savedGeneration = r.editGeneration;
            // The lists written before are let go on the writer thread: a
            // large inventory takes a while to free.
            QList<Native::Site> sites = std::exchange(m_savedSites, r.sites);
            QList<Native::Device> devices = std::exchange(m_savedDevices, r.devices);
            m_writer.start([sites = std::move(sites), devices = std::move(devices)] {});
        } else {
            // Changes undone after this write started reached the disk with
            // it: what shows now is written over them.
            scheduleSave();
        }
        if (!std::exchange(m_inventoryProblem, {}).isEmpty())
            Q_EMIT saveProblem(QLatin1String(kInventoryFile), QString());
        Q_EMIT inventorySaved(m_savedGeneration);
    } else if (r.inventory == Outcome::Failed) {
        inventoryWriteFailed(r.editGeneration, r.inventoryError);
    }
    if (r.uptime == Outcome::Written) {
        // Only a history that reached the disk whole counts as saved; what
        // changed since the snapshot goes with the next save.
        if (r.uptimeChange == m_uptime.changeCount())
            m_uptime.clearDirty();
        if (!std::exchange(m_uptimeProblem, {}).isEmpty())
            Q_EMIT saveProblem(QLatin1String(kUptimeFile), QString());
    } else if (r.uptime == Outcome::Failed) {
        qCWarning(lcServices).noquote() << "native store: could not write" << r.uptimePath << "(" << r.uptimeError
                                        << "); the uptime history is written at the next save";
        m_uptimeQueuedChange = 0; // hand it over again next time
        // Said once per run of failures, and again when the reason changes.
        if (std::exchange(m_uptimeProblem, r.uptimeError) != r.uptimeError)
            Q_EMIT saveProblem(QLatin1String(kUptimeFile), FileNotices::uptimeNotSaved(r.uptimePath, r.uptimeError));
    }
}

void NativeStore::inventoryWriteFailed(quint64 generation, const QString& reason)
{
    const QString path = SecureFile::path(QLatin1String(kInventoryFile));
    qCWarning(lcServices).noquote() << "native store: could not write" << path << "(" << reason << ")";
    // Changes people made that are not on disk would be gone at the next
    // start while the window still showed them: they are undone now, and
    // said. A write of check results alone keeps them in memory, to be
    // written at the next save.
    const bool undo = generation > m_savedGeneration && m_editGeneration > m_savedGeneration;
    const QString sentence = FileNotices::inventoryNotSaved(path, reason, undo);
    if (undo) {
        undoUnsavedEdits();
        m_inventoryProblem = reason;
        Q_EMIT inventoryNotSaved(sentence);
        Q_EMIT saveProblem(QLatin1String(kInventoryFile), sentence);
        return;
    }
    qCWarning(lcServices) << "native store: the inventory stays in memory and is written at the next save";
    if (std::exchange(m_inventoryProblem, reason) != reason)
        Q_EMIT saveProblem(QLatin1String(kInventoryFile), sentence);
}

QStringList NativeStore::lostAtEnd() const
{
    QStringList out;
    if (!m_inventoryProblem.isEmpty())
        out << FileNotices::lostAtEnd(FileNotices::File::Inventory, SecureFile::path(QLatin1String(kInventoryFile)),
                                      m_inventoryProblem);
    if (!m_uptimeProblem.isEmpty())
        out << FileNotices::lostAtEnd(FileNotices::File::Uptime, SecureFile::path(QLatin1String(kUptimeFile)),
                                      m_uptimeProblem);
    return out;
}

void NativeStore::undoUnsavedEdits()
{
    qCWarning(lcServices).noquote() << "native store: undoing the changes not written since the last save ("
                                    << m_devices.size() << "devices shown," << m_savedDevices.size() << "saved)";
    QHash<QString, qsizetype> shown;
    shown.reserve(m_devices.size());
    for (qsizetype i = 0; i < m_devices.size(); ++i)
        shown.insert(m_devices.at(i).id, i);
    QList<Device> restored = m_savedDevices;
    QStringList reverted; // devices that stay, with a record other than shown
    QSet<QString> kept;
    kept.reserve(restored.size());
    for (Device& d : restored) {
        kept.insert(d.id);
        const qsizetype i = shown.value(d.id, -1);
        if (i < 0)
            continue;
        // What checks found of a device that stays is no change of a
        // person's: it is kept.
        const Device& now = m_devices.at(i);
        if (sameConnection(now, d))
            d.health = now.health;
        for (Camera& c : d.cameras) {
            if (const Camera* seen = now.camera(c.channelId)) {
                c.online = seen->online;
                c.onlineKnown = seen->onlineKnown;
                c.lastOnline = seen->lastOnline;
                c.lastOffline = seen->lastOffline;
            }
        }
        if (!(d == now))
            reverted << d.id;
    }
    for (const Device& d : std::as_const(m_devices)) {
        if (kept.contains(d.id))
            continue;
        m_uptime.removeDevice(d.id);
        m_lastCheck.remove(d.id);
    }
    m_sites = m_savedSites;
    m_devices = std::move(restored);
    m_deviceIndex.clear();
    // A snapshot of the undone changes not yet written is not written now;
    // one already being written is written over once it is back (onSaved).
    ++m_latestInventory;
    // The lists are the saved ones again, at a count of their own.
    m_savedGeneration = ++m_editGeneration;
    Q_EMIT changed();
    for (const QString& id : std::as_const(reverted))
        Q_EMIT deviceUpdated(id);
}

} // namespace kvr::services
