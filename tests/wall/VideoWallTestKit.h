#pragma once

// What the wall's suites and benchmark share: a camera source whose tiles
// are plain widgets, timers that run on the test clock, and a virtual X
// server of the suite's own whose monitors come and go with xrandr.

#include "tests/support/TestKit.h"
#include "wall/Source.h"
#include "wall/Timers.h"

#include <QHash>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QSet>
#include <QStringList>

#include <map>
#include <memory>

namespace walltest {

// A tile of the test source: the camera id as text, what was asked of it as
// plain members.
class TestTile final : public QLabel {
    Q_OBJECT
public:
    TestTile(const QString& cameraId, QWidget* parent, std::function<void()> onExpand)
        : QLabel(cameraId, parent),
          m_id(cameraId),
          expand(std::move(onExpand))
    {
        setObjectName(QStringLiteral("TestTile"));
        setAlignment(Qt::AlignCenter);
        setMinimumSize(8, 8);
    }

    QString m_id;
    // What the user's double-click does.
    std::function<void()> expand;
    bool m_main = false;
    kvr::wall::VideoWall::TileRetry* m_retry = nullptr;
};

// A camera source without video. Starts either report at once (like the
// native source) or wait until the test answers them (like the server source
// waiting for its server).
class TestSource final : public kvr::wall::VideoWall::Source {
public:
    enum class Answer { AtOnce, WhenTold };

    explicit TestSource(QString id = QStringLiteral("test"), QList<kvr::wall::VideoWall::Camera> cameras = {})
        : m_id(std::move(id)),
          m_cameras(std::move(cameras))
    {}

    QString id() const override { return m_id; }
    QString title() const override { return QStringLiteral("Test cameras"); }
    QList<kvr::wall::VideoWall::Camera> cameras() const override { return m_cameras; }
    QWidget* makeTile(const QString& cameraId, QWidget* parent, std::function<void()> onExpand) override;
    void tune(QWidget* tile, int shownOnDisplay, int totalOnWall) override;
    void start(QWidget* tile, bool main, std::function<void()> started) override;
    void stop(QWidget* tile) override { runningIds.remove(static_cast<TestTile*>(tile)->m_id); }
    void requestStop(QWidget*) override {}
    kvr::wall::VideoWall::TileRetry* tileRetry(QWidget* tile) override { return static_cast<TestTile*>(tile)->m_retry; }
    QString tileStyle() const override { return m_style; }
    int maxStartsInFlight() override { return m_maxStarts; }
    int startReleaseDelayMs() override { return m_releaseDelayMs; }

    QString m_id;
    QList<kvr::wall::VideoWall::Camera> m_cameras;
    QString m_style;
    int m_maxStarts = 1000;
    int m_releaseDelayMs = 0;
    Answer m_answer = Answer::AtOnce;
    // Tiles carry a TileRetry, as the sources' tiles that try again by themselves.
    bool m_tilesRetry = false;

    // Starts and load hints, in order: "start a main", "tune a 4 8".
    QStringList calls;
    // Starts not answered yet (Answer::WhenTold), oldest first.
    QList<std::function<void()>> unanswered;
    QList<QPointer<TestTile>> madeTiles;
    // Cameras of tiles started and not stopped since.
    QSet<QString> runningIds;
    // Answers the oldest unanswered start.
    void answerNext();
};

// A drag from outside the widget entering it, moving to `pos` and dropping
// there, as the platform delivers one. True when the drop was accepted.
bool dragAndDrop(QWidget* target, const QPointF& pos, const QMimeData& data, Qt::DropAction action = Qt::CopyAction);

// Cameras "cam1".."camN" on two devices of one site.
QList<kvr::wall::VideoWall::Camera> someCameras(int n);

// Timers that fire only when the test clock moves on.
class ManualTimers final : public kvr::wall::VideoWall::Timers {
public:
    void after(std::chrono::milliseconds delay, QObject* context, std::function<void()> fn) override;
    // Moves the test clock on and fires every timer due by then, in order of
    // their due time (timers armed meanwhile included).
    void advance(qint64 ms);

private:
    kvrtest::TestClock m_clock;
    // By due time; timers due at the same time in the order they were armed.
    std::multimap<qint64, std::pair<QPointer<QObject>, std::function<void()>>> m_pending;
};

// A virtual X server of the suite's own, so its monitors can be plugged and
// unplugged without disturbing anything else on the machine. Start it before
// the application object exists.
class VirtualDisplay {
public:
    // Starts Xvfb with one screen of the given size and points DISPLAY and
    // the platform at it. Empty, or why it cannot run.
    QString start(int width, int height);
    ~VirtualDisplay();
    // xrandr --setmonitor / --delmonitor. The first monitor takes the
    // server's output so the whole-screen monitor goes away.
    bool addMonitor(const QString& name, const QRect& geometry, bool takeOutput);
    bool removeMonitor(const QString& name) { return xrandr({QStringLiteral("--delmonitor"), name}); }

private:
    static bool xrandr(const QStringList& arguments);
    QProcess m_server;
};

// The connected display with that platform name; null when none is.
QScreen* screenNamed(const QString& name);

// The main() of a suite on a virtual X server of its own with two monitors
// of 1920 x 1080 side by side, "L" (primary) and "R", on a screen 3840 wide
// and `height` high. `run` runs the suite once the application exists.
int runOnTwoMonitors(int argc, char** argv, const char* suite, int height,
                     const std::function<int(VirtualDisplay&)>& run);

} // namespace walltest
