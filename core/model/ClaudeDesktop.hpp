#pragma once

#include <array>
#include <string_view>

namespace korvel {

// What Korvel relies on in Claude Desktop's bundle and data folder: fixed names, gathered once.
namespace ClaudeDesktop {

inline constexpr std::string_view bundleIdentifier = "com.anthropic.claudefordesktop";
inline constexpr std::string_view executableName = "Claude"; // Contents/MacOS/Claude
inline constexpr std::string_view versionKey = "CFBundleShortVersionString";
inline constexpr std::string_view userDataDirSwitch = "--user-data-dir=";
inline constexpr std::string_view urlScheme = "claude";
inline constexpr std::string_view downloadPage = "https://claude.ai/download";

// Whether `text` is a claude: link, the scheme in any letter case: the only arguments Korvel hands to Claude as
// links. Anything else could reach Claude as a switch ("--gpu-launcher=…") or open another kind of address.
inline bool isLink(std::string_view text)
{
    if (text.size() <= urlScheme.size() || text[urlScheme.size()] != ':')
        return false;
    for (size_t i = 0; i < urlScheme.size(); ++i) {
        if ((text[i] | 0x20) != urlScheme[i]) // ASCII letters only: the scheme has no other characters
            return false;
    }
    return true;
}

// Markers of real data in a data folder.
inline constexpr std::string_view localState = "Local State";
inline constexpr std::string_view configJson = "config.json";

// Entries of the instance that is using a data folder.
inline constexpr std::array<std::string_view, 4> lockEntries = {
    "SingletonLock", "SingletonCookie", "SingletonSocket", "RunningChromeVersion"};

// Session folders: one sub-folder per account (a UUID), holding "local_…json" session files.
inline constexpr std::array<std::string_view, 2> sessionFolders = {"claude-code-sessions", "local-agent-mode-sessions"};
inline constexpr std::string_view sessionFilePrefix = "local_";
inline constexpr std::string_view sessionFileSuffix = ".json";

// Claude's configuration file, the key path of the pinned sessions inside it and the key of its MCP servers.
inline constexpr std::string_view configFile = "claude_desktop_config.json";
inline constexpr std::array<std::string_view, 3> pinsKeyPath = {
    "preferences", "epitaxyPrefs", "starred-local-code-sessions"};
inline constexpr std::string_view mcpServersKey = "mcpServers";

} // namespace ClaudeDesktop
} // namespace korvel
