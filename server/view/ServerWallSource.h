#pragma once

#include "wall/Source.h"

#include <QList>
#include <QString>

#include <chrono>

struct Channel;
struct Device;
struct Site;

// The video wall in server mode: the cameras are the channels of the chosen
// organisation's catalogue, a tile is a CameraTile whose live stream is held
// by the server under the wall's own owner, so that the camera wall and the
// single-camera view keep theirs. Holds no state: every call reads the
// application context as it is at that moment. Made with no arguments and
// shared by the set-up dialog and the wall controller. Main thread only.
class ServerWallSource final : public VideoWall::Source {
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
    static QList<VideoWall::Camera> camerasIn(const QList<Site>& sites);
    // A channel's name, "Camera <number>" when it has none.
    static QString channelTitle(const Channel& channel);

    // What the tile of a camera id shows before it starts: the channel as
    // found in the catalogue (null when it is not) and its device (null when
    // that is not found).
    struct TileLabel {
        QString title;
        bool offline = true;
    };
    static TileLabel tileLabelFor(const Channel* channel, const Device* device);

    QString id() const override;
    QString title() const override;
    QList<VideoWall::Camera> cameras() const override;
    QWidget* makeTile(const QString& cameraId, QWidget* parent, std::function<void()> onExpand) override;
    void tune(QWidget* tile, int shownOnDisplay, int totalOnWall) override;
    void start(QWidget* tile, bool main, std::function<void()> started) override;
    void stop(QWidget* tile) override;
    void requestStop(QWidget* tile) override;
    VideoWall::TileRetry* tileRetry(QWidget* tile) override;
    QString tileStyle() const override;
    int maxStartsInFlight() override { return kMaxStartsInFlight; }
    int startReleaseDelayMs() override { return int(kStartReleaseDelay.count()); }
};
