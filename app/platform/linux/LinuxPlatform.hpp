#pragma once

#include "app/platform/Platform.hpp"
#include "app/platform/linux/LinuxClock.hpp"
#include "app/platform/linux/LinuxDesktopActions.hpp"
#include "app/platform/linux/LinuxFileViewer.hpp"
#include "app/platform/linux/LinuxGlobalShortcut.hpp"
#include "app/platform/linux/LinuxLinkHandler.hpp"
#include "app/platform/linux/LinuxLoginItem.hpp"
#include "app/platform/linux/LinuxMainBundle.hpp"
#include "app/platform/linux/LinuxOwnApplication.hpp"
#include "app/platform/linux/LinuxPasteboard.hpp"
#include "app/platform/linux/LinuxTerminal.hpp"
#include "app/platform/linux/LinuxTrash.hpp"
#include "app/platform/linux/LinuxUserDefaults.hpp"
#include "app/platform/linux/LinuxWorkspace.hpp"

#include <memory>

namespace korvel {

class X11Desktop;

// Every real service of a Linux desktop, created together; platform() hands them to the model. Create it on
// the main thread after the Q(Gui)Application and before the model, keep it until the model is gone. The XDG
// folders are read here, once.
class LinuxPlatform
{
public:
    // `executable` is Korvel's own, by default the running one. The workspace's first look at what runs is
    // awaited for up to `firstScanWait`: a command answers from it, the interface needn't wait.
    explicit LinuxPlatform(const std::filesystem::path& executable = LinuxMainBundle::currentExecutable(),
        std::chrono::milliseconds firstScanWait = std::chrono::milliseconds(0));
    ~LinuxPlatform();
    LinuxPlatform(const LinuxPlatform&) = delete;
    LinuxPlatform& operator=(const LinuxPlatform&) = delete;

    Platform platform();

    LinuxWorkspace& workspace() { return *m_workspace; }
    // The X11 connection, nullptr without one.
    const std::shared_ptr<X11Desktop>& desktop() const { return m_desktop; }

private:
    std::shared_ptr<X11Desktop> m_desktop;
    LinuxMainBundle m_mainBundle;
    std::unique_ptr<LinuxWorkspace> m_workspace;
    LinuxOwnApplication m_ownApplication;
    LinuxUserDefaults m_userDefaults;
    LinuxLoginItem m_loginItem;
    LinuxLinkHandler m_linkHandler;
    LinuxTrash m_trash;
    LinuxFileViewer m_fileViewer;
    LinuxPasteboard m_pasteboard;
    LinuxTerminal m_terminal;
    LinuxClock m_clock;
    LinuxDesktopActions m_desktopActions;
    LinuxGlobalShortcut m_globalShortcut;
};

} // namespace korvel
