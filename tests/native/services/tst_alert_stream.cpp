#include "native/services/AlertStream.h"
#include "tests/support/TestKit.h"

#include <QRandomGenerator>

using namespace AlertStream;

namespace {

QByteArray xmlAlert(const QByteArray& type, const QByteArray& state = "active", int channel = 1,
                    const QByteArray& extra = {})
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
           "<EventNotificationAlert version=\"2.0\" xmlns=\"http://www.isapi.org/ver20/XMLSchema\">\r\n"
           "<ipAddress>10.0.0.9</ipAddress>\r\n<portNo>80</portNo>\r\n"
           "<channelID>" + QByteArray::number(channel) + "</channelID>\r\n"
           "<dateTime>2026-03-02T10:15:00+01:00</dateTime>\r\n"
           "<activePostCount>1</activePostCount>\r\n"
           "<eventType>" + type + "</eventType>\r\n"
           "<eventState>" + state + "</eventState>\r\n"
           "<eventDescription>" + type + " alarm</eventDescription>\r\n"
           + extra +
           "</EventNotificationAlert>\r\n";
}

// One multipart part: delimiter line, headers, body, line break.
QByteArray part(const QByteArray& boundary, const QByteArray& body,
                const QByteArray& type = "application/xml; charset=\"UTF-8\"",
                bool withLength = true, qint64 lengthOverride = -1, const QByteArray& eol = "\r\n")
{
    QByteArray out = "--" + boundary + "\r\nContent-Type: " + type + eol;
    if (withLength)
        out += "Content-Length: "
            + QByteArray::number(lengthOverride >= 0 ? lengthOverride : body.size()) + eol;
    return out + eol + body + "\r\n";
}

QByteArray jpeg(int size)
{
    // Picture bytes, with dashes and a stray tag name inside to tempt the parser.
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 37 + 11) & 0xff);
    b.replace(size / 3, 24, "--<EventNotificationAlert");
    return b;
}

// Feeds the stream in pieces cut at the given sizes (cycled), collecting
// everything the parser returns.
QList<Alert> feedSplit(Parser& p, const QByteArray& stream, const QList<int>& sizes)
{
    QList<Alert> all;
    qsizetype at = 0;
    int i = 0;
    while (at < stream.size()) {
        const int n = sizes.isEmpty() ? int(stream.size()) : std::max(1, sizes[i++ % sizes.size()]);
        all += p.feed(stream.mid(at, n));
        at += n;
    }
    return all;
}

QStringList types(const QList<Alert>& alerts)
{
    QStringList t;
    for (const Alert& a : alerts)
        t << a.type;
    return t;
}

} // namespace

class TestAlertStream : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void multipartWithLengthsAtAnySplit();
    void alertOnlyAfterItsLastByte();
    void boundaryFromContentTypeOrBody();
    void partsWithoutLengthWaitForNextDelimiter();
    void headerEndingsAndEmptyHeaders();
    void picturesAndClosingDelimiterProduceNothing();
    void wrongContentLengths();
    void hugeContentLengthsNeitherOverflowNorLoop();
    void bareXmlDocuments();
    void jsonBodies();
    void xmlFieldRules();
    void deviceTimes();
    void classification_data();
    void classification();
    void labels();
    void bufferCapHoldsForAnyInput();
    void randomStreamsReadTheSameAtAnySplit();
};

void TestAlertStream::multipartWithLengthsAtAnySplit()
{
    QByteArray stream = "preamble text\r\n";
    stream += part("boundary", xmlAlert("VMD"));
    stream += part("boundary", jpeg(3000), "image/jpeg");
    stream += part("boundary", xmlAlert("videoloss", "inactive", 0));
    stream += part("boundary", xmlAlert("linedetection", "active", 3));
    const QStringList expected = {"VMD", "videoloss", "linedetection"};

    const QList<QList<int>> splits = {{}, {1}, {2}, {3, 7}, {13, 1, 64}, {1000}};
    for (const QList<int>& s : splits) {
        Parser p;
        p.setContentType("multipart/mixed; boundary=boundary");
        QCOMPARE(types(feedSplit(p, stream, s)), expected);
        QCOMPARE(p.buffered(), 2); // the last part's line break waits for a delimiter
    }
    // The fields of a parsed part.
    Parser p;
    p.setContentType("multipart/mixed; boundary=boundary");
    const QList<Alert> a = p.feed(part("boundary", xmlAlert("VMD", "active", 4)));
    QCOMPARE(a.size(), 1);
    QCOMPARE(a[0].channel, 4);
    QCOMPARE(a[0].active, true);
    QCOMPARE(a[0].activePostCount, 1);
    QCOMPARE(a[0].description, QStringLiteral("VMD alarm"));
    QCOMPARE(a[0].time.toUTC(), QDateTime(QDate(2026, 3, 2), QTime(9, 15), Qt::UTC));
}

