#include "native/services/CsvImport.h"

#include "native/services/AddressCheck.h"
#include "native/services/Brands.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <initializer_list>
#include <limits>

namespace kvr::services {

namespace NativeCsv {

namespace {

using Native::Device;

// Normalised header names of each column; the first one the header holds wins.
const std::initializer_list<const char*> kSite = {"site", "sitename"};
const std::initializer_list<const char*> kName = {"name", "devicename"};
const std::initializer_list<const char*> kIp = {"ip", "ipaddress"};
const std::initializer_list<const char*> kHttpPort = {"httpport"};
const std::initializer_list<const char*> kRtspPort = {"rtspport"};
const std::initializer_list<const char*> kServerPort = {"serverport"};
const std::initializer_list<const char*> kUser = {"username", "user"};
const std::initializer_list<const char*> kPassword = {"password", "pass"};
const std::initializer_list<const char*> kManufacturer = {"manufacturer", "brand", "devicemanufacturer"};
const std::initializer_list<const char*> kType = {"type", "devicetype"};
const std::initializer_list<const char*> kChannels = {"channels", "noofchannels"};
const std::initializer_list<const char*> kCode = {"dpiid", "code", "sitecode", "storecode", "deviceid"};
const std::initializer_list<const char*> kAddress = {"address", "location", "siteaddress"};

// Names that say only what the device is, not which one.
const QSet<QString>& genericNames()
{
    static const QSet<QString> names = {
        QStringLiteral("network video recorder"),
        QStringLiteral("embedded net dvr"),
        QStringLiteral("embedded net dvs"),
        QStringLiteral("ip camera"),
        QStringLiteral("nvr"),
        QStringLiteral("dvr"),
        QStringLiteral("nvr 1"),
        QStringLiteral("dvr 1"),
    };
    return names;
}

struct Columns {
    QHash<QString, int> byName;

    int find(std::initializer_list<const char*> names) const
    {
        for (const char* n : names) {
            const auto it = byName.constFind(QLatin1String(n));
            if (it != byName.cend())
                return *it;
        }
        return -1;
    }
};

QString cell(const QStringList& row, int column)
{
    if (column < 0 || column >= row.size())
        return QString();
    return row.at(column).trimmed();
}

// A port cell replaces the default only when it is a usable port number.
int portOr(const QString& text, int fallback)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    return ok && v >= 1 && v <= 65535 ? v : fallback;
}

// A decimal integer of any length, clamped to the channel range; no value
// when the text is not a number.
bool channelCount(const QString& text, int* out)
{
    if (text.isEmpty())
        return false;
    qsizetype i = 0;
    const bool negative = text.at(0) == QLatin1Char('-');
    if (text.at(0) == QLatin1Char('-') || text.at(0) == QLatin1Char('+'))
        i = 1;
    if (i >= text.size())
        return false;
    for (qsizetype k = i; k < text.size(); ++k)
        if (text.at(k) < QLatin1Char('0') || text.at(k) > QLatin1Char('9'))
            return false;
    bool ok = false;
    const qint64 v = text.toLongLong(&ok, 10);
    qint64 n = ok ? v : (negative ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max());
    n = std::clamp<qint64>(n, Native::kMinChannels, Native::kMaxChannels);
    *out = int(n);
    return true;
}

} // namespace

QString normalizedHeader(const QString& text)
{
    const QString lower = text.trimmed().toLower();
    QString out;
    out.reserve(lower.size());
    for (const QChar c : lower)
        if (c.isLetter() || c.isDigit())
            out += c;
    return out;
}

QList<QStringList> parseRows(const QString& text)
{
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool inQuotes = false;
    bool hasContent = false;
    auto endRow = [&] {
        if (hasContent || !field.isEmpty()) {
            row.append(field);
            rows.append(row);
        }
        row.clear();
        field.clear();
        hasContent = false;
        inQuotes = false;
    };
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (inQuotes) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < n && text.at(i + 1) == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else {
                field += c;
            }
            continue;
        }
        if (c == QLatin1Char('"')) {
            inQuotes = true;
            hasContent = true;
        } else if (c == QLatin1Char(',')) {
            row.append(field);
            field.clear();
            hasContent = true;
        } else if (c == QLatin1Char('\n')) {
            endRow();
        } else if (c == QLatin1Char('\r')) {
            if (i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            endRow();
        } else {
            field += c;
            hasContent = true;
        }
    }
    endRow();
    return rows;
}

bool readFile(const QString& path, QByteArray* bytes, ImportResult* failure)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        failure->errors << QStringLiteral("Can't open the file.");
        return false;
    }
    // Read one byte past the cap to tell a file at the cap from a larger one.
    *bytes = file.read(kMaxFileBytes + 1);
    if (bytes->size() > kMaxFileBytes) {
        bytes->clear();
        failure->errors << QStringLiteral("The file is too large to import.");
        return false;
    }
    return true;
}

