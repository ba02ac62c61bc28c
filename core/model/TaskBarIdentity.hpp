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
};

namespace TaskBarIdentities {

inline constexpr std::string_view native = "native";
inline constexpr std::string_view xwayland = "xwayland";

constexpr std::string_view rawValue(TaskBarIdentity identity)
{
    return identity == TaskBarIdentity::XWayland ? xwayland : native;
}

constexpr std::optional<TaskBarIdentity> fromRawValue(std::string_view raw)
{
    if (raw == xwayland)
        return TaskBarIdentity::XWayland;
    if (raw == native)
        return TaskBarIdentity::Native;
    return std::nullopt;
}

} // namespace TaskBarIdentities
} // namespace korvel
