#include "native/services/AlertStream.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/support/TestKit.h"

#include <QRandomGenerator>

using namespace kvr::services;

using namespace AlertStream;
using kvrtest::FakeDevice;

namespace {

// A notification as devices send it, with `extra` markup before its end.
QByteArray xmlAlert(const QByteArray& type, const QByteArray& state = "active", int channel = 1,
                    const QByteArray& extra = {})
{
    return FakeDevice::notification(type, state, channel)
        .replace("</EventNotificationAlert>", extra + "</EventNotificationAlert>");
}

// Picture bytes, with dashes and a stray tag name inside to tempt the parser.
QByteArray jpeg(int size)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 37 + 11) & 0xff);
    return b.replace(size / 3, 24, "--<EventNotificationAlert");
}

Parser multipart(const QByteArray& boundary = "b")
{
    Parser p;
    p.setContentType("multipart/mixed; boundary=" + boundary);
    return p;
}

QStringList types(const QList<Alert>& alerts)
{
    QStringList t;
    for (const Alert& a : alerts)
        t << a.type;
    return t;
}

// Feeds the stream in pieces cut at the given sizes (cycled).
QStringList feedSplit(Parser& p, const QByteArray& stream, const QList<int>& sizes)
{
    QList<Alert> all;
    for (qsizetype at = 0, i = 0; at < stream.size();) {
        const int n = std::max(1, sizes[i++ % sizes.size()]);
        all += p.feed(stream.mid(at, n));
        at += n;
    }
    return types(all);
}

} // namespace

