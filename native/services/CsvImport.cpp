#include "native/services/CsvImport.h"

#include "native/services/AddressCheck.h"
#include "native/services/Brands.h"
#include "native/services/NativeInventory.h"
#include "native/services/Tunables.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <initializer_list>
#include <iterator>
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

// The line (from 1) of a character of the text, for a sentence that points
// at a place in the file.
qsizetype lineAt(const QByteArray& bytes, qsizetype offset)
{
    return bytes.first(std::min(offset, bytes.size())).count('\n') + 1;
}

// Windows-1252 where it differs from Latin-1 (0x80 to 0x9F); 0 marks the
// five bytes the code page leaves undefined.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

Text fromWindows1252(const QByteArray& bytes)
{
    Text out;
    out.encoding = Encoding::Windows1252;
    out.text.resize(bytes.size());
    QChar* to = out.text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uchar b = uchar(bytes.at(i));
        char16_t c = b;
        if (b >= 0x80 && b <= 0x9F) {
            c = kCp1252High[b - 0x80];
            if (c == 0) {
                out.text.clear();
                out.error = QStringLiteral("The file is neither UTF-8 nor Windows-1252 text (byte %1 on line %2 "
                                           "is neither). Save it from the spreadsheet as \"CSV UTF-8\" and import "
                                           "it again.")
                                .arg(QStringLiteral("0x%1").arg(b, 2, 16, QLatin1Char('0')))
                                .arg(lineAt(bytes, i));
                return out;
            }
        }
        to[i] = QChar(c);
    }
    return out;
}

// UTF-16 after its byte-order mark: whole code units, surrogates in pairs.
Text fromUtf16(const QByteArray& bytes, bool bigEndian)
{
    Text out;
    out.encoding = Encoding::Utf16;
    const qsizetype units = (bytes.size() - 2) / 2;
    const auto refuse = [&](qsizetype unit) {
        // Lines counted in code units: a line feed is one unit of value 10.
        qsizetype line = 1;
        for (qsizetype k = 0; k < unit && k < out.text.size(); ++k)
            line += out.text.at(k) == QLatin1Char('\n') ? 1 : 0;
        out.text.clear();
        out.error = QStringLiteral("The file starts as UTF-16 text but is not valid UTF-16 (line %1). Save it "
                                   "from the spreadsheet again and import it again.")
                        .arg(line);
        return out;
    };
    out.text.resize(units);
    QChar* to = out.text.data();
    const auto* from = reinterpret_cast<const uchar*>(bytes.constData()) + 2;
    for (qsizetype i = 0; i < units; ++i) {
        const uchar a = from[2 * i], b = from[2 * i + 1];
        to[i] = QChar(char16_t(bigEndian ? (a << 8 | b) : (b << 8 | a)));
    }
    if ((bytes.size() - 2) % 2 != 0)
        return refuse(units);
    for (qsizetype i = 0; i < units; ++i) {
        const QChar c = out.text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 >= units || !out.text.at(i + 1).isLowSurrogate())
                return refuse(i);
            ++i;
        } else if (c.isLowSurrogate()) {
            return refuse(i);
        }
    }
    return out;
}

// Where the bytes are first not well-formed UTF-8, and whether they hold any
// well-formed multi-byte sequence anywhere (before or after that place).
struct Utf8Scan {
    qsizetype firstBad = -1;
    bool multiByte = false;
};

Utf8Scan scanUtf8(const QByteArray& bytes)
{
    Utf8Scan scan;
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const uchar b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        // The length a lead byte announces, and the range its second byte
        // must fall in (which rules out overlong forms, surrogates and
        // values past U+10FFFF).
        int length = 0;
        uchar low = 0x80, high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            low = b == 0xE0 ? 0xA0 : 0x80;
            high = b == 0xED ? 0x9F : 0xBF;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            low = b == 0xF0 ? 0x90 : 0x80;
            high = b == 0xF4 ? 0x8F : 0xBF;
        }
        bool sound = length > 0 && i + length <= n && p[i + 1] >= low && p[i + 1] <= high;
        for (int k = 2; sound && k < length; ++k)
            sound = p[i + k] >= 0x80 && p[i + k] <= 0xBF;
        if (!sound) {
            if (scan.firstBad < 0)
                scan.firstBad = i;
            ++i;
            continue;
        }
        scan.multiByte = true;
        i += length;
    }
    return scan;
}

} // namespace

