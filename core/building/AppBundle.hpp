#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace korvel {

// The layout of an application bundle on disk (X.app/Contents/{Info.plist, MacOS/<executable>}) and the
// few Info.plist entries that say what it is. Never throws.
namespace AppBundle {

// X.app/Contents/Info.plist.
std::filesystem::path infoPlist(const std::filesystem::path& bundle);
// Its CFBundleIdentifier, or nothing when the Info.plist lacks it or cannot be read.
std::optional<std::string> identifier(const std::filesystem::path& bundle);
// X.app/Contents/MacOS/<CFBundleExecutable>, or nothing when the Info.plist does not name one.
std::optional<std::filesystem::path> executable(const std::filesystem::path& bundle);
// `bundle` standardised with symbolic links resolved (as far as it exists): the key to compare bundles by.
std::filesystem::path resolvedLocation(const std::filesystem::path& bundle);
// The bundle whose Contents/MacOS folder holds `file` directly: X.app for X.app/Contents/MacOS/tool. The
// path is taken as it is (not resolved); nothing for a file anywhere else.
std::optional<std::filesystem::path> containing(const std::filesystem::path& file);

} // namespace AppBundle
} // namespace korvel
