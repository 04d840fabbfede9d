#include "native/services/CsvImport.h"

#include "app/core/Clock.h"
#include "native/services/AddressCheck.h"
#include "native/services/NativeStore.h"

#include <QSet>

namespace kvr::services {

// The store's side of the CSV import, apart from the row rules so those
// run (and are fuzzed) without a store.
namespace NativeCsv {

namespace {

QDateTime localNow()
{
    return kvr::core::Clock::instance().nowUtc().toLocalTime();
}

} // namespace

ImportResult importFile(NativeStore& store, const QString& path)
{
    QByteArray bytes;
    ImportResult failure;
    if (!readFile(path, &bytes, &failure))
        return failure;
    return importBytes(store, bytes);
}

ImportResult importBytes(NativeStore& store, const QByteArray& bytes)
{
    return store.addImported(plan(store.sites(), store.devices(), bytes, localNow()));
}

} // namespace NativeCsv

NativeStore::ImportResult NativeStore::addImported(NativeCsv::Plan plan, QStringList* ids)
{
    ImportResult result = std::move(plan.result);
    if (plan.refused || plan.devices.isEmpty())
        return result;
    // The plan was made from the inventory as it stood; a recorder added
    // since (by hand, while the file was read) is not listed twice.
    QSet<QString> taken;
    taken.reserve(m_devices.size());
    for (const Native::Device& d : std::as_const(m_devices))
        taken.insert(NativeAddress::recorderKey(d.ip, d.httpPort));
    QSet<QString> usedSites;
    QList<Native::Device> fresh;
    fresh.reserve(plan.devices.size());
    QStringList late;
    for (qsizetype i = 0; i < plan.devices.size(); ++i) {
        Native::Device& d = plan.devices[i];
        if (!taken.contains(NativeAddress::recorderKey(d.ip, d.httpPort))) {
            usedSites.insert(d.siteId);
            fresh.append(std::move(d));
            continue;
        }
        late << QStringLiteral("Row %1: %2:%3 is already in the list.")
                    .arg(plan.rows.value(i))
                    .arg(d.ip)
                    .arg(d.httpPort);
    }
    result.skipped += int(late.size());
    for (const QString& message : std::as_const(late)) {
        if (result.errors.size() < NativeCsv::kMaxMessages)
            result.errors << message;
        else
            ++result.moreErrors;
    }
    result.added = int(fresh.size());
    if (fresh.isEmpty())
        return result;
    for (const Native::Site& s : std::as_const(plan.sites))
        if (usedSites.contains(s.id))
            m_sites.append(s);
    if (ids) {
        ids->clear();
        ids->reserve(fresh.size());
        for (const Native::Device& d : std::as_const(fresh))
            ids->append(d.id);
    }
    m_devices.append(std::move(fresh));
    ++m_editGeneration;
    scheduleSave();
    Q_EMIT changed();
    return result;
}

} // namespace kvr::services