Text decode(const QByteArray& bytes)
{
    Text out;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        out = fromUtf16(bytes, bytes.startsWith("\xFE\xFF"));
    } else {
        const QByteArray body = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
        QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        out.text = utf8(body);
        if (utf8.hasError()) {
            // A byte-order mark says UTF-8 in so many words: such a file is
            // refused rather than read as something else.
            if (body.size() != bytes.size()) {
                out.text.clear();
                out.error = QStringLiteral("The file says it is UTF-8 text but is not valid UTF-8. Save it from the "
                                           "spreadsheet again and import it again.");
                return out;
            }
            // Windows-1252 only for a file with no letter written as UTF-8
            // at all: one that mixes both (rows pasted from two files, a
            // stray byte typed in an editor) is refused, since reading it
            // either way turns some of its letters into others.
            const Utf8Scan scan = scanUtf8(body);
            if (scan.multiByte) {
                out.text.clear();
                out.error = QStringLiteral("The file is UTF-8 text except for line %1, whose bytes are not UTF-8. "
                                           "Nothing was imported; correct that line, or save the file from the "
                                           "spreadsheet as \"CSV UTF-8\", and import it again.")
                                .arg(lineAt(body, scan.firstBad));
                return out;
            }
            out = fromWindows1252(bytes);
        }
    }
    if (out.error.isEmpty() && out.text.contains(QChar(0))) {
        out.text.clear();
        out.error = QStringLiteral("The file holds NUL characters: it is not a text file, or it is UTF-16 text "
                                   "without a byte-order mark. Save it from the spreadsheet as \"CSV UTF-8\" and "
                                   "import it again.");
    }
    return out;
}

QString encodingNote(Encoding encoding)
{
    switch (encoding) {
    case Encoding::Utf8:
        break;
    case Encoding::Utf16:
        return QStringLiteral("The file was read as UTF-16 text.");
    case Encoding::Windows1252:
        return QStringLiteral("The file is not UTF-8 text, so it was read as Windows-1252.");
    }
    return {};
}

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

QList<QStringList> parseRows(const QString& text, qsizetype* unclosedRow)
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
    // A quote still open here took everything after it into the last row.
    const bool unclosed = inQuotes;
    endRow();
    if (unclosedRow)
        *unclosedRow = unclosed ? rows.size() : 0;
    return rows;
}

Plan refusal(const QString& reason)
{
    Plan p;
    p.refused = true;
    p.result.errors << reason;
    return p;
}

Plan plan(const QList<Native::Site>& sites, const QList<Device>& devices, const QByteArray& bytes, const QDateTime& now)
{
    return plan(sites, devices, decode(bytes), now);
}

