#include "native/services/CsvImport.h"

#include "native/services/NativeStore.h"

namespace kvr::services {

// The store's side of the CSV import, apart from the row rules so those
// run (and are fuzzed) without a store.
namespace NativeCsv {

namespace {

Inventory inventoryOf(NativeStore& store)
{
    Inventory into;
    into.sites = store.sites();
    into.devices = store.devices();
    into.addSite = [&store](const Native::Site& site) { return store.addSite(site); };
    into.addDevice = [&store](const Native::Device& device, QString* error) { return store.addDevice(device, error); };
    return into;
}

} // namespace

ImportResult importFile(NativeStore& store, const QString& path)
{
    QByteArray bytes;
    ImportResult failure;
    if (!readFile(path, &bytes, &failure))
        return failure;
    return importBytes(inventoryOf(store), bytes);
}

ImportResult importBytes(NativeStore& store, const QByteArray& bytes)
{
    return importBytes(inventoryOf(store), bytes);
}

} // namespace NativeCsv

} // namespace kvr::services
