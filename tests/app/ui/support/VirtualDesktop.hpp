#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace korvel::test {

// A private X desktop for one test program: Xvfb on a free display number, openbox as the window manager and
// trayer as the system tray, so that windows, focus and the tray icon are real. DISPLAY points at it while it
// lives; no D-Bus session is seen, so Qt uses the X11 tray protocol that trayer speaks.
class VirtualDesktop
{
public:
    VirtualDesktop();
    ~VirtualDesktop();
    VirtualDesktop(const VirtualDesktop&) = delete;
    VirtualDesktop& operator=(const VirtualDesktop&) = delete;

    const std::string& display() const { return m_display; }

private:
    pid_t spawn(const std::vector<std::string>& arguments, int displayFd = -1);

    std::string m_display;
    std::filesystem::path m_runtime;
    std::vector<pid_t> m_processes; // in start order
};

} // namespace korvel::test
