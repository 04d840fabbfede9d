#include "native/services/Brands.h"

#include "native/services/AddressCheck.h"

#include <QRegularExpression>
#include <QUrl>

using namespace kvr::core;

namespace kvr::services {

namespace NativeBrand {

namespace {

bool isOnvifCamera(const Native::Device& d)
{
    return (d.manufacturer == QLatin1String("CPPLUS") || d.manufacturer == QLatin1String("CPPLUS_STQC"))
        && d.type == QLatin1String("ipcamera");
}

// ISAPI stream id: channel × 100 + 1 for the main stream, + 2 for sub.
// Channel numbers come from records clamped to 1..256, but the arithmetic
// is done in 64 bits so no caller can make it wrap.
qint64 streamId(int channel, bool main)
{
    return qint64(channel) * 100 + (main ? 1 : 2);
}

QString encoded(const QString& text)
{
    // toPercentEncoding leaves exactly the RFC 3986 unreserved characters.
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString rtspPrefix(const Native::Device& d)
{
    const int port = family(d.manufacturer) == OnvifTunnel ? d.httpPort : d.rtspPort;
    // The player's network layer hands the host to the resolver as written,
    // so a zone goes in as it is.
    return QStringLiteral("rtsp://%1:%2@%3:%4")
        .arg(encoded(d.username), encoded(d.password), NativeAddress::urlHost(d.ip, NativeAddress::Zone::AsIs),
             QString::number(port));
}

bool addressUsable(const Native::Device& d)
{
    const int port = family(d.manufacturer) == OnvifTunnel ? d.httpPort : d.rtspPort;
    return NativeAddress::isValid(d.ip) && NativeAddress::isValidPort(port);
}

} // namespace

QStringList manufacturers()
{
    return {QStringLiteral("HIKVISION"),   QStringLiteral("PRAMA"),     QStringLiteral("PRAMA_STQC"),
            QStringLiteral("HONEYWELL"),   QStringLiteral("DAHUA"),     QStringLiteral("CPPLUS"),
            QStringLiteral("CPPLUS_STQC"), QStringLiteral("PANASONIC"), QStringLiteral("ADVIDIA"),
            QStringLiteral("UNIVIEW"),     QStringLiteral("BOSCH"),     QStringLiteral("QTVUE"),
            QStringLiteral("IMOU"),        QStringLiteral("SAMSUNG"),   QStringLiteral("ONVIF")};
}

QStringList deviceTypes()
{
    return {QStringLiteral("nvr"), QStringLiteral("dvr"), QStringLiteral("ipcamera"), QStringLiteral("panel")};
}

int family(const QString& m)
{
    if (m == QLatin1String("PRAMA_STQC"))
        return IsapiOwnRoot;
    if (m == QLatin1String("DAHUA") || m == QLatin1String("CPPLUS") || m == QLatin1String("CPPLUS_STQC")
        || m == QLatin1String("PANASONIC"))
        return DahuaCgi;
    if (m == QLatin1String("HONEYWELL"))
        return IsapiNoKeyFrame;
    if (m == QLatin1String("SAMSUNG"))
        return StwCgi;
    if (m == QLatin1String("UNIVIEW") || m == QLatin1String("ADVIDIA"))
        return Lapi;
    if (m == QLatin1String("QTVUE"))
        return OnvifPathPlain;
    if (m == QLatin1String("IMOU"))
        return DahuaSingle;
    if (m == QLatin1String("BOSCH"))
        return OnvifTunnel;
    if (m == QLatin1String("ONVIF"))
        return Onvif;
    return Isapi;
}

bool isHikStyle(const QString& m)
{
    const int f = family(m);
    return f == Isapi || f == IsapiOwnRoot || f == IsapiNoKeyFrame;
}

bool isDahuaStyle(const QString& m)
{
    const int f = family(m);
    return f == DahuaCgi || f == DahuaSingle;
}

bool usesOnvif(const Native::Device& d)
{
    const int f = family(d.manufacturer);
    return f == OnvifTunnel || f == Onvif || isOnvifCamera(d);
}

QString isapiRoot(const Native::Device& d)
{
    return family(d.manufacturer) == IsapiOwnRoot ? QStringLiteral("/pramaAPI") : QStringLiteral("/ISAPI");
}

QString baseUrl(const Native::Device& d)
{
    return QStringLiteral("http://%1:%2").arg(NativeAddress::urlHost(d.ip), QString::number(d.httpPort));
}

QString deviceInfoPath(const Native::Device& d)
{
    if (usesOnvif(d))
        return QStringLiteral("/onvif/device_service");
    switch (family(d.manufacturer)) {
    case Isapi:
    case IsapiOwnRoot:
    case IsapiNoKeyFrame:
        return isapiRoot(d) + QStringLiteral("/System/deviceInfo");
    case DahuaCgi:
    case DahuaSingle:
        return QStringLiteral("/cgi-bin/magicBox.cgi?action=getSystemInfo");
    case StwCgi:
        return QStringLiteral("/stw-cgi/system.cgi?msubmenu=deviceinfo&action=view");
    case Lapi:
        return QStringLiteral("/LAPI/V1.0/System/DeviceInfo");
    default:
        return QStringLiteral("/onvif/device_service");
    }
}

QString snapshotPath(const Native::Device& d, int c)
{
    if (usesOnvif(d))
        return QString();
    switch (family(d.manufacturer)) {
    case Isapi:
    case IsapiOwnRoot:
    case IsapiNoKeyFrame:
        return QStringLiteral("%1/Streaming/channels/%2/picture").arg(isapiRoot(d), QString::number(streamId(c, true)));
    case DahuaCgi:
    case DahuaSingle:
        return QStringLiteral("/cgi-bin/snapshot.cgi?channel=%1").arg(c);
    case Lapi:
        return QStringLiteral("/LAPI/V1.0/Channels/%1/Media/Video/Streams/ID/Snapshot").arg(c);
    default:
        return QString();
    }
}

QString liveUrl(const Native::Device& d, int c, bool main)
{
    const int f = family(d.manufacturer);
    if (f == Onvif || !addressUsable(d))
        return QString();
    const QString prefix = rtspPrefix(d);
    if (isOnvifCamera(d)) {
        return prefix
            + QStringLiteral("/video/live?channel=%1&subtype=%2&unicast=true&proto=Onvif")
                  .arg(QString::number(c), main ? QStringLiteral("0") : QStringLiteral("1"));
    }
    switch (f) {
    case Isapi:
    case IsapiOwnRoot:
        return prefix + QStringLiteral("/Streaming/Channels/%1").arg(streamId(c, main));
    case DahuaCgi:
        return prefix
            + QStringLiteral("/cam/realmonitor?channel=%1&subtype=%2")
                  .arg(QString::number(c), main ? QStringLiteral("0") : QStringLiteral("1"));
    case IsapiNoKeyFrame:
        return prefix
            + QStringLiteral("/%1/%2").arg(QString::number(c), main ? QStringLiteral("0") : QStringLiteral("1"));
    case StwCgi:
        return prefix
            + QStringLiteral("/LiveChannel/%1/media.smp/profile=%2")
                  .arg(QString::number(qint64(c) - 1), main ? QStringLiteral("1") : QStringLiteral("2"));
    case Lapi:
        return prefix
            + QStringLiteral("/unicast/c%1/s%2/live")
                  .arg(QString::number(c), main ? QStringLiteral("0") : QStringLiteral("1"));
    case OnvifPathPlain:
        return prefix
            + QStringLiteral("/?chID=%1&streamType=%2&linkType=tcp")
                  .arg(QString::number(c), main ? QStringLiteral("main") : QStringLiteral("sub"));
    case DahuaSingle:
        return prefix
            + QStringLiteral("/cam/realmonitor?channel=1&subtype=%1")
                  .arg(main ? QStringLiteral("0") : QStringLiteral("1"));
    case OnvifTunnel:
        return prefix + QStringLiteral("/rtsp_tunnel?p=%1&h26x=4&vcd=2").arg(main ? 1 : 2);
    default:
        return QString();
    }
}

QString keyFramePath(const Native::Device& d, int c, bool main)
{
    const int f = family(d.manufacturer);
    if ((f != Isapi && f != IsapiOwnRoot) || usesOnvif(d))
        return QString();
    return QStringLiteral("%1/Streaming/channels/%2/requestKeyFrame")
        .arg(isapiRoot(d), QString::number(streamId(c, main)));
}

bool playbackSupported(const Native::Device& d)
{
    const int f = family(d.manufacturer);
    if (f == OnvifTunnel || f == Onvif)
        return d.manufacturer == QLatin1String("BOSCH");
    if (isOnvifCamera(d))
        return false;
    return f == Isapi || f == IsapiOwnRoot || f == DahuaCgi || f == StwCgi || f == OnvifPathPlain || f == DahuaSingle;
}

QString playbackUnsupportedReason(const Native::Device& d)
{
    const int f = family(d.manufacturer);
    if (f == IsapiNoKeyFrame || f == OnvifTunnel || f == Onvif || isOnvifCamera(d))
        return QStringLiteral("This brand needs a Range: clock= header on PLAY, which the "
                              "built-in player can't send yet.");
    return QStringLiteral("No playback address is known for this brand yet.");
}

QString playbackUrl(const Native::Device& d, int c, bool main, const QDateTime& from, const QDateTime& to)
{
    if (!playbackSupported(d) || !addressUsable(d))
        return QString();
    const QString prefix = rtspPrefix(d);
    switch (family(d.manufacturer)) {
    case Isapi:
    case IsapiOwnRoot: {
        const QString fmt = QStringLiteral("yyyyMMdd'T'HHmmss'Z'");
        return prefix
            + QStringLiteral("%1/streaming/tracks/%2?starttime=%3&endtime=%4")
                  .arg(isapiRoot(d), QString::number(streamId(c, main)), from.toString(fmt), to.toString(fmt));
    }
    case DahuaCgi:
    case DahuaSingle: {
        const QString fmt = QStringLiteral("yyyy_MM_dd_HH_mm_ss");
        return prefix
            + QStringLiteral("/cam/playback?channel=%1&subtype=%2&starttime=%3&endtime=%4")
                  .arg(QString::number(c), main ? QStringLiteral("0") : QStringLiteral("1"), from.toString(fmt),
                       to.toString(fmt));
    }
    case StwCgi: {
        const QString fmt = QStringLiteral("yyyyMMdd'T'HHmmss");
        return prefix
            + QStringLiteral("/PlaybackChannel/%1/media.smp/start=%2&end=%3")
                  .arg(QString::number(qint64(c) - 1), from.toString(fmt), to.toString(fmt));
    }
    case OnvifPathPlain:
        return prefix
            + QStringLiteral("/?chID=%1&date=%2&time=%3&timelen=%4&streamType=%5&linkType=tcp")
                  .arg(QString::number(c), from.toString(QStringLiteral("yyyy-MM-dd")),
                       from.toString(QStringLiteral("HH:mm:ss")), QString::number(qMax<qint64>(0, from.secsTo(to))),
                       main ? QStringLiteral("main") : QStringLiteral("sub"));
    case OnvifTunnel: {
        const QDateTime epoch(QDate(2000, 1, 1), QTime(0, 0), Qt::LocalTime);
        return prefix
            + QStringLiteral("/rtsp_tunnel?rec=1&rnd=718&seek=%1&h26x=4&vcd=2")
                  .arg(QString::number(epoch.secsTo(from)));
    }
    default:
        return QString();
    }
}

bool calendarSupported(const Native::Device& d)
{
    static const QStringList codes = {QStringLiteral("HIKVISION"),  QStringLiteral("PRAMA"),
                                      QStringLiteral("PRAMA_STQC"), QStringLiteral("HONEYWELL"),
                                      QStringLiteral("DAHUA"),      QStringLiteral("CPPLUS"),
                                      QStringLiteral("CPPLUS_STQC")};
    return codes.contains(d.manufacturer);
}

QString explainStreamError(kvr::core::PlayerFailure failure, bool playback, const QString& host)
{
    using kvr::core::PlayerFailure;
    switch (failure) {
    case PlayerFailure::ClientError:
        // The 4xx answers other than 400/401/403/404, RTSP 453 Not Enough
        // Bandwidth first among them: what recorders say when every stream
        // or playback session they have is taken.
        return playback ? QStringLiteral("The recorder refused: it has no playback bandwidth or sessions "
                                         "left. Use fewer cameras at once, the Sub stream, or wait a moment.")
                        : QStringLiteral("The camera or recorder refused: it has no streams left. Close "
                                         "other views of it, or use the Sub stream.");
    case PlayerFailure::Unauthorized:
        return QStringLiteral("The device refused the username or password.");
    case PlayerFailure::NotFound:
        return playback ? QStringLiteral("Nothing is recorded at this time (or this stream isn't recorded).")
                        : QStringLiteral("The device has no stream at this address. Check the brand.");
    case PlayerFailure::Refused:
        return QStringLiteral("The RTSP port is closed on the device.");
    case PlayerFailure::TimedOut:
        return QStringLiteral("The device did not answer in time.");
    case PlayerFailure::Unreachable:
        // No route to the device's network: nothing about the stream, its
        // brand or its port can be told.
        return host.isEmpty() ? QStringLiteral("No answer from the device.")
                              : QStringLiteral("No answer from %1.").arg(host);
    case PlayerFailure::Forbidden:
        return QStringLiteral("The device does not let this user watch this stream.");
    case PlayerFailure::ServerError:
        return QStringLiteral("The device had an error. Try again in a moment.");
    case PlayerFailure::Untrusted:
        return QStringLiteral("The device's certificate is not trusted.");
    case PlayerFailure::Dropped:
        return QStringLiteral("The stream kept dropping, or the camera sent no picture.");
    case PlayerFailure::None:
    case PlayerFailure::Other:
        break;
    }
    // Whatever else the decoder met (an answer that is no stream it can
    // read, a stream without video): its own words are for the log.
    return QStringLiteral("The device's answer could not be played. Check the brand and the RTSP port.");
}

QString redact(const QString& text)
{
    // The user name may be empty ("rtsp://:secret@host"). The password runs
    // to the last "@" of the address (an address ends at a blank), so a raw
    // "@" or "/" inside a password is masked too instead of leaking its tail.
    static const QRegularExpression userInfo(QStringLiteral("(://[^:/@\\s]*):\\S*@"));
    QString out = text;
    out.replace(userInfo, QStringLiteral("\\1:***@"));
    return out;
}

} // namespace NativeBrand

} // namespace kvr::services
