#pragma once

// What a native camera tile decides, apart from its widgets: the plain-language
// outcome of a player's status report, the overload step, the per-device
// block after a refused connection, the overlays' visibility and geometry,
// the watchdog texts and the snapshot file names.

#include "video/PlayerFailure.h"

#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>

namespace kvr::live {

namespace LiveTileRules {

// ---- Texts ----
QString defaultHeadline(); // "Can't play this stream"
QString removedText();     // "This device was removed."
QString noAddressText();   // "No stream address is known for this brand."
QString watchdogText(bool playback);

// ---- Status reports of the player ----
enum class StatusAction {
    EndOfRecording, // playback that had pictures: the recording ended
    FallBackToSub,  // live Main refused for bandwidth: restart on Sub
    Fail,           // the failure state with `headline` and `detail`
};
struct StatusOutcome {
    StatusAction action = StatusAction::Fail;
    QString headline;     // Fail: the headline ("" for the default one); End: "End of recording"
    QString detail;       // Fail: the explained error text
    QString cause;        // Fail: the player's own words, for the log
    QString toast;        // FallBackToSub: the toast
    bool refused = false; // the device refused the connection: block it
};
// `failure` is the player's kind for the report, `detail` its text (which
// goes to the log: the tile says what happened in plain words), `host` the
// address played from.
StatusOutcome classifyStatus(kvr::video::PlayerFailure failure, const QString& detail, bool playback, bool playing,
                             bool main, const QString& host = QString());

// ---- Overload of the decoder ----
struct OverloadOutcome {
    bool switchToSub = false;
    QString toast;
};
OverloadOutcome overloadStep(bool main, bool playback);

// ---- The block after a refused connection ----
// Process-wide: device id -> monotonic time of the last refusal.
class RefusedTable {
public:
    static RefusedTable& instance();
    void record(const QString& deviceId, qint64 nowMs);
    void clear(const QString& deviceId);
    // A refusal recorded less than 30 s before now.
    bool blocked(const QString& deviceId, qint64 nowMs) const;
    void reset() { m_at.clear(); } // for tests

private:
    QHash<QString, qint64> m_at;
};

// ---- Overlays ----
struct ButtonVisibility {
    bool remove = false;
    bool focus = false;
    bool snapshot = false;
    bool streamSwitch = false;
    bool retry = false;
};
ButtonVisibility buttonsFor(bool hovered, bool removable, bool failed, int width);

// How "Try again" shows on a failed tile: its text low in the middle, below
// the badge (a size smaller where the tile is low); a round icon before the
// badge, standing for its dot, where the text has no room below it; or not
// at all on a tile too small even for that (it tries again by itself, and
// the camera shown alone offers it).
enum class RetryForm : quint8 { Text, Icon, None };

struct OverlayInputs {
    QSize tile;
    bool hovered = false;
    // Failed: "Try again" shows, and the badge makes way for its icon.
    bool failed = false;
    QSize badgeHint;
    // A line of the badge's names, however many of them show now: the badge
    // is at least as high as that within its margins.
    int lineHeight = 0;
    // The camera's and the device's names, whole, in their labels' fonts.
    int nameTextWidth = 0;
    int deviceNameTextWidth = 0;
    int dotWidth = 10;
    QSize switchHint;
    // "Try again" at its full size and a size smaller (its full size where
    // not known).
    QSize retryHint;
    QSize retryCompactHint;
    QSize toastHint;
};
struct OverlayGeometry {
    bool deviceNameShown = false;
    // The room of the badge's labels after its dot: the camera's name and
    // what stands beside it (a failure's word, the channel).
    int nameWidth = 40;
    // The device's name gives way to the camera's: shortened to what the
    // camera's name leaves, and left out where not even a few letters fit,
    // so that the cameras of one recorder never all read alike.
    int deviceNameWidth = 0;
    QPoint badge;
    // The badge's margins and the spacing of its labels (tighter on a
    // narrow tile), and the least room its camera's name is shown in.
    QMargins badgeMargins;
    int badgeSpacing = 0;
    int nameLeast = 0;
    // What the dot's place gives a failure's word standing in it
    // (besideName's `dotWidth`): the dot's width, or, where "Try again"'s
    // icon took the place, nothing, and the spacing after the word less.
    int dotPlace = 0;
    QPoint remove;
    QPoint focus;
    QPoint snapshot;
    bool snapshotPlaced = false;
    QPoint streamSwitch;
    RetryForm retryForm = RetryForm::Text;
    QPoint retry;
    // "Try again" gives up height on a tile too low for it below the badge.
    int retryHeight = 0;
    QPoint toast;
};
OverlayGeometry layoutOverlays(const OverlayInputs& in);
// What stands beside the camera's name in the badge: a failure's word (in
// place of the dot) and the channel's number, each only where the name
// beside it keeps `need` (the least room in which it is told from its
// neighbours, or its whole width where less), so that a tile never reads
// "10 …" beside "10 …"; and the room then left to the name. `room` is the
// badge's labels' room (OverlayGeometry::nameWidth); widths of 0 stand for
// labels that are not to show. `need` is asked only where the whole name
// does not fit beside them.
struct BesideName {
    bool word = false;
    bool channel = false;
    int nameRoom = 0;
};
BesideName besideName(int room, int dotWidth, int spacing, int wordWidth, int channelWidth, int wholeName,
                      const std::function<int()>& need);

// Whether the stream switch (bottom right) clears "Try again" (low in the
// middle) on a tile of `tile`; where it does not, a failed tile shows
// "Try again" without the switch.
bool switchBesideRetry(QSize tile, QSize switchHint, QSize retryHint);

// ---- Snapshots ----
// The camera name made safe for a file name (kvr::core::FileNames::safe):
// letters of any script kept, every other run one "_", no leading dot.
QString snapshotBaseName(const QString& cameraName);
// "<base>_<yyyyMMdd-HHmmss>.png", the base cut so that the name fits every
// file system.
QString snapshotFileName(const QString& base, const QDateTime& localTime);
// A path in `folder` that names no file yet: the file name above, or, when a
// file of that name exists (two cameras of the same name in one second), the
// same name with "-2", "-3", ... before ".png".
QString freeSnapshotPath(const QDir& folder, const QString& base, const QDateTime& localTime);
// The folder snapshots go to: "<Pictures>/Kavira".
QString snapshotFolder();

} // namespace LiveTileRules

} // namespace kvr::live
