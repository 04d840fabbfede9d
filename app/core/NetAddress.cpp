#include "app/core/NetAddress.h"

#include <QStringList>

namespace kvr::core {

bool isPrivateHost(const QString& host)
{
    // A strict dotted quad only: shortened forms such as "10.1" or names such
    // as "10.evil.example" are not private addresses.
    const QStringList parts = host.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    quint32 ip = 0;
    for (const QString& p : parts) {
        if (p.isEmpty() || p.size() > 3)
            return false;
        for (QChar c : p)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        const int octet = p.toInt();
        if (octet > 255)
            return false;
        ip = (ip << 8) | quint32(octet);
    }
    return (ip >> 24) == 10u || (ip >> 20) == ((172u << 4) | 1u) // 172.16.0.0/12
        || (ip >> 16) == ((192u << 8) | 168u);                   // 192.168.0.0/16
}

} // namespace kvr::core
