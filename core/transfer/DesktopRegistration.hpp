#pragma once

#include "core/support/DesktopEntry.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace korvel {

// How an application bundle becomes known to the desktop: a desktop entry in the user's applications folder
// that runs the bundle's executable and names the bundle under X-Korvel-Bundle. The Linux stand-in for
// LaunchServices registration (korvel-tool lsregister) and the link handler write the same entries.
namespace DesktopRegistration {

inline constexpr std::string_view bundleKey = "X-Korvel-Bundle";

// "korvel-<identifier>.desktop".
std::string fileName(std::string_view bundleIdentifier);

// The entry for `bundle`: Name (CFBundleDisplayName, else CFBundleName, else the folder's name), Exec (the
// bundle's executable followed by `fieldCode`), MimeType with x-scheme-handler/<scheme> for every scheme its
// CFBundleURLTypes declare, Icon when given, and the bundle's path. Throws FileError when the Info.plist
// cannot be read or names no executable, or the executable is missing.
DesktopEntry entryFor(const std::filesystem::path& bundle, std::string_view fieldCode = "%U",
    const std::optional<std::filesystem::path>& icon = std::nullopt);

// Writes entryFor(bundle) as `applicationsDir`/fileName(identifier) and returns that file. Throws FileError,
// also when the bundle has no identifier.
std::filesystem::path registerBundle(const std::filesystem::path& bundle, const std::filesystem::path& applicationsDir,
    const std::optional<std::filesystem::path>& icon = std::nullopt);

// Removes every korvel-*.desktop entry of `applicationsDir` whose X-Korvel-Bundle is `bundle`. Throws
// FileError when one cannot be removed.
void unregisterBundle(const std::filesystem::path& bundle, const std::filesystem::path& applicationsDir);

} // namespace DesktopRegistration
} // namespace korvel