void TestAlertStream::alertOnlyAfterItsLastByte()
{
    const QByteArray body = xmlAlert("VMD");
    const QByteArray stream = part("b", body);
    // Content-Length counts the body only; the alert appears with its last
    // body byte, not before, and exactly once.
    const qsizetype last = stream.size() - 2; // the part's trailing CRLF follows the body
    Parser p;
    p.setContentType("multipart/mixed; boundary=b");
    int seen = 0;
    qsizetype seenAt = -1;
    for (qsizetype i = 0; i < stream.size(); ++i) {
        const QList<Alert> a = p.feed(stream.mid(i, 1));
        if (!a.isEmpty())
            seenAt = i;
        seen += int(a.size());
    }
    QCOMPARE(seen, 1);
    QCOMPARE(seenAt, last - 1);
}

void TestAlertStream::boundaryFromContentTypeOrBody()
{
    // Quoted, with its own leading dashes: both go.
    Parser quoted;
    quoted.setContentType("multipart/mixed; BOUNDARY=\"--MIME_boundary\"; charset=x");
    QCOMPARE(quoted.boundary(), QByteArray("MIME_boundary"));
    QCOMPARE(types(quoted.feed(part("MIME_boundary", xmlAlert("tamperdetection")))),
             QStringList{"tamperdetection"});
    // A content type without one leaves the boundary alone.
    quoted.setContentType("multipart/mixed");
    QCOMPARE(quoted.boundary(), QByteArray("MIME_boundary"));

    // None in the header: learned from the first line of the body, and
    // kept once learned.
    Parser learned;
    learned.setContentType("multipart/mixed");
    QVERIFY(learned.boundary().isEmpty());
    QCOMPARE(types(learned.feed(part("myboundary", xmlAlert("VMD")))), QStringList{"VMD"});
    QCOMPARE(learned.boundary(), QByteArray("myboundary"));
    QCOMPARE(types(learned.feed(part("myboundary", xmlAlert("io")))), QStringList{"io"});

    // Reset forgets it.
    learned.reset();
    QVERIFY(learned.boundary().isEmpty());
    QCOMPARE(learned.buffered(), 0);
}

void TestAlertStream::partsWithoutLengthWaitForNextDelimiter()
{
    Parser p;
    p.setContentType("multipart/mixed; boundary=b");
    QVERIFY(p.feed(part("b", xmlAlert("VMD"), "application/xml", false)).isEmpty());
    QCOMPARE(types(p.feed("--b")), QStringList{"VMD"});
    QVERIFY(p.feed("\r\nContent-Type: application/json\r\n\r\n{\"eventType\":\"io\"}\r\n").isEmpty());
    QCOMPARE(types(p.feed("--b--\r\n")), QStringList{"io"});
    QCOMPARE(p.buffered(), 0);
}

