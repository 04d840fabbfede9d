// The program's stage, camera wall and video wall behind the main window's
// interfaces.
#include "app/context/AppContext.h"
#include "server/shell/ShellWindow.h"
#include "server/view/GridPage.h"
#include "server/view/ServerWallSource.h"
#include "server/view/StagePages.h"
#include "wall/Controller.h"
#include "wall/SetupDialog.h"
#include "wall/Source.h"

#include <QPointer>

using namespace kvr::core;
using namespace kvr::wall;
using namespace kvr::context;
using namespace kvr::view;

namespace kvr::shell {

namespace {

class StagePagesPort final : public StagePort {
public:
    // The stage opens the server's streams with the session's token as it
    // is at each start.
    StagePagesPort() : m_stage(new StagePages(nullptr, [] { return AppContext::instance().api.streamAccess(); }))
    {
        connect(m_stage, &StagePages::stopped, this, &StagePort::stopped);
        connect(m_stage, &StagePages::playDevice, this, &StagePort::playDevice);
        connect(m_stage, &StagePages::playCloud, this, &StagePort::playCloud);
        connect(m_stage, &StagePages::retryLive, this, &StagePort::retryLive);
        connect(m_stage, &StagePages::deviceMonthRequested, this, &StagePort::deviceMonthRequested);
        connect(m_stage, &StagePages::deviceDayRequested, this, &StagePort::deviceDayRequested);
        connect(m_stage, &StagePages::streamToggled, this, &StagePort::streamToggled);
        connect(m_stage, &StagePages::fullscreenToggled, this, &StagePort::fullscreenToggled);
    }
    ~StagePagesPort() override
    {
        if (m_stage && !m_stage->parent())
            delete m_stage.data();
    }

    QWidget* page() override { return m_stage; }
    Mode mode() const override
    {
        if (!m_stage)
            return Mode::Live;
        switch (m_stage->mode()) {
        case StageRules::Mode::DevicePlayback:
            return Mode::DevicePlayback;
        case StageRules::Mode::CloudPlayback:
            return Mode::CloudPlayback;
        case StageRules::Mode::LiveView:
            break;
        }
        return Mode::Live;
    }
    void openLive(const QString& title, const QString& url, bool offline) override
    {
        if (m_stage)
            m_stage->openLive(title, url, offline);
    }
    void stopPlayback() override
    {
        if (m_stage)
            m_stage->stopPlayback();
    }
    void prepareDevice(const QString& title) override
    {
        if (m_stage)
            m_stage->prepareDevice(title);
    }
    void prepareCloud(const QString& title, const QList<QDate>& days) override
    {
        if (m_stage)
            m_stage->prepareCloud(title, days);
    }
    void playUrl(const QString& url) override
    {
        if (m_stage)
            m_stage->playUrl(url);
    }
    void playPlaylist(const QByteArray& playlist, const QUrl& source, const RequestTicket& asked) override
    {
        if (m_stage)
            m_stage->playPlaylist(playlist, source, asked);
    }
    void showError(const QString& headline, const QString& detail, bool retry) override
    {
        if (m_stage)
            m_stage->showError(headline, detail, retry);
    }
    void addDeviceDays(const QList<QDate>& days, const RequestTicket& asked) override
    {
        if (m_stage)
            m_stage->addDeviceDays(days, asked);
    }
    void setDeviceCoverage(const QDate& day, const QList<std::pair<double, double>>& blocks, bool supported) override
    {
        if (m_stage)
            m_stage->setDeviceCoverage(day, blocks, supported);
    }
    void setMainStream(bool main) override
    {
        if (m_stage)
            m_stage->setMainStream(main);
    }
    void suspendLive() override
    {
        if (m_stage)
            m_stage->suspendLive();
    }
    void resumeLive() override
    {
        if (m_stage)
            m_stage->resumeLive();
    }
    void setFullscreen(bool on) override
    {
        if (m_stage)
            m_stage->setFullscreen(on);
    }

private:
    QPointer<StagePages> m_stage;
};

class GridPagePort final : public WallPort {
public:
    GridPagePort() : m_grid(new GridPage(nullptr, &AppContext::instance().api))
    {
        connect(m_grid, &GridPage::savePresetRequested, this, &WallPort::savePresetRequested);
        connect(m_grid, &GridPage::closed, this, &WallPort::closed);
        connect(m_grid, &GridPage::cameraOpened, this, &WallPort::cameraOpened);
        connect(m_grid, &GridPage::fullscreenToggled, this, &WallPort::fullscreenToggled);
    }
    ~GridPagePort() override
    {
        if (m_grid && !m_grid->parent())
            delete m_grid.data();
    }

    QWidget* page() override { return m_grid; }
    void openCameras(const QString& title, const QList<WallCamera>& cameras) override
    {
        if (m_grid)
            m_grid->openCameras(title, cameras);
    }
    void stopAll() override
    {
        if (m_grid)
            m_grid->stopAll();
    }
    void suspendAll() override
    {
        if (m_grid)
            m_grid->suspendAll();
    }
    void resumeAll() override
    {
        if (m_grid)
            m_grid->resumeAll();
    }
    void nextPage() override
    {
        if (m_grid)
            m_grid->nextPage();
    }
    void previousPage() override
    {
        if (m_grid)
            m_grid->previousPage();
    }
    void setFullscreen(bool on) override
    {
        if (m_grid)
            m_grid->setFullscreen(on);
    }
    QStringList cameraIds() const override { return m_grid ? QStringList(m_grid->cameraIds()) : QStringList(); }
    void setCanSavePreset(bool on) override
    {
        if (m_grid)
            m_grid->setCanSavePreset(on);
    }

private:
    QPointer<GridPage> m_grid;
};

// The process-wide video wall controller.
class ControllerPort final : public VideoWallPort {
public:
    ControllerPort()
    {
        connect(VideoWall::Controller::instance(), &VideoWall::Controller::runningChanged, this,
                &VideoWallPort::runningChanged);
    }
    bool running() const override { return VideoWall::Controller::instance()->runningFlag(); }
    int openWindows() const override { return VideoWall::Controller::instance()->windowCount(); }
    QString sourceId() const override
    {
        const auto source = VideoWall::Controller::instance()->source();
        return source ? source->id() : QString();
    }
    void stop() override { VideoWall::Controller::instance()->stop(); }
    void openSetup(QWidget* parent) override
    {
        // Window-modal without blocking: the main window's replies and timers
        // go on while the wall is set up.
        auto* dialog = new VideoWall::SetupDialog(std::make_shared<ServerWallSource>(), parent);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowModality(Qt::WindowModal);
        dialog->open();
    }
};

} // namespace

ShellParts makeShellParts(QWidget*)
{
    return {new StagePagesPort, new GridPagePort, new ControllerPort};
}

} // namespace kvr::shell
