#include "server/shell/ServerRules.h"

#include "app/ui/Theme.h"
#include "server/api/ApiRules.h"
#include "server/shell/Tunables.h"

#include <QColor>

#include <QUrl>

using namespace kvr::ui;

namespace kvr::shell {

namespace ServerRules {

QString normalizeUrl(const QString& text)
{
    QString t = text.trimmed();
    if (t.isEmpty())
        return {};
    if (!t.contains(QLatin1String("://")))
        t.prepend(QLatin1String("https://"));
    QUrl url(t, QUrl::TolerantMode);
    if (!url.isValid() || url.host(QUrl::FullyDecoded).isEmpty())
        return {};
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("https") && scheme != QLatin1String("http"))
        return {};
    url.setPath(QString());
    url.setQuery(QString());
    url.setFragment(QString());
    QString out = url.toString();
    while (out.endsWith(QLatin1Char('/')))
        out.chop(1);
    return out;
}

bool holdsLogin(const QString& base)
{
    return !QUrl(base, QUrl::TolerantMode).userInfo().isEmpty();
}

QString loginInAddressText()
{
    return QStringLiteral("Leave the user name and password out of the server address: you sign in with them in the "
                          "sign-in window.");
}

bool relayHoldsLogin(const QString& relayField)
{
    return relayField.contains(QLatin1Char('@'));
}

QString loginInRelayText()
{
    return QStringLiteral("Leave the user name and password out of the video relay address: it takes only the "
                          "relay's host and port.");
}

QList<Endpoint> relayCandidates(const QString& relayField, const QString& serverHost, const QString& builtInRelayHost)
{
    const QString relay = relayField.trimmed();
    if (relay.isEmpty())
        return {{serverHost, tun::kServerRelayPort}, {builtInRelayHost, tun::kRelayDefaultPort}};
    return {kvr::api::ApiRules::splitHostPort(relay, tun::kRelayDefaultPort)};
}

QString styleOf(TestVerdict verdict)
{
    // The result line's colours; plain styles, as the line carries no object name.
    const auto css = [](const QColor& c) { return QStringLiteral("color: %1;").arg(c.name()); };
    switch (verdict) {
    case TestVerdict::AllReachable:
        return css(Theme::colour(Theme::Colour::OnlineText));
    case TestVerdict::VideoUnreachable:
        return css(Theme::colour(Theme::Colour::Warning));
    case TestVerdict::Testing:
        return css(Theme::colour(Theme::Colour::Muted));
    case TestVerdict::ServerUnreachable:
    case TestVerdict::BadAddress:
        break;
    }
    return css(Theme::colour(Theme::Colour::LiveText));
}

QString serverReachableText(const QString& host)
{
    return QStringLiteral("Server: reachable (%1)").arg(host);
}

QString serverUnreachableText(const QString& host, const QString& error)
{
    return QStringLiteral("Server: can’t reach %1 (%2)").arg(host, error);
}

QString reachFailure(QNetworkReply::NetworkError error, const QString& libraryText)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("nothing answers at that address and port");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("no computer has that name");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("no answer within %1 seconds")
            .arg(std::chrono::duration_cast<std::chrono::seconds>(tun::kServerCheckTimeout).count());
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("the server closed the connection");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("no secure connection: the address may not serve HTTPS, or its certificate is not "
                              "trusted");
    default:
        return libraryText;
    }
}

QString videoText(const QList<Endpoint>& candidates, const QList<bool>& reachable, bool* anyReachable)
{
    *anyReachable = false;
    for (int i = 0; i < candidates.size(); ++i) {
        if (i < reachable.size() && reachable.at(i)) {
            *anyReachable = true;
            return QStringLiteral("Video: reachable (%1)")
                .arg(kvr::api::ApiRules::hostPortText(candidates.at(i).first, candidates.at(i).second));
        }
    }
    QStringList tried;
    for (const Endpoint& e : candidates)
        tried << kvr::api::ApiRules::hostPortText(e.first, e.second);
    return QStringLiteral("Video: no direct address reachable from here (%1). Video will stream over the public HLS "
                          "route instead, which is slower to start.")
        .arg(tried.join(QStringLiteral(", ")));
}

QString badAddressText(const QString& defaultBase)
{
    return QStringLiteral("Enter the server address, for example %1").arg(defaultBase);
}

} // namespace ServerRules

} // namespace kvr::shell
