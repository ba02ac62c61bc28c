#include "core/building/LauncherHash.hpp"

#include "core/model/TaskBarIdentity.hpp"
#include "core/support/FileMemo.hpp"
#include "core/support/Sha256.hpp"

namespace korvel::LauncherHash {

std::optional<std::string> of(const std::filesystem::path& launcher)
{
    // Process-wide: the builder is a plain value copied into background jobs, so the memo cannot live in it.
    static FileMemo<std::string> memo;
    const auto hashOf = [](const std::filesystem::path& file) {
        return memo.get(file, [&file] { return Sha256::hexOfFile(file); });
    };
    const auto hash = hashOf(launcher);
    if (!hash)
        return std::nullopt;
    // The Wayland relay beside the launcher is copied into every app with it: a new relay outdates the apps as a
    // new launcher does. Without one, the launcher's own hash, as before there was a relay.
    if (const auto relay = hashOf(launcher.parent_path() / TaskBarIdentities::relayExecutable))
        return Sha256::hexOf(*hash + *relay);
    return hash;
}

} // namespace korvel::LauncherHash
