#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace korvel {

// What dpkg, Debian's package manager, records of installed packages. Read-only.
namespace DpkgDatabase {

// dpkg's administrative folder: $KORVEL_DPKG_ADMINDIR when set (tests lay out a package of their own), else
// /var/lib/dpkg.
std::filesystem::path adminDir();

// The version of `package` when dpkg records it as installed and its file list names `file`, so that the record
// is only trusted for the files it really installed. Nothing otherwise. Never throws.
std::optional<std::string> versionOwning(
    std::string_view package, const std::filesystem::path& file, const std::filesystem::path& adminDir = adminDir());

} // namespace DpkgDatabase
} // namespace korvel
