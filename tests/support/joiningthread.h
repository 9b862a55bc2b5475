#pragma once

#include <functional>
#include <thread>

// A thread of the test's own (a device, a rescuer) that is joined however the test ends, also
// when a failed check returns early. `release` runs before the join, to let a thread that waits
// for the test go on.
class JoiningThread {
public:
    explicit JoiningThread(std::function<void()> release = {})
        : m_release(std::move(release))
    {
    }
    ~JoiningThread() { join(); }

    void start(std::function<void()> body) { m_thread = std::thread(std::move(body)); }
    void join()
    {
        if (m_release)
            m_release();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::function<void()> m_release;
    std::thread m_thread;
};
