#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace korvel {

// The SHA-256 of the launcher executable (with the Wayland relay beside it: of both files' hashes), remembered per
// file state (device, inode, size, modification and change times) so that checking every profile's health does not
// hash the launcher once per profile. A changed file is hashed afresh, so the result is always what a fresh
// computation would give.
namespace LauncherHash {

// Nothing when the file cannot be read. Thread-safe.
std::optional<std::string> of(const std::filesystem::path& launcher);

} // namespace LauncherHash
} // namespace korvel
