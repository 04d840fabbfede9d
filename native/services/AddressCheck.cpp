#include "native/services/AddressCheck.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QUrl>

namespace kvr::services {

namespace NativeAddress {

namespace {

// The address when the host is an IPv6 one; null otherwise.
QHostAddress ipv6Of(const QString& host)
{
    const QString inner = bare(host);
    if (!inner.contains(QLatin1Char(':')))
        return {};
    QHostAddress address;
    if (!address.setAddress(inner) || address.protocol() != QAbstractSocket::IPv6Protocol)
        return {};
    return address;
}

} // namespace

QString bare(const QString& host)
{
    if (host.size() >= 2 && host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        return host.mid(1, host.size() - 2);
    return host;
}

bool isIpv6(const QString& host)
{
    return !ipv6Of(host).isNull();
}

QString urlHost(const QString& host, Zone zone)
{
    if (!isIpv6(host))
        return host;
    QString inner = bare(host);
    const qsizetype percent = inner.indexOf(QLatin1Char('%'));
    if (percent >= 0 && zone == Zone::Encoded)
        inner.insert(percent + 1, QLatin1String("25"));
    return QLatin1Char('[') + inner + QLatin1Char(']');
}

QString withPort(const QString& host, int port)
{
    return urlHost(host, Zone::AsIs) + QLatin1Char(':') + QString::number(port);
}

QString recorderKey(const QString& host, int httpPort)
{
    const QString trimmed = host.trimmed();
    const QHostAddress v6 = ipv6Of(trimmed);
    const QString name = v6.isNull() ? trimmed : v6.toString();
    return name.toCaseFolded() + QLatin1Char('\n') + QString::number(httpPort);
}

bool sameDevice(const QUrl& from, const QUrl& to, int httpPort)
{
    if (to.host().isEmpty() || to.host().compare(from.host(), Qt::CaseInsensitive) != 0)
        return false;
    const QString scheme = to.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return to.port(kDeviceHttpsPort) == kDeviceHttpsPort;
    return scheme == QLatin1String("http") && from.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0
        && to.port(80) == httpPort;
}

namespace {

// A host with a colon or a bracket: an IPv6 address, or a host with a port.
QString ipv6Problem(const QString& host)
{
    const bool bracketed = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
    // "[2001:db8::10]:8080", and "10.0.0.5:8080" (one colon, no brackets):
    // a port, whatever the host.
    if ((host.startsWith(QLatin1Char('[')) && host.contains(QLatin1String("]:")))
        || (!bracketed && host.count(QLatin1Char(':')) == 1))
        return QStringLiteral("Enter the address without a port; the ports have their own fields.");
    const QString inner = bare(host);
    QHostAddress address;
    if (inner.contains(QLatin1Char('[')) || inner.contains(QLatin1Char(']')) || !address.setAddress(inner)
        || address.protocol() != QAbstractSocket::IPv6Protocol)
        return QStringLiteral("%1 is not a valid IPv6 address.").arg(host);
    // A zone names a network interface of this computer: letters, digits
    // and the few marks interface names carry, nothing an address would
    // read as more than a name.
    static const QRegularExpression zone(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
    const qsizetype percent = inner.indexOf(QLatin1Char('%'));
    if (percent >= 0 && !zone.match(inner.mid(percent + 1)).hasMatch())
        return QStringLiteral("%1: the zone after \"%\" must name a network interface, such as eth0.").arg(host);
    return QString();
}

} // namespace

QString problem(const QString& host)
{
    if (host.isEmpty())
        return QStringLiteral("Enter the device's IP address or host name.");
    for (const QChar c : host) {
        if (c.isSpace())
            return QStringLiteral("The address must not contain spaces.");
    }
    if (host.contains(QLatin1Char('@')))
        return QStringLiteral("Enter the address without a user name; the login has its own fields.");
    if (host.contains(QLatin1Char('/')) || host.contains(QLatin1Char('\\')) || host.contains(QLatin1Char('#'))
        || host.contains(QLatin1Char('?')))
        return QStringLiteral("Enter only the IP address or host name, without a path.");
    if (host.contains(QLatin1Char(':')) || host.contains(QLatin1Char('[')) || host.contains(QLatin1Char(']')))
        return ipv6Problem(host);

    // Four dotted numbers must be a real IPv4 address; "300.1.1.1" is a typo,
    // not a host name.
    static const QRegularExpression dotted(QStringLiteral("^[0-9]+(\\.[0-9]+){3}$"));
    if (dotted.match(host).hasMatch()) {
        // A number with a leading zero is read as octal ("192.168.001.010"
        // is 192.168.1.8): the login would go to another device.
        for (const QString& part : host.split(QLatin1Char('.'))) {
            if (part.size() > 1 && part.startsWith(QLatin1Char('0')))
                return QStringLiteral("%1: write the numbers without leading zeros.").arg(host);
        }
        QHostAddress addr;
        if (!addr.setAddress(host) || addr.protocol() != QAbstractSocket::IPv4Protocol)
            return QStringLiteral("%1 is not a valid IPv4 address.").arg(host);
        return QString();
    }

    // Host names: letters, digits and hyphens in dot-separated labels of at
    // most 63 characters, 253 in all, no label starting or ending with "-".
    static const QRegularExpression label(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$"));
    QString name = host;
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    if (name.isEmpty() || name.size() > 253)
        return QStringLiteral("%1 is not a valid host name.").arg(host);
    const QStringList labels = name.split(QLatin1Char('.'));
    for (const QString& part : labels) {
        if (!label.match(part).hasMatch())
            return QStringLiteral("%1 is not a valid host name.").arg(host);
    }
    // A name whose last part is a number ("10.1.7", "2130706433", "0x7f.1",
    // "0x0a.0x01") is read as a shortened IPv4 address by resolvers and
    // could point anywhere.
    static const QRegularExpression digits(QStringLiteral("^([0-9]+|0[xX][0-9A-Fa-f]*)$"));
    if (digits.match(labels.last()).hasMatch())
        return QStringLiteral("%1 is not a valid IPv4 address.").arg(host);
    return QString();
}

} // namespace NativeAddress

} // namespace kvr::services
