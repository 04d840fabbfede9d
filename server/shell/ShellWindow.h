#pragma once

#include "app/core/RequestTicket.h"
#include "server/api/ApiTypes.h"
#include "server/shell/ShellPorts.h"

#include <QPointer>
#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class QTimer;
namespace kvr::view {
class FadeStack;
class ResizeHandle;
} // namespace kvr::view

namespace kvr::shell {

class CatalogPane;
class DevicePage;
class HealthPage;

// The views the main window drives besides its own pages: the stage, the
// camera wall and the multi-display video wall. The window owns them.
struct ShellParts {
    StagePort* stage = nullptr;
    WallPort* wall = nullptr;
    VideoWallPort* videoWall = nullptr;
};
// The program's own stage, wall and video wall.
ShellParts makeShellParts(QWidget* parent);

// The main window of server mode: top bar, catalogue tree, drag handle and a
// stack of four pages (device, health, stage, wall). It makes every server
// call the stage needs, loads the catalogue and shows the relay's state.
class ShellWindow : public QWidget {
    Q_OBJECT
public:
    enum Page { DevicePageIndex = 0, HealthPageIndex = 1, StagePageIndex = 2, WallPageIndex = 3 };

    explicit ShellWindow(QWidget* parent = nullptr);
    ShellWindow(ShellParts parts, QWidget* parent);
    ~ShellWindow() override;

    // After sign-in: background checks, organisations, then the catalogue.
    void loadCatalog();
    void loadOrgCatalog(const QList<api::Organisation>& organisations);
    void startBackgroundChecks();
    void refreshStatus();
    // Sites whose devices the server could not give are asked for again on a
    // schedule of their own (ShellRules::reloadDelay), whatever the user may
    // see of the relay's status; a load of the catalogue under way is never
    // taken over: its end arms the schedule again.
    void reloadFailedSites();

    bool vmsAllowed() const;
    bool canUsePresets() const;
    void noAccess();
    // The chosen camera and its device, for a view about to open on them;
    // false (after telling a user without access) when there is none to open.
    bool chosenCamera(const api::Device*& device, const api::Channel*& channel);
    void confirmSignOut();
    void onSessionExpired();
    void openDevice(const QString& deviceId);
    void showHome(const QString& message);

    // Camera actions.
    void startLive(const QString& cameraId, const QString& title);
    void showWall(const QString& title, const QList<view::WallCamera>& cameras);
    void openVideoWall();
    void stopVideoWall();
    void openPresets();
    void savePreset();
    void playPreset(const QString& name, const QList<api::PresetCamera>& cameras);

    // Parts, for tests and the accessibility tree.
    CatalogPane* catalogue() const { return m_catalogue; }
    DevicePage* devicePage() const { return m_devicePage; }
    HealthPage* healthPage() const { return m_healthPage; }
    StagePort* stage() const { return m_stage; }
    WallPort* wall() const { return m_wall; }
    view::FadeStack* pages() const { return m_pages; }
    int currentPage() const;
    QLabel* chip() const { return m_chip; }
    QLabel* organisationLabel() const { return m_orgLabel; }
    QComboBox* organisationChoice() const { return m_orgChoice; }
    QPushButton* presetsButton() const { return m_presetsButton; }
    QPushButton* videoWallButton() const { return m_videoWallButton; }
    QPushButton* settingsButton() const { return m_settingsButton; }
    QPushButton* signOutButton() const { return m_signOutButton; }
    QWidget* handle() const;
    QTimer* statusTimer() const { return m_statusTimer; }
    QTimer* reloadTimer() const { return m_reloadTimer; }
    QString currentDeviceId() const { return m_currentDeviceId; }
    QString currentChannelId() const { return m_currentChannelId; }
    bool liveMain() const { return m_liveMain; }
    // How many catalogue loads sign-ins started in this run.
    int catalogLoads() const { return m_catalogLoads; }

Q_SIGNALS:
    void signedOut();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void build();
    void connectAll();
    void fadeTo(int page);
    void openSettings();
    void organisationActivated(int index);
    void applyChip(bool online, int streams, api::ApiFailure failure);
    // After a load or a reload: the next reload when a site is left failed.
    void scheduleReload();
    // The device and channel chosen (by their ids together: a camera id
    // may repeat under another site's device); null when the catalogue
    // holds them no more.
    api::Device* currentDevice() const;
    api::Channel* currentChannel() const;
    void endSession();
    void stopEverything(ShellRules::Operation operation);
    void stopStreamsAtQuit();
    void updateVideoWallButton();
    void setViewActive(bool on);