class TestAlertStream : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void byteAtATimeGivesEachAlertOnceAfterItsLastByte()
    {
        // The alert comes with the body's last byte, once; the part's line
        // break waits for a delimiter.
        const QByteArray stream = FakeDevice::part("b", xmlAlert("VMD"));
        Parser p = multipart();
        QVERIFY(feedSplit(p, stream.chopped(3), {1}).isEmpty());
        QCOMPARE(types(p.feed(stream.mid(stream.size() - 3, 1))), QStringList{"VMD"});
        QVERIFY(feedSplit(p, stream.right(2), {1}).isEmpty());
        QCOMPARE(p.buffered(), 2);
    }

    void boundaryFromContentTypeOrBody()
    {
        // Quoted, with its own leading dashes: both go; a content type without
        // one leaves it alone.
        Parser quoted;
        quoted.setContentType("multipart/mixed; BOUNDARY=\"--MIME_boundary\"; charset=x");
        QCOMPARE(quoted.boundary(), QByteArray("MIME_boundary"));
        QCOMPARE(types(quoted.feed(FakeDevice::part("MIME_boundary", xmlAlert("tamperdetection")))),
                 QStringList{"tamperdetection"});
        quoted.setContentType("multipart/mixed");
        QCOMPARE(quoted.boundary(), QByteArray("MIME_boundary"));

        // None in the header: learned from the first line of the body and kept.
        Parser learned;
        learned.setContentType("multipart/mixed");
        QCOMPARE(types(learned.feed(FakeDevice::part("myboundary", xmlAlert("VMD")))), QStringList{"VMD"});
        QCOMPARE(learned.boundary(), QByteArray("myboundary"));
        QCOMPARE(types(learned.feed(FakeDevice::part("myboundary", xmlAlert("io")))), QStringList{"io"});
        learned.reset();
        QVERIFY(learned.boundary().isEmpty());
        QCOMPARE(learned.buffered(), 0);
    }

    void partFraming()
    {
        // Without a length a part waits for the next delimiter.
        Parser p = multipart();
        QVERIFY(p.feed(FakeDevice::part("b", xmlAlert("VMD"), "application/xml", -1)).isEmpty());
        QCOMPARE(types(p.feed("--b")), QStringList{"VMD"});
        QVERIFY(p.feed("\r\nContent-Type: application/json\r\n\r\n{\"eventType\":\"io\"}\r\n").isEmpty());
        QCOMPARE(types(p.feed("--b--\r\n")), QStringList{"io"});
        QCOMPARE(p.buffered(), 0);

        // Pictures (even one without a length that looks like a notification)
        // and the closing delimiter give nothing.
        QVERIFY(p.feed(FakeDevice::part("b", jpeg(20000), "image/jpeg") + "--b--\r\n").isEmpty());
        QCOMPARE(p.buffered(), 0);
        QVERIFY(p.feed(FakeDevice::part("b", xmlAlert("VMD"), "IMAGE/jpeg", -1) + "--b\r\n").isEmpty());

        // "\n" header lines; whichever blank line comes first ends the headers
        // and a later one of the other kind is body; a part without headers.
        const QByteArray crlfInside = xmlAlert("io", "active", 1, "<note>x\r\n\r\ny</note>");
        const QList<QByteArray> streams = {
            "--b\nContent-Type: application/xml\nContent-Length: " + QByteArray::number(xmlAlert("io").size()) + "\n\n"
                + xmlAlert("io") + "\r\n",
            "--b\nContent-Type: application/xml\nContent-Length: " + QByteArray::number(crlfInside.size()) + "\n\n"
                + crlfInside,
            FakeDevice::part("b", xmlAlert("io", "active", 1, "<note>x\n\ny</note>")),
            "--b\r\n\r\n" + xmlAlert("io") + "\r\n--b\r\n",
        };
        for (const QByteArray& s : streams) {
            Parser q = multipart();
            QCOMPARE(types(q.feed(s)), QStringList{"io"});
        }
    }

    void contentLengths()
    {
        // Too long: the next delimiter ends the part, the following notification
        // is not swallowed; too short: the cut one is lost; junk: runs to the
        // next delimiter. Huge values must neither overflow nor wait forever.
        for (const char* length : {"100000", "40", "ten", "2147483647", "2147483648", "4294967295", "4294967296",
                                   "9223372036854775807", "18446744073709551615", "-1", "-9223372036854775808"}) {
            Parser p = multipart();
            // Nothing yet: no part's end is known.
            QVERIFY(p.feed("--b\r\nContent-Type: application/xml\r\nContent-Length: " + QByteArray(length) + "\r\n\r\n"
                           + xmlAlert("VMD") + "\r\n")
                        .isEmpty());
            QCOMPARE(types(p.feed(FakeDevice::part("b", xmlAlert("io")) + "--b\r\n")),
                     qstrcmp(length, "40") ? QStringList({"VMD", "io"}) : QStringList{"io"});
            QVERIFY(p.buffered() < 64);
        }

        // A length a few bytes too long ends inside the next delimiter. Fed
        // whole, the delimiter ends the part; the same when the bytes arrive
        // cut inside that delimiter, at the declared length or before it (the
        // part after it was lost when the cut fell there).
        const QByteArray doc = xmlAlert("VMD");
        const QByteArray first = "--b\r\nContent-Length: " + QByteArray::number(doc.size() + 4) + "\r\n\r\n" + doc;
        const QByteArray stream = first + "\r\n" + FakeDevice::part("b", xmlAlert("io")) + "--b--\r\n";
        for (int cut = 1; cut <= 6; ++cut) {
            Parser p = multipart();
            QCOMPARE(feedSplit(p, stream, {int(first.size()) + cut, int(stream.size())}), QStringList({"VMD", "io"}));
        }
        // A body that merely ends like the start of a delimiter is given once
        // the bytes after it show that no delimiter follows.
        const QByteArray dashed = doc + "\r\n-";
        Parser dash = multipart();
        QVERIFY(
            dash.feed("--b\r\nContent-Length: " + QByteArray::number(dashed.size()) + "\r\n\r\n" + dashed).isEmpty());
        QCOMPARE(types(dash.feed("\r\n")), QStringList{"VMD"});
        QVERIFY(dash.buffered() < 8);
        // The same under a long boundary, as devices name them: the first
        // byte that cannot continue the delimiter gives the part, rather than
        // as many bytes as the delimiter is long (a last alert waited for the
        // device's next one).
        const QByteArray dashes = doc + "\r\n--";
        Parser named = multipart("MIME_boundary");
        QVERIFY(
            named.feed("--MIME_boundary\r\nContent-Length: " + QByteArray::number(dashes.size()) + "\r\n\r\n" + dashes)
                .isEmpty());
        QCOMPARE(types(named.feed("\r")), QStringList{"VMD"});
        // A declared end right where a delimiter begins (no line break
        // between the body and it) is a whole part: given with the bytes
        // that complete it, whatever part of the delimiter came with them,
        // not once the device's next part brings the rest.
        for (const QByteArray& boundary : {QByteArray("b"), QByteArray("MIME_boundary")}) {
            for (const QByteArray& start : {QByteArray("-"), QByteArray("--"), "--" + boundary.left(3)}) {
                Parser exact = multipart(boundary);
                QCOMPARE(types(exact.feed("--" + boundary + "\r\nContent-Length: " + QByteArray::number(doc.size())
                                          + "\r\n\r\n" + doc + start)),
                         QStringList{"VMD"});
            }
        }
    }

    void bareXmlDocuments()
    {
        // An unfinished document stays whole until its closing tag arrives.
        Parser half;
        const QByteArray doc = xmlAlert("nicbroken");
        const qsizetype cut = doc.indexOf("</EventNotificationAlert>") + 10;
        QVERIFY(half.feed(doc.left(cut)).isEmpty());
        QCOMPARE(half.buffered(), cut);
        QCOMPARE(types(half.feed(doc.mid(cut))), QStringList{"nicbroken"});

        // "--" and a line break inside a description do not make it multipart.
        Parser dashes;
        QCOMPARE(types(dashes.feed(xmlAlert("VMD", "active", 1, "<note>a--b\n</note>"))), QStringList{"VMD"});
        QVERIFY(dashes.boundary().isEmpty());
    }

    void bodies()
    {
        // One notification body with its part's type, read into one line:
        // type, channel, state, repeat count, description and time; empty
        // when it is not read.
        auto xml = [](const QByteArray& inner) {
            return "<EventNotificationAlert xmlns=\"urn:x\">" + inner + "</EventNotificationAlert>";
        };
        const QByteArray json = "application/json", xmlType = "application/xml";
        const QList<std::tuple<QByteArray, QByteArray, QString>> rows = {
            {R"({"EventNotificationAlert":{"eventType":"VMD","channelID":3,"eventState":"INACTIVE",
              "dateTime":"2026-03-02T10:00:00Z","activePostCount":7,"eventDescription":"M"}})",
             json, "VMD 3 off 7 M 2026-03-02T10:00:00Z"},
            // Recognised by the brace even with an XML type; a channel given as
            // a string is no number, the dynamic one is.
            {R"({"eventType":"io","channelID":"1"})", xmlType, "io 0 on -1  -"},
            {R"({"eventType":"io","channelID":"1","dynChannelID":6})", "text/json", "io 6 on -1  -"},
            {xml("<eventType>VMD</eventType><channelID></channelID><dynChannelID> 5 </dynChannelID>"), xmlType,
             "VMD 5 on -1  -"},
            {xml("<eventType>IO</eventType><inputIOPortID>2</inputIOPortID><eventState>Inactive</eventState>"), xmlType,
             "IO 2 off -1  -"},
            // The first top-level eventType wins; markup inside a text is dropped.
            {xml("<Extra><Deeper><eventType>deep</eventType></Deeper></Extra><eventType>vmd</eventType>"
                 "<eventType>io</eventType><eventDescription>M<b>ix</b>ed</eventDescription>"),
             xmlType, "vmd 0 on -1 Med -"},
            // Broken XML keeps what was read before the error.
            {"<EventNotificationAlert><eventType>VMD</eventType><channelID>2</chan", xmlType, "VMD 2 on -1  -"},
            {R"({"eventType":""})", json, {}},
            {R"([{"eventType":"VMD"}])", json, {}},
            {"{not json", json, {}},
            {R"({"eventType":"VMD"})", "image/jpeg", {}},
            {xml("<channelID>1</channelID>"), xmlType, {}},
            {"<Other><eventType>VMD</eventType></Other>", xmlType, {}},
            {"   ", xmlType, {}},
        };
        for (const auto& [body, type, expected] : rows) {
            Alert a;
            const bool read = Parser::parseBody(body, type, &a);
            const QString time = a.time.isValid() ? a.time.toUTC().toString(Qt::ISODate) : "-";
            QCOMPARE(read ? QString::asprintf("%s %d %s %d %s %s", qPrintable(a.type), a.channel,
                                              a.active ? "on" : "off", a.activePostCount, qPrintable(a.description),
                                              qPrintable(time))
                          : QString(),
                     expected);
        }
    }

    void deviceTimes()
    {
        // ISO 8601 with its zone, else the first 19 characters as local time
        // (written without a zone).
        QStringList read;
        for (const char* text :
             {"2026-03-02T10:15:00+05:30", "2026-03-02T10:15:00 local", "yesterday", "2026-13-45T99", ""})
            read << parseDeviceTime(text).toString(Qt::ISODate);
        QCOMPARE(read, QStringList({"2026-03-02T10:15:00+05:30", "2026-03-02T10:15:00", "", "", ""}));
    }

    void classification()
    {
        // Every word of a kind in either state, but an inactive "videoloss" is
        // the keep-alive; unknown words are Other. The words read wrongly:
        QStringList wrong;
        auto check = [&](const QString& word, bool active, Kind kind) {
            Alert a;
            a.type = word;
            a.active = active;
            if (classify(a) != kind || label(kind).isEmpty())
                wrong << QStringLiteral("%1/%2").arg(word).arg(active);
        };
        check("videoloss", false, Heartbeat);
        check("VideoLoss", true, VideoLoss);
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
                    check(w, active, kind);
        QCOMPARE(wrong, QStringList());
        QVERIFY(label(15).isEmpty() && label(-1).isEmpty());
    }

    void bufferCapHoldsForAnyInput()
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
        // The emptied buffer gives its memory back: a stream per device
        // must not each keep megabytes they no longer use.
        QVERIFY(bare.bufferMemory() < 1 << 20);
        QCOMPARE(types(bare.feed(xmlAlert("VMD"))), QStringList{"VMD"});
        // So does a buffer emptied from outside, keeping what it learned.
        Parser held = multipart();
        held.feed("--b\r\nContent-Type: image/jpeg\r\n\r\n" + junk);
        held.dropBuffered();
        QVERIFY(held.buffered() == 0 && held.bufferMemory() == 0);
        QCOMPARE(types(held.feed(FakeDevice::part("b", xmlAlert("io")))), QStringList{"io"});

        // One enormous chunk never leaves more than the cap behind, and a
        // notification after the next delimiter is still read.
        Parser big = multipart();
        big.feed("--b\r\nContent-Type: image/jpeg\r\n\r\n" + QByteArray(20 << 20, 'q'));
        QVERIFY(big.buffered() <= kMaxBuffer_bytes);
        QCOMPARE(types(big.feed("\r\n" + FakeDevice::part("b", xmlAlert("io")) + "--b\r\n")), QStringList{"io"});

        // A huge length on a picture that keeps coming.
        Parser pic = multipart();
        pic.feed("--b\r\nContent-Type: image/jpeg\r\nContent-Length: 9223372036854775807\r\n\r\n");
        for (int i = 0; i < 10; ++i) {
            QVERIFY(pic.feed(junk).isEmpty());
            QVERIFY(pic.buffered() <= kMaxBuffer_bytes);
        }
    }

    void randomStreamsReadTheSameAtAnySplit()
    {
        // Streams made of every kind of part the devices send, fed whole, a byte
        // at a time and in random pieces: the same notifications in order.
        QRandomGenerator rng(20260302);
        const QList<QByteArray> words = {"VMD", "io", "diskerror", "videoloss", "linedetection"};
        for (int round = 0; round < 60; ++round) {
            QByteArray stream = "preamble\r\n";
            QStringList expected;
            const int parts = 1 + int(rng.bounded(12));
            for (int i = 0; i < parts; ++i) {
                const QByteArray word = words[rng.bounded(int(words.size()))];
                const QByteArray doc = xmlAlert(word);
                // Notifications as XML (with or without a length, or one far too
                // long) or JSON; a picture, an early closing delimiter with text
                // after it, a document that is no notification.
                const QByteArray choices[] = {
                    FakeDevice::part("bnd", doc),
                    "--bnd\nContent-Type: application/xml\n\n" + doc + "\r\n",
                    FakeDevice::part("bnd", "{\"eventType\":\"" + word + "\",\"channelID\":2}", "application/json"),
                    FakeDevice::part("bnd", doc, "application/xml", 1000000),
                    FakeDevice::part("bnd", jpeg(100 + int(rng.bounded(5000))), "image/jpeg", rng.bounded(2) ? -1 : -2),
                    "--bnd--\r\nsome text between\r\n",
                    FakeDevice::part("bnd", "<Other><eventType>x</eventType></Other>"),
                };
                const int kind = int(rng.bounded(7));
                stream += choices[kind];
                if (kind < 4)
                    expected << QString::fromLatin1(word);
            }
            stream += "--bnd--\r\n"; // ends the last part in every case
            QList<int> cuts;
            for (int i = 0; i < 16; ++i)
                cuts << 1 + int(rng.bounded(3000));
            for (const QList<int>& split : {QList<int>{int(stream.size())}, QList<int>{1}, cuts}) {
                Parser p = multipart("bnd");
                QCOMPARE(feedSplit(p, stream, split), expected);
            }
            // The same notifications as bare XML documents with text between.
            QByteArray bare;
            for (const QString& w : std::as_const(expected))
                bare += "text\r\n" + xmlAlert(w.toLatin1());
            for (const QList<int>& split : {QList<int>{1}, cuts}) {
                Parser p;
                QCOMPARE(feedSplit(p, bare, split), expected);
            }
        }
    }
};

KVR_TEST_MAIN(TestAlertStream)

#include "tst_alert_stream.moc"
