#pragma once

// Bulk entry of native devices from a spreadsheet saved as CSV: one row per
// device, columns found by name (with aliases), every row checked on its
// own, sites created by name as rows need them. And the sample file that
// shows the expected columns. Main thread only.

#include "native/services/NativeRecords.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace kvr::services {

class NativeStore;

namespace NativeCsv {

struct ImportResult {
    int added = 0;      // devices added to the inventory
    int skipped = 0;    // data rows rejected
    QStringList errors; // one per rejected row, in row order, or one for the file
};

// Largest file read: far beyond any real device list, small enough that a
// wrong file picked by mistake cannot exhaust the memory.
inline constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;

// Reads the file and adds its devices (and the sites they name) to the store.
ImportResult importFile(NativeStore& store, const QString& path);
// The same for bytes already read.
ImportResult importBytes(NativeStore& store, const QByteArray& bytes);

// Where imported rows go: the inventory as it stands when the import
// starts, and how a site or a device is added to it.
struct Inventory {
    QList<Native::Site> sites; // in inventory order
    QList<Native::Device> devices;
    std::function<QString(const Native::Site& site)> addSite; // gives the new id
    // Gives the new id, or an empty one and the reason in `error`.
    std::function<QString(const Native::Device& device, QString* error)> addDevice;
};
ImportResult importBytes(const Inventory& into, const QByteArray& bytes);
// The file's bytes, or a result holding the file-level error.
bool readFile(const QString& path, QByteArray* bytes, ImportResult* failure);

// The sample file: the header row and two example devices.
QString sampleCsv();

// ---- Building blocks ----------------------------------------------------------
// Rows of fields: quotes, doubled quotes, line breaks inside quotes, LF, CR
// and CR LF row ends; empty lines dropped.
QList<QStringList> parseRows(const QString& text);
// A header cell as matched: trimmed, lower case, letters and digits only.
QString normalizedHeader(const QString& cell);

} // namespace NativeCsv

} // namespace kvr::services
