#pragma once

#include <QObject>

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
    void atExit();

    struct Entry {
        std::thread thread;
        std::shared_ptr<Playback> playback;
    };
    std::mutex m_mutex;
    std::vector<Entry> m_threads;
};

} // namespace kvr::video
