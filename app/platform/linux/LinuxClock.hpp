#pragma once

#include "app/platform/Clock.hpp"

#include <coroutine>
#include <map>

class QTimer;

namespace korvel {

// Sleeping on precise Qt timers of the main thread's event loop. Main thread only.
class LinuxClock : public Clock
{
public:
    LinuxClock() = default;
    LinuxClock(const LinuxClock&) = delete;
    LinuxClock& operator=(const LinuxClock&) = delete;
    // Wakes whoever still sleeps, so that no coroutine waits for ever on a timer that will not fire; their owners
    // (the model) are gone by then and end them.
    ~LinuxClock() override;

    QCoro::Task<> sleep(std::chrono::milliseconds duration) override;

private:
    struct Wait;
    void add(std::coroutine_handle<> waiting, std::chrono::milliseconds duration);

    std::map<QTimer*, std::coroutine_handle<>> m_sleepers;
};

} // namespace korvel
