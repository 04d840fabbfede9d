#include "native/services/CsvImport.h"
#include "tests/native/services/NativeSeed.h"

#include <QFile>
#include <QTemporaryDir>

using namespace kvr::services;

using namespace Native;
using NativeCsv::ImportResult;

namespace {

struct Importer {
    QTemporaryDir dir;
    std::unique_ptr<NativeStore> store;
    int files = 0;

    Importer()
    {
        nativeseed::removeFiles();
        store = std::make_unique<NativeStore>();
    }

    QString write(const QByteArray& bytes)
    {
        const QString path = dir.filePath(QStringLiteral("devices-%1.csv").arg(++files));
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? path : QString();
    }

    ImportResult run(const QByteArray& bytes) { return NativeCsv::importFile(*store, write(bytes)); }

    const Device& last() const { return store->devices().constLast(); }
};

// Each imported device on one line: name, address, ports, login, brand,
// type, channels and site (with its address).
QStringList summaries(const Importer& im)
{
    QStringList out;
    for (const Device& d : im.store->devices()) {
        const std::optional<Site> site = im.store->site(d.siteId);
        out << QString::asprintf("%s %s %d/%d/%d %s:%s %s %s %d @%s (%s)", qUtf8Printable(d.name), qUtf8Printable(d.ip),
                                 d.httpPort, d.rtspPort, d.serverPort, qUtf8Printable(d.username),
                                 qUtf8Printable(d.password), qUtf8Printable(d.manufacturer), qUtf8Printable(d.type),
                                 d.channels, qUtf8Printable(site ? site->name : QString()),
                                 qUtf8Printable(site ? site->address : QString()));
    }
    return out;
}

} // namespace

