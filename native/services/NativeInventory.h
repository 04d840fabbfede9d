#pragma once

// The JSON form of the native records and of native-inventory.bin, and the
// camera-list rules shared by loading and editing.

#include "native/services/NativeRecords.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QStringList>

namespace kvr::services {

namespace Native {

inline constexpr int kInventoryVersion = 1;
inline constexpr char kInventoryFile[] = "native-inventory.bin";

// How far a saved file could be read.
enum class ReadStatus {
    Missing,      // no file: a first start
    Clean,        // read whole
    Unreadable,   // exists but could not be opened
    Damaged,      // not JSON, truncated or not an object: read as far as sound
    OtherVersion, // a version this build does not write: known members read
};

struct InventoryData {
    QList<Site> sites;
    QList<Device> devices;
    ReadStatus status = ReadStatus::Missing;
    QStringList problems; // what could not be read, one sentence each
};

Site siteFromJson(const QJsonObject& object);
Device deviceFromJson(const QJsonObject& object); // cameras not yet synced
QDateTime dateFromJson(const QJsonValue& value);

// JSON text pieces shared by the file writers: a quoted, escaped string
// and a date-time (ISO 8601 text, or null when invalid).
void appendJsonString(QByteArray& out, QStringView text);
void appendJsonDate(QByteArray& out, const QDateTime& dateTime);

// The compact document of the inventory file.
QByteArray encodeInventory(const QList<Site>& sites, const QList<Device>& devices);
// Reads an inventory document. Devices without an id are dropped, camera
// lists brought in line with channel counts, duplicate camera names
// cleared. Damaged input is read as far as it is sound (status and
// problems say what was lost).
InventoryData decodeInventory(const QByteArray& bytes);

// Brings the camera list into line with the channel count: channels clamped
// to 1..256, one camera per channel in ascending order (existing ones kept,
// those kept above the count brought back with their state unknown, missing
// ones default). Cameras and ignored numbers of channels above the count are
// kept aside (hiddenCameras, hiddenIgnored); numbers outside 1..256 removed.
void syncCameras(Device& device);
// A fresh record id: a random UUID as text without braces. Safe on any thread.
QString newId();
// A device as the inventory takes it in: the given id and creation time, a
// fresh health block, and a camera list built anew from its channel count.
void makeNew(Device& device, const QString& id, const QDateTime& createdAt);

// Whether two records reach the device the same way: address, ports, login
// and brand. A probe result only belongs to the connection it was made on.
bool sameConnection(const Device& a, const Device& b);

// Clears camera names that occur on two or more cameras of the device
// (compared trimmed and ignoring case; empty names take no part).
void clearDuplicateCameraNames(Device& device);

// Parses JSON that may be damaged: a document that parses is returned as it
// is; otherwise the text up to the damage is cut back to the last container
// opened at a depth of at most `recordDepth` (the root is depth 0) that was
// closed, and the open containers are closed after it, so whole records
// survive and a half-written one is left out. `ok` reports whether the
// input parsed as it was.
QJsonDocument salvageJson(const QByteArray& bytes, int recordDepth, bool* ok, QString* problem);

} // namespace Native

} // namespace kvr::services
