#include "app/context/AppContext.h"

#include "app/core/Env.h"
#include "app/core/Settings.h"
#include "server/api/ApiRules.h"

#include <QCoreApplication>
#include <QUrl>

#include <algorithm>

#include <utility>

using namespace kvr::core;
using namespace kvr::api;

namespace kvr::context {

namespace {

// The address as the settings file may keep it: a user name and password in
// it would be stored as typed, in a file others may have read before.
QString withoutLogin(const QString& baseUrl)
{
    QUrl url(baseUrl, QUrl::TolerantMode);
    if (url.userInfo().isEmpty())
        return baseUrl;
    url.setUserInfo(QString());
    return url.toString();
}

// The relay as the settings file may keep it, and as the server client
// takes it: a user name and password typed before its host
// ("user:secret@host:port") go.
QString relayWithoutLogin(const QString& relay)
{
    const qsizetype at = relay.lastIndexOf(QLatin1Char('@'));
    return at < 0 ? relay : relay.mid(at + 1);
}

// The process-wide context: made on the main thread by the first instance(),
// deleted by shutdown() while the application object still exists (its
// server client owns network objects). Main thread only.
AppContext* g_context = nullptr;
} // namespace

AppContext& AppContext::instance()
{
    if (!g_context) {
        g_context = new AppContext;
        // For a process whose start-up never calls shutdown().
        if (QCoreApplication::instance())
            qAddPostRoutine(&AppContext::shutdown);
    }
    return *g_context;
}

void AppContext::shutdown()
{
    delete std::exchange(g_context, nullptr);
}

AppContext::AppContext() : settings(NativeMode::prefs())
{
    QString savedBase = Prefs::get(Prefs::kServerBase);
    if (const QString clean = withoutLogin(savedBase); clean != savedBase) {
        // Kept with a login by an earlier version: the login goes.
        Prefs::set(Prefs::kServerBase, clean);
        savedBase = clean;
    }
    if (!savedBase.isEmpty() && !envSet("KVR_API_BASE"))
        api.setBaseUrl(savedBase);
    const QString savedRelay = Prefs::get(Prefs::kRelayAddress);
    if (const QString clean = relayWithoutLogin(savedRelay).trimmed(); clean != savedRelay.trimmed()) {
        // Kept with a login by an earlier version: the login goes.
        if (clean.isEmpty())
            Prefs::remove(Prefs::kRelayAddress.name);
        else
            Prefs::set(Prefs::kRelayAddress, clean);
    }
    applyRelaySetting(Prefs::get(Prefs::kRelayAddress));
    const QString secret = Prefs::get(Prefs::kSpaSecret);
    if (!secret.isEmpty())
        api.setSpaSecret(secret);
}

AppContext::RelayAddress AppContext::parseRelayAddress(const QString& text)
{
    const auto [host, port] = ApiRules::splitHostPort(text, api::ApiClient::kDefaultRelayPort);
    return {host, port};
}

void AppContext::applyRelaySetting(const QString& text)
{
    const RelayAddress relay = parseRelayAddress(relayWithoutLogin(text));
    api.setRelay(relay.host, relay.port);
}

void AppContext::setServer(const QString& typedBaseUrl, const QString& relayAddressText)
{
    const QString baseUrl = withoutLogin(typedBaseUrl);
    const bool changed = baseUrl != api.baseUrl();
    if (baseUrl == ApiClient::defaultBaseUrl())
        Prefs::remove(Prefs::kServerBase.name);
    else
        Prefs::set(Prefs::kServerBase, baseUrl);
    api.setBaseUrl(baseUrl);
    setRelayAddress(relayAddressText);
    if (changed)
        Q_EMIT serverChanged();
}

void AppContext::setRelayAddress(const QString& relayAddressText)
{
    const QString relay = relayWithoutLogin(relayAddressText).trimmed();
    if (relay.isEmpty())
        Prefs::remove(Prefs::kRelayAddress.name);
    else
        Prefs::set(Prefs::kRelayAddress, relay);
    applyRelaySetting(relayAddressText);
}

QString AppContext::organisationName() const
{
    return orgName.isEmpty() ? user.organisationName : orgName;
}

QString AppContext::organisationId() const
{
    return orgId.isEmpty() ? user.organisationId : orgId;
}

QString AppContext::relayAddress() const
{
    return Prefs::get(Prefs::kRelayAddress);
}

QString AppContext::renderMode() const
{
    return Prefs::get(Prefs::kRenderMode);
}

bool AppContext::liveMain() const
{
    return Prefs::get(Prefs::kLiveMain);
}

int AppContext::gridQuality() const
{
    return Prefs::get(Prefs::kGridQuality);
}

Site* AppContext::findSite(const QString& id)
{
    for (Site& site : sites)
        if (site.id == id)
            return &site;
    return nullptr;
}

Device* AppContext::findDevice(const QString& id)
{
    for (Site& site : sites)
        for (Device& device : site.devices)
            if (device.id == id)
                return &device;
    return nullptr;
}

Channel* AppContext::findChannel(const QString& id)
{
    for (Site& site : sites)
        for (Device& device : site.devices)
            for (Channel& channel : device.channels)
                if (channel.id == id)
                    return &channel;
    return nullptr;
}

Device* AppContext::findDevice(const QString& deviceId, const QString& channelId)
{
    const auto holds = [&channelId](const Device& device) {
        return std::any_of(device.channels.cbegin(), device.channels.cend(),
                           [&channelId](const Channel& c) { return c.id == channelId; });
    };
    if (!channelId.isEmpty())
        for (Site& site : sites)
            for (Device& device : site.devices)
                if (device.id == deviceId && holds(device))
                    return &device;
    return findDevice(deviceId);
}

Channel* AppContext::findChannel(const QString& deviceId, const QString& channelId)
{
    for (Site& site : sites)
        for (Device& device : site.devices)
            if (device.id == deviceId)
                for (Channel& channel : device.channels)
                    if (channel.id == channelId)
                        return &channel;
    return findChannel(channelId);
}

} // namespace kvr::context
