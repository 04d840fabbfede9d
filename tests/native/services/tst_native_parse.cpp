#include "native/services/DeviceParsers.h"
#include "tests/support/TestKit.h"

#include <QtTest>

using namespace kvr::services;

using namespace NativeParse;

class TestNativeParse : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void keyValueLines()
    {
        QCOMPARE(keyValue("a=1\r\n\r\nb = x=y \nc\n=z"), (FlatMap{{"a", "1"}, {"b", "x=y"}}));
        QCOMPARE(keyValue("A=1\nA=2").value("A"), QStringLiteral("2"));
        QCOMPARE(keyValue("k=\r\n").value("k", "missing"), QString());
        QVERIFY(keyValue("Error\r\nBad Request!\r\n").isEmpty());
    }

    void xmlLeaves()
    {
        QCOMPARE(xmlFlat("<a><b> </b><b>x</b></a>").value("b"), QStringLiteral("x"));
        QCOMPARE(xmlFlat("<a>t<b>x</b></a>"), (FlatMap{{"b", "x"}}));
        QCOMPARE(xmlFlat("<DeviceInfo xmlns=\"urn:x\"><SerialNumber> S1 </SerialNumber><note><![CDATA[c&d]]></note>"
                         "</DeviceInfo>"),
                 (FlatMap{{"serialnumber", "S1"}, {"note", "c&d"}}));
        // Stops at the first error, keeping what came before.
        QCOMPARE(xmlFlat("<a><b>1</b><c>2</d></a>"), (FlatMap{{"b", "1"}}));
        QVERIFY(xmlFlat("not xml").isEmpty());
    }

    void xmlItems()
    {
        const QList<FlatMap> items =
            xmlList("<l><item><id>1</id></item><item/><item><id>2</id><id>3</id></item></l>", "Item");
        QCOMPARE(items, (QList<FlatMap>{{{"id", "1"}}, {}, {{"id", "2"}}}));
        // Prefixed names match by their local name; nested items are children.
        const QList<FlatMap> nested = xmlList(
            "<p:list xmlns:p=\"urn:x\"><p:hdd><p:id>1</p:id><p:hdd><p:status>ok</p:status></p:hdd></p:hdd></p:list>",
            "hdd");
        QCOMPARE(nested, (QList<FlatMap>{{{"id", "1"}, {"status", "ok"}}}));
    }

    void jsonScalars()
    {
        QCOMPARE(jsonFlat(R"({"DeviceName":"n","flag":true,"list":[{"k":1.0},{"k":2}],"empty":"","nil":null})"),
                 (FlatMap{{"devicename", "n"}, {"k", "1"}}));
        QCOMPARE(jsonFlat(R"({"Name":"n","Info":{"name":"m"}})").value("name"), QStringLiteral("m"));
        QCOMPARE(jsonFlat(R"([{"a":12.6}])").value("a"), QStringLiteral("13"));
        QVERIFY(jsonFlat("{broken").isEmpty());
    }

    // (Each family's real answer is read against the fake devices.)
    void deviceInfoPreferences()
    {
        const DeviceInfo kv = deviceInfo("DeviceType=X\r\nSerialNumber=Y");
        QCOMPARE(kv.model + kv.serial, QStringLiteral("XY"));
        // Keys differing only in case: the later one in sorted order wins.
        QCOMPARE(deviceInfo("model=a\nModel=b").model, QStringLiteral("a"));
        // Preference order: model before devicetype.
        QCOMPARE(deviceInfo("<a><deviceType>NVR</deviceType><model>DS</model></a>").model, QStringLiteral("DS"));
        QCOMPARE(deviceInfo(QByteArray()).model, QString());
    }

    void wallClockReadings()
    {
        // The device's wall clock as written, whatever offset or fraction follows.
        for (const char* text : {"2025-03-01T08:15:30+05:30", " 2025-03-01 08:15:30 ", "2025-03-01T08:15:30.250Z"}) {
            const QDateTime t = wallClock(text);
            QCOMPARE(t, QDateTime(QDate(2025, 3, 1), QTime(8, 15, 30), Qt::LocalTime));
            QCOMPARE(t.timeSpec(), Qt::LocalTime);
        }
        for (const char* bad : {"2025-03-01T08:15", "2025-13-01T08:15:30", "not a time at all here"})
            QVERIFY(!wallClock(bad).isValid());
    }
};

KVR_TEST_MAIN(TestNativeParse)

#include "tst_native_parse.moc"
