#pragma once

#include <QList>
#include <QString>

#include <functional>

class QWidget;

namespace kvr::wall {

namespace VideoWall {

class TileRetry;

// A camera a wall can show.
struct Camera {
    QString id;           // stored in the cells of the saved wall, carried by drag and drop
    QString title;        // shown in the set-up dialog's camera tree
    QString device;       // name of the camera's device
    QString site;         // name of the device's site
    bool offline = false; // known to be offline
};

// Where the wall's cameras come from and what a tile is: one implementation
// per mode, each living with the tiles it builds. A source holds no state of
// its own; it is shared by the set-up dialog and the controller. Main thread
// only. Every tile handed to tune/start/stop/requestStop was made by the
// same source.
class Source {
public:
    virtual ~Source() = default;

    // Stable id; the saved wall of the source is kept under it.
    virtual QString id() const = 0;
    // Shown in the wall's window titles.
    virtual QString title() const = 0;
    virtual QList<Camera> cameras() const = 0;

    // A new tile for a cell; it calls onExpand when the user asks to fill the
    // display with it.
    virtual QWidget* makeTile(const QString& cameraId, QWidget* parent, std::function<void()> onExpand) = 0;
    // Adapts a tile to the tiles visible on its display (1 while it is
    // focused) and on the whole wall.
    virtual void tune(QWidget* tile, int shownOnDisplay, int totalOnWall) = 0;
    // Starts the tile on the main (true) or sub stream; `started` is to be
    // called once, when the tile's start slot may be given back.
    virtual void start(QWidget* tile, bool main, std::function<void()> started) = 0;
    // Stops the tile and waits for its player.
    virtual void stop(QWidget* tile) = 0;
    // Asks the tile to stop without waiting.
    virtual void requestStop(QWidget* tile) = 0;
    // The tile's own retry, when it tries again by itself after a failure
    // (see TileRetry); null when it does not.
    virtual TileRetry* tileRetry(QWidget* tile) = 0;

    // Style sheet of the wall's windows.
    virtual QString tileStyle() const = 0;
    // Tile starts the controller lets run at once (it uses at least 1).
    virtual int maxStartsInFlight() = 0;
    // Milliseconds between a tile's `started` and the release of its slot.
    virtual int startReleaseDelayMs() = 0;
};

} // namespace VideoWall

} // namespace kvr::wall
