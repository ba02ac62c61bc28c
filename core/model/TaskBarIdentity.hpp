#pragma once

#include <optional>
#include <string_view>

namespace korvel {

// How a profile app's windows carry the profile's own identity in a Wayland session, where Claude names its native
// windows after itself and no other program can rename them. Recorded in every profile app's Info.plist, so that
// the app does the same whether Korvel, a dock or the application menu starts it. Header only: the launcher reads
// it without linking Korvel's library.
enum class TaskBarIdentity {
    // Claude chooses: native Wayland windows, grouped under Claude's own icon.
    Native,
    // Claude runs through XWayland, whose windows Korvel gives the profile's class as on X11.
    XWayland,
    // Claude runs natively through the profile's own Wayland relay, which gives its windows the profile's app id.
    Relay,
};

namespace TaskBarIdentities {

inline constexpr std::string_view native = "native";
inline constexpr std::string_view xwayland = "xwayland";
inline constexpr std::string_view relay = "relay";

constexpr std::string_view rawValue(TaskBarIdentity identity)
{
    switch (identity) {
    case TaskBarIdentity::XWayland:
        return xwayland;
    case TaskBarIdentity::Relay:
        return relay;
    case TaskBarIdentity::Native:
        break;
    }
    return native;
}

constexpr std::optional<TaskBarIdentity> fromRawValue(std::string_view raw)
{
    if (raw == xwayland)
        return TaskBarIdentity::XWayland;
    if (raw == relay)
        return TaskBarIdentity::Relay;
    if (raw == native)
        return TaskBarIdentity::Native;
    return std::nullopt;
}

// The relay's program beside the launcher in Contents/MacOS, and the socket in $XDG_RUNTIME_DIR on which a running
// Korvel hears from relays which profile's window is active.
inline constexpr std::string_view relayExecutable = "KorvelRelay";
inline constexpr std::string_view relayReportSocket = "korvel-relay-reports";

} // namespace TaskBarIdentities
} // namespace korvel
