#pragma once

// One camera of the native live and playback wall: a rounded video surface
// playing one channel of one native device straight from the device over
// RTSP, with a badge (status dot, camera name, device name), overlay buttons
// while the pointer is over it, a Main/Sub switch, "Try again" after a
// failure and short toasts. It turns the player's reports into plain-language
// states and knows nothing of the wall around it.

#include "app/ui/TileWord.h"

#include <QDateTime>
#include <QFrame>
#include <QImage>
#include <QString>
#include <QStringList>

class QButtonGroup;
class QLabel;
class QPushButton;
class QTimer;
namespace kvr::screens::NativeStyle {
class DiscDot;
} // namespace kvr::screens::NativeStyle
namespace kvr::services::Native {
struct Device;
} // namespace kvr::services::Native
namespace kvr::video {
class FfmpegPlayer;
class VideoStage;
} // namespace kvr::video
namespace kvr::wall::VideoWall {
class TileRetry;
} // namespace kvr::wall::VideoWall

namespace kvr::live {

class VmsTile : public QFrame {
    Q_OBJECT
public:
    VmsTile(const QString& deviceId, int channel, QWidget* parent = nullptr);
    ~VmsTile() override;

    QString deviceId() const { return m_deviceId; }
    int channel() const { return m_channel; }
    // "<device id>#<channel>".
    QString key() const;
    QString name() const { return m_name; }

    // Starts now, on Main (true) or Sub.
    void start(bool main);
    // Starts through the per-device pacing (80 ms live, 300 ms playback
    // between starts of one device's streams).
    void startPaced(bool main);
    void setLive();
    // The next start plays the recording from `from` to `to` (device time).
    void setPlayback(const QDateTime& from, const QDateTime& to);
    // Stops and waits for the player.
    void stop();
    // Stops without waiting for the player.
    void requestStop();
    // Stops every tile of a page or wall: all players are told at once and
    // their threads end side by side; returns when all have ended.
    static void stopAll(const QList<VmsTile*>& tiles);
    void showIdle(const QString& headline, const QString& detail);
    void setFpsCap(double fps);
    // False: software decoding; true: as the application setting allows.
    void setHardwareDecode(bool on);
    void setFocusedLook(bool focused);
    void setRemovable(bool removable);
    void markPlaying();
    // `cause`: the player's own words, logged beside the plain ones shown.
    void fail(const QString& detail, const QString& headline = QString(), const QString& cause = QString());
    void toast(const QString& text);
    void saveSnapshot(const QImage& image);
    void updateButtons();
    void layoutOverlays();
    void nameTheDot();
    // The titles of the cameras of the wall it is on, where that wall has
    // pages ("<device> · <camera>", LiveWallRules::wallTitles): where
    // another recorder's camera of its name is among them, it names its
    // recorder too, as it would beside that camera.
    void setWallTitles(const QStringList& titles);

