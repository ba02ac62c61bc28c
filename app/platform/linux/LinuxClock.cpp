#include "app/platform/linux/LinuxClock.hpp"

#include <QTimer>

namespace korvel {

struct LinuxClock::Wait
{
    LinuxClock& clock;
    std::chrono::milliseconds duration;

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiting) { clock.add(waiting, duration); }
    void await_resume() const noexcept { }
};

LinuxClock::~LinuxClock()
{
    while (!m_sleepers.empty()) {
        const auto [timer, waiting] = *m_sleepers.begin();
        m_sleepers.erase(m_sleepers.begin());
        delete timer;
        waiting.resume();
    }
}

void LinuxClock::add(std::coroutine_handle<> waiting, std::chrono::milliseconds duration)
{
    // Precise: the coarse default may fire a few per cent early, and a sleep promises the whole duration.
    auto* timer = new QTimer;
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(true);
    m_sleepers.emplace(timer, waiting);
    QObject::connect(timer, &QTimer::timeout, [this, timer] {
        const auto found = m_sleepers.find(timer);
        if (found == m_sleepers.end())
            return;
        const std::coroutine_handle<> resumed = found->second;
        m_sleepers.erase(found);
        timer->deleteLater();
        resumed.resume();
    });
    timer->start(duration);
}

QCoro::Task<> LinuxClock::sleep(std::chrono::milliseconds duration)
{
    Wait wait {*this, duration}; // named: g++ 12 destroys co_await temporaries twice
    co_await wait;
}

} // namespace korvel
