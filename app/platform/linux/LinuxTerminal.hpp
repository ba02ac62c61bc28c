#pragma once

#include "app/platform/Terminal.hpp"

#include <optional>
#include <string>
#include <vector>

namespace korvel {

// Runs a command file in the first terminal emulator found: $TERMINAL, x-terminal-emulator, gnome-terminal,
// konsole, xterm. The file is passed as one argument, never through a shell. Main thread only.
class LinuxTerminal : public Terminal
{
public:
    void openCommandFile(const std::filesystem::path& file) override;

    // The program and arguments that would run `file`, or nothing when no terminal is installed.
    static std::optional<std::vector<std::string>> commandFor(const std::filesystem::path& file);
};

} // namespace korvel
