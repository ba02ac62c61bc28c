#include "app/platform/linux/LinuxGlobalShortcut.hpp"

#include "app/platform/linux/PortalShortcuts.hpp"
#include "app/platform/linux/X11KeyGrab.hpp"

#include <stdexcept>

namespace korvel {

LinuxGlobalShortcut::LinuxGlobalShortcut(Workspace::Session session)
{
    if (session == Workspace::Session::X11)
        m_shortcut = X11KeyGrab::connect();
    else if (session != Workspace::Session::Headless)
        m_shortcut = std::make_unique<PortalShortcuts>();
}

LinuxGlobalShortcut::~LinuxGlobalShortcut() = default;

bool LinuxGlobalShortcut::isAvailable() const
{
    return m_shortcut && m_shortcut->isAvailable();
}

QCoro::Task<> LinuxGlobalShortcut::bind(std::string keys)
{
    if (m_shortcut)
        co_await m_shortcut->bind(std::move(keys));
    else if (!keys.empty())
        throw std::runtime_error("This desktop offers no global shortcuts.");
}

void LinuxGlobalShortcut::setActivationHandler(std::function<void()> handler)
{
    if (m_shortcut)
        m_shortcut->setActivationHandler(std::move(handler));
}

} // namespace korvel