void TestAlertStream::headerEndingsAndEmptyHeaders()
{
    Parser lf;
    lf.setContentType("multipart/mixed; boundary=b");
    QCOMPARE(types(lf.feed(part("b", xmlAlert("VMD"), "application/xml", true, -1, "\n"))),
             QStringList{"VMD"});

    // Whichever blank line comes first ends the headers; the other, later
    // in the body, is body.
    const QByteArray lfBody = xmlAlert("io", "active", 1, "<note>x\r\n\r\ny</note>");
    Parser lfFirst;
    lfFirst.setContentType("multipart/mixed; boundary=b");
    QCOMPARE(types(lfFirst.feed("--b\nContent-Type: application/xml\nContent-Length: "
                                + QByteArray::number(lfBody.size()) + "\n\n" + lfBody)),
             QStringList{"io"});
    const QByteArray crlfBody = xmlAlert("io", "active", 1, "<note>x\n\ny</note>");
    Parser crlfFirst;
    crlfFirst.setContentType("multipart/mixed; boundary=b");
    QCOMPARE(types(crlfFirst.feed(part("b", crlfBody))), QStringList{"io"});

    // A part without any header line.
    Parser none;
    none.setContentType("multipart/mixed; boundary=b");
    QCOMPARE(types(none.feed("--b\r\n\r\n" + xmlAlert("VMD") + "\r\n--b\r\n")), QStringList{"VMD"});
}

void TestAlertStream::picturesAndClosingDelimiterProduceNothing()
{
    Parser p;
    p.setContentType("multipart/mixed; boundary=b");
    QVERIFY(p.feed(part("b", jpeg(20000), "image/jpeg")).isEmpty());
    QVERIFY(p.feed("--b--\r\n").isEmpty());
    QCOMPARE(p.buffered(), 0);
    // A picture without a length that looks like a notification is still
    // a picture.
    QVERIFY(p.feed(part("b", xmlAlert("VMD"), "IMAGE/jpeg", false) + "--b\r\n").isEmpty());
}

void TestAlertStream::wrongContentLengths()
{
    // Too long: the next delimiter ends the part, so the following
    // notification is not swallowed, and nothing waits for bytes that
    // never come.
    Parser longer;
    longer.setContentType("multipart/mixed; boundary=b");
    QByteArray s = part("b", xmlAlert("VMD"), "application/xml", true, 100000)
        + part("b", xmlAlert("io"));
    QCOMPARE(types(longer.feed(s)), QStringList({"VMD", "io"}));

    // Too short: the cut notification is lost, the next one still reads.
    Parser shorter;
    shorter.setContentType("multipart/mixed; boundary=b");
    s = part("b", xmlAlert("VMD"), "application/xml", true, 40) + part("b", xmlAlert("io"));
    QCOMPARE(types(shorter.feed(s)), QStringList{"io"});

    // Not a number: the part runs to the next delimiter.
    Parser junk;
    junk.setContentType("multipart/mixed; boundary=b");
    s = "--b\r\nContent-Type: application/xml\r\nContent-Length: ten\r\n\r\n" + xmlAlert("VMD")
        + part("b", xmlAlert("io"));
    QCOMPARE(types(junk.feed(s)), QStringList({"VMD", "io"}));
}

void TestAlertStream::hugeContentLengthsNeitherOverflowNorLoop()
{
    const QList<QByteArray> lengths = {"2147483647", "2147483648", "4294967295", "4294967296",
                                       "9223372036854775807", "18446744073709551615",
                                       "-1", "-9223372036854775808"};
    for (const QByteArray& len : lengths) {
        Parser p;
        p.setContentType("multipart/mixed; boundary=b");
        const QByteArray s = "--b\r\nContent-Type: application/xml\r\nContent-Length: " + len
            + "\r\n\r\n" + xmlAlert("VMD") + "\r\n";
        // Nothing yet: the part's end is not known.
        QVERIFY(p.feed(s).isEmpty());
        // The next part ends it and is read in turn.
        QCOMPARE(types(p.feed(part("b", xmlAlert("io")) + "--b\r\n")), QStringList({"VMD", "io"}));
        QVERIFY(p.buffered() < 64);
    }
    // A huge length on a picture that keeps coming: the buffer stays capped.
    Parser pic;
    pic.setContentType("multipart/mixed; boundary=b");
    pic.feed("--b\r\nContent-Type: image/jpeg\r\nContent-Length: 9223372036854775807\r\n\r\n");
    const QByteArray chunk(1 << 20, 'x');
    for (int i = 0; i < 10; ++i) {
        QVERIFY(pic.feed(chunk).isEmpty());
        QVERIFY(pic.buffered() <= kMaxBuffer_bytes);
    }
}

