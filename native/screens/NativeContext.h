#pragma once

// What the native screens are given: the inventory, the probe scheduler and
// the live event streams they show and drive (the process-wide ones in the
// program, a test's own elsewhere), and the hooks through which they open
// the media dialogs that live a layer above them.

#include "native/services/Verdicts.h"

#include <QDateTime>
#include <QString>

#include <functional>

class QWidget;
namespace kvr::services {
class NativeController;
class NativeEvents;
class NativeStore;
} // namespace kvr::services

namespace kvr::screens {

struct NativeContext {
    services::NativeStore* store = nullptr;
    services::NativeController* controller = nullptr;
    services::NativeEvents* events = nullptr; // may be null: no live events

    // The process-wide services (created on first use).
    static NativeContext live();

    services::NativeInsights::Sources sources() const;
    bool isBusy(const QString& deviceId) const;
    bool isRefused(const QString& deviceId) const;
    // Now, from the project clock, in UTC: moments are compared with it
    // without a time-zone lookup each time (which costs a system call per
    // comparison on some platforms); rules that need the local day convert.
    static QDateTime now();
    // Today's date in local time.
    static QDate today();
};

// The snapshot, recording-calendar and live dialogs of a device belong to the
// native live view, which sits above these screens. It installs these hooks
// at start-up; until it does, the buttons that would open them do nothing.
// Each hook runs outside the clicked widget's handler, with a parent that is
// still alive, and may run a modal loop.
namespace NativeMedia {

struct Hooks {
    // Snapshots of one channel, or of every camera for channel 0.
    std::function<void(QWidget* parent, const QString& deviceId, int channel)> snapshots;
    std::function<void(QWidget* parent, const QString& deviceId)> calendar;
    std::function<void(QWidget* parent, const QString& deviceId, int channel)> openLive;
    // Stops a video wall that runs from the native camera source (the native
    // window is leaving the screen).
    std::function<void()> stopWall;
};

void setHooks(const Hooks& hooks);
const Hooks& hooks();

} // namespace NativeMedia

} // namespace kvr::screens
