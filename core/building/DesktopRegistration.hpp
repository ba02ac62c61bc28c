#pragma once

#include "core/support/DesktopEntry.hpp"
#include "core/support/XdgFolders.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// How an application bundle becomes known to the desktop, the Linux stand-in for LaunchServices registration
// (korvel-tool lsregister): a desktop entry $XDG_DATA_HOME/applications/<profile app's bundle id>.desktop (the id
// its windows carry; korvel-<bundle id>.desktop for any other bundle) with the
// bundle's name, executable, URL schemes and icon, and an X-Korvel-Bundle key naming the bundle so that it can be
// found again without reading the bundle. The link handler writes its entries through here too.
namespace DesktopRegistration {

inline constexpr std::string_view bundleKey = "X-Korvel-Bundle";
// Korvel's own entry, in the same folder.
inline constexpr std::string_view ownFileName = "korvel.desktop";

// "<identifier>.desktop" for a profile app, else "korvel-<identifier>.desktop"; characters other than letters,
// digits, '.', '-' and '_' (a slash above all) become '_'.
std::string fileName(std::string_view bundleIdentifier);

// The bundle's path as entries name it: absolute, normalised, without a trailing slash.
std::string location(const std::filesystem::path& bundle);

// The entry for `bundle`: Name (CFBundleDisplayName, else CFBundleName, else the folder's name), Exec (the
// bundle's executable followed by `fieldCode`), Icon when given, MimeType with x-scheme-handler/<scheme> for every
// scheme of its CFBundleURLTypes, and its location. Throws FileError when the Info.plist cannot be read,
// std::runtime_error when it names no identifier or executable.
DesktopEntry entryFor(const std::filesystem::path& bundle, std::string_view fieldCode = "%U",
    const std::optional<std::filesystem::path>& icon = std::nullopt);

// The data folders that hold installed entries: XdgFolders::dataDirs() without `dataHome`, the user's own.
std::vector<std::filesystem::path> installedDataDirs(const std::filesystem::path& dataHome);

// Korvel's own entry in the user's folder hides the installed one from menus, so it must say everything that one
// says: every key of the installed korvel.desktop (the first in `installedDataDirs`) that `entry` lacks is added;
// without an installed entry, a comment and a category.
void keepInstalledKeys(DesktopEntry& entry, const std::vector<std::filesystem::path>& installedDataDirs);

// lsregister -f: writes the entry under `dataHome`/applications and the largest image of the bundle's
// CFBundleIconFile as `dataHome`/icons/hicolor/<size>/apps/<entry name>.png, replacing what an earlier
// registration of the bundle left (also under another identifier). Returns the entry. Throws like entryFor, and
// FileError when a file cannot be written or removed.
std::filesystem::path registerBundle(
    const std::filesystem::path& bundle, const std::filesystem::path& dataHome = XdgFolders::dataHome());

// lsregister -u: removes every entry of ours (and its icons) that names `bundle`; none is fine. Throws FileError
// when a removal fails.
void unregisterBundle(
    const std::filesystem::path& bundle, const std::filesystem::path& dataHome = XdgFolders::dataHome());

} // namespace DesktopRegistration
} // namespace korvel
