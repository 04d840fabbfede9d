#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kvr::video {

struct Playback;

// Starts the decode thread of `playback`. When the loop ends the thread tells
// its player, if there still is one, how it ended, then the reaper.
std::thread startDecodeThread(std::shared_ptr<Playback> playback);

// Asks the decode thread of `playback` to end and lets go of it: it is joined
// here when it ends within `wait`, else by the reaper once it has.
void releaseDecodeThread(std::thread& thread, const std::shared_ptr<Playback>& playback,
                         std::chrono::milliseconds wait);

// Joins decode threads that players let go of, once they have ended. Lives on
// the GUI thread for the whole process (it is never destroyed, so an ending
// thread may always post to it); at exit it gives threads still running a
// moment, then lets them go with the process.
class ThreadReaper : public QObject {
public:
    static ThreadReaper& instance();

    void adopt(std::thread thread, std::shared_ptr<Playback> playback);
    // Called by an ending thread after its last act.
    void ended();
    // Called on the GUI thread.
    void reapEnded();
    int pending();

private:
    ThreadReaper();
    void atExit();
    // A decode thread ended: what it freed is given back to the system a
    // little later, once for all the threads that end meanwhile. The C
    // library keeps freed pages in the heap of the thread that used them, so
    // streams that keep restarting would otherwise leave a growing share of
    // the process's memory held by heaps of threads long gone.
    void scheduleGiveBack();

    struct Entry {
        std::thread thread;
        std::shared_ptr<Playback> playback;
    };
    std::mutex m_mutex;
    std::vector<Entry> m_threads;
    QTimer m_giveBack;
};

} // namespace kvr::video
