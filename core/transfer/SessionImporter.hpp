#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace korvel {

// Brings Claude Code and agent-mode sessions, pins and MCP servers from one data folder into another, one way,
// remembering in a ledger what it has handled. Stateless.
struct SessionImporter
{
    struct Summary
    {
        int64_t missingSessions = 0;
        int64_t missingFiles = 0;
        // Files whose paths are not valid UTF-8, by key ("claude-code-sessions/<account>/<path>"): a JSON ledger
        // cannot hold their names, so they are never copied (and never counted above).
        std::vector<std::string> leftOut {};
        bool isEmpty() const { return missingFiles == 0; }
        friend bool operator==(const Summary&, const Summary&) = default;
    };

    // "claude-code-sessions", "local-agent-mode-sessions".
    static const std::vector<std::string>& sessionFolders();
    // Entry names under either session folder that are UUIDs (either case). Never throws.
    static std::set<std::string> accounts(const std::filesystem::path& folder);

    // Session files (and the other files beside them) of accounts the destination already has are
    // candidates. Links in the source are never followed; anything at a destination path, even a dangling
    // link, is never replaced and counts as present; a link in the destination's folders is never written
    // through. A ledger that cannot be read counts as empty.

    // What importSessions would copy now. Never throws.
    static Summary summary(
        const std::filesystem::path& from, const std::filesystem::path& to, const std::filesystem::path& ledgerURL);
    // Copies missing candidates (new folders 0700, mode and times kept), each to a temporary name beside it
    // and renamed once whole, and records every handled one in the ledger, which is written only when
    // something was handled. A failed copy leaves nothing under the file's name and does not stop the others;
    // the ledger is saved for what succeeded, then the first failure is thrown (FileError).
    static Summary importSessions(
        const std::filesystem::path& from, const std::filesystem::path& to, const std::filesystem::path& ledgerURL);
    // The source's pins that mergePins would append now, in source order. Never throws.
    static std::vector<std::string> pinsToMerge(
        const std::filesystem::path& from, const std::filesystem::path& to, const std::filesystem::path& ledgerURL);
    // Appends to the destination's claude_desktop_config.json the source pins of sessions it has that the
    // ledger has not seen, keeping every other value; returns how many were appended. Throws FileError
    // (ReadCorrupt with the path when the destination's file is not a JSON object).
    static int64_t mergePins(
        const std::filesystem::path& from, const std::filesystem::path& to, const std::filesystem::path& ledgerURL);
    // The names of the source's MCP servers that mergeMcpServers would add now, sorted. Never throws.
    static std::vector<std::string> mcpServersToMerge(
        const std::filesystem::path& from, const std::filesystem::path& to, const std::filesystem::path& ledgerURL);
    // Adds to the destination's claude_desktop_config.json the source's MCP servers whose names neither it nor
    // the ledger has, keeping every other value; a server of the same name there is never replaced, and one the
    // ledger has seen is never added again. Returns how many were added; throws like mergePins.
    static int64_t mergeMcpServers(
        const std::filesystem::path& from, const std::filesystem::path& to, const std::filesystem::path& ledgerURL);
};

} // namespace korvel
