// The stage, the camera wall and the video wall of the program's main window.
#include "server/shell/ShellHandle.h"
#include "server/shell/ShellWindow.h"

#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

ShellHandle::ShellHandle(QWidget* parent) : QWidget(parent)
{
    setFixedWidth(6);
    setCursor(Qt::SplitHCursor);
    setAccessibleName(QStringLiteral("Resize the catalog"));
    setToolTip(QStringLiteral("Drag to resize the catalog"));
}

void ShellHandle::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = true;
    m_pressX = event->globalPosition().x();
    Q_EMIT dragStarted();
}

void ShellHandle::mouseMoveEvent(QMouseEvent* event)
{
    if (m_pressed)
        Q_EMIT dragged(int(event->globalPosition().x() - m_pressX));
}

void ShellHandle::mouseReleaseEvent(QMouseEvent*)
{
    m_pressed = false;
}

namespace {

// Until the viewing screens are part of the program, the stage and the wall
// pages say so instead of playing.
QWidget* unavailablePage(const QString& text)
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("ContentPad"));
    page->setAttribute(Qt::WA_StyledBackground);
    auto* v = new QVBoxLayout(page);
    auto* label = new QLabel(text, page);
    label->setObjectName(QStringLiteral("Muted"));
    label->setAlignment(Qt::AlignCenter);
    v->addWidget(label);
    return page;
}

class UnavailableStage final : public StagePort {
public:
    QWidget* page() override
    {
        if (!m_page)
            m_page = unavailablePage(QStringLiteral("Video is not available in this build."));
        return m_page;
    }
    Mode mode() const override { return m_mode; }
    void openLive(const QString&, const QString&, bool) override { m_mode = Mode::Live; }
    void stopPlayback() override { Q_EMIT stopped(); }
    void prepareDevice(const QString&) override { m_mode = Mode::DevicePlayback; }
    void prepareCloud(const QString&, const QList<QDate>&) override { m_mode = Mode::CloudPlayback; }
    void playUrl(const QString&) override {}
    void playPlaylist(const QByteArray&) override {}
    void showError(const QString&, const QString&, bool) override {}
    void addDeviceDays(const QList<QDate>&) override {}
    void setDeviceCoverage(const QDate&, const QList<std::pair<double, double>>&, bool) override {}
    void setMainStream(bool) override {}
    void suspendLive() override {}
    void resumeLive() override {}
    void setFullscreen(bool) override {}

private:
    QWidget* m_page = nullptr;
    Mode m_mode = Mode::Live;
};

class UnavailableWall final : public WallPort {
public:
    QWidget* page() override
    {
        if (!m_page)
            m_page = unavailablePage(QStringLiteral("The camera wall is not available in this build."));
        return m_page;
    }
    void openCameras(const QString&, const QList<WallCamera>& cameras) override { m_cameras = cameras; }
    void stopAll() override { m_cameras.clear(); }
    void suspendAll() override {}
    void resumeAll() override {}
    void nextPage() override {}
    void previousPage() override {}
    void setFullscreen(bool) override {}
    QStringList cameraIds() const override
    {
        QStringList ids;
        for (const WallCamera& c : m_cameras)
            ids << c.id;
        return ids;
    }
    void setCanSavePreset(bool) override {}

private:
    QWidget* m_page = nullptr;
    QList<WallCamera> m_cameras;
};

class UnavailableVideoWall final : public VideoWallPort {
public:
    bool running() const override { return false; }
    int openWindows() const override { return 0; }
    QString sourceId() const override { return {}; }
    void stop() override {}
    void openSetup(QWidget*) override {}
};

} // namespace

ShellParts makeShellParts(QWidget*)
{
    return {new UnavailableStage, new UnavailableWall, new UnavailableVideoWall};
}
