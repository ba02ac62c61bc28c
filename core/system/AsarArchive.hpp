#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace korvel {

// Electron's app.asar: a JSON index of the files after a small binary header, then their bytes. Korvel reads just
// one small file out of it (package.json, for Claude's version), so only what that needs is here.
namespace AsarArchive {

// The bytes of `member` (a path inside the archive, '/'-separated) of `archive`; files kept beside the archive
// (app.asar.unpacked) are read from there. Nothing when the archive cannot be read, is malformed or lacks the
// member, or the member is larger than `limit`. Never throws.
std::optional<std::string> read(
    const std::filesystem::path& archive, const std::string& member, std::size_t limit = 1 << 20);

// The "version" string of the package.json inside `archive`, or nothing. Never throws.
std::optional<std::string> packageVersion(const std::filesystem::path& archive);

} // namespace AsarArchive
} // namespace korvel