ImportResult importBytes(const Inventory& into, const QByteArray& bytes)
{
    ImportResult result;
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const QList<QStringList> rows = parseRows(text);
    if (rows.isEmpty()) {
        result.errors << QStringLiteral("The file is empty.");
        return result;
    }

    Columns columns;
    const QStringList& header = rows.first();
    for (int i = 0; i < header.size(); ++i)
        columns.byName.insert(normalizedHeader(header.at(i)), i); // a later column of a name wins
    const int ipCol = columns.find(kIp);
    if (ipCol < 0) {
        result.errors << QStringLiteral("The first row needs an ip column.");
        return result;
    }
    const int siteCol = columns.find(kSite);
    const int nameCol = columns.find(kName);
    const int httpCol = columns.find(kHttpPort);
    const int rtspCol = columns.find(kRtspPort);
    const int serverCol = columns.find(kServerPort);
    const int userCol = columns.find(kUser);
    const int passCol = columns.find(kPassword);
    const int brandCol = columns.find(kManufacturer);
    const int typeCol = columns.find(kType);
    const int channelsCol = columns.find(kChannels);
    const int codeCol = columns.find(kCode);
    const int addressCol = columns.find(kAddress);

    const QStringList brands = NativeBrand::manufacturers();
    const QStringList types = NativeBrand::deviceTypes();

    // Lookups kept in step with the inventory as rows are added, so a large file
    // costs one pass rather than one pass per row.
    QSet<QString> taken;
    for (const Device& d : into.devices)
        taken.insert(NativeAddress::recorderKey(d.ip, d.httpPort));
    QHash<QString, QString> siteByName; // case-folded name -> id; the last one wins
    for (const Native::Site& s : into.sites)
        siteByName.insert(s.name.toCaseFolded(), s.id);

    for (qsizetype r = 1; r < rows.size(); ++r) {
        const QStringList& row = rows.at(r);
        const qsizetype number = r + 1;
        auto reject = [&](const QString& message) {
            ++result.skipped;
            result.errors << message;
        };

        Device d;
        d.httpPort = 80;
        d.rtspPort = 554;
        d.serverPort = 8000;
        d.manufacturer = QStringLiteral("HIKVISION");
        d.type = QStringLiteral("nvr");
        d.enabled = true;

        d.ip = cell(row, ipCol);
        if (d.ip.isEmpty()) {
            reject(QStringLiteral("Row %1: no IP address.").arg(number));
            continue;
        }
        // The address decides where the stored login is sent: only a bare
        // host name or IP address is taken.
        if (const QString problem = NativeAddress::problem(d.ip); !problem.isEmpty()) {
            reject(QStringLiteral("Row %1: %2").arg(number).arg(problem));
            continue;
        }
        d.httpPort = portOr(cell(row, httpCol), d.httpPort);
        d.rtspPort = portOr(cell(row, rtspCol), d.rtspPort);
        d.serverPort = portOr(cell(row, serverCol), d.serverPort);

        const QString key = NativeAddress::recorderKey(d.ip, d.httpPort);
        if (taken.contains(key)) {
            reject(QStringLiteral("Row %1: %2 is already in the list.")
                       .arg(QString::number(number), NativeAddress::withPort(d.ip, d.httpPort)));
            continue;
        }

        const QString brand = cell(row, brandCol).toUpper();
        if (!brand.isEmpty()) {
            if (!brands.contains(brand)) {
                reject(QStringLiteral("Row %1: unknown manufacturer %2.").arg(number).arg(brand));
                continue;
            }
            d.manufacturer = brand;
        }

        const QString type = cell(row, typeCol).toLower();
        if (types.contains(type))
            d.type = type;

        const QString code = cell(row, codeCol);
        const QString name = cell(row, nameCol);
        const bool generic = genericNames().contains(name.toLower());
        const QString typeLabel = d.type == QLatin1String("ipcamera") ? QStringLiteral("camera") : d.type.toUpper();
        if (!code.isEmpty())
            d.name = code + QLatin1Char(' ') + (!name.isEmpty() && !generic ? name : typeLabel);
        else
            d.name = name.isEmpty() ? d.ip : name;

        d.username = cell(row, userCol);
        d.password = cell(row, passCol);

        int channels = 0;
        if (channelCount(cell(row, channelsCol), &channels))
            d.channels = channels;
        else
            d.channels = d.type == QLatin1String("ipcamera") ? 1 : 4;

        const QString siteName = cell(row, siteCol);
        if (!siteName.isEmpty()) {
            const QString folded = siteName.toCaseFolded();
            auto it = siteByName.constFind(folded);
            if (it != siteByName.cend()) {
                d.siteId = *it;
            } else {
                Native::Site site;
                site.name = siteName;
                if (addressCol >= 0)
                    site.address = cell(row, addressCol);
                d.siteId = into.addSite(site);
                siteByName.insert(folded, d.siteId);
            }
        }

        QString error;
        if (into.addDevice(d, &error).isEmpty()) {
            reject(QStringLiteral("Row %1: %2").arg(number).arg(error));
            continue;
        }
        taken.insert(key);
        ++result.added;
    }
    return result;
}

QString sampleCsv()
{
    return QStringLiteral(
        "site,name,ip,http_port,rtsp_port,server_port,username,password,manufacturer,type,channels,code,address\n"
        "Head office,Lobby NVR,192.168.1.50,80,554,8000,admin,lampwick,HIKVISION,nvr,16,HQ01,"
        "\"4 Canal Street, Riverton\"\n"
        "Warehouse,Dock DVR,192.168.2.20,80,554,37777,admin,lampwick,DAHUA,dvr,8,WH02,\n");
}

} // namespace NativeCsv

} // namespace kvr::services
