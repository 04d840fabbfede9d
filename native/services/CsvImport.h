#pragma once

// Bulk entry of native devices from a spreadsheet saved as CSV: one row per
// device, columns found by name (with aliases), every row checked on its
// own, sites created by name as rows need them. And the sample file that
// shows the expected columns.
//
// A file is worked out whole before anything is added: read, decoded, split
// and checked row by row into a plan, which the store then takes in one
// step. A file that cannot be read to its end, is not text in an encoding
// it can be read in, or holds a quote that never closes adds nothing at all.
// Apart from the store's side, these are plain functions safe on any thread.

#include "native/services/NativeRecords.h"

#include <QByteArray>
#include <QDateTime>
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
    // Messages beyond those kept in `errors`: a file of a million bad rows
    // is told by its count, not held message by message.
    int moreErrors = 0;
    // How the file was read when it was not plain UTF-8; empty otherwise.
    QString note;
};

// Largest file read: far beyond any real device list, small enough that a
// wrong file picked by mistake cannot exhaust the memory.
inline constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;
// Row messages kept; the rest are counted.
inline constexpr int kMaxMessages = 1000;

// ---- Text --------------------------------------------------------------------
enum class Encoding { Utf8, Utf16, Windows1252 };
struct Text {
    QString text;
    Encoding encoding = Encoding::Utf8;
    QString error; // not empty: the file is refused, and this says why
};
// UTF-8 with or without its byte-order mark, UTF-16 by its byte-order mark,
// and, where the bytes are not valid UTF-8, Windows-1252 (what spreadsheets
// save as "CSV" on Windows). Bytes that are none of these, and NUL
// characters, refuse the file: nothing is guessed into a wrong letter.
Text decode(const QByteArray& bytes);
// What the notice says of a file not read as UTF-8; empty for UTF-8.
QString encodingNote(Encoding encoding);

// ---- The plan ----------------------------------------------------------------
// What a file adds to an inventory, worked out in full first.
struct Plan {
    QList<Native::Site> sites;     // new sites, ids given, in the order rows named them
    QList<Native::Device> devices; // as the store keeps new devices: ids, creation time, cameras
    QList<int> rows;               // the row of each device, for a message about it
    ImportResult result;           // `added` counts `devices`
    bool refused = false;          // a file-level failure: nothing of the file is added
};
// The rows of `text` checked against the inventory as it stands (sites and
// devices), new devices stamped with `now`.
Plan plan(const QList<Native::Site>& sites, const QList<Native::Device>& devices, const Text& text,
          const QDateTime& now);
// The same for the file's bytes.
Plan plan(const QList<Native::Site>& sites, const QList<Native::Device>& devices, const QByteArray& bytes,
          const QDateTime& now);
// A plan that adds nothing and says why.
Plan refusal(const QString& reason);

// ---- Whole imports ---------------------------------------------------------------
// Reads the file and adds its devices (and the sites they name) to the store
// at once, on the calling thread (the window imports through CsvImportJob,
// which reads elsewhere).
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
// and CR LF row ends; empty lines dropped. A quote that is never closed
// keeps the rest of the text in its field; `unclosedRow`, when given, gets
// the number of the row it opened in (the first row is 1), or 0.
QList<QStringList> parseRows(const QString& text, qsizetype* unclosedRow = nullptr);
// A header cell as matched: trimmed, lower case, letters and digits only.
QString normalizedHeader(const QString& cell);

} // namespace NativeCsv

} // namespace kvr::services
