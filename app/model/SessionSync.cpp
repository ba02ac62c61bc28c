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

int64_t pinsLeftWaiting(const std::filesystem::path& source, const SessionSync::Item& item)
{
    // A running Claude rewrites its configuration file; its pins wait until it has quit.
    if (item.running)
        return static_cast<int64_t>(SessionImporter::pinsToMerge(source, item.data, item.ledger).size());
    try {
        SessionImporter::mergePins(source, item.data, item.ledger);
    } catch (const std::exception&) { }
    return 0;
}

} // namespace

std::vector<SessionSync::Result> SessionSync::run(const std::filesystem::path& source, const std::vector<Item>& items)
{
    std::vector<Result> results;
    results.reserve(items.size());
    for (const Item& item : items) {
        const int64_t sessions = copySessions(source, item);
        results.push_back(Result {item.id, sessions, pinsLeftWaiting(source, item)});
    }
    return results;
}

} // namespace korvel
