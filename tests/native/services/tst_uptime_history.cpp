#include "native/services/UptimeHistory.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <functional>

using namespace kvr::services;

using namespace Native;

namespace {

const QDate kToday(2026, 3, 2);

QDateTime local(const QDate& d, int h, int m, int s = 0)
{
    return QDateTime(d, QTime(h, m, s));
}

double slot(const UptimeHistory& u, const QString& key, const QDate& d, int h)
{
    const UptimeHistory::Series* s = u.series(key);
    return s && s->contains(d) ? s->minutes(d, h) : -100;
}

QList<int> minutes(const QList<UptimeCell>& cells)
{
    QList<int> out;
    for (const UptimeCell& c : cells)
        out << c.minutes;
    return out;
}

} // namespace

class TestUptimeHistory : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // What is worked out of one device's series stays valid while others
    // are credited; a read, a merge or a removal changes every device's.
    void revisionsArePerDevice()
    {
        UptimeHistory u;
        const quint64 x0 = u.revisionOf("x"), y0 = u.revisionOf("y");
        u.credit("d:x", local(kToday, 10, 0), local(kToday, 10, 30));
        const quint64 x1 = u.revisionOf("x");
        QVERIFY(x1 > x0);
        QCOMPARE(u.revisionOf("y"), y0);
        u.credit("c:y:3", local(kToday, 10, 0), local(kToday, 10, 30));
        QVERIFY(u.revisionOf("y") > y0);
        QCOMPARE(u.revisionOf("x"), x1);
        // An id with a colon of its own: only the camera's channel is cut off.
        u.credit("k:a:b:2", local(kToday, 10, 0), local(kToday, 10, 30));
        QVERIFY(u.revisionOf("a:b") > x1);
        QCOMPARE(u.revisionOf("a"), y0);
        for (const auto& change :
             QList<std::function<void()>>{[&] { u.merge(UptimeHistory()); }, [&] { u.removeDevice("z"); },
                                          [&] {
                                              QStringList problems;
                                              u.decode(QByteArray("{}"), kToday, &problems);
                                          }}) {
            const quint64 before = std::max({u.revisionOf("x"), u.revisionOf("y"), u.revisionOf("a:b")});
            change();
            QVERIFY(u.revisionOf("x") > before);
            QVERIFY(u.revisionOf("never-credited") > before);
            QCOMPARE(u.revisionOf("x"), u.revisionOf("y"));
        }
    }

    void creditSplitsHoursAndDaysAndNeverPassesSixty()
    {
        UptimeHistory u;
        const quint64 rev = u.revision();
        u.credit("d:x", local(kToday, 10, 50), local(kToday, 11, 10));
        QCOMPARE((QList<double>{slot(u, "d:x", kToday, 10), slot(u, "d:x", kToday, 11)}), (QList<double>{10, 10}));
        QCOMPARE(u.revision(), rev + 1);
        QVERIFY(u.dirty());

        for (int i = 0; i < 10; ++i)
            u.credit("d:x", local(kToday, 10, 0), local(kToday, 11, 0));
        QCOMPARE(slot(u, "d:x", kToday, 10), 60.0);

        // Across midnight: both days' lists.
        u.credit("d:x", local(kToday, 23, 30), local(kToday.addDays(1), 0, 15));
        QCOMPARE((QList<double>{slot(u, "d:x", kToday, 23), slot(u, "d:x", kToday.addDays(1), 0)}),
                 (QList<double>{30, 15}));

        // Fractions of a minute count; an empty or reversed span adds nothing.
        u.credit("s:x", local(kToday, 5, 0, 0), local(kToday, 5, 0, 30));
        QCOMPARE(slot(u, "s:x", kToday, 5), 0.5);
        u.credit("s:x", local(kToday, 6, 0), local(kToday, 5, 0));
        QCOMPARE(slot(u, "s:x", kToday, 6), 0.0);
    }

    void creditWalksThroughClockChanges()
    {
        // Where the clocks go back, 01:00 to 02:00 happens twice; the walk
        // goes on past both and the hour is still capped at 60.
        nativetest::ScopedTz london("Europe/London");
        UptimeHistory u;
        const QDate autumn(2026, 10, 25);
        const QDateTime from(autumn, QTime(0, 30));
        const QDateTime to = from.addSecs(3 * 3600); // 02:30 local
        QCOMPARE(to.time(), QTime(2, 30));
        u.credit("s:x", from, to);
        QCOMPARE((QList<double>{slot(u, "s:x", autumn, 0), slot(u, "s:x", autumn, 1), slot(u, "s:x", autumn, 2)}),
                 (QList<double>{30, 60, 30}));
        // And where they go forward, 01:00 to 02:00 never happens.
        const QDate spring(2026, 3, 29);
        u.credit("s:y", QDateTime(spring, QTime(0, 30)), QDateTime(spring, QTime(2, 30)));
        QCOMPARE((QList<double>{slot(u, "s:y", spring, 0), slot(u, "s:y", spring, 2)}), (QList<double>{30, 30}));
    }

    void gridWeighsUpTimeAgainstCheckedTime()
    {
        UptimeHistory u;
        const QDateTime now = local(kToday, 15, 20);
        // 13:00 checked 30, up 15 -> 30; 14:00 checked 30, up 30 -> 60;
        // 12:00 checked, never up -> 0; 11:00 nothing -> unknown.
        u.credit("s:x", local(kToday, 13, 0), local(kToday, 13, 30));
        u.credit("d:x", local(kToday, 13, 0), local(kToday, 13, 15));
        u.credit("s:x", local(kToday, 14, 0), local(kToday, 14, 30));
        u.credit("d:x", local(kToday, 14, 0), local(kToday, 14, 30));
        u.credit("s:x", local(kToday, 12, 0), local(kToday, 12, 20));
        u.credit("s:x", local(kToday, 16, 0), local(kToday, 16, 20)); // in the future of now
        u.credit("c:x:3", local(kToday, 14, 0), local(kToday, 14, 10));
        u.credit("k:x:3", local(kToday, 14, 0), local(kToday, 14, 30));
        u.credit("k:x:4", local(kToday, 14, 0), local(kToday, 14, 30));
        u.credit("d:other", local(kToday, 15, 0), local(kToday, 15, 10)); // another device

        // 15:00 is the current hour without data; 16:00 lies ahead.
        const QList<UptimeCell> cells = u.grid("x", GraphType::Device, 0, 1, now, {});
        QCOMPARE(minutes(cells.mid(11, 6)), (QList<int>{-1, 0, 30, 60, -1, -1}));
        // The percent of the known hours; none known reads as -1. Last up: the
        // end of the device's own latest hour with up time.
        QCOMPARE((QList<double>{UptimeHistory::percent(cells.mid(11, 6)), UptimeHistory::percent(cells.mid(15, 2)),
                                UptimeHistory::percent({})}),
                 (QList<double>{50, -1, -1}));
        QCOMPARE(u.lastUpFromSeries("x"), local(kToday, 15, 0));
        QVERIFY(!UptimeHistory().lastUpFromSeries("x").isValid());

        // Camera 3: up 10 of the 30 minutes its state was known; camera 4
        // known and never up; camera 5 never known, though the device was
        // checked: no data, not down.
        QCOMPARE((QList<int>{u.grid("x", GraphType::Camera, 3, 1, now, {})[14].minutes,
                             u.grid("x", GraphType::Camera, 4, 1, now, {})[14].minutes,
                             u.grid("x", GraphType::Camera, 5, 1, now, {})[14].minutes}),
                 (QList<int>{20, 0, -1}));

        // Several days, oldest first; 0 days means today alone.
        const QList<UptimeCell> week = u.grid("x", GraphType::Device, 0, 7, now, {});
        QCOMPARE(week.size(), 7 * 24);
        QCOMPARE(week.first().date, kToday.addDays(-6));
        QCOMPARE(week[6 * 24 + 14].minutes, 60);
        QCOMPARE(u.grid("x", GraphType::Device, 0, 0, now, {}).size(), 24);

        // Hours that ended before the device was added are unknown; the
        // hour it was added in is shown.
        const QList<UptimeCell> young = u.grid("x", GraphType::Device, 0, 2, now, local(kToday, 13, 40));
        QCOMPARE(young[0].minutes, -1);                                 // the day before creation
        QCOMPARE(minutes(young.mid(24 + 12, 2)), (QList<int>{-1, 30})); // 12:00 ended before 13:40
    }

    void fileKeepsFortyDaysRoundedAndSorted()
    {
        UptimeHistory u;
        const QDate day40 = kToday.addDays(-40);
        const QDate day41 = kToday.addDays(-41);
        u.credit("s:b", local(day40, 1, 0), local(day40, 1, 30));
        u.credit("s:b", local(day41, 1, 0), local(day41, 1, 30));
        u.credit("s:a", local(kToday, 2, 0, 0), local(kToday, 2, 12, 21)); // 12.35 -> 12.4
        u.credit("s:a", local(kToday, 3, 0, 0), local(kToday, 3, 12, 20)); // 12.333 -> 12.3
        u.credit("s:old", local(day41, 1, 0), local(day41, 2, 0));

        const QByteArray bytes = u.encode(kToday);
        const QJsonDocument doc = QJsonDocument::fromJson(bytes);
        // Byte for byte what a JSON writer makes of the same tree: keys in
        // ascending order, compact.
        QCOMPARE(doc.toJson(QJsonDocument::Compact), bytes);
        // Nothing recent: left out; day -40 kept, -41 not; 24 hours a day.
        const QJsonObject series = doc.object().value("series").toObject();
        QCOMPARE(series.keys(), QStringList({"s:a", "s:b"}));
        QCOMPARE(series.value("s:b").toObject().keys(), QStringList{day40.toString(Qt::ISODate)});
        QVERIFY(bytes.contains(":[0,0,12.4,12.3,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]"));

        // Reading back: day -40 kept, -41 skipped (even when a file has it).
        UptimeHistory back;
        QStringList problems;
        const QByteArray withOld = QStringLiteral("{'series':{'s:b':{'%1':[5],'%2':[1,'x',2.5,99,-4,1,1,1,1,1,1,1,1,1,"
                                                  "1,1,1,1,1,1,1,1,1,1,7,8]}},'version':1}")
                                       .arg(day41.toString(Qt::ISODate), day40.toString(Qt::ISODate))
                                       .replace(QLatin1Char('\''), QLatin1Char('"'))
                                       .toUtf8();
        QCOMPARE(back.decode(withOld, kToday, &problems), ReadStatus::Clean);
        QVERIFY(problems.isEmpty());
        const auto* s = back.series("s:b");
        QVERIFY(s && s->size() == 1 && s->contains(day40));
        // Not a number: 0; out of range: held to 0..60; extra elements ignored.
        QCOMPARE((std::vector<double>{s->minutes(day40, 0), s->minutes(day40, 1), s->minutes(day40, 2),
                                      s->minutes(day40, 3), s->minutes(day40, 4), s->minutes(day40, 23)}),
                 (std::vector<double>{1, 0, 2.5, 60, 0, 1}));
        QVERIFY(!back.dirty());
    }

    // Hours are held as whole seconds: every credit and every value the
    // file can hold comes back as the exact minutes it stood for, and a
    // file read and written again is the same bytes.
    void hoursComeBackExactly()
    {
        UptimeHistory u;
        // Three credits of 20 s make one minute, not a hair under or over;
        // one second is a sixtieth of a minute; a span under a second adds
        // nothing but the day.
        for (int i = 0; i < 3; ++i)
            u.credit("s:x", local(kToday, 8, 0).addSecs(20 * i), local(kToday, 8, 0).addSecs(20 * i + 20));
        u.credit("s:x", local(kToday, 9, 59, 59), local(kToday, 10, 0, 0));
        u.credit("d:x", local(kToday, 8, 0), local(kToday, 8, 0, 20));
        u.credit("s:y", QDateTime(kToday, QTime(7, 0)), QDateTime(kToday, QTime(7, 0, 0, 500)));
        QCOMPARE((QList<double>{slot(u, "s:x", kToday, 8), slot(u, "s:x", kToday, 9), slot(u, "s:x", kToday, 10),
                                slot(u, "s:y", kToday, 7)}),
                 (QList<double>{1, 1.0 / 60, 0, 0}));
        // Up a third of the checked minute: 20 of 60.
        QCOMPARE(u.grid("x", GraphType::Device, 0, 1, local(kToday, 23, 0), {})[8].minutes, 20);

        // Every tenth from 0 to 60 and the ones a JSON writer may spell
        // otherwise, over hours, days (out of order, one twice) and enough
        // series that the reader's pieces split keys, dates and numbers.
        QByteArray file = "{\"series\":{";
        QByteArray canonical = file;
        const auto hours = [](int first) {
            QByteArray out = "[";
            for (int h = 0; h < 24; ++h) {
                const int t = (first + h * 7) % 601;
                out += (h ? "," : "") + QByteArray::number(t / 10) + (t % 10 ? "." + QByteArray::number(t % 10) : "");
            }
            return out + "]";
        };
        for (int i = 0; i < 8000; ++i) {
            const QByteArray key = "\"c:dev" + QByteArray::number(10000 + i) + ":1\":{";
            const QByteArray d0 = kToday.addDays(-2).toString(Qt::ISODate).toLatin1();
            const QByteArray d1 = kToday.toString(Qt::ISODate).toLatin1();
            file += (i ? "," : "") + key + "\"" + d1 + "\":[1]," + "\"" + d0 + "\":" + hours(i) + ",\"" + d1
                + "\":" + hours(i + 3) + "}";
            canonical += (i ? "," : "") + key + "\"" + d0 + "\":" + hours(i) + ",\"" + d1 + "\":" + hours(i + 3) + "}";
        }
        file += "},\"version\":1}";
        canonical += "},\"version\":1}";
        QVERIFY(file.size() > 1 << 20); // more than one piece
        UptimeHistory back;
        QStringList problems;
        QCOMPARE(back.decode(file, kToday, &problems), ReadStatus::Clean);
        QStringList wrong;
        for (int i = 0; i < 601; ++i) {
            const UptimeHistory::Series* s = back.series(QStringLiteral("c:dev%1:1").arg(10000 + i));
            if (s->minutes(kToday.addDays(-2), 0) != i / 10.0)
                wrong << QString::number(i / 10.0);
        }
        QCOMPARE(wrong, QStringList());
        QCOMPARE(back.series("c:dev10007:1")->minutes(kToday, 0), 1.0);
        QVERIFY(back.encode(kToday) == canonical);
        // "60.0", "1e1" and "0.05" are not how the file is written, but read
        // as the numbers they are (0.05 to the second, 3 s, written 0.1).
        QByteArray odd = "{\"series\":{\"s:z\":{\"" + kToday.toString(Qt::ISODate).toLatin1() + "\":[60.0,1e1,0.05]}}}";
        QCOMPARE(back.decode(odd, kToday, &problems), ReadStatus::Clean);
        QVERIFY(back.encode(kToday).contains(":[60,10,0.1,0,"));
    }

    void anyWellFormedLayoutReadsTheSame()
    {
        UptimeHistory u;
        u.credit("s:a", local(kToday, 1, 0), local(kToday, 2, 30));
        u.credit("c:a:2", local(kToday.addDays(-3), 22, 0), local(kToday.addDays(-2), 1, 10));
        const QByteArray compact = u.encode(kToday);
        const QByteArray indented = QJsonDocument::fromJson(compact).toJson(QJsonDocument::Indented);
        QByteArray escaped = compact;
        escaped.replace("\"c:a:2\"", "\"\\u0063:a:2\""); // same key, written with an escape
        for (const QByteArray& bytes : {compact, indented, escaped}) {
            UptimeHistory back;
            QStringList problems;
            QCOMPARE(back.decode(bytes, kToday, &problems), ReadStatus::Clean);
            QCOMPARE(back.encode(kToday), compact);
        }
    }

    void damagedFileIsReadAsFarAsSound()
    {
        UptimeHistory u;
        for (int i = 0; i < 5; ++i)
            u.credit(QStringLiteral("d:dev%1").arg(i), local(kToday, 1, 0), local(kToday, 2, 0));
        const QByteArray whole = u.encode(kToday);
        // Cut in the middle of the fourth series' hour list.
        const qsizetype cutAt = whole.indexOf("d:dev3") + 30;
        UptimeHistory back;
        QStringList problems;
        QCOMPARE(back.decode(whole.left(cutAt), kToday, &problems), ReadStatus::Damaged);
        QCOMPARE(problems.size(), 1);
        QVERIFY(back.series("d:dev2"));
        QCOMPARE(back.series("d:dev2")->size(), 1);
        QVERIFY(!back.series("d:dev4"));

        QCOMPARE(back.decode("not json at all", kToday, &problems), ReadStatus::Damaged);
        QVERIFY(back.isEmpty());
        QCOMPARE(back.decode("[1,2]", kToday, &problems), ReadStatus::Damaged);
        QCOMPARE(back.decode("{\"series\":{},\"version\":7}", kToday, &problems), ReadStatus::OtherVersion);
    }

    void removingADeviceDropsAllItsSeriesOnly()
    {
        UptimeHistory u;
        const QString id = "5f0c1f43-0000-4000-8000-000000000001";
        const QString other = id + "-twin";
        for (const QString& key :
             {checkedKey(id), internetKey(id), deviceKey(id), cameraKey(id, 3), cameraKey(id, 12), deviceKey(other)})
            u.credit(key, local(kToday, 1, 0), local(kToday, 1, 30));
        u.clearDirty();
        u.removeDevice(id);
        QVERIFY(u.dirty());
        QCOMPARE(u.seriesCount(), 1);
        QVERIFY(u.series(deviceKey(other)));
        QVERIFY(!u.encode(kToday).contains(cameraKey(id, 12).toLatin1()));
    }
};

KVR_TEST_MAIN(TestUptimeHistory)

#include "tst_uptime_history.moc"
