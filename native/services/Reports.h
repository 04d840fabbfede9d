#pragma once

// The four CSV reports of native mode: daily uptime, down periods, camera
// status, and storage and recording. Built whole in memory from the store
// and its uptime history; writing the file is the caller's business.

#include "native/services/NativeRecords.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace kvr::services {

class NativeStore;

namespace NativeReports {

enum Kind : int {
    Uptime = 0,
    Downtime = 1,
    Cameras = 2,
    Storage = 3,
};

// One uptime series of a device, as the two uptime reports list it.
struct Scope {
    QString label; // the "scope" column
    Native::GraphType type = Native::GraphType::Device;
    int channel = 0; // the camera's channel for Camera, else 0
};

// The whole report, every line ended by a line feed; the header alone when
// nothing matches, an empty text for an unknown kind. An empty id list
// selects every device; `from` and `to` (inclusive) matter only to the
// uptime kinds, and history older than 39 days before today is never read.
QString build(Kind kind, const QStringList& deviceIds, const QDate& from, const QDate& to);
QString build(const NativeStore& store, Kind kind, const QStringList& deviceIds, const QDate& from, const QDate& to,
              const QDateTime& now);

// The column names of a kind, in order; empty for an unknown kind.
QStringList columns(Kind kind);

// One cell made safe for a spreadsheet: text that a spreadsheet would run
// as a formula gets an apostrophe in front (plain numbers excepted), and
// text holding a comma, quote or line break is quoted.
QString csvField(const QString& text);
// The fields through csvField, joined by commas, ended by one line feed.
QString csvLine(const QStringList& fields);

// Internet, Device, then one scope per camera not ignored.
QList<Scope> scopesOf(const Native::Device& device);

// The hourly cells of a scope's series between the two dates, whole days.
QList<Native::UptimeCell> uptimeRows(const NativeStore& store, const QString& deviceId, const Scope& scope,
                                     const QDate& from, const QDate& to, const QDateTime& now);

} // namespace NativeReports

} // namespace kvr::services
