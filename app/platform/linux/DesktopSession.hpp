#pragma once

#include "app/platform/Workspace.hpp"

namespace korvel {

// The kind of session Korvel runs in, from the variables the session sets for its programs.
namespace DesktopSession {

// Wayland when WAYLAND_DISPLAY (or, without it, XDG_SESSION_TYPE=wayland) says so, with XWayland when DISPLAY is
// set too; X11 with DISPLAY alone; else headless.
Workspace::Session current();

} // namespace DesktopSession
} // namespace korvel
