#include "app/platform/linux/LinuxGlobalShortcut.hpp"

#include <stdexcept>

namespace korvel {

bool LinuxGlobalShortcut::isAvailable() const
{
    return false;
}

QCoro::Task<> LinuxGlobalShortcut::bind(std::string keys)
{
    if (!keys.empty())
        throw std::runtime_error("This desktop offers no global shortcuts.");
    co_return;
}

void LinuxGlobalShortcut::setActivationHandler(std::function<void()> handler)
{
    m_handler = std::move(handler);
}

} // namespace korvel