class TestCsvImport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sampleFileImportsAndRepeatsAreRefused()
    {
        const QString sample = NativeCsv::sampleCsv();
        // The store offers the same sample; it imports whole, once.
        Importer im;
        ImportResult r = im.run(NativeStore::sampleCsv().toUtf8());
        QCOMPARE(r.errors, QStringList());
        QCOMPARE(summaries(im),
                 QStringList({
                     "HQ01 Lobby NVR 192.168.1.50 80/554/8000 admin:lampwick HIKVISION nvr 16 @Head office (4 Canal "
                     "Street, Riverton)",
                     "WH02 Dock DVR 192.168.2.20 80/554/37777 admin:lampwick DAHUA dvr 8 @Warehouse ()",
                 }));
        QCOMPARE(im.store->devices().at(0).cameras.size(), 16);
        // With a byte order mark and CR LF line ends: the same devices.
        Importer crlf;
        QCOMPARE(crlf.run("\xEF\xBB\xBF" + sample.toUtf8().replace("\n", "\r\n")).errors, QStringList());
        QCOMPARE(summaries(crlf), summaries(im));

        const NativeStore::ImportResult again = im.store->importCsv(im.write(sample.toUtf8()));
        QCOMPARE(again.added, 0);
        QCOMPARE(again.errors,
                 QStringList({"Row 2: 192.168.1.50:80 is already in the list.",
                              "Row 3: 192.168.2.20:80 is already in the list."}));
        QCOMPARE(im.store->sites().size(), 2);
    }

    void splittingRows()
    {
        const QList<QStringList> rows =
            NativeCsv::parseRows(QStringLiteral("a,\"b\nc\",\"say \"\"hi\"\"\"\n\n\n,,\n   \nx\"y\"z,\"\"\nlast"));
        QCOMPARE(rows,
                 QList<QStringList>({
                     {"a", "b\nc", "say \"hi\""},
                     {"", "", ""},
                     {"   "},
                     {"xyz", ""},
                     {"last"},
                 }));
        // Letters and digits outside ASCII stay in a header name.
        QCOMPARE(NativeCsv::normalizedHeader(QStringLiteral(" Café-Nº_2 ")), QStringLiteral("cafénº2"));
        QCOMPARE(NativeCsv::parseRows(QString()), QList<QStringList>());
        QCOMPARE(NativeCsv::parseRows(QStringLiteral("\n\r\n\r")), QList<QStringList>());
        // An unclosed quote keeps the rest of the text in its field.
        QCOMPARE(NativeCsv::parseRows(QStringLiteral("\"open,\nstill")), QList<QStringList>({{"open,\nstill"}}));

        Importer im;
        const ImportResult r = im.run("ip,name\n\n10.0.0.1,\"Dock\nNorth\"\n\n,,\n   \n10.0.0.2,Two\n");
        QCOMPARE(r.added, 2);
        QCOMPARE(r.skipped, 2);
        // Blank lines do not count; lines of commas or spaces are rows.
        QCOMPARE(r.errors, QStringList({"Row 3: no IP address.", "Row 4: no IP address."}));
        QCOMPARE(im.store->devices().at(0).name, QStringLiteral("Dock\nNorth"));
        // Lone CR row ends, no final line break.
        QCOMPARE(im.run("ip,name\r10.0.0.3,One\r10.0.0.4,Two").added, 2);
        QCOMPARE(im.last().name, QStringLiteral("Two"));
    }

    // Each header spelling and alias, by the device it gives.
    void headerNamesAndAliases_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QString>("summary");
        auto add = [](const char* name, const char* header, const char* row, const char* summary) {
            QTest::newRow(name) << QByteArray(header) + "\n" + row + "\n" << QString(summary);
        };
        // clang-format off
        add("IP Address", "IP Address", "h", "h h 80/554/8000 : HIKVISION nvr 4 @ ()");
        add("IP-ADDRESS", " IP-ADDRESS ", "h", "h h 80/554/8000 : HIKVISION nvr 4 @ ()");
        add("Site Name", "ip,Site Name", "h,Depot", "h h 80/554/8000 : HIKVISION nvr 4 @Depot ()");
        add("Device Name", "ip,Device Name", "h,Gate", "Gate h 80/554/8000 : HIKVISION nvr 4 @ ()");
        add("name wins", "ip,devicename,name", "h,B,A", "A h 80/554/8000 : HIKVISION nvr 4 @ ()");
        add("ports", "ip,HTTP Port,rtsp_port,Server Port", "h,8080,10554,9000", "h h 8080/10554/9000 : HIKVISION nvr 4 @ ()");
        add("User", "ip,User,Pass", "h,op, pw ", "h h 80/554/8000 op:pw HIKVISION nvr 4 @ ()");
        add("user wins", "ip,user,username", "h,b,a", "h h 80/554/8000 a: HIKVISION nvr 4 @ ()");
        add("Brand", "ip,Brand", "h,dahua", "h h 80/554/8000 : DAHUA nvr 4 @ ()");
        add("Device Manufacturer", "ip,Device Manufacturer", "h,cpplus", "h h 80/554/8000 : CPPLUS nvr 4 @ ()");
        add("Device Type", "ip,Device Type,No. of Channels", "h,DVR,12", "h h 80/554/8000 : HIKVISION dvr 12 @ ()");
        add("DPI ID", "ip,DPI ID,name", "h,D1,Gate", "D1 Gate h 80/554/8000 : HIKVISION nvr 4 @ ()");
        add("Store Code", "ip,Store Code,name", "h,S1,Gate", "S1 Gate h 80/554/8000 : HIKVISION nvr 4 @ ()");
        add("Site Code", "ip,site code", "h,K9", "K9 NVR h 80/554/8000 : HIKVISION nvr 4 @ ()");
        add("Device ID", "ip,Device ID", "h,X", "X NVR h 80/554/8000 : HIKVISION nvr 4 @ ()");
        add("dpiid wins", "ip,code,dpiid", "h,C,D", "D NVR h 80/554/8000 : HIKVISION nvr 4 @ ()");
        add("Location", "ip,site,Location", "h,Depot,Dock Rd", "h h 80/554/8000 : HIKVISION nvr 4 @Depot (Dock Rd)");
        // Two columns of one name: the later one is used.
        add("later column", "IP,ip", "10.0.0.1,h", "h h 80/554/8000 : HIKVISION nvr 4 @ ()");
        // clang-format on
    }

    void headerNamesAndAliases()
    {
        QFETCH(QByteArray, csv);
        Importer im;
        QCOMPARE(im.run(csv).added, 1);
        QTEST(summaries(im).join(""), "summary");
    }

    void fileLevelFailures()
    {
        Importer im;
        QCOMPARE(NativeCsv::importFile(*im.store, im.dir.filePath("missing.csv")).errors,
                 QStringList({"Can't open the file."}));
        const QList<QPair<QByteArray, QString>> cases = {
            {"", "The file is empty."},
            {"\xEF\xBB\xBF\r\n\n", "The file is empty."},
            {"Site Name;IP Address\nDepot;10.0.0.1\n", "The first row needs an ip column."},
            {"site,name\nDepot,Gate\n", "The first row needs an ip column."},
        };
        for (const auto& [bytes, error] : cases) {
            const ImportResult r = im.run(bytes);
            QCOMPARE(r.errors, QStringList{error});
            QCOMPARE(r.added + r.skipped, 0);
        }
        QCOMPARE(im.store->sites().size(), 0);

        // A file far larger than any device list is refused whole.
        QFile f(im.dir.filePath("big.csv"));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("ip\n10.0.0.1\n") > 0
                && f.resize(NativeCsv::kMaxFileBytes + 1));
        f.close();
        QCOMPARE(NativeCsv::importFile(*im.store, f.fileName()).errors,
                 QStringList({"The file is too large to import."}));
        QCOMPARE(im.store->devices().size(), 0);
    }

    void rowChecks()
    {
        Importer im;
        // Two sites of the name already stored: the last of them is used.
        Site yard;
        yard.name = QStringLiteral("yard");
        im.store->addSite(yard);
        const QString lastYard = im.store->addSite(yard);
        const ImportResult r =
            im.run("site,ip,http port,rtsp port,server port,manufacturer,type,channels,code,name,password\n"
                   "Depot,10.0.0.1,0,70000,http,hikvision,IPCAMERA,,,,  secret  \n" // 2
                   "depot,10.0.0.2,8080,,,,camera,,,,\n"                            // 3
                   "DEPOT,10.0.0.1,80,,,,,,,,\n"                                    // 4 duplicate of row 2
                   "Yard,10.0.0.1,8081,,,acme,,,,,\n"                               // 5 unknown brand
                   "Yard,10.0.0.3,,,,,,0,S7,Network Video Recorder,\n"              // 6
                   "Yard,10.0.0.4,,,,,dvr,500,S8,DVR 1,\n"                          // 7
                   ",10.0.0.5,,,,,panel,eight,S9,,\n"                               // 8
                   ",10.0.0.6,,,,,,99999999999999999999,,Network Video Recorder,\n" // 9
                   ",10.0.0.7,,,,,,-4,,,\n"                                         // 10
                   "Lane,10.0.0.8/admin,,,,,,,,,\n"                                 // 11 path in address
                   "Lane,  ,,,,,,,,,\n"                                             // 12
                   "Lane,gate-nvr.local,,,,,,,,,\n"                                 // 13
                   "Lane,Gate-NVR.local,80,,,,,,,,\n");                             // 14 host names ignore case
        QCOMPARE(r.errors,
                 QStringList({
                     "Row 4: 10.0.0.1:80 is already in the list.",
                     "Row 5: unknown manufacturer ACME.",
                     "Row 11: Enter only the IP address or host name, without a path.",
                     "Row 12: no IP address.",
                     "Row 14: Gate-NVR.local:80 is already in the list.",
                 }));
        QCOMPARE(r.skipped, 5);
        // Bad ports keep their defaults; the brand is upper-cased and the
        // type lower-cased; an IP camera without a channel count has one; an
        // unknown type stays an NVR with four channels, silently; channels
        // are held to 1..256; site names match ignoring case, and a site is
        // made only for a row that is added.
        QCOMPARE(summaries(im),
                 QStringList({
                     "10.0.0.1 10.0.0.1 80/554/8000 :secret HIKVISION ipcamera 1 @Depot ()",
                     "10.0.0.2 10.0.0.2 8080/554/8000 : HIKVISION nvr 4 @Depot ()",
                     "S7 NVR 10.0.0.3 80/554/8000 : HIKVISION nvr 1 @yard ()",
                     "S8 DVR 10.0.0.4 80/554/8000 : HIKVISION dvr 256 @yard ()",
                     "S9 PANEL 10.0.0.5 80/554/8000 : HIKVISION panel 4 @ ()",
                     "Network Video Recorder 10.0.0.6 80/554/8000 : HIKVISION nvr 256 @ ()",
                     "10.0.0.7 10.0.0.7 80/554/8000 : HIKVISION nvr 1 @ ()",
                     "gate-nvr.local gate-nvr.local 80/554/8000 : HIKVISION nvr 4 @Lane ()",
                 }));
        QCOMPARE(im.store->sites().size(), 4);
        QCOMPARE(im.store->devices().at(2).siteId, lastYard);

        // With a code and a camera: "camera" is the type label.
        Importer cam;
        QCOMPARE(cam.run("ip,type,code,name\n10.0.0.1,ipcamera,G1,ip camera\n").added, 1);
        QCOMPARE(cam.last().name, QStringLiteral("G1 camera"));
    }

    // IPv6 addresses are taken as written, bare, bracketed or with a zone;
    // one with a port is refused for its port, and the same address
    // written otherwise is the same recorder.
    void ipv6Rows()
    {
        Importer im;
        const ImportResult r = im.run("ip,name\n"
                                      "::1,Loop\n"                 // 2
                                      "[2001:db8::10],Gate\n"      // 3
                                      "fe80::1%eth0,Link\n"        // 4
                                      "[2001:db8::11]:8080,Port\n" // 5
                                      "2001:DB8::10,Gate again\n"  // 6
                                      "2001:db8:::12,Typo\n");     // 7
        QCOMPARE(r.errors,
                 QStringList({
                     "Row 5: Enter the address without a port; the ports have their own fields.",
                     "Row 6: [2001:DB8::10]:80 is already in the list.",
                     "Row 7: 2001:db8:::12 is not a valid IPv6 address.",
                 }));
        QCOMPARE(r.added, 3);
        QStringList ips;
        for (const Device& d : im.store->devices())
            ips << d.ip;
        QCOMPARE(ips, QStringList({"::1", "[2001:db8::10]", "fe80::1%eth0"}));
    }
};

KVR_TEST_MAIN(TestCsvImport)

#include "tst_csv_import.moc"