void TestAlertStream::bareXmlDocuments()
{
    // No "--" anywhere: documents back to back, text before the first
    // opening tag goes with the first document.
    Parser p;
    p.setContentType("application/xml");
    QByteArray s = "HTTP junk before\r\n" + xmlAlert("VMD") + xmlAlert("diskfull") + xmlAlert("io");
    QCOMPARE(types(feedSplit(p, s, {1})), QStringList({"VMD", "diskfull", "io"}));
    QCOMPARE(p.buffered(), 2); // the line break after the last document
    QVERIFY(p.boundary().isEmpty());

    // An unfinished document stays whole until its closing tag arrives.
    Parser half;
    const QByteArray doc = xmlAlert("nicbroken");
    const qsizetype cut = doc.indexOf("</EventNotificationAlert>") + 10;
    QVERIFY(half.feed(doc.left(cut)).isEmpty());
    QCOMPARE(half.buffered(), cut);
    QCOMPARE(types(half.feed(doc.mid(cut))), QStringList{"nicbroken"});

    // A description holding "--" and a line break after the opening tag
    // does not turn the stream into multipart.
    Parser dashes;
    QCOMPARE(types(dashes.feed(xmlAlert("VMD", "active", 1, "<note>a--b\n</note>"))),
             QStringList{"VMD"});
    QVERIFY(dashes.boundary().isEmpty());
}

void TestAlertStream::jsonBodies()
{
    Alert a;
    QVERIFY(Parser::parseBody(R"({"EventNotificationAlert":{"eventType":"VMD","channelID":3,
        "eventState":"INACTIVE","dateTime":"2026-03-02T10:00:00Z","activePostCount":7,
        "eventDescription":"Motion alarm"}})", "application/json", &a));
    QCOMPARE(a.type, QStringLiteral("VMD"));
    QCOMPARE(a.channel, 3);
    QCOMPARE(a.active, false);
    QCOMPARE(a.activePostCount, 7);
    QCOMPARE(a.description, QStringLiteral("Motion alarm"));
    QCOMPARE(a.time, QDateTime(QDate(2026, 3, 2), QTime(10, 0), Qt::UTC));

    // Top-level fields, recognised by the brace even with an XML type;
    // a channel given as a string is not a number.
    Alert b;
    QVERIFY(Parser::parseBody(R"({"eventType":"io","channelID":"1"})", "application/xml", &b));
    QCOMPARE(b.channel, 0);
    QCOMPARE(b.activePostCount, -1);
    QVERIFY(b.active);
    Alert c;
    QVERIFY(Parser::parseBody(R"({"eventType":"io","channelID":"1","dynChannelID":6})", "text/json", &c));
    QCOMPARE(c.channel, 6);

    Alert d;
    QVERIFY(!Parser::parseBody(R"({"eventType":""})", "application/json", &d));
    QVERIFY(!Parser::parseBody(R"([{"eventType":"VMD"}])", "application/json", &d));
    QVERIFY(!Parser::parseBody(R"({"eventType":5})", "application/json", &d));
    QVERIFY(!Parser::parseBody("{not json", "application/json", &d));
    QVERIFY(!Parser::parseBody("", "application/json", &d));
    QVERIFY(!Parser::parseBody(R"({"eventType":"VMD"})", "image/jpeg", &d));
}

