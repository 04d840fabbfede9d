#pragma once

#include "app/core/RequestTicket.h"
#include "app/ui/Fitting.h"
#include "server/api/ApiTypes.h"
#include "server/view/CloudPlaylist.h"
#include "server/view/LivePictures.h"
#include "server/view/StageRules.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <utility>

class QButtonGroup;
class QComboBox;
class QDateEdit;
class QFrame;
class QLabel;
class QPushButton;
class QTimeEdit;
namespace kvr::ui {
class TimelineBar;
} // namespace kvr::ui
namespace kvr::video {
class FfmpegPlayer;
class VideoStage;
} // namespace kvr::video

namespace kvr::view {

class ControlBar;
class PulseDot;

// The server-mode page that plays one camera: live, from the recorder
// ("device playback") or from the cloud archive ("cloud playback"). It never
// calls the server: it emits requests, and its owner answers by calling its
// operations with what the server returned. A request whose answer may come
// late carries a ticket, which the owner hands back with the answer: an answer
// whose ticket has lapsed (a later request of its kind, another mode, a stop)
// is dropped.
//
// Every date and time of day it shows or sends is IST (a fixed +05:30).
class StagePages : public QWidget {
    Q_OBJECT
public:
    using Mode = StageRules::Mode;
    static constexpr Mode LiveView = Mode::LiveView;
    static constexpr Mode DevicePlayback = Mode::DevicePlayback;
    static constexpr Mode CloudPlayback = Mode::CloudPlayback;

    // Where the player gets the access token for the server's streams, and
    // the only host it may send it to: read at every start, since the token
    // is renewed while the stage plays. None: streams are opened without one.
    using StreamAccessSource = std::function<api::StreamAccess()>;

    explicit StagePages(QWidget* parent = nullptr, StreamAccessSource access = {});
    ~StagePages() override;

    Mode mode() const { return m_mode; }
    // Whether the player runs.
    bool isOpen() const;

    // ---- Live view ------------------------------------------------------
    // Live view of a camera: offline shows "Offline"; an empty address waits
    // for the owner's playUrl or showError; an address plays.
    void openLive(const QString& title, const QString& url, bool offline);
    // Plays a resolved address in the current mode.
    void playUrl(const QString& url);
    // Stops the player and shows the failure; "Try again" only when asked.
    void showError(const QString& headline, const QString& detail, bool retryVisible);
    // Ends whatever plays, leaves full screen and emits stopped.
    void stopPlayback();
    void setFullscreen(bool on);
    // The Main/Sub choice of the next live start; restarts nothing.
    void setMainStream(bool main);
    bool mainStream() const { return m_mainStream; }
    // Around a minimised window: the player stops, the server stream stays.
    void suspendLive();
    void resumeLive();

    // ---- Device playback and day navigation ---------------------------------
    void prepareDevice(const QString& title);
    // Marks days with recordings: the answer to deviceMonthRequested, taken
    // only while its ticket is current (the latest month asked for, in this
    // device playback).
    void addDeviceDays(const QList<QDate>& days, const core::RequestTicket& asked);
    void setDeviceCoverage(const QDate& date, const QList<std::pair<double, double>>& blocks, bool known);
    void startDay(const QDate& date, double fromSecond);
    double snapToFootage(double second) const;
    void jumpTo(double second);
    void onTimelineSeek(double second);
    void onPosition(double mediaSeconds);

    // ---- Cloud playback --------------------------------------------------------
    void prepareCloud(const QString& title, const QList<QDate>& days);
    // Plays a day's playlist fetched for playCloud, taken only while its
    // ticket is current: the latest day asked for, still awaited in this
    // cloud playback. `source` is the address the playlist was fetched from:
    // relative segment addresses are read against it.
    void playPlaylist(const QByteArray& playlist, const QUrl& source, const core::RequestTicket& asked);
    void startCloudFrom(double second);
    double elapsedToDay(double elapsed) const;
    double dayToElapsed(double second) const;

    // The parts other code looks at.
    video::FfmpegPlayer* player() const { return m_player; }
    video::VideoStage* videoStage() const { return m_stage; }
    ui::TimelineBar* timeline() const { return m_timeline; }
    ControlBar* controlBar() const { return m_bar; }
    QString title() const { return m_title; }
    double playheadSecond() const { return m_playheadSecond; }
    QDate shownDay() const;

