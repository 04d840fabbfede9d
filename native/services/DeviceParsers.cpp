#include "native/services/DeviceParsers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QXmlStreamReader>

namespace kvr::services {

namespace NativeParse {

FlatMap keyValue(const QByteArray& bytes)
{
    static const QRegularExpression lineBreaks(QStringLiteral("[\\r\\n]+"));
    FlatMap out;
    const QStringList lines = QString::fromUtf8(bytes).split(lineBreaks, Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        out.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return out;
}

namespace {

// The leaves of an XML element: the first non-empty text of each leaf name,
// names in lower case.
struct XmlLeaves {
    QString key;
    QString text;
    bool leaf = false;

    void start(const QXmlStreamReader& xml)
    {
        key = xml.name().toString().toLower();
        text.clear();
        leaf = true;
    }
    void characters(const QXmlStreamReader& xml)
    {
        if (!xml.isWhitespace())
            text += xml.text();
    }
    void end(FlatMap& into)
    {
        if (leaf) {
            const QString value = text.trimmed();
            if (!value.isEmpty() && !into.contains(key))
                into.insert(key, value);
        }
        leaf = false;
        text.clear();
    }
};

} // namespace

FlatMap xmlFlat(const QByteArray& bytes)
{
    FlatMap out;
    QXmlStreamReader xml(bytes);
    XmlLeaves leaves;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (xml.hasError())
            break;
        if (token == QXmlStreamReader::StartElement)
            leaves.start(xml);
        else if (token == QXmlStreamReader::Characters)
            leaves.characters(xml);
        else if (token == QXmlStreamReader::EndElement)
            leaves.end(out);
    }
    return out;
}

QList<FlatMap> xmlList(const QByteArray& bytes, const QString& itemTag)
{
    const QString tag = itemTag.toLower();
    QList<FlatMap> out;
    QXmlStreamReader xml(bytes);
    int depth = 0;
    FlatMap item;
    XmlLeaves leaves;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (xml.hasError())
            break;
        if (token == QXmlStreamReader::StartElement) {
            if (depth == 0) {
                if (xml.name().toString().toLower() == tag) {
                    item.clear();
                    depth = 1;
                }
                continue;
            }
            leaves.start(xml);
            ++depth;
        } else if (token == QXmlStreamReader::Characters) {
            if (depth >= 1)
                leaves.characters(xml);
        } else if (token == QXmlStreamReader::EndElement) {
            if (depth < 1)
                continue;
            leaves.end(item);
            --depth;
            if (depth == 0)
                out.append(item);
        }
    }
    return out;
}

bool xmlReadable(const QByteArray& bytes, QStringList* names)
{
    QXmlStreamReader xml(bytes);
    bool root = false;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement) {
            root = true;
            if (names)
                names->append(xml.name().toString().toLower());
        }
    }
    return root && !xml.hasError();
}

bool keyValueReadable(const QByteArray& bytes)
{
    static const QRegularExpression keyLine(
        QStringLiteral("(?:^|[\\r\\n])[ \\t]*[A-Za-z][A-Za-z0-9._\\[\\]]*[ \\t]*="));
    return keyLine.match(QString::fromUtf8(bytes)).hasMatch();
}

namespace {

void walkJson(const QJsonValue& value, const QString& key, FlatMap& out)
{
    if (value.isObject()) {
        const QJsonObject obj = value.toObject();
        QStringList names = obj.keys();
        std::sort(names.begin(), names.end());
        for (const QString& name : names)
            walkJson(obj.value(name), name.toLower(), out);
    } else if (value.isArray()) {
        const QJsonArray arr = value.toArray();
        for (const QJsonValue& v : arr)
            walkJson(v, key, out);
    } else {
        if (key.isEmpty() || out.contains(key))
            return;
        if (value.isString()) {
            const QString s = value.toString();
            if (!s.isEmpty())
                out.insert(key, s);
        } else if (value.isDouble()) {
            out.insert(key, QString::number(value.toDouble(), 'f', 0));
        }
    }
}

} // namespace

FlatMap jsonFlat(const QByteArray& bytes)
{
    FlatMap out;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (doc.isObject())
        walkJson(doc.object(), QString(), out);
    else if (doc.isArray())
        walkJson(doc.array(), QString(), out);
    return out;
}

DeviceInfo deviceInfo(const QByteArray& bytes)
{
    const QByteArray trimmed = bytes.trimmed();
    const char first = trimmed.isEmpty() ? '\0' : trimmed.at(0);
    FlatMap map;
    if (first == '{' || first == '[') {
        map = jsonFlat(bytes);
    } else if (first == '<') {
        map = xmlFlat(bytes);
    } else {
        const FlatMap raw = keyValue(bytes);
        for (auto it = raw.cbegin(); it != raw.cend(); ++it)
            map.insert(it.key().toLower(), it.value());
    }
    auto pick = [&map](std::initializer_list<const char*> keys) {
        for (const char* k : keys) {
            const QString v = map.value(QLatin1String(k));
            if (!v.isEmpty())
                return v;
        }
        return QString();
    };
    DeviceInfo info;
    info.model = pick({"model", "devicemodel", "devicetype"});
    info.deviceName = pick({"devicename", "name"});
    info.serial = pick({"serialnumber", "serialno", "serial"});
    info.firmware = pick({"firmwareversion", "version", "softwareversion"});
    info.mac = pick({"macaddress", "mac"});
    return info;
}

QDateTime wallClock(const QString& text)
{
    const QString t = text.trimmed();
    if (t.size() < 19)
        return QDateTime();
    const QString head = t.left(19);
    QDateTime dt = QDateTime::fromString(head, QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
    if (!dt.isValid())
        dt = QDateTime::fromString(head, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!dt.isValid())
        return QDateTime();
    return QDateTime(dt.date(), dt.time(), Qt::LocalTime);
}

} // namespace NativeParse

} // namespace kvr::services
