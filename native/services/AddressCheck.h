#pragma once

#include <QString>

class QUrl;

namespace kvr::services {

// A device address as the user enters or imports it must be a bare host: a
// host name, an IPv4 address or an IPv6 address (with or without brackets,
// a link-local one with its zone: "fe80::1%eth0"). Anything else
// ("10.0.0.5/x", "user@host", "host:8080", "[::1]:8080",
// "evil.example#10.0.0.5", text with spaces) would let the stored
// credentials travel to a host other than the one the user sees, so it is
// refused before any request is built.
//
// The address is kept as the user wrote it; the forms below are made from
// it where an address goes on the wire.
namespace NativeAddress {

// Empty when the host is usable; otherwise a short sentence saying why not.
// The text is judged as given (callers trim what the user typed first).
QString problem(const QString& host);

inline bool isValid(const QString& host)
{
    return problem(host).isEmpty();
}

// The host without the brackets an IPv6 address may be written in: what a
// socket connects to ("::1", "fe80::1%eth0").
QString bare(const QString& host);

// Whether the host is an IPv6 address (bracketed or not).
bool isIpv6(const QString& host);

// How a zone of a scoped IPv6 address is written in an address: percent-
// encoded ("%25eth0") as URLs want it, or as it is ("%eth0") for the stream
// player's network layer, which hands the host to the resolver unread.
enum class Zone { Encoded, AsIs };

// The host as it goes into an address before ":port": an IPv6 address in
// brackets, anything else as it is.
QString urlHost(const QString& host, Zone zone = Zone::Encoded);

// "host:port" for people to read: "10.0.0.5:80", "[2001:db8::10]:80".
QString withPort(const QString& host, int port);

// Two records with the same key name one recorder (host names compared
// without regard to case, IPv6 addresses by their value: "[::1]" is "::1"): logging in to it twice doubles the failed logins
// of a wrong password, and recorders lock accounts over them.
QString recorderKey(const QString& host, int httpPort);

// The port a device serves HTTPS on (devices offer no other).
inline constexpr int kDeviceHttpsPort = 443;

// Whether a redirect from one address of a device (whose HTTP port is
// `httpPort`) to another may be followed: to the same host only, and there
// to its HTTP port or its HTTPS port, never from HTTPS back to plain HTTP.
// So following it cannot send the login on to another host or another
// service of the same host, nor over plain text once the device asked for
// a secure one.
bool sameDevice(const QUrl& from, const QUrl& to, int httpPort);

// Whether a port number can be used on the wire (1..65535).
inline bool isValidPort(int port)
{
    return port >= 1 && port <= 65535;
}

} // namespace NativeAddress

} // namespace kvr::services
