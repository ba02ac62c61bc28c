#pragma once

#include "core/model/Profile.hpp"

#include <optional>
#include <vector>

namespace korvel {

// Two profiles whose app names differ only in letter case share one app on a case-insensitive file system,
// and on any file system when the names are equal: each build replaces the other's app.
namespace AppNameCollision {

// True when the two app names are the same, ignoring letter case.
bool sameAppName(const Profile& a, const Profile& b);

// The first profile before `profile` in `profiles` whose app name is the same; nothing when there is none
// or `profile` is not in the list. The earlier profile keeps the app; the later one is not built.
std::optional<Profile> earlierOwner(const std::vector<Profile>& profiles, const Profile& profile);

} // namespace AppNameCollision
} // namespace korvel
