#pragma once

#include <QString>

namespace kvr::core {

// Whether a host is an IPv4 address literal on a private network
// (10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16). TLS certificate errors are
// tolerated only for such hosts, because recorders and relays on an
// organisation's own network carry self-signed certificates. Host names are
// never private here, whatever they start with: "10.evil.example" must not
// get its certificate errors ignored or be handed credentials.
bool isPrivateHost(const QString& host);

} // namespace kvr::core
