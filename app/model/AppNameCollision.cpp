#include "app/model/AppNameCollision.hpp"

#include "core/support/UnicodeText.hpp"

#include <algorithm>

namespace korvel {

bool AppNameCollision::sameAppName(const Profile& a, const Profile& b)
{
    return UnicodeText::toUpper(a.appDisplayName()) == UnicodeText::toUpper(b.appDisplayName());
}

std::optional<Profile> AppNameCollision::earlierOwner(const std::vector<Profile>& profiles, const Profile& profile)
{
    const auto self = std::find_if(
        profiles.begin(), profiles.end(), [&profile](const Profile& entry) { return entry.id == profile.id; });
    const auto owner =
        std::find_if(profiles.begin(), self, [&profile](const Profile& entry) { return sameAppName(entry, profile); });
    if (self == profiles.end() || owner == self)
        return std::nullopt;
    return *owner;
}

} // namespace korvel
