#pragma once

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

// The best image of icon `name` for drawing large: the scalable (SVG) image of the hicolor theme, else its largest
// PNG, else a PNG or SVG in /usr/share/pixmaps; an absolute `name` is taken as the file itself. Nothing when none
// exists.
std::optional<std::filesystem::path> largestIcon(std::string_view name);

} // namespace InstalledApplications
} // namespace korvel
