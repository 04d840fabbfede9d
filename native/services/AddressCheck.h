#pragma once

#include <QString>

class QUrl;

namespace kvr::services {

// A device address as the user enters or imports it must be a bare host: a
// host name or an IPv4 address. Anything else ("10.0.0.5/x", "user@host",
// "host:8080", "evil.example#10.0.0.5", text with spaces) would let the
// stored credentials travel to a host other than the one the user sees, so
// it is refused before any request is built.
namespace NativeAddress {

// Empty when the host is usable; otherwise a short sentence saying why not.
// The text is judged as given (callers trim what the user typed first).
QString problem(const QString& host);

inline bool isValid(const QString& host)
{
    return problem(host).isEmpty();
}

// Two records with the same key name one recorder (host names compared
// without regard to case): logging in to it twice doubles the failed logins
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
