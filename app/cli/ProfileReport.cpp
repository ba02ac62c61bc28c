#include "app/cli/ProfileReport.hpp"

#include "app/cli/TextTable.hpp"
#include "app/model/AppModel.hpp"
#include "core/support/FolderSize.hpp"
#include "core/support/JsonWriter.hpp"

namespace korvel {
namespace {

std::string kindName(CloneStatus::Kind kind)
{
    switch (kind) {
    case CloneStatus::Kind::Ready:
        return "ready";
    case CloneStatus::Kind::Outdated:
        return "outdated";
    case CloneStatus::Kind::Damaged:
        return "damaged";
    case CloneStatus::Kind::SourceMissing:
        return "sourceMissing";
    case CloneStatus::Kind::NotBuilt:
        return "notBuilt";
    }
    return "notBuilt";
}

std::string printed(const nlohmann::json& value)
{
    return JsonWriter::format(value) + "\n";
}

std::string counted(int64_t count, const std::string& noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// The interface's words for whether the app runs, or what is being done to it.
std::string state(const AppModel& model, const Profile& profile)
{
    if (const auto busy = model.busy().find(profile.id); busy != model.busy().end())
        return busy->second;
    if (!model.running().contains(profile.id))
        return "Not running";
    return model.activeProfileID() == profile.id ? "Running · Active" : "Running";
}

nlohmann::json listEntry(const AppModel& model, const Profile& profile, const CloneStatus& status, size_t position)
{
    const auto busy = model.busy().find(profile.id);
    const auto pending = model.pendingAfterRestart().find(profile.id);
    return {{"position", position}, {"id", profile.id.toString()}, {"name", profile.name},
        {"color", profile.color.rawValue()}, {"status", ProfileReport::statusJson(status)},
        {"running", model.running().contains(profile.id)}, {"active", model.activeProfileID() == profile.id},
        {"busy", busy == model.busy().end() ? nlohmann::json(nullptr) : nlohmann::json(busy->second)},
        {"app", model.paths().appURL(profile).string()},
        {"pendingAfterRestart",
            pending == model.pendingAfterRestart().end()
                ? nlohmann::json(nullptr)
                : nlohmann::json {{"sessions", pending->second.sessions}, {"pins", pending->second.pins}}}};
}

std::string syncText(const ProfileReport::Synced& synced)
{
    std::vector<std::string> parts;
    if (synced.sessions > 0)
        parts.push_back(counted(synced.sessions, "session"));
    if (synced.pins > 0)
        parts.push_back(counted(synced.pins, "pin"));
    if (synced.pinsWaiting > 0)
        parts.push_back(counted(synced.pinsWaiting, "pin") + " waiting");
    if (synced.mcpServers > 0)
        parts.push_back(counted(synced.mcpServers, "MCP server"));
    if (synced.mcpServersWaiting > 0)
        parts.push_back(counted(synced.mcpServersWaiting, "MCP server") + " waiting");
    if (parts.empty())
        return "nothing new";
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ", ") + part;
    if (synced.running)
        text += " — shows after a restart of " + synced.profile.appDisplayName();
    return text;
}

} // namespace

nlohmann::json ProfileReport::statusJson(const CloneStatus& status)
{
    nlohmann::json json {
        {"kind", kindName(status.kind())}, {"summary", status.summary()}, {"needsBuild", status.needsBuild()}};
    switch (status.kind()) {
    case CloneStatus::Kind::Ready:
        json["version"] = status.version();
        break;
    case CloneStatus::Kind::Outdated:
        json["installed"] = status.installed();
        json["available"] = status.available();
        break;
    case CloneStatus::Kind::Damaged:
        json["reason"] = status.reason();
        break;
    default:
        break;
    }
    return json;
}

std::string ProfileReport::list(const AppModel& model, const std::vector<std::pair<Profile, CloneStatus>>& profiles,
    bool json, const std::map<Uuid, std::uintmax_t>& sizes)
{
    const auto size = [&](const Profile& profile) {
        const auto found = sizes.find(profile.id);
        return found != sizes.end() ? std::optional(found->second) : std::nullopt;
    };
    if (json) {
        nlohmann::json entries = nlohmann::json::array();
        for (size_t i = 0; i < profiles.size(); ++i) {
            const auto& [profile, status] = profiles[i];
            entries.push_back(listEntry(model, profile, status, i + 1));
            if (const auto bytes = size(profile))
                entries.back()["dataSize"] = *bytes;
        }
        return printed({{"profiles", entries}});
    }
    if (profiles.empty())
        return "No profiles yet. “korvel create NAME” makes one.\n";
    std::vector<std::vector<std::string>> rows {{"#", "NAME", "COLOR", "STATUS", "APP"}};
    if (!sizes.empty())
        rows.front().push_back("DATA");
    for (size_t i = 0; i < profiles.size(); ++i) {
        const auto& [profile, status] = profiles[i];
        rows.push_back(
            {std::to_string(i + 1), profile.name, profile.color.rawValue(), status.summary(), state(model, profile)});
        if (const auto bytes = size(profile))
            rows.back().push_back(FolderSize::text(*bytes));
    }
    return TextTable::format(rows);
}

std::string ProfileReport::statuses(
    const std::vector<std::pair<Profile, CloneStatus>>& statuses, bool single, bool json)
{
    if (json) {
        nlohmann::json entries = nlohmann::json::array();
        for (const auto& [profile, status] : statuses)
            entries.push_back({{"id", profile.id.toString()}, {"name", profile.name}, {"status", statusJson(status)}});
        return printed({{"profiles", entries}});
    }
    if (single)
        return statuses.front().second.summary() + "\n";
    if (statuses.empty())
        return "No profiles yet.\n";
    std::vector<std::vector<std::string>> rows {{"NAME", "STATUS"}};
    for (const auto& [profile, status] : statuses)
        rows.push_back({profile.name, status.summary()});
    return TextTable::format(rows);
}

std::string ProfileReport::sync(const std::vector<Synced>& profiles, bool json)
{
    if (json) {
        nlohmann::json entries = nlohmann::json::array();
        for (const Synced& synced : profiles) {
            entries.push_back(
                {{"id", synced.profile.id.toString()}, {"name", synced.profile.name}, {"running", synced.running},
                    {"sessions", synced.sessions}, {"pins", synced.pins}, {"pinsWaiting", synced.pinsWaiting},
                    {"mcpServers", synced.mcpServers}, {"mcpServersWaiting", synced.mcpServersWaiting}});
        }
        return printed({{"profiles", entries}});
    }
    if (profiles.empty())
        return "No profiles yet.\n";
    std::vector<std::vector<std::string>> rows;
    for (const Synced& synced : profiles)
        rows.push_back({synced.profile.name, syncText(synced)});
    return TextTable::format(rows);
}

} // namespace korvel
