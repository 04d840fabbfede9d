// fuzz-sources: native/services/CsvImport.cpp native/services/AddressCheck.cpp native/services/Brands.cpp
// fuzz-sources: native/services/NativeInventory.cpp
// fuzz-qt: Qt6Core Qt6Network
//
// A CSV file picked by the user may hold anything. The import must neither
// crash nor loop, must account for every data row (added or skipped with
// one message) or refuse the file whole, and must only ever add devices
// that pass its row checks, none holding a replacement character.

#include "native/services/AddressCheck.h"
#include "native/services/Brands.h"
#include "native/services/CsvImport.h"

#include <cstdint>
#include <cstdlib>

using namespace kvr::services;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));

    QList<Native::Device> added;
    int sites = 0;
    NativeCsv::Inventory into;
    Native::Device existing;
    existing.ip = QStringLiteral("10.0.0.1");
    into.devices = {existing};
    Native::Site depot;
    depot.id = QStringLiteral("site-0");
    depot.name = QStringLiteral("Depot");
    into.sites = {depot};
    into.addSite = [&](const Native::Site&) { return QStringLiteral("site-%1").arg(++sites); };
    into.addDevice = [&](const Native::Device& d, QString* error) {
        if (!NativeAddress::isValid(d.ip)) {
            *error = NativeAddress::problem(d.ip);
            return QString();
        }
        added.append(d);
        return QStringLiteral("device-%1").arg(added.size());
    };

    const NativeCsv::ImportResult r = NativeCsv::importBytes(into, bytes);

    const NativeCsv::Text text = NativeCsv::decode(bytes);
    const QList<QStringList> rows = NativeCsv::parseRows(text.text);
    if (r.added != added.size())
        std::abort();
    if (!text.error.isEmpty() && (r.added > 0 || r.errors != QStringList{text.error}))
        std::abort(); // a file not read as text adds nothing and says why
    if (r.skipped + r.added > 0 && r.added + r.skipped != rows.size() - 1)
        std::abort(); // every data row is either added or skipped
    if (r.skipped > 0 && r.errors.size() + r.moreErrors != r.skipped)
        std::abort(); // one message per skipped row
    const QStringList brands = NativeBrand::manufacturers();
    const QStringList types = NativeBrand::deviceTypes();
    for (const Native::Device& d : added) {
        if (!NativeAddress::isValid(d.ip) || !NativeAddress::isValidPort(d.httpPort)
            || !NativeAddress::isValidPort(d.rtspPort) || !NativeAddress::isValidPort(d.serverPort)
            || d.channels < Native::kMinChannels || d.channels > Native::kMaxChannels
            || !brands.contains(d.manufacturer) || !types.contains(d.type) || d.name.isEmpty())
            std::abort();
        for (const QString& t : {d.name, d.ip, d.username, d.password})
            if (t.contains(QChar(QChar::ReplacementCharacter)))
                std::abort();
    }
    for (const QString& h : rows.value(0))
        (void)NativeCsv::normalizedHeader(h);
    return 0;
}
