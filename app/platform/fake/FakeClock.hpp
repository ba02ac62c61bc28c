#pragma once

#include "app/platform/Clock.hpp"

#include <coroutine>
#include <vector>

namespace korvel {

// Virtual time. In instant mode every sleep completes at once and moves the time on; in manual mode sleeps wait
// until advance() moves the time past their end, so that tests can look in between.
class FakeClock : public Clock
{
public:
    using Duration = std::chrono::milliseconds;

    bool manual = false;
    Duration now {0};
    std::vector<Duration> sleeps; // every requested duration, in order

    ~FakeClock() override;

    // Moves the time on by `duration`, completing due sleeps in the order of their ends.
    void advance(Duration duration);
    size_t pendingSleeps() const { return m_pending.size(); }

    QCoro::Task<> sleep(Duration duration) override;

private:
    struct Sleeper
    {
        Duration end;
        std::coroutine_handle<> waiting;
    };
    struct Wait
    {
        FakeClock& clock;
        Duration end;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiting) { clock.m_pending.push_back({end, waiting}); }
        void await_resume() const noexcept { }
    };
    std::vector<Sleeper> m_pending;
};

} // namespace korvel
