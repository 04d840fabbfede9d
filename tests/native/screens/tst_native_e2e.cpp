// The built program in native mode against the demo fleet of fake devices:
// it probes the inventory it is given, shows every device's state, takes in
// live events, and writes all of it when the user closes the window.

#include "app/core/Settings.h"
#include "native/services/NativeInventory.h"
#include "native/services/UptimeHistory.h"
#include "native/services/Verdicts.h"
#include "tests/fixtures/fleet/FakeFleet.h"
#include "tests/support/TestKit.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>

#include <csignal>

#ifdef KVR_HAVE_XCB
#include <xcb/xcb.h>
#endif

using namespace kvr::core;
using namespace kvr::services;

using kvrtest::FakeDevice;
using kvrtest::FakeFleet;

namespace {

#ifdef KVR_HAVE_XCB
// Asks the top-level X window titled `title` to close, as a window manager's
// close button does (WM_DELETE_WINDOW).
bool closeWindow(const QByteArray& title)
{
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (!c || xcb_connection_has_error(c))
        return false;
    auto atom = [c](const char* name) {
        xcb_intern_atom_reply_t* r =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(r);
        return a;
    };
    const xcb_atom_t protocols = atom("WM_PROTOCOLS");
    const xcb_atom_t deleteWindow = atom("WM_DELETE_WINDOW");
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    bool sent = false;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, it.data->root), nullptr);
    if (tree) {
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && !sent; ++i) {
            xcb_get_property_reply_t* p = xcb_get_property_reply(
                c, xcb_get_property(c, 0, children[i], XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 256), nullptr);
            if (p) {
                const QByteArray name(static_cast<const char*>(xcb_get_property_value(p)),
                                      xcb_get_property_value_length(p));
                if (name == title) {
                    xcb_client_message_event_t ev{};
                    ev.response_type = XCB_CLIENT_MESSAGE;
                    ev.format = 32;
                    ev.window = children[i];
                    ev.type = protocols;
                    ev.data.data32[0] = deleteWindow;
                    ev.data.data32[1] = XCB_CURRENT_TIME;
                    xcb_send_event(c, 0, children[i], XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ev));
                    sent = true;
                }
                free(p);
            }
        }
        free(tree);
    }
    // A round trip before hanging up: the server may drop requests it has not
    // yet read from a connection that closed, and the close message with them.
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
    return sent;
}
#endif

QString dataFolder()
{
    // The program's own data folder: organisation and application "Kavira".
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Kavira/Kavira");
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The built program in native mode, with checks on, over the fleet's data
// files; killed at the end of the test if it still runs.
class Program {
public:
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    // Starts it over the fleet (started here), with the fleet's uptime
    // history or without any; the test has failed when it returns false.
    bool start(FakeFleet& fleet, bool history = true)
    {
        QString error;
        if (!fleet.start() || !fleet.writeDataFiles(dataFolder(), &error)) {
            qWarning().noquote() << "the fleet did not start:" << error;
            return false;
        }
        if (!history)
            QFile::remove(dataFolder() + QStringLiteral("/native-uptime.json"));
        Prefs::set(Prefs::kNativeMode, true);
        Prefs::set(Prefs::kNativePoll, true);
        NativeMode::prefs().sync();
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(KVR_PROGRAM), {});
        return process.waitForStarted(10000);
    }
    QProcess process;
};

} // namespace

class NativeEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void probesShowsAndSavesOnClose();
    void savesOnTerminationSignals_data();
    void savesOnTerminationSignals();
};

