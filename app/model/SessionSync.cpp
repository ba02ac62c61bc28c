#include "app/model/SessionSync.hpp"

#include "core/transfer/SessionImporter.hpp"

namespace korvel {
namespace {

void copySessions(const std::filesystem::path& source, const SessionSync::Item& item, SessionSync::Result& result)
{
    try {
        SessionImporter::Summary copied = SessionImporter::importSessions(source, item.data, item.ledger);
        result.sessions = copied.missingSessions;
        result.leftOut = std::move(copied.leftOut);
    } catch (const std::exception& error) {
        result.failure = error.what();
    }
}

// What `merge` returned; 0 when it failed, with the round's first failure kept.
template<typename Merge>
int64_t merged(SessionSync::Result& result, Merge merge)
{
    try {
        return merge();
    } catch (const std::exception& error) {
        if (result.failure.empty())
            result.failure = error.what();
        return 0;
    }
}

void handleConfig(const std::filesystem::path& source, const SessionSync::Item& item, SessionSync::Result& result)
{
    // A running Claude rewrites its configuration file; what goes into it waits until it has quit.
    if (item.running) {
        result.pins = static_cast<int64_t>(SessionImporter::pinsToMerge(source, item.data, item.ledger).size());
        if (item.mcpServers)
            result.mcpServers =
                static_cast<int64_t>(SessionImporter::mcpServersToMerge(source, item.data, item.ledger).size());
        return;
    }
    result.mergedPins = merged(result, [&] { return SessionImporter::mergePins(source, item.data, item.ledger); });
    if (item.mcpServers)
        result.mergedMcpServers =
            merged(result, [&] { return SessionImporter::mergeMcpServers(source, item.data, item.ledger); });
}

} // namespace

std::vector<SessionSync::Result> SessionSync::run(const std::filesystem::path& source, const std::vector<Item>& items)
{
    std::vector<Result> results;
    results.reserve(items.size());
    for (const Item& item : items) {
        Result result {item.id};
        copySessions(source, item, result);
        handleConfig(source, item, result);
        results.push_back(result);
    }
    return results;
}

} // namespace korvel
