#pragma once

#include "server/shell/ShellPorts.h"

#include <QLabel>
#include <QStringList>

// Stand-ins for the stage, the camera wall and the video wall that write down
// what the main window asked of them.
namespace shelltest {

class FakeStage final : public kvr::shell::StagePort {
public:
    QStringList log;
    Mode current = Mode::Live;
    // Tickets of the requests a test makes in the stage's name; an answer
    // that comes back with one no longer current is logged as late.
    kvr::core::TicketDesk asks;

    QWidget* page() override { return m_page ? m_page : (m_page = new QLabel(QStringLiteral("stage"))); }
    Mode mode() const override { return current; }
    // "live <title> [url|-][ offline]"
    void openLive(const QString& title, const QString& url, bool offline) override
    {
        current = Mode::Live;
        log << QStringLiteral("live %1 [%2]%3").arg(title, url.isEmpty() ? "-" : "url", offline ? " offline" : "");
    }
    void stopPlayback() override
    {
        log << QStringLiteral("stop");
        Q_EMIT stopped();
    }
    void prepareDevice(const QString& title) override
    {
        current = Mode::DevicePlayback;
        log << QStringLiteral("device ") + title;
    }
    void prepareCloud(const QString& title, const QList<QDate>& days) override
    {
        current = Mode::CloudPlayback;
        log << QStringLiteral("cloud %1 %2 days").arg(title).arg(days.size());
    }
    void playUrl(const QString&) override { log << QStringLiteral("play url"); }
    // "[late ]playlist <the address it was fetched from>"
    void playPlaylist(const QByteArray&, const QUrl& source, const kvr::core::RequestTicket& asked) override
    {
        log << lateMark(asked) + QStringLiteral("playlist ")
                + source.toString(QUrl::RemoveAuthority | QUrl::RemoveScheme);
    }
    void showError(const QString& headline, const QString& detail, bool retry) override
    {
        log << QStringLiteral("error %1 | %2%3").arg(headline, detail, retry ? " | retry" : "");
    }
    // "[late ]days <count>"
    void addDeviceDays(const QList<QDate>& days, const kvr::core::RequestTicket& asked) override
    {
        log << lateMark(asked) + QStringLiteral("days %1").arg(days.size());
    }
    void setDeviceCoverage(const QDate&, const QList<std::pair<double, double>>& blocks, bool supported) override
    {
        log << QStringLiteral("coverage %1 %2").arg(blocks.size()).arg(QString::number(supported));
    }
    void setMainStream(bool main) override { log << QStringLiteral("main ") + QString::number(main); }
    void suspendLive() override { log << QStringLiteral("suspend"); }
    void resumeLive() override { log << QStringLiteral("resume"); }
    void setFullscreen(bool on) override { log << QStringLiteral("fullscreen ") + QString::number(on); }

private:
    static QString lateMark(const kvr::core::RequestTicket& asked)
    {
        return asked.current() ? QString() : QStringLiteral("late ");
    }

    QWidget* m_page = nullptr;
};

class FakeWall final : public kvr::shell::WallPort {
public:
    QStringList log;
    QString title;
    QList<kvr::view::WallCamera> cameras;

    QWidget* page() override { return m_page ? m_page : (m_page = new QLabel(QStringLiteral("wall"))); }
    void openCameras(const QString& t, const QList<kvr::view::WallCamera>& c) override
    {
        title = t;
        cameras = c;
        log << QStringLiteral("open %1 (%2)").arg(t).arg(c.size());
    }
    void stopAll() override
    {
        cameras.clear();
        log << QStringLiteral("stop");
    }
    void suspendAll() override { log << QStringLiteral("suspend"); }
    void resumeAll() override { log << QStringLiteral("resume"); }
    void nextPage() override { log << QStringLiteral("next"); }
    void previousPage() override { log << QStringLiteral("previous"); }
    void setFullscreen(bool on) override { log << QStringLiteral("fullscreen ") + QString::number(on); }
    QStringList cameraIds() const override
    {
        QStringList ids;
        for (const kvr::view::WallCamera& c : cameras)
            ids << c.id;
        return ids;
    }
    void setCanSavePreset(bool on) override { log << QStringLiteral("can save ") + QString::number(on); }

private:
    QWidget* m_page = nullptr;
};

class FakeVideoWall final : public kvr::shell::VideoWallPort {
public:
    bool isRunning = false;
    int windows = 0;
    QString source;
    int stops = 0;
    int setups = 0;
    bool running() const override { return isRunning; }
    int openWindows() const override { return windows; }
    QString sourceId() const override { return source; }
    void stop() override
    {
        ++stops;
        isRunning = false;
        windows = 0;
        Q_EMIT runningChanged(false);
    }
    void openSetup(QWidget*) override { ++setups; }
};

} // namespace shelltest
