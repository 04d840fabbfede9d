#pragma once

#include "app/core/RequestTicket.h"
#include "server/shell/ShellRules.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <utility>

class QWidget;

namespace kvr::shell {

// What the main window asks of the single-camera stage, and hears from it.
// The window makes every server call the stage needs and calls it back with
// the results; the stage never calls the server. A request that comes with a
// ticket gets it back with its answer, so that the stage drops answers to
// requests it has moved on from.
class StagePort : public QObject {
    Q_OBJECT
public:
    enum class Mode { Live, DevicePlayback, CloudPlayback };
    using QObject::QObject;

    virtual QWidget* page() = 0;
    virtual Mode mode() const = 0;
    // Live mode; an empty address waits for one, `offline` shows the offline state.
    virtual void openLive(const QString& title, const QString& url, bool offline) = 0;
    // Stops the player, clears the stage, leaves full screen; emits stopped().
    virtual void stopPlayback() = 0;
    virtual void prepareDevice(const QString& title) = 0;
    virtual void prepareCloud(const QString& title, const QList<QDate>& days) = 0;
    virtual void playUrl(const QString& url) = 0;
    // The answer to playCloud. `source`: the address the playlist was fetched from.
    virtual void playPlaylist(const QByteArray& playlist, const QUrl& source, const core::RequestTicket& asked) = 0;
    virtual void showError(const QString& headline, const QString& detail, bool retry) = 0;
    // The answer to deviceMonthRequested.
    virtual void addDeviceDays(const QList<QDate>& days, const core::RequestTicket& asked) = 0;
    virtual void setDeviceCoverage(const QDate& day, const QList<std::pair<double, double>>& blocks,
                                   bool supported) = 0;
    virtual void setMainStream(bool main) = 0;
    virtual void suspendLive() = 0;
    virtual void resumeLive() = 0;
    virtual void setFullscreen(bool on) = 0;

Q_SIGNALS:
    void stopped();
    void playDevice(const QDateTime& start, const QDateTime& end);
    void playCloud(const QDate& day, const QString& start, const QString& end, const core::RequestTicket& asked);
    void retryLive();
    void deviceMonthRequested(int year, int month, const core::RequestTicket& asked);
    void deviceDayRequested(const QDate& day);
    void streamToggled(bool mainStream);
    void fullscreenToggled(bool on);
};

// What the main window asks of the paged camera wall, whose tiles start and
// stop their own server streams.
class WallPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual QWidget* page() = 0;
    virtual void openCameras(const QString& title, const QList<view::WallCamera>& cameras) = 0;
    virtual void stopAll() = 0;
    virtual void suspendAll() = 0;
    virtual void resumeAll() = 0;
    virtual void nextPage() = 0;
    virtual void previousPage() = 0;
    virtual void setFullscreen(bool on) = 0;
    virtual QStringList cameraIds() const = 0;
    virtual void setCanSavePreset(bool on) = 0;

Q_SIGNALS:
    void savePresetRequested();
    void closed();
    void cameraOpened(const QString& cameraId);
    void fullscreenToggled(bool on);
};

// The multi-display video wall, as far as the main window deals with it.
class VideoWallPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool running() const = 0;
    virtual int openWindows() const = 0;
    // Id of the running source: "native", or beginning with "server/".
    virtual QString sourceId() const = 0;
    virtual void stop() = 0;
    // Opens the set-up dialog over the server's cameras, window-modal, without blocking.
    virtual void openSetup(QWidget* parent) = 0;

Q_SIGNALS:
    void runningChanged(bool running);
};

} // namespace kvr::shell
