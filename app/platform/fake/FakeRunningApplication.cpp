#include "app/platform/fake/FakeRunningApplication.hpp"

namespace korvel {

bool FakeRunningApplication::isTerminated() const
{
    if (m_quitting && !terminated) {
        if (m_checksLeft == 0)
            terminated = true;
        else
            --m_checksLeft;
    }
    return terminated;
}

void FakeRunningApplication::terminate()
{
    ++terminateRequests;
    if (refusesToQuit || m_quitting)
        return;
    m_quitting = true;
    m_checksLeft = checksBeforeQuitting;
}

} // namespace korvel
