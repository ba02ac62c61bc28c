#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

// Claude Desktop as it is installed: a macOS-shaped bundle (Claude.app, cloned for every profile) or a Linux
// install such as the claude-desktop package (/usr/lib/claude-desktop; profile apps only link to it, since a
// user's copy would lose the SUID sandbox helper and the AppArmor profile bound to its path).
struct ClaudeInstall
{
    enum class Kind { Bundle, Linux };

    Kind kind = Kind::Bundle;
    std::filesystem::path location; // the bundle or the install folder, links resolved
    std::filesystem::path executable; // Contents/MacOS/Claude, or the installed program

    // The program name of the Linux package, in its folder and on PATH.
    static constexpr const char* linuxProgram = "claude-desktop";
    // Where the Linux package installs itself.
    static constexpr const char* linuxPackageFolder = "/usr/lib/claude-desktop";

    // What is installed at `place` (a bundle, an install folder holding claude-desktop, or the program itself when
    // it is named claude-desktop or lies beside resources/app.asar), with links
    // at the top resolved so that nothing built from it leads back into it. Nothing when neither kind is there.
    // Never throws.
    static std::optional<ClaudeInstall> at(const std::filesystem::path& place);

    // Where Claude Desktop is looked for, in order: $KORVEL_CLAUDE_APP alone when it is set; otherwise
    // /usr/lib/claude-desktop, the program claude-desktop on PATH (links resolved), /Applications/Claude.app.
    static std::vector<std::filesystem::path> searchPlaces();
    // The location of the first searched place that holds Claude Desktop; the first place searched when none does.
    static std::filesystem::path find();
    // The searched places for messages: "/usr/lib/claude-desktop, claude-desktop on your PATH or …".
    static std::string placesLooked();
};

} // namespace korvel
