#pragma once

#include "app/core/RequestTicket.h"

#include <QFrame>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

#include "server/view/CameraTileRules.h"
#include "server/view/LivePictures.h"

class QLabel;
class QPushButton;
namespace kvr::api {
class LiveStreamService;
} // namespace kvr::api
namespace kvr::video {
class FfmpegPlayer;
class VideoStage;
} // namespace kvr::video
namespace kvr::wall::VideoWall {
class TileRetry;
} // namespace kvr::wall::VideoWall

namespace kvr::view {

class PulseDot;

// One live camera of a wall: its own player and picture, a status dot and the
// camera's name, overlay buttons under the mouse, a Main/Sub switch, Retry
// and a short-lived notice. It asks the server for the camera's live stream
// through a LiveStreamService (the application's server client unless
// another is given), plays it and gives it back.
class CameraTile : public QFrame {
    Q_OBJECT
public:
    CameraTile(const QString& cameraId, const QString& title, bool offline, QWidget* parent = nullptr,
               api::LiveStreamService* streams = nullptr);
    // Stops the player; the server stream is not given back (call stop first).
    ~CameraTile() override;

    // Set by the owner after construction: the holder under which the stream
    // is started and stopped (empty for the camera wall, "videowall" for the
    // video wall), and whether the tile sits on the video wall, which hides
    // its open, remove and listen buttons (call updateButtons after).
    QString owner;
    bool inVideoWall = false;

    // When a start's continuation runs: as soon as the server has answered,
    // before the tile acts on the answer; or once the answer shows (picture
    // coming or failure shown), for an owner that paces starts on what shows.
    enum class DoneWhen : quint8 { Answered, Shown };
    // Begins playing; `done` (may be empty) runs exactly once when the start
    // has ended, also when the tile was stopped or deleted meanwhile. An
    // offline tile shows "Offline" and runs it at once.
    void start(std::function<void()> done = {}, DoneWhen when = DoneWhen::Answered);
    // Ends playing and gives the server stream back.
    void stop();
    // Stops many tiles at once: their players end side by side, not one
    // after the other.
    static void stopTiles(const QList<CameraTile*>& tiles);
    // Lets tiles go: each gives its server stream back as stop does, its
    // player ends in the background without the GUI thread waiting, and the
    // tile is hidden and deleted later. The caller forgets the tiles.
    static void discardTiles(const QList<CameraTile*>& tiles);
    // Around a minimised window: the player stops, the server stream stays.
    void suspend();
    void resume();

    // Main (true) or Sub before the first start; checks the matching half.
    void setInitialQuality(bool main);
    // Changes the stream and restarts a started tile; the switch stays as it is.
    void setQuality(bool main);
    void setListening(bool on);
    bool isListening() const;
    void setSelected(bool on);
    void showFailure(const QString& detail, bool offline);
    void toast(const QString& text);
    void snapshot();
    void saveSnapshot(const QImage& image);
    void updateButtons();
    void layoutOverlays();

    // Written by the camera wall.
    void setExpanded(bool on) { m_expanded = on; }
    // The titles of every camera of a paged wall, on its other pages too:
    // where a camera's name recurs there under another recorder, its title
    // names its recorder (empty: the tiles beside it are all there is).
    void setWallTitles(const QStringList& titles);
    bool isExpanded() const { return m_expanded; }
    void setMainForExpand(bool on) { m_mainForExpand = on; }
    bool mainForExpand() const { return m_mainForExpand; }

