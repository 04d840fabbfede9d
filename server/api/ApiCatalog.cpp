// The progressive catalogue, organisations, presets and the system status.
#include "server/api/ApiClient.h"

#include "server/api/ApiJson.h"
#include "server/api/ApiReaders.h"
#include "server/api/ApiRules.h"
#include "server/api/Logging.h"
#include "server/api/Tunables.h"

#include <QJsonArray>
#include <QTimer>

#include <atomic>
#include <deque>

using namespace kvr::core;

namespace kvr::api {

namespace {

// What a catalogue list's answer (sites, devices, channels) means: read (a
// refusal reads as no list), a failure (no answer, or a server in trouble),
// or an answer that is no list.
DeviceList listOutcome(int status, bool readable)
{
    if (status == 0 || (status >= 400 && ApiRules::isOutage(ApiRules::failureOfStatus(status))))
        return DeviceList::Failed;
    if (status < 400 && !readable)
        return DeviceList::Unreadable;
    return DeviceList::Read;
}

} // namespace

// The state of one running catalogue load after its site list arrived. Held by
// the client while the load is current and by each outstanding answer; a
// superseded or finished load is released when the last of them lets go.
struct CatalogLoad {
    QList<Site> sites;
    QList<int> pending;
    std::deque<std::function<void()>> jobs;
    int inFlight = 0;
    int sitesLeft = 0;
    RequestTicket ticket; // of the round that started the load
    QString firstError;   // a device or channel list that got no answer at all
    ApiClient::CatalogHandlers handlers;

