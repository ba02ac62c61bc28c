#pragma once

#include <functional>

namespace korvel {

// Korvel itself as an application on the desktop. Main thread only.
class OwnApplication
{
public:
    virtual ~OwnApplication() = default;

    // Calls `handler` on the main thread whenever Korvel becomes the active application; never stops.
    virtual void observeDidBecomeActive(std::function<void()> handler) = 0;
};

} // namespace korvel
