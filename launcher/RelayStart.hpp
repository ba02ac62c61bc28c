#pragma once

#include <optional>
#include <string>

namespace korvel::launcher {

// Starts the profile's Wayland relay in front of the compositor, for Claude to connect to instead.
namespace RelayStart {

// The compositor's socket for WAYLAND_DISPLAY `display` (a name in `runtimeDir` or an absolute path); nothing when
// either is unset or empty, or the name is relative and the runtime folder is not absolute.
std::optional<std::string> compositorPath(const char* display, const char* runtimeDir);

// Binds a listening socket in a new private folder of `runtimeDir` and starts `relay` on it, detached (in its own
// session, not a child of this process), watching this process and relaying to `compositor` with `appId`.
// Answers the WAYLAND_DISPLAY for Claude, relative to `runtimeDir`; nothing when anything failed, and then nothing
// is left behind and Claude connects to the compositor itself.
std::optional<std::string> start(
    const std::string& relay, const std::string& runtimeDir, const std::string& compositor, const std::string& appId);

} // namespace RelayStart
} // namespace korvel::launcher
