#pragma once

#include <qcoro/qcorotask.h>

#include <chrono>

namespace korvel {

// Waiting. Main thread only.
class Clock
{
public:
    virtual ~Clock() = default;

    // Completes on the main thread once `duration` has passed.
    virtual QCoro::Task<> sleep(std::chrono::milliseconds duration) = 0;
};

} // namespace korvel
