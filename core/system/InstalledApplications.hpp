#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace korvel {

// What the desktop knows of installed programs: their desktop entries and the icons those name, looked up the
// way menus and docks do (XDG data folders, the hicolor icon theme). Read-only; never throws.
namespace InstalledApplications {

// The desktop entry (a file in an applications folder of the XDG data folders) whose program is `executable`
// (the Exec line's first word, found on PATH and links resolved), trying `preferred` (e.g.
// "claude-desktop.desktop") before any other. Nothing when none is.
std::optional<std::filesystem::path> desktopEntryFor(
    const std::filesystem::path& executable, std::string_view preferred = {});

// Icon files larger than this are never taken: no desktop icon needs more, and reading one must stay cheap.
inline constexpr std::uintmax_t maxIconFileSize = 4 * 1024 * 1024;

// The best image of icon `name` for drawing large: the scalable (SVG) image of the hicolor theme, else its largest
// PNG, else a PNG or SVG in a pixmaps folder. An absolute `name` is taken as the file itself only when it is a PNG or
// SVG in an icon theme or pixmaps folder of the XDG data folders. Files over maxIconFileSize are passed over.
// Nothing when none is left.
std::optional<std::filesystem::path> largestIcon(std::string_view name);

} // namespace InstalledApplications
} // namespace korvel
