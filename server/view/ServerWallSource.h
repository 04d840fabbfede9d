#pragma once

#include "wall/Source.h"

#include <QList>
#include <QString>

#include <chrono>

namespace kvr::api {
struct Channel;
struct Device;
struct Site;
} // namespace kvr::api

namespace kvr::view {

// The video wall in server mode: the cameras are the channels of the chosen
// organisation's catalogue, a tile is a CameraTile whose live stream is held
// by the server under the wall's own owner, so that the camera wall and the
// single-camera view keep theirs. Holds no state: every call reads the
// application context as it is at that moment. Made with no arguments and
// shared by the set-up dialog and the wall controller. Main thread only.
class ServerWallSource final : public wall::VideoWall::Source {
public:
    // The holder under which wall tiles start and give back their streams.
    static const QString kOwner;
    // Server starts that may wait for their answer at once; each answer
    // gives its slot back after this pause, so that a wall of 120 cameras
    // never asks the server for more than a few streams at a time.
    static constexpr int kMaxStartsInFlight = 4;
    static constexpr std::chrono::milliseconds kStartReleaseDelay{60};

    ServerWallSource() = default;

    // "server/<host>/<organisation id>": the server address's host (fully
    // decoded) and the organisation's id, "default" when it is empty. Each
    // organisation of each server keeps a saved wall of its own.
    static QString idFor(const QString& serverUrl, const QString& organisationId);
    // Every channel of the catalogue, site by site, device by device.
    static QList<wall::VideoWall::Camera> camerasIn(const QList<api::Site>& sites);
    // A channel's name, "Camera <number>" when it has none.
    static QString channelTitle(const api::Channel& channel);

    // What the tile of a camera id shows before it starts: the channel as
    // found in the catalogue (null when it is not) and its device (null when
    // that is not found).
    struct TileLabel {
        QString title;
        bool offline = true;
    };
    static TileLabel tileLabelFor(const api::Channel* channel, const api::Device* device);

    QString id() const override;
    QString title() const override;
    QList<wall::VideoWall::Camera> cameras() const override;
    QWidget* makeTile(const QString& cameraId, QWidget* parent, std::function<void()> onExpand) override;
    void tune(QWidget* tile, int shownOnDisplay, int totalOnWall) override;
    void start(QWidget* tile, bool main, std::function<void()> started) override;
    void stop(QWidget* tile) override;
    void requestStop(QWidget* tile) override;
    wall::VideoWall::TileRetry* tileRetry(QWidget* tile) override;
    QString tileStyle() const override;
    int maxStartsInFlight() override { return kMaxStartsInFlight; }
    int startReleaseDelayMs() override { return int(kStartReleaseDelay.count()); }
};

} // namespace kvr::view
