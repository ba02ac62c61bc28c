#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace korvel {

// Brings Claude Code and agent-mode sessions and pins from one data folder into another, one way,
// remembering in a ledger what it has handled. Stateless.
struct SessionImporter
{
    struct Summary
    {
        int64_t missingSessions = 0;
        int64_t missingFiles = 0;
        bool isEmpty() const { return missingFiles == 0; }
        friend bool operator==(const Summary&, const Summary&) = default;
    };

    static const std::vector<std::string>& sessionFolders();
    static std::set<std::string> accounts(const std::filesystem::path& folder);
    static Summary summary(
        const std::filesystem::path& from, const std::filesystem::path& to, const std::filesystem::path& ledgerURL);
    static Summary importSessions(
        const std::filesystem::path& from, const std::filesystem::path& to, const std::filesystem::path& ledgerURL);
    static std::vector<std::string> pinsToMerge(
        const std::filesystem::path& from, const std::filesystem::path& to, const std::filesystem::path& ledgerURL);
    static int64_t mergePins(
        const std::filesystem::path& from, const std::filesystem::path& to, const std::filesystem::path& ledgerURL);
};

} // namespace korvel
