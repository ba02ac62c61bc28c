#include "app/platform/linux/DesktopSession.hpp"

#include <cstdlib>
#include <string_view>

namespace korvel::DesktopSession {
namespace {

bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

} // namespace

Workspace::Session current()
{
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const bool wayland = isSet("WAYLAND_DISPLAY") || (type && std::string_view(type) == "wayland");
    const bool x11 = isSet("DISPLAY");
    if (wayland)
        return x11 ? Workspace::Session::WaylandWithXWayland : Workspace::Session::Wayland;
    return x11 ? Workspace::Session::X11 : Workspace::Session::Headless;
}

} // namespace korvel::DesktopSession