    static std::atomic<int>& liveCount()
    {
        static std::atomic<int> count{0};
        return count;
    }
    CatalogLoad() { ++liveCount(); }
    ~CatalogLoad() { --liveCount(); }
    CatalogLoad(const CatalogLoad&) = delete;
    CatalogLoad& operator=(const CatalogLoad&) = delete;
};

int ApiClient::liveCatalogLoads()
{
    return CatalogLoad::liveCount().load();
}

void ApiClient::supersedeCatalog()
{
    // The running load, if any, is dropped: the client lets go of it and of
    // its waiting jobs, so it is released once its outstanding answers are
    // in, and none of those answers reaches its handlers.
    m_catalogDesk.supersede();
    if (m_catalogLoad) {
        m_catalogLoad->jobs.clear();
        m_catalogLoad.reset();
    }
}

void ApiClient::fetchCatalogProgressive(const QString& orgString, const CatalogHandlers& given, QObject* context)
{
    const CatalogHandlers handlers{tied(context, given.sites), tied(context, given.site), tied(context, given.done),
                                   tied(context, given.siteListFailed)};
    if (orgString.trimmed().isEmpty()) {
        if (handlers.done)
            handlers.done(QStringLiteral("Organisation name missing."));
        return;
    }
    supersedeCatalog();
    const RequestTicket ticket = m_catalogDesk.ticket();
    JsonRequest request;
    request.path = QStringLiteral("/v2/get_sites_by_org_string");
    request.auth = true;
    request.query.addQueryItem(QStringLiteral("org_string"), orgString);
    sendJson(request, [this, ticket, handlers](const JsonReply& reply) {
        if (!ticket.current())
            return;
        // An answer that holds no list (a proxy's error page, a
        // maintenance page) is no organisation without sites: it is said
        // as unread, as a list that got no answer is said as failed.
        const DeviceList outcome = listOutcome(reply.status, sitesReadable(reply.answer));
        if (outcome != DeviceList::Read && handlers.siteListFailed)
            handlers.siteListFailed(outcome, reply.retryAfterMs);
        if (outcome == DeviceList::Unreadable) {
            qCWarning(lcApi).noquote() << "[catalog] the site list could not be read";
            if (handlers.done)
                handlers.done(QStringLiteral("The server's answer for the site list could not be read."));
            return;
        }
        if (reply.status == 0 || reply.status >= 400) {
            if (handlers.done)
                handlers.done(reply.error);
            return;
        }
        const QList<Site> sites = readSites(reply.answer);
        if (handlers.sites)
            handlers.sites(sites);
        if (!ticket.current())
            return; // a handler started another load
        startCatalogLoad(ticket, sites, handlers);
    });
}

void ApiClient::reloadSites(const QList<Site>& given, const CatalogHandlers& handlers, QObject* context)
{
    supersedeCatalog();
    QList<Site> sites = given;
    for (Site& site : sites) {
        site.loading = true;
        site.deviceList = DeviceList::Read;
        site.retryAfterMs = 0;
        site.devices.clear();
    }
    startCatalogLoad(m_catalogDesk.ticket(), sites,
                     {nullptr, tied(context, handlers.site), tied(context, handlers.done), nullptr});
}

void ApiClient::startCatalogLoad(const RequestTicket& ticket, const QList<Site>& sites, const CatalogHandlers& handlers)
{
    if (sites.isEmpty()) {
        if (handlers.done)
            handlers.done(QString());
        return;
    }
    auto load = std::make_shared<CatalogLoad>();
    load->sites = sites;
    load->pending = QList<int>(sites.size(), 1);
    load->sitesLeft = int(sites.size());
    load->ticket = ticket;
    load->handlers = handlers;
    m_catalogLoad = load;
    std::weak_ptr<CatalogLoad> weak = load;
    for (int i = 0; i < sites.size(); ++i) {
        load->jobs.push_back([this, weak, i] {
            auto l = weak.lock();
            if (!l)
                return;
            JsonRequest request;
            request.path = QStringLiteral("/v2/get_devices_by_site/");
            request.auth = true;
            request.query.addQueryItem(QStringLiteral("site_id"), l->sites.at(i).id);
            sendJson(request, [this, l, i](const JsonReply& reply) { catalogDevicesAnswered(l, i, reply); });
        });
    }
    pumpCatalog(load);
}

void ApiClient::pumpCatalog(const std::shared_ptr<CatalogLoad>& load)
{
    if (!load->ticket.current())
        return;
    while (load->inFlight < tun::kCatalogInFlight && !load->jobs.empty()) {
        auto job = std::move(load->jobs.front());
        load->jobs.pop_front();
        ++load->inFlight;
        job();
        if (!load->ticket.current())
            return;
    }
}

void ApiClient::catalogDevicesAnswered(const std::shared_ptr<CatalogLoad>& load, int i, const JsonReply& reply)
{
    --load->inFlight;
    if (!load->ticket.current())
        return;
    Site& site = load->sites[i];
    const int status = reply.status;
    if (status == 0 && load->firstError.isEmpty())
        load->firstError = reply.error;
    // A server in trouble, or an answer that holds no list, is not a site
    // without devices: the site stays, marked, and is asked for again.
    site.deviceList = listOutcome(status, devicesReadable(reply.answer));
    if (site.deviceList == DeviceList::Read && status < 400)
        site.devices = readDevices(reply.answer, site.id);
    if (site.devicesFailed()) {
        site.retryAfterMs = reply.retryAfterMs;
        qCWarning(lcApi).noquote() << "[catalog] site" << site.id << "devices"
                                   << (site.deviceList == DeviceList::Unreadable ? "could not be read"
                                                                                 : "could not be loaded");
    }
    load->pending[i] = int(site.devices.size());
    if (site.devices.isEmpty()) {
        catalogSiteDone(load, i);
    } else {
        std::weak_ptr<CatalogLoad> weak = load;
        for (int j = int(site.devices.size()) - 1; j >= 0; --j) {
            load->jobs.push_front([this, weak, i, j] {
                auto l = weak.lock();
                if (!l)
                    return;
                QUrlQuery q;
                q.addQueryItem(QStringLiteral("device_id"), l->sites.at(i).devices.at(j).id);
                getJson(
                    QStringLiteral("/v2/get_channels_by_device/"), true,
                    [this, l, i, j](const QJsonObject& a, int s, const QString& e) {
                        catalogChannelsAnswered(l, i, j, a, s, e);
                    },
                    q);
            });
        }
    }
    pumpCatalog(load);
}

void ApiClient::catalogChannelsAnswered(const std::shared_ptr<CatalogLoad>& load, int i, int j,
                                        const QJsonObject& answer, int status, const QString& error)
{
    --load->inFlight;
    if (!load->ticket.current())
        return;
    Site& site = load->sites[i];
    Device& device = site.devices[j];
    if (status == 0 && load->firstError.isEmpty())
        load->firstError = error;
    // A camera list that failed, or could not be read, leaves the site
    // marked as its device list would: asked for again, not a recorder
    // without cameras.
    const DeviceList outcome = listOutcome(status, channelsReadable(answer));
    if (outcome == DeviceList::Read && status < 400)
        device.channels = readChannels(answer, device.id);
    else if (outcome != DeviceList::Read && !site.devicesFailed())
        site.deviceList = outcome;
    if (--load->pending[i] == 0)
        catalogSiteDone(load, i);
    pumpCatalog(load);
}

void ApiClient::catalogSiteDone(const std::shared_ptr<CatalogLoad>& load, int i)
{
    load->sites[i].loading = false;
    if (!load->ticket.current())
        return;
    if (load->handlers.site)
        load->handlers.site(i, load->sites.at(i));
    if (!load->ticket.current())
        return;
    if (--load->sitesLeft == 0) {
        // Parts of the tree that got no answer at all are reported, so that an
        // outage does not pass for cameras that do not exist.
        const QString error = load->firstError.isEmpty()
            ? QString()
            : QStringLiteral("Part of the camera list could not be loaded: %1").arg(load->firstError);
        if (load->handlers.done)
            load->handlers.done(error);
        QTimer::singleShot(0, this, [this, ticket = load->ticket] {
            if (m_catalogLoad && ticket.current())
                m_catalogLoad.reset();
        });
    }
}

void ApiClient::fetchCatalog(const QString& orgString,
                             std::function<void(const QList<Site>&, const QString& error)> callback, QObject* context)
{
    callback = tied(context, std::move(callback));
    auto list = std::make_shared<QList<Site>>();
    CatalogHandlers h;
    h.sites = [list](const QList<Site>& sites) { *list = sites; };
    h.site = [list](int index, const Site& site) {
        if (index >= 0 && index < list->size())
            (*list)[index] = site;
    };
    h.done = [list, callback](const QString& error) {
        if (callback)
            callback(*list, error);
    };
    fetchCatalogProgressive(orgString, h);
}

void ApiClient::fetchOrganisations(std::function<void(const QList<Organisation>&, const QString& error)> callback,
                                   QObject* context)
{
    callback = tied(context, std::move(callback));
    getJson(QStringLiteral("/v2/organisations/list/"), true,
            [callback](const QJsonObject& answer, int status, const QString& error) {
                if (!callback)
                    return;
                if (status == 403)
                    callback({}, QString());
                else if (status == 0 || status >= 400)
                    callback({}, error);
                else
                    callback(readOrganisations(answer), QString());
            });
}

void ApiClient::fetchPresets(const QString& orgId,
                             std::function<void(const QList<Preset>&, const QString& error)> callback, QObject* context)
{
    callback = tied(context, std::move(callback));
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("org_id"), orgId);
    getJson(
        QStringLiteral("/v2/api/organisation/presets/"), true,
        [callback](const QJsonObject& answer, int status, const QString& error) {
            if (!callback)
                return;
            if (status == 403)
                callback({}, QStringLiteral("Your account cannot view presets."));
            else if (status == 0 || status >= 400)
                callback({}, error);
            else
                callback(readPresets(answer), QString());
        },
        q);
}

