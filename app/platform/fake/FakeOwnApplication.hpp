#pragma once

#include "app/platform/OwnApplication.hpp"

#include <vector>

namespace korvel {

// Korvel's own activation, fired by the test.
class FakeOwnApplication : public OwnApplication
{
public:
    // Calls every observer, as when the user switches to Korvel.
    void becomeActive();
    size_t observerCount() const { return m_handlers.size(); }

    void observeDidBecomeActive(std::function<void()> handler) override { m_handlers.push_back(std::move(handler)); }

private:
    std::vector<std::function<void()>> m_handlers;
};

} // namespace korvel
