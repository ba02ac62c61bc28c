#pragma once

#include "core/building/CloneBuilder.hpp"

#include <chrono>
#include <string>
#include <vector>

namespace korvel::bench {

inline double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct StatusTiming
{
    double milliseconds = 0; // one health check of every profile, in all
    int ready = 0;
};

// Builds `profiles` profile apps, checks each once to warm the caches, then times one more check of each.
inline StatusTiming timeStatusChecks(const CloneBuilder& builder, int profiles)
{
    std::vector<Profile> built;
    for (int i = 0; i < profiles; ++i) {
        built.push_back(Profile {Uuid::random(), "P" + std::to_string(i), ProfileColor::Green, Timestamp::now()});
        builder.build(built.back());
    }
    for (const Profile& profile : built)
        builder.status(profile);
    StatusTiming timing;
    const auto start = std::chrono::steady_clock::now();
    for (const Profile& profile : built)
        timing.ready += builder.status(profile).kind() == CloneStatus::Kind::Ready;
    timing.milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return timing;
}

} // namespace korvel::bench