void ApiClient::fetchPresetCameras(const QString& presetId,
                                   std::function<void(const QList<PresetCamera>&, const QString& error)> callback,
                                   QObject* context)
{
    callback = tied(context, std::move(callback));
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("preset_id"), presetId);
    getJson(
        QStringLiteral("/v2/api/vms/presets/"), true,
        [callback](const QJsonObject& answer, int status, const QString& error) {
            if (!callback)
                return;
            if (status == 0 || status >= 400)
                callback({}, error);
            else
                callback(readPresetCameras(answer), QString());
        },
        q);
}

void ApiClient::savePreset(const QString& name, const QString& orgId, const QList<QString>& cameraIds,
                           const QString& presetId, std::function<void(const QString& error)> callback,
                           QObject* context)
{
    callback = tied(context, std::move(callback));
    QJsonArray ids;
    for (const QString& id : cameraIds)
        ids.append(jsonIdValue32(id));
    QJsonObject body{{QStringLiteral("preset_name"), name},
                     {QStringLiteral("org_id"), jsonIdValue32(orgId)},
                     {QStringLiteral("camera_ids"), ids}};
    if (!presetId.isEmpty())
        body.insert(QStringLiteral("preset_id"), jsonIdValue32(presetId));
    postJson(QStringLiteral("/v2/api/create/preset/"), body, true, false,
             [callback](const QJsonObject&, int status, const QString& error) {
                 if (!callback)
                     return;
                 if (status == 403)
                     callback(QStringLiteral("Your account is not allowed to save presets."));
                 else if (status == 0)
                     callback(error.isEmpty() ? QStringLiteral("Could not save the preset.") : error);
                 else if (status >= 400)
                     callback(error.isEmpty() ? QStringLiteral("Could not save the preset.") : error);
                 else
                     callback(QString());
             });
}

void ApiClient::fetchSystemStatus(std::function<void(bool online, int streamCount, ApiFailure failure)> callback,
                                  QObject* context)
{
    callback = tied(context, std::move(callback));
    getJson(QStringLiteral("/v2/api/vms/stream/status/"), true,
            [callback](const QJsonObject& answer, int status, const QString&) {
                if (!callback)
                    return;
                if (status == 0)
                    callback(false, 0, ApiFailure::NoAnswer);
                else if (status >= 400)
                    callback(false, 0, ApiRules::failureOfStatus(status));
                else {
                    const SystemStatus s = readSystemStatus(answer);
                    callback(s.online, s.streamCount, ApiFailure::None);
                }
            });
}

} // namespace kvr::api
