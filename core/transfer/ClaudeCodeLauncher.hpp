#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace korvel {

// Writes the command file that opens Claude Code with a profile's own configuration folder. Stateless.
struct ClaudeCodeLauncher
{
    static constexpr std::string_view commandFileName = "Claude Code.command";
    static constexpr std::string_view exportPrefix = "export CLAUDE_CONFIG_DIR=";
    // Shown by the command file when `claude` is not on the search path.
    static constexpr std::string_view documentationURL = "https://docs.anthropic.com/en/docs/claude-code";

    // One shell word that the shell reads back as exactly `text`.
    static std::string shellQuote(std::string_view text);
    // exportPrefix and the quoted folder path; no line break.
    static std::string exportLine(const std::filesystem::path& configDir);
    // The command file's text. Line breaks in the name become blanks; the name is never run by the shell.
    static std::string script(std::string_view profileName, const std::filesystem::path& configDir);
    // Creates both folders (missing ones 0700), replaces folder/commandFileName atomically, sets it 0755.
    // Returns its path. Throws FileError.
    static std::filesystem::path writeScript(
        std::string_view profileName, const std::filesystem::path& configDir, const std::filesystem::path& folder);
};

} // namespace korvel
