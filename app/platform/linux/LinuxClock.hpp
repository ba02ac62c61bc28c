#pragma once

#include "app/platform/Clock.hpp"

namespace korvel {

// Sleeping on a Qt timer of the main thread's event loop.
class LinuxClock : public Clock
{
public:
    QCoro::Task<> sleep(std::chrono::milliseconds duration) override;
};

} // namespace korvel
