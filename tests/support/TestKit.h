#pragma once

// The shared kit of every test suite: a private home and settings per test
// process, loopback-only networking, log capture and a settable clock.

#include "app/core/Clock.h"

#include <QApplication>
#include <QDateTime>
#include <QEvent>
#include <QHash>
#include <QMutex>
#include <QPlatformSurfaceEvent>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QWidget>

#include <atomic>

namespace kvrtest {

// Whether a sanitizer's allocator holds freed memory back on purpose: the
// resident size then says nothing of what the code gave back.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitizedHeap = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitizedHeap = true;
#else
inline constexpr bool kSanitizedHeap = false;
#endif
#else
inline constexpr bool kSanitizedHeap = false;
#endif

// A figure of this process's memory from /proc/self/status, in KiB: "VmRSS"
// (resident now) or "VmHWM" (the peak); -1 where the file is missing.
qint64 memoryKiB(const char* field = "VmRSS");
// The resident size now in MiB; negative where it cannot be read.
inline double residentMiB()
{
    return double(memoryKiB()) / 1024.0;
}

// Gives the process a temporary HOME and XDG folders, a unique
// KVR_SETTINGS_APP, server and relay addresses on loopback, and the
// offscreen platform when there is no display. Runs before QApplication.
void prepareEnvironment(const char* suiteName);
// After QApplication exists: application names and the loopback guard.
void prepareApplication();

// The temporary home folder of this test process.
QString homeDir();
// Absolute path of tests/fixtures/<relative>.
QString fixturePath(const QString& relative);
// A TCP port on 127.0.0.1 that is free at the moment of asking.
quint16 freePort();

// Puts the process in namespaces of its own (`cloneFlags`: CLONE_NEWNS,
// CLONE_NEWNET ...): as root at once, otherwise inside a user namespace of
// its own in which it is root. Call before main, while the process has one
// thread. False where the platform gives none (outside Linux, or refused).
bool enterOwnNamespaces(int cloneFlags);

// Any attempt to connect to a host other than loopback aborts the test
// process with a message naming the host. Only client connections are
// checked; servers may listen where they like.
bool isLoopbackHost(const QString& host);

// Collects every Qt message while it lives (and still passes them on).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList messages() const;
    // Messages containing the text.
    QStringList matching(const QString& text) const;
    bool contains(const QString& text) const { return !matching(text).isEmpty(); }
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext& ctx, const QString& msg);
    mutable QMutex mutex;
    QStringList lines;
    QtMessageHandler previous = nullptr;
    LogCapture* outer = nullptr;
};

// Counts the paint events of the widgets it is installed on.
class PaintCounter : public QObject {
public:
    QHash<QObject*, int> counts;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++counts[watched];
        return false;
    }
};

// What becomes of a top-level window's native window while it is watched:
// made anew (its id changes, the old one destroyed), or hidden meanwhile.
class WindowWatch : public QObject {
public:
    explicit WindowWatch(QWidget* window) : m_window(window), m_id(window->winId())
    {
        window->installEventFilter(this);
    }
    // "id kept, hidden 0, surface lost 0" for a window left as it was.
    QString summary() const
    {
        return QStringLiteral("id %1, hidden %2, surface lost %3")
            .arg(m_window && m_window->winId() == m_id ? QStringLiteral("kept") : QStringLiteral("changed"))
            .arg(m_hides)
            .arg(m_surfacesLost);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_window)
            return false;
        if (event->type() == QEvent::Hide)
            ++m_hides;
        else if (event->type() == QEvent::PlatformSurface
                 && static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType()
                     == QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed)
            ++m_surfacesLost;
        return false;
    }

private:
    QPointer<QWidget> m_window;
    WId m_id = 0;
    int m_hides = 0;
    int m_surfacesLost = 0;
};

// A clock that moves only when told; installed as the process clock while
// it lives.
class TestClock final : public kvr::core::Clock {
public:
    explicit TestClock(const QDateTime& startUtc = QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC));
    ~TestClock() override;
    TestClock(const TestClock&) = delete;
    TestClock& operator=(const TestClock&) = delete;

    QDateTime nowUtc() const override;
    qint64 monotonicMs() const override { return mono.load(); }

    void setNowUtc(const QDateTime& t);
    void advanceMs(qint64 ms);
    void advanceSecs(qint64 s) { advanceMs(s * 1000); }

private:
    std::atomic<qint64> wallMs;
    std::atomic<qint64> mono{1'000'000};
};

} // namespace kvrtest

// Use in place of QTEST_MAIN.
#define KVR_TEST_MAIN(TestClass)                                                                                       \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        kvrtest::prepareEnvironment(#TestClass);                                                                       \
        QApplication app(argc, argv);                                                                                  \
        kvrtest::prepareApplication();                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        TestClass tc;                                                                                                  \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
