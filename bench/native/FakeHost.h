#pragma once

// The fake devices of a native benchmark, on a thread of their own, so that
// what they do (a slow drip, a flood, hundreds of connections) does not wait
// for the event loop under measure, as real devices would not.

#include "tests/fixtures/devices/FakeDevice.h"

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>
#include <vector>

namespace benchnative {

class FakeHost {
public:
    FakeHost() : m_anchor(new QObject)
    {
        m_thread.start();
        m_anchor->moveToThread(&m_thread);
    }
    ~FakeHost()
    {
        run([this] {
            m_devices.clear();
            delete m_anchor;
        });
        m_thread.quit();
        m_thread.wait();
    }
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    // Runs the function on the devices' thread and waits for it.
    void run(const std::function<void()>& fn)
    {
        QMetaObject::invokeMethod(
            m_anchor, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
    }
    std::vector<std::unique_ptr<kvrtest::FakeDevice>>& devices() { return m_devices; }

private:
    QThread m_thread;
    QObject* m_anchor;
    std::vector<std::unique_ptr<kvrtest::FakeDevice>> m_devices;
};

} // namespace benchnative
