#pragma once

// Files the program writes for a person (snapshots, reports, its own data
// files, the remembered sign-in), written whole or not at all: the bytes go
// to a temporary file beside the target, opened unbuffered so that a full
// disk shows at the write that met it (a buffered save file loses the
// failure of its last flush and commits a truncated file as a success),
// every write is checked, and the target is replaced only once all of them
// are in. On failure the temporary file goes, the old file stays as it was,
// and the outcome says why in words a person reads.

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <functional>

namespace kvr::core {

namespace WholeFile {

// Why a file could not be written.
enum class Failure {
    None,
    DiskFull,     // no room left (or none for this much)
    ReadOnly,     // the disk (or the folder's file system) takes no writes
    NoPermission, // the folder or the file may not be written by this account
    NoFolder,     // the folder is missing and could not be made
    Other,        // anything else: the system's words say what
};

struct Outcome {
    Failure failure = Failure::None;
    QString detail; // the system's own words, for the log; empty on success
    bool ok() const { return failure == Failure::None; }
};

enum class Access {
    AsTheFolderGives, // the permissions new files get there
    OwnerOnly,        // readable and writable by the owner alone, from before the first byte
};

// Called with the temporary file just before the bytes go in.
using BeforeBytes = std::function<void(const QFileDevice& file)>;

// Writes `bytes` as the whole new content of `path`, making its folder when
// missing. With OwnerOnly the file is narrowed before any byte is in it and
// checked after the commit; a committed file that could not be narrowed is
// reported as NoPermission (and left for the caller to judge).
Outcome write(const QString& path, const QByteArray& bytes, Access access = Access::AsTheFolderGives,
              const BeforeBytes& beforeBytes = {});

// Writes all the bytes to an open file, false on any failure. A disk that
// takes only part of them makes the file say why (the write that then takes
// nothing does), rather than leaving the failure without a reason.
bool writeAll(QFileDevice& file, const QByteArray& bytes);

// Why a write of `neededBytes` into `path` failed, worked out from the file
// system as it stands now (read-only, no permission, too little room) and
// the error the file met.
Failure classify(const QString& path, QFileDevice::FileError error, qint64 neededBytes);

// Why it failed as a clause to follow a colon or stand in brackets: "the
// disk is full", "the disk is read-only", "there is no permission to write
// there", "the folder could not be made", or the system's own words
// ("Input/output error").
QString reason(const Outcome& outcome);

} // namespace WholeFile

} // namespace kvr::core
