#pragma once

#include "app/platform/GlobalShortcut.hpp"
#include "app/platform/Workspace.hpp"
#include "app/platform/linux/DesktopSession.hpp"

#include <memory>

namespace korvel {

// The desktop's global shortcut: an X11 key grab in an X11 session, the desktop portal in a Wayland session
// (where a grab through XWayland would only see XWayland's windows), none without a display.
class LinuxGlobalShortcut : public GlobalShortcut
{
public:
    explicit LinuxGlobalShortcut(Workspace::Session session = DesktopSession::current());
    ~LinuxGlobalShortcut() override;

    bool isAvailable() const override;
    QCoro::Task<> bind(std::string keys) override;
    void setActivationHandler(std::function<void()> handler) override;

private:
    std::unique_ptr<GlobalShortcut> m_shortcut; // nullptr without a way to grab keys
};

} // namespace korvel
