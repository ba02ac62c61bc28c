#pragma once

#include <condition_variable>
#include <mutex>

namespace korvel::test {

// Occupies every thread of Qt's global thread pool until release() or destruction, so that background jobs
// started meanwhile wait: a test can then act while a build or a sync round is certainly still running.
class PoolBlocker
{
public:
    PoolBlocker();
    ~PoolBlocker() { release(); }
    PoolBlocker(const PoolBlocker&) = delete;
    PoolBlocker& operator=(const PoolBlocker&) = delete;

    void release();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_released = false;
    int m_waiting = 0;
};

} // namespace korvel::test
