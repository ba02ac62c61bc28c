#include "app/platform/linux/LinuxClock.hpp"

#include <qcoro/qcorotimer.h>

namespace korvel {

QCoro::Task<> LinuxClock::sleep(std::chrono::milliseconds duration)
{
    co_await QCoro::sleepFor(duration);
}

} // namespace korvel
