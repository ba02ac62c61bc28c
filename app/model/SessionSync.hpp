#pragma once

#include "core/model/Uuid.hpp"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace korvel {

// The file work of one session sync round: plain values in, plain values out, so that it can run away from
// the main thread. Profiles are handled one after the other, so two calls for one ledger never overlap.
struct SessionSync
{
    struct Item
    {
        Uuid id;
        std::filesystem::path data; // the profile's data folder
        std::filesystem::path ledger; // its session-import.json
        bool running = false; // its app ran when the round started: pins and MCP servers wait instead of being merged
        bool mcpServers = false; // bring Claude's MCP servers over too
    };

    struct Result
    {
        Uuid id;
        int64_t sessions = 0; // session files copied
        int64_t pins = 0; // pins waiting for the app to quit; 0 when they were merged
        int64_t mergedPins = 0; // pins merged into the stopped profile's configuration
        int64_t mcpServers = 0; // MCP servers waiting for the app to quit; 0 when they were merged
        int64_t mergedMcpServers = 0; // MCP servers added to the stopped profile's configuration
        std::string failure {}; // why bringing something over failed, for the user; empty when nothing did
        std::vector<std::string> leftOut {}; // files never brought over: their names are not UTF-8 (see importSessions)
        friend bool operator==(const Result&, const Result&) = default;
    };

    static constexpr const char* ledgerFileName = "session-import.json";

    // Copies missing sessions from `source` into every item's data folder and merges or counts the pins (and the MCP
    // servers of the items that want them). An error
    // ends that part of the item's round (its count becomes 0) and is kept in `failure`; the next round tries
    // again.
    static std::vector<Result> run(const std::filesystem::path& source, const std::vector<Item>& items);
};

} // namespace korvel