    QString cameraId() const { return m_cameraId; }
    QString title() const { return m_title; }
    bool isOffline() const { return m_offline; }
    bool isStarted() const { return m_started; }
    bool isSuspended() const { return m_suspended; }
    bool useMain() const { return m_useMain; }
    bool isFailed() const { return m_failed; }
    // Pictures come: the first one since the last start, or since the player
    // last lost the stream, has been shown.
    bool showsPictures() const { return m_showing; }
    // Started, not failed, and no picture yet: the stream is being opened or
    // the player tries to get it back.
    bool awaitsPictures() const { return m_waiting.has_value(); }
    bool hasAudio() const { return m_hasAudio; }
    QString url() const { return m_url; }
    video::FfmpegPlayer* player() const { return m_player; }
    video::VideoStage* videoStage() const { return m_stage; }
    // The tile's own slow retries after a failure; its `due` is for the wall
    // that holds the tile, which starts it again through its start queue.
    wall::VideoWall::TileRetry* retry() const { return m_retry; }

Q_SIGNALS:
    // The first picture since the last start, or since the player last lost
    // the stream: whatever carries it answers again.
    void showingPictures();
    void overloaded();
    void openRequested(const QString& cameraId);
    void clicked(const QString& cameraId);
    void listenToggled(const QString& cameraId, bool on);
    void removeRequested(const QString& cameraId);
    void expandRequested(CameraTile* tile);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // Enter and Space on the tile itself do what a double-click does.
    void keyPressEvent(QKeyEvent* event) override;

private:
    friend struct CameraTileTestAccess;

    QPushButton* overlayButton(const QString& tooltip, int iconKind);
    void ensureOverlays();
    void ensureToast();
    void showListening(bool on);
    void restart();
    void chooseQuality(bool main);
    // Stop without touching the player: state, dot and the server stream.
    void release();
    void play();
    void sizePlayer();
    CameraTileRules::Overlays overlays() const;
    // The titles of the other tiles beside it (its parent's), which its own
    // is told apart from where it must be shortened.
    QStringList siblingTitles() const;
    // The failure's word in the badge, where the picture has no room to say it.
    void updateState();
    // Shows a message on the stage in the form that fits the tile.
    void say(const QString& headline, const QString& detail);
    // Waiting for a picture (CameraTileRules::waitView): begun when the
    // player is handed the stream, when a tick finds the picture stopped or
    // when the player says it tries again; ended by a picture. Each tick
    // (they run from the hand-over to a failure or a stop, pictures or not)
    // says how long, and the last one gives up.
    void beginWait(CameraTileRules::Waiting what, const QString& why = QString());
    // Ends the waiting and the ticks: a failure, a stop or a suspension.
    void endWait();
    void waitTick();
    void pictureShown();

    QString m_cameraId;
    QString m_title;
    QStringList m_wallTitles;
    bool m_offline = false;
    bool m_started = false;
    bool m_suspended = false;
    bool m_mainForExpand = false;
    QString m_url;
    bool m_useMain = true;
    bool m_checkedMain = true; // the half of the switch that shows checked
    bool m_failed = false;
    bool m_hasAudio = false;
    bool m_hovered = false;
    bool m_showing = false;
    LivePictures::Mark m_live; // set with m_showing (setShowing)
    void setShowing(bool on);
    std::optional<CameraTileRules::Waiting> m_waiting;
    QString m_waitWhy;
    qint64 m_waitSinceMs = 0; // monotonic: the hand-over or the last picture
    QTimer m_waitTimer;
    ui::PictureWatch m_pictures;
    // The pointer is over the tile or the keyboard focus is within it.
    bool showsControls() const;
    bool m_expanded = false;
    // Each start takes a ticket; an answer to an earlier one is dropped.
    core::TicketDesk m_startAttempts;
    QPointer<api::LiveStreamService> m_streams;

    video::VideoStage* m_stage = nullptr;
    video::FfmpegPlayer* m_player = nullptr;
    QWidget* m_badge = nullptr;
    PulseDot* m_dot = nullptr;
    QLabel* m_nameLabel = nullptr;
    QLabel* m_stateLabel = nullptr;
    ui::TileFault m_fault = ui::TileFault::Failed;
    // The overlays are made when first needed (ensureOverlays, ensureToast).
    QPushButton* m_listenButton = nullptr;
    QPushButton* m_snapshotButton = nullptr;
    QPushButton* m_expandButton = nullptr;
    QPushButton* m_openButton = nullptr;
    QPushButton* m_removeButton = nullptr;
    QFrame* m_qualityBox = nullptr;
    QPushButton* m_mainButton = nullptr;
    QPushButton* m_subButton = nullptr;
    QPushButton* m_retryButton = nullptr;
    QLabel* m_toastLabel = nullptr;
    QTimer m_toastTimer;
    wall::VideoWall::TileRetry* m_retry = nullptr;
};

} // namespace kvr::view
