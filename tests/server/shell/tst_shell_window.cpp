// The server main window against the fake organisation server, with the
// stage, camera wall and video wall replaced by recorders: catalogue loading,
// organisations, the status chip, permissions, which streams each action
// starts and stops (read from the server's request log), sign-out, expiry,
// presets, settings, health, keys and minimising.
#include "app/core/Log.h"
#include "app/core/Settings.h"
#include "server/shell/BrandRegistry.h"
#include "server/shell/CatalogModel.h"
#include "server/shell/CatalogPane.h"
#include "server/shell/DevicePages.h"
#include "server/shell/SettingsDialog.h"
#include "server/shell/ShellWindow.h"
#include "server/view/LivePictures.h"
#include "server/view/Tunables.h"
#include "tests/server/shell/CatalogSamples.h"
#include "tests/server/shell/FakeViews.h"
#include "tests/server/shell/ShellTestSupport.h"

#include <QAccessible>
#include <QButtonGroup>
#include <QClipboard>
#include <QComboBox>
#include <QInputDialog>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeView>
#include <QWindowStateChangeEvent>

#include <memory>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::api;
using namespace kvr::context;
using namespace kvr::shell;

using namespace shelltest;
using orgserver::Answer;

namespace {

const QString kStart = QStringLiteral("/v2/api/start/live/stream/");
const QString kStop = QStringLiteral("/v2/api/stop/live/stream/");
const QString kSites = QStringLiteral("/v2/get_sites_by_org_string");
const QString kStatus = QStringLiteral("/v2/api/vms/stream/status/");
const QString kCloudDays = QStringLiteral("/v2/api/cloud/recording/dates/");

// A signed-in user, the main window over recorders, shown.
struct Session {
    Rig rig;
    FakeStage* stage = new FakeStage;
    FakeWall* wall = new FakeWall;
    FakeVideoWall* videoWall = new FakeVideoWall;
    std::unique_ptr<ShellWindow> window;

    explicit Session(std::function<void(UserProfile&)> adjust = {})
    {
        rig.signIn();
        if (adjust)
            adjust(AppContext::instance().user);
        rig.server.clearRequests();
        window = std::make_unique<ShellWindow>(ShellParts{stage, wall, videoWall}, nullptr);
        window->resize(1400, 800);
        window->show();
    }

    bool load()
    {
        window->loadCatalog();
        return QTest::qWaitFor(
            [&] {
                return count("/v2/get_channels_by_device/") == 4 && !AppContext::instance().sites.isEmpty()
                    && !AppContext::instance().sites.last().loading
                    && window->catalogue()->loadingLabel()->text().isEmpty() && !window->catalogue()->rebuildPending();
            },
            10000);
    }
    int count(const QString& path) const { return rig.server.countOf(path); }
    // Query values of the requests to a path, in order.
    QStringList sent(const QString& path, const QString& key) const
    {
        QStringList out;
        for (const orgserver::Request& r : rig.server.requestsTo(path))
            out << r.queryValue(key);
        return out;
    }
    // Answers to `path` come `ms` late.
    void delay(const QStringList& paths, int ms)
    {
        rig.server.delayRule = [paths, ms](const orgserver::Request& r) { return paths.contains(r.path) ? ms : 0; };
    }
    // The server lists these organisations, (name, head office) in order.
    void offer(const QList<std::pair<QString, bool>>& list)
    {
        QJsonArray a;
        for (const auto& [name, head] : list)
            a.append(QJsonObject{{"id", a.size() + 1}, {"name", name}, {"is_head_office", head}});
        rig.server.script("/v2/organisations/list/", Answer::json(200, {{"details", a}}));
    }
    QModelIndex row(const QString& text, const QModelIndex& parent = {}) const
    {
        return rowOf(window->catalogue()->model(), text, parent);
    }
    void clickRow(const QModelIndex& index, int x = 0) const { shelltest::clickRow(window->catalogue(), index, x); }
    // Clicks the first camera of the first recorder.
    void openFirstCamera() const { clickRow(row("Camera 1", row("Recorder 1-1"))); }
    bool playFirstCamera() const
    {
        openFirstCamera();
        return QTest::qWaitFor([&] { return stage->log.contains("live Camera 1 [url]"); }, 10000);
    }
    void runServerWall(int windows = 0) const
    {
        videoWall->isRunning = true;
        videoWall->windows = windows;
        videoWall->source = QStringLiteral("server/all");
    }
};

// The next question is answered with the button reading `text`.
void clickInNextDialog(const QString& text)
{
    Modal::respond([text](QDialog& d) {
        buttonNamed(&d, text)->click();
        return 0;
    });
}

} // namespace

class TestShellWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        for (const char* key : {Prefs::kCatalogCollapsed.name, Prefs::kCatalogWidth.name, Prefs::kLiveMain.name})
            Prefs::remove(key);
        if (BrandRegistry::instance().count() == 0)
            BrandRegistry::instance().add(std::make_unique<ImouProvider>());
    }

    void catalogueLoadsInOrderWithProgressThenTheChip()
    {
        Session s;
        // The video wall waits for the catalogue.
        Modal::answer(QMessageBox::Ok);
        s.window->openVideoWall();
        QCOMPARE(Modal::shown(), QStringList{"Video wall: The camera list is still loading. Try again in a moment."});
        QCOMPARE(s.videoWall->setups, 0);
        s.delay({"/v2/get_devices_by_site/"}, 400);
        s.window->loadCatalog();
        QTRY_COMPARE(s.window->catalogue()->loadingLabel()->text(), "Loading devices… 0 of 2 sites");
        QVERIFY(s.row("Head Office  ·  loading…").isValid());
        QTRY_VERIFY(s.window->catalogue()->loadingLabel()->text().isEmpty());
        QTRY_VERIFY(s.row("Recorder 2-2").isValid());
        // Organisations first, then the sites by name, then devices.
        QStringList paths;
        for (const orgserver::Request& r : s.rig.server.requests())
            paths << r.path;
        QVERIFY(paths.indexOf("/v2/organisations/list/") < paths.indexOf(kSites)
                && paths.indexOf(kSites) < paths.indexOf("/v2/get_devices_by_site/"));
        // One organisation: no choice, the label names it.
        QVERIFY(!s.window->organisationChoice()->isVisible());
        QCOMPARE(s.window->organisationLabel()->text(), "Demo Organisation");
        s.window->openVideoWall();
        QCOMPARE(s.videoWall->setups, 1);

        // The relay chip; only a forbidden answer hides it and stops asking
        // until the next sign-in, any other refusal leaves the status unknown.
        QTRY_COMPARE(s.window->chip()->text(), "Relay online · 0 streams · 0 playing here");
        for (int status : {400, 409}) {
            s.rig.server.script(kStatus, Answer::json(status, {}));
            s.window->refreshStatus();
            QTRY_COMPARE(s.window->chip()->text(), "Status unknown");
            QVERIFY(s.window->chip()->isVisible() && s.window->statusTimer()->isActive());
            s.window->refreshStatus();
            QTRY_COMPARE(s.window->chip()->text(), "Relay online · 0 streams · 0 playing here");
        }
        // Beside the server's streams it counts the live pictures shown here,
        // following them between the status answers.
        {
            kvr::view::LivePictures::Mark playing;
            playing.set(true);
            QTRY_COMPARE_WITH_TIMEOUT(s.window->chip()->text(), "Relay online · 0 streams · 1 playing here", 15000);
            playing.set(false);
            QTRY_COMPARE_WITH_TIMEOUT(s.window->chip()->text(), "Relay online · 0 streams · 0 playing here", 15000);
        }
        s.rig.server.script(kStatus, Answer::json(403, {}));
        s.window->refreshStatus();
        QTRY_VERIFY(!s.window->chip()->isVisible() && !s.window->statusTimer()->isActive());
        const int before = s.count(kStatus);
        s.window->startBackgroundChecks();
        QCOMPARE(s.count(kStatus), before); // in a later turn
        QTRY_COMPARE(s.count(kStatus), before + 1);
    }

    // A site whose device list the server fails to give (HTTP 500) stays in
    // the tree, saying so, and is not taken for an organisation without
    // devices; it is asked for again on a schedule of its own: for a user
    // whose status checks the server refuses (403) and for one who may not
    // see cameras (no status checks at all), as for anyone else. A reload
    // never takes over a load under way, nor does a status refresh: every
    // site of that load gets its devices.
    void aSiteWhoseDevicesFailedStaysAndLoadsAgain()
    {
        // The site's device list fails for the next `times` device lists asked for.
        const auto failSite = [](Session& s, const QString& id, int times = -1) {
            s.rig.server.scriptHandler(
                "/v2/get_devices_by_site/",
                [&s, id](const orgserver::Request& r) {
                    return r.queryValue("site_id") == id ? Answer::json(500, {{"message", "Server Error"}})
                                                         : s.rig.server.modelAnswer(r);
                },
                times);
        };
        // The wait is the schedule's; the test does not sit it out.
        const auto reloadNow = [](Session& s) {
            QTRY_VERIFY(s.window->reloadTimer()->isActive());
            s.window->reloadTimer()->start(0);
        };
        {
            Session s;
            s.rig.server.script(kStatus, Answer::json(403, {}));
            s.offer({{"Demo Organisation", true}, {"Other", false}});
            failSite(s, "2");
            s.window->loadCatalog();
            QTRY_VERIFY(s.row("Warehouse  ·  devices could not be loaded").isValid());
            QTRY_VERIFY(s.window->catalogue()->loadingLabel()->text().isEmpty());
            QVERIFY(s.row("Recorder 1-1", s.row("Head Office")).isValid());
            QTRY_VERIFY(!s.window->statusTimer()->isActive()); // the status checks stopped for good
            QCOMPARE(s.window->reloadTimer()->interval(), 15000);
            // Still failing: asked again after a longer wait.
            reloadNow(s);
            QTRY_COMPARE(s.count("/v2/get_devices_by_site/"), 3);
            QTRY_COMPARE(s.window->reloadTimer()->interval(), 30000);
            QVERIFY(s.row("Warehouse  ·  devices could not be loaded").isValid());
            s.rig.server.clearScripts();
            reloadNow(s);
            QTRY_VERIFY(s.row("Recorder 2-1", s.row("Warehouse")).isValid());
            QStringList asked = s.sent("/v2/get_devices_by_site/", "site_id");
            asked.sort();
            QCOMPARE(asked, QStringList({"1", "2", "2", "2"}));
            QCOMPARE(s.sent(kSites, "org_string"), QStringList{"Demo Organisation"});
            QVERIFY(!AppContext::instance().sites.at(1).devicesFailed());
            QTest::qWait(200);
            QVERIFY(!s.window->reloadTimer()->isActive()); // nothing more to ask for

            // A load under way while a reload falls due, and a status refresh
            // meanwhile: the Warehouse fails at once while the Head Office's
            // devices are still on their way. Neither takes the load over.
            failSite(s, "2", 2);
            s.window->loadCatalog();
            QTRY_VERIFY(s.window->catalogue()->loadingLabel()->text().isEmpty());
            QTRY_VERIFY(s.window->reloadTimer()->isActive());
            s.delay({"/v2/get_channels_by_device/"}, 1500);
            failSite(s, "2", 2);
            s.window->loadCatalog();
            QTRY_VERIFY(s.row("Warehouse  ·  devices could not be loaded").isValid()
                        && s.row("Head Office  ·  loading…").isValid());
            s.window->reloadTimer()->start(0);
            s.window->refreshStatus();
            QTRY_VERIFY_WITH_TIMEOUT(s.row("Recorder 1-1", s.row("Head Office")).isValid(), 8000);
            QTRY_VERIFY(s.window->catalogue()->loadingLabel()->text().isEmpty());
            s.rig.server.delayRule = nullptr;
            reloadNow(s); // armed again by the end of the load
            QTRY_VERIFY(s.row("Recorder 2-1", s.row("Warehouse")).isValid());
        }
        {
            // No camera-view right: no status checks, the reload all the same.
            Session s([](UserProfile& u) { u.canView = false; });
            failSite(s, "2", 2);
            s.window->loadCatalog();
            QTRY_VERIFY(s.row("Warehouse  ·  devices could not be loaded").isValid());
            QVERIFY(!s.window->statusTimer()->isActive());
            reloadNow(s);
            QTRY_VERIFY(s.row("Recorder 2-1", s.row("Warehouse")).isValid());
            QCOMPARE(s.count(kStatus), 0);
        }

        // Every site failing is no empty organisation: the next one is not tried.
        Session s;
        s.rig.server.script("/v2/get_devices_by_site/", Answer::json(503, {}), 2);
        s.offer({{"Demo Organisation", true}, {"Other", false}});
        s.window->loadCatalog();
        QTRY_VERIFY(s.row("Warehouse  ·  devices could not be loaded").isValid()
                    && s.row("Head Office  ·  devices could not be loaded").isValid());
        QTRY_VERIFY(s.window->catalogue()->loadingLabel()->text().isEmpty());
        QCOMPARE(s.sent(kSites, "org_string"), QStringList{"Demo Organisation"});
        // Signing out ends the schedule.
        QVERIFY(s.window->reloadTimer()->isActive());
        Modal::answer(QMessageBox::Ok);
        s.window->onSessionExpired();
        QVERIFY(!s.window->reloadTimer()->isActive());
    }

    // A server that takes its time over every answer: until the sites are
    // in, the tree and the page say that they are loading, never that the
    // account has no devices; a site list the server fails to give says
    // that, and only an organisation that has none says it has no devices.
    void whileTheCatalogueLoadsTheWindowSaysSo()
    {
        const QString noDevices = "No devices are assigned to this account.";
        const auto says = [](Session& s, const QString& text) {
            return s.row(text).isValid() && labelNamed(s.window.get(), text) != nullptr;
        };
        for (const QString& slow : {QString("/v2/organisations/list/"), kSites}) {
            Session s;
            s.rig.server.script(slow, Answer::never());
            s.window->loadCatalog();
            QTRY_COMPARE(s.count(slow), 1);
            QTRY_VERIFY(says(s, "Loading sites…"));
            QVERIFY(!s.row(noDevices).isValid() && !labelNamed(s.window.get(), noDevices));
        }
        Session s;
        s.rig.server.script(kSites, Answer::json(503, {{"message", "The database is not answering."}}));
        s.window->loadCatalog();
        QTRY_VERIFY(s.row("The camera list could not be loaded.").isValid());
        QTRY_VERIFY(labelNamed(s.window.get(), "The database is not answering."));
        QVERIFY(!s.row(noDevices).isValid());
    }

    // A site whose device list comes as something other than a list stays,
    // saying its devices could not be read, and is asked for again on the
    // failed sites' schedule; a device list the server throttles waits as
    // long as the server asks before it is asked for again.
    void aSiteWhoseDevicesCouldNotBeReadStaysAndLoadsAgain()
    {
        Session s;
        s.rig.server.devicesAsObject = {"2"};
        s.window->loadCatalog();
        QTRY_VERIFY(s.row("Warehouse  ·  devices could not be read").isValid());
        QVERIFY(s.row("Warehouse  ·  devices could not be read").data(Qt::ToolTipRole).toString().contains("read"));
        QTRY_VERIFY(s.window->reloadTimer()->isActive());
        QCOMPARE(s.window->reloadTimer()->interval(), 15000);
        s.rig.server.devicesAsObject.clear();
        s.rig.server.scriptHandler("/v2/get_devices_by_site/", [&s](const orgserver::Request& r) {
            return r.queryValue("site_id") == "2" ? Answer::throttled("60") : s.rig.server.modelAnswer(r);
        });
        s.window->reloadTimer()->start(0);
        QTRY_VERIFY(s.row("Warehouse  ·  devices could not be loaded").isValid());
        QTRY_COMPARE(s.window->reloadTimer()->interval(), 60000);
        s.rig.server.clearScripts();
        s.window->reloadTimer()->start(0);
        QTRY_VERIFY(s.row("Recorder 2-1", s.row("Warehouse")).isValid());
    }

    // A site list answered with a page that is no list (a proxy's error
    // page, a list that is not one) says the list could not be read, not
    // that the account has no devices, and is asked for again on the
    // failed sites' schedule, as long as the server asks when it throttles.
    void aSiteListThatIsNoListIsSaidAsUnreadAndAskedForAgain()
    {
        const QString noDevices = QStringLiteral("No devices are assigned to this account.");
        const QString unread = QStringLiteral("The server's answer for the site list could not be read.");
        for (const Answer& page : {Answer::text(200, "<html><body>Down for maintenance</body></html>"),
                                   Answer::json(200, {{"data", "maintenance"}})}) {
            Session s;
            s.rig.server.script(kSites, page);
            s.window->loadCatalog();
            QTRY_VERIFY(s.row("The camera list could not be read.").isValid());
            QTRY_VERIFY(labelNamed(s.window.get(), unread));
            QVERIFY(!s.row(noDevices).isValid() && !labelNamed(s.window.get(), noDevices));
            QTRY_VERIFY(s.window->reloadTimer()->isActive());
            QCOMPARE(s.window->reloadTimer()->interval(), 15000);
            s.rig.server.script(kSites, Answer::throttled("60"));
            s.window->reloadTimer()->start(0);
            QTRY_COMPARE(s.count(kSites), 2);
            QTRY_VERIFY(s.row("The camera list could not be loaded.").isValid());
            QTRY_COMPARE(s.window->reloadTimer()->interval(), 60000);
            s.rig.server.clearScripts();
            s.window->reloadTimer()->start(0);
            QTRY_VERIFY(s.row("Recorder 2-1", s.row("Warehouse")).isValid());
            QVERIFY(!s.window->reloadTimer()->isActive());
        }
    }

    void organisationsFallThroughToOneWithDevices()
    {
        Session s([](UserProfile& u) { u.organisationName = QStringLiteral("Mine"); });
        s.offer({{"HQ", true}, {"Demo Organisation", true}, {"Mine", true}, {"Branch", false}});
        QVERIFY(s.load());
        QCOMPARE(s.sent(kSites, "org_string"), QStringList({"Mine", "Branch", "HQ", "Demo Organisation"}));
        QCOMPARE(AppContext::instance().orgName + '/' + AppContext::instance().orgId + '/'
                     + s.window->organisationChoice()->currentText(),
                 "Demo Organisation/2/Demo Organisation");

        // Choosing the one shown does nothing; another stops everything first
        // and stays chosen even without devices.
        s.rig.server.clearRequests();
        QVERIFY(s.playFirstCamera());
        Q_EMIT s.window->organisationChoice()->activated(1);
        QCOMPARE(s.count(kSites), 0);
        Q_EMIT s.window->organisationChoice()->activated(3);
        QTRY_COMPARE(s.count(kSites), 1);
        QTRY_COMPARE(s.count(kStop), 1); // the stage's live stream: its own request, on its own connection
        QCOMPARE(AppContext::instance().orgName, "Branch");
        QTRY_VERIFY(labelNamed(s.window.get(), "No devices are assigned to this account."));
    }

    void noOrganisationWithDevicesLeavesTheLastOneTried()
    {
        Session s([](UserProfile& u) { u.organisationName = QStringLiteral("Mine"); });
        s.offer({{"HQ", true}, {"Mine", false}});
        s.window->loadCatalog();
        QTRY_COMPARE(s.count(kSites), 2);
        QTRY_VERIFY(labelNamed(s.window.get(), "No devices are assigned to this account."));
        QCOMPARE(AppContext::instance().orgName, "HQ");
        QVERIFY(s.window->catalogue()->loadingLabel()->text().isEmpty());
    }

    void permissionsHideWhatTheyMust()
    {
        Session s([](UserProfile& u) {
            u.canView = false;
            u.canAdd = u.superuser = true;
        });
        s.window->loadCatalog();
        QTRY_VERIFY(s.row("Recorder 1-1").isValid());
        QVERIFY(!s.window->presetsButton()->isVisible() && !s.window->videoWallButton()->isVisible());
        QVERIFY(s.wall->log.contains("can save 0"));
        QCOMPARE(s.count("/v2/organisations/list/") + s.count(kStatus), 0);
        Modal::answer(QMessageBox::Close);
        s.openFirstCamera();
        QCOMPARE(Modal::shown(), QStringList{"No access: You don’t have permission to open this."});
        QCOMPARE(s.count(kStart), 0);
    }

    // The device page says what the server said of a device and of each of
    // its channels: online, offline, or nothing, which shows no chip.
    void devicePageShowsWhatTheServerSaidIsOnline()
    {
        DevicePage page;
        const Site site{"s1", "Head Office", false, {}};
        Device device{"d1", "s1", "Recorder", "SN1", "hikvision", false, true, {}, {}};
        device.channels = {{"c1", "d1", "Gate", 1, true, true, false},
                           {"c2", "d1", "Yard", 2, false, true, false},
                           {"c3", "d1", "Dock", 3, true, false, false}};
        const auto shown = [&] {
            QStringList out{page.chip()->isVisibleTo(&page)
                                ? page.chip()->text() + "/" + page.chip()->property("state").toString()
                                : "-"};
            for (QPushButton* row : page.findChildren<QPushButton*>("ChannelRow"))
                out << row->accessibleName() + "/" + row->findChild<QLabel*>("Dot")->property("state").toString();
            return out.join(' ');
        };
        page.showDevice(device, site, QString());
        QCOMPARE(shown(), "Offline/offline Gate/online Yard/offline Dock/unknown");
        device.online = true;
        page.showDevice(device, site, QString());
        QCOMPARE(shown().section(' ', 0, 0), "Online/online");
        device.onlineKnown = false;
        page.showDevice(device, site, QString());
        QCOMPARE(shown().section(' ', 0, 0), "-");
    }

    void liveViewStartsOneStreamAndDropsLateAnswers()
    {
        Session s;
        QVERIFY(s.load());
        QVERIFY(s.playFirstCamera() && AppContext::instance().viewActive);
        QCOMPARE(s.sent(kStart, "camera_id"), QStringList{s.window->currentChannelId()});

        // Device playback keeps the live stream on the server and plays.
        s.stage->log.clear();
        QTest::mouseClick(s.window->devicePage()->playbackButton(), Qt::LeftButton);
        Q_EMIT s.stage->deviceMonthRequested(2026, 3, s.stage->asks.issue());
        Q_EMIT s.stage->deviceDayRequested(QDate(2026, 3, 2));
        QTRY_VERIFY(s.stage->log.contains("coverage 2 1"));
        // The month's days come back with the stage's own ticket.
        QTRY_VERIFY(s.stage->log.contains("days 5"));
        Q_EMIT s.stage->playDevice(QDateTime(QDate(2026, 3, 2), QTime(8, 0)),
                                   QDateTime(QDate(2026, 3, 2), QTime(9, 0)));
        QTRY_VERIFY(s.stage->log.contains("play url"));
        QCOMPARE(s.count(kStop), 0);
        // The server's restart notice for the camera is for live view only.
        s.stage->log.clear();
        Q_EMIT AppContext::instance().api.streamNeedsRestart(s.window->currentChannelId());
        QVERIFY(s.stage->log.isEmpty());
        const QString play = QStringLiteral("/v2/api/start/playback/stream/");
        QCOMPARE(s.sent(play, "playback_date"), QStringList{"2026-03-02"});
        QVERIFY(s.sent(play, "end_time").first().startsWith("09:00"));

        // Live and cloud answers that arrive after the user moved on to device playback are dropped.
        s.delay({kStart, kCloudDays}, 400);
        Q_EMIT s.window->devicePage()->openLive();
        QTest::mouseClick(s.window->devicePage()->cloudButton(), Qt::LeftButton);
        QTest::mouseClick(s.window->devicePage()->playbackButton(), Qt::LeftButton);
        s.stage->log.clear();
        QTRY_COMPARE(s.count(kStart), 2);
        QTest::qWait(600);
        QVERIFY(s.stage->log.filter("[url]").isEmpty() && s.stage->log.filter("cloud ").isEmpty());
        QCOMPARE(s.stage->current, StagePort::Mode::DevicePlayback);

        // Stop: the owner-less streams go, the late one included; the view flag clears.
        s.rig.server.delayRule = nullptr;
        const int stopsBefore = s.count(kStop);
        s.stage->stopPlayback();
        QVERIFY(!AppContext::instance().viewActive && s.window->currentPage() == ShellWindow::DevicePageIndex);
        QTRY_VERIFY(s.count(kStop) > stopsBefore);
        // Every stream the view started is given back, the recording's too.
        QTRY_VERIFY(s.rig.server.streams.isEmpty());
    }

    void offlineAndFailedLiveAnswers()
    {
        Session s;
        QVERIFY(s.load());
        s.clickRow(s.row("Camera 2", s.row("Recorder 2-2")));
        QTRY_VERIFY(s.stage->log.contains("live Camera 2 [-] offline"));
        s.rig.server.script(kStart, Answer::json(500, {{"message", "Relay busy"}}), 5);
        s.openFirstCamera();
        QTRY_VERIFY(s.stage->log.last().startsWith("error Can’t play this stream |")
                    && s.stage->log.last().endsWith("| retry"));
        // Main/Sub restarts live on the same camera, the setting untouched.
        s.rig.server.clearScripts();
        const int starts = s.count(kStart);
        Q_EMIT s.stage->streamToggled(false);
        QTRY_COMPARE(s.count(kStart), starts + 1);
        QVERIFY(!s.window->liveMain() && !Prefs::contains(Prefs::kLiveMain.name));
        // A restart request for another camera is ignored.
        Q_EMIT AppContext::instance().api.streamNeedsRestart("nope");
        QTest::qWait(50);
        QCOMPARE(s.count(kStart), starts + 1);
    }

    // Servers send the same camera id under two sites: the row chosen opens
    // its own camera, titled as it is, live and in playback, and keeps it
    // when the stream is switched.
    void aCameraIdUnderTwoSitesOpensTheRowChosen()
    {
        Session s;
        QList<orgserver::FakeSite>& sites = s.rig.server.sites;
        sites[0].devices[0].cameras[0].name = QStringLiteral("Gate");
        sites[1].devices[0].cameras[0].name = QStringLiteral("Gate (twin)");
        sites[1].devices[0].cameras[0].id = sites[0].devices[0].cameras[0].id;
        QVERIFY(s.load());
        s.clickRow(s.row("Gate (twin)", s.row("Warehouse")));
        QTRY_VERIFY(s.stage->log.contains("live Gate (twin) [url]"));
        QCOMPARE(s.window->currentDeviceId(), sites[1].devices[0].id);
        s.stage->log.clear();
        Q_EMIT s.stage->streamToggled(false);
        QCOMPARE(s.stage->log.value(0), "live Gate (twin) [-]");
        QTest::mouseClick(s.window->devicePage()->playbackButton(), Qt::LeftButton);
        QTRY_VERIFY(s.stage->log.contains("device Gate (twin)"));
        QTest::mouseClick(s.window->devicePage()->cloudButton(), Qt::LeftButton);
        QTRY_VERIFY(s.stage->log.filter(QStringLiteral("cloud ")).value(0).startsWith("cloud Gate (twin) "));
        // The other site's row opens the other camera.
        s.clickRow(s.row("Gate", s.row("Head Office")));
        QTRY_VERIFY(s.stage->log.contains("live Gate [url]"));
        QCOMPARE(s.window->currentDeviceId(), sites[0].devices[0].id);
    }

    void camerasWallsAndWhatTheyStop()
    {
        Session s;
        QVERIFY(s.load());
        // A site's wall: every channel of its devices, titled by device and channel.
        s.clickRow(s.row("Head Office"), -20);
        QCOMPARE(s.wall->log.last(), "open Head Office (8)");
        QCOMPARE(s.window->currentPage(), int(ShellWindow::WallPageIndex));
        QVERIFY(s.stage->log.contains("stop"));

        // A catalogue click while the wall is open: the wall stops, live starts.
        s.wall->log.clear();
        s.openFirstCamera();
        QCOMPARE(s.wall->log.mid(0, 2), QStringList({"fullscreen 0", "stop"}));
        QTRY_COMPARE(s.count(kStart), 1);

        // A wall camera to the stage.
        s.window->showWall("Again", {{"x", "X", {}, false}});
        const QString second = AppContext::instance().sites[1].devices[0].channels[1].id;
        Q_EMIT s.wall->cameraOpened(second);
        QVERIFY(s.window->currentChannelId() == second && s.window->currentPage() == ShellWindow::StagePageIndex);
        QTRY_VERIFY(s.stage->log.contains("live Camera 2 [url]"));

        // Device or cloud playback started while a wall is open stops it too,
        // rather than leave it playing unseen behind the stage.
        for (QPushButton* playback :
             {s.window->devicePage()->playbackButton(), s.window->devicePage()->cloudButton()}) {
            s.window->showWall("Again", {{"x", "X", {}, false}});
            s.wall->log.clear();
            QTest::mouseClick(playback, Qt::LeftButton);
            QTRY_COMPARE(s.wall->log.mid(0, 2), QStringList({"fullscreen 0", "stop"}));
        }
        // A device chosen in the catalogue while a camera plays: nothing goes
        // on behind its page, the stage stops as its own Stop does.
        s.stage->log.clear();
        s.wall->log.clear();
        s.clickRow(s.row("Recorder 1-1"));
        QVERIFY(s.stage->log.contains("stop") && s.wall->log.contains("stop"));
        QVERIFY(!AppContext::instance().viewActive && s.window->currentPage() == ShellWindow::DevicePageIndex);
        QTRY_VERIFY(s.rig.server.streams.isEmpty());

        // A custom selection across two sites names the sites.
        s.window->catalogue()->setSelecting(true);
        s.window->catalogue()->selectAll(true);
        QTest::mouseClick(s.window->catalogue()->playSelectedButton(), Qt::LeftButton);
        QCOMPARE(s.wall->title + '/' + s.wall->cameras.first().subtitle, "Custom wall/Head Office");
    }

    void signOutStopsEverythingAndForgetsTheOrganisation()
    {
        // Playing: asked; Cancel leaves it playing; Sign out stops the stage,
        // the wall, the stage's streams and a server video wall, and a late
        // answer of the session no longer acts.
        Session s([](UserProfile& u) { u.organisationName = QStringLiteral("Mine"); });
        s.offer({{"Mine", false}, {"Demo Organisation", true}});
        QVERIFY(s.load());
        QCOMPARE(AppContext::instance().orgName, "Demo Organisation");
        QVERIFY(s.playFirstCamera());
        QSignalSpy out(s.window.get(), &ShellWindow::signedOut);
        clickInNextDialog("Cancel");
        s.window->confirmSignOut();
        QCOMPARE(Modal::shown(), QStringList{"Sign out: Sign out and stop playback?"});
        QCOMPARE(out.count() + s.count(kStop), 0);

        s.runServerWall(2);
        QVERIFY(SessionStore::save({"demo", "t", QDateTime::currentDateTimeUtc()}));
        s.delay({kCloudDays}, 300);
        QTest::mouseClick(s.window->devicePage()->cloudButton(), Qt::LeftButton);
        clickInNextDialog("Sign out");
        QTest::mouseClick(s.window->signOutButton(), Qt::LeftButton);
        QTRY_COMPARE(out.count(), 1);
        QVERIFY(!SessionStore::load() && AppContext::instance().api.accessToken().isEmpty());
        QVERIFY(s.stage->log.contains("stop") && s.wall->log.contains("stop"));
        s.stage->log.clear();
        QTest::qWait(500);
        QVERIFY(s.stage->log.isEmpty());
        QCOMPARE(s.videoWall->stops, 1);
        QTRY_VERIFY(s.rig.server.streams.isEmpty());
        // The next user starts from their own organisation.
        QVERIFY(AppContext::instance().orgName.isEmpty() && AppContext::instance().orgId.isEmpty());
        QCOMPARE(s.window->organisationChoice()->count(), 0);
        QVERIFY(!s.window->statusTimer()->isActive());
    }

    // User A searches for "Gate" and turns on selection mode, then signs
    // out; user B signs in: the catalogue opens unfiltered, out of selection
    // mode, with B's cameras.
    void theNextUserInheritsNoSearchNorSelection()
    {
        Session s;
        QVERIFY(s.load());
        CatalogPane* pane = s.window->catalogue();
        QTest::mouseClick(pane->searchField(), Qt::LeftButton);
        QTest::keyClicks(pane->searchField(), QStringLiteral("Gate"));
        QTest::mouseClick(pane->selectionToggle(), Qt::LeftButton);
        QTRY_COMPARE(s.row("No matches.").isValid(), true);
        QVERIFY(pane->selectionBar()->isVisible());
        QSignalSpy out(s.window.get(), &ShellWindow::signedOut);
        QTest::mouseClick(s.window->signOutButton(), Qt::LeftButton);
        QTRY_COMPARE(out.count(), 1);

        s.rig.signIn();
        s.rig.server.clearRequests();
        QVERIFY(s.load());
        QCOMPARE(pane->searchField()->text(), QString());
        QVERIFY(!pane->selectionToggle()->isChecked() && !pane->selectionBar()->isVisible());
        QVERIFY(!s.row("No matches.").isValid());
        QVERIFY(s.row("Camera 1", s.row("Recorder 1-1")).isValid());
    }

    // In Settings, a choice clicked keeps the focus, and Enter then presses
    // Done, the choice kept. "Open log folder" with nothing to open folders
    // says where the folder is, and "Copy path" puts the path on the clipboard.
    void settingsEnterIsDoneAndTheLogFolderIsToldWhenNothingOpensIt()
    {
        Modal::reset();
        Prefs::set(Prefs::kLiveMain, true);
        SettingsDialog d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        d.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QAbstractButton* sub = d.groups().at(0)->button(1);
        QTest::mouseClick(sub, Qt::LeftButton);
        QVERIFY(sub->hasFocus() && !Prefs::get(Prefs::kLiveMain));
        QSignalSpy accepted(&d, &QDialog::accepted);
        QTest::keyClick(sub, Qt::Key_Return);
        QCOMPARE(accepted.count(), 1);
        QVERIFY(sub->isChecked() && !Prefs::get(Prefs::kLiveMain));

        QStringList opened;
        SettingsDialog::setFolderOpener([&opened](const QUrl& url) {
            opened << url.toLocalFile();
            return SettingsDialog::FolderOpen::Failed;
        });
        d.show();
        QGuiApplication::clipboard()->clear();
        QString selectable;
        Modal::respond([&selectable](QDialog& box) {
            for (QLabel* l : box.findChildren<QLabel*>())
                if (l->text().contains(Log::directory()) && (l->textInteractionFlags() & Qt::TextSelectableByMouse))
                    selectable = l->text();
            return int(QMessageBox::ActionRole); // "Copy path"
        });
        buttonNamed(&d, "Open log folder")->click();
        QTRY_COMPARE(Modal::pending(), 0);
        QCOMPARE(opened, QStringList{Log::directory()});
        QCOMPARE(Modal::shown(),
                 QStringList{"Log folder: Nothing on this computer could open the log folder. It is at:\n"
                             + Log::directory()});
        QVERIFY(!selectable.isEmpty());
        QCOMPARE(QGuiApplication::clipboard()->text(), Log::directory());
        // Where the desktop only says that its opener started, which it does
        // whether or not a file browser shows the folder, the folder's place
        // is said beside the button, and can be copied.
        QVERIFY(!d.logFolderNote()->isVisible());
        SettingsDialog::setFolderOpener([](const QUrl&) { return SettingsDialog::FolderOpen::Started; });
        buttonNamed(&d, "Open log folder")->click();
        QTRY_VERIFY(d.logFolderNote()->isVisible());
        QVERIFY(labelNamed(d.logFolderNote(), "If no window opened, the log folder is at:\n" + Log::directory()));
        QGuiApplication::clipboard()->clear();
        buttonNamed(d.logFolderNote(), "Copy path")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), Log::directory());
        // Where a file browser opens it, nothing is said.
        SettingsDialog::setFolderOpener([](const QUrl&) { return SettingsDialog::FolderOpen::Opened; });
        buttonNamed(&d, "Open log folder")->click();
        QTRY_VERIFY(!d.logFolderNote()->isVisible());
        QTest::qWait(50);
        QCOMPARE(Modal::shown().size(), 1);
        SettingsDialog::setFolderOpener({});
        d.close();
    }

    // A choice the settings file cannot keep is said in the dialog, under the
    // choices; it holds, and the note goes once a choice is kept again, the
    // held one with it.
    void settingsThatCannotBeKeptAreSaidThere()
    {
        Prefs::set(Prefs::kGridQuality, 0);
        SettingsDialog d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QVERIFY(!d.notKeptNote()->isVisible());
        // A folder where the settings file is written: no write of it works.
        const QString file = NativeMode::prefs().fileName();
        const QString aside = file + QStringLiteral(".aside");
        QVERIFY(QFile::rename(file, aside) && QDir().mkpath(file));
        d.groups().at(1)->button(2)->click(); // the camera wall on Sub
        QVERIFY(d.notKeptNote()->isVisible());
        QCOMPARE(d.notKeptNote()->text(), Prefs::notKeptText());
        QVERIFY2(
            d.notKeptNote()->text().startsWith(QStringLiteral("This choice could not be saved in the settings file")),
            qPrintable(d.notKeptNote()->text()));
        QCOMPARE(Prefs::get(Prefs::kGridQuality), 2);

        QVERIFY(QDir(file).removeRecursively() && QFile::rename(aside, file));
        d.groups().at(3)->button(2)->click(); // drawing with the processor
        QVERIFY(!d.notKeptNote()->isVisible());
        QFile written(file);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray text = written.readAll();
        QVERIFY(text.contains("gridQuality=2") && text.contains("renderMode=cpu"));
        Prefs::set(Prefs::kGridQuality, 0);
        Prefs::set(Prefs::kRenderMode, QStringLiteral("auto"));
        d.close();
    }

    void quitGivesTheStreamsBackExpirySignsOutOnlyWhileShown()
    {
        Session s;
        QVERIFY(s.load());
        QVERIFY(s.playFirstCamera());
        s.runServerWall();
        // A recording playing too: the live stream stays held meanwhile.
        QTest::mouseClick(s.window->devicePage()->playbackButton(), Qt::LeftButton);
        Q_EMIT s.stage->playDevice(QDateTime(QDate(2026, 3, 2), QTime(8, 0)),
                                   QDateTime(QDate(2026, 3, 2), QTime(9, 0)));
        QTRY_VERIFY(s.stage->log.contains("play url"));
        QCOMPARE(s.rig.server.streams.size(), 2);
        // What the application object announces when the event loop ends.
        QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection));
        QCOMPARE(s.videoWall->stops, 1);
        QTRY_COMPARE(s.count(kStop), 2);
        QVERIFY(s.rig.server.streams.isEmpty());

        s.stage->log.clear();
        QVERIFY(s.playFirstCamera());
        QCOMPARE(s.count(kStart), 2);
        QSignalSpy out(s.window.get(), &ShellWindow::signedOut);
        s.window->hide();
        Q_EMIT AppContext::instance().api.sessionExpired();
        QTest::qWait(50);
        QCOMPARE(out.count(), 0);
        s.window->show();
        QString informative;
        Modal::respond([&](QDialog& d) {
            informative = static_cast<QMessageBox&>(d).informativeText();
            return int(QMessageBox::Ok);
        });
        Q_EMIT AppContext::instance().api.sessionExpired();
        QTRY_COMPARE(out.count(), 1);
        QCOMPARE(Modal::shown(), QStringList{"Session expired: Your session has expired. Please sign in again."});
        QCOMPARE(informative, AppContext::instance().api.sessionEndReason());
        QTRY_VERIFY(s.rig.server.streams.isEmpty());
    }

    void presetsListPlayAndSave()
    {
        Session s;
        QVERIFY(s.load());
        // The list, and "Play on wall".
        Modal::respond([](QDialog& d) {
            auto* list = d.findChild<QListWidget*>("PresetList");
            if (!QTest::qWaitFor([&] { return list->count() == 1; }, 5000)
                || list->item(0)->text() != QStringLiteral("Entrances\n4 cameras"))
                return 0;
            buttonNamed(&d, "Play on wall")->click();
            return QTest::qWaitFor([&] { return d.result() == QDialog::Accepted; }, 5000) ? d.result() : 0;
        });
        QTest::mouseClick(s.window->presetsButton(), Qt::LeftButton);
        QTRY_COMPARE(s.wall->log.last(), "open Entrances (4)");
        QCOMPARE(s.sent("/v2/api/vms/presets/", "preset_id"), QStringList{"1"});

        // Saving under a trimmed new name, then over an existing one.
        const QString create = QStringLiteral("/v2/api/create/preset/");
        for (const QString typed : {"  Night  ", "Entrances"}) {
            Modal::respond([typed](QDialog& d) {
                auto& ask = static_cast<QInputDialog&>(d);
                if (!ask.comboBoxItems().contains("Entrances") || !ask.textValue().isEmpty())
                    return 0;
                // The field where the name is typed has a name a screen reader says.
                auto* names = ask.findChild<QComboBox*>();
                QAccessibleInterface* field =
                    names && names->lineEdit() ? QAccessible::queryAccessibleInterface(names->lineEdit()) : nullptr;
                if (!field || field->text(QAccessible::Name) != QStringLiteral("Preset name"))
                    return 0;
                ask.setTextValue(typed);
                return int(QDialog::Accepted);
            });
            Modal::answer(QMessageBox::Ok);
            Q_EMIT s.wall->savePresetRequested();
            QTRY_COMPARE(Modal::pending(), 0);
        }
        QStringList saved;
        for (const orgserver::Request& r : s.rig.server.requestsTo(create))
            saved << r.json().value("preset_name").toString() + (r.json().contains("preset_id") ? " over" : " new");
        QCOMPARE(saved, QStringList({"Night new", "Entrances over"}));
        QVERIFY(Modal::shown().contains("Presets: Saved “Night”."));
    }

    // (The health page is the screenshot suite's.)
    void settingsKeysHandleAndMinimise()
    {
        Session s;
        // The settings dialog writes each choice at once; the window rereads Main/Sub.
        Modal::respond([&](QDialog& d) {
            const QList<QButtonGroup*> groups = d.findChildren<QButtonGroup*>();
            groups[0]->button(1)->click(); // Sub
            groups[1]->button(2)->click(); // wall Sub
            groups[2]->button(1)->click(); // decoding off
            groups[3]->button(1)->click(); // graphics
            return int(QDialog::Rejected); // closed without Done
        });
        QTest::mouseClick(s.window->settingsButton(), Qt::LeftButton);
        QTRY_COMPARE(Modal::pending(), 0);
        QCOMPARE(QStringLiteral("%1 %2 %3 %4")
                     .arg(int(Prefs::get(Prefs::kLiveMain)))
                     .arg(Prefs::get(Prefs::kGridQuality))
                     .arg(int(Prefs::get(Prefs::kHardwareDecode)))
                     .arg(Prefs::get(Prefs::kRenderMode)),
                 "0 2 0 gpu");
        QCOMPARE(s.stage->log.last(), "main 0"); // the window reread it
        for (const char* key : {"liveMain", "gridQuality", "hardwareDecode", "renderMode"})
            Prefs::remove(key);

        s.window->showWall("W", {{"x", "X", {}, false}});
        QTest::keyClick(s.window.get(), Qt::Key_Right);
        QTest::keyClick(s.window.get(), Qt::Key_Left);
        QCOMPARE(s.wall->log.mid(s.wall->log.size() - 2), QStringList({"next", "previous"}));
        Q_EMIT s.wall->closed();
        QTest::keyClick(s.window.get(), Qt::Key_Right);
        QCOMPARE(s.wall->log.last(), "previous");

        // Minimising twice suspends once; restoring resumes once.
        s.stage->log.clear();
        s.wall->log.clear();
        for (Qt::WindowState state : {Qt::WindowMinimized, Qt::WindowMinimized, Qt::WindowNoState}) {
            QWindowStateChangeEvent e(state == Qt::WindowNoState ? Qt::WindowMinimized : Qt::WindowNoState);
            s.window->setWindowState(state);
            QCoreApplication::sendEvent(s.window.get(), &e);
        }
        QCOMPARE(s.stage->log.filter("suspend").size(), 1);
        QCOMPARE(s.wall->log, QStringList({"suspend", "resume"}));

        // Dragging the handle resizes and stores; collapsing hides it.
        QWidget* handle = s.window->handle();
        QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(2, 100));
        QMouseEvent move(QEvent::MouseMove, QPointF(42, 100), handle->mapToGlobal(QPointF(42, 100)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(handle, &move);
        QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(42, 100));
        QCOMPARE(Prefs::get(Prefs::kCatalogWidth), 340);
        // So does an arrow on it, from where the drag left it.
        handle->setFocus(Qt::TabFocusReason);
        QTest::keyClick(handle, Qt::Key_Right);
        QTest::keyClick(handle, Qt::Key_Right);
        QCOMPARE(Prefs::get(Prefs::kCatalogWidth), 340 + 2 * kvr::view::tun::kHandleKeyStep_px);
        s.window->catalogue()->setCollapsed(true, false);
        QVERIFY(Prefs::get(Prefs::kCatalogCollapsed));
        QVERIFY(!handle->isVisible());
    }
};

KVR_TEST_MAIN(TestShellWindow)

#include "tst_shell_window.moc"
