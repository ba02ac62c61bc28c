#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace korvel::test {

// Claude Desktop as the claude-desktop Debian package lays it out, under a root folder of its own:
// root/usr/lib/claude-desktop/{claude-desktop, resources/app.asar}, root/usr/bin/claude-desktop (a link),
// root/usr/share/applications/claude-desktop.desktop, a 256-pixel icon in root/usr/share/icons/hicolor, and dpkg's
// record of the package in root/var/lib/dpkg. The program is the recording stand-in of StandInClaude. Point
// XDG_DATA_DIRS at root/usr/share and KORVEL_DPKG_ADMINDIR at adminDir(root) to make the desktop and dpkg see it.
struct StandInLinuxClaude
{
    static std::filesystem::path installFolder(const std::filesystem::path& root)
    {
        return root / "usr/lib/claude-desktop";
    }
    static std::filesystem::path program(const std::filesystem::path& root)
    {
        return installFolder(root) / "claude-desktop";
    }
    static std::filesystem::path adminDir(const std::filesystem::path& root) { return root / "var/lib/dpkg"; }

    // Lays out the package at `version`; returns the install folder. When `program` is given, the package's
    // program is a link to it (as packages that ship Electron's binary under its own name lay it out), and dpkg's
    // record names both.
    static std::filesystem::path create(
        const std::filesystem::path& root, const std::string& version, const std::filesystem::path& program = {});
    // What apt does on an upgrade: every file replaced by a new one (new inodes), the record raised to `version`.
    static void upgrade(const std::filesystem::path& root, const std::string& version);

    // An asar archive holding `files` (path inside the archive → bytes).
    static std::string asar(const std::map<std::string, std::string>& files);
    // An asar archive of the index `indexText` (JSON, taken as it is) followed by `data`.
    static std::string asarWithIndex(const std::string& indexText, const std::string& data);
};

} // namespace korvel::test
