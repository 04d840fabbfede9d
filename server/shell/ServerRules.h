#pragma once

#include <QList>
#include <QNetworkReply>
#include <QString>

#include <utility>

namespace kvr::shell {

// The rules of the server dialog, apart from its widgets.
namespace ServerRules {

using Endpoint = std::pair<QString, int>;

// The canonical base address ("https://host[:port]"), or empty when the text
// is not usable (empty, no host, a scheme other than http or https).
QString normalizeUrl(const QString& text);

// The relay addresses the video check tries: the relay field as "host" or
// "host:port", or with an empty field the server's own relay and the
// built-in one.
QList<Endpoint> relayCandidates(const QString& relayField, const QString& serverHost, const QString& builtInRelayHost);

// How a finished connection test reads.
enum class TestVerdict { AllReachable, VideoUnreachable, ServerUnreachable, BadAddress, Testing };
QString styleOf(TestVerdict verdict);

QString serverReachableText(const QString& host);
QString serverUnreachableText(const QString& host, const QString& error);
// Why a request got no answer, in plain words for the common failures; the
// network library's own text otherwise.
QString reachFailure(QNetworkReply::NetworkError error, const QString& libraryText);
// The video line for the probe's flags, one per candidate in order.
QString videoText(const QList<Endpoint>& candidates, const QList<bool>& reachable, bool* anyReachable);
QString badAddressText(const QString& defaultBase);
// Whether a canonical address holds a user name or password, which the
// settings file must not keep; and what the dialog says of it.
bool holdsLogin(const QString& base);
QString loginInAddressText();
// The same of the relay field ("user:secret@host:port").
bool relayHoldsLogin(const QString& relayField);
QString loginInRelayText();

} // namespace ServerRules

} // namespace kvr::shell
