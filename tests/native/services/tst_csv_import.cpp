#include "native/services/CsvImport.h"
#include "native/services/CsvImportJob.h"
#include "tests/native/services/NativeSeed.h"
#include "tests/native/services/NativeTestKit.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

QString fixture(const char* name)
{
    return kvrtest::fixturePath(QStringLiteral("csv/") + QLatin1String(name));
}

QByteArray fixtureBytes(const char* name)
{
    QFile f(fixture(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A file that gives its first bytes, then fails as a disk does.
class FailingFile : public QIODevice {
public:
    FailingFile(QByteArray bytes, qint64 failAt) : m_bytes(std::move(bytes)), m_failAt(failAt)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 max) override
    {
        if (m_at >= m_failAt) {
            setErrorString(QStringLiteral("Input/output error"));
            return -1;
        }
        const qint64 n = std::min(max, m_failAt - m_at);
        memcpy(data, m_bytes.constData() + m_at, size_t(n));
        m_at += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_failAt = 0;
    qint64 m_at = 0;
};

// Runs an import as the window does, to its end.
struct Job {
    CsvImportJob job;
    QSignalSpy finished{&job, &CsvImportJob::finished};
    Job(NativeStore& store, const QString& path) : job(store, path) { job.start(); }
    bool wait() { return finished.size() > 0 || finished.wait(20000); }
};

} // namespace

class TestCsvImport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { CsvImportJob::setOpener({}); }

    // Files as people have them: saved by a spreadsheet on Windows, in
    // UTF-16, or already carrying the marks of a lost character.
    void encodingsPeopleHave()
    {
        Importer im;
        ImportResult r = NativeCsv::importFile(*im.store, fixture("spreadsheet-windows-1252.csv"));
        QCOMPARE(r.errors, QStringList());
        QCOMPARE(r.note, QStringLiteral("The file is not UTF-8 text, so it was read as Windows-1252."));
        QCOMPARE(summaries(im),
                 QStringList({
                     "Tor Ost 10.20.0.1 80/554/8000 admin:Pässwort£1 HIKVISION nvr 8 @Zürich Süd ()",
                     "Einfahrt – Nord 10.20.0.2 80/554/8000 admin:Grüße€2 DAHUA dvr 4 @Zürich Süd ()",
                 }));

        // UTF-16 by its byte-order mark, in either byte order.
        const QByteArray le = fixtureBytes("utf16-with-bom.csv");
        QByteArray be = "\xFE\xFF";
        for (qsizetype i = 2; i + 1 < le.size(); i += 2)
            be.append(le.at(i + 1)).append(le.at(i));
        for (const QByteArray& bytes : {le, be}) {
            Importer u;
            r = u.run(bytes);
            QCOMPARE(r.errors, QStringList());
            QCOMPARE(r.note, QStringLiteral("The file was read as UTF-16 text."));
            QCOMPARE(r.added, 3);
            QCOMPARE(summaries(u).constLast(), "Hof 3 10.30.0.3 80/554/8000 admin:pässwort3 HIKVISION nvr 4 @Köln ()");
        }

        // Not text in any encoding it can be read in: refused whole, said.
        QByteArray oddUtf16 = le;
        oddUtf16.chop(1);
        // Text as UTF-16 with its byte-order mark, code unit by code unit,
        // so that a lone surrogate goes out as it is.
        const auto utf16 = [](const QString& text, bool bigEndian) {
            QByteArray out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
            for (const QChar c : text) {
                const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
                out.append(bigEndian ? hi : lo).append(bigEndian ? lo : hi);
            }
            return out;
        };
        const QString lowAlone(QChar(0xDC00));
        const auto notUtf16 = [](int line) {
            return QStringLiteral("The file starts as UTF-16 text but is not valid UTF-16 (line %1). Save it from the "
                                  "spreadsheet again and import it again.")
                .arg(line);
        };
        const QList<QPair<QByteArray, QString>> refused = {
            {fixtureBytes("neither-utf8-nor-1252.csv"),
             "The file is neither UTF-8 nor Windows-1252 text (byte 0x81 on line 2 is neither). Save it from the "
             "spreadsheet as \"CSV UTF-8\" and import it again."},
            {oddUtf16, notUtf16(4)},
            // A high surrogate with no low one after it; a low one with no
            // high one before it, in a name in either byte order, and at the
            // very end.
            {QByteArray("\xFF\xFEi\0p\0\n\0\x00\xD8\n\0", 12), notUtf16(2)},
            {utf16("ip,name\n10.0.0.1,Gate " + lowAlone + "1\n", false), notUtf16(2)},
            {utf16("ip,name\n10.0.0.1,Gate\n10.0.0.2,Yard " + lowAlone + "\n", true), notUtf16(3)},
            {utf16("ip,name\n10.0.0.1,Gate\n" + lowAlone, false), notUtf16(3)},
            {"\xEF\xBB\xBFip\n10.0.0.1,Z\xFCrich\n",
             "The file says it is UTF-8 text but is not valid UTF-8. Save it from the spreadsheet again and import "
             "it again."},
            // UTF-8 but for a line typed in Windows-1252: read either way,
            // some of its letters would turn into others.
            {fixtureBytes("utf8-with-stray-1252-bytes.csv"),
             "The file is UTF-8 text except for line 3, whose bytes are not UTF-8. Nothing was imported; correct "
             "that line, or save the file from the spreadsheet as \"CSV UTF-8\", and import it again."},
            // The same where the stray byte comes before any UTF-8 letter.
            {"ip,name\n10.0.0.1,Z\xFCrich\n10.0.0.2,Caf\xC3\xA9\n",
             "The file is UTF-8 text except for line 2, whose bytes are not UTF-8. Nothing was imported; correct "
             "that line, or save the file from the spreadsheet as \"CSV UTF-8\", and import it again."},
            // Sequences that only look like UTF-8 (an overlong form, a
            // surrogate) are no letters written as UTF-8: such bytes are
            // Windows-1252, and refused here for a byte it leaves undefined.
            {"ip,name\n10.0.0.1,\xC0\xAF\xED\xA0\x80\x81\n",
             "The file is neither UTF-8 nor Windows-1252 text (byte 0x81 on line 2 is neither). Save it from the "
             "spreadsheet as \"CSV UTF-8\" and import it again."},
            {le.mid(2),
             "The file holds NUL characters: it is not a text file, or it is UTF-16 text without a byte-order mark. "
             "Save it from the spreadsheet as \"CSV UTF-8\" and import it again."},
        };
        Importer none;
        for (const auto& [bytes, error] : refused) {
            r = none.run(bytes);
            QCOMPARE(r.errors, QStringList{error});
            QCOMPARE(r.added + r.skipped, 0);
        }
        QCOMPARE(none.store->devices().size() + none.store->sites().size(), 0);

        // A character lost before the file came (a password that could never
        // log in): that row is refused, the others are taken.
        Importer lost;
        r = NativeCsv::importFile(*lost.store, fixture("replacement-characters.csv"));
        QCOMPARE(r.errors,
                 QStringList({"Row 2: holds the character \uFFFD, which stands for one lost before the file "
                              "was saved; correct the row and import it again."}));
        QCOMPARE(summaries(lost), QStringList({"Gate 10.50.0.2 80/554/8000 :pw2 HIKVISION nvr 4 @Depot ()"}));
    }

    // A cell longer than its field takes refuses its row and says which
    // field; the rows beside it are taken. A cell of 10 MB costs no more
    // than its reading, and its sentence stays short.
    void overLongCellsRefuseTheirRows()
    {
        Importer im;
        ImportResult r = NativeCsv::importFile(*im.store, fixture("over-long-cells.csv"));
        QCOMPARE(r.errors,
                 QStringList({
                     "Row 3: the name is 268 characters long, and at most 256 are taken. Shorten it and import the "
                     "row again.",
                     "Row 4: the password is 129 characters long, and at most 128 are taken. Shorten it and import "
                     "the row again.",
                     "Row 5: the site is 305 characters long, and at most 256 are taken. Shorten it and import the "
                     "row again.",
                     "Row 6: the user name is 72 characters long, and at most 64 are taken. Shorten it and import "
                     "the row again.",
                     "Row 7: the address is 558 characters long, and at most 512 are taken. Shorten it and import "
                     "the row again.",
                 }));
        QCOMPARE(summaries(im),
                 QStringList({
                     "D1 Gate North 10.80.0.1 80/554/8000 admin:pw1 HIKVISION nvr 4 @Depot (1 Dock Road)",
                     "Gate Last 10.80.0.7 80/554/8000 admin:pw7 DAHUA nvr 4 @Depot (1 Dock Road)",
                 }));
        QCOMPARE(im.store->sites().size(), 1);

        // Each field at its bound is taken; one more character refuses it.
        const QString at = QString(256, QLatin1Char('n'));
        const QString host = QStringList(3, QString(63, QLatin1Char('h'))).join(QLatin1Char('.')) + QLatin1Char('.')
            + QString(61, QLatin1Char('h'));
        const QByteArray header = "ip,name,site,user,password,code,brand,type,http port,rtsp port,server port,"
                                  "channels,address\n";
        const auto row = [](const QStringList& cells) { return cells.join(QLatin1Char(',')).toUtf8() + "\n"; };
        const QStringList fit = {host,
                                 at,
                                 at,
                                 QString(64, QLatin1Char('u')),
                                 QString(128, QLatin1Char('p')),
                                 QString(64, QLatin1Char('c')),
                                 QStringLiteral("hikvision"),
                                 QStringLiteral("dvr"),
                                 QString(28, QLatin1Char('0')) + QStringLiteral("8080"),
                                 QString(29, QLatin1Char('0')) + QStringLiteral("554"),
                                 QStringLiteral("+") + QString(27, QLatin1Char('0')) + QStringLiteral("9000"),
                                 QString(32, QLatin1Char('9')),
                                 QString(512, QLatin1Char('a'))};
        const QList<int> most = {253, 256, 256, 64, 128, 64, 64, 64, 32, 32, 32, 32, 512};
        QByteArray file = header + row(fit);
        for (qsizetype i = 0; i < fit.size(); ++i) {
            QStringList longer = fit;
            longer[i] = QString(most.at(i) + 1, QLatin1Char('x'));
            file += row(longer);
        }
        Importer bounds;
        r = bounds.run(file);
        QCOMPARE(r.added, 1);
        QCOMPARE(summaries(bounds).constFirst(),
                 QStringLiteral("%1 %2 %3 8080/554/9000 %4:%5 HIKVISION dvr 256 @%2 (%6)")
                     .arg(QString(64, QLatin1Char('c')), at, host, fit.at(3), fit.at(4), fit.at(12)));
        QStringList fields;
        static const QRegularExpression said(QStringLiteral("^Row (\\d+): the (.+) is (\\d+) characters long, and at "
                                                            "most (\\d+) are taken\\."));
        for (const QString& e : std::as_const(r.errors)) {
            const QRegularExpressionMatch m = said.match(e);
            QVERIFY2(m.hasMatch(), qPrintable(e));
            QCOMPARE(m.captured(3).toInt(), m.captured(4).toInt() + 1);
            fields << m.captured(2);
        }
        QCOMPARE(fields,
                 QStringList({"IP address", "name", "site", "user name", "password", "code", "manufacturer", "type",
                              "HTTP port", "RTSP port", "server port", "channel count", "address"}));

        // A name of 10 MB, as a spreadsheet cell pasted by mistake holds.
        QByteArray huge = "ip,name\n10.0.0.1,";
        huge += QByteArray(10 * 1024 * 1024, 'N');
        huge += "\n10.0.0.2,Gate\n";
        Importer big;
        r = big.run(huge);
        QCOMPARE(r.errors,
                 QStringList({"Row 2: the name is 10485760 characters long, and at most 256 are taken. "
                              "Shorten it and import the row again."}));
        QCOMPARE(summaries(big), QStringList({"Gate 10.0.0.2 80/554/8000 : HIKVISION nvr 4 @ ()"}));
    }

    // A file that cannot be read as it was meant adds nothing at all: the
    // inventory stays as it was.
    void brokenFilesAddNothing()
    {
        Importer im;
        QCOMPARE(im.run("site,ip\nYard,10.0.0.9\n").added, 1);
        const QList<Device> before = im.store->devices();
        const qsizetype sitesBefore = im.store->sites().size();
        // An unclosed quote would fold the 199 rows after it into one name.
        const ImportResult r = NativeCsv::importFile(*im.store, fixture("unclosed-quote.csv"));
        QCOMPARE(r.errors,
                 QStringList({"Row 2: a quote opens here and never closes, so the rest of the file would "
                              "be read as one field. Nothing was imported; close the quote and import "
                              "the file again."}));
        QCOMPARE(r.added + r.skipped, 0);
        QCOMPARE(im.store->devices(), before);
        QCOMPARE(im.store->sites().size(), sitesBefore);

        // Rows past the kept messages are counted.
        QByteArray many = "ip,name\n";
        for (int i = 0; i < NativeCsv::kMaxMessages + 7; ++i)
            many += ",x\n";
        const ImportResult bad = im.run(many);
        QCOMPARE(bad.skipped, NativeCsv::kMaxMessages + 7);
        QCOMPARE(bad.errors.size() + bad.moreErrors, bad.skipped);
        QCOMPARE(bad.moreErrors, 7);
    }

    // The window's import: read away from the window, said as added only
    // once on disk, nothing added when the file fails half way or stalls.
    void importAsTheWindowRunsIt()
    {
        Importer im;
        Job ok(*im.store, fixture("spreadsheet-windows-1252.csv"));
        QVERIFY(ok.wait());
        QCOMPARE(ok.job.result().added, 2);
        QCOMPARE(ok.job.addedIds().size(), 2);
        // On disk: a store made now reads both.
        QCOMPARE(decodeInventory(*SecureFile::read(kInventoryFile)).devices.size(), 2);

        // A read error half way: the rows before it are not added either.
        const QByteArray file = fixtureBytes("unclosed-quote.csv").replace('"', ' ');
        CsvImportJob::setOpener([file](const QString&) { return std::make_unique<FailingFile>(file, 2000); });
        Job failing(*im.store, QStringLiteral("rows.csv"));
        QVERIFY(failing.wait());
        QCOMPARE(failing.job.result().errors,
                 QStringList({"The file could not be read past line 68 (Input/output error). Nothing was imported; "
                              "import it again once it can be read whole."}));
        QCOMPARE(failing.job.result().added, 0);
        QCOMPARE(im.store->devices().size(), 2);
        CsvImportJob::setOpener({});
    }

    void stalledFileAddsNothing()
    {
        kvrtest::TestClock clock;
        Importer im;
        // A pipe that sends three rows and then nothing, its writer still
        // there (a network share that stopped answering reads the same).
        const QString pipe = im.dir.filePath(QStringLiteral("rows.csv"));
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        const int writer = ::open(QFile::encodeName(pipe).constData(), O_RDWR);
        QVERIFY(writer >= 0);
        const QByteArray rows = "ip,name\n10.0.0.1,a\n10.0.0.2,b\n";
        QVERIFY(::write(writer, rows.constData(), size_t(rows.size())) == rows.size());
        Job stalled(*im.store, pipe);
        qint64 seen = 0; // what the job had seen arrive when it last said so
        QObject::connect(&stalled.job, &CsvImportJob::progress, [&] { seen = stalled.job.bytesRead(); });
        QTRY_COMPARE(seen, qint64(rows.size()));
        QVERIFY(stalled.finished.isEmpty());
        // Time passes on the project clock: past the bound, it ends.
        clock.advanceSecs(16);
        QVERIFY(stalled.wait());
        QCOMPARE(stalled.job.result().errors,
                 QStringList({"Nothing more of the file arrived for 15 s (it stopped at line 4). Nothing was "
                              "imported; import it again once it can be read whole."}));
        QCOMPARE(im.store->devices().size(), 0);
        ::close(writer); // the reading thread ends, unheard
    }

    // A save that fails undoes the import and says why; the inventory is
    // what the next start reads.
    void failedSaveUndoesTheImport()
    {
        Importer im;
        QCOMPARE(im.run("ip,name\n10.0.0.1,kept\n").added, 1);
        im.store->flush();
        im.store->waitForWrites();
        const QByteArray onDisk = *SecureFile::read(kInventoryFile);
        QSignalSpy undone(im.store.get(), &NativeStore::inventoryNotSaved);
        {
            nativetest::FileSizeLimit full(onDisk.size() + 200);
            Job job(*im.store, fixture("spreadsheet-windows-1252.csv"));
            QVERIFY(job.wait());
            QCOMPARE(job.job.result().added, 0);
            QVERIFY(job.job.addedIds().isEmpty());
            QCOMPARE(job.job.result().errors.value(0),
                     QStringLiteral("The device list could not be saved in %1 (File too large), so the changes since "
                                    "its last save were undone: what shows is what the next start will read.")
                         .arg(QFileInfo(SecureFile::path(kInventoryFile)).absolutePath()));
        }
        QCOMPARE(undone.size(), 1);
        QCOMPARE(im.store->devices().size(), 1);
        QCOMPARE(im.store->sites().size(), 0);
        QCOMPARE(*SecureFile::read(kInventoryFile), onDisk);
        im.store->waitForWrites();
        NativeStore restarted;
        QCOMPARE(restarted.devices().size(), 1);
    }

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