void NativeEndToEnd::probesShowsAndSavesOnClose()
{
#ifndef KVR_HAVE_XCB
    QSKIP("needs the X client library to close the window as a user does");
#else
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)");
    FakeFleet fleet;
    const QDateTime started = QDateTime::currentDateTime();
    Program program;
    QVERIFY(program.start(fleet));
    QProcess& app = program.process;

    // The first sweep reaches every device that answers; the refused login
    // is tried, the unreachable one only by its ports.
    for (const FakeFleet::Member& m : fleet.members()) {
        if (!m.device)
            continue;
        QTRY_VERIFY2_WITH_TIMEOUT(m.device->requestCount() > 0, qPrintable(m.name), 60000);
    }
    const FakeFleet::Member* refused = fleet.member(FakeFleet::Role::WrongPassword);
    QTRY_VERIFY_WITH_TIMEOUT(refused->device->requestCount() >= 2, 30000);
    QCOMPARE(refused->device->servedCount(), 0);
    // The recorder with a live event stream opened it; one detection arrives.
    QTRY_VERIFY_WITH_TIMEOUT(fleet.streamsOpened() >= 1, 30000);
    fleet.pushEvent();

    // Let the table show the results, then look at it.
    QTest::qWait(2500);
    QDir().mkpath(QStringLiteral(KVR_SCREENSHOT_DIR));
    QGuiApplication::primaryScreen()->grabWindow(0).save(QStringLiteral(KVR_SCREENSHOT_DIR "/native-e2e-program.png"));

    // Close the window as a user would: everything is written on the way out.
    // (Asked again if the first request came before the window could take it.)
    for (int attempt = 0; attempt < 4 && app.state() != QProcess::NotRunning; ++attempt) {
        QVERIFY(closeWindow("Vigilo") || app.state() == QProcess::NotRunning);
        QTest::qWait(0);
        for (int i = 0; i < 100 && app.state() != QProcess::NotRunning; ++i)
            QTest::qWait(50);
    }
    QCOMPARE(app.state(), QProcess::NotRunning);
    if (app.exitCode() != 0)
        qWarning().noquote() << app.readAll();
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);

    const Native::InventoryData saved =
        Native::decodeInventory(readFile(dataFolder() + QStringLiteral("/native-inventory.bin")));
    QCOMPARE(saved.status, Native::ReadStatus::Clean);
    QCOMPARE(saved.devices.size(), int(fleet.members().size()));
    for (const Native::Device& d : saved.devices) {
        const auto& m = *std::find_if(fleet.members().begin(), fleet.members().end(),
                                      [&d](const FakeFleet::Member& x) { return x.record.id == d.id; });
        const Native::Health& h = d.health;
        QVERIFY2(h.checkedAt >= started.addSecs(-1), qPrintable(d.name));
        switch (m.role) {
        case FakeFleet::Role::Healthy:
            QCOMPARE(h.device, int(Native::Passed));
            QCOMPARE(h.model, m.device->model);
            break;
        case FakeFleet::Role::WrongPassword:
            QVERIFY2(h.digest == Native::Failed || h.basic == Native::Failed, qPrintable(h.error));
            QVERIFY(h.model.isEmpty());
            break;
        case FakeFleet::Role::Unreachable:
            QCOMPARE(h.device, int(Native::Failed));
            QCOMPARE(h.httpPort, int(Native::Failed));
            break;
        case FakeFleet::Role::DiskFault:
            QCOMPARE(h.hdd, QStringLiteral("Fault"));
            break;
        case FakeFleet::Role::ClockAhead: {
            const int drift = NativeInsights::clockDriftSecs(d);
            QVERIFY2(qAbs(drift - 7200) < 120, qPrintable(QString::number(drift)));
            break;
        }
        }
    }
    // The event that arrived a moment before closing was written on the way out.
    const QJsonArray events =
        QJsonDocument::fromJson(readFile(dataFolder() + QStringLiteral("/native-events.json"))).array();
    bool fresh = false;
    for (const QJsonValue& v : events)
        fresh =
            fresh || QDateTime::fromString(v.toObject().value(QStringLiteral("at")).toString(), Qt::ISODate) >= started;
    QVERIFY(events.size() > 8);
    QVERIFY(fresh);
#endif
}

void NativeEndToEnd::savesOnTerminationSignals_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM (log-out, shut-down)") << int(SIGTERM);
    QTest::newRow("SIGINT (Ctrl+C)") << int(SIGINT);
    QTest::newRow("SIGHUP (terminal closed)") << int(SIGHUP);
}

// Asked by the system to end, the program ends as when its window closes:
// what it heard and found is written on the way out, the event that came a
// moment before included (the event log waits 5 s after the last one).
void NativeEndToEnd::savesOnTerminationSignals()
{
    QFETCH(int, signal);
    QDir(dataFolder()).removeRecursively();
    FakeFleet fleet;
    Program program;
    QVERIFY(program.start(fleet, false));
    QProcess& app = program.process;
    for (const FakeFleet::Member& m : fleet.members())
        if (m.device)
            QTRY_VERIFY2_WITH_TIMEOUT(m.device->requestCount() > 0, qPrintable(m.name), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(fleet.streamsOpened() >= 1, 30000);
    QTest::qWait(2500); // the sweep's results taken in; every device idle again
    FakeDevice* recorder = nullptr;
    for (const FakeFleet::Member& m : fleet.members())
        if (m.device && m.device->openStreams() > 0)
            recorder = m.device.get();
    QVERIFY(recorder);

    // A full disk, reported down the stream: the program asks the recorder
    // for a check at once, which shows that it took the event in.
    const int before = recorder->requestCount();
    const QDateTime now = QDateTime::currentDateTime();
    recorder->push(FakeDevice::part(
        "boundary",
        FakeDevice::notification("diskfull", "active", 0,
                                 now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate).toLatin1())));
    QTRY_VERIFY_WITH_TIMEOUT(recorder->requestCount() > before, 20000);
    QCOMPARE(::kill(pid_t(app.processId()), signal), 0);
    QVERIFY(app.waitForFinished(60000));
    if (app.exitStatus() != QProcess::NormalExit || app.exitCode() != 0)
        qWarning().noquote() << app.readAll();
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);

    bool full = false;
    for (const QJsonValue& v :
         QJsonDocument::fromJson(readFile(dataFolder() + QStringLiteral("/native-events.json"))).array())
        full = full || v.toObject().value(QStringLiteral("t")).toString() == QLatin1String("diskfull");
    QVERIFY(full);
    const Native::InventoryData saved =
        Native::decodeInventory(readFile(dataFolder() + QStringLiteral("/native-inventory.bin")));
    QCOMPARE(saved.status, Native::ReadStatus::Clean);
    QCOMPARE(saved.devices.size(), int(fleet.members().size()));
    // The hours the sweep credited (the program started without a history).
    const QJsonObject series = QJsonDocument::fromJson(readFile(dataFolder() + QStringLiteral("/native-uptime.json")))
                                   .object()
                                   .value(QStringLiteral("series"))
                                   .toObject();
    const QString today = QDate::currentDate().toString(Qt::ISODate);
    bool credited = false;
    for (const Native::Device& d : saved.devices)
        credited = credited || series.value(Native::checkedKey(d.id)).toObject().contains(today);
    QVERIFY(credited);
}

KVR_TEST_MAIN(NativeEndToEnd)

#include "tst_native_e2e.moc"
