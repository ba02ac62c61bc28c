#include "app/platform/fake/FakeClock.hpp"

#include <algorithm>

namespace korvel {

FakeClock::~FakeClock()
{
    // Wake whoever still waits, so that no coroutine stays suspended for ever; a model that is gone by now ends
    // its coroutines when they resume.
    while (!m_pending.empty()) {
        const Sleeper sleeper = m_pending.front();
        m_pending.erase(m_pending.begin());
        sleeper.waiting.resume();
    }
}

void FakeClock::advance(Duration duration)
{
    const Duration target = now + duration;
    for (;;) {
        const auto due = std::min_element(
            m_pending.begin(), m_pending.end(), [](const Sleeper& a, const Sleeper& b) { return a.end < b.end; });
        if (due == m_pending.end() || due->end > target)
            break;
        const Sleeper sleeper = *due;
        m_pending.erase(due);
        now = sleeper.end;
        sleeper.waiting.resume();
    }
    now = target;
}

QCoro::Task<> FakeClock::sleep(Duration duration)
{
    sleeps.push_back(duration);
    if (!manual) {
        now += duration;
        co_return;
    }
    Wait wait {*this, now + duration};
    co_await wait;
}

} // namespace korvel