Plan plan(const QList<Native::Site>& sites, const QList<Device>& devices, const Text& decoded, const QDateTime& now)
{
    if (!decoded.error.isEmpty())
        return refusal(decoded.error);
    Plan out;
    ImportResult& result = out.result;
    result.note = encodingNote(decoded.encoding);
    qsizetype unclosed = 0;
    const QList<QStringList> rows = parseRows(decoded.text, &unclosed);
    if (rows.isEmpty())
        return refusal(QStringLiteral("The file is empty."));
    if (unclosed > 0) {
        // The rest of the file would fold into one field of one device, its
        // rows lost without a word: the file is refused whole instead.
        Plan p = refusal(QStringLiteral("Row %1: a quote opens here and never closes, so the rest of the file "
                                        "would be read as one field. Nothing was imported; close the quote and "
                                        "import the file again.")
                             .arg(unclosed));
        p.result.note = result.note;
        return p;
    }

    Columns columns;
    const QStringList& header = rows.first();
    for (int i = 0; i < header.size(); ++i)
        columns.byName.insert(normalizedHeader(header.at(i)), i); // a later column of a name wins
    const int ipCol = columns.find(kIp);
    if (ipCol < 0) {
        Plan p = refusal(QStringLiteral("The first row needs an ip column."));
        p.result.note = result.note;
        return p;
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

    // The longest text each field takes (what its column is called in a
    // row's message): a longer cell refuses its row before anything reads it.
    struct Bound {
        int column;
        const char* field;
        int most;
    };
    const Bound bounds[] = {
        {siteCol, "site", tun::kMaxNameChars},
        {nameCol, "name", tun::kMaxNameChars},
        {ipCol, "IP address", tun::kMaxHostChars},
        {httpCol, "HTTP port", tun::kMaxNumberChars},
        {rtspCol, "RTSP port", tun::kMaxNumberChars},
        {serverCol, "server port", tun::kMaxNumberChars},
        {userCol, "user name", tun::kMaxUserChars},
        {passCol, "password", tun::kMaxPasswordChars},
        {brandCol, "manufacturer", tun::kMaxWordChars},
        {typeCol, "type", tun::kMaxWordChars},
        {channelsCol, "channel count", tun::kMaxNumberChars},
        {codeCol, "code", tun::kMaxCodeChars},
        {addressCol, "address", tun::kMaxAddressChars},
    };

    const QStringList brands = NativeBrand::manufacturers();
    const QStringList types = NativeBrand::deviceTypes();

    // Lookups kept in step with the plan as rows are added, so a large file
    // costs one pass rather than one pass per row.
    QSet<QString> taken;
    taken.reserve(devices.size() + rows.size());
    for (const Device& d : devices)
        taken.insert(NativeAddress::recorderKey(d.ip, d.httpPort));
    QHash<QString, QString> siteByName; // case-folded name -> id; the last one wins
    for (const Native::Site& s : sites)
        siteByName.insert(s.name.toCaseFolded(), s.id);
    out.devices.reserve(rows.size() - 1);

    const QChar lost(QChar::ReplacementCharacter);
    for (qsizetype r = 1; r < rows.size(); ++r) {
        const QStringList& row = rows.at(r);
        const qsizetype number = r + 1;
        auto reject = [&](const QString& message) {
            ++result.skipped;
            if (result.errors.size() < kMaxMessages)
                result.errors << message;
            else
                ++result.moreErrors;
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
        const auto over = std::find_if(std::begin(bounds), std::end(bounds),
                                       [&](const Bound& b) { return cell(row, b.column).size() > b.most; });
        if (over != std::end(bounds)) {
            reject(QStringLiteral("Row %1: the %2 is %3 characters long, and at most %4 are taken. Shorten it and "
                                  "import the row again.")
                       .arg(number)
                       .arg(QLatin1String(over->field))
                       .arg(cell(row, over->column).size())
                       .arg(over->most));
            continue;
        }
        // A character lost before the file reached us (a password that can
        // never log in, a name nobody wrote) is not taken as if it were data.
        if (std::any_of(row.cbegin(), row.cend(), [&](const QString& f) { return f.contains(lost); })) {
            reject(QStringLiteral("Row %1: holds the character %2, which stands for one lost before the file was "
                                  "saved; correct the row and import it again.")
                       .arg(number)
                       .arg(lost));
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
                site.id = Native::newId();
                site.name = siteName;
                if (addressCol >= 0)
                    site.address = cell(row, addressCol);
                out.sites.append(site);
                d.siteId = site.id;
                siteByName.insert(folded, d.siteId);
            }
        }

        Native::makeNew(d, Native::newId(), now);
        out.devices.append(std::move(d));
        out.rows.append(int(number));
        taken.insert(key);
    }
    result.added = int(out.devices.size());
    return out;
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
    Plan p = plan(into.sites, into.devices, bytes, QDateTime::currentDateTime());
    if (p.refused)
        return p.result;
    // The plan's site ids stand for those the inventory gives.
    QHash<QString, QString> siteIds;
    for (const Native::Site& s : std::as_const(p.sites))
        siteIds.insert(s.id, into.addSite(s));
    ImportResult& result = p.result;
    result.added = 0;
    for (Device& d : p.devices) {
        d.siteId = siteIds.value(d.siteId, d.siteId);
        QString error;
        if (into.addDevice(d, &error).isEmpty()) {
            ++result.skipped;
            result.errors << QStringLiteral("%1: %2").arg(d.ip, error);
            continue;
        }
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
