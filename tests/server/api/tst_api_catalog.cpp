// The progressive catalogue (at most ten requests in flight, order, supersede
// and release), organisations, presets and the system status.
#include "tests/server/api/ApiTestSupport.h"

#include <QJsonArray>

using orgserver::Answer;
using orgserver::Request;

namespace {

struct Progress {
    QList<Site> sites;
    int sitesCalls = 0;
    QList<int> completed;
    QList<Site> completedSites;
    QStringList events;
    bool done = false;
    QString error;

    ApiClient::CatalogHandlers handlers()
    {
        ApiClient::CatalogHandlers h;
        h.sites = [this](const QList<Site>& s) {
            sites = s;
            ++sitesCalls;
            events << "sites";
        };
        h.site = [this](int i, const Site& s) {
            completed << i;
            completedSites << s;
            events << QString("site %1").arg(i);
        };
        h.done = [this](const QString& e) {
            error = e;
            done = true;
            events << "done";
        };
        return h;
    }
};

} // namespace

class ApiCatalogTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { apitest::installLoopbackGuard(); }

    void loadsProgressively()
    {
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        Progress p;
        rig.client->fetchCatalogProgressive(rig.server.orgName, p.handlers());
        QVERIFY(apitest::waitFor(p.done));
        QVERIFY(p.error.isEmpty());
        QCOMPARE(p.events.size(), 4);
        QVERIFY(p.events.first() == "sites" && p.events.last() == "done");
        for (const Site& s : p.sites)
            QVERIFY(s.loading && s.devices.isEmpty()); // the bare list comes first
        for (const Site& s : p.completedSites) {
            QVERIFY(!s.loading);
            QCOMPARE(s.devices.size(), 2);
            for (const Device& d : s.devices) {
                QCOMPARE(d.siteId, s.id);
                QCOMPARE(d.channels.size(), 4);
                for (const Channel& c : d.channels)
                    QCOMPARE(c.deviceId, d.id);
            }
        }
        QCOMPARE(rig.server.requestsTo("/v2/get_sites_by_org_string").first().queryValue("org_string"),
                 rig.server.orgName);
        QTRY_COMPARE(ApiClientTestAccess::liveCatalogLoads(), 0);
    }

    void atMostTenInFlightAndInOrder()
    {
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        rig.server.populate(30, 3, 2);
        rig.server.delayRule = [](const Request& r) { return r.path.startsWith("/v2/get_") ? 20 : 0; };
        Progress p;
        apitest::sentLog().clear();
        rig.client->fetchCatalogProgressive(rig.server.orgName, p.handlers());
        QVERIFY(apitest::waitFor(p.done, 30000));
        QVERIFY(p.error.isEmpty());
        // Counted where requests leave the client (the server itself never
        // sees more than the network layer's six connections per host).
        QCOMPARE(ApiClientTestAccess::peakOutstanding(*rig.client), 10);
        QCOMPARE(p.completed.size(), 30);
        // Every site once, complete when reported, at its own index; the early
        // sites finish before the late ones are even asked for.
        QList<int> sorted = p.completed;
        std::sort(sorted.begin(), sorted.end());
        for (int i = 0; i < 30; ++i)
            QCOMPARE(sorted[i], i);
        for (int k = 0; k < p.completed.size(); ++k) {
            QCOMPARE(p.completedSites[k].id, p.sites[p.completed[k]].id);
            QCOMPARE(p.completedSites[k].devices.size(), 3);
            QCOMPARE(p.completedSites[k].devices[2].channels.size(), 2);
        }
        QVERIFY(p.completed.first() < 10);
        QVERIFY(p.completed.indexOf(29) > p.completed.indexOf(0));
        QCOMPARE(rig.server.countOf("/v2/get_devices_by_site/"), 30);
        QCOMPARE(rig.server.countOf("/v2/get_channels_by_device/"), 90);
        QTRY_COMPARE(ApiClientTestAccess::liveCatalogLoads(), 0);
    }

    void channelRequestsJumpTheQueue()
    {
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        rig.server.populate(12, 4, 1);
        // Site 1 answers at once, the others slowly.
        rig.server.delayRule = [](const Request& r) {
            if (r.path == "/v2/get_devices_by_site/" && r.queryValue("site_id") != "1")
                return 300;
            return 0;
        };
        apitest::sentLog().clear();
        Progress p;
        rig.client->fetchCatalogProgressive(rig.server.orgName, p.handlers());
        QVERIFY(apitest::waitFor(p.done, 30000));
        QStringList order;
        for (const QUrl& u : apitest::sentLog())
            order << u.path() + "?" + u.query(QUrl::FullyDecoded);
        QCOMPARE(order.value(0), QString("/v2/get_sites_by_org_string?org_string=Demo Organisation"));
        for (int i = 1; i <= 10; ++i)
            QCOMPARE(order.value(i), QString("/v2/get_devices_by_site/?site_id=%1").arg(i));
        // The place freed by site 1's answer goes to its first channel request.
        const QString firstDevice = rig.server.sites[0].devices[0].id;
        QCOMPARE(order.value(11), QString("/v2/get_channels_by_device/?device_id=%1").arg(firstDevice));
    }

    // A newer load, or signing out, drops a running load; the older load is
    // released once its last outstanding answer is in, and those answers
    // reach nobody and ask for nothing more.
    void runningLoadIsDroppedAndReleased_data()
    {
        QTest::addColumn<bool>("signOut");
        QTest::newRow("newer load") << false;
        QTest::newRow("sign-out") << true;
    }
    void runningLoadIsDroppedAndReleased()
    {
        QFETCH(bool, signOut);
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        rig.server.populate(30, 2, 1);
        rig.server.delayRule = [](const Request& r) { return r.path == "/v2/get_devices_by_site/" ? 200 : 0; };
        Progress first;
        rig.client->fetchCatalogProgressive(rig.server.orgName, first.handlers());
        QTRY_COMPARE(rig.server.countOf("/v2/get_devices_by_site/"), 6); // under way
        QCOMPARE(ApiClientTestAccess::liveCatalogLoads(), 1);
        Progress second;
        if (signOut) {
            rig.client->logout();
        } else {
            rig.client->fetchCatalogProgressive("Nobody Here", second.handlers());
            QVERIFY(apitest::waitFor(second.done));
            QCOMPARE(second.sitesCalls, 1);
            QVERIFY(second.sites.isEmpty());
        }
        QTRY_COMPARE(ApiClientTestAccess::liveCatalogLoads(), 0);
        QCOMPARE(first.completed.size(), 0);
        QVERIFY(!first.done);
        QCOMPARE(rig.server.countOf("/v2/get_devices_by_site/"), 10);
        QCOMPARE(rig.server.countOf("/v2/get_channels_by_device/"), 0);
    }

    void blankOrganisationLeavesRunningLoadAlone()
    {
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        Progress running;
        rig.client->fetchCatalogProgressive(rig.server.orgName, running.handlers());
        Progress blank;
        rig.client->fetchCatalogProgressive("   ", blank.handlers());
        QVERIFY(blank.done); // before the call returned
        QCOMPARE(blank.error, QString("Organisation name missing."));
        QVERIFY(apitest::waitFor(running.done));
        QVERIFY(running.error.isEmpty());
        QCOMPARE(running.completed.size(), 2);
    }

    void failures()
    {
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        // Site list refused.
        rig.server.script("/v2/get_sites_by_org_string", Answer::json(500, {{"message", "Database down"}}));
        Progress a;
        rig.client->fetchCatalogProgressive(rig.server.orgName, a.handlers());
        QVERIFY(apitest::waitFor(a.done));
        QCOMPARE(a.error, QString("Database down"));
        QCOMPARE(a.sitesCalls, 0);

        // Site list without any answer: an error, not an empty organisation.
        rig.server.script("/v2/get_sites_by_org_string", Answer::hangUp(), -1);
        Progress b;
        rig.client->fetchCatalogProgressive(rig.server.orgName, b.handlers());
        QVERIFY(apitest::waitFor(b.done));
        QVERIFY(!b.error.isEmpty());
        QCOMPARE(b.sitesCalls, 0);
        rig.server.clearScripts();

        // A failing device list leaves its site empty and is not reported.
        rig.server.scriptHandler("/v2/get_devices_by_site/", [](const Request& r) {
            return r.queryValue("site_id") == "2" ? Answer::json(500, {})
                                                  : Answer::json(200, {{"devices", QJsonArray()}});
        });
        Progress c;
        rig.client->fetchCatalogProgressive(rig.server.orgName, c.handlers());
        QVERIFY(apitest::waitFor(c.done));
        QVERIFY(c.error.isEmpty());
        QCOMPARE(c.completed.size(), 2);
        rig.server.clearScripts();

        // A device list without any answer completes its site but is reported.
        rig.server.scriptHandler("/v2/get_devices_by_site/", [](const Request& r) {
            return r.queryValue("site_id") == "2" ? Answer::hangUp() : Answer::json(200, {{"devices", QJsonArray()}});
        });
        Progress d;
        rig.client->fetchCatalogProgressive(rig.server.orgName, d.handlers());
        QVERIFY(apitest::waitFor(d.done));
        QCOMPARE(d.completed.size(), 2);
        QVERIFY2(d.error.contains("could not be loaded"), qPrintable(d.error));
        rig.server.clearScripts();
    }

    void wholeCatalogue()
    {
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        apitest::Reply<const QList<Site>&, const QString&> r;
        const auto& [sites, error] = r.args;
        rig.client->fetchCatalog(rig.server.orgName, r.callback());
        QVERIFY(apitest::waitFor(r.done));
        QVERIFY(error.isEmpty());
        QCOMPARE(sites.size(), 2);
        QVERIFY(!sites[0].loading && !sites[1].loading);
        QCOMPARE(sites[1].devices[0].channels.size(), 4);

        rig.client->fetchCatalog("", r.callback());
        QVERIFY(r.done);
        QVERIFY(sites.isEmpty());
        QCOMPARE(error, QString("Organisation name missing."));
    }

    void organisationsAndStatus()
    {
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        apitest::Reply<const QList<Organisation>&, const QString&> o;
        const auto& [orgs, orgError] = o.args;
        rig.client->fetchOrganisations(o.callback());
        QVERIFY(apitest::waitFor(o.done));
        QCOMPARE(orgs.size(), 1);
        QCOMPARE(orgs[0].id, QString("7"));
        QVERIFY(orgs[0].headOffice);

        rig.server.script("/v2/organisations/list/", Answer::json(403, {{"message", "No"}}));
        rig.client->fetchOrganisations(o.callback());
        QVERIFY(apitest::waitFor(o.done));
        QVERIFY(orgs.isEmpty() && orgError.isEmpty());

        rig.server.script("/v2/organisations/list/", Answer::hangUp(), -1);
        rig.client->fetchOrganisations(o.callback());
        QVERIFY(apitest::waitFor(o.done));
        QVERIFY(orgs.isEmpty() && !orgError.isEmpty());

        apitest::Reply<bool, int, const QString&> st;
        const auto& [online, count, error] = st.args;
        rig.client->fetchSystemStatus(st.callback());
        QVERIFY(apitest::waitFor(st.done));
        QVERIFY(online && count == 0 && error.isEmpty());
        rig.server.script("/v2/api/vms/stream/status/", Answer::json(403, {}));
        rig.client->fetchSystemStatus(st.callback());
        QVERIFY(apitest::waitFor(st.done));
        QCOMPARE(error, QString("forbidden"));
        rig.server.script("/v2/api/vms/stream/status/", Answer::hangUp(), -1);
        rig.client->fetchSystemStatus(st.callback());
        QVERIFY(apitest::waitFor(st.done));
        QVERIFY(!online && !error.isEmpty());
    }

    void presets()
    {
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        apitest::Reply<const QString&> save;
        const auto& [saveError] = save.args;
        rig.client->savePreset("Gates", "7", {"5000001", "cam-x"}, QString(), save.callback());
        QVERIFY(apitest::waitFor(save.done));
        QVERIFY(saveError.isEmpty());
        const Request created = rig.server.requestsTo("/v2/api/create/preset/").first();
        QCOMPARE(created.json().value("org_id"), QJsonValue(7));
        QCOMPARE(created.json().value("camera_ids").toArray(), (QJsonArray{5000001, "cam-x"}));
        QVERIFY(!created.json().contains("preset_id"));
        QVERIFY(created.header("authorization").startsWith("Bearer "));
        QVERIFY(created.header("x-spa-secret").isEmpty());

        apitest::Reply<const QList<Preset>&, const QString&> list;
        const auto& [presets, listError] = list.args;
        rig.client->fetchPresets("7", list.callback());
        QVERIFY(apitest::waitFor(list.done));
        QCOMPARE(presets.size(), 2);
        QCOMPARE(presets[1].name, QString("Gates"));
        QCOMPARE(presets[1].cameraIds, (QList<QString>{"5000001", "cam-x"}));

        rig.client->savePreset("Gates 2", "7", {"5000002"}, presets[1].id, save.callback());
        QVERIFY(apitest::waitFor(save.done));
        QVERIFY(saveError.isEmpty());
        QCOMPARE(rig.server.requestsTo("/v2/api/create/preset/").last().json().value("preset_id"), QJsonValue(2));

        apitest::Reply<const QList<PresetCamera>&, const QString&> cams;
        rig.client->fetchPresetCameras("1", cams.callback());
        QVERIFY(apitest::waitFor(cams.done));
        QCOMPARE(std::get<0>(cams.args).size(), 4);
        QVERIFY(std::get<0>(cams.args)[0].online && std::get<0>(cams.args)[0].onlineKnown);

        // Refusals and silence: no answer at all is neither "saved" nor "no presets".
        rig.server.script("/v2/api/organisation/presets/", Answer::json(403, {}));
        rig.client->fetchPresets("7", list.callback());
        QVERIFY(apitest::waitFor(list.done));
        QCOMPARE(listError, QString("Your account cannot view presets."));
        rig.server.script("/v2/api/organisation/presets/", Answer::hangUp(), -1);
        rig.client->fetchPresets("7", list.callback());
        QVERIFY(apitest::waitFor(list.done));
        QVERIFY(presets.isEmpty() && !listError.isEmpty());

        const QList<std::pair<Answer, QString>> failures{
            {Answer::json(403, {{"message", "x"}}), "Your account is not allowed to save presets."},
            {Answer::json(500, {}), QString()},
            {Answer::hangUp(), QString()}};
        for (const auto& [answer, text] : failures) {
            rig.server.clearScripts();
            rig.server.script("/v2/api/create/preset/", answer, -1); // a hang-up is resent once
            rig.client->savePreset("a", "7", {}, {}, save.callback());
            QVERIFY(apitest::waitFor(save.done));
            QVERIFY2(text.isEmpty() ? !saveError.isEmpty() : saveError == text, qPrintable(saveError));
        }
    }
};

KVR_TEST_MAIN(ApiCatalogTest)
#include "tst_api_catalog.moc"
