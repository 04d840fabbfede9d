#pragma once

// The sentences with which native mode says what became of its files: one
// that could not be read at start (and where the copy of it is kept), and
// a save that failed. Shown at the edge, in the window.

#include <QString>

namespace kvr::services {

namespace FileNotices {

// A file read only in part; `copy` is where the file as it was is kept
// (empty: no copy could be written, so the file stays and is moved aside,
// not replaced, at the next save).
QString damagedInventory(int devicesRead, const QString& copy);
QString damagedUptime(const QString& copy);
QString damagedEvents(const QString& copy);
// A file that exists but could not be opened.
QString unreadInventory(const QString& path);
QString unreadUptime(const QString& path);
QString unreadEvents(const QString& path);

// A failed write of a file at `path`, for `reason` (in plain words: "the
// disk is full"). With `undone`, the changes people made since the last save
// were undone.
QString inventoryNotSaved(const QString& path, const QString& reason, bool undone);
QString uptimeNotSaved(const QString& path, const QString& reason);
QString eventsNotSaved(const QString& path, const QString& reason);

// A file that still could not be saved as the program ends: what of it is
// lost.
enum class File { Inventory, Uptime, Events };
QString lostAtEnd(File file, const QString& path, const QString& reason);

} // namespace FileNotices

} // namespace kvr::services
