#pragma once

#include "server/api/ApiClient.h"
#include "server/api/ApiTypes.h"

#include <QList>
#include <QObject>
#include <QSettings>
#include <QString>

namespace kvr::context {

// The process-wide context of server mode: the server client, the signed-in
// user, the chosen organisation's catalogue and the settings store.
class AppContext : public QObject {
    Q_OBJECT
public:
    static AppContext& instance();
    // Ends the context (start-up's last step, before the application object
    // goes); instance() would make a new one.
    static void shutdown();

    bool viewActive = false;
    api::ApiClient api;
    api::UserProfile user;
    QList<api::Site> sites;
    // The one settings store (NativeMode::prefs), reached through the context.
    QSettings& settings;
    // The organisation chosen in this session; empty until one is.
    QString orgName;
    QString orgId;
    // The organisation the session works in: the one chosen, else the
    // signed-in user's own.
    QString organisationName() const;
    QString organisationId() const;

    // Splits "host[:port]" (or "[v6]:port") into host and port and
    // configures the relay.
    void applyRelaySetting(const QString& text);
    // Saves and applies a new server base address and relay address.
    void setServer(const QString& baseUrl, const QString& relayAddress);
    // Saves and applies a new relay address, the server's left as it is.
    void setRelayAddress(const QString& relayAddress);
    QString relayAddress() const;
    QString renderMode() const;
    // "liveMain": the stream of the single-camera live view, Main by default.
    bool liveMain() const;
    // "gridQuality" as stored, not clamped: 0 Auto, 1 Main, 2 Sub.
    int gridQuality() const;

    // The first of that id in the catalogue, site by site.
    api::Site* findSite(const QString& id);
    api::Device* findDevice(const QString& id);
    api::Channel* findChannel(const QString& id);
    // What a row of the catalogue names: ids may repeat across sites
    // (servers send the same camera id under two sites), and a channel's row
    // names its device too. The device `deviceId` that holds the channel
    // `channelId` and that channel; the first of the id where no device of
    // that id holds the channel (an empty channel id: the first device).
    api::Device* findDevice(const QString& deviceId, const QString& channelId);
    api::Channel* findChannel(const QString& deviceId, const QString& channelId);

    // The parsed form of a relay setting: host and port, port 8565 when the
    // text has none. An empty host means no configured relay.
    struct RelayAddress {
        QString host;
        int port = api::ApiClient::kDefaultRelayPort;
    };
    static RelayAddress parseRelayAddress(const QString& text);

Q_SIGNALS:
    void serverChanged();

private:
    AppContext();
};

} // namespace kvr::context
