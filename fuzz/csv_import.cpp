// fuzz-sources: native/services/CsvImport.cpp native/services/AddressCheck.cpp native/services/Brands.cpp
// fuzz-qt: Qt6Core Qt6Network
//
// A CSV file picked by the user may hold anything. The import must neither
// crash nor loop, must account for every data row (added or skipped with
// one message), and must only ever add devices that pass its row checks.

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

    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const QList<QStringList> rows = NativeCsv::parseRows(text);
    if (r.added != added.size())
        std::abort();
    if (r.skipped + r.added > 0 && r.added + r.skipped != rows.size() - 1)
        std::abort(); // every data row is either added or skipped
    if (r.skipped > 0 && r.errors.size() != r.skipped)
        std::abort(); // one message per skipped row
    const QStringList brands = NativeBrand::manufacturers();
    const QStringList types = NativeBrand::deviceTypes();
    for (const Native::Device& d : added) {
        if (!NativeAddress::isValid(d.ip) || !NativeAddress::isValidPort(d.httpPort)
            || !NativeAddress::isValidPort(d.rtspPort) || !NativeAddress::isValidPort(d.serverPort)
            || d.channels < Native::kMinChannels || d.channels > Native::kMaxChannels
            || !brands.contains(d.manufacturer) || !types.contains(d.type) || d.name.isEmpty())
            std::abort();
    }
    for (const QString& h : rows.value(0))
        (void)NativeCsv::normalizedHeader(h);
    return 0;
}
