#pragma once

// The settings store's file, written whole or not at all. The store writes
// its file through a buffered save file and, as Qt 6.4 does, commits it
// although the last flush failed: on a disk with a little room left a sync
// reports success over an empty or cut file, and every setting is gone at
// the next start. Where the store writes a file of its own (an INI file:
// everywhere but macOS and Windows, whose system stores write their own
// files atomically), each sync keeps a second name for the file as it was,
// reads the new file back through another name and, when it does not hold
// what the store holds, puts the old one back.

#include "app/core/WholeFile.h"

#include <QSettings>

namespace kvr::core {

namespace SettingsFile {

// The process's settings store: every write of its file, those the store
// starts by itself (a queued update, its end) included, goes through sync().
class Store : public QSettings {
public:
    Store(const QString& organisation, const QString& application);
    ~Store() override;

protected:
    bool event(QEvent* event) override;
};

// Writes what the store holds; true when the file holds it whole. On failure
// the file is as it was before (or, where it could not be kept, absent), and
// lastProblem() says why.
bool sync(QSettings& settings);

// Why the last sync failed; its failure is None after one that worked.
WholeFile::Outcome lastProblem();

} // namespace SettingsFile

} // namespace kvr::core