void TestAlertStream::xmlFieldRules()
{
    auto parse = [](const QByteArray& inner, Alert* a) {
        return Parser::parseBody("<EventNotificationAlert xmlns=\"urn:x\">" + inner
                                     + "</EventNotificationAlert>",
                                 "application/xml", a);
    };
    Alert a;
    QVERIFY(parse("<eventType>VMD</eventType><channelID></channelID><dynChannelID> 5 </dynChannelID>", &a));
    QCOMPARE(a.channel, 5);
    QVERIFY(a.active);
    QVERIFY(!a.time.isValid());
    QCOMPARE(a.activePostCount, -1);

    Alert b;
    QVERIFY(parse("<eventType>IO</eventType><inputIOPortID>2</inputIOPortID><eventState>Inactive</eventState>", &b));
    QCOMPARE(b.channel, 2);
    QVERIFY(!b.active);

    // The first eventType wins; deeper elements of the same name are not read.
    Alert c;
    QVERIFY(parse("<Extra><Deeper><eventType>deep</eventType></Deeper></Extra>"
                  "<eventType>vmd</eventType><eventType>io</eventType>"
                  "<eventDescription>M<b>ix</b>ed</eventDescription>", &c));
    QCOMPARE(c.type, QStringLiteral("vmd"));
    QCOMPARE(c.description, QStringLiteral("Med"));

    // Broken XML keeps what was read before the error.
    Alert d;
    QVERIFY(Parser::parseBody("<EventNotificationAlert><eventType>VMD</eventType><channelID>2</chan",
                              "application/xml", &d));
    QCOMPARE(d.type, QStringLiteral("VMD"));

    Alert e;
    QVERIFY(!parse("<channelID>1</channelID>", &e));
    QVERIFY(!Parser::parseBody("<Other><eventType>VMD</eventType></Other>", "application/xml", &e));
    QVERIFY(!Parser::parseBody("   ", "application/xml", &e));
}

void TestAlertStream::deviceTimes()
{
    QCOMPARE(parseDeviceTime("2026-03-02T10:15:00+05:30").toUTC(),
             QDateTime(QDate(2026, 3, 2), QTime(4, 45), Qt::UTC));
    const QDateTime fallback = parseDeviceTime("2026-03-02T10:15:00 local clock");
    QVERIFY(fallback.isValid());
    QCOMPARE(fallback.timeSpec(), Qt::LocalTime);
    QCOMPARE(fallback, QDateTime(QDate(2026, 3, 2), QTime(10, 15)));
    QVERIFY(!parseDeviceTime("yesterday").isValid());
    QVERIFY(!parseDeviceTime("2026-13-45T99:00:00").isValid());
    QVERIFY(!parseDeviceTime("").isValid());
}

void TestAlertStream::classification_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("active");
    QTest::addColumn<int>("kind");
    QTest::newRow("keep-alive") << "videoloss" << false << int(Heartbeat);
    QTest::newRow("video loss") << "VideoLoss" << true << int(VideoLoss);
    const QList<QPair<QStringList, Kind>> table = {
        {{"vmd", "VMD", "pir", "motiondetection"}, Motion},
        {{"linecrossing", "linedetection"}, LineCrossing},
        {{"intrusion", "fielddetection", "regionentrance"}, Intrusion},
        {{"shelteralarm", "videotampering", "tamperdetection"}, Tampering},
        {{"hdfull", "diskfull"}, DiskFull},
        {{"diskerror", "hderror", "diskexception", "hdexception", "nohdd"}, DiskError},
        {{"nicbroken", "networkdisconnected"}, NetworkDown},
        {{"ipconflict"}, IpConflict},
        {{"illaccess", "illegalaccess"}, FailedLogin},
        {{"recordexception", "recordingfailure"}, RecordingFailed},
        {{"videomismatch", "badvideo"}, VideoMismatch},
        {{"io", "alarminput"}, AlarmInput},
        {{"", "motion", "vmdx", "faceDetection"}, Other},
    };
    for (const auto& [words, kind] : table)
        for (const QString& w : words)
            for (bool active : {true, false})
                QTest::addRow("%s/%d", qPrintable(w), int(active)) << w << active << int(kind);
}

void TestAlertStream::classification()
{
    QFETCH(QString, type);
    QFETCH(bool, active);
    QFETCH(int, kind);
    Alert a;
    a.type = type;
    a.active = active;
    QCOMPARE(int(classify(a)), kind);
}

void TestAlertStream::labels()
{
    const QStringList names = {"Heartbeat", "Motion", "Line crossing", "Intrusion", "Video loss",
                               "Tampering", "Disk full", "Disk error", "Network cable unplugged",
                               "IP address conflict", "Failed login attempt", "Recording failed",
                               "Video signal mismatch", "Alarm input", "Other event"};
    for (int k = 0; k < names.size(); ++k)
        QCOMPARE(label(k), names[k]);
    QVERIFY(label(15).isEmpty());
    QVERIFY(label(-1).isEmpty());
}

