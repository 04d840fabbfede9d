#pragma once

// Devices answer in four shapes: key=value lines, XML, JSON and free-form
// date-time text. These pure functions flatten each shape into maps from
// lower-case (or as-sent) keys to trimmed texts, so callers pick fields by
// name without caring about nesting or namespaces. Malformed input gives
// fewer entries, never an error.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>

namespace kvr::services {

namespace NativeParse {

using FlatMap = QMap<QString, QString>;

struct DeviceInfo {
    QString model;
    QString deviceName;
    QString serial;
    QString firmware;
    QString mac;
};

// "key=value" lines; keys as sent, later lines win.
FlatMap keyValue(const QByteArray& bytes);

// Leaf elements of an XML document; keys are lower-case local names, the
// first non-empty value wins.
FlatMap xmlFlat(const QByteArray& bytes);

// One flat map per element named like `itemTag` (compared in lower case).
QList<FlatMap> xmlList(const QByteArray& bytes, const QString& itemTag);

// Scalars of a JSON document; keys are lower-case member names, the first
// value met (members visited in ascending name order) wins.
FlatMap jsonFlat(const QByteArray& bytes);

// Whether an answer can be read at all, as opposed to one that reads as
// nothing (garbage, a page cut short, another kind of document): one
// well-formed XML document, whose elements' lower-case local names go to
// `names` when given ...
bool xmlReadable(const QByteArray& bytes, QStringList* names = nullptr);
// ... or at least one key=value line whose key looks like one (letters,
// digits, ".", "_", "[" and "]", beginning with a letter).
bool keyValueReadable(const QByteArray& bytes);

// The five device-information fields from an answer of any shape.
DeviceInfo deviceInfo(const QByteArray& bytes);

// The device's clock reading as a local wall-clock time; whatever follows
// the seconds (fraction, "Z", offset) is ignored. Invalid when unreadable.
QDateTime wallClock(const QString& text);

} // namespace NativeParse

} // namespace kvr::services