    // Camera actions behind the pages' signals.
    void openLiveView();
    void streamToggled(bool mainStream);
    void liveRestart(const QString& cameraId);
    void wallCameraOpened(const QString& cameraId);
    void openDevicePlayback();
    // `asked`: the stage's ticket, handed back with the answer.
    void deviceMonth(int year, int month, const core::RequestTicket& asked);
    void deviceDay(const QDate& day);
    void playDevice(const QDateTime& start, const QDateTime& end);
    void openCloudPlayback();
    void playCloud(const QDate& day, const QString& start, const QString& end, const core::RequestTicket& asked);
    void stageStopped();
    void checkHealth(bool fade);
    void siteWall(const QString& siteId);
    void deviceWall();
    void customWall(const QStringList& channelIds);
    void wallFullscreen(bool on);
    void stageFullscreen(bool on);
    // Leaves the stage or the wall for a new view, by the effects table.
    void prepareView(ShellRules::Operation operation);
    // Answers for the stage are acted on only while the stage still shows
    // what they were asked for.
    core::RequestTicket beginStageRequest();
    bool stageRequestCurrent(const core::RequestTicket& request) const;

    StagePort* m_stage = nullptr;
    WallPort* m_wall = nullptr;
    VideoWallPort* m_videoWall = nullptr;
    CatalogPane* m_catalogue = nullptr;
    DevicePage* m_devicePage = nullptr;
    HealthPage* m_healthPage = nullptr;
    view::FadeStack* m_pages = nullptr;
    QWidget* m_topBar = nullptr;
    view::ResizeHandle* m_handle = nullptr;
    int m_dragStartWidth = 300;
    QLabel* m_avatar = nullptr;
    QLabel* m_orgLabel = nullptr;
    QLabel* m_userName = nullptr;
    QLabel* m_userRole = nullptr;
    QLabel* m_chip = nullptr;
    bool m_minimised = false;
    QComboBox* m_orgChoice = nullptr;
    QPushButton* m_presetsButton = nullptr;
    QPushButton* m_videoWallButton = nullptr;
    QPushButton* m_settingsButton = nullptr;
    QPushButton* m_signOutButton = nullptr;
    QTimer* m_statusTimer = nullptr;
    QTimer* m_reloadTimer = nullptr; // single shot: failed sites asked for again
    int m_reloadTries = 0;           // reloads since the last load that still left a site failed
    // The site list of the last load could not be had: the reload asks for
    // the whole catalogue again (with these organisations still to try).
    struct SiteListRetry {
        bool due = false;
        qint64 askedMs = 0;
        QList<api::Organisation> organisations;
    } m_siteListRetry;
    QString m_currentDeviceId;
    QString m_currentChannelId;
    bool m_liveMain = true;

    // Changes at every sign-out and expiry: answers of an earlier session are dropped.
    core::TicketDesk m_sessions;
    // Changes whenever the stage is given something new to show.
    core::TicketDesk m_stageRequests;
    int m_catalogLoads = 0;
    bool m_catalogLoading = false; // a load, or a reload of sites, is under way
    // A camera wall was opened and has not been stopped or closed since.
    bool m_wallOpen = false;
};

} // namespace kvr::shell