void TestAlertStream::bufferCapHoldsForAnyInput()
{
    // Megabytes without any frame: emptied once past the cap, then parsing
    // starts afresh.
    Parser bare;
    const QByteArray junk(1 << 20, 'z');
    for (int i = 0; i < 4; ++i)
        bare.feed(junk);
    QCOMPARE(bare.buffered(), 4 << 20);
    bare.feed("z");
    QCOMPARE(bare.buffered(), 0);
    QCOMPARE(types(bare.feed(xmlAlert("VMD"))), QStringList{"VMD"});

    // One enormous chunk never leaves more than the cap behind.
    Parser big;
    big.setContentType("multipart/mixed; boundary=b");
    const QByteArray huge = "--b\r\nContent-Type: image/jpeg\r\n\r\n" + QByteArray(20 << 20, 'q');
    big.feed(huge);
    QVERIFY(big.buffered() <= kMaxBuffer_bytes);
    // A notification that follows is still read after the next delimiter.
    QCOMPARE(types(big.feed("\r\n" + part("b", xmlAlert("io")) + "--b\r\n")), QStringList{"io"});
}

void TestAlertStream::randomStreamsReadTheSameAtAnySplit()
{
    // Streams made of every kind of part the devices send, fed whole, a
    // byte at a time and in random pieces: the same notifications in the
    // same order, however the bytes arrive.
    QRandomGenerator rng(20260302);
    const QList<QByteArray> words = {"VMD", "io", "diskerror", "videoloss", "linedetection"};
    for (int round = 0; round < 60; ++round) {
        QByteArray stream;
        QStringList expected;
        const int parts = 1 + int(rng.bounded(12));
        for (int i = 0; i < parts; ++i) {
            const QByteArray word = words[rng.bounded(int(words.size()))];
            switch (rng.bounded(7)) {
            case 0: // XML with its length
                stream += part("bnd", xmlAlert(word));
                expected << QString::fromLatin1(word);
                break;
            case 1: // XML without a length, "\n" line ends
                stream += part("bnd", xmlAlert(word), "application/xml", false, -1, "\n");
                expected << QString::fromLatin1(word);
                break;
            case 2: // JSON
                stream += part("bnd", "{\"eventType\":\"" + word + "\",\"channelID\":2}", "application/json");
                expected << QString::fromLatin1(word);
                break;
            case 3: // a picture, with or without its length
                stream += part("bnd", jpeg(100 + int(rng.bounded(5000))), "image/jpeg", rng.bounded(2) == 0);
                break;
            case 4: // a length far too long
                stream += part("bnd", xmlAlert(word), "application/xml", true, 1000000);
                expected << QString::fromLatin1(word);
                break;
            case 5: // a closing delimiter, then text before the next part
                stream += "--bnd--\r\nsome text between\r\n";
                break;
            case 6: // a part without a readable notification
                stream += part("bnd", "<Other><eventType>x</eventType></Other>");
                break;
            }
        }
        stream += "--bnd--\r\n"; // ends the last part in every case
        Parser whole;
        whole.setContentType("multipart/mixed; boundary=bnd");
        QCOMPARE(types(whole.feed(stream)), expected);
        Parser bytes;
        bytes.setContentType("multipart/mixed; boundary=bnd");
        QCOMPARE(types(feedSplit(bytes, stream, {1})), expected);
        QList<int> cuts;
        for (int i = 0; i < 16; ++i)
            cuts << 1 + int(rng.bounded(3000));
        Parser pieces;
        pieces.setContentType("multipart/mixed; boundary=bnd");
        QCOMPARE(types(feedSplit(pieces, stream, cuts)), expected);

        // The same notifications as bare XML documents with text between.
        QByteArray bare;
        for (const QString& w : std::as_const(expected))
            bare += "text\r\n" + xmlAlert(w.toLatin1());
        Parser bareBytes;
        QCOMPARE(types(feedSplit(bareBytes, bare, {1})), expected);
        Parser barePieces;
        QCOMPARE(types(feedSplit(barePieces, bare, cuts)), expected);
    }
}

KVR_TEST_MAIN(TestAlertStream)
#include "tst_alert_stream.moc"
