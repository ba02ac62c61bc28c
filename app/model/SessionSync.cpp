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

void handlePins(const std::filesystem::path& source, const SessionSync::Item& item, SessionSync::Result& result)
{
    // A running Claude rewrites its configuration file; its pins wait until it has quit.
    if (item.running) {
        result.pins = static_cast<int64_t>(SessionImporter::pinsToMerge(source, item.data, item.ledger).size());
        return;
    }
    try {
        result.mergedPins = SessionImporter::mergePins(source, item.data, item.ledger);
    } catch (const std::exception& error) {
        if (result.failure.empty())
            result.failure = error.what();
    }
}

} // namespace

std::vector<SessionSync::Result> SessionSync::run(const std::filesystem::path& source, const std::vector<Item>& items)
{
    std::vector<Result> results;
    results.reserve(items.size());
    for (const Item& item : items) {
        Result result {item.id};
        copySessions(source, item, result);
        handlePins(source, item, result);
        results.push_back(result);
    }
    return results;
}

} // namespace korvel
