#include "app/platform/fake/FakeOwnApplication.hpp"

namespace korvel {

void FakeOwnApplication::becomeActive()
{
    const auto handlers = m_handlers;
    for (const auto& handler : handlers)
        handler();
}

} // namespace korvel