    // State, for the page and for tests.
    bool isMain() const { return m_main; }
    bool isPlaying() const { return m_playing; }
    bool isFailed() const { return m_failed; }
    bool isRunning() const { return m_running; }
    bool isFocused() const { return m_focused; }
    bool isRemovable() const { return m_removable; }
    bool isPacing() const;
    // The wait of a paced start still pending, in ms; 0 when none.
    int pacingWaitMs() const;
    QDateTime playbackFrom() const { return m_from; }
    QDateTime playbackTo() const { return m_to; }
    video::FfmpegPlayer* player() const { return m_player; }
    video::VideoStage* stage() const { return m_stage; }
    QPushButton* retryButton() const { return m_retryButton; }
    QPushButton* focusButton() const { return m_focusButton; }
    QPushButton* snapshotButton() const { return m_snapshotButton; }
    QPushButton* removeButton() const { return m_removeButton; }
    QPushButton* mainButton() const { return m_mainButton; }
    QPushButton* subButton() const { return m_subButton; }
    QWidget* streamSwitch() const { return m_switch; }
    QLabel* toastLabel() const { return m_toast; }
    QLabel* nameLabel() const { return m_nameLabel; }
    QLabel* deviceLabel() const { return m_deviceLabel; }
    QTimer* watchdog() const { return m_watchdog; }
    // Ticks every second while the tile runs: the picture watch and the
    // waiting's count (see watchPictures).
    QTimer* pictureTick() const { return m_pictureTick; }
    // The tile's own slow retries after a live failure; its `due` is for the
    // wall that holds the tile, which starts it again through its pacing.
    wall::VideoWall::TileRetry* retry() const { return m_retry; }
    int discState() const;

Q_SIGNALS:
    void expandRequested(VmsTile* tile);
    void removeRequested(const QString& key);
    void position(double seconds);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // Enter and Space on the tile itself do what a double-click does.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPushButton* overlayButton(const QString& text, int iconKind);
    void connectPlayer();
    void onStatus(const QString& headline, const QString& detail);
    void onOverloaded();
    void onOpened();
    void onWatchdog();
    // Each tick: a picture that stopped is said within seconds, with the
    // time since the last one, and a tile still loading says how long it
    // has waited; the player's own reconnecting is left to say its attempts.
    void watchPictures();
    void pictureShown();
    void requestSnapshot();
    void restart(); // the user's "Try again"
    void halt();    // stops pacing, running and the watchdog
    void showMessage(const QString& headline, const QString& detail);
    void storeTargetSize();
    QString logLabel() const;
    // "<device> · <camera>": what it is told apart by where its camera's name
    // alone does not tell it.
    QString title() const;
    static QString retryText();
    // "Try again" in one of its looks; measured once for each.
    enum class RetryLook : quint8 { Full, Compact, Icon };
    void setRetryLook(RetryLook look);
    QSize retryHint(RetryLook look);
    // The other tiles beside it (its parent's), which its name is told apart
    // from where it must be shortened.
    QList<const VmsTile*> siblings() const;
    // The failure's word in the badge, where the picture has no room to say it.
    void updateState();
    // The pointer is over the tile or the keyboard focus is within it.
    bool showsControls() const;

    const QString m_deviceId;
    const int m_channel;
    bool m_main = false;
    bool m_playing = false;
    bool m_failed = false;
    bool m_running = false;
    bool m_hovered = false;
    bool m_focused = false;
    bool m_removable = true;
    bool m_playback = false;
    bool m_showsPicture = false;
    QDateTime m_from;
    QDateTime m_to;
    QString m_name;
    QString m_deviceName;
    // The camera has a name of its own: its channel's number shows beside it
    // (where the name keeps its room).
    bool m_channelNamed = false;
    // A failure's word would leave the name its room beside it.
    bool m_wordFits = true;
    QString m_host; // the address the stream is played from
    bool m_pacedMain = false;
    ui::TileFault m_fault = ui::TileFault::Failed;
    QSize m_retryFull;    // "Try again" at its full size
    QSize m_retryCompact; // and a size smaller
    RetryLook m_retryLook = RetryLook::Full;
    // The failure the overlays were last laid out for: "Try again" takes
    // room of the badge on a small tile.
    bool m_laidFailed = false;
    bool m_retryRoom = true; // the tile has room for a form of "Try again"
    QStringList m_wallTitles;
    bool m_namedElsewhere = false; // another recorder's camera of its name is on the wall
    // What the tile waits for, while it runs: none (pictures come), its
    // first picture, the next one since its picture stopped, or the
    // player's restart.
    enum class Wait : quint8 { None, Loading, Stalled, Reconnecting };
    Wait m_wait = Wait::None;
    qint64 m_startedMs = 0; // monotonic
    ui::PictureWatch m_pictures;

    video::VideoStage* m_stage = nullptr;
    QWidget* m_badge = nullptr;
    screens::NativeStyle::DiscDot* m_dot = nullptr;
    QLabel* m_channelLabel = nullptr;
    QLabel* m_stateLabel = nullptr;
    QLabel* m_nameLabel = nullptr;
    QLabel* m_deviceLabel = nullptr;
    QPushButton* m_focusButton = nullptr;
    QPushButton* m_snapshotButton = nullptr;
    QPushButton* m_removeButton = nullptr;
    QFrame* m_switch = nullptr;
    QButtonGroup* m_switchGroup = nullptr;
    QPushButton* m_subButton = nullptr;
    QPushButton* m_mainButton = nullptr;
    QPushButton* m_retryButton = nullptr;
    QLabel* m_toast = nullptr;
    QTimer* m_toastTimer = nullptr;
    QTimer* m_watchdog = nullptr;
    QTimer* m_pictureTick = nullptr;
    QTimer* m_pacing = nullptr;
    wall::VideoWall::TileRetry* m_retry = nullptr;
    video::FfmpegPlayer* m_player = nullptr;
};

} // namespace kvr::live
