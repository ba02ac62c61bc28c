#include "core/building/LauncherHash.hpp"

#include "core/support/FileMemo.hpp"
#include "core/support/Sha256.hpp"

namespace korvel::LauncherHash {

std::optional<std::string> of(const std::filesystem::path& launcher)
{
    // Process-wide: the builder is a plain value copied into background jobs, so the memo cannot live in it.
    static FileMemo<std::string> memo;
    return memo.get(launcher, [&launcher] { return Sha256::hexOfFile(launcher); });
}

} // namespace korvel::LauncherHash
