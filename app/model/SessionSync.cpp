#include "app/model/SessionSync.hpp"

#include "core/transfer/SessionImporter.hpp"

namespace korvel {
namespace {

int64_t copySessions(const std::filesystem::path& source, const SessionSync::Item& item)
{
    try {
        return SessionImporter::importSessions(source, item.data, item.ledger).missingSessions;
    } catch (const std::exception&) {
        return 0;
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
    } catch (const std::exception&) { }
}

} // namespace

std::vector<SessionSync::Result> SessionSync::run(const std::filesystem::path& source, const std::vector<Item>& items)
{
    std::vector<Result> results;
    results.reserve(items.size());
    for (const Item& item : items) {
        Result result {item.id, copySessions(source, item)};
        handlePins(source, item, result);
        results.push_back(result);
    }
    return results;
}

} // namespace korvel