    bool eventFilter(QObject* watched, QEvent* event) override;

protected:
    // A stage that becomes the page shown shows its control strip, which
    // then hides as it does after any movement of the pointer.
    void showEvent(QShowEvent* event) override;

public Q_SLOTS:
    // Saves the picture on screen as a PNG under Pictures/Kavira.
    void saveSnapshot();

Q_SIGNALS:
    void stopped();
    void playDevice(const QDateTime& start, const QDateTime& end);
    // Answered with playPlaylist, which gets the ticket back.
    void playCloud(const QDate& date, const QString& start, const QString& end, const core::RequestTicket& asked);
    void retryLive();
    // Answered with addDeviceDays, which gets the ticket back.
    void deviceMonthRequested(int year, int month, const core::RequestTicket& asked);
    void deviceDayRequested(const QDate& date);
    void streamToggled(bool mainStream);
    void fullscreenToggled(bool on);

private:
    friend struct StagePagesTestAccess;

    void buildWidgets();
    void connectPlayer();
    void setMode(Mode mode, const QString& title);
    void beginPlay(const QString& text);
    void showMessage(const QString& headline, const QString& detail);
    void play(const QString& url, const QByteArray& playlist, double start);
    void stopPlayerNow();
    void pokeControls();
    void onPicture();
    void onStatus(const QString& headline, const QString& detail);
    void applySpeed();
    void toggleSound();
    void togglePause();
    void setPauseLook(bool paused);
    void chooseStream(bool main);
    void onDayChanged(const QDate& date);
    void stepDay(int days);
    void goToday();
    void setPickerDay(const QDate& day);
    void raisePickerMaximum();
    void showTime(double second);
    void askMonth(int year, int month);
    void clearDayFormats();
    void markDays(const QList<QDate>& days);
    void parsePlaylist(const QByteArray& playlist, const QUrl& source);

    Mode m_mode = Mode::LiveView;
    // Widgets (owned through parenthood).
    video::VideoStage* m_stage = nullptr;
    video::FfmpegPlayer* m_player = nullptr;
    ControlBar* m_bar = nullptr;
    PulseDot* m_dot = nullptr;
    QLabel* m_badge = nullptr;
    ui::ElidedLabel* m_titleLabel = nullptr;
    QFrame* m_dayCard = nullptr;
    QPushButton* m_prevDay = nullptr;
    QDateEdit* m_dayPicker = nullptr;
    QPushButton* m_nextDay = nullptr;
    QPushButton* m_today = nullptr;
    QPushButton* m_playFromStart = nullptr;
    QWidget* m_timeControls = nullptr;
    QPushButton* m_back = nullptr;
    QPushButton* m_forward = nullptr;
    QTimeEdit* m_timeEdit = nullptr;
    QPushButton* m_go = nullptr;
    QWidget* m_speedControls = nullptr;
    QComboBox* m_speedBox = nullptr;
    ui::TimelineBar* m_timeline = nullptr;
    QFrame* m_segWrap = nullptr;
    QPushButton* m_mainButton = nullptr;
    QPushButton* m_subButton = nullptr;
    QButtonGroup* m_streamGroup = nullptr;
    QPushButton* m_pauseButton = nullptr;
    QLabel* m_timeLabel = nullptr;
    QPushButton* m_retry = nullptr;
    QPushButton* m_snapshotButton = nullptr;
    QPushButton* m_soundButton = nullptr;
    QPushButton* m_fullscreenButton = nullptr;
    QPushButton* m_stopButton = nullptr;

    QString m_title;
    double m_playheadSecond = 0;
    QSet<QDate> m_deviceDays;
    FootageBlocks m_coverage;
    bool m_coverageKnown = false;
    QDate m_coverageDay;
    QTimer m_hideTimer;
    bool m_barByKeys = false; // the keyboard brought the focus onto the controls
    QMetaObject::Connection m_focusWatch;
    double m_positionBase = -1;
    double m_elapsedOffset = 0;
    double m_pendingStart = 0;
    double m_dayOffset = 0;
    bool m_suppressDayChange = false;
    CloudPlaylist m_playlist; // header, read segments and every entry
    bool m_playing = false;
    LivePictures::Mark m_live; // a live picture shows
    bool m_suspended = false;
    QString m_liveUrl;
    bool m_fullscreen = false;
    bool m_mainStream = true;
    QSet<QDate> m_cloudDays;

    StreamAccessSource m_access;
    // The months of recording days asked for in this device playback.
    core::TicketDesk m_months;
    // The day's playlist awaited in this cloud playback: a round is open from
    // playCloud until its playlist is taken, or the stage turns to something
    // else.
    core::TicketDesk m_playlists;
};

} // namespace kvr::view
