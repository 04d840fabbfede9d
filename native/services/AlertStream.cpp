#include "native/services/AlertStream.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <array>
#include <string_view>

namespace kvr::services {

namespace AlertStream {

namespace {

const QByteArray kOpenTag = QByteArrayLiteral("<EventNotificationAlert");
const QByteArray kCloseTag = QByteArrayLiteral("</EventNotificationAlert>");

// A boundary line longer than this is not a boundary (multipart allows 70
// characters); it is taken as stray text rather than kept as a delimiter.
constexpr qsizetype kMaxBoundary_bytes = 200;
// A single large chunk is taken in slices of this size, so the buffer never
// holds much more than its cap, whatever one call hands over.
constexpr qsizetype kFeedSlice_bytes = 256 * 1024;

QByteArray headerValue(const QByteArray& block, const QByteArray& name)
{
    qsizetype start = 0;
    while (start <= block.size()) {
        qsizetype end = block.indexOf('\n', start);
        if (end < 0)
            end = block.size();
        const QByteArray line = block.mid(start, end - start);
        start = end + 1;
        if (line.isEmpty())
            continue;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        if (line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

// The XML elements read from a notification, in slot order.
constexpr std::array<const char*, 8> kXmlFields = {
    "eventType",     "eventState", "channelID",        "dynChannelID",
    "inputIOPortID", "dateTime",   "eventDescription", "activePostCount",
};
enum XmlSlot { SType, SState, SChannel, SDynChannel, SInput, STime, SDescription, SPostCount };

int xmlSlot(QStringView name)
{
    for (size_t i = 0; i < kXmlFields.size(); ++i)
        if (name == QLatin1String(kXmlFields[i]))
            return int(i);
    return -1;
}

bool parseXml(const QByteArray& body, Alert* alert)
{
    if (!body.contains("EventNotificationAlert"))
        return false;
    std::array<QString, kXmlFields.size()> field;
    QXmlStreamReader reader(body);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            const int slot = depth <= 2 ? xmlSlot(reader.name()) : -1;
            if (slot >= 0) {
                if (field[size_t(slot)].isEmpty())
                    field[size_t(slot)] = reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
                else
                    reader.skipCurrentElement();
                --depth;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            --depth;
        }
        if (reader.hasError())
            break;
    }
    if (field[SType].isEmpty())
        return false;
    alert->type = field[SType];
    alert->active = field[SState].compare(QLatin1String("inactive"), Qt::CaseInsensitive) != 0;
    alert->channel = 0;
    for (int s : {SChannel, SDynChannel, SInput}) {
        bool ok = false;
        const int n = field[size_t(s)].toInt(&ok, 10);
        if (ok) {
            alert->channel = n;
            break;
        }
    }
    alert->time = parseDeviceTime(field[STime]);
    alert->description = field[SDescription];
    bool ok = false;
    const int posts = field[SPostCount].toInt(&ok, 10);
    alert->activePostCount = ok ? posts : -1;
    return true;
}

bool parseJson(const QByteArray& body, Alert* alert)
{
    QJsonObject obj = QJsonDocument::fromJson(body).object();
    if (obj.contains(QLatin1String("EventNotificationAlert")))
        obj = obj.value(QLatin1String("EventNotificationAlert")).toObject();
    alert->type = obj.value(QLatin1String("eventType")).toString();
    if (alert->type.isEmpty())
        return false;
    alert->active =
        obj.value(QLatin1String("eventState")).toString().compare(QLatin1String("inactive"), Qt::CaseInsensitive) != 0;
    alert->channel = obj.value(QLatin1String("channelID")).toInt(obj.value(QLatin1String("dynChannelID")).toInt(0));
    alert->time = parseDeviceTime(obj.value(QLatin1String("dateTime")).toString());
    alert->description = obj.value(QLatin1String("eventDescription")).toString();
    alert->activePostCount = obj.value(QLatin1String("activePostCount")).toInt(-1);
    return true;
}

} // namespace

QDateTime parseDeviceTime(const QString& text)
{
    QDateTime t = QDateTime::fromString(text, Qt::ISODate);
    if (t.isValid())
        return t;
    return QDateTime::fromString(text.left(19), QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
}

Kind classify(const Alert& alert)
{
    static const QHash<QString, Kind> table = [] {
        QHash<QString, Kind> t;
        auto add = [&t](std::initializer_list<const char*> words, Kind k) {
            for (const char* w : words)
                t.insert(QString::fromLatin1(w), k);
        };
        add({"vmd", "pir", "motiondetection"}, Motion);
        add({"linecrossing", "linedetection"}, LineCrossing);
        add({"intrusion", "fielddetection", "regionentrance"}, Intrusion);
        add({"shelteralarm", "videotampering", "tamperdetection"}, Tampering);
        add({"hdfull", "diskfull"}, DiskFull);
        add({"diskerror", "hderror", "diskexception", "hdexception", "nohdd"}, DiskError);
        add({"nicbroken", "networkdisconnected"}, NetworkDown);
        add({"ipconflict"}, IpConflict);
        add({"illaccess", "illegalaccess"}, FailedLogin);
        add({"recordexception", "recordingfailure"}, RecordingFailed);
        add({"videomismatch", "badvideo"}, VideoMismatch);
        add({"io", "alarminput"}, AlarmInput);
        return t;
    }();
    const QString word = alert.type.toLower();
    if (word == QLatin1String("videoloss"))
        return alert.active ? VideoLoss : Heartbeat;
    return table.value(word, Other);
}

QString label(int kind)
{
    switch (kind) {
    case Heartbeat:
        return QStringLiteral("Heartbeat");
    case Motion:
        return QStringLiteral("Motion");
    case LineCrossing:
        return QStringLiteral("Line crossing");
    case Intrusion:
        return QStringLiteral("Intrusion");
    case VideoLoss:
        return QStringLiteral("Video loss");
    case Tampering:
        return QStringLiteral("Tampering");
    case DiskFull:
        return QStringLiteral("Disk full");
    case DiskError:
        return QStringLiteral("Disk error");
    case NetworkDown:
        return QStringLiteral("Network cable unplugged");
    case IpConflict:
        return QStringLiteral("IP address conflict");
    case FailedLogin:
        return QStringLiteral("Failed login attempt");
    case RecordingFailed:
        return QStringLiteral("Recording failed");
    case VideoMismatch:
        return QStringLiteral("Video signal mismatch");
    case AlarmInput:
        return QStringLiteral("Alarm input");
    case Other:
        return QStringLiteral("Other event");
    default:
        return {};
    }
}

// ---- Parser -------------------------------------------------------------------

void Parser::setContentType(const QByteArray& contentType)
{
    static const QRegularExpression re(QStringLiteral("boundary=\"?([^\";]+)\"?"),
                                       QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(contentType));
    if (!m.hasMatch())
        return;
    QByteArray b = m.captured(1).toLatin1().trimmed();
    if (b.startsWith("--"))
        b.remove(0, 2);
    if (!b.isEmpty())
        m_boundary = b;
}

void Parser::reset()
{
    m_buffer.clear();
    m_boundary.clear();
    m_wait = {};
}

QList<Alert> Parser::feed(const QByteArray& data)
{
    QList<Alert> out;
    if (data.isEmpty()) {
        process(out);
        return out;
    }
    for (qsizetype at = 0; at < data.size(); at += kFeedSlice_bytes) {
        m_buffer.append(data.constData() + at, std::min(kFeedSlice_bytes, data.size() - at));
        process(out);
    }
    return out;
}

qsizetype Parser::find(QByteArrayView needle, qsizetype from, qsizetype to) const
{
    // std::string_view searches with memchr; bounded by `to` so that a
    // search never runs past the point where a nearer match was found.
    const qsizetype end = to < 0 ? m_buffer.size() : std::min(to, m_buffer.size());
    if (from < 0)
        from = 0;
    if (from >= end)
        return -1;
    const std::string_view hay(m_buffer.constData(), size_t(end));
    const size_t at = hay.find(std::string_view(needle.data(), size_t(needle.size())), size_t(from));
    return at == std::string_view::npos ? -1 : qsizetype(at);
}

void Parser::waitFor(std::initializer_list<QByteArrayView> tokens, qint64 bytes)
{
    m_wait.active = true;
    m_wait.from = m_buffer.size();
    m_wait.bytes = std::max(m_wait.bytes, bytes);
    for (QByteArrayView t : tokens)
        if (m_wait.count < int(m_wait.tokens.size()))
            m_wait.tokens[size_t(m_wait.count++)] = t.toByteArray();
}

bool Parser::mayProgress() const
{
    // Everything the last pass stopped at needs one of these tokens to
    // appear in the bytes that arrived since, or enough bytes in all.
    if (!m_wait.active)
        return true;
    if (m_wait.bytes >= 0 && qint64(m_buffer.size()) >= m_wait.bytes)
        return true;
    for (int i = 0; i < m_wait.count; ++i) {
        const QByteArray& t = m_wait.tokens[size_t(i)];
        if (find(t, m_wait.from - t.size() + 1) >= 0)
            return true;
    }
    return false;
}

void Parser::process(QList<Alert>& out)
{
    // Bytes that cannot complete anything are not searched again: a device
    // streaming megabytes without a frame, or a large picture arriving in
    // small pieces, costs time in proportion to its bytes.
    if (mayProgress()) {
        m_wait = {};
        if (m_boundary.isEmpty() && !learnBoundary()) {
            const qsizetype before = m_buffer.size();
            drainBareXml(out);
            // What stopped the boundary search was measured on bytes that
            // are gone now: look at everything again next time.
            if (m_buffer.size() != before)
                m_wait = {};
        } else {
            drainMultipart(out);
        }
    } else {
        m_wait.from = m_buffer.size();
    }
    if (m_buffer.size() > kMaxBuffer_bytes)
        consume(m_buffer.size());
}

void Parser::consume(qsizetype bytes)
{
    m_buffer.remove(0, bytes);
    m_wait = {};
    // A large part (a picture) or a long run without a frame leaves the
    // buffer holding its high-water mark; with a stream per device that
    // adds up, so an emptied buffer larger than one feed slice lets go.
    if (m_buffer.isEmpty() && m_buffer.capacity() > kFeedSlice_bytes)
        m_buffer = QByteArray();
}

void Parser::dropBuffered()
{
    m_buffer = QByteArray();
    m_wait = {};
}

bool Parser::learnBoundary()
{
    const qsizetype dashes = find("--", 0);
    if (dashes < 0) {
        waitFor({"--"});
        return false;
    }
    const qsizetype lf = find("\n", dashes + 2);
    if (lf < 0) {
        waitFor({"\n"});
        return false;
    }
    // Neither of these changes until the start of the buffer is consumed.
    const qsizetype tag = find(kOpenTag, 0, dashes + kOpenTag.size());
    if (tag >= 0 && tag <= dashes)
        return false;
    const QByteArray b = m_buffer.mid(dashes + 2, lf - dashes - 2).trimmed();
    if (b.isEmpty() || b.size() > kMaxBoundary_bytes)
        return false;
    m_boundary = b;
    return true;
}

void Parser::drainMultipart(QList<Alert>& out)
{
    const QByteArray delimiter = "--" + m_boundary;
    for (;;) {
        const qsizetype d = find(delimiter, 0);
        if (d < 0)
            return waitFor({delimiter});
        const qsizetype afterDelimiter = d + delimiter.size();
        const qsizetype lf = find("\n", afterDelimiter);
        if (lf < 0)
            return waitFor({"\n"});
        if (m_buffer.mid(afterDelimiter, 2) == "--") {
            consume(lf + 1);
            continue;
        }

        // Headers, up to the first empty line. A part with no headers at all
        // starts with that empty line.
        const qsizetype headersStart = lf + 1;
        qsizetype headersEnd = -1;
        qsizetype bodyStart = -1;
        if (m_buffer.size() <= headersStart + 1)
            return waitFor({}, headersStart + 2);
        if (m_buffer.at(headersStart) == '\n') {
            headersEnd = headersStart;
            bodyStart = headersStart + 1;
        } else if (m_buffer.at(headersStart) == '\r' && m_buffer.at(headersStart + 1) == '\n') {
            headersEnd = headersStart;
            bodyStart = headersStart + 2;
        } else {
            const qsizetype crlf = find("\r\n\r\n", headersStart);
            // Only a "\n\n" before that one can end the headers earlier.
            const qsizetype lflf = find("\n\n", headersStart, crlf < 0 ? -1 : crlf + 1);
            if (crlf < 0 && lflf < 0)
                return waitFor({"\r\n\r\n", "\n\n"});
            if (lflf < 0) {
                headersEnd = crlf;
                bodyStart = crlf + 4;
            } else {
                headersEnd = lflf;
                bodyStart = lflf + 2;
            }
        }
        const QByteArray headers = m_buffer.mid(headersStart, headersEnd - headersStart);
        const QByteArray contentType = headerValue(headers, "Content-Type");
        bool lengthOk = false;
        const qint64 length = headerValue(headers, "Content-Length").toLongLong(&lengthOk, 10);

        const qsizetype next = find(delimiter, bodyStart);
        const qint64 available = qint64(m_buffer.size()) - bodyStart;
        qsizetype partEnd = -1;
        if (lengthOk && length >= 0) {
            // A device whose Content-Length is too long would otherwise
            // swallow the parts after it: the next delimiter ends the part
            // early. All sums stay in 64 bits, whatever length is declared.
            if (next >= 0 && qint64(next - bodyStart) < length) {
                partEnd = next;
            } else if (length <= available) {
                // The start of a delimiter that has not fully arrived, inside
                // the declared body, would end the part there once it has:
                // cutting at the length now would split the delimiter and
                // lose the part after it, depending only on how the bytes
                // happened to arrive. The next byte decides again: one that
                // cannot continue the delimiter gives the part at once.
                const qsizetype held = next < 0 ? delimiterStartAtEnd(delimiter, bodyStart) : -1;
                if (held >= 0 && qint64(held - bodyStart) < length)
                    return waitFor({delimiter}, m_buffer.size() + 1);
                partEnd = bodyStart + qsizetype(length);
            } else
                return waitFor({delimiter}, length <= kMaxBuffer_bytes ? bodyStart + length : -1);
        } else if (next >= 0) {
            partEnd = next;
        } else {
            return waitFor({delimiter});
        }

        const QByteArray body = m_buffer.mid(bodyStart, partEnd - bodyStart).trimmed();
        Alert alert;
        if (parseBody(body, contentType, &alert))
            out.append(alert);
        consume(partEnd);
    }
}

qsizetype Parser::delimiterStartAtEnd(const QByteArray& delimiter, qsizetype from) const
{
    // The longest beginning of the delimiter that the buffer ends with, and
    // where it starts; -1 when the buffer's last bytes start none.
    const qsizetype longest = std::min(delimiter.size() - 1, m_buffer.size() - from);
    for (qsizetype k = longest; k > 0; --k)
        if (m_buffer.endsWith(QByteArrayView(delimiter.constData(), k)))
            return m_buffer.size() - k;
    return -1;
}

void Parser::drainBareXml(QList<Alert>& out)
{
    for (;;) {
        const qsizetype open = find(kOpenTag, 0);
        if (open < 0)
            return waitFor({kOpenTag});
        const qsizetype close = find(kCloseTag, open);
        if (close < 0)
            return waitFor({kCloseTag});
        const qsizetype end = close + kCloseTag.size();
        Alert alert;
        if (parseBody(m_buffer.mid(open, end - open), "application/xml", &alert))
            out.append(alert);
        consume(end);
    }
}

bool Parser::parseBody(const QByteArray& body, const QByteArray& contentType, Alert* alert)
{
    if (!alert)
        return false;
    const QByteArray type = contentType.toLower();
    if (type.startsWith("image/"))
        return false;
    if (body.isEmpty())
        return false;
    if (type.contains("json") || body.at(0) == '{')
        return parseJson(body, alert);
    return parseXml(body, alert);
}

} // namespace AlertStream

} // namespace kvr::services
