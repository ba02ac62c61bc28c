#pragma once

#include "core/building/CloneStatus.hpp"
#include "core/model/Profile.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace korvel {

class AppModel;

// What the commands print: aligned text for people, or stable JSON for scripts (`korvel COMMAND --help`
// describes it). Statuses read as the interface shows them.
struct ProfileReport
{
    // What one sync brought into a profile.
    struct Synced
    {
        Profile profile;
        bool running = false;
        int64_t sessions = 0; // copied
        int64_t pins = 0; // merged
        int64_t pinsWaiting = 0; // waiting for the running app to quit
        int64_t mcpServers = 0; // added
        int64_t mcpServersWaiting = 0; // waiting for the running app to quit
    };

    // The profiles in order with their status as checked on disk; `model` tells what runs and is busy. `sizes`: the
    // bytes in each profile's data folder, when asked for (else empty).
    static std::string list(const AppModel& model, const std::vector<std::pair<Profile, CloneStatus>>& profiles,
        bool json, const std::map<Uuid, std::uintmax_t>& sizes = {});
    // `single`: one profile was asked for; its text is the status line alone.
    static std::string statuses(const std::vector<std::pair<Profile, CloneStatus>>& statuses, bool single, bool json);
    static std::string sync(const std::vector<Synced>& profiles, bool json);

    static nlohmann::json statusJson(const CloneStatus& status);
};

} // namespace korvel
