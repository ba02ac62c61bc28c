#include "app/platform/linux/LinuxPlatform.hpp"

#include "app/platform/linux/X11Desktop.hpp"

namespace korvel {

LinuxPlatform::LinuxPlatform(const std::filesystem::path& executable, std::chrono::milliseconds firstScanWait)
    : m_desktop(X11Desktop::connect())
    , m_mainBundle(executable)
    , m_workspace(std::make_unique<LinuxWorkspace>(m_desktop, std::chrono::seconds(1), firstScanWait))
    , m_loginItem(executable)
    , m_linkHandler(m_mainBundle.bundlePath())
    , m_desktopActions(m_mainBundle.bundlePath())
{ }

LinuxPlatform::~LinuxPlatform() = default;

Platform LinuxPlatform::platform()
{
    return Platform {*m_workspace, m_ownApplication, m_userDefaults, m_loginItem, m_linkHandler, m_trash, m_fileViewer,
        m_pasteboard, m_terminal, m_mainBundle, m_clock, m_desktopActions, m_globalShortcut};
}

} // namespace korvel
