#include "core/model/Profile.hpp"

#include "core/support/UnicodeText.hpp"

#include <algorithm>

namespace korvel {

std::string Profile::bundleIdentifier() const
{
    return std::string(bundleIdentifierPrefix) + id.lowerString();
}

std::string Profile::safeName() const
{
    std::string safe = UnicodeText::replaceAll(name, "/", "-");
    safe = UnicodeText::replaceAll(std::move(safe), ":", "-");
    safe = UnicodeText::trim(safe, [](char32_t c) { return c == U'.' || UnicodeText::isWhiteSpace(c); });
    return safe.empty() ? std::string("Profile") : safe;
}

std::string Profile::appDisplayName() const
{
    return "Claude " + safeName();
}

std::string Profile::letter() const
{
    const std::string cluster = UnicodeText::firstLetterOrNumberCluster(UnicodeText::trimWhiteSpace(name));
    return cluster.empty() ? std::string("?") : UnicodeText::toUpper(cluster);
}

std::optional<Uuid> Profile::profileIDFromBundleIdentifier(std::string_view bundleIdentifier)
{
    if (!bundleIdentifier.starts_with(bundleIdentifierPrefix))
        return std::nullopt;
    return Uuid::parse(bundleIdentifier.substr(bundleIdentifierPrefix.size()));
}

ProfileColor Profile::firstUnusedColor(const std::vector<Profile>& profiles)
{
    for (const ProfileColor color : ProfileColor::allCases()) {
        if (std::none_of(
                profiles.begin(), profiles.end(), [color](const Profile& profile) { return profile.color == color; }))
            return color;
    }
    return ProfileColor::Blue;
}

} // namespace korvel

size_t std::hash<korvel::Profile>::operator()(const korvel::Profile& profile) const noexcept
{
    size_t h = std::hash<korvel::Uuid>()(profile.id);
    const auto mix = [&h](size_t value) { h ^= value + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2); };
    mix(std::hash<std::string>()(profile.name));
    mix(std::hash<std::string>()(profile.color.rawValue()));
    mix(std::hash<double>()(profile.createdAt.secondsSince1970));
    return h;
}
