#pragma once

// Native mode's data files in the application's local data folder. The
// inventory holds device passwords, so `write` makes the new file readable
// by its owner only before a byte of it is written, and replaces the old
// file atomically: a failed write or commit leaves the old file untouched.

#include <QByteArray>
#include <QString>

#include <optional>

namespace kvr::services {

namespace SecureFile {

// The full path of a file name in the writable application-local data
// folder; the folder (and its parents) is created when missing.
QString path(const QString& fileName);

// Writes the bytes atomically, owner read/write only. False on any failure,
// in which case the previous file stays as it was.
bool write(const QString& fileName, const QByteArray& bytes);
// The same at a full path (from `path`); safe on any thread. On failure
// `problem`, when given, says why in plain words ("the disk is full").
bool writeTo(const QString& fullPath, const QByteArray& bytes, QString* problem = nullptr);

// The whole file; no value when it cannot be opened for reading. An empty
// file gives present, empty bytes.
std::optional<QByteArray> read(const QString& fileName);

// Deletes the file; the outcome is not reported.
void remove(const QString& fileName);

} // namespace SecureFile

} // namespace kvr::services
