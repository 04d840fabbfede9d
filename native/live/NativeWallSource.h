#pragma once

// The video wall's camera source in native mode: the cameras of the native
// inventory, shown as native camera tiles (without "Remove from the wall").
// Holds no state; every call reads the inventory at that moment.

#include "wall/Source.h"

namespace kvr::live {

class NativeWallSource final : public wall::VideoWall::Source {
public:
    static inline const QString kId = QStringLiteral("native");

    QString id() const override { return kId; }
    QString title() const override { return QStringLiteral("Native"); }
    QList<wall::VideoWall::Camera> cameras() const override;
    QWidget* makeTile(const QString& cameraId, QWidget* parent, std::function<void()> onExpand) override;
    void tune(QWidget* tile, int shownOnDisplay, int totalOnWall) override;
    void start(QWidget* tile, bool main, std::function<void()> started) override;
    void stop(QWidget* tile) override;
    void requestStop(QWidget* tile) override;
    wall::VideoWall::TileRetry* tileRetry(QWidget* tile) override;
    QString tileStyle() const override;
    int maxStartsInFlight() override { return 1000; }
    int startReleaseDelayMs() override { return 0; }
};

} // namespace kvr::live
