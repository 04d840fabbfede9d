#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace kvr::view {

// The camera wall's rules that need no window: pages and grid, labels, the
// Main/Sub rule, frame-rate caps, overload steps and the auto-advance timing.

// One camera handed to the wall.
struct WallCamera {
    QString id;
    QString title;
    QString subtitle; // added to the tile's title when not empty
    bool offline = false;
};

namespace CameraWallRules {

// The cameras-per-page choices, in button order: label and side (0 = Auto).
struct PerPage {
    QString label;
    int side = 0;
};
QList<PerPage> perPageChoices();

int camerasPerPage(int side);
int pageCount(int cameras, int side);
int columnsFor(int side, int tiles);
int rowsFor(int side, int tiles, int columns);

// The cameras of a page: [first, end), after clamping the page.
struct PageSpan {
    int page = 0;
    int first = 0;
    int end = 0;
    int pages = 1;
    int tiles() const { return end - first; }
};
PageSpan pageSpan(int page, int cameras, int side);

// The list with repeated ids left out (the first of each kept): a camera
// plays once per wall, since its live stream is held once per holder.
QList<WallCamera> withoutRepeats(const QList<WallCamera>& cameras);

QString tileTitle(const WallCamera& camera);
// "1–16 of 17 cameras" across pages, else "3 cameras" / "1 camera", with the
// reduction note of an overload step after "  ·  ".
QString countLabel(const PageSpan& span, int cameras, int overloadStep);
QString pageLabel(const PageSpan& span);

// Main (true) or Sub for the tiles of a page.
bool usesMain(int tilesOnPage, int overloadStep, int gridQuality);
// Pictures per second for each tile; 0 = no cap.
double fpsCap(int tilesOnPage, int overloadStep);
QString reductionNote(int overloadStep);
// The count label with its note replaced by that of `overloadStep`.
QString withReductionNote(const QString& label, int overloadStep);

// Overload steps: one step per accepted report, at most three, reports
// within 12 s of the last step ignored. Time is monotonic milliseconds.
class OverloadSteps {
public:
    int step() const { return m_step; }
    // The step reached when the report is accepted, else nothing.
    std::optional<int> report(qint64 monotonicMs);
    // Step 2 with no tile on Main goes straight on to 3.
    void skipTo(int step) { m_step = step; }
    void reset();

private:
    int m_step = 0;
    std::optional<qint64> m_lastStepMs;
};

// A tile of the page as the wall's scout sees it.
struct ScoutTile {
    bool waiting = false; // on screen, failed, its next try armed
    qint64 waitLeftMs = 0;
    bool trying = false;  // started and awaiting pictures
    bool playing = false; // showing pictures
};
// A wall whose relay fell has every tile waiting for its own next try, each
// further off the more often it failed: none would see the relay come back
// for minutes. While no tile plays and none tries (nor does a start wait for
// the server), the waiting tile due soonest tries now, unless it is due
// within the period anyway; once a tile plays again, the others are hurried
// (TileRetry::hurry). The tile to try, or -1.
int scoutTile(const QList<ScoutTile>& tiles, bool startsUnderWay, qint64 periodMs);

// Auto-advance intervals.
struct AdvancePrefill {
    int value = 30;
    int unit = 0; // 0 seconds, 1 minutes, 2 hours
};
AdvancePrefill advancePrefill(qint64 seconds);
qint64 unitSeconds(int unit);
QString advanceButtonText(qint64 seconds);
// Why the auto-advance dialog refuses an interval; empty when it is taken.
QString advanceRefusal(qint64 seconds);
// The next timer slice towards a deadline that may lie further than a
// 32-bit millisecond timer reaches.
int nextTimerSliceMs(qint64 remainingMs);

} // namespace CameraWallRules

} // namespace kvr::view
