#pragma once

// Declared here as the contract for its callers; implemented in ClaudeCodeLauncher.cpp.

#include <filesystem>
#include <string>
#include <string_view>

namespace korvel {

// Writes the command file that opens Claude Code with a profile's own configuration folder. Stateless.
struct ClaudeCodeLauncher
{
    static constexpr std::string_view commandFileName = "Claude Code.command";
    static std::string shellQuote(std::string_view text);
    static std::string exportLine(const std::filesystem::path& configDir);
    static std::string script(std::string_view profileName, const std::filesystem::path& configDir);
    static std::filesystem::path writeScript(
        std::string_view profileName, const std::filesystem::path& configDir, const std::filesystem::path& folder);
};

} // namespace korvel
